// `tarvex-cli test` and `run --strict` on a first task as a newcomer makes it: the new-task
// defaults (whose content rule matches nothing on a real site) over the loopback site
// tests/data/sites/first-task.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/forms/list_settings_form.h"
#include "app/tasks/settings_document.h"
#include "collect/task_db.h"
#include "support/article_site.h"
#include "support/cli_process.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using Json = nlohmann::ordered_json;

namespace {

std::string siteFolder() {
    return std::string(TARVEX_TEST_DATA_DIR) + "/sites/first-task";
}

// A new task's document with a list page, its area and `linkPattern`.
std::string firstTask(const std::string& listUrl, const std::string& linkPattern = {}) {
    auto doc = *app::ParseSettings(app::NewTaskDocument());
    app::ListSettingsForm list;
    list.sources = {listUrl};
    list.begin = "<ul class=\"news\">";
    list.end = "</ul>";
    list.linkPattern = linkPattern;
    doc["Morepage"] = list.toJson();
    return app::DumpJson(doc);
}

std::string cliIn(const test::SandboxWorkspace& ws, const std::string& args) {
    return "--workspace " + ws.folder() + " " + args;
}

}  // namespace

TEST(CliRuleTest, DefaultContentRuleIsReportedEmptyWithItsReasonAndNothingIsStored) {
    test::LocalHttpServer server(siteFolder());
    test::SandboxWorkspace ws;
    const auto id = test::addCollectTask(ws, "第一个任务", firstTask(server.url("/list.html")));

    auto shown = test::runCli(cliIn(ws, "test " + std::to_string(id)));
    EXPECT_EQ(shown.status, 3) << shown.out;
    EXPECT_NE(shown.out.find("列表测试：" + server.url("/list.html")), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("注意：未指定链接规则，将自动提取区域中的所有链接"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("1. " + server.url("/a/1.html")), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("2. " + server.url("/a/2.html")), std::string::npos) << shown.out;
    EXPECT_EQ(shown.out.find("/about.html"), std::string::npos) << "outside the list area: " << shown.out;
    EXPECT_NE(shown.out.find("内容页测试：" + server.url("/a/1.html")), std::string::npos) << shown.out;
    // The title went through the new task's white-space step.
    EXPECT_NE(shown.out.find("字段[标题]：第一篇新闻\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("字段[内容]为空：前边字符在页面中没有找到"), std::string::npos) << shown.out;
    EXPECT_EQ(collect::query(ws.workspace().taskDbPath(id), "select count(*) from content").rows[0][0].asText(), "0");

    auto json = test::runCli(cliIn(ws, "test " + std::to_string(id) + " --json --url " + server.url("/a/2.html")));
    EXPECT_EQ(json.status, 3) << json.out;
    const auto report = Json::parse(json.out.substr(0, json.out.rfind('}') + 1));
    EXPECT_EQ(report["content"]["address"], server.url("/a/2.html"));
    ASSERT_EQ(report["content"]["fields"].size(), 2u) << json.out;
    EXPECT_EQ(report["content"]["fields"][0]["value"], "第二篇新闻");
    EXPECT_EQ(report["content"]["fields"][1]["empty"], true);
    EXPECT_EQ(report["content"]["fields"][1]["reason"], "前边字符在页面中没有找到");
    EXPECT_EQ(report["list"]["links"].size(), 2u);
}

TEST(CliRuleTest, LinkPatternWithoutAddressMarkerIsWarned) {
    test::LocalHttpServer server(siteFolder());
    test::SandboxWorkspace ws;
    const auto id = test::addCollectTask(ws, "任务", firstTask(server.url("/list.html"), "<a href=\"(*)\">"));
    auto shown = test::runCli(cliIn(ws, "test " + std::to_string(id)));
    EXPECT_NE(shown.out.find("链接规则中没有{DD:采集网址}"), std::string::npos) << shown.out;
}

TEST(CliRuleTest, ListFieldsOfTheLinkPatternAreShownWithTheLinks) {
    test::LocalHttpServer server(siteFolder());
    test::SandboxWorkspace ws;
    const auto id = test::addCollectTask(
        ws, "任务", firstTask(server.url("/list.html"), "<a href=\"{DD:采集网址}\" title=\"{DD:字段=列表标题}\">"));
    auto shown = test::runCli(cliIn(ws, "test " + std::to_string(id)));
    EXPECT_NE(shown.out.find("1. " + server.url("/a/1.html") + "  {列表标题}=第一篇新闻"), std::string::npos)
        << shown.out;
    EXPECT_EQ(shown.out.find("注意："), std::string::npos) << shown.out;
}

TEST(CliRuleTest, RunFlagsAFieldEmptyInEveryStoredRowAndStrictExitsThree) {
    test::LocalHttpServer server(siteFolder());
    test::SandboxWorkspace ws;
    const auto id = test::addCollectTask(ws, "第一个任务", firstTask(server.url("/list.html")));
    const std::string args = cliIn(ws, "run " + std::to_string(id) + " --stages list,content");

    auto plain = test::runCli(args);
    EXPECT_EQ(plain.status, 0) << plain.out;
    EXPECT_NE(plain.out.find("字段[内容]在本次采集中全部为空，规则可能已失效"), std::string::npos) << plain.out;
    EXPECT_EQ(plain.out.find("字段[标题]在本次采集中"), std::string::npos) << plain.out;

    // Queued again, the rows give the second run something to store.
    collect::execScript(ws.workspace().taskDbPath(id), "update content set getc=0");
    auto strict = test::runCli(args + " --strict");
    EXPECT_EQ(strict.status, 3) << strict.out;
    EXPECT_NE(strict.out.find("tarvex-cli: 字段[内容]在本次采集中几乎全部为空"), std::string::npos) << strict.out;
}

// tarvex-cli collect-one, publish-one and module test, run as processes against loopback
// servers: the fields of one article in order (lines or JSON) with nothing stored, a fetch error
// as a failure, one record published from name=value lines or JSON, and the module editor's
// test publication from the command line.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "collect/task_db.h"
#include "publish/publish_module.h"
#include "support/article_site.h"
#include "support/cli_process.h"
#include "support/local_http_server.h"
#include "support/publish_receiver.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;

namespace {
struct SinglePageCli : ::testing::Test {
    test::SandboxWorkspace sandbox;
    test::LocalHttpServer server{test::articleSiteFolder()};
    std::string ws = " --workspace " + test::shellQuote(sandbox.folder()) + " ";
    std::int64_t taskId = 0;
    void SetUp() override {
        taskId = test::addCollectTask(sandbox, "文章", test::articleSiteSettings({server.url("/list/index.html")}));
    }
    std::string id() const { return std::to_string(taskId); }
};
}  // namespace

TEST_F(SinglePageCli, CollectOnePrintsTheFieldsInOrderAndStoresNothing) {
    auto r = test::runCli("collect-one" + ws + id() + " " + test::shellQuote(server.url("/a/1.html")));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.rfind("{采集字段:标题}：第一篇文章\n{采集字段:正文}：", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\n{采集字段:作者}：张三\n"), std::string::npos);
    EXPECT_LT(r.out.find("{采集字段:评论}"), r.out.find("{采集字段:来源}"));

    r = test::runCli("collect-one" + ws + id() + " " + test::shellQuote(server.url("/a/1.html")) + " --json");
    ASSERT_EQ(r.status, 0) << r.out;
    auto doc = nlohmann::ordered_json::parse(r.out);
    EXPECT_EQ(doc.begin().key(), "标题");
    EXPECT_EQ(doc["作者"], "张三");
    EXPECT_EQ(doc.size(), 7u);
    const std::string db = sandbox.workspace().taskDbPath(taskId);
    EXPECT_EQ(collect::query(db, "select count(*) as n from content").text(0, "n"), "0");
}

TEST_F(SinglePageCli, CollectOneWithASettingsFileAndItsErrors) {
    // A settings file replaces the task's rules: one field only.
    nlohmann::ordered_json field{{"title", "作者"},
                                 {"radio_1", "-1"},
                                 {"radio_2", "0"},
                                 {"radio_3", "0"},
                                 {"radio_1_content", {"<span class=\"author\">", "</span>"}}};
    nlohmann::ordered_json doc{{"fieldsAll", {field.dump()}}};
    sandbox.writeFile("one.json", doc.dump());
    auto r = test::runCli("collect-one" + ws + id() + " " + test::shellQuote(server.url("/a/1.html")) + " --settings " +
                          test::shellQuote(sandbox.path("one.json")));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "{采集字段:作者}：张三\n");

    server.on("/gone.html", test::Reply::withStatus(404));
    r = test::runCli("collect-one" + ws + id() + " " + test::shellQuote(server.url("/gone.html")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("抓取网页:" + server.url("/gone.html") + ",返回错误："), std::string::npos) << r.out;
    EXPECT_EQ(test::runCli("collect-one" + ws + "999 http://127.0.0.1/").status, 1);
    EXPECT_EQ(test::runCli("collect-one" + ws + id()).status, 2);
}

TEST_F(SinglePageCli, PublishOneSendsOneRecordFromLinesOrJson) {
    test::PublishReceiver site;
    site.answer("AddInfo", test::PublishReceiver::success());
    const auto w = sandbox.workspace();
    ASSERT_TRUE(
        publish::SaveModule(publish::ModulePath(w.publishFolder, "site"), site.url(), true,
                            {{"title", "{采集字段:标题}"}, {"body", "{采集字段:正文}"}, {"from", "{dd:网址}"}}));
    // The task publishes with "site" and needs no column.
    nlohmann::ordered_json settings = nlohmann::ordered_json::parse(test::articleSiteSettings({server.url("/")}));
    settings["PostRuleName"] = "site";
    settings["other_check_classid"] = "-1";
    sandbox.writeFile("task.json", settings.dump());
    const std::string withSettings = " --settings " + test::shellQuote(sandbox.path("task.json"));

    sandbox.writeFile("values.txt", "标题=题一\n正文=一<临时换行替换换行><临时换行2替换换行2>二\n");
    auto r = test::runCli("publish-one" + ws + id() + " --values " + test::shellQuote(sandbox.path("values.txt")) +
                          " --url http://source/1.html" + withSettings);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("发布成功"), std::string::npos) << r.out;
    auto post = site.posts("AddInfo").at(0);
    EXPECT_EQ(post.field("title"), "题一");
    EXPECT_EQ(post.field("body"), "一\r\n二");
    EXPECT_EQ(post.field("from"), "http://source/1.html");

    sandbox.writeFile("values.json", R"({"标题": "题二", "正文": "x"})");
    site.answer("AddInfo", test::Reply::html("fail|no"));
    r = test::runCli("publish-one" + ws + id() + " --values " + test::shellQuote(sandbox.path("values.json")) +
                     withSettings);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(site.posts("AddInfo").at(1).field("title"), "题二");

    // The task's own settings choose no column and no module: the window's checks refuse.
    r = test::runCli("publish-one" + ws + id() + " --values " + test::shellQuote(sandbox.path("values.json")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("手动发布模式,左边任务区域需指定栏目"), std::string::npos) << r.out;
    settings.erase("PostRuleName");
    sandbox.writeFile("task.json", settings.dump());
    r = test::runCli("publish-one" + ws + id() + " --values " + test::shellQuote(sandbox.path("values.json")) +
                     withSettings);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("发布规则没有设置！"), std::string::npos) << r.out;
    EXPECT_EQ(site.count("AddInfo"), 2u);
}

TEST(ModuleTestCli, SendsTheTestPublicationAndSaysHowItWent) {
    test::SandboxWorkspace sandbox;
    test::PublishReceiver site;
    const std::string ws = " --workspace " + test::shellQuote(sandbox.folder()) + " ";
    ASSERT_TRUE(publish::SaveModule(publish::ModulePath(sandbox.workspace().publishFolder, "cms"), site.url(), true,
                                    {{"title", "测试"}, {"jsuccess", "DONE"}, {"cookie", "sid=7"}}));
    site.answer("AddInfo", test::Reply::html("DONE"));
    auto r = test::runCli("module" + ws + "test cms");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "发布成功\n");
    EXPECT_EQ(site.posts("AddInfo").at(0).header("Cookie"), "sid=7");

    site.answer("AddInfo", test::Reply::html("succ|"));
    r = test::runCli("module" + ws + "test cms");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "发布异常，返回:\nsucc|\n");
    EXPECT_EQ(test::runCli("module" + ws + "test absent").status, 1);
}

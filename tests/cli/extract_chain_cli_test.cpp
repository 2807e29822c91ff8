// tarvex-cli extract runs each field's whole post-processing chain against the workspace it is
// given: word lists and the keyword dictionary under Plugin/, and "访问网页" over HTTP.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/sqlite_db.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"

namespace tarvex {
namespace {

using Json = nlohmann::ordered_json;

std::string strip(Json rule) {
    return rule.dump();
}

Json field(const std::string& title) {
    Json f = Json::object();
    f["title"] = title;
    return f;
}

TEST(ExtractChainCli, RunsTheWholeChainInTheWorkspace) {
    test::SandboxWorkspace ws;
    ws.writeFile("Plugin/samekey/同义.txt", "美丽,漂亮\n");
    ws.makeDir("Plugin/dict");
    {
        platform::SqliteConnection db(ws.path("Plugin/dict/dict.jdb"));
        db.exec("create table dict (keys text); insert into dict values ('花园'); insert into dict values ('漂亮')");
    }
    test::LocalHttpServer server;
    server.on("/remote", test::Reply::html("远程内容"));

    Json body = field("正文");
    body["radio_1"] = "-1";
    body["radio_1_content"] = {"<b>", "</b>"};
    body["txt_strips"] = {strip({{"type", "同义词替换"}, {"rep1", "同义"}, {"rep2", "0"}})};
    Json tags = field("标签");
    tags["radio_1"] = "-1";
    tags["radio_1_content"] = {"<b>", "</b>"};
    tags["txt_strips"] = {strip({{"type", "同义词替换"}, {"rep1", "同义"}, {"rep2", "0"}}),
                          strip({{"type", "关键词分词"}, {"rep1", ","}, {"rep2", "5"}})};
    Json remote = field("远程");
    remote["radio_1"] = "0";
    remote["radio_3"] = "-1";
    remote["radio_3_content_Radio1"] = "-1";
    remote["radio_3_content_richtext1"] = server.url("/remote");
    remote["txt_strips"] = {strip({{"type", "访问网页"}})};
    Json settings = Json::object();
    settings["fieldsAll"] = {body.dump(), tags.dump(), remote.dump()};
    ws.writeFile("settings.json", settings.dump());
    ws.writeFile("page.html", "<html><b>美丽的花园</b></html>");

    std::string cmd = std::string(TARVEX_BIN_DIR) + "/tarvex-cli --workspace " + ws.folder() + " extract --settings " +
                      ws.path("settings.json") + " --page " + ws.path("page.html") + " 2>/dev/null";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_TRUE(p);
    std::string out;
    std::array<char, 4096> buf{};
    for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), p)) > 0;) out.append(buf.data(), n);
    int status = ::pclose(p);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << out;
    Json record = Json::parse(out, nullptr, false);
    ASSERT_FALSE(record.is_discarded()) << out;
    EXPECT_EQ(record["正文"], "漂亮的花园");
    EXPECT_EQ(record["标签"], "花园,漂亮");
    EXPECT_EQ(record["远程"], "远程内容");
    EXPECT_EQ(server.requestsTo("/remote").size(), 1u);
}

}  // namespace
}  // namespace tarvex

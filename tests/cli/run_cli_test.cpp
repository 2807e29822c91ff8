// tarvex-cli run: a task run without a display, end to end through the built binary.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/tasks/catalogue.h"
#include "app/tasks/stored_rules.h"
#include "collect/task_db.h"
#include "platform/sqlite_db.h"
#include "publish/publish_module.h"
#include "support/cli_process.h"
#include "support/fakes.h"
#include "support/publish_receiver.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;

namespace {
using test::CliResult;
using test::runCli;

std::int64_t addTask(const test::SandboxWorkspace& ws, const std::string& name, const std::string& settings) {
    auto w = ws.workspace();
    std::int64_t id = app::InsertTaskRow(w, 0, name, app::StoreRules(settings));
    test::ScriptedDialogs d;
    EXPECT_TRUE(collect::CreateTaskDb(w.taskDbPath(id), d));
    collect::CreateContentTables(w.taskDbPath(id), settings);
    return id;
}
}  // namespace

TEST(CliRun, DirectListRunFillsTheDatabaseAndASecondRunAddsNothing) {
    test::SandboxWorkspace ws({.withLog = true});
    nlohmann::json list{{"More_urls", {"列表合成=http://127.0.0.1:9/a/{参数}.html[,]1,25,1"}}};
    nlohmann::json doc{{"Morepage", list.dump()}, {"other_time1", "0"}, {"other_time2", "0"}};
    auto id = addTask(ws, "命令行任务", doc.dump());
    auto first = runCli("--workspace " + ws.folder() + " run " + std::to_string(id) + " --stages list");
    EXPECT_EQ(first.status, 0) << first.out;
    EXPECT_NE(first.out.find("需要采集的列表网址总共25个,前5个网址如下："), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("任务已完成"), std::string::npos);
    EXPECT_NE(first.out.find("停止运行"), std::string::npos);
    auto path = ws.workspace().taskDbPath(id);
    EXPECT_EQ(collect::query(path, "select count(*) as n from content where geturl=1").text(0, "n"), "25");

    auto second = runCli("--workspace " + ws.folder() + " run " + std::to_string(id) + " --stages list");
    EXPECT_EQ(second.status, 0) << second.out;
    EXPECT_EQ(collect::query(path, "select count(*) as n from content").text(0, "n"), "25");
    EXPECT_NE(second.out.find("成功采集网址数0"), std::string::npos) << second.out;
}

TEST(CliRun, UnknownTaskOrBadArgumentsFail) {
    test::SandboxWorkspace ws;
    EXPECT_NE(runCli("--workspace " + ws.folder() + " run 4242").status, 0);
    EXPECT_NE(runCli("--workspace " + ws.folder() + " run abc").status, 0);
    auto bad = runCli("--workspace " + ws.folder() + " run 1 --stages list,nothing");
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.out.find("unknown stage"), std::string::npos);

    // A task whose stored settings are not a stored document cannot run.
    auto w = ws.workspace();
    auto id = app::InsertTaskRow(w, 0, "坏", "not a stored document");
    auto r = runCli("--workspace " + ws.folder() + " run " + std::to_string(id));
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("cannot be read"), std::string::npos);
}

// What keeps a task from running is said as it is: a catalogue that cannot be read gives the
// database's error, not "does not exist"; settings cut short are unreadable, not empty.
TEST(CliRun, ACorruptCatalogueOrSettingsCutShortAreReportedAsSuch) {
    test::SandboxWorkspace ws;
    auto id = addTask(ws, "任务", R"({"other_time1":"0"})");
    auto w = ws.workspace();
    {
        platform::SqliteConnection db(w.configDb);
        auto rules = platform::queryAll(db, "select rules from vorn_task").text(0, "rules");
        platform::SqliteStatement st(db, "update vorn_task set rules=?");
        st.bind(1, rules.substr(0, rules.size() - 3)).run();
    }
    auto cut = runCli("--workspace " + ws.folder() + " run " + std::to_string(id));
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.out.find("its stored settings are damaged or cut short"), std::string::npos) << cut.out;

    ws.writeFile("config/config.db3", std::string(4096, 'x'));
    auto corrupt = runCli("--workspace " + ws.folder() + " run " + std::to_string(id));
    EXPECT_EQ(corrupt.status, 1);
    EXPECT_NE(corrupt.out.find("file is not a database"), std::string::npos) << corrupt.out;
    EXPECT_EQ(corrupt.out.find("does not exist"), std::string::npos) << corrupt.out;
}

// A list section stored nested far too deep (written before documents were checked) must not
// bring the run down: it reads as no list settings.
TEST(CliRun, ADeeplyNestedStoredSectionDoesNotCrashTheRun) {
    test::SandboxWorkspace ws;
    const std::string deep = std::string(300000, '[') + std::string(300000, ']');
    nlohmann::json doc{{"Morepage", "{\"More_urls\":" + deep + "}"}, {"other_time1", "0"}};
    auto id = addTask(ws, "深", doc.dump());
    auto r = runCli("--workspace " + ws.folder() + " run " + std::to_string(id) + " --stages list");
    EXPECT_GE(r.status, 0) << r.out;  // exited, not killed by a signal
    EXPECT_NE(r.out.find("停止运行"), std::string::npos) << r.out;
}

TEST(CliRun, APublishStageThatPublishedNothingBecauseEveryRecordFailedExitsNonZero) {
    test::PublishReceiver site;
    site.answer("AddInfo", test::Reply::html("数据库错误"));
    struct Case {
        std::string address;  // the module's interface address
        int status;
        bool reported;
    };
    const Case cases[] = {
        {"http://127.0.0.1:9/tarvex.php", 1, true},  // nothing listens there
        {site.url(), 1, true},                       // answers without the success text
        {"", 0, false},                              // a working interface: the receiver's success
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        test::SandboxWorkspace ws({.withLog = true});
        nlohmann::json doc{{"PostRuleName", "站点"}, {"other_time3", "1"}};
        auto id = addTask(ws, "发布", doc.dump());
        std::string address = c.address;
        test::PublishReceiver working;
        if (address.empty()) address = working.url();
        ASSERT_TRUE(publish::SaveModule(publish::ModulePath(ws.path("发布规则"), "站点"), address, true,
                                        {{"title", "{dd:网址}"}}));
        const auto db = ws.workspace().taskDbPath(id);
        collect::execScript(db, "insert into content(url,geturl,getc) values ('http://h/1',1,1),('http://h/2',1,1)");

        auto run = runCli("--workspace " + ws.folder() + " run " + std::to_string(id) + " --stages publish");
        EXPECT_EQ(run.status, c.status) << run.out;
        EXPECT_EQ(run.out.find("内容发布没有成功发布任何内容，2条发布失败") != std::string::npos, c.reported)
            << run.out;
        EXPECT_EQ(collect::query(db, "select count(*) as n from content where postc=1").text(0, "n"),
                  c.status == 0 ? "2" : "0");
    }
}

TEST(CliRun, ARecordWhoseAttachmentDidNotReachTheSiteMakesTheRunFail) {
    test::PublishReceiver site;
    site.script("upsingle", {test::Reply::html("fail|disk full")});
    test::SandboxWorkspace ws({.withLog = true});
    nlohmann::json doc{{"PostRuleName", "站点"},
                       {"other_time3", "1"},
                       {"other_autoupload", "-1"},
                       {"other_UploadSet", nlohmann::json{{"web_check", "-1"}, {"web_check2", "-1"}}.dump()}};
    auto id = addTask(ws, "发布", doc.dump());
    ASSERT_TRUE(publish::SaveModule(publish::ModulePath(ws.path("发布规则"), "站点"), site.url(), true,
                                    {{"title", "{dd:网址}"}}));
    const auto db = ws.workspace().taskDbPath(id);
    ws.writeFile("files/a.jpg", "JPEG");
    collect::execScript(db, "insert into content(url,geturl,getc) values ('http://h/1',1,1),('http://h/2',1,1)");
    collect::execScript(db, collect::sql::InsertDownload(1, "http://h/a.jpg", ws.path("files/a.jpg"), "/up/a.jpg"));

    auto run = runCli("--workspace " + ws.folder() + " run " + std::to_string(id) + " --stages publish");
    // One record went out, the other waits for its file: the run must not look like a success.
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("1条内容的附件未能全部上传"), std::string::npos) << run.out;
    EXPECT_EQ(collect::query(db, "select group_concat(postc) as f from content order by id").text(0, "f"), "0,1");

    // The next run uploads the file and publishes the record.
    run = runCli("--workspace " + ws.folder() + " run " + std::to_string(id) + " --stages publish");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(collect::query(db, "select group_concat(postc) as f from content order by id").text(0, "f"), "1,1");
}

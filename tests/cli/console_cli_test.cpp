// tarvex-cli as a person meets it: errors they can cause say what to do, and long work shows a
// progress line on a terminal and plain lines in a pipe.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/tasks/catalogue.h"
#include "app/tasks/settings_document.h"
#include "app/workspace/startup.h"
#include "platform/instance_lock.h"
#include "platform/sqlite_db.h"
#include "support/cli_process.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;

namespace {

struct ConsoleCli : ::testing::Test {
    test::SandboxWorkspace sandbox;
    app::Workspace ws = sandbox.workspace();
    test::ScriptedDialogs dialogs;
    std::int64_t id = 0;

    void SetUp() override { id = app::CreateTaskWithSettings(ws, dialogs, 0, "任务", app::NewTaskDocument()).value(); }
    void addRows(int n) {
        platform::SqliteConnection db(ws.taskDbPath(id));
        db.exec("begin");
        for (int i = 0; i < n; ++i)
            db.exec("insert into content(url,geturl,getc,标题,内容) values('http://127.0.0.1/a/" + std::to_string(i) +
                    "',1,1,'标题" + std::to_string(i) + "','正文')");
        db.exec("commit");
    }
    std::string cli(const std::string& args) const {
        return "--workspace " + test::shellQuote(sandbox.folder()) + " " + args;
    }
};

TEST_F(ConsoleCli, ErrorsAPersonCanCauseSayWhatToDo) {
    const std::string empty = sandbox.path("empty");
    sandbox.makeDir("empty");
    const auto other = app::CreateTaskWithSettings(ws, dialogs, 0, "无库任务", app::NewTaskDocument()).value();
    std::filesystem::remove(ws.taskDbPath(other));
    struct Case {
        std::string args;
        std::string advice;
    };
    const std::vector<Case> cases = {
        {"frobnicate", "tarvex-cli --help"},
        {cli("run 999"), "tarvex-cli tasks"},
        {cli("run abc"), "tarvex-cli tasks"},
        {cli("rows 999"), "tarvex-cli tasks"},
        {"--workspace " + test::shellQuote(empty) + " tasks", "tarvex-cli --workspace " + empty + "/ init"},
        {cli("rows " + std::to_string(other)), "task create NAME --settings"},
        {cli("export csv " + std::to_string(id) + " --where 'nosuchcolumn=1'"), "the field names"},
        {cli("task set-settings " + std::to_string(id) + " " + test::shellQuote(sandbox.path("missing.json"))),
         "Give the path of a settings file"},
        {"--workspace", "tarvex-cli --workspace DIR COMMAND"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const auto r = test::runCli(c.args + " </dev/null");
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.out.find(c.advice), std::string::npos) << r.out;
    }
}

TEST_F(ConsoleCli, ASecondRunOnTheWorkspaceIsToldToQueueTheTask) {
    platform::InstanceLock held(app::instanceLockPath(ws));
    ASSERT_TRUE(held.acquired());
    const auto r = test::runCli(cli("run " + std::to_string(id)));
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.out.find("该程序正在运行！"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("tarvex-cli queue add"), std::string::npos) << r.out;
}

TEST_F(ConsoleCli, ExportShowsPlainProgressLinesInAPipeAndABarOnATerminal) {
    addRows(1200);
    const std::string csv = sandbox.path("out.csv");
    const auto piped = test::runCli(cli("export csv " + std::to_string(id) + " --out " + test::shellQuote(csv)));
    ASSERT_EQ(piped.status, 0) << piped.out;
    EXPECT_EQ(piped.out.find('\r'), std::string::npos);
    EXPECT_EQ(piped.out.find('\033'), std::string::npos);
    EXPECT_NE(piped.out.find("1000/1200 导出\n"), std::string::npos) << piped.out;
    EXPECT_NE(piped.out.find("1200/1200 导出\n"), std::string::npos) << piped.out;
    EXPECT_NE(piped.out.find("1200 rows"), std::string::npos) << piped.out;

    // script(1) gives the program a terminal.
    const std::string command = std::string(TARVEX_BIN_DIR) + "/tarvex-cli " +
                                cli("export csv " + std::to_string(id) + " --out " + test::shellQuote(csv));
    FILE* p = ::popen(("script -qec " + test::shellQuote(command) + " /dev/null").c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string tty;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) tty.append(buf, n);
    ASSERT_EQ(::pclose(p), 0) << tty;
    EXPECT_NE(tty.find("\r\033[K[##############################] 1200/1200 导出"), std::string::npos) << tty;
    EXPECT_EQ(tty.find("1000/1200 导出\n"), std::string::npos) << "plain lines on a terminal: " << tty;
    EXPECT_NE(tty.find("1200 rows"), std::string::npos) << tty;
}

}  // namespace

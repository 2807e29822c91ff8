#include "app/workspace/startup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/run_log.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
namespace fs = std::filesystem;

namespace {
std::size_t filesIn(const std::string& folder) {
    if (!fs::exists(folder)) return 0;
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}
}  // namespace

TEST(Startup, FixesPathsAndWritesTheStartLineWhenLogExists) {
    test::SandboxWorkspace ws({.withLog = true});
    test::ScriptedDialogs dialogs;
    auto started = app::startProcess(ws.folder(), dialogs);
    ASSERT_EQ(started.status, app::StartStatus::Started);
    const auto& w = started.session->workspace;
    EXPECT_EQ(w.configDb, ws.folder() + "config/config.db3");
    EXPECT_EQ(w.dataFolder, ws.folder() + "data");
    EXPECT_EQ(w.publishFolder, ws.folder() + "发布规则");
    EXPECT_EQ(w.taskDbPath(12), ws.folder() + "data/12.db3");
    EXPECT_TRUE(started.session->logOn);
    app::logStartComplete();
    std::string log = test::readWholeFile(platform::RunLog::global().filePath());
    EXPECT_NE(log.find(", 窗口初始化完成\n"), std::string::npos);
    EXPECT_TRUE(dialogs.shown().empty());

    auto& st = *started.session->state;
    for (int n = 1; n <= 5; ++n) {
        EXPECT_EQ(st.GetSlotField(n, -1), "0,任务名,0,GetSheet" + std::to_string(n) + ",0");
        EXPECT_EQ(st.runningWorkers(n), 0);
        EXPECT_EQ(st.succeededRows(n), 0);
    }
    EXPECT_FALSE(st.closing.load());
    EXPECT_EQ(st.currentTaskId.load(), 0);
    platform::CloseLog();
}

TEST(Startup, SecondCopyOnTheSameWorkspaceIsRefused) {
    test::SandboxWorkspace ws;
    test::ScriptedDialogs first, second;
    auto a = app::startProcess(ws.folder(), first);
    ASSERT_EQ(a.status, app::StartStatus::Started);
    auto b = app::startProcess(ws.folder(), second);
    EXPECT_EQ(b.status, app::StartStatus::AlreadyRunning);
    ASSERT_EQ(second.shown().size(), 1u);
    EXPECT_EQ(second.shown()[0].text, "该程序正在运行！");
    EXPECT_EQ(second.shown()[0].caption, "提示");
    EXPECT_TRUE(first.shown().empty());

    // Another workspace is another program.
    test::SandboxWorkspace other;
    test::ScriptedDialogs third;
    EXPECT_EQ(app::startProcess(other.folder(), third).status, app::StartStatus::Started);

    // Once the first copy ends, a new start succeeds.
    a.session.reset();
    test::ScriptedDialogs fourth;
    EXPECT_EQ(app::startProcess(ws.folder(), fourth).status, app::StartStatus::Started);
}

// When the lock file cannot be made in the program folder (a read-only installation; here a
// folder stands where the file would be), the lock in /tmp still belongs to the folder, not to
// the path text: a start through a symlink is the same program.
TEST(Startup, TheFallbackLockIsTheSameThroughAnyPathToTheFolder) {
    test::SandboxWorkspace ws;
    ws.makeDir(".tarvex.lock");
    const std::string linkFolder = test::makeTempFolder();
    const std::string link = linkFolder + "ws";
    fs::create_directory_symlink(fs::path(ws.folder()).parent_path(), link);
    const app::Workspace direct = app::Workspace::at(ws.folder());
    const app::Workspace viaLink = app::Workspace::at(link + "/");
    EXPECT_EQ(app::instanceLockPath(direct), app::instanceLockPath(viaLink));
    EXPECT_EQ(app::instanceLockPath(direct).rfind("/tmp/tarvex-", 0), 0u) << app::instanceLockPath(direct);
    EXPECT_NE(app::instanceLockPath(direct), app::fallbackLockPath(linkFolder));

    test::ScriptedDialogs first, second, third;
    auto a = app::startProcess(ws.folder(), first);
    ASSERT_EQ(a.status, app::StartStatus::Started);
    EXPECT_EQ(app::startProcess(link + "/", second).status, app::StartStatus::AlreadyRunning);
    EXPECT_EQ(app::startProcess(link + "/./", third).status, app::StartStatus::AlreadyRunning);
    a.session.reset();
    test::removeTree(linkFolder);
}

TEST(Startup, MissingConfigDatabaseEndsWithoutALogFile) {
    test::SandboxWorkspace ws({.withLog = true, .withConfig = false});
    test::ScriptedDialogs dialogs;
    auto started = app::startProcess(ws.folder(), dialogs);
    EXPECT_EQ(started.status, app::StartStatus::ConfigMissing);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, "config配置文件丢失,软件即将退出！");
    EXPECT_EQ(dialogs.shown()[0].caption, "Tarvex采集器");
    EXPECT_EQ(filesIn(ws.path("log")), 0u);
}

TEST(Startup, WithoutLogFolderNothingIsWrittenEvenIfItAppearsLater) {
    test::SandboxWorkspace ws;
    test::ScriptedDialogs dialogs;
    auto started = app::startProcess(ws.folder(), dialogs);
    ASSERT_EQ(started.status, app::StartStatus::Started);
    EXPECT_FALSE(started.session->logOn);
    ws.makeDir("log");
    platform::WriteLog("nothing", 0);
    platform::WriteLog("nothing", 1);
    EXPECT_EQ(filesIn(ws.path("log")), 0u);
}

TEST(Startup, ConfigThatIsNotADatabaseStillStarts) {
    // Start only checks that the file exists; the catalogue reports a broken file when it reads it.
    test::SandboxWorkspace ws({.withConfig = false});
    ws.writeFile("config/config.db3", "garbage, not sqlite");
    test::ScriptedDialogs dialogs;
    EXPECT_EQ(app::startProcess(ws.folder(), dialogs).status, app::StartStatus::Started);
}

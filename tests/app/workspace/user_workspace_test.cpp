#include "app/workspace/user_workspace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "app/tasks/catalogue.h"
#include "app/tasks/settings_document.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
namespace fs = std::filesystem;

namespace {

struct Folders {
    std::string root = test::makeTempFolder("tarvex-userws-");
    ~Folders() { test::removeTree(root); }
    std::string make(const std::string& rel) const {
        fs::create_directories(root + rel);
        return root + rel + "/";
    }
};

}  // namespace

TEST(ChooseWorkspace, GivenThenPortableThenTheUsersDataFolder) {
    Folders f;
    const std::string installed = f.make("usr/bin");
    const std::string portable = f.make("portable");
    test::createConfigDb(f.make("portable/config") + "config.db3");

    struct Case {
        const char* what;
        app::WorkspaceSources sources;
        app::WorkspaceKind kind;
        std::string folder;
    };
    const std::vector<Case> cases = {
        {"--workspace wins over a portable folder",
         {"/srv/ws", portable, "/x", "/home/u"},
         app::WorkspaceKind::Given,
         "/srv/ws/"},
        {"a relative --workspace is taken from the current folder",
         {"rel/./ws", portable, "/x", "/home/u"},
         app::WorkspaceKind::Given,
         fs::current_path().string() + "/rel/ws/"},
        {"portable folder", {"", portable, "/x", "/home/u"}, app::WorkspaceKind::Portable, portable},
        {"XDG_DATA_HOME", {"", installed, "/data/u/", "/home/u"}, app::WorkspaceKind::User, "/data/u/tarvex/"},
        {"HOME when XDG_DATA_HOME is unset",
         {"", installed, "", "/home/u"},
         app::WorkspaceKind::User,
         "/home/u/.local/share/tarvex/"},
        {"a relative XDG_DATA_HOME is ignored",
         {"", installed, "rel/data", "/home/u"},
         app::WorkspaceKind::User,
         "/home/u/.local/share/tarvex/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto choice = app::ChooseWorkspace(c.sources);
        EXPECT_EQ(choice.kind, c.kind);
        EXPECT_EQ(choice.folder, c.folder);
        EXPECT_TRUE(choice.error.empty());
    }
    const auto user = app::ChooseWorkspace({"", installed, "", "/home/u"});
    EXPECT_EQ(fs::path(user.templateFolder).lexically_normal(), fs::path(f.root + "usr/share/tarvex/workspace/"));

    const auto none = app::ChooseWorkspace({"", installed, "", ""});
    EXPECT_TRUE(none.folder.empty());
    EXPECT_NE(none.error.find("--workspace DIR"), std::string::npos) << none.error;
}

TEST(PrepareWorkspace, FirstStartCopiesTheTemplateAndMakesAnEmptyCatalogue) {
    Folders f;
    const std::string tmpl = f.make("share/tarvex/workspace");
    for (const char* sub : {"Plugin/dict", "log", "发布规则"}) fs::create_directories(tmpl + sub);
    std::ofstream(tmpl + "Plugin/dict/dict.jdb") << "";
    std::ofstream(tmpl + "发布规则/wordpress.p") << "module";
    const std::string ws = f.root + "home/.local/share/tarvex/";
    ASSERT_EQ(app::PrepareWorkspace(ws, tmpl), "");

    EXPECT_TRUE(fs::exists(ws + "Plugin/dict/dict.jdb"));
    EXPECT_EQ(test::readWholeFile(ws + "发布规则/wordpress.p"), "module");
    EXPECT_TRUE(fs::is_directory(ws + "data"));
    EXPECT_TRUE(fs::is_directory(ws + "log"));
    // The program starts on it and a task can be created in the new catalogue.
    test::ScriptedDialogs dialogs;
    const auto w = app::Workspace::at(ws);
    EXPECT_TRUE(app::ReadTaskRows(w).empty());
    ASSERT_TRUE(app::CreateTaskWithSettings(w, dialogs, 0, "新任务", app::NewTaskDocument()));
    EXPECT_EQ(app::ReadTaskRows(w).size(), 1u);
    // Nothing of the assembly is left beside it.
    for (const auto& e : fs::directory_iterator(f.root + "home/.local/share")) EXPECT_EQ(e.path().filename(), "tarvex");
}

TEST(PrepareWorkspace, AnExistingWorkspaceKeepsItsTasksAndFiles) {
    Folders f;
    const std::string tmpl = f.make("tmpl/发布规则");
    std::ofstream(tmpl + "wordpress.p") << "template version";
    const std::string ws = f.root + "ws/";
    ASSERT_EQ(app::PrepareWorkspace(ws, f.root + "tmpl"), "");
    test::ScriptedDialogs dialogs;
    ASSERT_TRUE(app::CreateTaskWithSettings(app::Workspace::at(ws), dialogs, 0, "任务", app::NewTaskDocument()));
    std::ofstream(ws + "发布规则/wordpress.p", std::ios::trunc) << "edited by the user";
    ASSERT_EQ(app::PrepareWorkspace(ws, f.root + "tmpl"), "");
    EXPECT_EQ(app::ReadTaskRows(app::Workspace::at(ws)).size(), 1u);
    EXPECT_EQ(test::readWholeFile(ws + "发布规则/wordpress.p"), "edited by the user");

    // A folder the user made empty beforehand is filled in place; a missing template is no error.
    const std::string empty = f.make("empty");
    ASSERT_EQ(app::PrepareWorkspace(empty, f.root + "no-such-template/"), "");
    EXPECT_TRUE(fs::exists(empty + "config/config.db3"));
    EXPECT_TRUE(fs::is_directory(empty + "发布规则"));
}

TEST(PrepareWorkspace, TwoProgramsStartingTogetherShareOneWorkspace) {
    Folders f;
    const std::string tmpl = f.make("tmpl");
    std::ofstream(tmpl + "a.txt") << "a";
    for (int round = 0; round < 20; ++round) {
        const std::string ws = f.root + "round" + std::to_string(round) + "/tarvex/";
        std::string e1 = "x", e2 = "x";
        std::thread t1([&] { e1 = app::PrepareWorkspace(ws, tmpl); });
        std::thread t2([&] { e2 = app::PrepareWorkspace(ws, tmpl); });
        t1.join();
        t2.join();
        EXPECT_EQ(e1, "");
        EXPECT_EQ(e2, "");
        EXPECT_TRUE(app::ReadTaskRows(app::Workspace::at(ws)).empty());
        EXPECT_EQ(test::readWholeFile(ws + "a.txt"), "a");
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(f.root + "round" + std::to_string(round)))
            ++entries;
        EXPECT_EQ(entries, 1u) << "a staging folder was left behind";
    }
}

TEST(PrepareWorkspace, AFileInTheWayIsReportedWithWhatToDo) {
    Folders f;
    std::ofstream(f.root + "blocker") << "";
    for (const std::string& ws : {f.root + "blocker/", f.root + "blocker/tarvex/"}) {
        SCOPED_TRACE(ws);
        const auto error = app::PrepareWorkspace(ws, "");
        EXPECT_NE(error.find("cannot create the workspace"), std::string::npos) << error;
        EXPECT_NE(error.find("--workspace DIR"), std::string::npos) << error;
    }
}

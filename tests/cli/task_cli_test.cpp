// tarvex-cli's catalogue commands, run as a separate process on a sandbox workspace.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "app/tasks/catalogue.h"
#include "app/tasks/settings_document.h"
#include "app/tasks/stored_rules.h"
#include "app/workspace/startup.h"
#include "collect/task_db.h"
#include "platform/instance_lock.h"
#include "platform/sqlite_db.h"
#include "support/cli_process.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;

namespace {

struct Result {
    int code = -1;
    std::string out, err;
};

struct TaskCli : ::testing::Test {
    test::SandboxWorkspace sandbox;
    app::Workspace ws = sandbox.workspace();
    test::ScriptedDialogs dialogs;

    Result run(const std::vector<std::string>& args) {
        std::string cmd = test::shellQuote(std::string(TARVEX_BIN_DIR) + "/tarvex-cli") + " --workspace " +
                          test::shellQuote(sandbox.folder());
        for (const auto& a : args) cmd += " " + test::shellQuote(a);
        const std::string out = sandbox.path("cli.out"), err = sandbox.path("cli.err");
        cmd += " >" + test::shellQuote(out) + " 2>" + test::shellQuote(err) + " </dev/null";
        int status = std::system(cmd.c_str());
        Result r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = test::readWholeFile(out);
        r.err = test::readWholeFile(err);
        return r;
    }
    std::string storedDocument(std::int64_t id) {
        platform::SqliteConnection db(ws.configDb);
        auto rules =
            platform::queryAll(db, "select rules from vorn_task where id=" + std::to_string(id)).text(0, "rules");
        return app::ReadStoredRules(rules).value_or("<unreadable>");
    }
    std::string rawRules(std::int64_t id) {
        platform::SqliteConnection db(ws.configDb);
        return platform::queryAll(db, "select rules from vorn_task where id=" + std::to_string(id)).text(0, "rules");
    }
};

}  // namespace

TEST_F(TaskCli, CreateListShowAndDelete) {
    auto parent = run({"task", "create", "分组 \"A\""});
    ASSERT_EQ(parent.code, 0) << parent.err;
    const std::string parentId = parent.out.substr(0, parent.out.find('\n'));
    auto child = run({"task", "create", "child's", "--parent", parentId});
    ASSERT_EQ(child.code, 0) << child.err;
    const std::string childId = child.out.substr(0, child.out.find('\n'));

    auto tree = run({"tasks"});
    ASSERT_EQ(tree.code, 0) << tree.err;
    EXPECT_EQ(tree.out, "-2  本地任务\n  " + parentId + "  分组 \"A\"\n    " + childId + "  child's\n");

    auto show = run({"task", "show", childId});
    ASSERT_EQ(show.code, 0) << show.err;
    EXPECT_EQ(show.out, app::NewTaskDocument() + "\n");
    EXPECT_TRUE(app::pathExists(ws.taskDbPath(std::stoll(childId))));

    // Deleting asks for confirmation; without --yes nothing happens.
    auto refused = run({"task", "delete", childId});
    EXPECT_NE(refused.code, 0);
    EXPECT_TRUE(app::pathExists(ws.taskDbPath(std::stoll(childId))));
    auto parentFirst = run({"task", "delete", parentId, "--yes"});
    EXPECT_NE(parentFirst.code, 0);
    EXPECT_NE(parentFirst.err.find("为防止误删除，请先删除本任务下的子目录"), std::string::npos) << parentFirst.err;
    ASSERT_EQ(run({"task", "delete", childId, "--yes"}).code, 0);
    EXPECT_FALSE(app::pathExists(ws.taskDbPath(std::stoll(childId))));
    EXPECT_EQ(run({"tasks"}).out, "-2  本地任务\n  " + parentId + "  分组 \"A\"\n");
}

TEST_F(TaskCli, SettingsFromFilesAreStoredAndTheDatabaseFollows) {
    const std::string doc = R"({"fieldsAll":["{\"title\":\"标题\"}","{\"title\":\"作者\"}"],"gettnum":"2"})";
    sandbox.writeFile("in.json", "\xEF\xBB\xBF" + doc + "\n");
    auto created = run({"task", "create", "T", "--settings", sandbox.path("in.json")});
    ASSERT_EQ(created.code, 0) << created.err;
    const auto id = std::stoll(created.out);
    EXPECT_EQ(storedDocument(id), doc);
    EXPECT_EQ(collect::TableColumns(ws.taskDbPath(id), "content", dialogs),
              (std::vector<std::string>{"id", "url", "geturl", "getc", "postc", "标题", "作者"}));

    const std::string next = R"({"fieldsAll":["{\"title\":\"作者\"}","{\"title\":\"来源\"}"],"other_time1":"50"})";
    sandbox.writeFile("next.json", next);
    const std::string before = rawRules(id);
    auto set = run({"task", "set-settings", std::to_string(id), sandbox.path("next.json")});
    ASSERT_EQ(set.code, 0) << set.err;
    EXPECT_NE(rawRules(id), before);
    EXPECT_EQ(run({"task", "show", std::to_string(id)}).out, next + "\n");
    EXPECT_EQ(collect::TableColumns(ws.taskDbPath(id), "content", dialogs).back(), "来源");
}

TEST_F(TaskCli, BadInputGivesClearErrorsAndStoresNothing) {
    auto created = run({"task", "create", "T"});
    ASSERT_EQ(created.code, 0);
    const std::string id = created.out.substr(0, created.out.find('\n'));
    const std::string before = rawRules(std::stoll(id));
    sandbox.writeFile("garbage.json", "this is { not json");
    sandbox.writeFile("fixed.json", R"({"fieldsAll":["{\"title\":\"postc\"}"]})");
    sandbox.makeDir("files");
    sandbox.writeFile("review.json", R"({"fieldsAll":[],"other_check_rengong":"-1"})");

    struct Case {
        std::vector<std::string> args;
        std::string errorPart;
    };
    const std::vector<Case> cases = {
        {{"task", "show", "999"}, "no task with id 999"},
        {{"task", "show", "abc"}, "is not a task id"},
        {{"task", "delete", "999", "--yes"}, "no task with id 999"},
        {{"task", "set-settings", "999", sandbox.path("garbage.json")}, "no task with id 999"},
        {{"task", "set-settings", id, sandbox.path("missing.json")}, "cannot read"},
        {{"task", "set-settings", id, sandbox.path("garbage.json")}, "does not hold a JSON object"},
        {{"task", "set-settings", id, sandbox.path("fixed.json")}, "<postc>"},
        {{"task", "set-settings", id, sandbox.path("review.json")}, "开启人工审核，需添加采集字段“人工审核”"},
        {{"task", "set-settings", id, sandbox.path("files")}, "cannot read"},
        {{"task", "create", "X", "--parent", "999"}, "no task with id 999"},
        {{"task", "create", "X", "--settings", sandbox.path("garbage.json")}, "does not hold a JSON object"},
        {{"task", "create", "X", "--settings", sandbox.path("fixed.json")}, "postc"},
        {{"task", "frobnicate"}, "unknown task command"},
        {{"task", "create", "--help"}, "unknown option \"--help\""},
        {{"task", "create", "--setings", "--parent", "0"}, "unknown option \"--setings\""},
    };
    for (const auto& c : cases) {
        auto r = run(c.args);
        EXPECT_NE(r.code, 0) << c.args[1];
        EXPECT_NE(r.err.find(c.errorPart), std::string::npos) << c.args[1] << ": " << r.err;
    }
    EXPECT_EQ(rawRules(std::stoll(id)), before);
    EXPECT_EQ(run({"tasks"}).out, "-2  本地任务\n  " + id + "  T\n");

    // A stored value that is not cipher text is reported, not printed.
    platform::SqliteConnection(ws.configDb)
        .exec("update vorn_task set rules='" + std::string(30, 'a') + "zz!' where id=" + id);
    auto show = run({"task", "show", id});
    EXPECT_NE(show.code, 0);
    EXPECT_NE(show.err.find("not valid cipher text"), std::string::npos) << show.err;
    EXPECT_NE(run({"tasks"}).out.find("[settings unreadable]"), std::string::npos);
}

// While another program holds the workspace (the desktop program, a run, a scheduler), the
// commands that change the catalogue or delete a database refuse; showing a task still works.
TEST_F(TaskCli, ChangesAreRefusedWhileAnotherProgramHoldsTheWorkspace) {
    auto created = run({"task", "create", "T"});
    ASSERT_EQ(created.code, 0) << created.err;
    const std::string id = created.out.substr(0, created.out.find('\n'));
    const std::string before = rawRules(std::stoll(id));
    sandbox.writeFile("next.json", R"({"fieldsAll":["{\"title\":\"作者\"}"]})");
    {
        platform::InstanceLock held(app::instanceLockPath(ws));
        ASSERT_TRUE(held.acquired());
        for (const auto& args : std::vector<std::vector<std::string>>{
                 {"task", "create", "X"},
                 {"task", "set-settings", id, sandbox.path("next.json")},
                 {"task", "delete", id, "--yes"},
             }) {
            auto r = run(args);
            EXPECT_NE(r.code, 0) << args[1];
            EXPECT_NE(r.err.find("another Tarvex program is using this workspace"), std::string::npos) << r.err;
        }
        EXPECT_EQ(run({"task", "show", id}).code, 0);
        EXPECT_EQ(rawRules(std::stoll(id)), before);
        EXPECT_TRUE(app::pathExists(ws.taskDbPath(std::stoll(id))));
        EXPECT_EQ(app::ReadTaskRows(ws).size(), 1u);
    }
    EXPECT_EQ(run({"task", "set-settings", id, sandbox.path("next.json")}).code, 0);
}

TEST_F(TaskCli, HostileDocumentsAreRefusedAndLeaveNoTaskBehind) {
    auto created = run({"task", "create", "T"});
    ASSERT_EQ(created.code, 0) << created.err;
    const std::string id = created.out.substr(0, created.out.find('\n'));
    const std::string before = rawRules(std::stoll(id));
    std::string nested;
    for (int i = 0; i < 100000; ++i) nested += "{\"a\":";
    nested += "1" + std::string(100000, '}');
    sandbox.writeFile("deep.json", nested);
    sandbox.writeFile("deep-section.json", R"({"fieldsAll":[],"Morepage":")" + std::string(300000, '[') +
                                               std::string(300000, ']') + R"("})");
    sandbox.writeFile("shape.json", R"({"fieldsAll": [1, 2, {"x": []}], "Morepage": 5})");
    sandbox.writeFile("dup.json", R"({"fieldsAll":["{\"title\":\"标题\"}","{\"title\":\"标题\"}"]})");
    sandbox.writeFile("quote.json", R"({"fieldsAll":["{\"title\":\"ti\\\"tle\"}"]})");
    sandbox.writeFile("nul.json", R"({"fieldsAll":["{\"title\":\"a\\u0000b\"}"]})");
    std::string wide = R"({"fieldsAll":[)";
    for (int i = 0; i < 2000; ++i)
        wide += std::string(i ? "," : "") + R"("{\"title\":\"f)" + std::to_string(i) + R"(\"}")";
    sandbox.writeFile("wide.json", wide + "]}");

    struct Case {
        std::string file;
        std::string errorPart;
    };
    const std::vector<Case> cases = {
        {"deep.json", "JSON嵌套超过64层"},      {"deep-section.json", "\"Morepage\"JSON嵌套超过64层"},
        {"shape.json", "\"fieldsAll\"的第1项"}, {"dup.json", "<标题>重复"},
        {"quote.json", "不能包含双引号"},       {"nul.json", "不能包含控制字符"},
        {"wide.json", "too many columns"},
    };
    for (const auto& c : cases) {
        auto set = run({"task", "set-settings", id, sandbox.path(c.file)});
        EXPECT_EQ(set.code, 1) << c.file;
        EXPECT_NE(set.err.find(c.errorPart), std::string::npos) << c.file << ": " << set.err;
        auto create = run({"task", "create", "X", "--settings", sandbox.path(c.file)});
        EXPECT_EQ(create.code, 1) << c.file;
        EXPECT_NE(create.err.find(c.errorPart), std::string::npos) << c.file << ": " << create.err;
        EXPECT_EQ(create.out, "") << c.file;
    }
    EXPECT_EQ(rawRules(std::stoll(id)), before);
    EXPECT_EQ(run({"tasks"}).out, "-2  本地任务\n  " + id + "  T\n");
    EXPECT_EQ(collect::TableColumns(ws.taskDbPath(std::stoll(id)), "content", dialogs).size(), 7u);
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ws.dataFolder)) files += entry.is_regular_file();
    EXPECT_EQ(files, 1u);
}

// Stored settings whose cipher text was cut short are reported like any other unreadable text.
TEST_F(TaskCli, SettingsCutShortAreReportedAsUnreadable) {
    auto created = run({"task", "create", "T"});
    ASSERT_EQ(created.code, 0) << created.err;
    const std::string id = created.out.substr(0, created.out.find('\n'));
    const std::string whole = rawRules(std::stoll(id));
    // Cut inside a block and at a block boundary.
    for (std::size_t cut : {std::size_t{5}, std::size_t{16}, std::size_t{32}}) {
        platform::SqliteConnection(ws.configDb)
            .exec("update vorn_task set rules='" + whole.substr(0, whole.size() - cut) + "' where id=" + id);
        auto show = run({"task", "show", id});
        EXPECT_NE(show.code, 0) << cut;
        EXPECT_NE(show.err.find("not valid cipher text"), std::string::npos) << show.err;
        EXPECT_EQ(show.out, "") << cut;
        EXPECT_NE(run({"tasks"}).out.find("[settings unreadable]"), std::string::npos) << cut;
    }
}

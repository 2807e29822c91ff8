// The task catalogue against a sandbox workspace: the tree built from vorn_task, the commands
// with their refusals, the stored form of the settings, and the bulk state commands on a
// task's content database.
#include "app/tasks/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/tasks/field_list.h"
#include "app/tasks/rules_file.h"
#include "app/tasks/settings_document.h"
#include "app/tasks/stored_rules.h"
#include "collect/task_db.h"
#include "platform/sqlite_db.h"
#include "publish/text_cipher.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using platform::SqliteConnection;

namespace {

struct CatalogueTest : ::testing::Test {
    test::SandboxWorkspace sandbox;
    app::Workspace ws = sandbox.workspace();
    test::ScriptedDialogs dialogs;
    app::MemoryClipboard clipboard;
    std::atomic<std::int64_t> currentId{0};

    std::int64_t addRow(std::int64_t fuid, const std::string& name, const std::string& document = "") {
        return app::InsertTaskRow(ws, fuid, name, document.empty() ? "" : app::StoreRules(document));
    }
    void setRawRules(std::int64_t id, const std::string& rules) {
        SqliteConnection db(ws.configDb);
        platform::SqliteStatement st(db, "update vorn_task set rules=? where id=?");
        st.bind(1, rules).bind(2, id).run();
    }
    std::string rawRules(std::int64_t id) {
        SqliteConnection db(ws.configDb);
        return platform::queryAll(db, "select rules from vorn_task where id=" + std::to_string(id)).text(0, "rules");
    }
    std::string storedDocument(std::int64_t id) { return app::ReadStoredRules(rawRules(id)).value_or("<unreadable>"); }
    std::vector<std::string> names(const app::TaskNode& node) {
        std::vector<std::string> out;
        for (const auto& c : node.children) out.push_back(c.name);
        return out;
    }
    // "新建任务" answered with `name`, under the node `pressed`.
    std::int64_t created(app::Catalogue& cat, const std::string& name, std::optional<std::int64_t> pressed) {
        dialogs.queueAnswer(name);
        return cat.CreateTask(pressed).value();
    }
    std::vector<std::string> contentColumns(std::int64_t id) {
        return collect::TableColumns(ws.taskDbPath(id), "content", dialogs);
    }
    std::string documentWithFields(const std::vector<std::string>& titles, const std::string& extra = "") {
        app::SettingsJson doc = app::SettingsJson::object();
        doc["fieldsAll"] = app::SettingsJson::array();
        for (const auto& t : titles) doc["fieldsAll"].push_back("{\"title\":\"" + t + "\"}");
        if (!extra.empty()) doc["post_morepost"] = extra;
        return app::DumpJson(doc);
    }
};

// Records the pre-filled text of questions, which ScriptedDialogs does not keep.
struct AskRecorder final : platform::Dialogs {
    std::vector<std::string> initials;
    std::optional<std::string> answer;
    void message(const std::string&, const std::string&) override {}
    bool confirm(const std::string&, const std::string&) override { return true; }
    std::optional<std::string> askText(const std::string& title, const std::string& prompt,
                                       const std::string& initial) override {
        initials.push_back(title + "|" + prompt + "|" + initial);
        return answer;
    }
};

}  // namespace

TEST_F(CatalogueTest, StoredRulesCarryTheirKeyInTheirPrefixAndChangeAtEveryWrite) {
    const std::string doc = app::NewTaskDocument();
    const std::string once = app::StoreRules(doc);
    ASSERT_GT(once.size(), 30u);
    for (char c : once.substr(0, 30)) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << once;
    // Characters 5 to 30 of the prefix are the key of the cipher text.
    EXPECT_EQ(once.substr(30), publish::enCryptText(doc, once.substr(4, 26)));
    EXPECT_EQ(app::ReadStoredRules(once), doc);

    const std::string again = app::StoreRules(*app::ReadStoredRules(once));
    EXPECT_NE(again, once);
    EXPECT_EQ(app::ReadStoredRules(again), doc);

    EXPECT_EQ(app::ReadStoredRules(""), "");
    for (const std::string& bad : {std::string("short"), std::string(30, 'A'), std::string(30, 'A') + "XYZ-not-hex"})
        EXPECT_FALSE(app::ReadStoredRules(bad).has_value()) << bad;
}

TEST_F(CatalogueTest, TreeFollowsParentsInTableOrderAndHidesOrphans) {
    auto a = addRow(0, "A");
    auto b = addRow(0, "B");
    auto a1 = addRow(a, "A1");
    addRow(999, "orphan");
    auto a2 = addRow(a, "A2");
    addRow(a1, "A1x");
    // Rows that name each other as parents are unreachable from the root and must not hang.
    SqliteConnection(ws.configDb)
        .exec(
            "insert into vorn_task(id,fuid,name,description,rules) values (500,501,'L1','','');"
            "insert into vorn_task(id,fuid,name,description,rules) values (501,500,'L2','','')");

    auto tree = app::BuildTaskTree(ws, dialogs);
    EXPECT_EQ(tree.root.name, "本地任务");
    EXPECT_EQ(tree.root.taskid, -2);
    EXPECT_EQ(names(tree.root), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(names(*tree.find(a)), (std::vector<std::string>{"A1", "A2"}));
    EXPECT_EQ(names(*tree.find(a1)), (std::vector<std::string>{"A1x"}));
    EXPECT_TRUE(tree.find(b)->children.empty());
    EXPECT_EQ(tree.find(a2)->fuid, a);
    EXPECT_EQ(tree.nodeCount(), 6u);  // root + 5 shown
    EXPECT_EQ(tree.find(500), nullptr);
}

TEST_F(CatalogueTest, UnreadableRulesAreFlaggedAndNotPasted) {
    auto id = addRow(0, "broken", app::NewTaskDocument());
    setRawRules(id, std::string(30, 'k') + "this is not cipher text");
    app::Catalogue cat(ws, dialogs, clipboard, currentId);
    ASSERT_NE(cat.tree().find(id), nullptr);
    EXPECT_FALSE(cat.tree().find(id)->rulesReadable);
    EXPECT_EQ(cat.tree().unreadable, std::vector<std::int64_t>{id});

    ASSERT_TRUE(cat.CopyTask(id));
    EXPECT_FALSE(cat.PasteTask(std::nullopt).has_value());
    EXPECT_EQ(cat.tree().nodeCount(), 2u);
    EXPECT_FALSE(dialogs.messages().empty());
}

TEST_F(CatalogueTest, CreateTaskStoresTheNewTaskDocumentAndMakesItsDatabaseAndFolder) {
    AskRecorder ask;
    ask.answer = "我的任务";
    test::ManualClock clock(test::ManualClock::local(2024, 1, 9, 14, 3, 22));
    auto parent = addRow(0, "parent");
    app::Catalogue cat(ws, ask, clipboard, currentId, clock);

    auto id = cat.CreateTask(parent);
    ASSERT_TRUE(id);
    EXPECT_EQ(ask.initials, std::vector<std::string>{"新建任务|任务名称：|新建任务1403"});
    EXPECT_EQ(cat.tree().find(*id)->fuid, parent);
    EXPECT_EQ(cat.tree().find(*id)->name, "我的任务");
    EXPECT_EQ(cat.tree().find(*id)->settingsJson, app::NewTaskDocument());
    EXPECT_EQ(storedDocument(*id), app::NewTaskDocument());
    EXPECT_EQ(currentId.load(), 0);
    EXPECT_EQ(contentColumns(*id), (std::vector<std::string>{"id", "url", "geturl", "getc", "postc", "标题", "内容"}));
    EXPECT_EQ(collect::TableColumns(ws.taskDbPath(*id), "download", dialogs).size(), 7u);
    EXPECT_TRUE(app::isDirectory(ws.taskFolder(*id)));

    // The root, a node with id 0 and empty space all mean the top level.
    for (std::optional<std::int64_t> pressed :
         {std::optional<std::int64_t>(-2), std::optional<std::int64_t>(0), std::optional<std::int64_t>()}) {
        auto top = cat.CreateTask(pressed);
        ASSERT_TRUE(top);
        EXPECT_EQ(cat.tree().find(*top)->fuid, 0);
    }

    ask.answer.reset();
    const auto before = cat.tree().nodeCount();
    EXPECT_FALSE(cat.CreateTask(std::nullopt));
    EXPECT_EQ(cat.tree().nodeCount(), before);
}

TEST_F(CatalogueTest, NamesWithQuotesAreStoredExactly) {
    app::Catalogue cat(ws, dialogs, clipboard, currentId);
    const std::string name = "He said \"hi\"; it's 'ok'";
    dialogs.queueAnswer(name);
    auto id = cat.CreateTask(std::nullopt);
    ASSERT_TRUE(id);
    EXPECT_EQ(cat.tree().find(*id)->name, name);

    dialogs.queueAnswer(name + "\"); drop table vorn_task; --");
    ASSERT_TRUE(cat.RenameTask(*id));
    EXPECT_EQ(cat.tree().find(*id)->name, name + "\"); drop table vorn_task; --");

    ASSERT_TRUE(cat.CopyTask(*id));
    auto copy = cat.PasteTask(std::nullopt);
    ASSERT_TRUE(copy);
    EXPECT_EQ(cat.tree().find(*copy)->name, name + "\"); drop table vorn_task; --2");
}

TEST_F(CatalogueTest, RenameIgnoresEmptyAndUnchangedNamesAndRefusesTheRoot) {
    auto id = addRow(0, "A");
    app::Catalogue cat(ws, dialogs, clipboard, currentId);
    for (std::optional<std::string> answer :
         {std::optional<std::string>(""), std::optional<std::string>("A"), std::optional<std::string>()}) {
        dialogs.queueAnswer(answer);
        EXPECT_FALSE(cat.RenameTask(id));
        EXPECT_EQ(cat.tree().find(id)->name, "A");
    }
    EXPECT_FALSE(cat.RenameTask(-2));
    EXPECT_TRUE(dialogs.sawMessage("根目录无法执行此操作"));
    EXPECT_FALSE(cat.RenameTask(std::nullopt));
    EXPECT_TRUE(dialogs.sawMessage("请先选定任务，再编辑"));
}

TEST_F(CatalogueTest, PasteTasksThreeTimesMakesNumberedCopiesEachWithItsOwnDatabase) {
    const std::string doc = documentWithFields({"标题", "作者"});
    auto parent = addRow(0, "group");
    auto a = addRow(0, "A", doc);
    app::Catalogue cat(ws, dialogs, clipboard, currentId);
    ASSERT_TRUE(cat.CopyTask(a));
    EXPECT_EQ(clipboard.text(), "Tarvex复制任务|" + std::to_string(a));

    dialogs.queueAnswer(" 3 ");
    auto last = cat.PasteTasks(parent);
    ASSERT_TRUE(last);
    const auto* group = cat.tree().find(parent);
    ASSERT_EQ(names(*group), (std::vector<std::string>{"A-2", "A-3", "A-4"}));
    EXPECT_EQ(*last, group->children.back().taskid);
    std::set<std::string> stored;
    for (const auto& copy : group->children) {
        EXPECT_EQ(copy.settingsJson, doc);
        stored.insert(rawRules(copy.taskid));
        EXPECT_EQ(contentColumns(copy.taskid),
                  (std::vector<std::string>{"id", "url", "geturl", "getc", "postc", "标题", "作者"}));
        EXPECT_TRUE(app::isDirectory(ws.taskFolder(copy.taskid)));
    }
    // The settings are enciphered once for all copies.
    EXPECT_EQ(stored.size(), 1u);
    EXPECT_NE(*stored.begin(), rawRules(a));

    // A single paste is named with a "2" and is placed at the top level from empty space.
    auto one = cat.PasteTask(std::nullopt);
    ASSERT_TRUE(one);
    EXPECT_EQ(cat.tree().find(*one)->name, "A2");
    EXPECT_EQ(cat.tree().find(*one)->fuid, 0);
}

TEST_F(CatalogueTest, PasteRefusals) {
    auto a = addRow(0, "A", app::NewTaskDocument());
    app::Catalogue cat(ws, dialogs, clipboard, currentId);

    clipboard.setText("anything at all");
    EXPECT_FALSE(cat.PasteTask(std::nullopt));
    EXPECT_TRUE(dialogs.sawMessage("请先复制一个任务，才能粘贴！"));

    for (const std::string clip :
         std::vector<std::string>{"Tarvex复制任务|", "Tarvex复制任务|abc", "Tarvex复制任务|-2", "Tarvex复制任务|77"}) {
        dialogs.clear();
        clipboard.setText(clip);
        EXPECT_FALSE(cat.PasteTask(std::nullopt)) << clip;
        EXPECT_TRUE(dialogs.sawMessage("复制任务文本有误！")) << clip;
    }

    // Copied, then deleted before the paste.
    ASSERT_TRUE(cat.CopyTask(a));
    ASSERT_TRUE(cat.DeleteTask(a));
    dialogs.clear();
    EXPECT_FALSE(cat.PasteTask(std::nullopt));
    EXPECT_TRUE(dialogs.sawMessage("复制任务文本有误！"));

    auto b = addRow(0, "B", app::NewTaskDocument());
    cat.rebuild();
    ASSERT_TRUE(cat.CopyTask(b));
    struct Case {
        std::optional<std::string> answer;
        std::string message;
    };
    for (const auto& c : std::vector<Case>{{"abc", "仅能输入数字!"},
                                           {"", "仅能输入数字!"},
                                           {"-1", "仅能输入数字!"},
                                           {"0", "单次批量新增任务不能大于20"},
                                           {"21", "单次批量新增任务不能大于20"},
                                           // Long numbers are numbers too, just too many.
                                           {"1234567890", "单次批量新增任务不能大于20"},
                                           {"99999999999999999999999", "单次批量新增任务不能大于20"},
                                           {std::nullopt, ""}}) {
        dialogs.clear();
        dialogs.queueAnswer(c.answer);
        EXPECT_FALSE(cat.PasteTasks(std::nullopt));
        if (c.message.empty())
            EXPECT_TRUE(dialogs.messages().empty());
        else
            EXPECT_TRUE(dialogs.sawMessage(c.message)) << c.answer.value_or("<cancel>");
        EXPECT_EQ(cat.tree().nodeCount(), 2u);
    }
}

TEST_F(CatalogueTest, CopyAndPasteStopAtFiveHundredNodes) {
    {
        SqliteConnection db(ws.configDb);
        db.exec("BEGIN");
        for (int i = 0; i < 498; ++i)
            db.exec("insert into vorn_task(id,fuid,name,description,rules) values (null,0,'t" + std::to_string(i) +
                    "','','')");
        db.exec("COMMIT");
    }
    app::Catalogue cat(ws, dialogs, clipboard, currentId);
    ASSERT_EQ(cat.tree().nodeCount(), 499u);
    const auto first = cat.tree().root.children.front().taskid;
    ASSERT_TRUE(cat.CopyTask(first));
    ASSERT_TRUE(cat.PasteTask(std::nullopt));  // 499 nodes: one more fits
    ASSERT_EQ(cat.tree().nodeCount(), 500u);

    EXPECT_FALSE(cat.CopyTask(first));
    EXPECT_FALSE(cat.PasteTask(std::nullopt));
    EXPECT_EQ(dialogs.messages(), std::vector<std::string>(2, "任务太多，空间太窄，放不下啦^_^!"));
    EXPECT_EQ(cat.tree().nodeCount(), 500u);
}

TEST_F(CatalogueTest, DeleteRefusesTheRootAndParentsAndKeepsTheTaskFolder) {
    app::Catalogue cat(ws, dialogs, clipboard, currentId);
    auto parent = created(cat, "P", std::nullopt);
    auto child = created(cat, "C", parent);
    sandbox.writeFile("data/" + std::to_string(child) + "/a.jpg", "x");

    EXPECT_FALSE(cat.DeleteTask(-2));
    EXPECT_TRUE(dialogs.sawMessage("根节点不能删除"));
    EXPECT_FALSE(cat.DeleteTask(parent));
    EXPECT_TRUE(dialogs.sawMessage("为防止误删除，请先删除本任务下的子目录"));
    dialogs.queueConfirm(false);
    EXPECT_FALSE(cat.DeleteTask(child));
    EXPECT_NE(cat.tree().find(child), nullptr);

    ASSERT_TRUE(cat.DeleteTask(child));
    EXPECT_EQ(cat.tree().find(child), nullptr);
    EXPECT_TRUE(cat.tree().find(parent)->children.empty());  // a leaf again
    EXPECT_FALSE(app::pathExists(ws.taskDbPath(child)));
    EXPECT_TRUE(app::pathExists(ws.taskFolder(child) + "/a.jpg"));
    EXPECT_TRUE(app::pathExists(ws.taskDbPath(parent)));
}

namespace {
struct Row {
    int geturl, getc, postc, site;
};
}  // namespace

TEST_F(CatalogueTest, BulkCommandsChangeExactlyTheirFlags) {
    const std::string group = R"({"check1":"-1","MorePostAll":["site1,k1,x","site2,k2,y"]})";
    const std::string doc = documentWithFields({"标题"}, group);
    const std::vector<Row> start = {{1, 0, 0, 0}, {1, 1, 0, 1}, {1, 1, 1, 1}, {0, 1, 0, 0}};
    struct Case {
        app::BulkCommand command;
        std::vector<Row> expected;  // site = postc_k1 (postc_k2 follows it)
    };
    const std::vector<Case> cases = {
        {app::BulkCommand::ClearUrls, {{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 1, 1}, {0, 1, 0, 0}}},
        {app::BulkCommand::AllNotCollected, {{1, 0, 0, 0}, {1, 0, 0, 1}, {1, 0, 1, 1}, {0, 0, 0, 0}}},
        {app::BulkCommand::AllNotPublished, {{1, 0, 0, 0}, {1, 1, 0, 0}, {1, 1, 0, 0}, {0, 1, 0, 0}}},
        {app::BulkCommand::AllCollected, {{1, 1, 0, 0}, {1, 1, 0, 1}, {1, 1, 1, 1}, {0, 1, 0, 0}}},
        {app::BulkCommand::AllPublished, {{1, 0, 1, 0}, {1, 1, 1, 1}, {1, 1, 1, 1}, {0, 1, 1, 0}}},
        {app::BulkCommand::CollectedToPublished, {{1, 0, 0, 0}, {1, 1, 1, 1}, {1, 1, 1, 1}, {0, 1, 1, 0}}},
    };
    for (const auto& c : cases) {
        auto id = addRow(0, "bulk", doc);
        const std::string path = ws.taskDbPath(id);
        ASSERT_TRUE(collect::CreateTaskDb(path, dialogs));
        collect::CreateContentTables(path, doc);
        for (const auto& r : start)
            collect::execScript(path, "insert into content(url,geturl,getc,postc,postc_k1,postc_k2) values ('u'," +
                                          std::to_string(r.geturl) + "," + std::to_string(r.getc) + "," +
                                          std::to_string(r.postc) + "," + std::to_string(r.site) + "," +
                                          std::to_string(r.site) + ")");
        collect::execScript(path, collect::sql::InsertDownload(1, "r", "l", "n"));
        collect::execScript(path, collect::sql::InsertDownload(1, "r", "l", "n"));

        app::Catalogue cat(ws, dialogs, clipboard, currentId);
        dialogs.clear();
        ASSERT_TRUE(cat.RunBulkCommand(c.command, id));
        EXPECT_EQ(currentId.load(), 0);
        const auto* info = &app::BulkCommands()[static_cast<std::size_t>(c.command)];
        EXPECT_EQ(dialogs.shown().front().text, info->confirmText);
        EXPECT_EQ(dialogs.shown().front().caption, info->confirmTitle);
        EXPECT_EQ(dialogs.messages(), std::vector<std::string>{info->successMessage}) << info->menuText;

        auto rows = collect::query(path, "select * from content order by id");
        ASSERT_EQ(rows.rows.size(), start.size());
        for (std::size_t i = 0; i < start.size(); ++i) {
            const auto& e = c.expected[i];
            EXPECT_EQ(rows.text(i, "geturl"), std::to_string(e.geturl)) << info->menuText << " row " << i;
            EXPECT_EQ(rows.text(i, "getc"), std::to_string(e.getc)) << info->menuText << " row " << i;
            EXPECT_EQ(rows.text(i, "postc"), std::to_string(e.postc)) << info->menuText << " row " << i;
            EXPECT_EQ(rows.text(i, "postc_k1"), std::to_string(e.site)) << info->menuText << " row " << i;
            EXPECT_EQ(rows.text(i, "postc_k2"), std::to_string(e.site)) << info->menuText << " row " << i;
            EXPECT_EQ(rows.text(i, "url").empty(), e.geturl == 0 && c.command == app::BulkCommand::ClearUrls);
        }
        auto downloads = collect::query(path, "select count(*) as n from download").text(0, "n");
        EXPECT_EQ(downloads, c.command == app::BulkCommand::AllNotCollected ? "0" : "2") << info->menuText;
        if (c.command == app::BulkCommand::AllNotCollected) {
            collect::execScript(path, collect::sql::InsertDownload(1, "r", "l", "n"));
            EXPECT_EQ(collect::query(path, "select id from download").text(0, "id"), "1");  // numbering restarted
        }
    }
}

TEST_F(CatalogueTest, ClearDatabaseRecreatesItFromTheSettingsAndRefusesWhileHeld) {
    const std::string doc = documentWithFields({"标题", "正文"}, R"({"check1":"true","MorePostAll":["s,k9,z"]})");
    auto id = addRow(0, "T", doc);
    const std::string path = ws.taskDbPath(id);
    ASSERT_TRUE(collect::CreateTaskDb(path, dialogs));
    collect::execScript(path, collect::kNewTaskContentSql);
    collect::execScript(path, "insert into content(url) values ('x')");
    app::Catalogue cat(ws, dialogs, clipboard, currentId);

    {
        SqliteConnection holder(path);
        holder.exec("BEGIN IMMEDIATE");
        dialogs.clear();
        EXPECT_FALSE(cat.RunBulkCommand(app::BulkCommand::ClearDatabase, id));
        EXPECT_TRUE(dialogs.sawMessage("数据库文件被锁，无法清空数据库，请重启下软件！"));
        holder.exec("ROLLBACK");
    }
    EXPECT_EQ(collect::query(path, "select count(*) as n from content").text(0, "n"), "1");

    dialogs.clear();
    ASSERT_TRUE(cat.RunBulkCommand(app::BulkCommand::ClearDatabase, id));
    EXPECT_TRUE(dialogs.messages().empty());
    EXPECT_EQ(collect::query(path, "select count(*) as n from content").text(0, "n"), "0");
    EXPECT_EQ(contentColumns(id),
              (std::vector<std::string>{"id", "url", "geturl", "getc", "postc", "标题", "正文", "postc_k9"}));
}

TEST_F(CatalogueTest, BulkCommandRefusalsAndErrors) {
    auto id = addRow(0, "nodb", app::NewTaskDocument());
    app::Catalogue cat(ws, dialogs, clipboard, currentId);
    EXPECT_FALSE(cat.RunBulkCommand(app::BulkCommand::ClearUrls, std::nullopt));
    EXPECT_FALSE(cat.RunBulkCommand(app::BulkCommand::AllPublished, std::nullopt));
    EXPECT_FALSE(cat.RunBulkCommand(app::BulkCommand::AllPublished, -2));
    EXPECT_EQ(dialogs.messages(),
              (std::vector<std::string>{"请先选定任务，再操作", "请先选定任务，再编辑", "根目录无法执行此操作"}));

    dialogs.clear();
    dialogs.queueConfirm(false);
    EXPECT_FALSE(cat.RunBulkCommand(app::BulkCommand::AllPublished, id));
    EXPECT_TRUE(dialogs.messages().empty());

    // No database file: the error is reported and no file is created on the way.
    dialogs.clear();
    EXPECT_FALSE(cat.RunBulkCommand(app::BulkCommand::AllPublished, id));
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].rfind("执行错误：", 0), 0u) << dialogs.messages()[0];
    EXPECT_FALSE(app::pathExists(ws.taskDbPath(id)));
    EXPECT_EQ(currentId.load(), 0);
}

TEST_F(CatalogueTest, ImportFieldsToChildrenChangesDirectSubTasksOnly) {
    app::Catalogue cat(ws, dialogs, clipboard, currentId);
    auto parent = created(cat, "P", std::nullopt);
    auto c1 = created(cat, "C1", parent);
    auto c2 = created(cat, "C2", parent);
    auto grand = created(cat, "G", c1);

    const std::string rulesPath = sandbox.path("rules/import.g");
    sandbox.makeDir("rules");
    const std::vector<std::string> fields = {R"({"title":"标题"})", R"({"title":"作者"})"};
    ASSERT_TRUE(app::WriteRulesFile(rulesPath, {fields, "", "", ""}, dialogs));

    EXPECT_FALSE(cat.ImportFieldsToChildren(std::nullopt, [] { return std::nullopt; }));
    EXPECT_FALSE(cat.ImportFieldsToChildren(c2, [] { return std::nullopt; }));
    EXPECT_EQ(dialogs.messages(), (std::vector<std::string>{"请先选择一个父目录", "该任务需包含子任务"}));

    dialogs.clear();
    ASSERT_TRUE(cat.ImportFieldsToChildren(parent, [&] { return std::optional<std::string>(rulesPath); }));
    EXPECT_EQ(dialogs.messages(), (std::vector<std::string>{"C1", "C2"}));
    for (auto id : {c1, c2}) {
        auto doc = *app::ParseSettings(storedDocument(id));
        EXPECT_EQ(doc["fieldsAll"], app::SettingsJson(fields));
        EXPECT_EQ(app::SettingText(doc, "other_time1"), "300");  // the other keys stay
        EXPECT_EQ(contentColumns(id),
                  (std::vector<std::string>{"id", "url", "geturl", "getc", "postc", "标题", "内容", "作者"}));
    }
    EXPECT_EQ(storedDocument(grand), app::NewTaskDocument());
    EXPECT_EQ(storedDocument(parent), app::NewTaskDocument());

    // A file of garbage imports nothing and says so.
    sandbox.writeFile("rules/garbage.g", "\xEF\xBB\xBFnot a rules file at all");
    const std::string before = rawRules(c1);
    dialogs.clear();
    EXPECT_FALSE(cat.ImportFieldsToChildren(
        parent, [&] { return std::optional<std::string>(sandbox.path("rules/garbage.g")); }));
    EXPECT_TRUE(dialogs.sawMessage("规则文件内容有误，无法导入！"));
    EXPECT_EQ(rawRules(c1), before);
}

TEST_F(CatalogueTest, ImportRefusesFieldsNamedLikeFixedColumns) {
    app::Catalogue cat(ws, dialogs, clipboard, currentId);
    auto parent = created(cat, "P", std::nullopt);
    auto child = created(cat, "C", parent);
    sandbox.makeDir("rules");
    ASSERT_TRUE(app::WriteRulesFile(sandbox.path("rules/bad.g"),
                                    {{R"({"title":"作者"})", R"({"title":"URL"})"}, "", "", ""}, dialogs));
    const std::string before = rawRules(child);
    dialogs.clear();
    EXPECT_FALSE(
        cat.ImportFieldsToChildren(parent, [&] { return std::optional<std::string>(sandbox.path("rules/bad.g")); }));
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_NE(dialogs.messages()[0].find("URL"), std::string::npos);
    EXPECT_EQ(rawRules(child), before);
    EXPECT_EQ(contentColumns(child).size(), 7u);
}

// Settings a new database cannot be made for — stored before field names were checked, or
// with more fields than a table may have columns — make paste refuse (or take its row back)
// rather than leave a task without tables, and make "清空数据库所有内容" keep the old database.
TEST_F(CatalogueTest, PasteAndClearNeverLeaveATaskWithoutTables) {
    std::vector<std::string> many;
    for (int i = 0; i < 2000; ++i) many.push_back("f" + std::to_string(i));
    struct Case {
        std::string document;
        std::string reason;
    };
    for (const auto& c : std::vector<Case>{{documentWithFields({"标题", "Title", "title"}), "<title>"},
                                           {documentWithFields(many), "too many columns"}}) {
        auto source = addRow(0, "source", c.document);
        const std::string path = ws.taskDbPath(source);
        ASSERT_TRUE(collect::CreateTaskDb(path, dialogs));
        collect::execScript(path, collect::kNewTaskContentSql);
        collect::execScript(path, "insert into content(url) values ('kept')");
        app::Catalogue cat(ws, dialogs, clipboard, currentId);
        ASSERT_TRUE(cat.CopyTask(source));

        dialogs.clear();
        EXPECT_FALSE(cat.PasteTask(std::nullopt));
        dialogs.queueAnswer("3");
        EXPECT_FALSE(cat.PasteTasks(std::nullopt));  // stops at the first copy
        EXPECT_FALSE(cat.RunBulkCommand(app::BulkCommand::ClearDatabase, source));
        const auto messages = dialogs.messages();
        ASSERT_EQ(messages.size(), 3u) << c.reason;
        for (const auto& m : messages) EXPECT_NE(m.find(c.reason), std::string::npos) << m;

        EXPECT_EQ(app::ReadTaskRows(ws).size(), 1u);
        EXPECT_EQ(collect::query(path, "select url from content").text(0, "url"), "kept");
        std::size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(ws.dataFolder)) files += entry.is_regular_file();
        EXPECT_EQ(files, 1u);  // no half-made database anywhere
        ASSERT_TRUE(cat.DeleteTask(source));
    }
}

TEST_F(CatalogueTest, DeleteAndClearRefuseADatabaseInUse) {
    app::Catalogue cat(ws, dialogs, clipboard, currentId);
    auto id = created(cat, "T", std::nullopt);
    const std::string path = ws.taskDbPath(id);
    collect::execScript(path, "insert into content(url) values ('kept')");

    // Run by this process: its run slot says so.
    app::ProcessState state;
    cat.setInUseCheck([&](std::int64_t task) { return app::TaskRunningInSlots(state, task); });
    state.SetSlotField(2, 0, std::to_string(id));
    state.SetSlotField(2, 2, "1");
    for (const char* runState : {"1", "2", "3"}) {
        state.SetSlotField(2, 4, runState);
        dialogs.clear();
        EXPECT_FALSE(cat.DeleteTask(id)) << runState;
        EXPECT_FALSE(cat.RunBulkCommand(app::BulkCommand::ClearDatabase, id)) << runState;
        EXPECT_EQ(dialogs.messages(), std::vector<std::string>(2, "当前任务正在使用中,请移除任务队列后再使用！"));
    }
    state.SetSlotField(2, 4, "0");

    // Held by another connection (a browser, a backup): delete is refused as clear already was.
    {
        SqliteConnection holder(path);
        holder.exec("BEGIN IMMEDIATE");
        dialogs.clear();
        EXPECT_FALSE(cat.DeleteTask(id));
        ASSERT_EQ(dialogs.messages().size(), 1u);
        EXPECT_NE(dialogs.messages()[0].find("不能删除任务"), std::string::npos) << dialogs.messages()[0];
        holder.exec("ROLLBACK");
    }
    EXPECT_EQ(collect::query(path, "select url from content").text(0, "url"), "kept");
    EXPECT_NE(cat.tree().find(id), nullptr);

    ASSERT_TRUE(cat.DeleteTask(id));
    EXPECT_FALSE(app::pathExists(path));
}

TEST_F(CatalogueTest, ImportRefusesRepeatedTitlesAndSkipsASubTaskWhoseListFieldsClash) {
    app::Catalogue cat(ws, dialogs, clipboard, currentId);
    auto parent = created(cat, "P", std::nullopt);
    auto plain = created(cat, "plain", parent);
    // This sub-task fills "Author" from its list page; an imported "author" would be a second
    // column of the same name.
    auto listed =
        addRow(parent, "listed",
               R"({"fieldsAll":[],"Morepage":"{\"More_url_regex\":\"<a href=\\\"{*}\\\">{DD:字段=Author}</a>\"}"})");
    ASSERT_TRUE(collect::CreateTaskDb(ws.taskDbPath(listed), dialogs));
    collect::CreateContentTables(ws.taskDbPath(listed), storedDocument(listed));
    cat.rebuild();
    sandbox.makeDir("rules");

    ASSERT_TRUE(app::WriteRulesFile(sandbox.path("rules/dup.g"),
                                    {{R"({"title":"Title"})", R"({"title":"title"})"}, "", "", ""}, dialogs));
    dialogs.clear();
    EXPECT_FALSE(
        cat.ImportFieldsToChildren(parent, [&] { return std::optional<std::string>(sandbox.path("rules/dup.g")); }));
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_NE(dialogs.messages()[0].find("<title>"), std::string::npos) << dialogs.messages()[0];

    ASSERT_TRUE(app::WriteRulesFile(sandbox.path("rules/author.g"), {{R"({"title":"author"})"}, "", "", ""}, dialogs));
    const std::string listedBefore = rawRules(listed);
    dialogs.clear();
    EXPECT_TRUE(
        cat.ImportFieldsToChildren(parent, [&] { return std::optional<std::string>(sandbox.path("rules/author.g")); }));
    EXPECT_EQ(rawRules(listed), listedBefore);
    const auto messages = dialogs.messages();
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::string& m) {
        return m.find("<listed>") != std::string::npos && m.find("<author>") != std::string::npos;
    }));
    EXPECT_EQ(contentColumns(plain).back(), "author");
    EXPECT_EQ(app::SettingText(*app::ParseSettings(storedDocument(plain)), "fieldsAll"),
              R"(["{\"title\":\"author\"}"])");
}

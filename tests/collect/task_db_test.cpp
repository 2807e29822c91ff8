#include "collect/task_db.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/sqlite_db.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using namespace tarvex::collect;

namespace {
struct TaskDb : ::testing::Test {
    test::SandboxWorkspace sandbox;
    test::ScriptedDialogs dialogs;
    std::string path = sandbox.path("data/7.db3");

    std::vector<std::string> columns() { return TableColumns(path, "content", dialogs); }
};

std::string settingsWith(const std::vector<std::string>& titles, const std::string& extra = "") {
    nlohmann::json doc = nlohmann::json::object();
    doc["fieldsAll"] = nlohmann::json::array();
    for (const auto& t : titles) doc["fieldsAll"].push_back(nlohmann::json{{"title", t}}.dump());
    std::string s = doc.dump();
    if (!extra.empty()) s = s.substr(0, s.size() - 1) + "," + extra + "}";
    return s;
}
}  // namespace

TEST_F(TaskDb, CreateRefusesAnExistingFileAndLeavesItAlone) {
    ASSERT_TRUE(CreateTaskDb(path, dialogs));
    execScript(path, kNewTaskContentSql);
    EXPECT_FALSE(CreateTaskDb(path, dialogs));
    EXPECT_TRUE(dialogs.sawMessage(path + "的数据库已存在1"));
    EXPECT_EQ(columns(), (std::vector<std::string>{"id", "url", "geturl", "getc", "postc", "标题", "内容"}));
}

TEST_F(TaskDb, ContentTablesFollowTheSettings) {
    ASSERT_TRUE(CreateTaskDb(path, dialogs));
    std::string morepage =
        nlohmann::json{{"More_url_regex", "<a href=\"[参数1]\">{DD:字段=列表标题}</a>{DD:字段=标题}"}}.dump();
    std::string group = nlohmann::json{{"check1", "true"}, {"MorePostAll", {"site one,a1,x", "site two,b2,y"}}}.dump();
    std::string settings =
        settingsWith({"标题", "group", "a-b"}, "\"Morepage\":" + nlohmann::json(morepage).dump() +
                                                   ",\"post_morepost\":" + nlohmann::json(group).dump());
    CreateContentTables(path, settings);
    EXPECT_EQ(columns(), (std::vector<std::string>{"id", "url", "geturl", "getc", "postc", "标题", "group", "a-b",
                                                   "列表标题", "postc_a1", "postc_b2"}));
    auto dl = TableColumns(path, "download", dialogs);
    EXPECT_EQ(dl, (std::vector<std::string>{"id", "cid", "remoteurl", "localurl", "isupload", "type", "newurl"}));

    // Saving again adds nothing; a renamed field adds a column and keeps the old one with its data.
    EXPECT_TRUE(AddMissingColumns(path, settings).empty());
    auto ran = AddMissingColumns(path, settingsWith({"标题2", "group"}));
    EXPECT_EQ(ran.size(), 1u);
    auto cols = columns();
    EXPECT_EQ(cols.back(), "标题2");
    EXPECT_NE(std::find(cols.begin(), cols.end(), "a-b"), cols.end());
}

TEST_F(TaskDb, SiteFlagColumnsOnlyForValidMarksEachOnceWithoutRegardToCase) {
    ASSERT_TRUE(CreateTaskDb(path, dialogs));
    execScript(path, kNewTaskContentSql);
    execScript(path, "ALTER table content ADD 'postc_K1' TINYINT(1)  DEFAULT '0'");
    std::string group = nlohmann::json{{"check1", "-1"},
                                       {"MorePostAll", {"a,k1,m", "b,A1,m", "c,a1,m", "d,x y,m", "e,b'2,m", "f,x-1,m"}}}
                            .dump();
    const std::string settings = settingsWith({"标题", "内容"}, "\"post_morepost\":" + nlohmann::json(group).dump());
    EXPECT_EQ(SiteKeysOf(settings), (std::vector<std::string>{"k1", "A1"}));
    // "k1" is the column that is there as "postc_K1"; the save adds only "postc_A1" and succeeds.
    EXPECT_EQ(AddMissingColumns(path, settings).size(), 1u);
    EXPECT_EQ(columns().back(), "postc_A1");
}

TEST_F(TaskDb, EmptyFieldListGivesTheFixedColumnsOnly) {
    ASSERT_TRUE(CreateTaskDb(path, dialogs));
    CreateContentTables(path, "{}");
    EXPECT_EQ(columns(), kFixedContentColumns);
}

TEST_F(TaskDb, ValuesAreStoredAndReadBackExactly) {
    ASSERT_TRUE(CreateTaskDb(path, dialogs));
    CreateContentTables(path, settingsWith({"标题", "内容"}));
    const std::string url = "http://example.test/a?b=1&&c='2'";
    ASSERT_EQ(tryExecScript(path, sql::InsertListAddress(url, {"标题", "内容"}, {"it's", ""})), "succ|");
    const std::string body = "a && b\r\nline 2 ! : 'q' &amp;";
    ASSERT_EQ(tryExecScript(path, sql::StoreRow(1, {{"标题", "T'1"}, {"内容", body}})), "succ|");
    auto row = query(path, "select * from content where id=1");
    EXPECT_EQ(row.text(0, "url"), url);
    EXPECT_EQ(row.text(0, "内容"), body);
    EXPECT_EQ(row.text(0, "getc"), "1");
    std::string text = RowToText(row);
    EXPECT_NE(text.find("url=" + url + "\r\n"), std::string::npos);
    EXPECT_NE(text.find("内容=a && b<临时换行替换换行><临时换行2替换换行2>line 2 ! : 'q' &amp;"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);  // seven columns, one line each
}

TEST_F(TaskDb, ClaimWalksQueuedRowsInIdOrder) {
    ASSERT_TRUE(CreateTaskDb(path, dialogs));
    CreateContentTables(path, settingsWith({"标题"}));
    std::string script;
    for (int i = 0; i < 5; ++i) script += sql::InsertDirectAddress("http://h/" + std::to_string(i));
    ASSERT_EQ(tryExecScript(path, script), "succ|");
    execScript(path, "update content set getc=1 where id=2");
    EXPECT_EQ(query(path, sql::CountWork(0)).text(0, "total"), "4");
    EXPECT_EQ(query(path, sql::ClaimNext(0)).text(0, "id"), "1");
    EXPECT_EQ(query(path, sql::ClaimNext(1)).text(0, "id"), "3");
    EXPECT_TRUE(query(path, sql::ClaimNext(5)).empty());
    execScript(path, sql::SkipRow(3));
    EXPECT_EQ(query(path, "select getc,postc from content where id=3").text(0, "postc"), "1");
}

TEST_F(TaskDb, PendingDownloadsSkipMissingFilesAndMarkEquals) {
    ASSERT_TRUE(CreateTaskDb(path, dialogs));
    CreateContentTables(path, "{}");
    sandbox.writeFile("data/7/a=b.jpg", "x");
    execScript(path, sql::InsertDownload(1, "http://r/a.jpg", sandbox.path("data/7/a=b.jpg"), "/up/a.jpg"));
    execScript(path, sql::InsertDownload(1, "http://r/gone.jpg", sandbox.path("data/7/gone.jpg"), "/up/gone.jpg"));
    execScript(path, sql::InsertDownload(2, "http://r/t.jpg", sandbox.path("data/7/a=b.jpg"), "/up/t.jpg", true));
    auto lines = PendingDownloads(path, 1, dialogs);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], sandbox.path("data/7/a<临时等号>b.jpg") + "=/up/a.jpg");
    EXPECT_EQ(query(path, sql::Thumbnail(2)).text(0, "type"), "smallpic");
}

TEST_F(TaskDb, LockedDatabaseFailsWithLockedNotAHang) {
    ASSERT_TRUE(CreateTaskDb(path, dialogs));
    CreateContentTables(path, "{}");
    platform::SqliteConnection holder(path);
    holder.exec("BEGIN EXCLUSIVE");
    auto start = std::chrono::steady_clock::now();
    std::string r = tryExecScript(path, sql::InsertDirectAddress("http://h/x"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(IsBusyFailure(r)) << r;
    EXPECT_EQ(DbErrorText(r.substr(5)), "数据库被锁定");
    holder.exec("ROLLBACK");
    EXPECT_EQ(tryExecScript(path, sql::InsertDirectAddress("http://h/x")), "succ|");
}

// With the write-ahead log a reader reads while another connection writes; a second writer
// still ends in "database is locked" (the program's "数据库被锁定"), not in a hang.
TEST_F(TaskDb, WithTheWriteAheadLogReadersGoOnAndASecondWriterIsToldItIsLocked) {
    ASSERT_TRUE(CreateTaskDb(path, dialogs));
    CreateContentTables(path, "{}");
    ASSERT_EQ(tryExecScript(path, sql::InsertDirectAddress("http://h/1")), "succ|");
    EXPECT_EQ(query(path, "pragma journal_mode").text(0, "journal_mode"), "delete");
    ASSERT_TRUE(UseWriteAheadLog(path));
    EXPECT_EQ(query(path, "pragma journal_mode").text(0, "journal_mode"), "wal");
    EXPECT_TRUE(UseWriteAheadLog(path)) << "a second switch is a no-op";

    platform::SqliteConnection writer(path);
    writer.exec("BEGIN IMMEDIATE");
    writer.exec(sql::InsertDirectAddress("http://h/2"));
    EXPECT_EQ(query(path, "select count(*) as n from content").text(0, "n"), "1");
    std::string r = tryExecScript(path, sql::InsertDirectAddress("http://h/3"));
    EXPECT_TRUE(IsBusyFailure(r)) << r;
    EXPECT_EQ(DbErrorText(r.substr(5)), "数据库被锁定");
    writer.exec("COMMIT");
    EXPECT_EQ(query(path, "select count(*) as n from content").text(0, "n"), "2");
    EXPECT_FALSE(UseWriteAheadLog(sandbox.path("data/missing.db3")));
    EXPECT_FALSE(std::filesystem::exists(sandbox.path("data/missing.db3")));
}

// Collection writes skip the per-commit sync only where the write-ahead log keeps them whole;
// every other write syncs fully.
TEST_F(TaskDb, OnlyCollectionWritesOnTheWriteAheadLogSkipTheSync) {
    ASSERT_TRUE(CreateTaskDb(path, dialogs));
    CreateContentTables(path, "{}");
    auto syncOf = [](platform::SqliteConnection& db) {
        return platform::queryAll(db, "pragma synchronous").rows.at(0).at(0).integer;
    };
    {
        platform::SqliteConnection db(path);
        RelaxCommitSync(db);
        EXPECT_EQ(syncOf(db), 2) << "a rollback journal keeps the full sync";
    }
    ASSERT_TRUE(UseWriteAheadLog(path));
    platform::SqliteConnection db(path);
    RelaxCommitSync(db);
    EXPECT_EQ(syncOf(db), 1);
    // The script calls (published marks, edits) sync in full.
    EXPECT_EQ(tryExecScript(path, "create table seen as select synchronous as n from pragma_synchronous"), "succ|");
    EXPECT_EQ(query(path, "select n from seen").text(0, "n"), "2");
}

// While a run holds its database open, the log stays beside it and other connections' ends do
// not take it down; when the run lets go, the file alone holds every row.
TEST_F(TaskDb, ARunsHoldKeepsTheLogUntilItEndsAndThenTheFileAloneIsWhole) {
    ASSERT_TRUE(CreateTaskDb(path, dialogs));
    CreateContentTables(path, "{}");
    ASSERT_TRUE(UseWriteAheadLog(path));
    auto hold = HoldOpenForRun(path);
    ASSERT_NE(hold, nullptr);
    for (int i = 0; i < 3; ++i) {
        platform::SqliteConnection db(path, platform::SqliteConnection::Mode::ReadWrite);
        RelaxCommitSync(db);
        db.exec(sql::InsertDirectAddress("http://h/" + std::to_string(i)));
    }
    EXPECT_TRUE(std::filesystem::exists(path + "-wal"));
    hold.reset();
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
    const std::string copy = sandbox.path("copy.db3");
    std::filesystem::copy_file(path, copy);
    EXPECT_EQ(query(copy, "select count(*) as n from content").text(0, "n"), "3");
    EXPECT_EQ(HoldOpenForRun(sandbox.path("data/missing.db3")), nullptr);
}

TEST_F(TaskDb, ErrorsComeBackInTheProgramsWording) {
    ASSERT_TRUE(CreateTaskDb(path, dialogs));
    std::string r = tryExecScript(path, "select * from nosuch");
    EXPECT_EQ(r, "fail|no such table: nosuch");
    EXPECT_EQ(DbErrorText("[FireDAC][Phys][SQLite] ERROR: no such table: x"), "数据库 错误: no such table: x");
    EXPECT_EQ(DbErrorText("database is locked"), "数据库被锁定");
    EXPECT_TRUE(TableColumns(sandbox.path("data/none.db3"), "content", dialogs).empty());
    ASSERT_FALSE(dialogs.messages().empty());
    EXPECT_EQ(dialogs.messages().back().rfind("发生错误：数据库读取字段错误：", 0), 0u);
    EXPECT_THROW(tryExecScript(sandbox.path("data/none.db3"), "select 1"), platform::SqliteError);
}

TEST_F(TaskDb, ANonDatabaseFileIsAnErrorNotACrash) {
    sandbox.writeFile("data/7.db3", "this is not a database at all, just text.........................");
    EXPECT_EQ(tryExecScript(path, "select count(*) from sqlite_master").rfind("fail|", 0), 0u);
    EXPECT_THROW(query(path, "select * from content"), platform::SqliteError);
}

// The look-ups of every attachment and of every published row use an index, in a new task's
// database and, after a run has started on it, in one made before the indexes existed.
TEST_F(TaskDb, DownloadLookUpsUseIndexesInNewAndOldDatabases) {
    auto plan = [&](const std::string& db, const std::string& where) {
        std::string text;
        platform::SqliteConnection c(db);
        auto t = platform::queryAll(c, "explain query plan select * from download where " + where);
        for (std::size_t r = 0; r < t.rows.size(); ++r) text += t.text(r, "detail") + "\n";
        return text;
    };
    ASSERT_TRUE(CreateTaskDb(path, dialogs));
    CreateContentTables(path, settingsWith({"标题"}));
    EXPECT_NE(plan(path, "localurl='x'").find("USING INDEX"), std::string::npos) << plan(path, "localurl='x'");
    EXPECT_NE(plan(path, "cid=3 and isupload=0").find("USING INDEX"), std::string::npos);

    const std::string old = sandbox.path("data/8.db3");
    ASSERT_TRUE(CreateTaskDb(old, dialogs));
    execScript(old, std::string(kNewTaskContentSql) + ";" + kDownloadTableSql);
    execScript(old, "insert into download(cid,localurl) values (1,'a.jpg')");
    EXPECT_EQ(plan(old, "localurl='x'").find("USING INDEX"), std::string::npos);
    EnsureDownloadIndexes(old);
    EnsureDownloadIndexes(old);  // a second time changes nothing
    EXPECT_NE(plan(old, "localurl='x'").find("USING INDEX"), std::string::npos);
    EXPECT_EQ(query(old, "select localurl from download where cid=1").text(0, "localurl"), "a.jpg");

    // A database without the table is left as it is.
    const std::string bare = sandbox.path("data/9.db3");
    ASSERT_TRUE(CreateTaskDb(bare, dialogs));
    EnsureDownloadIndexes(bare);
    EXPECT_EQ(query(bare, "select count(*) as n from sqlite_master").text(0, "n"), "0");
}

TEST(SqlQuoteTest, DoublesSingleQuotesOnly) {
    EXPECT_EQ(SqlQuote("it's a 'q' & \"d\" !"), "it''s a ''q'' & \"d\" !");
    for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
             {"", ""}, {"'", "''"}, {"''x", "''''x"}, {"x'", "x''"}, {"中'文", "中''文"}})
        EXPECT_EQ(SqlQuote(in), out) << in;
    EXPECT_EQ(sql::InsertDirectAddress("http://h/'x"),
              "insert into content(id,url,geturl) values (null,'http://h/''x',1);");
    EXPECT_EQ(sql::ClaimNext(12), "select * from content where geturl=1  and getc=0 and id>12 order by id asc limit 1");
    EXPECT_EQ(sql::CountPublish("postc", 3, true),
              "select COUNT(*) AS total from content where getc=1  and \"postc\"=0 and id>3  and 人工审核 = '1' ");
}

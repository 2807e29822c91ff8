#include "collect/task_db.h"
#include "engine/rule_json.h"
#include "platform/utf8.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <unordered_set>

#include "platform/file_read.h"
#include "platform/json_text.h"
#include "platform/run_log.h"

namespace tarvex::collect {

using platform::quoteIdentifier;
using platform::SqliteConnection;
using platform::SqliteError;

const char* const kNewTaskContentSql =
    "CREATE TABLE content(id INTEGER PRIMARY KEY AUTOINCREMENT,url TEXT,geturl  TINYINT(1)  DEFAULT '0',getc "
    "TINYINT(1)  DEFAULT '0',postc TINYINT(1)  DEFAULT '0',标题 TEXT,内容 TEXT)";
const char* const kDownloadTableSql =
    "CREATE TABLE \"download\" (\"id\"  INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL,\"cid\"  INTEGER,\"remoteurl\"  "
    "TEXT(500),\"localurl\"  TEXT(500),\"isupload\"  INTEGER DEFAULT 0,\"type\"  TEXT(20),\"newurl\"  TEXT(500))";
const char* const kDownloadIndexSql =
    "CREATE INDEX IF NOT EXISTS download_cid ON download(cid);"
    "CREATE INDEX IF NOT EXISTS download_localurl ON download(localurl)";

namespace {

using platform::utf8::replaceAll;

// A settings value that may be a JSON object or a JSON text holding one.
nlohmann::json asObject(const nlohmann::json& v) {
    if (v.is_object()) return v;
    if (v.is_string()) {
        auto parsed = platform::parseJson<nlohmann::json>(v.get<std::string>());
        if (parsed.is_object()) return parsed;
    }
    return nlohmann::json::object();
}

bool flagOn(const nlohmann::json& v) {
    if (v.is_boolean()) return v.get<bool>();
    if (v.is_number_integer()) return v.get<long long>() != 0;
    return v.is_string() && engine::FlagText(v.get<std::string>());
}

nlohmann::json parseSettings(const std::string& settingsJson) {
    auto doc = platform::parseJson<nlohmann::json>(settingsJson);
    return doc.is_object() ? doc : nlohmann::json::object();
}

// Names referenced as "{DD:字段=name}" where the name holds no blank, in order of appearance.
void listFieldRefs(const std::string& text, std::vector<std::string>& out) {
    static const std::string open = "{DD:字段=";
    std::size_t pos = 0;
    while ((pos = text.find(open, pos)) != std::string::npos) {
        std::size_t start = pos + open.size();
        std::size_t end = text.find_first_of("} ", start);
        if (end != std::string::npos && text[end] == '}') {
            std::string name = text.substr(start, end - start);
            if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
        }
        pos = start;
    }
}

void addUnique(std::vector<std::string>& list, const std::string& name) {
    if (std::find(list.begin(), list.end(), name) == list.end()) list.push_back(name);
}

std::string stripDoubleQuotes(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '"'), s.end());
    return s;
}
}  // namespace

std::string TaskDbPath(const std::string& dataFolder, std::int64_t taskId) {
    return platform::joinPath(dataFolder, std::to_string(taskId) + ".db3");
}

bool CreateTaskDb(const std::string& path, platform::Dialogs& dialogs) {
    if (platform::isRegularFile(path)) {
        dialogs.message(path + "的数据库已存在1", platform::kAppTitle);
        return false;
    }
    try {
        SqliteConnection db(path, SqliteConnection::Mode::ReadWriteCreate);
        db.exec("PRAGMA encoding = \"UTF-8\"");
        // An empty file stays zero bytes until something is written; make it a real database.
        db.exec("PRAGMA user_version = 0");
    } catch (const SqliteError&) {
        dialogs.message("数据库创建失败", platform::kAppTitle);
        return false;
    }
    return platform::isRegularFile(path);
}

bool UseWriteAheadLog(const std::string& path) {
    try {
        SqliteConnection db(path, SqliteConnection::Mode::ReadWrite);
        platform::SqliteStatement st(db, "PRAGMA journal_mode=WAL");
        const std::string mode = st.step() ? st.columnText(0) : std::string();
        if (mode == "wal") return true;
        platform::WriteLog("TMyThread:数据库未能切换为WAL日志模式，仍为" + mode + "：" + path, 0);
    } catch (const std::exception& e) {
        platform::WriteLog("TMyThread:数据库未能切换为WAL日志模式：" + std::string(e.what()), 0);
    }
    return false;
}

void RelaxCommitSync(SqliteConnection& db) {
    try {
        platform::SqliteStatement st(db, "PRAGMA journal_mode");
        if (st.step() && st.columnText(0) == "wal") db.exec("PRAGMA synchronous=NORMAL");
    } catch (const SqliteError&) {
    }
}

std::unique_ptr<SqliteConnection> HoldOpenForRun(const std::string& path) {
    try {
        auto db = std::make_unique<SqliteConnection>(path, SqliteConnection::Mode::ReadWrite);
        // A first read opens the log; from then on the connection keeps the shared lock on the
        // file that stops every other connection's close from taking the log down.
        platform::SqliteStatement st(*db, "SELECT count(*) FROM sqlite_master");
        st.step();
        return db;
    } catch (const SqliteError&) {
        return nullptr;
    }
}

void EnsureDownloadIndexes(const std::string& path) {
    try {
        SqliteConnection db(path, SqliteConnection::Mode::ReadWrite);
        db.exec(kDownloadIndexSql);
    } catch (const std::exception& e) {
        platform::WriteLog("TMyThread:download表索引未建立：" + std::string(e.what()), 0);
    }
}

namespace {
// Commits of these calls (a published mark, a data browser's edit) wait for the disk whatever
// the library's default for a database with the write-ahead log is.
void fullSync(SqliteConnection& db) {
    db.exec("PRAGMA synchronous=FULL");
}
}  // namespace

void execScript(const std::string& path, const std::string& sql) {
    SqliteConnection db(path, SqliteConnection::Mode::ReadWrite);
    fullSync(db);
    db.exec(sql);
}

std::string tryExecScript(const std::string& path, const std::string& sql) {
    SqliteConnection db(path, SqliteConnection::Mode::ReadWrite);
    try {
        fullSync(db);
        db.exec(sql);
    } catch (const SqliteError& e) {
        return std::string("fail|") + e.what();
    }
    return "succ|";
}

SqlTable query(const std::string& path, const std::string& sql, const std::vector<platform::SqlValue>& params,
               int busyTimeoutMs) {
    SqliteConnection db(path, SqliteConnection::Mode::ReadWrite, busyTimeoutMs);
    return platform::queryAll(db, sql, params);
}

void runBound(SqliteConnection& db, const BoundSql& statement) {
    platform::queryAll(db, statement.sql, statement.params);
}

SqlTable queryForUpdate(const std::string& path, const std::string& sql, int busyTimeoutMs) {
    SqliteConnection db(path, SqliteConnection::Mode::ReadWrite, busyTimeoutMs);
    db.exec("BEGIN IMMEDIATE");
    try {
        SqlTable table = platform::queryAll(db, sql);
        db.exec("COMMIT");
        return table;
    } catch (const SqliteError&) {
        try {
            db.exec("ROLLBACK");
        } catch (const SqliteError&) {
        }
        throw;
    }
}

namespace {
// The column names of `table` over an open connection; none when there is no such table.
std::vector<std::string> columnsOn(SqliteConnection& db, const std::string& table) {
    platform::SqliteStatement st(db, "PRAGMA table_info(" + quoteIdentifier(table) + ")");
    std::vector<std::string> names;
    while (st.step()) names.push_back(stripDoubleQuotes(st.columnText(1)));
    return names;
}
}  // namespace

std::vector<std::string> TableColumns(const std::string& path, const std::string& table, platform::Dialogs& dialogs) {
    try {
        return ReadTableColumns(path, table);
    } catch (const SqliteError& e) {
        dialogs.message("发生错误：" + std::string("数据库读取字段错误：") + e.what(), platform::kAppTitle);
    }
    return {};
}

std::vector<std::string> ReadTableColumns(const std::string& path, const std::string& table) {
    SqliteConnection db(path, SqliteConnection::Mode::ReadWrite);
    return columnsOn(db, table);
}

std::vector<std::string> FieldTitlesOf(const std::string& settingsJson) {
    auto doc = parseSettings(settingsJson);
    std::vector<std::string> titles;
    if (doc.contains("fieldsAll") && doc["fieldsAll"].is_array()) {
        for (const auto& f : doc["fieldsAll"]) {
            auto rule = asObject(f);
            if (rule.contains("title") && rule["title"].is_string()) titles.push_back(rule["title"].get<std::string>());
        }
    }
    return titles;
}

std::vector<std::string> ListPageFieldsOf(const std::string& settingsJson) {
    auto doc = parseSettings(settingsJson);
    std::vector<std::string> refs;
    if (doc.contains("Morepage") && doc["Morepage"].is_string() &&
        doc["Morepage"].get<std::string>().find(":字段=") != std::string::npos) {
        auto list = asObject(doc["Morepage"]);
        if (list.contains("More_url_regex") && list["More_url_regex"].is_string())
            listFieldRefs(list["More_url_regex"].get<std::string>(), refs);
    }
    return refs;
}

std::vector<std::string> FieldColumnsOf(const std::string& settingsJson) {
    std::vector<std::string> cols = FieldTitlesOf(settingsJson);
    for (const auto& r : ListPageFieldsOf(settingsJson)) addUnique(cols, r);
    return cols;
}

std::vector<std::string> SiteKeysOf(const std::string& settingsJson) {
    auto doc = parseSettings(settingsJson);
    std::vector<std::string> keys;
    if (!doc.contains("post_morepost")) return keys;
    auto group = asObject(doc["post_morepost"]);
    if (!group.contains("check1") || !flagOn(group["check1"])) return keys;
    if (!group.contains("MorePostAll") || !group["MorePostAll"].is_array()) return keys;
    for (const auto& entry : group["MorePostAll"]) {
        if (!entry.is_string()) continue;
        const std::string s = entry.get<std::string>();
        auto c1 = s.find(',');
        if (c1 == std::string::npos) continue;
        auto c2 = s.find(',', c1 + 1);
        std::string key = s.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
        // SQLite compares column names without regard to ASCII case: "a1" and "A1" are one column.
        if (IsValidSiteMark(key) && !HasColumn(keys, key)) keys.push_back(key);
    }
    return keys;
}

bool IsValidSiteMark(const std::string& mark) {
    if (mark.empty()) return false;
    return std::all_of(mark.begin(), mark.end(), [](unsigned char c) { return std::isalnum(c) != 0 || c == '_'; });
}

namespace {
std::string addSiteFlagSql(const std::string& key) {
    return "ALTER table content ADD " + quoteIdentifier("postc_" + key) + " TINYINT(1)  DEFAULT '0'";
}
}  // namespace

void CreateContentTables(const std::string& path, const std::string& settingsJson) {
    std::vector<std::string> cols = FieldColumnsOf(settingsJson);
    std::string create =
        "CREATE TABLE content(id INTEGER PRIMARY KEY,url TEXT,geturl  TINYINT(1)  DEFAULT '0',getc TINYINT(1)  DEFAULT "
        "'0',postc TINYINT(1)  DEFAULT '0'";
    for (const auto& c : cols) create += "," + quoteIdentifier(c) + " TEXT";
    create += ")";
    // One transaction: a statement that fails leaves no half-made tables behind.
    SqliteConnection db(path, SqliteConnection::Mode::ReadWrite);
    platform::SqliteTransaction tx(db);
    db.exec(create);
    db.exec(kDownloadTableSql);
    db.exec(kDownloadIndexSql);
    for (const auto& key : SiteKeysOf(settingsJson)) {
        if (HasColumn(cols, "postc_" + key)) continue;
        db.exec(addSiteFlagSql(key));
        cols.push_back("postc_" + key);
    }
    tx.commit();
}

std::vector<std::string> AddMissingColumns(const std::string& path, const std::string& settingsJson) {
    SqliteConnection db(path, SqliteConnection::Mode::ReadWrite);
    const std::vector<std::string> existing = columnsOn(db, "content");
    if (existing.empty()) throw SqliteError(1, "no such table: content");
    std::unordered_set<std::string> keys;
    for (const auto& c : existing) keys.insert(ColumnKey(c));
    // List-page field references first, then site flags, then the field list, as a save does.
    std::vector<std::string> ran;
    auto plan = [&](const std::string& name, std::string stmt) {
        if (keys.insert(ColumnKey(name)).second) ran.push_back(std::move(stmt));
    };
    for (const auto& n : ListPageFieldsOf(settingsJson))
        plan(n, "ALTER table content ADD " + quoteIdentifier(n) + " TEXT");
    for (const auto& key : SiteKeysOf(settingsJson)) plan("postc_" + key, addSiteFlagSql(key));
    for (const auto& n : FieldColumnsOf(settingsJson))
        plan(n, "ALTER table content ADD " + quoteIdentifier(n) + " TEXT");
    // SQLite's limit would stop the additions part way, each one slower than the last: refuse
    // at once with its own message.
    if (keys.size() > static_cast<std::size_t>(sqlite3_limit(db.handle(), SQLITE_LIMIT_COLUMN, -1)))
        throw SqliteError(SQLITE_ERROR, "too many columns on content");
    // All or nothing: a failing statement rolls back the columns added before it.
    platform::SqliteTransaction tx(db);
    for (const auto& stmt : ran) db.exec(stmt);
    tx.commit();
    return ran;
}

std::string ColumnKey(std::string_view name) {
    return platform::utf8::lowerAscii(name);
}

bool SameColumnName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ColumnKey(a) == ColumnKey(b);
}

bool HasColumn(const std::vector<std::string>& columns, std::string_view name) {
    for (const auto& c : columns)
        if (SameColumnName(c, name)) return true;
    return false;
}

std::vector<std::string> PendingDownloads(const std::string& path, std::int64_t contentId, platform::Dialogs& dialogs) {
    std::vector<std::string> lines;
    SqlTable t;
    try {
        t = query(path, "select * from download where cid=" + std::to_string(contentId) + " and isupload=0");
    } catch (const SqliteError& e) {
        dialogs.message("查询download表出错：" + DbErrorText(e.what()), platform::kAppTitle);
        return lines;
    }
    const std::string id = std::to_string(contentId);
    if (t.empty())
        platform::WriteLog("TMyThread:内容ID:" + id + "查询download表，没有纪录", 0);
    else
        platform::WriteLog("TMyThread:内容ID:" + id + "开始查询download表，有纪录", 0);
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
        std::string local = t.text(r, "localurl");
        if (local.empty() || !platform::isRegularFile(local)) continue;
        replaceAll(local, "=", "<临时等号>");
        lines.push_back(local + "=" + t.text(r, "newurl"));
    }
    return lines;
}

std::string RowToText(const SqlTable& table) {
    if (table.rows.empty()) return {};
    std::string out;
    const auto& row = table.rows.front();
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        std::string v = row[i].asText();
        replaceAll(v, "\r", "<临时换行替换换行>");
        replaceAll(v, "\n", "<临时换行2替换换行2>");
        if (i) out += "\r\n";
        out += table.columns[i] + "=" + v;
    }
    return out;
}

std::string StoredForReadBack(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out += c;
        if (c == '&') out += '&';
    }
    return out;
}

std::string ReadBack(std::string stored) {
    replaceAll(stored, "&&", "&");
    return stored;
}

std::string SqlQuote(const std::string& text) {
    // Whole runs between quotes are copied at once: a record's body is large and rarely quoted.
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t from = 0;
    for (std::size_t q; (q = text.find('\'', from)) != std::string::npos; from = q + 1) {
        out.append(text, from, q + 1 - from);
        out += '\'';
    }
    out.append(text, from, std::string::npos);
    return out;
}

std::string DbErrorText(const std::string& message) {
    if (message.find("database is locked") != std::string::npos) return "数据库被锁定";
    std::string out;
    std::size_t i = 0;
    bool first = true;
    // Leading "[layer][tag]…" tags: the first becomes "数据库", the rest are dropped.
    while (i < message.size() && message[i] == '[') {
        auto close = message.find(']', i);
        if (close == std::string::npos) break;
        if (first) out += "数据库";
        first = false;
        i = close + 1;
    }
    out += message.substr(i);
    replaceAll(out, "ERROR", "错误");
    return out;
}

bool IsBusyFailure(const std::string& result) {
    if (result.rfind("fail|", 0) != 0) return false;
    return result.find("busy") != std::string::npos || result.find("locked") != std::string::npos;
}

namespace sql {
std::string SelectUrls() {
    return "select url from content";
}
std::string SelectListTitles() {
    return "select 列表标题 from content";
}

std::string InsertListAddress(const std::string& url, const std::vector<std::string>& columns,
                              const std::vector<std::string>& values) {
    std::string s = "insert into content(id,url,geturl,getc,postc";
    for (const auto& c : columns) s += "," + quoteIdentifier(c);
    s += ") values (null,'" + SqlQuote(url) + "',1,0,0";
    for (std::size_t i = 0; i < columns.size(); ++i) s += ",'" + (i < values.size() ? SqlQuote(values[i]) : "") + "'";
    s += ")";
    return s;
}

std::string InsertDirectAddress(const std::string& url) {
    return "insert into content(id,url,geturl) values (null,'" + SqlQuote(url) + "',1);";
}

std::string CollectAgain() {
    return "update content set getc=0 , postc=0;DELETE FROM download;UPDATE sqlite_sequence set seq=0 where "
           "name=\"download\"";
}

std::string CountWork(std::int64_t afterId) {
    return "select COUNT(*) AS total from content where geturl=1  and getc=0 and id>" + std::to_string(afterId);
}

std::string ClaimNext(std::int64_t afterId) {
    return "select * from content where geturl=1  and getc=0 and id>" + std::to_string(afterId) +
           " order by id asc limit 1";
}

std::string StoreRow(std::int64_t id, const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string s = "update content set getc=1";
    for (const auto& [col, val] : fields) s += "," + quoteIdentifier(col) + "='" + SqlQuote(val) + "'";
    s += " where id=" + std::to_string(id);
    return s;
}

BoundSql StoreRowBound(std::int64_t id, const std::vector<std::pair<std::string, std::string>>& fields) {
    BoundSql b;
    b.sql = "update content set getc=1";
    for (const auto& [col, val] : fields) {
        b.sql += "," + quoteIdentifier(col) + "=?";
        b.params.push_back(platform::SqlValue::of(val));
    }
    b.sql += " where id=" + std::to_string(id);
    return b;
}

BoundSql InsertDownloadBound(std::int64_t cid, const std::string& remote, const std::string& local,
                             const std::string& newUrl, bool thumbnail) {
    BoundSql b;
    b.sql = std::string("insert into download(id,cid,remoteurl,localurl,isupload,type,newurl) values (null,?,?,?,0,") +
            (thumbnail ? "'smallpic'" : "'pic'") + ",?)";
    b.params = {platform::SqlValue::of(cid), platform::SqlValue::of(remote), platform::SqlValue::of(local),
                platform::SqlValue::of(newUrl)};
    return b;
}

std::string SkipRow(std::int64_t id) {
    return "update content set getc=1,postc=1 where id=" + std::to_string(id);
}

std::string InsertDownload(std::int64_t cid, const std::string& remote, const std::string& local,
                           const std::string& newUrl, bool thumbnail) {
    return "insert into download(id,cid,remoteurl,localurl,isupload,type,newurl) values (null," + std::to_string(cid) +
           ",'" + SqlQuote(remote) + "','" + SqlQuote(local) + (thumbnail ? "',0,'smallpic','" : "',0,'pic','") +
           SqlQuote(newUrl) + "')";
}

namespace {
std::string review(bool on) {
    return on ? " and 人工审核 = '1' " : "";
}
}  // namespace

std::string CountPublish(const std::string& flag, std::int64_t afterId, bool manualReview) {
    return "select COUNT(*) AS total from content where getc=1  and " + quoteIdentifier(flag) + "=0 and id>" +
           std::to_string(afterId) + " " + review(manualReview);
}

std::string NextPublish(const std::string& flag, std::int64_t afterId, bool manualReview, bool random) {
    if (random)
        return "select * from content where getc=1 and " + quoteIdentifier(flag) + "=0 " + review(manualReview) +
               " order by RANDOM() limit 1";
    return "select * from content where getc=1 and " + quoteIdentifier(flag) + "=0 and id>" + std::to_string(afterId) +
           review(manualReview) + " order by id asc limit 1";
}

std::string MarkPublished(const std::string& flag, std::int64_t id) {
    return "update content set " + quoteIdentifier(flag) + "=1 where id=" + std::to_string(id);
}

std::string Thumbnail(std::int64_t id) {
    return "select * from download where cid=" + std::to_string(id) + " and type='smallpic' limit 1";
}
}  // namespace sql

}  // namespace tarvex::collect

#pragma once
// The task content database: one SQLite file per task ("data/<id>.db3") with the tables
// `content` (one row per content page: url, the flags geturl/getc/postc, one text column per
// field, per-site flags "postc_<key>") and `download` (one row per attachment).
// Every call opens and closes its own connection, so calls are safe from any thread; writes
// during a run are serialised by the caller's slot lock.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/ports.h"
#include "platform/sqlite_db.h"

namespace tarvex::collect {

using platform::SqlTable;

// The statement that creates `content` for a new task (the two default fields 标题, 内容).
extern const char* const kNewTaskContentSql;
// The statement that creates `download`.
extern const char* const kDownloadTableSql;
// The indexes of `download` by content row and by local file (kept when they exist): the
// content stage looks a file up by its local path for every attachment and publishing reads a
// row's files, so without them each look-up reads the whole table.
extern const char* const kDownloadIndexSql;
// Adds those indexes to a database made before they existed. Errors are logged and otherwise
// ignored: a database without them only works more slowly.
void EnsureDownloadIndexes(const std::string& path);
// The fixed columns every `content` table starts with, in order.
inline const std::vector<std::string> kFixedContentColumns = {"id", "url", "geturl", "getc", "postc"};

// Switches a task database to the write-ahead log, which stays recorded in the file (a run does
// this at its start, so a database gets it with its first run). Readers
// (the data browser, an export, a backup) then read while a run writes, and a commit writes the
// log alone instead of a journal and the database. False, with a log line, when the file cannot
// be switched (missing, held, read-only): it keeps its rollback journal and works as before.
bool UseWriteAheadLog(const std::string& path);
// Relaxes the commit sync of a connection that writes collected rows (list-stage addresses,
// content-stage records): on a database with the write-ahead log, commits are no longer synced
// to the disk one by one (the log is synced at each checkpoint). A crash of the program still
// loses no committed row; a power cut may undo the last commits before the log's next
// checkpoint, and the next run collects those rows again. A rollback-journal database keeps the
// full sync. Errors are ignored: the connection then syncs as before.
void RelaxCommitSync(platform::SqliteConnection& db);
// A connection that keeps a task database open for the length of a run, so the write-ahead log
// is not checkpointed and removed each time a statement's own connection closes. Null when the
// file cannot be opened. Closing it (the run's end) checkpoints the log into the file.
std::unique_ptr<platform::SqliteConnection> HoldOpenForRun(const std::string& path);

// Path of a task's database: dataFolder + "/" + id + ".db3".
std::string TaskDbPath(const std::string& dataFolder, std::int64_t taskId);

// Creates an empty database file. Refuses an existing file with path + "的数据库已存在1".
bool CreateTaskDb(const std::string& path, platform::Dialogs& dialogs);
// Runs a script; throws platform::SqliteError on failure. The file must exist.
void execScript(const std::string& path, const std::string& sql);
// Runs a script; "succ|" or "fail|" + SQLite's message. Throws when the file cannot be opened.
std::string tryExecScript(const std::string& path, const std::string& sql);
// Runs a query and copies all rows; throws platform::SqliteError on failure. `busyTimeoutMs`
// is how long it waits for a database another connection holds (0: fails at once as busy).
SqlTable query(const std::string& path, const std::string& sql, const std::vector<platform::SqlValue>& params = {},
               int busyTimeoutMs = 2000);

// One statement with its values bound as parameters, so a value reaches the database whole
// (a NUL byte or any other character included) and is stored exactly as given.
struct BoundSql {
    std::string sql;
    std::vector<platform::SqlValue> params;
};
// Runs one bound statement on an open connection; throws platform::SqliteError.
void runBound(platform::SqliteConnection& db, const BoundSql& statement);
// Runs a query holding the database's write lock while it reads: it fails busy or locked exactly
// when a write would, so a stage that reads what it is about to change (the row it claims, the
// record it publishes and marks) learns of a database held by another writer before it does work
// whose result it could not store. Readers of a database with the write-ahead log are never
// held up otherwise. `busyTimeoutMs` as for query. Throws platform::SqliteError.
SqlTable queryForUpdate(const std::string& path, const std::string& sql, int busyTimeoutMs = 2000);
// Column names of a table in order; on error a message box and the names read so far.
std::vector<std::string> TableColumns(const std::string& path, const std::string& table, platform::Dialogs& dialogs);

// Column names of a table in order; throws platform::SqliteError when they cannot be read.
std::vector<std::string> ReadTableColumns(const std::string& path, const std::string& table);

// Runs `fn` again while it throws a busy or locked platform::SqliteError, until `maxWait` has
// passed or `stopped` (may be empty) says so; then, and on any other error, the error is
// thrown. Each attempt itself waits for the connection's busy time-out.
template <class F>
auto RetryWhileBusy(F&& fn, const std::function<bool()>& stopped, std::chrono::milliseconds maxWait) -> decltype(fn()) {
    const auto until = std::chrono::steady_clock::now() + maxWait;
    for (;;) {
        try {
            return fn();
        } catch (const platform::SqliteError& e) {
            if (!e.isBusy() || std::chrono::steady_clock::now() >= until || (stopped && stopped())) throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// Field columns a settings document asks for: every field title of "fieldsAll" in order,
// then the list-page field names referenced as "{DD:字段=name}" in the list settings.
std::vector<std::string> FieldColumnsOf(const std::string& settingsJson);
// The two parts of that list on their own: the titles of "fieldsAll" in order (repeats kept),
// and the list-page field names in order of appearance (each once).
std::vector<std::string> FieldTitlesOf(const std::string& settingsJson);
std::vector<std::string> ListPageFieldsOf(const std::string& settingsJson);
// Site keys of the site-group settings ("post_morepost" with "check1" on), in order. A key names
// the flag column "postc_" + key, so only valid keys count, each once without regard to case.
std::vector<std::string> SiteKeysOf(const std::string& settingsJson);
// A site key (mark) that can name a flag column: A–Z, a–z, 0–9 and "_", at least one.
bool IsValidSiteMark(const std::string& mark);

// Creates `content` (pasted-task form, one TEXT column per field), `download` and the
// per-site flag columns, in one transaction. Throws platform::SqliteError on failure, leaving
// no table behind.
void CreateContentTables(const std::string& path, const std::string& settingsJson);
// Adds the columns a saved settings document needs and the table lacks (letter case ignored,
// as SQLite does); never drops any. All or none: on failure (platform::SqliteError, also when
// the table is missing) no column is added. Returns the statements it ran.
std::vector<std::string> AddMissingColumns(const std::string& path, const std::string& settingsJson);

// A column name with ASCII letters lowered: two names are the same column to SQLite exactly when
// their keys are equal.
std::string ColumnKey(std::string_view name);
// Whether two column names are the same column to SQLite (equal ignoring ASCII letter case).
bool SameColumnName(std::string_view a, std::string_view b);
// Whether `columns` holds `name` in that sense.
bool HasColumn(const std::vector<std::string>& columns, std::string_view name);

// Attachments of a content row not yet uploaded whose local file exists, as lines
// localurl + "=" + newurl ("=" inside localurl written "<临时等号>").
std::vector<std::string> PendingDownloads(const std::string& path, std::int64_t contentId, platform::Dialogs& dialogs);
// The first row as "column=value" lines joined by CR LF; CR and LF inside values become the
// line-break markers so every value stays on one line. Values are read back exactly.
std::string RowToText(const SqlTable& table);
// A value as it must be stored for the read-back rule ("&&" reads as "&") to return it
// unchanged: every "&" doubled. For what a person typed or imported.
std::string StoredForReadBack(const std::string& text);
// The read-back rule: every "&&" of a stored value as "&".
std::string ReadBack(std::string stored);
// Doubles every "'" so a value can stand between single quotes in SQL.
std::string SqlQuote(const std::string& text);
// A database error message as the user sees it.
std::string DbErrorText(const std::string& message);

// True when an tryExecScript result failed because the database was busy or locked.
bool IsBusyFailure(const std::string& result);

// Statements of the collection stage (exact text; values pass through SqlQuote).
namespace sql {
std::string SelectUrls();
std::string SelectListTitles();
// Insert of a content address found on a list page: `columns` are the content columns after
// the fifth that do not begin with "postc_"; `values` their list-page values ("" when none).
std::string InsertListAddress(const std::string& url, const std::vector<std::string>& columns,
                              const std::vector<std::string>& values);
std::string InsertDirectAddress(const std::string& url);
std::string CollectAgain();
std::string CountWork(std::int64_t afterId);
std::string ClaimNext(std::int64_t afterId);
// Store of a collected row: pairs of (column, value) in field order.
std::string StoreRow(std::int64_t id, const std::vector<std::pair<std::string, std::string>>& fields);
// The same store with the values bound: what a run executes.
BoundSql StoreRowBound(std::int64_t id, const std::vector<std::pair<std::string, std::string>>& fields);
std::string SkipRow(std::int64_t id);
// The attachment row with its values bound: what a run executes.
BoundSql InsertDownloadBound(std::int64_t cid, const std::string& remote, const std::string& local,
                             const std::string& newUrl, bool thumbnail = false);
std::string InsertDownload(std::int64_t cid, const std::string& remote, const std::string& local,
                           const std::string& newUrl, bool thumbnail = false);
// Publisher statements; `flag` is "postc" or "postc_<key>"; manualReview adds the 人工审核 filter.
std::string CountPublish(const std::string& flag, std::int64_t afterId, bool manualReview);
std::string NextPublish(const std::string& flag, std::int64_t afterId, bool manualReview, bool random);
std::string MarkPublished(const std::string& flag, std::int64_t id);
std::string Thumbnail(std::int64_t id);
}  // namespace sql

}  // namespace tarvex::collect

#pragma once
// The start addresses of a task's list stage: single addresses, composed number ranges
// ("列表合成=") and text files ("文本导入="), expanded in order without duplicates, and the
// direct mode in which those addresses are content pages inserted straight into the task
// database.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "collect/run_context.h"
#include "platform/sqlite_db.h"

namespace tarvex::collect {

// Most addresses one composition entry may produce; a larger range is cut with a warning.
inline constexpr long long kMaxComposedAddresses = 1000000;
// Largest address file a text import reads.
inline constexpr std::size_t kMaxListFileBytes = 64u * 1024u * 1024u;

// The text of an address file, or why it was not read ("" for a missing file, which the
// list stage passes over silently).
class ListFileText {
public:
    static ListFileText ok(std::string text) { return ListFileText(std::move(text), {}); }
    static ListFileText failed(std::string why) { return ListFileText(std::nullopt, std::move(why)); }
    explicit operator bool() const { return m_text.has_value(); }
    const std::string& operator*() const { return *m_text; }
    const std::string& error() const { return m_error; }

private:
    ListFileText(std::optional<std::string> text, std::string error)
        : m_text(std::move(text)), m_error(std::move(error)) {}
    std::optional<std::string> m_text;
    std::string m_error;
};

// Reads an address file: only a regular file of at most `maxBytes`. Never blocks on a FIFO or
// a device, which are refused.
ListFileText ReadListFile(const std::string& path, std::size_t maxBytes = kMaxListFileBytes);

// Addresses of the list settings' "More_urls", one per line joined by CR LF. Relative import
// paths are taken from the program folder. Problems that do not stop the expansion (a cut
// range, a step of 0 read as 1, an unreadable entry) are added to `warnings` when given.
std::string ListSources(const std::string& listSettingsJson, const std::string& programFolder,
                        std::vector<std::string>* warnings = nullptr);
// True when the list settings are empty or name no list area ("More_begin" or "More_end" empty).
bool IsDirectMode(const std::string& listSettingsJson);
// Splits a CR LF / LF joined address text into its non-empty lines.
std::vector<std::string> SplitLines(const std::string& text);

// Inserts the addresses as queued content rows, in batches of at most 1000, each in one
// transaction under the slot database lock, skipping known addresses. Waits `intervalMs`
// before each batch and honours pause and stop. Returns the inserted count; the run's
// counters get the inserted and the failed ones.
int InsertDirectAddresses(RunContext& run, const std::vector<std::string>& addresses, int intervalMs);

// Loads every address of the task database into run.known ("&&" read as stored) and
// returns the row count. Throws platform::SqliteError when the addresses cannot be read.
std::size_t LoadKnownUrls(RunContext& run);

// Reads the stored address of a row of the task database, for KnownUrls to confirm a hash
// hit. Keeps one connection and statement for the run's thread; nullopt when it cannot read.
class StoredUrlReader {
public:
    explicit StoredUrlReader(std::string path);
    ~StoredUrlReader();
    std::optional<std::string> operator()(std::int64_t rowId);
    // A reader for KnownUrls::contains that calls this object (which must outlive it).
    KnownUrls::RowReader reader();

private:
    std::string m_path;
    std::unique_ptr<platform::SqliteConnection> m_db;
    std::unique_ptr<platform::SqliteStatement> m_select;
};

// One new content row of the list stage: its address and the values of `columns`.
struct PendingRow {
    std::string url;
    std::vector<std::string> values;
};

struct InsertOutcome {
    int inserted = 0;
    int failed = 0;
    std::vector<std::string> errors;  // the message of each refused row, in order
    std::string pageError;            // set when nothing could be stored (the file, the table)
};

// Inserts the rows (geturl 1, getc 0, postc 0, one value per column) with one prepared
// statement in one transaction under the slot database lock; a database held by another
// connection is waited for (RetryWhileBusy). A refused row fails alone. Every address joins
// run.known: stored ones with their row id, refused ones as known without a row.
InsertOutcome InsertAddresses(RunContext& run, const std::vector<PendingRow>& rows,
                              const std::vector<std::string>& columns);

}  // namespace tarvex::collect

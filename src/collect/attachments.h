#pragma once
// Attachment download (`downloadAttachments`): the images of a field value, or the file its
// whole value names, fetched into the task's attachment folder and the value rewritten to the
// files' future addresses; their `download` rows are written with the record, in the same
// transaction, so a record and its files are stored together or not at all. Runs on a content
// worker's thread without a lock. A file the site does not give leaves its tag as it was; a
// file that cannot be written here (a full disk, a folder that cannot be made) is a write
// failure, and a record with one must not be stored.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "collect/image_processing.h"
#include "collect/task_db.h"
#include "engine/field_rule.h"
#include "engine/random_source.h"
#include "engine/text_tokens.h"
#include "platform/ports.h"

namespace tarvex::collect {

// The record and run a field's attachments belong to.
struct AttachmentJob {
    std::int64_t taskId = 0;
    std::int64_t rowId = 0;                         // content row id: the `download` rows' cid
    std::string pageUrl;                            // the content address: base of relative addresses, the Referer
    std::string dbPath;                             // the task database
    std::string programFolder;                      // ends with "/"
    std::string savePath;                           // "other_savepath"; "" = the program folder's data/<task id>/
    std::string cookie;                             // the run's "cookie" option; sent only to the content page's host
    std::mutex* dbLock = nullptr;                   // the slot lock; not owned
    std::function<void(const std::string&)> label;  // the slot's second label; may be empty
    std::function<bool()> cancelled;                // the run's stop; may be empty
    const platform::Clock* clock = &platform::SystemClock::instance();
    engine::RandomSource* random = &engine::DefaultRandom();
    ImageOps imageOps;
};

// What happened to one field's attachments.
struct AttachmentOutcome {
    int stored = 0;          // files downloaded (or reused) and recorded
    int failed = 0;          // files that could not be had
    bool cancelled = false;  // a transfer was ended by the run's stop
    std::string writeError;  // the first file that could not be written here, with why; "" for none
};

class Placement;

// The files of one record: the `download` rows to write with it, whether it has its thumbnail,
// and the files it already has (an address named twice is fetched once). Holds the files'
// names until the record is stored or given up, so no other record takes them meanwhile.
// One per record, used on one thread.
class RecordFiles {
public:
    RecordFiles();
    ~RecordFiles();
    RecordFiles(const RecordFiles&) = delete;
    RecordFiles& operator=(const RecordFiles&) = delete;

    bool hasThumbnail = false;
    // The first attachment of the record that could not be written here (see
    // AttachmentOutcome::writeError), kept over all its fields; "" for none.
    std::string writeError;
    // A file the record has: where it lies and the address it gets on the site.
    struct File {
        std::string localPath;
        std::string newUrl;
        bool thumbnail = false;
    };
    // Each file once, in the order it was had (for callers that publish without a database).
    const std::vector<File>& files() const { return m_files; }
    // The `download` inserts with their values bound, in the order the files were had.
    const std::vector<BoundSql>& statements() const { return m_statements; }
    // Writes the rows on their own (under the job's slot lock, one transaction): "" on
    // success, else the database's message. For callers that store no record with them.
    std::string store(const AttachmentJob& job) const;

private:
    friend struct RecordFilesAccess;
    std::vector<BoundSql> m_statements;
    std::vector<File> m_files;
    std::vector<std::unique_ptr<Placement>> m_held;
    // (field title, remote) → local, new name: each field names its files by its own rules.
    std::map<std::pair<std::string, std::string>, std::pair<std::string, std::string>> m_had;
    std::map<std::string, std::string> m_localOf;  // local path → the remote address it holds
};

// `downloadAttachments` over one field value (rewritten in place). `fieldValues` are the
// record's values so far (for field references in name and folder templates).
AttachmentOutcome downloadAttachments(const AttachmentJob& job, const engine::FieldRule& rule, std::string& value,
                                      const engine::FieldValueList& fieldValues, RecordFiles& files);

// The address as a download sends it: characters an address may not carry are %-encoded
// (UTF-8), while escapes already in it ("%20") stay as they are.
std::string DownloadAddress(const std::string& remote);

}  // namespace tarvex::collect

#pragma once
// Attachment download (`downloadAttachments`): the images of a field value, or the file its
// whole value names, fetched into the task's attachment folder, recorded in the `download`
// table and the value rewritten to the files' future addresses. Runs on a content worker's
// thread; takes the slot lock only around `download` inserts. Failures are logged and never
// decide whether the record is stored.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "collect/image_processing.h"
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
};

// `downloadAttachments` over one field value (rewritten in place). `fieldValues` are the
// record's values so far (for field references in name and folder templates); `hasThumbnail`
// says whether the record already has its thumbnail and becomes true when one is made here.
AttachmentOutcome downloadAttachments(const AttachmentJob& job, const engine::FieldRule& rule, std::string& value,
                                      const engine::FieldValueList& fieldValues, bool& hasThumbnail);

// The address as a download sends it: characters an address may not carry are %-encoded
// (UTF-8), while escapes already in it ("%20") stay as they are.
std::string DownloadAddress(const std::string& remote);

}  // namespace tarvex::collect

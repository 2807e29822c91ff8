#pragma once
// What keeps a record from reaching a site twice: the stable key every publishing request
// carries (the interface answers a key it already stored with the post it made), the task's
// pending-success file (successes whose flag could not be written, applied before the next
// publish pass), and the `download` rows' "isupload" mark for files already on the site.
// Any thread; the file and database calls never throw.
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "publish/attachment_upload.h"

namespace tarvex::publish {

// The form field that carries the key on every "tarvex=AddInfo" request.
inline constexpr const char* kRecordKeyField = "tarvex_key";

// A stable hexadecimal key (32 characters) of a record for one site: the task id, the row's
// source address and the site's mark ("" for the main site). The same on every retry.
std::string RecordKey(std::int64_t taskId, const std::string& recordUrl, const std::string& siteMark);

// The task's pending-success file beside its database: "data/<id>.db3" → "data/<id>.db3.published".
// One line per success whose flag update failed: flag column, record id and the record's key
// (RecordKey), separated by tabs; the key tells the record apart from a later one of that id.
std::string PendingSuccessPath(const std::string& dbPath);
// Appends one success and flushes it to disk; false with the reason in `error`.
bool RememberPendingSuccess(const std::string& dbPath, const std::string& flag, std::int64_t id,
                            const std::string& recordKey, std::string& error);
// The successes the file holds (flag column, record id).
std::set<std::pair<std::string, std::int64_t>> ReadPendingSuccesses(const std::string& dbPath);
// Hands every pending success to `settle`, which writes its flag (or finds it belongs to no
// record any more) and says whether the line is done; the file then keeps only the others, and
// is removed when none is left. Returns the successes still pending.
std::set<std::pair<std::string, std::int64_t>> ApplyPendingSuccesses(
    const std::string& dbPath,
    const std::function<bool(const std::string& flag, std::int64_t id, const std::string& recordKey)>& settle);

// The files of one record whose local file exists, in `download` order. `notUploadedOnly`
// leaves out the rows marked "isupload" (files a former run already put on the site).
std::vector<Attachment> RecordAttachments(const std::string& dbPath, std::int64_t recordId, bool notUploadedOnly);
// Marks the record's rows of these files uploaded, under `lock` when given; "" or the error.
std::string MarkUploaded(const std::string& dbPath, std::mutex* lock, std::int64_t recordId,
                         const std::vector<Attachment>& files);

}  // namespace tarvex::publish

#pragma once
// The content worker: one claimed row of the task database fetched with its pages and
// multi-level pages, every field extracted, post-processed and filtered, its attachments
// downloaded, and the record stored with getc=1. The field loop is shared with
// `tarvex-cli extract`, so the command shows exactly what a run would store.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "collect/content_job.h"
#include "engine/field_extract.h"
#include "engine/page_list.h"

namespace tarvex::collect {

// What the field loop made of one content page.
struct CollectedRecord {
    std::vector<std::pair<std::string, std::string>> values;  // field title → value as stored, field order
    std::string filter;  // "过滤|…" when a field rejected the record; the values are then empty
    std::string error;   // the first extraction error (the field then came out empty), "" for none

    bool rejected() const { return !filter.empty(); }
    // "下次不采集": the row is marked collected and published and never collected again.
    bool finalRejection() const;
    // The filter text after "过滤|".
    std::string reason() const;
};

// What the field loop needs besides the rules and the pages.
struct RecordSteps {
    std::int64_t taskId = 0;
    std::string url;            // the content address
    std::string programFolder;  // for plug-ins; ends with "/"
    // Downloads the attachments of one field and rewrites its value; empty = no downloads.
    std::function<void(const engine::FieldRule& rule, std::string& value, const engine::FieldValueList& values)>
        attachments;
    engine::ExtractEnv env;
    // false: no filter rejects the record and empty values are kept (the single-page mode).
    bool applyFilters = true;
    // Sees each field's value once its attachments are in, before its plug-ins run.
    std::function<void(const std::string& title, const std::string& value)> onField;
    // Names the writer in the field loop's log lines.
    std::string logName = "TGetThread";
};

// The field loop: each field of "fieldsAll" in order extracted from the page list, its line
// breaks restored, filtered (an empty first field, or an empty field with "check_null", rejects
// the record), its attachments downloaded, then its plug-ins run for the fields after it.
// `fieldValues` starts as the row's columns (name=value) and gains each field's value.
CollectedRecord collectRecord(const engine::SettingsJson& settings, const engine::PageList& pages,
                              engine::FieldValueList fieldValues, const RecordSteps& steps);

// The page list of a content page as a run builds it: `page` (already wrapped in "<tarvex>"…)
// with its pages and its multi-level pages fetched through `fetch` ("succ:"/"fail:" like
// HttpGet). `sleep` spaces page fetches ("Mul_time"); `show` may be empty.
engine::PageList contentPageList(const std::string& url, const std::string& page, const std::string& settingsJson,
                                 const std::string& options,
                                 const std::function<std::string(const std::string&, const std::string&)>& fetch,
                                 const std::function<void(int)>& sleep = {},
                                 const std::function<void(const std::string&)>& show = {});

// The content worker (`ContentWorker`) for one claimed row. Reports to
// the slot's pane and second label, writes the row and its `download` rows under the slot
// lock, and records the outcome in the run's tally. A stop of the run ends its transfers; a
// row whose transfers were cut short is left queued. True when the row was stored (also as
// skipped for good). Never throws.
bool collectContentRow(const ContentJob& job);

}  // namespace tarvex::collect

#pragma once
// The publish stage of a run (`publishRecords`): every collected, unpublished record goes to
// each publishing target (the main site, then the sites of the site group) through the
// target's publish module, with its attachments inline, uploaded first over the web upload
// interface, or stored first by FTP; a success sets the target's flag column. Runs on the
// runner thread, reports to the run's slot page, obeys pause and stop. Never throws.
#include <string>
#include <utility>
#include <vector>

#include "collect/run_context.h"
#include "publish/attachment_upload.h"

namespace tarvex::publish {

// The publishing request's User-Agent unless a module's "juseragent" replaces it.
inline constexpr const char* kPublishUserAgent =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 5.1; SV1; Maxthon; .NET CLR 1.1.4322)";

// `columns`: the content table's column names in order (the sixth is the title shown).
// Nothing happens when `publishTicked` is false or a stop was requested.
void publishRecords(collect::RunContext& run, const std::vector<std::string>& columns, bool publishTicked);

// One record outside the task database (the single-page mode): its values by field title, the
// address it came from, the target column, its downloaded files and thumbnail address.
struct SingleRecord {
    std::vector<std::pair<std::string, std::string>> values;
    std::string url;
    std::string columnId;
    std::vector<Attachment> files;
    std::string thumbnail;
};

// Publishes one record with the module "PostRuleName" of `run.settingsJson`, its attachments
// sent as "other_autoupload" and "other_UploadSet" say. Reports to the run's pane; true when
// the interface answered success. Nothing is marked anywhere. Never throws.
bool publishSingleRecord(collect::RunContext& run, const SingleRecord& record);

// Waits the interval before a record: round(ms / 10) steps of 10 ms (ties to even); from step 51
// on, every 50th step ends the wait early when the run is paused or stopping. Returns the steps.
int IntervalSteps(long long intervalMs);

}  // namespace tarvex::publish

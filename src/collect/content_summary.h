#pragma once
// The content stage's account of itself: rows stored, rows rejected and why, and for every
// field how often it came out empty, compared with the task's previous run so a rule that a
// site's new markup broke is noticed. Workers record into a ContentTally (thread-safe); the
// runner turns it into the summary at the end of the stage and keeps the counts in the task's
// folder for the next run.
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvex::collect {

// Per-field empty counts over the stored rows of one run.
struct FieldCounts {
    std::size_t stored = 0;
    std::vector<std::pair<std::string, std::size_t>> empty;  // field title → rows where it was empty, field order
};

class ContentTally {
public:
    // A stored row with its values in field order.
    void stored(const std::vector<std::pair<std::string, std::string>>& values);
    // A row not stored (or stored as skipped for good), with the reason shown to the user.
    void rejected(const std::string& reason);

    FieldCounts fields() const;
    std::size_t rejectedCount() const;
    // Reasons with their counts, most frequent first.
    std::vector<std::pair<std::string, std::size_t>> reasons() const;

private:
    mutable std::mutex m_lock;
    FieldCounts m_fields;
    std::map<std::string, std::size_t> m_reasons;
    std::size_t m_rejected = 0;
};

// A field counts as broken when it was filled in most rows of the previous run (empty in at
// most kUsuallyFilled of them) and is empty in at least kMostlyEmpty of this run's rows, both
// runs having stored at least kMinRowsToCompare rows.
inline constexpr double kUsuallyFilled = 0.2;
inline constexpr double kMostlyEmpty = 0.5;
inline constexpr std::size_t kMinRowsToCompare = 5;

// Fields of `now` that were usually filled in `previous` and are mostly empty now.
std::vector<std::string> BrokenFields(const FieldCounts& now, const std::optional<FieldCounts>& previous);

// A field empty in at least kRunMostlyEmpty of the rows this run stored is flagged on its own,
// whatever earlier runs did: a rule that never matched on this site is as broken as one the
// site's new markup broke.
inline constexpr double kRunMostlyEmpty = 0.9;
// Those fields, in field order; none when the run stored no rows.
std::vector<std::string> MostlyEmptyFields(const FieldCounts& now);
// "字段[内容]在本次采集中全部为空，规则可能已失效", or with the share ("…中95%为空，…") when some
// rows had a value.
std::string MostlyEmptyLine(const std::string& title, std::size_t empty, std::size_t stored);

// The summary, one line per part: "内容采集小结：…", the rejection reasons when there are any, and
// the empty share of every field with the broken ones marked, then a MostlyEmptyLine per
// field of MostlyEmptyFields.
std::vector<std::string> SummaryLines(const ContentTally& tally, const std::optional<FieldCounts>& previous);

// The counts file of a task: the program folder's "data/<task id>/field_stats.json".
std::string FieldStatsPath(const std::string& programFolder, std::int64_t taskId);
// Reads a counts file; nullopt when missing or unreadable.
std::optional<FieldCounts> LoadFieldCounts(const std::string& path);
// Writes a counts file (through a temporary file, so a crash never leaves half a file).
bool SaveFieldCounts(const std::string& path, const FieldCounts& counts);

// Ends a content stage: the summary lines compared with the counts kept at `statsPath`, and
// this run's counts kept there when it stored enough rows to be compared with next time.
std::vector<std::string> FinishContentSummary(const ContentTally& tally, const std::string& statsPath);

}  // namespace tarvex::collect

#pragma once
// The list stage over list pages: every list page (and the pages of its pager) is fetched, its
// list area cut out and optionally rewritten, the content links in it found by the user's link
// pattern or automatically, filtered, made absolute, checked against the addresses and titles
// the task already has, and inserted as queued content rows with the list-page field values.
// Runs on the runner's thread; reports to the run's slot page and obeys its pause and stop.
#include <cstdint>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "collect/list_sources.h"
#include "collect/pagination.h"
#include "collect/run_context.h"
#include "engine/random_source.h"

namespace tarvex::collect {

// The list settings ("Morepage") the list stage reads, with the stage's own defaults.
struct ListSettings {
    std::string begin, end;              // More_begin, More_end: around the list area
    std::string rewriteFrom, rewriteTo;  // More_begin_regex1, More_begin_regex2
    std::string linkPattern;             // More_url_regex; "" finds links automatically
    std::string include, exclude;        // More_include, More_exclude (comma lists)
    bool noReferer = false;              // More_check_referer
    long long timeoutSeconds = 20;       // More_readtimeout; 0 or missing reads as 20
    bool uniqueTitles = false;           // More_check_repeat_title
    int sort = 0;                        // More_sort: 0 as found, 1 reversed, 2 random
    std::string pagination;              // More_mulpage, "" when the list has no pager

    static ListSettings parse(const std::string& json);
};

// Per-call options of a list page fetch: the run's option block, then "referer=无来源" when the
// list is fetched without a referer, then the time-out typed in seconds as "readtimeout2=" in
// milliseconds when it is not the default 20 s.
std::string ListFetchOptions(const std::string& header, const ListSettings& list);

// The group name that carries a list-page field name inside a pattern: "U" and the four
// upper-case hex digits of each UTF-16 unit ("作者" -> "U4F5C8005").
std::string FieldGroupName(const std::string& name);

// What one run of the list stage keeps from page to page.
struct ListRunState {
    std::vector<std::string> columns;  // content columns, in table order
    long long limit = 99999999;        // "other_url_max"; 0 or empty means no limit
    int intervalMs = 0;                // "other_time1"
    long long insertedCount = 0;       // rows inserted in this run
    int listUrlCount = 0;              // number of list addresses
    // Titles already stored or queued ("列表标题"), loaded on first need.
    std::unordered_set<std::string> knownTitles;
    bool titleCheckActive = false;
    engine::RandomSource* random = nullptr;  // "More_sort" 2; nullptr = the default source
    // Confirms known-address hash hits against the database; nullptr = a hit counts as known.
    StoredUrlReader* storedUrls = nullptr;
};

// What one list page gave.
struct ListPageResult {
    int found = 0;     // links matched in the list area
    int inserted = 0;  // rows inserted
    int failed = 0;    // new links the database refused
};

// `collectListPage`: extracts and inserts the content links of one fetched list page. Inserts run
// under the run's slot database lock; every new address joins run.known. The run's counters
// get the inserted and the failed rows.
ListPageResult collectListPage(RunContext& run, ListRunState& state, const std::string& page, const ListSettings& list,
                               int pageIndex, const std::string& pageAddress);

// `collectListPages`: the list stage over `listUrls` with the given fetch (HttpGet in a real run).
// Returns when every list page is done, the run's limit is reached, or a stop is requested; or
// at once, with the reason in the run's counters, when the content table's columns cannot be
// read.
void collectListPages(RunContext& run, const std::vector<std::string>& listUrls, const PageFetcher& fetch,
                      engine::RandomSource* random = nullptr);
// The same over HttpGet: the runner's list hook.
void collectListPages(RunContext& run, const std::vector<std::string>& listUrls);

// What "测试列表" shows for one fetched list page: the list area (its byte range in the page and
// its text after the area rewrite), the links it yields with their list-page fields, and plain
// warnings for rules that will not do what the user expects. Stores nothing; any thread.
inline constexpr const char* kNoAddressMarkerWarning =
    "链接规则中没有{DD:采集网址}（或它在规则的最前面），规则不会被使用，将自动提取区域中的所有链接";
inline constexpr const char* kAutomaticLinksNotice = "未指定链接规则，将自动提取区域中的所有链接";
inline constexpr const char* kDirectModeWarning =
    "列表区域的前边字符或后边字符为空：不会从列表页提取链接，列表网址本身将作为内容页采集";

struct ListLinkPreview {
    std::string link;                                         // as found in the area
    std::string url;                                          // made absolute
    std::vector<std::pair<std::string, std::string>> fields;  // list-page field → value
    bool filtered = false;                                    // dropped by "网址包含" / "不可包含"
    // Byte range of the link in the page; npos when the area was rewritten.
    std::size_t begin = std::string::npos, end = std::string::npos;
};

struct ListPagePreview {
    bool directMode = false;  // no list area: the list address itself is collected
    bool areaFound = false;
    std::size_t areaBegin = std::string::npos, areaEnd = std::string::npos;
    std::string area;  // after the rewrite
    std::string areaError, patternError;
    bool automaticLinks = false;
    std::vector<ListLinkPreview> links;
    std::vector<std::string> warnings;
};
ListPagePreview PreviewListPage(const std::string& page, const ListSettings& list, const std::string& pageAddress);

}  // namespace tarvex::collect

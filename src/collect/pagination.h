#pragma once
// Pagination of content and list pages: reading the page addresses out of a page's pager
// without fetching anything (`collectPagerPages`), and following the pages of a content page into
// one joined text, the page list (`collectContentPages`). The page fetch arrives as a function, so the
// same code runs over HTTP and over pages held in memory. Safe on any thread.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/ports.h"

namespace tarvex::collect {

// Fetches one page: "succ:" + page text or "fail:" + message, the way HttpGet answers.
using PageFetcher = std::function<std::string(const std::string& address, const std::string& options)>;

// Which pages a pager names. The window stores exactly one radio key as "-1"; settings with
// none read as the window's default, the smart mode.
enum class PagerMode {
    Smart,         // "Mul_radio_1": pages found page by page
    AddressMatch,  // "Mul_radio_2": stored with its pattern "Mul_regex"; followed as Smart
    AllListed,     // "Mul_radio_3": the first page links every page
};

// The pagination settings of "mulpage", "More_mulpage" or a multi-level page entry.
struct PagerSettings {
    std::string begin;     // "Mul_begin": text before the pager area
    std::string end;       // "Mul_end": text after it
    std::string include;   // "Mul_include": comma list every page address must contain
    std::string exclude;   // "Mul_exclude": comma list no page address may contain
    long long max = 0;     // "Mul_max" as stored; how 0 reads depends on the stage (below)
    long long timeMs = 0;  // "Mul_time": pause after a fetch while more pages are pending
    PagerMode mode = PagerMode::Smart;
    std::string regexBegin;  // "Mul_regex_begin": pager area rewrite, what to find
    std::string regexEnd;    // "Mul_regex_end": its replacement
    std::string regex;       // "Mul_regex": stored for the address-matching mode
};

// Reads settings from their JSON text (numbers may be stored as numbers or as text). Empty
// text, or text that is not a JSON object, gives nullopt.
std::optional<PagerSettings> ParsePagerSettings(const std::string& json);

// "Mul_max" has three readings: the window stores 0 for "no limit"; content pages read
// missing or below 1 as 999 and limit only below that; list pages read 0 or missing as 999999.
inline constexpr long long kContentPagesUnlimited = 999;
inline constexpr long long kListPagesUnlimited = 999999;
long long ContentPageLimit(const PagerSettings& settings);
long long ListPageLimit(const PagerSettings& settings);

// The page addresses of the pager in `page`, the page's own `address` first, each once
// (compared without regard to case), absolute, filtered by include and exclude.
std::vector<std::string> collectPagerPages(const PagerSettings& settings, std::string_view page,
                                           const std::string& address);

// Orders page addresses shorter first, then by text, so "p_9.html" comes before "p_10.html".
void SortPageAddresses(std::vector<std::string>& addresses);
// The texts of fetched pages (texts[i] belongs to addresses[i]) in the order of their sorted
// addresses, joined by `separator`; texts without an address are left out.
std::string JoinInAddressOrder(const std::vector<std::string>& addresses, const std::vector<std::string>& texts,
                               std::string_view separator);

// The walk over a pager: every page address found so far, each once without regard to case,
// and those not fetched yet in the order they were found. Lookups are hashed, so a pager of
// thousands of pages costs no more per page than one of ten.
class PagerWalk {
public:
    // `firstPager` is collectPagerPages of the first page; its first entry, the page itself, counts
    // as fetched.
    explicit PagerWalk(const std::vector<std::string>& firstPager);

    bool done() const { return m_pending.empty(); }
    // Pages still to fetch; the caller may reorder them (SortPageAddresses).
    std::vector<std::string>& pending() { return m_pending; }
    // Takes the first pending page and counts it as fetched.
    std::string takeNext();
    // Adds the addresses of a fetched page's pager that were not found before.
    void addFound(const std::vector<std::string>& pager);
    // Fetched pages in fetch order, the first page first.
    const std::vector<std::string>& fetched() const { return m_fetched; }
    std::size_t foundCount() const { return m_seen.size(); }

private:
    std::unordered_set<std::string> m_seen;  // lower-cased
    std::vector<std::string> m_pending;
    std::vector<std::string> m_fetched;
};

// What collectContentPages needs besides the page itself.
struct PageFollow {
    PageFetcher fetch;  // required
    // Single-page mode: progress lines for the main window's run log page; empty = none.
    std::function<void(const std::string&)> show;
    // Waits "Mul_time" between fetches; empty = a plain sleep.
    std::function<void(int ms)> sleep;
    // Where the all-listed mode reports a page count mismatch; nullptr = nowhere.
    platform::Dialogs* dialogs = nullptr;
    // Multi-level pages: the page-list lines of the levels of "Morepage2" (title=address
    // <dd:分隔符>text), given the content address, the first page and the options. Empty = the
    // levels are not read.
    std::function<std::vector<std::string>(const std::string& address, const std::string& firstPage,
                                           const std::string& morepage2, const std::string& options)>
        levels;
};

// The page list of a content page: "顶级内容页=" + the joined text of its pages (line breaks
// as markers) and one line per multi-level page, joined by CR LF. `settingsJson` is the task
// settings document; `options` the fetch option block. Runs on the caller's thread and
// fetches one page after another.
std::string collectContentPages(const std::string& address, const std::string& firstPage,
                                const std::string& settingsJson, const std::string& options, const PageFollow& follow);

}  // namespace tarvex::collect

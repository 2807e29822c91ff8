#pragma once
// Multi-level pages: parts of a content page kept on other pages (a download page linked from
// the article, a comment page whose address is made from the article's, a page linked from
// that download page), described in "Morepage2" as a tree of named levels. For each level the
// address is found in its parent's text or made from its parent's address, then the page is
// fetched with its own pages. Runs on the caller's thread and fetches through the PageFollow.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "collect/pagination.h"

namespace tarvex::collect {

// The parent name of a level read from the content page itself.
inline constexpr const char* kTopLevelParent = "顶级内容页";
// Most pages one level follows through its own pager, its first page included: a pager that
// keeps naming new addresses ends here.
inline constexpr std::size_t kLevelPageLimit = 100;

// One level of "MorePageAll", as the multi-level window stores it.
struct LevelSettings {
    std::string title;                     // "title": the level's name
    std::string parent = kTopLevelParent;  // "fatherurl": "顶级内容页" or another level's title
    bool fromText = true;                  // "radio_1": found in the parent's text (else "radio_2")
    bool byPattern = false;                // "radio_1_check": a pattern with "{参数1}" and an output
    std::string begin, end;                // "radio_1_begin", "radio_1_end"
    std::string find, replace;             // "radio_2_url1", "radio_2_url2"
    std::string testUrl;                   // "testurl"
    bool hasPages = false;                 // "check_mulpage"
    PagerSettings pager;                   // "Mul_begin", "Mul_end", "Mul_include", "Mul_exclude"
};

// A level from its JSON text (or nullopt when it is not a JSON object).
std::optional<LevelSettings> ParseLevel(const std::string& json);
// The entries of "MorePageAll" in "Morepage2" as JSON texts, in order; entries that are
// objects are written out as text. Empty when the text holds no such array.
std::vector<std::string> LevelTexts(const std::string& morepage2);

// The level's address before it is made absolute: the output of the first match in the
// parent's text or address. "" when nothing matched.
std::string LevelAddress(const LevelSettings& level, const std::string& parentAddress, const std::string& parentText);

// `GetMorestring`: address + "<dd:分隔符>" + the level's text (its pages joined by "[dd:分页符]",
// in address order). A level whose address matched nothing fetches nothing and gives
// "<dd:分隔符>" alone; a failed or empty fetch gives the address and no text.
std::string collectLevelPage(const std::string& parentAddress, const std::string& parentText,
                             const LevelSettings& level, const std::string& options, const PageFollow& follow);

// The page-list lines of the levels of "Morepage2" for one content page, in array order:
// title + "=" + address + "<dd:分隔符>" + text with its line breaks as markers. `firstPage` is the
// content page's first page as the worker wrapped it.
std::vector<std::string> collectLevelPages(const std::string& address, const std::string& firstPage,
                                           const std::string& morepage2, const std::string& options,
                                           const PageFollow& follow);

}  // namespace tarvex::collect

#pragma once
// The page list of one content page: name=value entries, entry 0 "顶级内容页" holding the
// texts of all its pages joined by "[dd:分页符]", then one entry per multi-level page
// (address + "<dd:分隔符>" + its texts). Line breaks inside values travel as the markers of
// the template language. Plain values; any thread.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvex::engine {

using PageList = std::vector<std::pair<std::string, std::string>>;

inline constexpr std::string_view kTopLevelPageName = "顶级内容页";

// Reads name=value lines (CR LF or LF); a line is split at its first "="; lines without "="
// are skipped.
PageList PageListFromText(std::string_view text);
// One "name=value" line per entry, joined by CR LF.
std::string PageListToText(const PageList& pages);
// The value of the first entry with exactly this name, or nullptr.
const std::string* PageListValue(const PageList& pages, std::string_view name);

// The page list the content worker builds for one content page without multi-level pages:
// the first page (when not empty) wrapped in "<tarvex>" … "</tarvex>", the pages joined by
// "[dd:分页符]", a final CR LF, and every line break as a marker.
PageList ContentPageList(const std::vector<std::string>& pages);

// A saved page file as text: UTF-8 (a byte-order mark removed) as it is, UTF-16 with its
// byte-order mark converted, anything else read as GBK/GB18030, the encoding of the Chinese sites that do not send
// UTF-8.
std::string PageTextFromBytes(std::string_view bytes);

}  // namespace tarvex::engine

#include "engine/html_utils.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

#include "platform/chinese_convert.h"
#include "platform/utf8.h"

namespace tarvex::engine {
namespace {

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

using platform::utf8::replaceAll;

// A markup pattern: ASCII letters compared without case, "[..]" sets of single characters or
// ranges, and, when `toTagEnd` is set, "[^>]*>" after it (everything up to the next ">").
// Written by hand instead of as regular expressions: the patterns are fixed, and a plain
// scan over a 2 MB page is far cheaper than a compiled search per filter number.
struct TagPattern {
    std::string_view text;
    bool toTagEnd;
};

// Length of the match of `p` at s[pos], or 0.
std::size_t matchAt(std::string_view s, std::size_t pos, const TagPattern& p) {
    std::size_t i = pos;
    for (std::size_t k = 0; k < p.text.size();) {
        if (i >= s.size()) return 0;
        char c = lower(s[i]);
        if (p.text[k] == '[') {
            std::size_t close = p.text.find(']', k);
            std::string_view set = p.text.substr(k + 1, close - k - 1);
            bool hit = false;
            for (std::size_t j = 0; j < set.size(); ++j) {
                if (j + 2 < set.size() && set[j + 1] == '-') {
                    hit = hit || (c >= set[j] && c <= set[j + 2]);
                    j += 2;
                } else {
                    hit = hit || c == set[j];
                }
            }
            if (!hit) return 0;
            k = close + 1;
        } else {
            if (c != p.text[k]) return 0;
            ++k;
        }
        ++i;
    }
    if (p.toTagEnd) {
        std::size_t gt = s.find('>', i);
        if (gt == std::string_view::npos) return 0;
        i = gt + 1;
    }
    return i - pos;
}

std::string removeAll(std::string_view s, const TagPattern& p) {
    std::string out;
    out.reserve(s.size());
    std::size_t copied = 0;
    for (std::size_t lt = s.find('<'); lt != std::string_view::npos;) {
        std::size_t len = matchAt(s, lt, p);
        if (len == 0) {
            lt = s.find('<', lt + 1);
            continue;
        }
        out.append(s.substr(copied, lt - copied));
        copied = lt + len;
        lt = s.find('<', copied);
    }
    out.append(s.substr(copied));
    return out;
}

std::string removeChars(std::string_view s, std::string_view chars) {
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (chars.find(c) == std::string_view::npos) out += c;
    return out;
}

// "&nbsp;" in any letter case.
std::string removeNbspEntities(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        if (s[i] == '&' && s.size() - i >= 6) {
            std::string_view w = s.substr(i + 1, 5);
            if (lower(w[0]) == 'n' && lower(w[1]) == 'b' && lower(w[2]) == 's' && lower(w[3]) == 'p' && w[4] == ';') {
                i += 6;
                continue;
            }
        }
        out += s[i++];
    }
    return out;
}

// Leading and trailing characters up to U+0020.
std::string trimControls(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
    return std::string(s.substr(b, e - b));
}

// The tag pairs each filter number removes, in order; 13, 19, 21 and 23 are handled apart.
struct TagPair {
    std::string_view open;   // followed by "[^>]*>"
    std::string_view close;  // a whole closing tag
};
const std::vector<TagPair> kTagFilters[] = {
    {{"<a", "</a>"}},
    {{"<table", "</table>"}},
    {{"<tr", "</tr>"}},
    {{"<td", "</td>"}},
    {{"<p", "</p>"}},
    {{"<font", "</font>"}},
    {{"<div", "</div>"}},
    {{"<span", "</span>"}},
    {{"<img", "</img>"}},
    {{"<script", "</script>"}},
    {{"<b", "</b>"}},
    {{"<strong", "</strong>"}},
    {{"<br", "</br>"}},
    {},
    {{"<h[1-7]", "</h[1-7]>"}},
    {{"<hr", "</hr>"}},
    {{"<form", "</form>"}},
    {{"<frame", "</frame>"}},
    {{"<ul", "</ul>"}, {"<li", "</li>"}},
    {},
    {{"<dl", "</dl>"}, {"<dt", "</dt>"}, {"<dd", "</dd>"}},
    {},
    {{"<su[bp]", "</su[bp]>"}},
    {},
};

std::string applyFilter(int number, std::string text) {
    switch (number) {
        case 13:
            text = removeNbspEntities(text);
            replaceAll(text, "\xC2\xA0", "");
            return text;
        case 19:
            return removeChars(text, "\r\n\t");
        case 21:
            return trimControls(text);
        case 23:
            return removeAll(text, {"<", true});
        default:
            break;
    }
    if (number < 0 || number >= static_cast<int>(std::size(kTagFilters))) return text;
    for (const TagPair& tags : kTagFilters[number]) {
        text = removeAll(text, {tags.open, true});
        text = removeAll(text, {tags.close, false});
    }
    return text;
}

std::optional<int> parseInt(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    int v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return v;
}

// Pieces of a comma list; an empty piece between commas counts, a trailing comma adds none.
std::vector<std::string_view> commaPieces(std::string_view words) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        std::size_t comma = words.find(',', start);
        if (comma == std::string_view::npos) {
            if (start < words.size()) pieces.push_back(words.substr(start));
            break;
        }
        pieces.push_back(words.substr(start, comma - start));
        start = comma + 1;
    }
    return pieces;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The UTF-16 unit of a "\uXXXX" escape at s[i], or -1.
int escapeAt(std::string_view s, std::size_t i) {
    if (i + 6 > s.size() || s[i] != '\\' || (s[i + 1] != 'u' && s[i + 1] != 'U')) return -1;
    int v = 0;
    for (std::size_t k = i + 2; k < i + 6; ++k) {
        int h = hexValue(s[k]);
        if (h < 0) return -1;
        v = v * 16 + h;
    }
    return v;
}

// The code point at s[i]; a byte that starts no valid sequence reads as U+FFFD.
char32_t decodeAt(std::string_view s, std::size_t i, std::size_t& len) {
    return platform::utf8::decode(s, i, len).value_or(0xFFFD);
}

}  // namespace

std::string HtmlFilter(std::string_view numbers, std::string_view text) {
    std::string out(text);
    for (std::string_view piece : commaPieces(numbers)) {
        auto number = parseInt(piece);
        if (number) out = applyFilter(*number, std::move(out));
    }
    return out;
}

std::string UnicodeUnescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        int unit = escapeAt(text, i);
        if (unit < 0) {
            out += text[i++];
            continue;
        }
        i += 6;
        char32_t cp = static_cast<char32_t>(unit);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            // A pair of escapes encodes one character beyond the basic plane.
            int low = escapeAt(text, i);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (static_cast<char32_t>(low) - 0xDC00);
                i += 6;
            } else {
                cp = 0xFFFD;
            }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            cp = 0xFFFD;
        }
        platform::utf8::append(out, cp);
    }
    return out;
}

std::string ToSimplified(std::string_view text) {
    return platform::toSimplifiedChinese(text);
}

std::string ToTraditional(std::string_view text) {
    return platform::toTraditionalChinese(text);
}

namespace {
constexpr std::pair<std::string_view, std::string_view> kEntities[] = {
    {"&lt;", "@lt;"}, {"&gt;", "@gt;"}, {"&amp;", "@amp;"}, {"&quot;", "@quot;"}, {"&nbsp;", "@nbsp;"},
};
}  // namespace

std::string ProtectEntities(std::string_view text) {
    std::string out(text);
    for (const auto& [entity, marker] : kEntities) replaceAll(out, entity, marker);
    return out;
}

std::string RestoreEntities(std::string_view text) {
    std::string out(text);
    for (const auto& [entity, marker] : kEntities) replaceAll(out, marker, entity);
    return out;
}

bool ContainsAll(std::string_view words, std::string_view text) {
    for (std::string_view piece : commaPieces(words))
        if (piece.empty() || text.find(piece) == std::string_view::npos) return false;
    return true;
}

bool ContainsNone(std::string_view words, std::string_view text) {
    for (std::string_view piece : commaPieces(words))
        if (!piece.empty() && text.find(piece) != std::string_view::npos) return false;
    return true;
}

std::string RemovePrefix(std::string_view prefix, std::string_view text) {
    if (!prefix.empty() && text.substr(0, prefix.size()) == prefix) text.remove_prefix(prefix.size());
    return std::string(text);
}

std::string RemoveSuffix(std::string_view suffix, std::string_view text) {
    if (!suffix.empty() && text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix)
        text.remove_suffix(suffix.size());
    return std::string(text);
}

void ReverseLines(std::vector<std::string>& lines) {
    std::reverse(lines.begin(), lines.end());
}

std::string RandomAlnum(int count, RandomSource& random) {
    static constexpr std::string_view kChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string out;
    if (count <= 0) return out;
    out.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) out += kChars[static_cast<std::size_t>(random.uniform(0, 61))];
    return out;
}

std::string TextToHex(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 4);
    char buf[8];
    auto put = [&](unsigned unit) {
        std::snprintf(buf, sizeof buf, "%4.4X", unit);
        out += buf;
    };
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = 1;
        char32_t cp = decodeAt(text, i, len);
        i += len;
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

}  // namespace tarvex::engine

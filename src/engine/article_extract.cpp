#include "engine/article_extract.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "platform/utf8.h"

namespace tarvex::engine {

namespace {

// ---------------------------------------------------------------------------------------------
// Small text helpers

bool isAsciiSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Decodes one code point at `i` and advances `i`; the text is valid UTF-8 (repaired before
// parsing, and the parser writes UTF-8), a stray byte reads as itself.
inline char32_t nextCodePoint(std::string_view s, std::size_t& i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        ++i;
        return c;
    }
    const std::size_t n = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (n == 0 || i + n >= s.size()) {
        ++i;
        return c;
    }
    char32_t cp = c & (0x3F >> n);
    for (std::size_t k = 1; k <= n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += n + 1;
    return cp;
}

bool isBlankCodePoint(char32_t c) {
    return c <= 0x20 || c == 0xA0 || c == 0x3000 || (c >= 0x2000 && c <= 0x200B) || c == 0xFEFF;
}

bool isSentencePunct(char32_t c) {
    switch (c) {
        case ',':
        case '.':
        case ';':
        case '!':
        case '?':
        case ':':
        case 0xFF0C:
        case 0x3002:
        case 0xFF1B:
        case 0xFF01:
        case 0xFF1F:
        case 0x3001:
        case 0xFF1A:
        case 0x201C:
        case 0x201D:
        case 0x300A:
        case 0x300B:
            return true;
        default:
            return false;
    }
}

bool isCjk(char32_t c) {
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0xF900 && c <= 0xFAFF);
}

std::size_t codePoints(std::string_view s) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size();) {
        nextCodePoint(s, i);
        ++n;
    }
    return n;
}

// Runs of white space (also no-break and ideographic spaces) become one space; both ends trimmed.
std::string collapseSpace(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    bool pending = false;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t at = i;
        char32_t c = nextCodePoint(s, i);
        if (isBlankCodePoint(c)) {
            pending = !out.empty();
            continue;
        }
        if (pending) out.push_back(' ');
        pending = false;
        out.append(s.substr(at, i - at));
    }
    return out;
}

std::string lower(std::string_view s) {
    return platform::utf8::lowerAscii(s);
}

bool startsWith(std::string_view s, std::string_view p) {
    return s.substr(0, p.size()) == p;
}

bool contains(std::string_view s, std::string_view p) {
    return s.find(p) != std::string_view::npos;
}

void appendEscaped(std::string& out, std::string_view text, bool attribute) {
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                if (attribute)
                    out += "&quot;";
                else
                    out += c;
                break;
            default:
                out += c;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Dates

const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};

int monthOfWord(std::string_view word) {
    std::string w = lower(word);
    if (w.size() < 3) return 0;
    for (int m = 0; m < 12; ++m)
        if (startsWith(w, kMonths[m])) return m + 1;
    return 0;
}

bool isWeekday(std::string_view word) {
    static const char* const days[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
    std::string w = lower(word);
    if (w.size() < 3) return false;
    for (const char* d : days)
        if (startsWith(w, d)) return true;
    return false;
}

struct Scanner {
    std::string_view s;
    std::size_t i = 0;
    bool digit() const { return i < s.size() && s[i] >= '0' && s[i] <= '9'; }
    // Up to `max` digits; -1 when there are none.
    int number(int max, int* count = nullptr) {
        int n = 0, k = 0;
        while (k < max && digit()) n = n * 10 + (s[i++] - '0'), ++k;
        if (count) *count = k;
        return k ? n : -1;
    }
    bool take(std::string_view t) {
        if (s.substr(i, t.size()) != t) return false;
        i += t.size();
        return true;
    }
    void spaces() {
        for (;;) {
            if (i < s.size() && isAsciiSpace(static_cast<unsigned char>(s[i]))) {
                ++i;
            } else if (take("\xC2\xA0") || take("\xE3\x80\x80")) {
            } else {
                return;
            }
        }
    }
    std::string_view word() {
        std::size_t b = i;
        while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i]))) ++i;
        return s.substr(b, i - b);
    }
};

struct Clock {
    int h = 0, m = 0, s = 0;
};

// A time after a date: "10:20", "10:20:30", "T09:58:03.0+08:00", "10时20分", "3:04 pm", "at 3:04".
std::optional<Clock> readTime(Scanner& sc) {
    Scanner t = sc;
    t.spaces();
    t.take("T");
    t.take(",");
    t.spaces();
    if (t.take("at") || t.take("um")) t.spaces();
    bool pm = false, am = false;
    if (t.take("上午") || t.take("凌晨") || t.take("早上")) am = true;
    if (t.take("下午") || t.take("晚上") || t.take("中午")) pm = true;
    t.spaces();
    int hour = t.number(2);
    if (hour < 0 || hour > 23) return std::nullopt;
    bool cjk = false;
    if (t.take(":") || t.take("：")) {
    } else if (t.take("时") || t.take("點") || t.take("点")) {
        cjk = true;
    } else {
        return std::nullopt;
    }
    int minute = t.number(2);
    if (minute < 0 || minute > 59) return std::nullopt;
    if (cjk) t.take("分");
    int second = 0;
    Scanner u = t;
    if (u.take(":") || u.take("：")) {
        int sec = u.number(2);
        if (sec >= 0 && sec <= 59) {
            second = sec;
            t = u;
            if (cjk) t.take("秒");
        }
    } else if (cjk) {
        int sec = u.number(2);
        if (sec >= 0 && sec <= 59 && u.take("秒")) second = sec, t = u;
    }
    Scanner v = t;
    v.spaces();
    std::string_view mer = v.word();
    std::string m = lower(mer);
    if (m == "pm" || m == "p") {
        pm = true;
        t = v;
    } else if (m == "am" || m == "a") {
        am = true;
        t = v;
    }
    if (pm && hour < 12) hour += 12;
    if (am && hour == 12) hour = 0;
    sc = t;
    return Clock{hour, minute, second};
}

std::string formatDate(int y, int mo, int d, const Clock& c) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, c.h, c.m, c.s);
    return buf;
}

bool validDay(int y, int mo, int d) {
    return y >= 1970 && y <= 2100 && mo >= 1 && mo <= 12 && d >= 1 && d <= 31;
}

// "2026-03-05", "2026/3/5", "2026.03.05", "2026年3月5日" at the scanner.
std::optional<std::string> numericDateAt(Scanner sc) {
    int count = 0;
    int y = sc.number(4, &count);
    if (count != 4 || sc.digit()) return std::nullopt;
    bool cjk = false;
    std::string sep;
    if (sc.take("年")) {
        cjk = true;
    } else if (sc.i < sc.s.size() && (sc.s[sc.i] == '-' || sc.s[sc.i] == '/' || sc.s[sc.i] == '.')) {
        sep = sc.s[sc.i++];
    } else {
        return std::nullopt;
    }
    if (cjk) sc.spaces();
    int mo = sc.number(2);
    if (mo < 0) return std::nullopt;
    if (cjk) {
        if (!sc.take("月")) return std::nullopt;
        sc.spaces();
    } else if (!sc.take(sep)) {
        return std::nullopt;
    }
    int d = sc.number(2);
    if (d < 0 || sc.digit()) return std::nullopt;
    if (cjk && !sc.take("日")) sc.take("号");
    if (!validDay(y, mo, d)) return std::nullopt;
    Clock c;
    if (auto t = readTime(sc)) c = *t;
    return formatDate(y, mo, d, c);
}

// "March 5, 2026", "Mar. 5th 2026", "Dec 28 Sat 2013 00:28", "5 March 2026", "Thursday, 5 March 2026".
std::optional<std::string> wordDateAt(Scanner sc) {
    int mo = 0, d = -1, y = -1;
    if (sc.digit()) {
        d = sc.number(2);
        sc.take("st") || sc.take("nd") || sc.take("rd") || sc.take("th");
        sc.take(".");
        sc.spaces();
        mo = monthOfWord(sc.word());
        if (!mo) return std::nullopt;
        sc.take(".");
        sc.take(",");
        sc.spaces();
    } else {
        mo = monthOfWord(sc.word());
        if (!mo) return std::nullopt;
        sc.take(".");
        sc.spaces();
        d = sc.number(2);
        if (d < 0) return std::nullopt;
        sc.take("st") || sc.take("nd") || sc.take("rd") || sc.take("th");
        sc.take(",");
        sc.spaces();
        Scanner w = sc;
        if (isWeekday(w.word())) {
            w.take(",");
            w.spaces();
            sc = w;
        }
    }
    int count = 0;
    y = sc.number(4, &count);
    if (count != 4 || sc.digit() || !validDay(y, mo, d)) return std::nullopt;
    Clock c;
    if (auto t = readTime(sc)) c = *t;
    return formatDate(y, mo, d, c);
}

}  // namespace

std::string NormalizeDate(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        bool wordStart = i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1]));
        if (c >= '0' && c <= '9' && wordStart) {
            Scanner sc{text, i};
            if (auto d = numericDateAt(sc)) return *d;
            if (auto d = wordDateAt(sc)) return *d;
        } else if (std::isalpha(c) && wordStart) {
            Scanner sc{text, i};
            if (auto d = wordDateAt(sc)) return *d;
        }
    }
    return {};
}

namespace {

bool hasTime(const std::string& date) {
    return date.size() == 19 && date.compare(11, 8, "00:00:00") != 0;
}

// ---------------------------------------------------------------------------------------------
// The tree

enum TagKind : unsigned {
    kBlock = 1,       // starts a new text unit
    kJunk = 2,        // never part of an article
    kHeading = 4,     // h1–h6
    kCandidate = 8,   // may hold the article
    kKeepBlock = 16,  // kept in the clean body as it is
    kKeepInline = 32,
    kListLike = 64,  // ul, ol, dl, table
};

struct TagInfo {
    const char* name;
    unsigned kind;
};

constexpr TagInfo kTags[] = {
    {"a", kKeepInline},
    {"abbr", 0},
    {"address", kBlock},
    {"article", kBlock | kCandidate},
    {"aside", kBlock | kJunk},
    {"audio", kJunk},
    {"b", kKeepInline},
    {"blockquote", kBlock | kKeepBlock | kCandidate},
    {"body", kBlock | kCandidate},
    {"br", 0},
    {"button", kJunk},
    {"canvas", kJunk},
    {"caption", kBlock | kKeepBlock},
    {"center", kBlock | kCandidate},
    {"code", kKeepInline},
    {"dd", kBlock | kKeepBlock},
    {"details", kBlock},
    {"dialog", kJunk},
    {"div", kBlock | kCandidate},
    {"dl", kBlock | kKeepBlock | kListLike},
    {"dt", kBlock | kKeepBlock},
    {"em", kKeepInline},
    {"embed", kJunk},
    {"fieldset", kBlock},
    {"figcaption", kBlock | kKeepBlock},
    {"figure", kBlock | kKeepBlock},
    {"footer", kBlock | kJunk},
    {"form", kBlock | kCandidate},
    {"h1", kBlock | kHeading | kKeepBlock},
    {"h2", kBlock | kHeading | kKeepBlock},
    {"h3", kBlock | kHeading | kKeepBlock},
    {"h4", kBlock | kHeading | kKeepBlock},
    {"h5", kBlock | kHeading | kKeepBlock},
    {"h6", kBlock | kHeading | kKeepBlock},
    {"head", kJunk},
    {"header", kBlock},
    {"hr", kBlock},
    {"html", kBlock},
    {"i", kKeepInline},
    {"iframe", kJunk},
    {"img", 0},
    {"input", kJunk},
    {"label", kJunk},
    {"li", kBlock | kKeepBlock},
    {"link", kJunk},
    {"main", kBlock | kCandidate},
    {"map", kJunk},
    {"menu", kBlock | kJunk},
    {"meta", kJunk},
    {"nav", kBlock | kJunk},
    {"noscript", kJunk},
    {"object", kJunk},
    {"ol", kBlock | kKeepBlock | kListLike},
    {"option", kJunk},
    {"p", kBlock | kKeepBlock},
    {"pre", kBlock | kKeepBlock},
    {"s", kKeepInline},
    {"script", kJunk},
    {"section", kBlock | kCandidate},
    {"select", kJunk},
    {"strong", kKeepInline},
    {"style", kJunk},
    {"sub", kKeepInline},
    {"summary", kBlock},
    {"sup", kKeepInline},
    {"svg", kJunk},
    {"table", kBlock | kKeepBlock | kListLike},
    {"tbody", kBlock | kKeepBlock},
    {"td", kBlock | kKeepBlock | kCandidate},
    {"template", kJunk},
    {"textarea", kJunk},
    {"tfoot", kBlock | kKeepBlock},
    {"th", kBlock | kKeepBlock},
    {"thead", kBlock | kKeepBlock},
    {"title", kJunk},
    {"tr", kBlock | kKeepBlock},
    {"u", kKeepInline},
    {"ul", kBlock | kKeepBlock | kListLike},
    {"video", kJunk},
};

unsigned tagKind(const xmlChar* name) {
    const char* n = reinterpret_cast<const char*>(name);
    auto it = std::lower_bound(std::begin(kTags), std::end(kTags), n,
                               [](const TagInfo& t, const char* key) { return std::strcmp(t.name, key) < 0; });
    if (it != std::end(kTags) && std::strcmp(it->name, n) == 0) return it->kind;
    return 0;
}

bool isTag(const xmlNode* n, const char* name) {
    return n && n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

// The text of an attribute, without copying; "" when absent.
std::string_view attr(const xmlNode* n, const char* name) {
    for (const xmlAttr* a = n->properties; a; a = a->next) {
        if (std::strcmp(reinterpret_cast<const char*>(a->name), name) != 0) continue;
        if (a->children && a->children->type == XML_TEXT_NODE && a->children->content)
            return reinterpret_cast<const char*>(a->children->content);
        return {};
    }
    return {};
}

bool hasAttr(const xmlNode* n, const char* name) {
    for (const xmlAttr* a = n->properties; a; a = a->next)
        if (std::strcmp(reinterpret_cast<const char*>(a->name), name) == 0) return true;
    return false;
}

// Words in class and id names that mark what a block is. Long words match anywhere in the
// lower-case names ("comment" finds "commentBox"); short ones only as a whole name part
// ("ad" finds "top-ad" but not "head").
constexpr std::string_view kNoiseParts[] = {
    "comment",    "share",   "social",   "related",   "recommend",  "footer",   "sidebar",    "widget",    "navbar",
    "menu",       "crumb",   "banner",   "advert",    "sponsor",    "promo",    "popup",      "modal",     "subscribe",
    "newsletter", "login",   "toolbar",  "copyright", "disclaimer", "tagcloud", "pagination", "xgwz",      "xgyd",
    "tuijian",    "pinglun", "fenxiang", "bdshare",   "jiathis",    "recomm",   "author-box", "shengming", "statement",
    "rightbox",   "right",   "leftbox",  "masthead",  "topbar",     "hotnews",  "footnav",    "bottom"};
constexpr std::string_view kNoiseWords[] = {
    "ad",   "ads",  "gg",   "nav",  "tags",   "tag",   "hot",    "rank",  "pages", "pager", "paging", "fenye",
    "side", "foot", "more", "logo", "search", "print", "header", "aside", "extra", "links", "friend", "keywords"};
constexpr std::string_view kArticleParts[] = {"article", "content", "post",   "entry",    "main", "body",
                                              "text",    "story",   "detail", "zhengwen", "blog"};
constexpr std::string_view kArticleWords[] = {"news", "cont", "txt", "con"};
// Short metadata lines of an article (date, source, byline) that the clean body leaves out.
constexpr std::string_view kMetaParts[] = {"info",   "meta",   "date",    "time",     "byline",
                                           "author", "source", "pubtime", "dateline", "publish"};

template <std::size_t N, std::size_t M>
bool namesHave(std::string_view names, const std::string_view (&parts)[N], const std::string_view (&words)[M]) {
    for (auto p : parts)
        if (contains(names, p)) return true;
    std::size_t i = 0;
    while (i < names.size()) {
        while (i < names.size() && !std::isalnum(static_cast<unsigned char>(names[i]))) ++i;
        std::size_t b = i;
        while (i < names.size() && std::isalnum(static_cast<unsigned char>(names[i]))) ++i;
        std::string_view token = names.substr(b, i - b);
        if (token.empty()) continue;
        for (auto w : words)
            if (token == w) return true;
    }
    return false;
}

struct Info {
    double good = 0;     // weighted text of the subtree that reads like article sentences
    double bad = 0;      // weighted text of links, labels and other noise
    double ownGood = 0;  // good before noise blocks inside were taken off
    int chars = 0, linkChars = 0, links = 0, images = 0;
    int hint = 0;  // +1 article-like names, -1 noise names
    bool meta = false;
    bool junk = false;
    bool noise = false;    // a noise-named block that does not hold most of the page
    bool inNoise = false;  // below a noise block
    int parent = -1;
    bool hasBlock = false;  // an inline element holding blocks
    bool block = false;
    unsigned kind = 0;
    xmlNode* node = nullptr;
    bool sentences = false;  // its own text reads like article sentences
    int order = 0;           // document order of the element
    int end = 0;             // document order after its last descendant
};

// The inline text a block owns directly.
struct Unit {
    int chars = 0, linkChars = 0, punct = 0, images = 0, linkedImages = 0, cjk = 0;
    bool heading = false;
};

struct ShortLine {
    int order;
    xmlNode* block;
    std::string text;
};

class Analysis {
public:
    explicit Analysis(xmlDoc* doc) : m_doc(doc) {}

    void run() {
        xmlNode* root = xmlDocGetRootElement(m_doc);
        if (!root) return;
        Unit unit;
        walkElement(root, unit, false);
        markNoise();
        std::sort(m_lines.begin(), m_lines.end(),
                  [](const ShortLine& x, const ShortLine& y) { return x.order < y.order; });
        choose();
    }

    Info& info(const xmlNode* n) { return m_infos[reinterpret_cast<std::intptr_t>(n->_private) - 1]; }

    // The text a reader sees in an element (no scripts, styles or hidden blocks), white space
    // collapsed; blocks and line breaks part words.
    std::string text(const xmlNode* n) {
        std::string raw;
        appendText(n, raw);
        return collapseSpace(raw);
    }
    bool known(const xmlNode* n) const { return n->_private != nullptr; }
    const Info& infoAt(int order) const { return m_infos[static_cast<std::size_t>(order)]; }

    xmlNode* bodyNode() const { return m_best; }
    const std::vector<ShortLine>& lines() const { return m_lines; }
    const std::vector<xmlNode*>& titleCandidates() const { return m_titleCandidates; }
    const std::vector<std::pair<std::string, std::string>>& metas() const { return m_metas; }
    const std::vector<std::string>& jsonLd() const { return m_jsonLd; }
    const std::string& docTitle() const { return m_title; }
    const std::vector<xmlNode*>& times() const { return m_times; }

private:
    // <title>, <meta> and JSON-LD wherever they stand (a page joined with others may carry them
    // in its body).
    void collectHead(xmlNode* n, bool siblings = true) {
        for (xmlNode* c = n; c; c = siblings ? c->next : nullptr) {
            if (c->type != XML_ELEMENT_NODE) continue;
            if (isTag(c, "title") && m_title.empty()) {
                xmlChar* t = xmlNodeGetContent(c);
                if (t) m_title = collapseSpace(reinterpret_cast<const char*>(t));
                xmlFree(t);
            } else if (isTag(c, "meta")) {
                std::string_view key = attr(c, "property");
                if (key.empty()) key = attr(c, "name");
                if (key.empty()) key = attr(c, "itemprop");
                std::string_view content = attr(c, "content");
                if (!key.empty() && !content.empty()) m_metas.emplace_back(lower(key), std::string(content));
            } else if (isTag(c, "script")) {
                if (lower(attr(c, "type")) == "application/ld+json") {
                    xmlChar* t = xmlNodeGetContent(c);
                    if (t) m_jsonLd.emplace_back(reinterpret_cast<const char*>(t));
                    xmlFree(t);
                }
            } else if (c->children) {
                collectHead(c->children);
            }
        }
    }

    void appendText(const xmlNode* n, std::string& out) {
        for (const xmlNode* c = n->children; c; c = c->next) {
            if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
                if (c->content) out += reinterpret_cast<const char*>(c->content);
            } else if (c->type == XML_ELEMENT_NODE && known(c) && !info(c).junk) {
                const bool block = info(c).block || isTag(c, "br");
                if (block) out += ' ';
                appendText(c, out);
                if (block) out += ' ';
            }
        }
    }

    int newInfo(xmlNode* n) {
        m_infos.emplace_back();
        n->_private = reinterpret_cast<void*>(static_cast<std::intptr_t>(m_infos.size()));
        return static_cast<int>(m_infos.size()) - 1;
    }

    static bool hidden(const xmlNode* e) {
        if (hasAttr(e, "hidden")) return true;
        std::string_view style = attr(e, "style");
        if (style.empty()) return false;
        std::string s;
        for (char ch : style)
            if (!isAsciiSpace(static_cast<unsigned char>(ch))) s.push_back(static_cast<char>(std::tolower(ch)));
        return contains(s, "display:none") || contains(s, "visibility:hidden");
    }

    void countText(std::string_view text, Unit& unit, bool inLink) {
        for (std::size_t i = 0; i < text.size();) {
            char32_t c = nextCodePoint(text, i);
            if (isBlankCodePoint(c)) continue;
            ++unit.chars;
            if (inLink) ++unit.linkChars;
            if (isSentencePunct(c) && !inLink) ++unit.punct;
            if (isCjk(c)) ++unit.cjk;
        }
    }

    void flush(const Unit& u, Info& in) {
        in.chars += u.chars;
        in.linkChars += u.linkChars;
        in.images += u.images;
        if (u.chars > 0) {
            const double plain = u.chars - u.linkChars;
            // Western words are longer than Chinese characters: a label is a few words or characters.
            const int shortLabel = u.cjk * 2 > u.chars ? 10 : 25;
            if (u.heading) {
                in.bad += 0.3 * u.chars;
            } else if (u.linkChars * 2 > u.chars) {
                in.bad += u.chars;
            } else if (plain < shortLabel && u.punct == 0) {
                in.bad += 0.6 * u.chars;
            } else {
                in.good += plain * (u.punct ? 1.0 : 0.6);
                in.bad += u.linkChars;
                in.sentences = true;
            }
        }
        in.good += 12.0 * u.images;
        in.bad += 6.0 * u.linkedImages;
    }

    void walkChildren(xmlNode* parent, Unit& unit, bool inLink) {
        for (xmlNode* c = parent->children; c; c = c->next) {
            if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
                if (c->content) countText(reinterpret_cast<const char*>(c->content), unit, inLink);
                continue;
            }
            if (c->type != XML_ELEMENT_NODE) continue;
            int idx = walkElement(c, unit, inLink);
            m_infos[static_cast<std::size_t>(idx)].parent =
                static_cast<int>(reinterpret_cast<std::intptr_t>(parent->_private)) - 1;
            // Looked up again: m_infos grows while the child is walked.
            Info& pi = info(parent);
            const Info& ci = m_infos[static_cast<std::size_t>(idx)];
            if (ci.junk) continue;
            pi.good += ci.good;
            pi.bad += ci.bad;
            pi.chars += ci.chars;
            pi.linkChars += ci.linkChars;
            pi.links += ci.links;
            pi.images += ci.images;
        }
    }

    int walkElement(xmlNode* e, Unit& outer, bool inLink) {
        const unsigned kind = tagKind(e->name);
        const int idx = newInfo(e);
        m_infos[idx].order = m_order++;
        m_infos[idx].kind = kind;
        m_infos[idx].node = e;
        if (isTag(e, "time")) m_times.push_back(e);
        if ((kind & kJunk) || hidden(e)) {
            if (kind & kJunk) collectHead(e, false);
            m_infos[idx].junk = true;
            m_infos[idx].end = m_order;
            return idx;
        }
        std::string names = lower(attr(e, "class"));
        names += ' ';
        names += lower(attr(e, "id"));
        std::string_view itemprop = attr(e, "itemprop");
        int hint = 0;
        if (itemprop == "articleBody" || isTag(e, "article") || isTag(e, "main")) {
            hint = 2;
        } else if (names.size() > 1) {
            static constexpr std::string_view kNone[] = {""};
            bool pos = namesHave(names, kArticleParts, kArticleWords);
            bool neg = namesHave(names, kNoiseParts, kNoiseWords);
            hint = neg ? -1 : pos ? 1 : 0;
            m_infos[idx].meta = namesHave(names, kMetaParts, kNone);
        }
        std::string_view role = attr(e, "role");
        if (role == "navigation" || role == "complementary" || role == "contentinfo" || role == "banner") hint = -1;
        m_infos[idx].hint = hint;
        const bool link = inLink || isTag(e, "a");
        if (isTag(e, "a") && hasAttr(e, "href")) m_infos[idx].links = 1;
        if ((kind & kHeading) || contains(names, "title") || contains(names, "headline") || contains(names, "biaoti") ||
            itemprop == "headline")
            m_titleCandidates.push_back(e);

        if (kind & kBlock) {
            m_infos[idx].block = true;
            Unit own;
            own.heading = (kind & kHeading) != 0;
            walkChildren(e, own, link);
            Info& in = m_infos[idx];
            flush(own, in);
            if (in.chars > 0 && in.chars < 160) m_lines.push_back({in.order, e, text(e)});
        } else {
            if (isTag(e, "img")) {
                if (link)
                    ++outer.linkedImages;
                else
                    ++outer.images;
            }
            const std::size_t before = m_infos.size();
            walkChildren(e, outer, link);
            for (std::size_t k = before; k < m_infos.size(); ++k)
                if (m_infos[k].block && !m_infos[k].junk) m_infos[idx].hasBlock = true;
        }
        m_infos[idx].end = m_order;
        return idx;
    }

    // The sentences of noise-named blocks count as noise for the blocks around them. A name alone
    // does not make noise of a block that holds most of the page's sentences: a page wrapper
    // named "has-sidebar" still holds the article.
    void markNoise() {
        if (m_infos.empty()) return;
        const double total = m_infos[0].good;
        for (auto& in : m_infos) {
            in.ownGood = in.good;
            if (in.parent >= 0) {
                const Info& p = m_infos[static_cast<std::size_t>(in.parent)];
                in.inNoise = p.inNoise || p.noise;
            }
            in.noise = in.hint < 0 && in.good < 0.85 * total;
        }
        for (std::size_t i = 0; i < m_infos.size(); ++i) {
            Info& in = m_infos[i];
            if (!in.noise || in.inNoise || in.good <= 0) continue;
            // For the blocks around it, a noise block's sentences are noise.
            const double d = in.good;
            in.good = 0;
            in.bad += 0.5 * d;
            for (int up = in.parent; up >= 0; up = m_infos[static_cast<std::size_t>(up)].parent) {
                Info& u = m_infos[static_cast<std::size_t>(up)];
                u.good -= d;
                u.bad += 0.5 * d;
            }
        }
    }

    void choose() {
        double bestScore = 0;
        for (const Info& in : m_infos) {
            if (!(in.kind & kCandidate) || in.junk || in.inNoise || in.noise) continue;
            xmlNode* n = in.node;
            double score = in.good - in.bad;
            if (score <= 0) continue;
            if (in.hint == 2)
                score *= 1.3;
            else if (in.hint == 1)
                score *= 1.15;
            if (score > bestScore) {
                bestScore = score;
                m_best = n;
            }
        }
    }

    xmlDoc* m_doc;
    std::vector<Info> m_infos;
    int m_order = 0;
    xmlNode* m_best = nullptr;
    std::string m_title;
    std::vector<std::pair<std::string, std::string>> m_metas;
    std::vector<std::string> m_jsonLd;
    std::vector<ShortLine> m_lines;
    std::vector<xmlNode*> m_titleCandidates;
    std::vector<xmlNode*> m_times;
};

// ---------------------------------------------------------------------------------------------
// The clean body

constexpr std::string_view kBoilerplate[] = {
    "分享到",    "分享：",   "上一篇",   "下一篇",        "返回顶部",      "打印本页",   "关闭窗口",
    "相关阅读",  "相关文章", "相关新闻", "推荐阅读",      "延伸阅读",      "热门推荐",   "扫一扫",
    "【纠错】",  "[纠错]",   "点击进入", "责任编辑",      "原标题",        "Share this", "Share on",
    "Related",   "Tags:",    "标签：",   "Advertisement", "ADVERTISEMENT", "Read more",  "Sign up",
    "Subscribe", "留言列表", "发表评论", "我要评论",      "网友评论",      "本文来源",   "转播到",
    "正在加载",  "上一页",   "下一页",   "&lt; Prev",     "Previous page", "Next page"};

bool isBoilerplate(const std::string& text) {
    if (codePoints(text) > 60) return false;
    for (auto w : kBoilerplate)
        if (startsWith(text, w)) return true;
    return false;
}

bool hasWordCharacter(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = nextCodePoint(text, i);
        if (c < 0x80 ? std::isalnum(static_cast<int>(c)) != 0 : (isCjk(c) || (c >= 0xC0 && c < 0x2000))) return true;
    }
    return false;
}

bool placeholderImage(std::string_view src) {
    std::string s = lower(src);
    return s.empty() || startsWith(s, "data:") || contains(s, "blank.") || contains(s, "grey.gif") ||
           contains(s, "loading") || contains(s, "lazy") || contains(s, "placeholder") || contains(s, "spacer") ||
           contains(s, "pixel.gif");
}

std::string imageSource(const xmlNode* img) {
    std::string_view src = attr(img, "src");
    if (!placeholderImage(src)) return std::string(src);
    for (const char* key : {"data-src", "data-original", "data-lazy-src", "data-url", "original", "file",
                            "data-actualsrc", "data-echo"}) {
        std::string_view v = attr(img, key);
        if (!v.empty() && !startsWith(v, "data:")) return std::string(v);
    }
    return src.empty() || startsWith(src, "data:") ? std::string() : std::string(src);
}

class BodyWriter {
public:
    BodyWriter(Analysis& a, const xmlNode* body, std::string title) : m_a(a), m_body(body), m_title(std::move(title)) {
        // Where the article's sentences begin and end: link lists and noise blocks between them
        // belong to the article (a list of sources, a table of figures); outside, they are the
        // page's (related articles, tags, share bars).
        const Info& b = a.info(body);
        m_bodyGood = b.ownGood;
        m_firstSentence = b.end;
        m_lastSentence = b.order;
        for (int i = b.order; i < b.end; ++i) {
            const Info& in = a.infoAt(i);
            if (!in.sentences || in.junk || in.inNoise || in.noise) continue;
            m_firstSentence = std::min(m_firstSentence, i);
            m_lastSentence = std::max(m_lastSentence, i);
        }
    }

    std::string write() {
        children(m_body, true);
        flushParagraph();
        return m_out;
    }

private:
    std::string textOf(const xmlNode* n) { return m_a.text(n); }

    bool drop(const xmlNode* e) {
        if (!m_a.known(e)) return true;
        const Info& in = m_a.info(e);
        if (in.junk) return true;
        const unsigned kind = tagKind(e->name);
        const bool container = (kind & kBlock) != 0;
        // A noise-named block inside the article goes, unless it holds most of the article.
        if (in.noise && in.ownGood < 0.5 * m_bodyGood) return true;
        if (!container) return false;
        if (in.meta && in.chars < 100 && in.images == 0) return true;
        const bool inside = in.order > m_firstSentence && in.end <= m_lastSentence;
        if (!inside && in.links >= 2 && in.linkChars * 2 > in.chars) return true;
        if (!inside && !(kind & kListLike) && !(kind & kKeepBlock) && in.bad > 2 * in.good + 20) return true;
        // A headline that links elsewhere is a teaser for another article.
        if ((kind & kHeading) && in.chars > 0 && in.linkChars == in.chars) return true;
        if (in.chars > 0 && in.chars <= 60) {
            std::string text = textOf(e);
            if (in.images == 0 && isBoilerplate(text)) return true;
            if (in.images == 0 && !hasWordCharacter(text)) return true;
            if (!m_title.empty() && text == m_title) return true;  // the headline is a field of its own
        }
        if (isTag(e, "h1") && !m_title.empty() && textOf(e) == m_title) return true;
        return false;
    }

    void flushParagraph() {
        std::string p = m_paragraph;
        m_paragraph.clear();
        while (!p.empty() && p.back() == ' ') p.pop_back();
        if (p.empty()) return;
        m_out += "<p>" + p + "</p>\n";
    }

    // Text into the open paragraph (flow) or the element being written.
    void text(std::string_view raw, bool flow, bool pre) {
        std::string& to = flow ? m_paragraph : m_inline;
        if (pre) {
            appendEscaped(to, raw, false);
            return;
        }
        bool space = false;
        std::string piece;
        for (std::size_t i = 0; i < raw.size();) {
            std::size_t at = i;
            char32_t c = nextCodePoint(raw, i);
            if (c <= 0x20) {
                space = true;
                continue;
            }
            if (space && (!piece.empty() || (!to.empty() && to.back() != ' ' && !to.ends_with("<br>")))) piece += ' ';
            space = false;
            piece.append(raw.substr(at, i - at));
        }
        if (space && !piece.empty()) piece += ' ';
        appendEscaped(to, piece, false);
    }

    void openTag(std::string& to, const xmlNode* e) {
        const char* name = reinterpret_cast<const char*>(e->name);
        to += '<';
        to += name;
        if (isTag(e, "a")) {
            to += " href=\"";
            appendEscaped(to, attr(e, "href"), true);
            to += '"';
        } else if (isTag(e, "td") || isTag(e, "th")) {
            for (const char* key : {"colspan", "rowspan"}) {
                std::string_view v = attr(e, key);
                if (v.empty()) continue;
                to += ' ';
                to += key;
                to += "=\"";
                appendEscaped(to, v, true);
                to += '"';
            }
        }
        to += '>';
    }

    // The pictures of a block that are not links (a linked picture there is an advertisement).
    void imagesOf(const xmlNode* n, bool flow) {
        for (const xmlNode* c = n->children; c; c = c->next) {
            if (c->type != XML_ELEMENT_NODE || !m_a.known(c) || m_a.info(c).junk || isTag(c, "a")) continue;
            if (isTag(c, "img"))
                image(c, flow);
            else
                imagesOf(c, flow);
        }
    }

    void image(const xmlNode* e, bool flow) {
        std::string src = imageSource(e);
        if (src.empty()) return;
        std::string_view w = attr(e, "width"), h = attr(e, "height");
        if ((w == "1" || w == "0") && (h == "1" || h == "0")) return;  // tracking pixel
        std::string& to = flow ? m_paragraph : m_inline;
        to += "<img src=\"";
        appendEscaped(to, src, true);
        to += '"';
        std::string_view alt = attr(e, "alt");
        if (!alt.empty()) {
            to += " alt=\"";
            appendEscaped(to, alt, true);
            to += '"';
        }
        to += '>';
        m_hasContent = true;
    }

    // The children of `parent`. In flow, inline content gathers into paragraphs and blocks stand
    // on their own lines; otherwise everything goes into the element being written.
    void children(const xmlNode* parent, bool flow, bool pre = false) {
        for (const xmlNode* c = parent->children; c; c = c->next) {
            if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
                if (!c->content) continue;
                std::string_view t = reinterpret_cast<const char*>(c->content);
                if (!collapseSpace(t).empty()) m_hasContent = true;
                text(t, flow, pre);
                continue;
            }
            if (c->type != XML_ELEMENT_NODE) continue;
            if (drop(c)) {
                // A share or tool bar around the article's picture: the picture stays.
                const Info& in = m_a.info(c);
                if (m_a.known(c) && !in.junk && in.images > 0 && in.chars - in.linkChars < 30) imagesOf(c, flow);
                continue;
            }
            element(c, flow, pre);
        }
    }

    void element(const xmlNode* e, bool flow, bool pre) {
        const unsigned kind = tagKind(e->name);
        if (isTag(e, "img")) return image(e, flow);
        if (isTag(e, "br")) {
            if (flow)
                flushParagraph();
            else if (!m_inline.empty())
                m_inline += "<br>";
            return;
        }
        if (isTag(e, "hr")) {
            if (flow) flushParagraph();
            return;
        }
        if (kind & kKeepBlock) {
            if (flow) flushParagraph();
            std::string saved = std::move(m_inline);
            bool savedContent = m_hasContent;
            m_inline.clear();
            m_hasContent = false;
            openTag(m_inline, e);
            const std::size_t opened = m_inline.size();
            children(e, false, pre || isTag(e, "pre"));
            if (m_inline.size() > opened && m_inline[opened] == ' ') m_inline.erase(opened, 1);
            while (m_inline.size() > opened && m_inline.back() == ' ') m_inline.pop_back();
            m_inline += "</";
            m_inline += reinterpret_cast<const char*>(e->name);
            m_inline += '>';
            std::string done = m_hasContent ? std::move(m_inline) : std::string();
            m_inline = std::move(saved);
            m_hasContent = savedContent || !done.empty();
            if (done.empty()) return;
            if (flow)
                m_out += done + "\n";
            else
                m_inline += done;
            return;
        }
        if (kind & kBlock) {  // a container: its content without it
            if (flow) flushParagraph();
            children(e, flow, pre);
            if (flow) flushParagraph();
            return;
        }
        const bool keep = (kind & kKeepInline) && !m_a.info(e).hasBlock &&
                          !(isTag(e, "a") && (attr(e, "href").empty() || startsWith(attr(e, "href"), "#") ||
                                              startsWith(lower(attr(e, "href")), "javascript:")));
        if (!keep) return children(e, flow, pre);
        std::string& to = flow ? m_paragraph : m_inline;
        openTag(to, e);
        children(e, flow, pre);
        std::string& after = flow ? m_paragraph : m_inline;
        after += "</";
        after += reinterpret_cast<const char*>(e->name);
        after += '>';
    }

    Analysis& m_a;
    const xmlNode* m_body;
    std::string m_title;
    int m_firstSentence = 0, m_lastSentence = 0;
    double m_bodyGood = 0;
    std::string m_out, m_paragraph, m_inline;
    bool m_hasContent = false;
};

// ---------------------------------------------------------------------------------------------
// Headline, date, byline

std::string metaValue(const Analysis& a, std::initializer_list<const char*> keys) {
    for (const char* k : keys)
        for (const auto& [key, value] : a.metas())
            if (key == k) return collapseSpace(value);
    return {};
}

// Values of one key anywhere in the JSON-LD blocks, in document order.
void findJson(const nlohmann::json& j, const std::string& key, std::vector<const nlohmann::json*>& out) {
    if (j.is_object()) {
        for (auto it = j.begin(); it != j.end(); ++it) {
            if (it.key() == key) out.push_back(&it.value());
            findJson(it.value(), key, out);
        }
    } else if (j.is_array()) {
        for (const auto& v : j) findJson(v, key, out);
    }
}

std::string jsonName(const nlohmann::json& v) {
    if (v.is_string()) return collapseSpace(v.get<std::string>());
    if (v.is_object()) {
        auto it = v.find("name");
        if (it != v.end() && it->is_string()) return collapseSpace(it->get<std::string>());
    }
    if (v.is_array()) {
        std::string out;
        for (const auto& e : v) {
            std::string n = jsonName(e);
            if (n.empty()) continue;
            if (!out.empty()) out += ", ";
            out += n;
        }
        return out;
    }
    return {};
}

std::string jsonLdValue(const Analysis& a, const std::string& key) {
    for (const auto& text : a.jsonLd()) {
        nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
        if (j.is_discarded()) continue;
        std::vector<const nlohmann::json*> found;
        findJson(j, key, found);
        for (const auto* v : found) {
            std::string s = jsonName(*v);
            if (!s.empty()) return s;
        }
    }
    return {};
}

const char* const kTitleSeparators[] = {" | ", " - ", " – ", " — ", " :: ", " » ", " · ", " @ ",
                                        "|",   "｜",  "_",   " :",  "－",   "——",  "::"};

// A <title> without the site name: trailing short segments after a separator are dropped.
std::string stripSiteName(std::string title) {
    for (;;) {
        title = collapseSpace(title);
        std::size_t cut = std::string::npos, sepLen = 0;
        for (const char* sep : kTitleSeparators) {
            std::size_t at = title.rfind(sep);
            if (at != std::string::npos && at > 0 && (cut == std::string::npos || at > cut)) {
                cut = at;
                sepLen = std::strlen(sep);
            }
        }
        if (cut == std::string::npos) return title;
        std::string head = collapseSpace(title.substr(0, cut)), tail = collapseSpace(title.substr(cut + sepLen));
        const std::size_t h = codePoints(head), t = codePoints(tail);
        // The site's name is the shorter part; a part as long as the rest belongs to the headline.
        if (h < 4 || t > h || t > 40) return title;
        title = head;
    }
}

std::string findTitle(Analysis& a, const xmlNode* body) {
    std::vector<std::string> docTitles;
    for (std::string t : {metaValue(a, {"og:title", "twitter:title"}), a.docTitle()})
        if (!t.empty()) docTitles.push_back(t);
    std::string best;
    int bestRank = 0;
    const Info* b = body ? &a.info(body) : nullptr;
    for (xmlNode* n : a.titleCandidates()) {
        const Info& in = a.info(n);
        if (in.junk || in.chars < 2 || in.chars > 200) continue;
        std::string text = a.text(n);
        if (codePoints(text) < 2) continue;
        bool matches = false;
        for (const auto& t : docTitles)
            if (startsWith(t, text) || (contains(t, text) && codePoints(text) * 2 >= codePoints(t))) matches = true;
        if (!matches) continue;
        int rank = isTag(n, "h1") ? 4 : (tagKind(n->name) & kHeading) ? 3 : 2;
        if (attr(n, "itemprop") == "headline") rank = 5;
        if (in.inNoise || in.noise) rank -= 2;
        if (b && in.order > b->end) rank -= 1;  // after the article: a list of other articles
        if (rank > bestRank || (rank == bestRank && text.size() > best.size())) {
            bestRank = rank;
            best = text;
        }
    }
    if (!best.empty()) return best;
    std::string ld = jsonLdValue(a, "headline");
    if (!ld.empty()) return ld;
    // One h1 before the article that is not a link to the home page.
    if (b) {
        std::vector<std::string> h1s;
        for (xmlNode* n : a.titleCandidates())
            if (isTag(n, "h1") && !a.info(n).junk && !a.info(n).inNoise && !a.info(n).noise &&
                a.info(n).linkChars == 0 && a.info(n).chars >= 4)
                h1s.push_back(a.text(n));
        if (h1s.size() == 1) return h1s.front();
    }
    return docTitles.empty() ? std::string() : stripSiteName(docTitles.front());
}

// The element of the headline, for the lines around it.
int titleOrder(Analysis& a, const std::string& title) {
    if (title.empty()) return -1;
    for (xmlNode* n : a.titleCandidates())
        if (!a.info(n).junk && a.text(n) == title) return a.info(n).order;
    return -1;
}

// The short lines a reader sees around the headline (a few before it, where a date may stand,
// and those after it), or without a headline the lines just before the article and its first.
std::vector<const ShortLine*> headerLines(Analysis& a, const xmlNode* body, int titleAt) {
    std::vector<const ShortLine*> usable;
    for (const auto& l : a.lines())
        if (!a.info(l.block).inNoise && !a.info(l.block).noise) usable.push_back(&l);
    std::size_t from = 0, to = 0;
    if (titleAt >= 0) {
        while (from < usable.size() && usable[from]->order < titleAt) ++from;
        from = from > 3 ? from - 3 : 0;
        to = std::min(usable.size(), from + 15);
    } else if (body) {
        const Info& b = a.info(body);
        while (from < usable.size() && usable[from]->order < b.order) ++from;
        to = std::min(usable.size(), from + 8);
        from = from > 6 ? from - 6 : 0;
    } else {
        to = std::min<std::size_t>(usable.size(), 20);
    }
    return {usable.begin() + static_cast<std::ptrdiff_t>(from), usable.begin() + static_cast<std::ptrdiff_t>(to)};
}

std::string findDate(Analysis& a, const xmlNode* body, const std::vector<const ShortLine*>& lines) {
    std::vector<std::string> stated;
    stated.push_back(NormalizeDate(jsonLdValue(a, "datePublished")));
    for (const char* key :
         {"article:published_time", "og:article:published_time", "published_time", "datepublished", "pubdate",
          "publishdate", "publish-date", "publish_date", "ptime", "dc.date.issued", "dc.date", "dcterms.created",
          "sailthru.date", "parsely-pub-date", "weibo:article:create_at", "date"})
        stated.push_back(NormalizeDate(metaValue(a, {key})));
    // <time> elements near the headline or in the article.
    int lo = lines.empty() ? 0 : lines.front()->order;
    int hi = body ? a.info(body).end : lines.empty() ? 0 : lines.back()->order;
    for (xmlNode* t : a.times()) {
        const Info& ti = a.info(t);
        if (ti.order < lo || ti.order > hi || ti.inNoise || ti.noise) continue;
        std::string_view dt = attr(t, "datetime");
        stated.push_back(dt.empty() ? NormalizeDate(a.text(t)) : NormalizeDate(dt));
    }
    std::string visible;
    for (const ShortLine* l : lines) {
        std::string d = NormalizeDate(l->text);
        if (d.empty()) continue;
        if (visible.empty() || (!hasTime(visible) && hasTime(d) && d.compare(0, 10, visible, 0, 10) == 0)) visible = d;
        if (hasTime(visible)) break;
    }
    for (const auto& s : stated) {
        if (s.empty()) continue;
        // A date without its time, when the page shows the same day with one.
        if (!hasTime(s) && !visible.empty() && visible.compare(0, 10, s, 0, 10) == 0) return visible;
        return s;
    }
    if (!visible.empty()) return visible;
    return NormalizeDate(metaValue(a, {"article:modified_time", "datemodified", "og:updated_time"}));
}

// The name after a byline label, up to the next label or separator.
std::string cutName(std::string_view rest) {
    std::string s = collapseSpace(rest);
    while (!s.empty() && (startsWith(s, "：") || startsWith(s, ":") || startsWith(s, "︱") || startsWith(s, "|") ||
                          startsWith(s, "｜") || startsWith(s, "/") || s.front() == ' '))
        s.erase(0, startsWith(s, "：") || startsWith(s, "︱") || startsWith(s, "｜") ? 3 : 1);
    bool cjk = false;
    for (std::size_t i = 0; i < s.size() && i < 12;) {
        if (isCjk(nextCodePoint(s, i))) cjk = true;
    }
    std::size_t end = s.size();
    for (std::string_view stop :
         {"责任编辑", "来源", "编辑", "时间", "发布", "日期", "|",   "｜", "丨", "︱",   "　",
          "（",       "(",    " on ", " in ", " at ", " - ",  " / ", ",",  "，", "摄影", "图片"}) {
        std::size_t at = s.find(stop);
        if (at != std::string::npos && at < end) end = at;
    }
    if (cjk) {
        std::size_t sp = s.find(' ');
        if (sp != std::string::npos && sp < end) end = sp;
    }
    s = collapseSpace(s.substr(0, end));
    // "By Jane Doe March 5, 2026": the date is not part of the name.
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (std::isalnum(static_cast<unsigned char>(s[i - 1]))) continue;
        if (numericDateAt(Scanner{s, i}) || wordDateAt(Scanner{s, i})) {
            s = collapseSpace(s.substr(0, i));
            break;
        }
    }
    if (codePoints(s) > 40) return {};
    return s;
}

std::string findAuthor(Analysis& a, const std::vector<const ShortLine*>& lines) {
    std::string ld = jsonLdValue(a, "author");
    if (!ld.empty()) return ld;
    for (const ShortLine* l : lines) {
        const std::string& t = l->text;
        for (std::string_view label : {"作者：", "作者:", "作者︱", "作者|", "作者 ", "文／", "文/", "文|", "撰文：",
                                       "记者：", "记者 ", "本报记者", "Written by", "Posted by", "By ", "by "}) {
            std::size_t at = t.find(label);
            if (at == std::string::npos) continue;
            // "By" starts the line or follows a word ("Posted on … by"); Chinese labels may follow a source.
            if (label == "By " && at != 0) continue;
            if (label == "by " && at != 0 && t[at - 1] != ' ') continue;
            std::string name = cutName(std::string_view(t).substr(at + label.size()));
            if (!name.empty()) return name;
        }
        std::string names = lower(attr(l->block, "class")) + " " + lower(attr(l->block, "id"));
        if ((contains(names, "author") || contains(names, "byline")) && l->text.size() < 80) {
            std::string_view text = l->text;
            if (startsWith(lower(text.substr(0, 3)), "by ")) text.remove_prefix(3);
            std::string name = cutName(text);
            if (!name.empty()) return name;
        }
    }
    std::string m = metaValue(a, {"author", "article:author", "dc.creator", "byl", "sailthru.author"});
    if (startsWith(m, "http://") || startsWith(m, "https://")) m.clear();
    if (startsWith(lower(m), "by ")) m.erase(0, 3);
    return collapseSpace(m);
}

// ---------------------------------------------------------------------------------------------

struct DocDeleter {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};

std::string_view withoutWrapper(std::string_view page) {
    while (!page.empty() && isAsciiSpace(static_cast<unsigned char>(page.front()))) page.remove_prefix(1);
    if (startsWith(page, "<tarvex>")) page.remove_prefix(8);
    while (!page.empty() && isAsciiSpace(static_cast<unsigned char>(page.back()))) page.remove_suffix(1);
    constexpr std::string_view close = "</tarvex>";
    if (page.size() >= close.size() && page.substr(page.size() - close.size()) == close)
        page.remove_suffix(close.size());
    return page;
}

Article analyse(std::string_view page) {
    static std::once_flag init;
    std::call_once(init, [] { xmlInitParser(); });
    Article out;
    std::string repaired;
    if (!platform::utf8::isValid(page)) {
        repaired = platform::utf8::repair(page);
        page = repaired;
    }
    page = withoutWrapper(page);
    if (page.empty() || page.size() > static_cast<std::size_t>(INT32_MAX)) return out;
    const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET |
                        HTML_PARSE_COMPACT | HTML_PARSE_IGNORE_ENC;
    std::unique_ptr<xmlDoc, DocDeleter> doc(
        htmlReadMemory(page.data(), static_cast<int>(page.size()), nullptr, "UTF-8", options));
    if (!doc) return out;
    Analysis a(doc.get());
    a.run();
    xmlNode* body = a.bodyNode();
    out.title = findTitle(a, body);
    auto lines = headerLines(a, body, titleOrder(a, out.title));
    out.date = findDate(a, body, lines);
    out.author = findAuthor(a, lines);
    if (body) out.body = BodyWriter(a, body, out.title).write();
    while (!out.body.empty() && out.body.back() == '\n') out.body.pop_back();
    return out;
}

struct CachedArticle {
    std::size_t hash = 0, size = 0;
    bool filled = false;
    Article article;
};

}  // namespace

ArticlePart ArticlePartFromText(std::string_view text) {
    if (text == "标题") return ArticlePart::Title;
    if (text == "发布时间") return ArticlePart::Date;
    if (text == "作者") return ArticlePart::Author;
    return ArticlePart::Body;
}

const char* ArticlePartText(ArticlePart part) {
    switch (part) {
        case ArticlePart::Title:
            return "标题";
        case ArticlePart::Date:
            return "发布时间";
        case ArticlePart::Author:
            return "作者";
        case ArticlePart::Body:
            break;
    }
    return "正文";
}

Article ExtractArticle(std::string_view html) {
    thread_local CachedArticle cache;
    const std::size_t hash = std::hash<std::string_view>{}(html);
    if (cache.filled && cache.hash == hash && cache.size == html.size()) return cache.article;
    cache.article = analyse(html);
    cache.hash = hash;
    cache.size = html.size();
    cache.filled = true;
    return cache.article;
}

std::string ExtractArticlePart(std::string_view html, ArticlePart part) {
    Article a = ExtractArticle(html);
    switch (part) {
        case ArticlePart::Title:
            return a.title;
        case ArticlePart::Date:
            return a.date;
        case ArticlePart::Author:
            return a.author;
        case ArticlePart::Body:
            break;
    }
    return a.body;
}

}  // namespace tarvex::engine

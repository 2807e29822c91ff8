#include "collect/http_fetch.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <limits>
#include <mutex>
#include <optional>

#include "platform/json_text.h"
#include "platform/run_log.h"
#include "platform/text_codec.h"
#include "platform/utf8.h"

namespace tarvex::collect {
namespace {

constexpr const char* kPostUserAgent =
    "Mozilla/5.0 (Windows; Windows NT 6.1) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/56.0.2924.87 Safari/537.36";
constexpr const char* kPostBody = "{\"lotId\":42,\"nearly\":20}";
constexpr int kDefaultTimeoutMs = 20000;
constexpr int kPostTimeoutMs = 10000;

std::mutex g_specialLock;
FetchSpecialHosts g_special;
platform::Dialogs* g_dialogs = nullptr;

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Position of `needle` (lower case) in `text` without regard to ASCII case, or npos.
std::size_t findNoCase(std::string_view text, std::string_view needle) {
    auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                          [](char a, char b) { return asciiLower(a) == b; });
    return it == text.end() ? std::string_view::npos : static_cast<std::size_t>(it - text.begin());
}

bool matches(const std::string& address, const std::string& host) {
    return !host.empty() && address.find(host) != std::string::npos;
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
    if (from.empty()) return text;
    std::size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
    return text;
}

// One code point at `i`; `len` is its byte length, 0 for an invalid byte.
char32_t decodeAt(std::string_view s, std::size_t i, std::size_t& len) {
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    len = 0;
    if (c < 0x80) {
        len = 1;
        return c;
    }
    std::size_t need = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (need == 0 || i + need > s.size()) return 0;
    std::string_view one = s.substr(i, need);
    if (!platform::utf8::isValid(one)) return 0;
    char32_t cp = need == 2 ? c & 0x1F : need == 3 ? c & 0x0F : c & 0x07;
    for (std::size_t k = 1; k < need; ++k) cp = (cp << 6) | (b(i + k) & 0x3F);
    len = need;
    return cp;
}

void appendHex(std::string& out, std::string_view bytes) {
    static const char* hex = "0123456789ABCDEF";
    for (unsigned char c : bytes) {
        out += '%';
        out += hex[c >> 4];
        out += hex[c & 15];
    }
}

bool isGbk(const std::string& encoding) {
    return platform::canonicalCharset(encoding) == "gb18030";
}

std::string encodeChar(std::string_view utf8Char, bool gbk) {
    return gbk ? platform::utf8ToGb18030(utf8Char) : std::string(utf8Char);
}

// Only plain charset labels reach iconv; anything else counts as unrecognised.
bool plausibleCharsetLabel(std::string_view label) {
    return !label.empty() && label.size() <= 40 && std::all_of(label.begin(), label.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == ':';
    });
}

// The value after "charset" and "=" in `text` (already lower case), up to a quote, space,
// ";", ">" or "/"; "" when there is none.
std::string charsetValue(std::string_view text) {
    std::size_t pos = 0;
    while ((pos = text.find("charset", pos)) != std::string_view::npos) {
        std::size_t i = pos + 7;
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        if (i < text.size() && text[i] == '=') {
            ++i;
            while (i < text.size() &&
                   (std::isspace(static_cast<unsigned char>(text[i])) || text[i] == '"' || text[i] == '\''))
                ++i;
            std::size_t start = i;
            while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])) &&
                   std::string_view("\"';>/,").find(text[i]) == std::string_view::npos)
                ++i;
            if (i > start) return std::string(text.substr(start, i - start));
        }
        pos += 7;
    }
    return {};
}

std::string latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (unsigned char c : bytes) platform::utf8::append(out, c);
    return out;
}

// Reads one settings value as text: strings as they are, numbers and booleans written out.
std::string settingText(const nlohmann::json& doc, const char* key) {
    auto it = doc.find(key);
    if (it == doc.end() || it->is_null()) return {};
    if (it->is_string()) return it->get<std::string>();
    if (it->is_boolean()) return it->get<bool>() ? "true" : "false";
    if (it->is_number()) return it->dump();
    return {};
}

bool settingFlag(const std::string& value) {
    std::string v = platform::utf8::lowerAscii(value);
    v.erase(0, v.find_first_not_of(" \t"));
    v.erase(v.find_last_not_of(" \t") + 1);
    if (v == "true") return true;
    try {
        std::size_t used = 0;
        long long n = std::stoll(v, &used);
        return used == v.size() && n != 0;
    } catch (...) {
        return false;
    }
}

std::optional<long long> strictInt(std::string_view text) {
    std::string t(text);
    t.erase(0, t.find_first_not_of(" \t\r\n"));
    t.erase(t.find_last_not_of(" \t\r\n") + 1);
    if (t.empty()) return std::nullopt;
    std::size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (i == t.size() ||
        !std::all_of(t.begin() + static_cast<long>(i), t.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    try {
        return std::stoll(t);
    } catch (...) {
        return std::nullopt;
    }
}

// The inner text of the first <div> whose class attribute is exactly `cls`, nested divs
// included; nullopt when there is none.
std::optional<std::string> divContentByClass(const std::string& page, const std::string& cls) {
    std::string low = platform::utf8::lowerAscii(page);
    std::size_t pos = 0;
    while ((pos = low.find("<div", pos)) != std::string::npos) {
        std::size_t tagEnd = low.find('>', pos);
        if (tagEnd == std::string::npos) return std::nullopt;
        std::string_view tag(page.data() + pos, tagEnd - pos);
        std::string_view lowTag(low.data() + pos, tagEnd - pos);
        std::size_t c = lowTag.find("class=");
        if (c != std::string_view::npos && c + 6 < tag.size() && (tag[c + 6] == '"' || tag[c + 6] == '\'')) {
            char q = tag[c + 6];
            std::size_t end = tag.find(q, c + 7);
            if (end != std::string_view::npos && tag.substr(c + 7, end - c - 7) == cls) {
                std::size_t inner = tagEnd + 1, scan = inner;
                int depth = 1;
                while (depth > 0) {
                    std::size_t open = low.find("<div", scan), close = low.find("</div", scan);
                    if (close == std::string::npos) return page.substr(inner);
                    if (open != std::string::npos && open < close) {
                        ++depth;
                        scan = open + 4;
                    } else {
                        if (--depth == 0) return page.substr(inner, close - inner);
                        scan = close + 5;
                    }
                }
            }
        }
        pos = tagEnd;
    }
    return std::nullopt;
}

// The pager site lists only the first page's pager in its HTML and builds the rest with
// script; rebuild it as plain links so pagination rules can follow them.
std::string expandPager(const std::string& address, std::string page) {
    if (address.find('_') != std::string::npos) return page;
    std::size_t attr = page.find("data-page=");
    if (attr == std::string::npos) return page;
    std::optional<std::string> pager = divContentByClass(page, "pager talc zwpager");

    std::string value;
    std::size_t v = attr + 10;
    if (v < page.size() && (page[v] == '"' || page[v] == '\'')) {
        std::size_t end = page.find(page[v], v + 1);
        value = page.substr(v + 1, end == std::string::npos ? std::string::npos : end - v - 1);
    } else {
        std::size_t end = page.find_first_of(" >", v);
        value = page.substr(v, end == std::string::npos ? std::string::npos : end - v);
    }
    std::string item;
    if (auto bar = value.find('|'); bar != std::string::npos) {
        std::size_t next = value.find('|', bar + 1);
        item = value.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1);
    }
    long long total = 0;
    if (auto n = strictInt(item)) {
        total = *n;
    } else {
        platform::Dialogs* dialogs = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_specialLock);
            dialogs = g_dialogs;
        }
        if (dialogs) dialogs->message("文字转数字有误str:" + item, platform::kAppTitle);
    }
    long long pages = total > 0 ? (total + 29) / 30 : 0;
    std::string links;
    for (long long k = 2; k <= pages; ++k) {
        std::string target = replaceAll(address, ".html", "_" + std::to_string(k) + ".html");
        links += "<a href=\"" + target + "\">" + std::to_string(k) + "</a>";
    }
    // An empty pager cannot be replaced meaningfully (it would match everywhere).
    if (pager && !pager->empty()) page = replaceAll(std::move(page), *pager, links);
    return page;
}

std::string postToSpecialHost(const std::string& address, const FetchSpecialHosts& special) {
    platform::HttpRequest req;
    req.method = "POST";
    req.url = encodeForm(address, "UTF-8");
    req.userAgent = kPostUserAgent;
    req.referer = special.postReferer;
    req.headers = {{"http-cust-oid", "99"}, {"fr", "6"}};
    req.contentType = "application/json;charset=utf-8";
    req.body = kPostBody;
    req.connectTimeoutMs = kPostTimeoutMs;
    req.idleTimeoutMs = kPostTimeoutMs;
    req.tls.verifyPeer = false;
    platform::HttpResponse res = platform::httpPerform(req);
    if (!res.ok()) return "fail:" + res.failureText();
    return "succ:" + DecodePage(res.body, res.header("Content-Type"), "");
}

}  // namespace

std::string FetchOption(std::string_view block, std::string_view name) {
    std::string want = platform::utf8::lowerAscii(name);
    std::size_t pos = 0;
    while (pos <= block.size()) {
        std::size_t end = block.find_first_of("\r\n", pos);
        std::string_view line = block.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        if (auto eq = line.find('=');
            eq != std::string_view::npos && platform::utf8::lowerAscii(line.substr(0, eq)) == want)
            return std::string(line.substr(eq + 1));
        if (end == std::string_view::npos) break;
        pos = end + 1;
    }
    return {};
}

std::string BuildFetchOptions(const std::string& settingsJson) {
    nlohmann::json doc = platform::parseJson<nlohmann::json>(settingsJson);
    if (!doc.is_object()) doc = nlohmann::json::object();
    std::string ua = settingText(doc, "other_ua");
    std::string cookie = settingText(doc, "other_cookie");
    std::string https = settingText(doc, "https") == "1" ? "1" : "";
    std::string gzip = settingFlag(settingText(doc, "other_gzip")) ? "1" : "";
    std::string charset = settingText(doc, "other_charset");
    // Line breaks inside a value would forge further option lines. The block ends with a
    // line break so callers can append their own lines ("referer=…\r") to it.
    auto oneLine = [](std::string v) {
        v.erase(std::remove_if(v.begin(), v.end(), [](char c) { return c == '\r' || c == '\n'; }), v.end());
        return v;
    };
    return "useragent=" + oneLine(ua.empty() ? kDefaultUserAgent : ua) + "\r\n" + "cookie=" + oneLine(cookie) + "\r\n" +
           "https=" + https + "\r\n" + "gzip=" + gzip + "\r\n" + "charset=" + oneLine(charset) + "\r\n" +
           "readtimeout=20000\r\n" + "connecttimeout=20000\r\n";
}

std::string encodeForm(const std::string& text, const std::string& encoding) {
    try {
        bool gbk = isGbk(encoding);
        std::string out;
        out.reserve(text.size());
        for (std::size_t i = 0; i < text.size();) {
            std::size_t len = 0;
            char32_t cp = decodeAt(text, i, len);
            if (len == 0) {
                out += text[i++];
                continue;
            }
            if (cp >= 0x4E00 && cp <= 0x9FA5)
                appendHex(out, encodeChar(std::string_view(text).substr(i, len), gbk));
            else
                out.append(text, i, len);
            i += len;
        }
        out = replaceAll(std::move(out), "《", "%e3%80%8a");
        out = replaceAll(std::move(out), "》", "%e3%80%8b");
        if (out != text) platform::WriteLog("Myhttpencode2|url需转码且完成：" + text, 0);
        return out;
    } catch (const std::exception& e) {
        platform::WriteLog(std::string("Myhttpencode2|url转码异常：") + e.what(), 0);
        return text;
    }
}

std::string UrlEncodeAll(const std::string& text, const std::string& encoding) {
    static const std::string_view unsafe = "*<>#%\"{}|\\^[]`";
    bool gbk = isGbk(encoding);
    std::string out;
    out.reserve(text.size() * 2);
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = 0;
        char32_t cp = decodeAt(text, i, len);
        if (len == 0) {  // a stray byte: encode it as it is
            appendHex(out, std::string_view(text).substr(i, 1));
            ++i;
            continue;
        }
        if (cp <= 32 || cp >= 128)
            appendHex(out, cp < 128 ? std::string(1, static_cast<char>(cp))
                                    : encodeChar(std::string_view(text).substr(i, len), gbk));
        else if (unsafe.find(static_cast<char>(cp)) != std::string_view::npos)
            appendHex(out, std::string(1, static_cast<char>(cp)));
        else
            out += static_cast<char>(cp);
        i += len;
    }
    return out;
}

void SetTlsVersion(const std::string& version, platform::TlsSettings& tls) {
    if (version == "1.2") tls.version = platform::TlsVersion::Tls12;
}

std::string DeclaredCharset(std::string_view contentType, std::string_view body) {
    std::string fromHeader = charsetValue(platform::utf8::lowerAscii(contentType));
    if (!fromHeader.empty()) return fromHeader;
    // The head only: server-side includes put stray <meta> tags into bodies. Modern pages
    // often have the declaration well after the first kilobyte, so the whole head counts.
    std::string_view head = body.substr(0, findNoCase(body, "</head"));
    std::string low = platform::utf8::lowerAscii(head);
    std::size_t pos = 0;
    while ((pos = low.find("<meta", pos)) != std::string::npos) {
        std::size_t end = low.find('>', pos);
        std::string_view tag =
            std::string_view(low).substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        std::string cs = charsetValue(tag);
        if (!cs.empty()) return cs;
        pos += 5;
    }
    return {};
}

std::string DecodePage(std::string_view body, std::string_view contentType, std::string_view forcedCharset) {
    using namespace platform;
    if (!forcedCharset.empty()) {
        if (canonicalCharset(forcedCharset) == "gb18030") return gb18030ToUtf8(body);
        return utf8::repair(utf8::stripBom(body));
    }
    if (body.substr(0, 3) == utf8::kBom) return utf8::repair(body.substr(3));
    if (body.size() >= 2 && body.substr(0, 2) == "\xFF\xFE")
        return decodeToUtf8(body.substr(2), "UTF-16LE").value_or("");
    if (body.size() >= 2 && body.substr(0, 2) == "\xFE\xFF")
        return decodeToUtf8(body.substr(2), "UTF-16BE").value_or("");
    // Text that is valid UTF-8 is UTF-8 whatever it declares: pages re-saved as UTF-8 often
    // keep an old "gb2312" declaration, and GBK or Latin-1 text is practically never valid
    // UTF-8 by accident.
    if (utf8::isValid(body)) return std::string(body);
    std::string declared = DeclaredCharset(contentType, body);
    if (plausibleCharsetLabel(declared))
        if (auto text = decodeToUtf8(body, declared)) return *text;
    return latin1ToUtf8(body);
}

void SetFetchSpecialHosts(FetchSpecialHosts hosts) {
    std::lock_guard<std::mutex> lock(g_specialLock);
    g_special = std::move(hosts);
}

FetchSpecialHosts GetFetchSpecialHosts() {
    std::lock_guard<std::mutex> lock(g_specialLock);
    return g_special;
}

void SetFetchDialogs(platform::Dialogs* dialogs) {
    std::lock_guard<std::mutex> lock(g_specialLock);
    g_dialogs = dialogs;
}

int FetchDeadlineMs(int idleTimeoutMs) {
    constexpr long long kMinDeadlineMs = 60000;
    long long ms = std::max<long long>(10LL * std::max(idleTimeoutMs, 0), kMinDeadlineMs);
    return static_cast<int>(std::min<long long>(ms, std::numeric_limits<int>::max()));
}

std::string HttpGet(const std::string& address, const std::string& block, const std::function<bool()>& cancelled) {
    try {
        FetchSpecialHosts special = GetFetchSpecialHosts();
        if (matches(address, special.postHost)) return postToSpecialHost(address, special);

        platform::HttpRequest req;
        req.url = encodeForm(address, "UTF-8");
        req.connectTimeoutMs = kDefaultTimeoutMs;
        req.idleTimeoutMs = kDefaultTimeoutMs;
        req.referer = matches(address, special.refererHost) ? special.refererValue : req.url;
        req.userAgent = kDefaultUserAgent;
        // Collected pages are public; a broken certificate chain must not hide them.
        req.tls.verifyPeer = false;
        if (matches(address, special.tlsHost)) req.tls.version = platform::TlsVersion::Tls11;
        bool gzipHost = std::any_of(special.gzipHosts.begin(), special.gzipHosts.end(),
                                    [&](const std::string& h) { return matches(address, h); });
        req.acceptCompressed = gzipHost;

        std::string charset;
        if (!block.empty()) {
            std::string referer = FetchOption(block, "referer");
            if (referer == "无来源")
                req.referer.reset();
            else if (!referer.empty())
                req.referer = referer;
            // A value that is no positive number keeps the default rather than meaning
            // "wait forever".
            if (auto ms = strictInt(FetchOption(block, "readtimeout2")); ms && *ms > 0) {
                int clamped = static_cast<int>(std::min<long long>(*ms, 24LL * 3600 * 1000));
                req.idleTimeoutMs = clamped;
                req.connectTimeoutMs = clamped;
            }
            std::string ua = FetchOption(block, "useragent");
            if (!ua.empty()) req.userAgent = ua;
            if (FetchOption(block, "gzip") == "1") req.acceptCompressed = true;
            req.cookie = FetchOption(block, "cookie");
            charset = FetchOption(block, "charset");
        }

        req.totalTimeoutMs = FetchDeadlineMs(req.idleTimeoutMs);
        req.cancelled = cancelled;
        platform::HttpResponse res = platform::httpPerform(req);
        if (!res.ok()) return "fail:" + res.failureText();
        std::string text = DecodePage(res.body, res.header("Content-Type"), charset);
        if (charset.empty() && matches(address, special.pagerHost)) text = expandPager(address, std::move(text));
        return "succ:" + text;
    } catch (const std::exception& e) {
        return std::string("fail:") + e.what();
    } catch (...) {
        return "fail:unknown error";
    }
}

}  // namespace tarvex::collect

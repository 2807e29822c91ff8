#pragma once
// Fetching pages: the fetch option block built from a task's settings, `HttpGet` with the
// system's request, decoding and "succ:"/"fail:" result, the address encoders, and the table
// of special-case hosts. Every function is safe on any thread; `HttpGet` shares no state
// between calls except a read of the special-case table.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http_client.h"
#include "platform/ports.h"

namespace tarvex::collect {

inline constexpr const char* kDefaultUserAgent =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 5.1; SV1; Maxthon; .NET CLR 1.1.4322)";

// The option block of a run: "useragent=", "cookie=", "https=", "gzip=", "charset=",
// "readtimeout=20000", "connecttimeout=20000", one per line, each ending in CR LF, filled
// from the settings document (JSON text); unreadable JSON gives the defaults.
std::string BuildFetchOptions(const std::string& settingsJson);

// The value of option `name` in a block (names without regard to case, the first line
// wins, CR, LF or CR LF end lines); "" when absent.
std::string FetchOption(std::string_view block, std::string_view name);

// GETs `address` with the options of `block` (may be empty) and returns "succ:" + the
// decoded page or "fail:" + the status line or transport message. Never throws. The whole
// request ends after 10 times its read time-out (at least 60 s); `cancelled` (may be empty)
// is polled during the transfer and ends it with "fail:Transfer cancelled" when true.
std::string HttpGet(const std::string& address, const std::string& block, const std::function<bool()>& cancelled = {});

// The overall deadline HttpGet gives a request whose idle time-out is `idleTimeoutMs`.
int FetchDeadlineMs(int idleTimeoutMs);

// Percent-encodes the CJK ideographs U+4E00..U+9FA5 of an address in "UTF-8" or "GBK",
// and the title marks 《 》 as "%e3%80%8a" / "%e3%80%8b". Other characters stay.
std::string encodeForm(const std::string& text, const std::string& encoding);

// Percent-encodes every control character, space, non-ASCII character and * < > # % " { } |
// \ ^ [ ] ` in "UTF-8" or "GBK" bytes (upper-case hex). "%" itself is encoded again.
std::string UrlEncodeAll(const std::string& text, const std::string& encoding);

// "1.2" selects exactly TLS 1.2; anything else leaves the library's default.
void SetTlsVersion(const std::string& version, platform::TlsSettings& tls);

// The charset a response declares: the Content-Type header's, else the first <meta> of
// the page's head that names one (http-equiv Content-Type or <meta charset>). "" if none.
std::string DeclaredCharset(std::string_view contentType, std::string_view body);

// Page bytes → UTF-8 text. A forced charset wins ("GBK" and its aliases → GB18030, anything
// else → UTF-8). Otherwise: a byte-order mark, then valid UTF-8, then the declared charset,
// else one character per byte (Latin-1). Invalid bytes become U+FFFD; a BOM is dropped.
std::string DecodePage(std::string_view body, std::string_view contentType, std::string_view forcedCharset);

// Sites that need the fetch to behave differently, matched by a substring of the address.
// All empty by default (an empty entry never matches).
struct FetchSpecialHosts {
    std::string postHost;     // answered by a fixed JSON POST instead of a GET
    std::string postReferer;  // the Referer that POST carries
    std::string refererHost;  // gets `refererValue` as its Referer
    std::string refererValue;
    std::vector<std::string> gzipHosts;  // always asked for compressed answers
    std::string tlsHost;                 // spoken to with TLS 1.1
    std::string pagerHost;               // pages whose pager is rebuilt into plain links
};

void SetFetchSpecialHosts(FetchSpecialHosts hosts);
FetchSpecialHosts GetFetchSpecialHosts();
// Where the pager case shows its message box; not owned, nullptr = nowhere.
void SetFetchDialogs(platform::Dialogs* dialogs);

}  // namespace tarvex::collect

#pragma once
// The cookie window "获取COOKIE" as values: the user-agent rule, the site a page's cookies are
// taken for, the cookie text built from what the browser's cookie store holds (HttpOnly cookies
// included), and what the window hands back to the task settings. No Qt: the window in ui/
// feeds the browser's cookies in. UI thread.
#include <optional>
#include <string>
#include <vector>

namespace tarvex::app {

// The user agents the window offers besides free text.
inline constexpr const char* kUserAgentChoices[] = {
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 5.1; SV1; Maxthon; .NET CLR 1.1.4322",
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/56.0.2923.82 Safari/537.36",
};

// "UserAgent太短,不符合要求！" for a choice that is not empty but shorter than 30 characters
// once trimmed; nullopt when the choice may be used (an empty one means the browser's own).
std::optional<std::string> UserAgentRefusal(const std::string& choice);

// The site root of a page address: the first "http[s]?://[0-9a-zA-Z\-\.]+[/]?" without its
// final "/" ("http://www.h.com" for "http://www.h.com:8080/a/b"); "" when there is none.
std::string CookieSiteRoot(const std::string& address);

// One cookie of the browser's store.
struct BrowserCookie {
    std::string name, value;
    std::string domain;  // a leading "." covers the sub-domains; without it the host only
    std::string path = "/";
    bool secure = false;
    bool httpOnly = false;
};

// The cookies of the browser's store, kept up to date from its added/removed notices. A cookie
// replaces one with the same name, domain and path.
class CookieJar {
public:
    void add(const BrowserCookie& cookie);
    void remove(const BrowserCookie& cookie);
    void clear() { m_cookies.clear(); }
    const std::vector<BrowserCookie>& cookies() const { return m_cookies; }

    // "name=value; name=value" of every cookie (HttpOnly ones included) the browser would send
    // to the site root or any page below it: domain matching the host, secure cookies only for
    // https; longer paths first, then in the order the store made them. "" for no root.
    std::string textFor(const std::string& siteRoot) const;

private:
    std::vector<BrowserCookie> m_cookies;
};

// What "保存COOKIE并退出" hands back.
struct CookieCaptureResult {
    std::string cookie;
    std::string userAgent;  // "" when none was chosen
};
struct CookieSaveOutcome {
    std::optional<CookieCaptureResult> result;
    std::string refusal;  // set when the window stays open
};
CookieSaveOutcome SaveCookieCapture(const std::string& cookieText, const std::string& userAgentChoice);

// What the task settings do with the result: a non-empty cookie becomes "other_cookie", and
// then a user agent, when one came back, "other_ua". True when a field changed.
bool ApplyCookieCapture(const CookieCaptureResult& result, std::string& cookie, std::string& userAgent);

}  // namespace tarvex::app

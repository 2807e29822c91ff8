#include "app/forms/cookie_capture.h"

#include <algorithm>
#include <cctype>
#include <numeric>

#include "app/tasks/settings_document.h"
#include "platform/regex.h"
#include "platform/utf8.h"

namespace tarvex::app {

namespace {

std::string lowerAscii(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool sameCookie(const BrowserCookie& a, const BrowserCookie& b) {
    return a.name == b.name && lowerAscii(a.domain) == lowerAscii(b.domain) && a.path == b.path;
}

bool domainMatches(const std::string& cookieDomain, const std::string& host) {
    std::string domain = lowerAscii(cookieDomain);
    if (domain.empty()) return false;
    if (domain.front() != '.') return domain == host;
    const std::string bare = domain.substr(1);
    return host == bare ||
           (host.size() > domain.size() && host.compare(host.size() - domain.size(), domain.size(), domain) == 0);
}

}  // namespace

std::optional<std::string> UserAgentRefusal(const std::string& choice) {
    const std::string trimmed = TrimText(choice);
    if (!trimmed.empty() && platform::utf8::length(trimmed) < 30) return "UserAgent太短,不符合要求！";
    return std::nullopt;
}

std::string CookieSiteRoot(const std::string& address) {
    auto found = platform::regexFirst("http[s]?://[0-9a-zA-Z\\-\\.]+[/]?", platform::kRegexNone, address);
    if (!found.match) return {};
    std::string root(found.match->group());
    if (root.back() == '/') root.pop_back();
    return root;
}

void CookieJar::add(const BrowserCookie& cookie) {
    for (auto& known : m_cookies)
        if (sameCookie(known, cookie)) {
            known = cookie;
            return;
        }
    m_cookies.push_back(cookie);
}

void CookieJar::remove(const BrowserCookie& cookie) {
    std::erase_if(m_cookies, [&](const BrowserCookie& known) { return sameCookie(known, cookie); });
}

std::string CookieJar::textFor(const std::string& siteRoot) const {
    const std::size_t scheme = siteRoot.find("://");
    if (scheme == std::string::npos) return {};
    const bool https = lowerAscii(siteRoot.substr(0, scheme)) == "https";
    const std::string host = lowerAscii(siteRoot.substr(scheme + 3));
    std::vector<std::size_t> order(m_cookies.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return m_cookies[a].path.size() > m_cookies[b].path.size(); });
    std::string text;
    for (std::size_t i : order) {
        const BrowserCookie& c = m_cookies[i];
        if (!domainMatches(c.domain, host) || (c.secure && !https)) continue;
        if (!text.empty()) text += "; ";
        text += c.name + "=" + c.value;
    }
    return text;
}

CookieSaveOutcome SaveCookieCapture(const std::string& cookieText, const std::string& userAgentChoice) {
    if (auto refusal = UserAgentRefusal(userAgentChoice)) return {std::nullopt, *refusal};
    return {CookieCaptureResult{cookieText, TrimText(userAgentChoice)}, {}};
}

bool ApplyCookieCapture(const CookieCaptureResult& result, std::string& cookie, std::string& userAgent) {
    if (TrimText(result.cookie).empty()) return false;
    cookie = result.cookie;
    if (!result.userAgent.empty()) userAgent = result.userAgent;
    return true;
}

}  // namespace tarvex::app

#include "engine/url_utils.h"
#include "platform/utf8.h"

#include <optional>
#include <vector>

namespace tarvex::engine {
namespace {

bool isHostChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool startsWithNoCase(std::string_view s, std::size_t pos, std::string_view prefix) {
    return s.size() - pos >= prefix.size() && equalsNoCase(s.substr(pos, prefix.size()), prefix);
}

using platform::utf8::replaceAll;

bool contains(std::string_view s, std::string_view part) {
    return s.find(part) != std::string_view::npos;
}

// "//" + host characters + an optional ":digits" port, starting at s[pos].
struct Authority {
    std::size_t end = 0;  // one past the last character of host and port
    std::string_view host;
    std::string_view port;  // digits only, may be empty
};

std::optional<Authority> matchAuthority(std::string_view s, std::size_t pos) {
    if (s.substr(pos, 2) != "//") return std::nullopt;
    std::size_t i = pos + 2;
    while (i < s.size() && isHostChar(s[i])) ++i;
    if (i == pos + 2) return std::nullopt;
    Authority a;
    a.host = s.substr(pos + 2, i - pos - 2);
    // The port belongs to the site: a page on host:8080 links within host:8080.
    if (i + 1 < s.size() && s[i] == ':' && isDigit(s[i + 1])) {
        std::size_t p = i + 1;
        while (p < s.size() && isDigit(s[p])) ++p;
        a.port = s.substr(i + 1, p - i - 1);
        i = p;
    }
    a.end = i;
    return a;
}

// The first "http[s]://host[:port][/]" in an address, scheme letters in any case.
struct RootMatch {
    std::size_t pos = 0;
    std::size_t len = 0;
    bool endsWithSlash = false;
    std::string scheme;  // "http" or "https", lower case
    Authority authority;
};

std::optional<RootMatch> findRoot(std::string_view s) {
    for (std::size_t i = 0; i + 4 <= s.size(); ++i) {
        if (!startsWithNoCase(s, i, "http")) continue;
        std::size_t j = i + 4;
        bool secure = j < s.size() && lower(s[j]) == 's';
        for (std::size_t k : {j + (secure ? 1 : 0), j}) {
            if (s.substr(k, 1) != ":") continue;
            auto authority = matchAuthority(s, k + 1);
            if (!authority) continue;
            RootMatch m;
            m.pos = i;
            m.scheme = k > j ? "https" : "http";
            m.authority = *authority;
            std::size_t end = authority->end;
            m.endsWithSlash = end < s.size() && s[end] == '/';
            if (m.endsWithSlash) ++end;
            m.len = end - i;
            return m;
        }
    }
    return std::nullopt;
}

// The first "//host[:port]" anywhere in the text.
std::optional<Authority> findAuthority(std::string_view s) {
    for (std::size_t i = s.find("//"); i != std::string_view::npos; i = s.find("//", i + 1))
        if (auto a = matchAuthority(s, i)) return a;
    return std::nullopt;
}

std::string_view effectivePort(std::string_view port, std::string_view scheme) {
    if (!port.empty()) return port;
    return scheme == "https" ? "443" : "80";
}

bool usable(std::string_view base) {
    return contains(base, ".") || contains(base, "://localhost");
}

std::string resolve(std::string_view link, std::string_view fullBase) {
    if (!usable(fullBase)) return {};
    // The fragment names a place inside the page, not a part of the page's address.
    std::string_view base = fullBase.substr(0, fullBase.find('#'));
    auto root = findRoot(base);
    if (!root) return {};
    std::string rootText(base.substr(root->pos, root->len));
    if (!root->endsWithSlash) rootText += '/';

    // The folder of the page: its path up to the last "/", the query left out so that a "/"
    // inside a query value does not count as a folder.
    std::string directory = rootText;
    std::size_t rootEnd = root->pos + root->len;
    if (root->endsWithSlash) {
        std::string_view path = base.substr(0, base.find('?', rootEnd));
        directory = std::string(path.substr(0, path.rfind('/') + 1));
    }

    if (link.substr(0, 4) == "http") {
        if (!findAuthority(link)) return {};
        return std::string(link);
    }
    if (link.substr(0, 2) == "//") {
        auto authority = matchAuthority(link, 0);
        if (!authority) return {};
        // Only links back to the page's own site are followed.
        if (!equalsNoCase(authority->host, root->authority.host) ||
            effectivePort(authority->port, root->scheme) != effectivePort(root->authority.port, root->scheme))
            return {};
        return root->scheme + ":" + std::string(link);
    }
    if (link.substr(0, 1) == "/") return rootText.substr(0, rootText.size() - 1) + std::string(link);
    if (link.substr(0, 1) == "?") {
        std::size_t q = base.find('?', 1);
        if (q != std::string_view::npos) return std::string(base.substr(0, q)) + std::string(link);
        return std::string(base) + std::string(link);
    }
    if (contains(link, "../")) {
        std::string_view part;
        if (root->endsWithSlash) part = std::string_view(directory).substr(rootEnd);
        if (!part.empty()) part.remove_suffix(1);
        std::vector<std::string_view> segments;
        if (!part.empty()) {
            for (std::size_t start = 0;;) {
                std::size_t slash = part.find('/', start);
                segments.push_back(part.substr(start, slash - start));
                if (slash == std::string_view::npos) break;
                start = slash + 1;
            }
        }
        std::size_t climbs = 0;
        for (std::size_t p = link.find("../"); p != std::string_view::npos; p = link.find("../", p + 3)) ++climbs;
        std::string rest(link);
        replaceAll(rest, "../", "");
        if (climbs > segments.size() && !segments.empty()) return {};
        std::string out = rootText;
        if (climbs < segments.size())
            for (std::size_t i = 0; i < segments.size() - climbs; ++i) (out += segments[i]) += '/';
        return out + rest;
    }
    return directory + std::string(link);
}

}  // namespace

std::string AbsoluteUrl(std::string_view link, std::string_view base) {
    std::string out = resolve(link, base);
    replaceAll(out, "&amp;", "&");
    return out;
}

std::string UrlHost(std::string_view address) {
    if (!usable(address)) return {};
    auto root = findRoot(address);
    if (!root) return {};
    std::string host(address.substr(root->pos, root->len));
    if (root->endsWithSlash) host.pop_back();
    replaceAll(host, "https://", "");
    replaceAll(host, "http://", "");
    replaceAll(host, "&amp;", "&");
    return host;
}

}  // namespace tarvex::engine

#include "engine/url_utils.h"

#include <gtest/gtest.h>

namespace tarvex::engine {
namespace {

struct UrlCase {
    const char* link;
    const char* base;
    const char* expected;
};

void expectAll(const std::vector<UrlCase>& cases) {
    for (const auto& c : cases)
        EXPECT_EQ(AbsoluteUrl(c.link, c.base), c.expected) << "link '" << c.link << "' base '" << c.base << "'";
}

TEST(AbsoluteUrl, RelativeToTheFolder) {
    expectAll({
        {"b.html", "http://www.h.com/a/index.html", "http://www.h.com/a/b.html"},
        {"b.html", "http://www.h.com", "http://www.h.com/b.html"},
        {"b.html", "http://www.h.com/", "http://www.h.com/b.html"},
        {"", "http://www.h.com/a/b.html", "http://www.h.com/a/"},
        {"./x", "http://www.h.com/a/b.html", "http://www.h.com/a/./x"},
        {"javascript:void(0)", "http://www.h.com/a/", "http://www.h.com/a/javascript:void(0)"},
        {"图片/a.jpg", "http://www.h.com/文章/1.html", "http://www.h.com/文章/图片/a.jpg"},
        {"x.html", "HTTP://www.h.com/a/b", "HTTP://www.h.com/a/x.html"},
        {"d.html?a=1&amp;b=2", "http://www.h.com/a/b.html", "http://www.h.com/a/d.html?a=1&b=2"},
        // The http test is case-sensitive: an upper-case scheme is taken as a relative name.
        {"HTTP://www.h.com/x", "http://www.h.com/a/", "http://www.h.com/a/HTTP://www.h.com/x"},
    });
}

TEST(AbsoluteUrl, ClimbingFolders) {
    expectAll({
        {"../c/d.html", "http://www.h.com/a/b/e.html", "http://www.h.com/a/c/d.html"},
        {"../../c.html", "http://www.h.com/a/b/e.html", "http://www.h.com/c.html"},
        {"../../../x", "http://www.h.com/a/b/e.html", ""},
        {"../x", "http://www.h.com/e.html", "http://www.h.com/x"},
        {"../../x", "http://www.h.com", "http://www.h.com/x"},
        {"img/../x.png", "http://www.h.com/a/b/", "http://www.h.com/a/img/x.png"},
    });
}

TEST(AbsoluteUrl, RootQueryAndAbsoluteLinks) {
    expectAll({
        {"/p?a=1&amp;b=2", "https://www.h.com/x/y", "https://www.h.com/p?a=1&b=2"},
        {"?page=2", "http://www.h.com/list.php?page=1", "http://www.h.com/list.php?page=2"},
        {"?page=2", "http://www.h.com/list.php", "http://www.h.com/list.php?page=2"},
        {"http://img.g.net/x.jpg", "http://www.h.com/a/", "http://img.g.net/x.jpg"},
        {"https://img.g.net/x?a&amp;b", "http://www.h.com/a/", "https://img.g.net/x?a&b"},
        {"http:/broken", "http://www.h.com/a/", ""},
        {"httpdocs/a.html", "http://www.h.com/a/", ""},
    });
}

TEST(AbsoluteUrl, ProtocolRelativeLinksStayOnTheSiteAndKeepItsScheme) {
    expectAll({
        {"//img.g.net/x", "http://www.h.com/a/", ""},
        {"//www.h.co/x", "http://www.h.com/a/", ""},
        {"//www.h.com/x", "http://www.h.com/a/", "http://www.h.com/x"},
        {"//WWW.H.COM/x", "http://www.h.com/a/", "http://WWW.H.COM/x"},
        {"//www.h.com/x", "https://www.h.com/", "https://www.h.com/x"},
        {"//www.h.com/x", "HTTPS://www.h.com/", "https://www.h.com/x"},
        {"//", "http://www.h.com/", ""},
    });
}

TEST(AbsoluteUrl, KeepsThePortOfTheBase) {
    expectAll({
        {"b.html", "http://www.h.com:8080/a/i.html", "http://www.h.com:8080/a/b.html"},
        {"/p", "http://www.h.com:8080/x", "http://www.h.com:8080/p"},
        {"../y", "http://www.h.com:8080/a/b/", "http://www.h.com:8080/a/y"},
        {"?p=3", "http://127.0.0.1:18080/list?p=2", "http://127.0.0.1:18080/list?p=3"},
        {"x", "http://127.0.0.1:18080", "http://127.0.0.1:18080/x"},
        {"//www.h.com:8080/z", "http://www.h.com:8080/", "http://www.h.com:8080/z"},
        {"//www.h.com:80/z", "http://www.h.com/", "http://www.h.com:80/z"},
        // Another port is another site.
        {"//www.h.com/z", "http://www.h.com:8080/", ""},
    });
}

TEST(AbsoluteUrl, QueryAndFragmentOfTheBaseAreNotFolders) {
    expectAll({
        {"c.html", "http://www.h.com/a/list.php?from=/x/y", "http://www.h.com/a/c.html"},
        {"../c.html", "http://www.h.com/a/b/list.php?from=/x/y/z", "http://www.h.com/a/c.html"},
        {"?p=2", "http://www.h.com/list.php#top", "http://www.h.com/list.php?p=2"},
        {"c.html", "http://www.h.com/a/b.html#/x/y", "http://www.h.com/a/c.html"},
    });
}

TEST(AbsoluteUrl, UnusableBases) {
    expectAll({
        {"x.html", "localfile", ""},
        {"x.html", "", ""},
        {"x.html", "ftp://www.h.com/a/", ""},
        {"x.html", "www.h.com/a/", ""},
        {"x.html", "http://localhost/a/", "http://localhost/a/x.html"},
    });
}

TEST(UrlHost, TakesHostAndPort) {
    const std::pair<const char*, const char*> cases[] = {
        {"https://www.h.com:8080/x", "www.h.com:8080"},
        {"http://www.h.com/a/b.html", "www.h.com"},
        {"http://www.h.com", "www.h.com"},
        {"http://127.0.0.1:18080/list", "127.0.0.1:18080"},
        {"http://localhost/x", "localhost"},
        {"see http://www.h.com/x", "www.h.com"},
        // Only a lower-case scheme is removed.
        {"HTTPS://www.h.com/", "HTTPS://www.h.com"},
        {"localfile", ""},
        {"www.h.com/x", ""},
        {"", ""},
    };
    for (const auto& [address, host] : cases) EXPECT_EQ(UrlHost(address), host) << address;
}

}  // namespace
}  // namespace tarvex::engine

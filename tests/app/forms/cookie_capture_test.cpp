// The cookie window's rules as values: the user-agent length, the site root, the cookie text
// taken from the browser's store (HttpOnly cookies included, however many), and what reaches the
// task settings.
#include "app/forms/cookie_capture.h"

#include <gtest/gtest.h>

using namespace tarvex;
using app::BrowserCookie;
using app::CookieJar;

TEST(CookieCapture, UserAgentLengthRule) {
    EXPECT_FALSE(app::UserAgentRefusal(""));
    EXPECT_FALSE(app::UserAgentRefusal("   "));
    EXPECT_EQ(app::UserAgentRefusal(std::string(29, 'a')).value_or(""), "UserAgent太短,不符合要求！");
    EXPECT_FALSE(app::UserAgentRefusal(std::string(30, 'a')));
    // Counted in characters after trimming.
    EXPECT_TRUE(app::UserAgentRefusal("  " + std::string(29, 'a') + "  "));
    std::string thirtyChinese;
    for (int i = 0; i < 30; ++i) thirtyChinese += "浏";
    EXPECT_FALSE(app::UserAgentRefusal(thirtyChinese));
    for (const char* choice : app::kUserAgentChoices) EXPECT_FALSE(app::UserAgentRefusal(choice));
}

TEST(CookieCapture, SiteRootOfAnAddress) {
    struct Case {
        std::string address, root;
    };
    const std::vector<Case> cases = {
        {"http://www.h.com/a/b.html", "http://www.h.com"},
        {"https://h-1.example.org", "https://h-1.example.org"},
        {"http://127.0.0.1:8080/login?x=1", "http://127.0.0.1"},
        {"about:blank", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(app::CookieSiteRoot(c.address), c.root) << c.address;
}

TEST(CookieCapture, CookieTextForASite) {
    CookieJar jar;
    jar.add({"sid", "s1", "127.0.0.1", "/", false, true});
    jar.add({"lang", "zh", "127.0.0.1", "/", false, false});
    jar.add({"deep", "1", "127.0.0.1", "/admin", false, true});
    jar.add({"other", "x", "10.0.0.1", "/", false, false});
    jar.add({"wide", "w", ".example.com", "/", false, false});
    jar.add({"host", "h", "example.com", "/", false, false});
    jar.add({"safe", "s", ".example.com", "/", true, true});
    EXPECT_EQ(jar.textFor("http://127.0.0.1"), "deep=1; sid=s1; lang=zh");
    EXPECT_EQ(jar.textFor("http://www.example.com"), "wide=w");
    EXPECT_EQ(jar.textFor("https://example.com"), "wide=w; host=h; safe=s");
    EXPECT_EQ(jar.textFor("http://badexample.com"), "");
    EXPECT_EQ(jar.textFor(""), "");

    // A cookie set again replaces its old value; one removed is gone.
    jar.add({"sid", "s2", "127.0.0.1", "/", false, true});
    jar.remove({"lang", "", "127.0.0.1", "/", false, false});
    EXPECT_EQ(jar.textFor("http://127.0.0.1"), "deep=1; sid=s2");
}

TEST(CookieCapture, LongCookieTextsAreReturnedWhole) {
    // The browser store may hold far more than a kilobyte of cookies for a site; all of it comes back.
    CookieJar jar;
    std::string expected;
    for (int i = 0; i < 40; ++i) {
        BrowserCookie c{"k" + std::to_string(i), std::string(60, 'v'), "127.0.0.1", "/", false, i % 2 == 0};
        jar.add(c);
        expected += (i ? "; " : "") + c.name + "=" + c.value;
    }
    EXPECT_GT(expected.size(), 2048u);
    EXPECT_EQ(jar.textFor("http://127.0.0.1"), expected);
}

TEST(CookieCapture, ResultReachesTheSettingsOnlyWithACookie) {
    std::string cookie = "old=1", ua = "old agent";
    auto refused = app::SaveCookieCapture("a=b", "short agent");
    EXPECT_FALSE(refused.result);
    EXPECT_EQ(refused.refusal, "UserAgent太短,不符合要求！");

    // An empty text area changes neither field, even with a user agent chosen.
    auto empty = app::SaveCookieCapture("", app::kUserAgentChoices[1]);
    ASSERT_TRUE(empty.result);
    EXPECT_FALSE(app::ApplyCookieCapture(*empty.result, cookie, ua));
    EXPECT_EQ(cookie, "old=1");
    EXPECT_EQ(ua, "old agent");

    // A cookie without a chosen agent keeps the task's agent.
    auto plain = app::SaveCookieCapture("sid=1; lang=zh", "");
    EXPECT_TRUE(app::ApplyCookieCapture(*plain.result, cookie, ua));
    EXPECT_EQ(cookie, "sid=1; lang=zh");
    EXPECT_EQ(ua, "old agent");

    auto both = app::SaveCookieCapture("sid=2", app::kUserAgentChoices[1]);
    EXPECT_TRUE(app::ApplyCookieCapture(*both.result, cookie, ua));
    EXPECT_EQ(cookie, "sid=2");
    EXPECT_EQ(ua, app::kUserAgentChoices[1]);
}

// Pagination: the pager addresses of a page, and the pages of an article followed, joined and
// ordered, with pages held in memory and over loopback.
#include "collect/pagination.h"

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "collect/http_fetch.h"
#include "support/fakes.h"
#include "support/local_http_server.h"

using namespace tarvex;
using collect::PagerMode;
using collect::PagerSettings;

namespace {

const std::string kBase = "http://www.site.com/a/";

// Pages held in memory; every fetch is recorded.
struct MemorySite {
    std::map<std::string, std::string> pages;  // address -> "succ:…" / "fail:…"
    std::vector<std::string> fetched;

    collect::PageFetcher fetcher() {
        return [this](const std::string& address, const std::string&) {
            fetched.push_back(address);
            auto it = pages.find(address);
            return it == pages.end() ? std::string("fail:HTTP/1.1 404 Not Found") : it->second;
        };
    }
};

// A page whose pager links the given page numbers as p_N.html (page 1 is p.html).
std::string pagedPage(const std::string& body, const std::vector<int>& pagerLinks) {
    std::string pager;
    for (int n : pagerLinks)
        pager += n == 1 ? "<a href=\"p.html\">1</a> "
                        : "<a href=\"p_" + std::to_string(n) + ".html\">" + std::to_string(n) + "</a> ";
    return "<h1>T</h1><div>" + body + "</div><div class=\"pg\">" + pager + "</div><p>end</p>";
}

std::string pageAddress(int n) {
    return n == 1 ? kBase + "p.html" : kBase + "p_" + std::to_string(n) + ".html";
}

PagerSettings pager(PagerMode mode = PagerMode::Smart, long long max = 0) {
    PagerSettings s;
    s.begin = "<div class=\"pg\">";
    s.end = "</div>";
    s.mode = mode;
    s.max = max;
    return s;
}

std::string mulpageJson(const std::string& radio, long long max, const std::string& extraKey = "",
                        const std::string& extraValue = "") {
    nlohmann::json m{{"Mul_begin", "<div class=\"pg\">"},
                     {"Mul_end", "</div>"},
                     {"Mul_include", ""},
                     {"Mul_exclude", ""},
                     {"Mul_max", max},
                     {"Mul_time", "0"},
                     {"Mul_radio_1", "0"},
                     {"Mul_radio_2", "0"},
                     {"Mul_radio_3", "0"}};
    if (!radio.empty()) m[radio] = "-1";
    if (!extraKey.empty()) m[extraKey] = extraValue;
    return m.dump();
}

collect::PageFollow followWith(collect::PageFetcher fetch) {
    collect::PageFollow f;
    f.fetch = std::move(fetch);
    return f;
}

std::string settingsWith(const std::string& mulpage) {
    return nlohmann::json{{"mulpage", mulpage}}.dump();
}

// The joined text of the first page-list line, markers turned back into line ends.
std::string joinedText(const std::string& pageList) {
    std::string first = pageList.substr(0, pageList.find("\r\n"));
    EXPECT_EQ(first.rfind("顶级内容页=", 0), 0u) << pageList;
    std::string t = first.substr(std::string("顶级内容页=").size());
    for (auto [from, to] :
         {std::pair<std::string, std::string>{"<临时换行替换换行>", "\r"}, {"<临时换行2替换换行2>", "\n"}}) {
        for (std::size_t p = t.find(from); p != std::string::npos; p = t.find(from, p + to.size()))
            t.replace(p, from.size(), to);
    }
    return t;
}

}  // namespace

TEST(collectPagerPages, FindsResolvesFiltersAndDedupesPagerLinks) {
    struct Case {
        const char* what;
        std::string page;
        PagerSettings settings;
        std::vector<std::string> expected;
    };
    PagerSettings filtered = pager();
    filtered.include = " p_ ";
    filtered.exclude = "p_4";
    PagerSettings wildcard = pager();
    wildcard.begin = "<div class=\"{*}\">";
    PagerSettings missing = pager();
    missing.begin = "<nav>";
    const std::string self = kBase + "p.html";
    const std::vector<Case> cases = {
        {"relative links resolved in pager order",
         pagedPage("x", {1, 3, 2}),
         pager(),
         {self, pageAddress(3), pageAddress(2)}},
        {"own address in other letter case and repeats dropped",
         "<div class=\"pg\"><a href=\"P.HTML\">1</a><a href=\"p_2.html\">2</a><a href=\"p_2.html\">下一页</a></div>",
         pager(),
         {self, pageAddress(2)}},
        {"include and exclude, both trimmed",
         pagedPage("x", {1, 2, 3, 4}),
         filtered,
         {self, pageAddress(2), pageAddress(3)}},
        {"links outside the area ignored",
         "<a href=\"p_9.html\">9</a>" + pagedPage("x", {2}),
         pager(),
         {self, pageAddress(2)}},
        {"{*} in the area text skips", pagedPage("x", {2}), wildcard, {self, pageAddress(2)}},
        {"no pager area", pagedPage("x", {2, 3}), missing, {self}},
        {"root-relative and absolute links",
         "<div class=\"pg\"><a href=\"/b/p_2.html\">2</a> <a href='http://other.com/p_3.html' >3</a></div>",
         pager(),
         {self, "http://www.site.com/b/p_2.html", "http://other.com/p_3.html"}},
    };
    for (const auto& c : cases) EXPECT_EQ(collect::collectPagerPages(c.settings, c.page, self), c.expected) << c.what;
}

TEST(collectPagerPages, RewritesThePagerAreaBeforeReadingLinks) {
    // A pager written as script calls becomes links through a parameter rewrite.
    PagerSettings s = pager();
    s.regexBegin = "go({参数1})";
    s.regexEnd = "<a href=\"p_{参数1}.html\">{参数1}</a>";
    const std::string page =
        "<div class=\"pg\"><span onclick=\"go(2)\">2</span> <span onclick=\"go(3)\">3</span></div>";
    EXPECT_EQ(collect::collectPagerPages(s, page, pageAddress(1)),
              (std::vector<std::string>{pageAddress(1), pageAddress(2), pageAddress(3)}));

    // A rewrite the pattern engine refuses keeps the area as it was.
    s.regexBegin = "go({参数1}{参数1})";
    EXPECT_EQ(collect::collectPagerPages(s, pagedPage("x", {2}), pageAddress(1)),
              (std::vector<std::string>{pageAddress(1), pageAddress(2)}));
}

TEST(PagerSettingsReading, ModesAndTheThreeReadingsOfMulMax) {
    struct Case {
        std::string json;
        PagerMode mode;
        long long content, list;
    };
    const std::vector<Case> cases = {
        {mulpageJson("Mul_radio_1", 0), PagerMode::Smart, 999, 999999},
        {mulpageJson("Mul_radio_3", 3), PagerMode::AllListed, 3, 3},
        {mulpageJson("Mul_radio_2", -2), PagerMode::AddressMatch, 999, 999999},
        // No radio key: the window's default mode; Mul_max stored as text.
        {R"({"Mul_begin":"a","Mul_end":"b","Mul_max":"5"})", PagerMode::Smart, 5, 5},
    };
    for (const auto& c : cases) {
        auto s = collect::ParsePagerSettings(c.json);
        ASSERT_TRUE(s) << c.json;
        EXPECT_EQ(s->mode, c.mode) << c.json;
        EXPECT_EQ(collect::ContentPageLimit(*s), c.content) << c.json;
        EXPECT_EQ(collect::ListPageLimit(*s), c.list) << c.json;
    }
    EXPECT_FALSE(collect::ParsePagerSettings(""));
    EXPECT_FALSE(collect::ParsePagerSettings("[1,2]"));
}

TEST(SortPageAddresses, ShorterFirstThenByText) {
    std::vector<std::string> v{"p_10.html", "p_9.html", "p_2.html", "p_11.html"};
    collect::SortPageAddresses(v);
    EXPECT_EQ(v, (std::vector<std::string>{"p_2.html", "p_9.html", "p_10.html", "p_11.html"}));
}

TEST(collectContentPages, SmartModeFetchesEveryPageOnceAndJoinsThemInOrder) {
    MemorySite site;
    const std::vector<int> all{1, 2, 3, 4, 5};
    for (int n = 2; n <= 5; ++n) site.pages[pageAddress(n)] = "succ:" + pagedPage("第" + std::to_string(n) + "页", all);
    const std::string first = pagedPage("第1页", {5, 4, 3, 2});
    auto follow = followWith(site.fetcher());
    auto list =
        collect::collectContentPages(pageAddress(1), first, settingsWith(mulpageJson("Mul_radio_1", 0)), "", follow);
    EXPECT_EQ(site.fetched, (std::vector<std::string>{pageAddress(5), pageAddress(4), pageAddress(3), pageAddress(2)}));
    std::string expected = first;
    for (int n = 2; n <= 5; ++n) expected += "[dd:分页符]" + pagedPage("第" + std::to_string(n) + "页", all);
    EXPECT_EQ(joinedText(list), expected + "\r\n");
}

TEST(collectContentPages, PageLimitTakesTheShortestAddressesFirst) {
    MemorySite site;
    std::vector<int> pagerLinks{10, 9, 8, 7, 6, 5, 4, 3, 2};
    for (int n = 2; n <= 10; ++n) site.pages[pageAddress(n)] = "succ:page" + std::to_string(n);
    auto follow = followWith(site.fetcher());
    auto list = collect::collectContentPages(pageAddress(1), pagedPage("one", pagerLinks),
                                             settingsWith(mulpageJson("Mul_radio_1", 3)), "", follow);
    EXPECT_EQ(site.fetched, (std::vector<std::string>{pageAddress(2), pageAddress(3)}));
    EXPECT_EQ(joinedText(list), pagedPage("one", pagerLinks) + "[dd:分页符]page2[dd:分页符]page3\r\n");

    // Without a limit p_9 still joins before p_10 although the pager names p_10 first.
    MemorySite open;
    open.pages[pageAddress(10)] = "succ:ten";
    open.pages[pageAddress(9)] = "succ:nine";
    auto f2 = followWith(open.fetcher());
    auto joined = joinedText(collect::collectContentPages(pageAddress(1), pagedPage("one", {10, 9}),
                                                          settingsWith(mulpageJson("Mul_radio_1", 0)), "", f2));
    EXPECT_EQ(open.fetched, (std::vector<std::string>{pageAddress(10), pageAddress(9)}));
    EXPECT_NE(joined.find("[dd:分页符]nine[dd:分页符]ten"), std::string::npos) << joined;
}

TEST(collectContentPages, FailedPagesCountAsEmptyAndTheRestIsStillFollowed) {
    MemorySite site;  // p_2 is missing (404); p_3 names p_4
    site.pages[pageAddress(3)] = "succ:" + pagedPage("three", {4});
    site.pages[pageAddress(4)] = "succ:";
    auto follow = followWith(site.fetcher());
    auto joined = joinedText(collect::collectContentPages(pageAddress(1), pagedPage("one", {2, 3}),
                                                          settingsWith(mulpageJson("Mul_radio_1", 0)), "", follow));
    EXPECT_EQ(site.fetched, (std::vector<std::string>{pageAddress(2), pageAddress(3), pageAddress(4)}));
    EXPECT_EQ(joined,
              pagedPage("one", {2, 3}) + "[dd:分页符][dd:分页符]" + pagedPage("three", {4}) + "[dd:分页符]\r\n");
}

TEST(collectContentPages, AllListedModeTakesOnlyTheFirstPagersLinksAndJoinsByLines) {
    MemorySite site;
    site.pages[pageAddress(2)] = "succ:two\nline" + pagedPage("", {6});
    site.pages[pageAddress(3)] = "succ:three\r";
    auto follow = followWith(site.fetcher());
    const std::string first = "one" + pagedPage("", {2, 3});
    auto joined = joinedText(
        collect::collectContentPages(pageAddress(1), first, settingsWith(mulpageJson("Mul_radio_3", 0)), "", follow));
    EXPECT_EQ(site.fetched, (std::vector<std::string>{pageAddress(2), pageAddress(3)}));
    EXPECT_EQ(joined, first + "\r\ntwo\r\nline" + pagedPage("", {6}) + "\r\nthree\r\n\r\n");
    EXPECT_EQ(joined.find("[dd:分页符]"), std::string::npos);
}

TEST(collectContentPages, AddressMatchingModeIsFollowedLikeTheSmartMode) {
    // Stored documents may carry the page-address matching mode; its pages are still collected.
    MemorySite site;
    site.pages[pageAddress(2)] = "succ:" + pagedPage("two", {1, 3});
    site.pages[pageAddress(3)] = "succ:three";
    auto follow = followWith(site.fetcher());
    auto list =
        collect::collectContentPages(pageAddress(1), pagedPage("one", {2}),
                                     settingsWith(mulpageJson("Mul_radio_2", 0, "Mul_regex", "p_\\d+")), "", follow);
    EXPECT_EQ(site.fetched, (std::vector<std::string>{pageAddress(2), pageAddress(3)}));
    EXPECT_EQ(joinedText(list),
              pagedPage("one", {2}) + "[dd:分页符]" + pagedPage("two", {1, 3}) + "[dd:分页符]three\r\n");
}

TEST(collectContentPages, WithoutPaginationTheFirstPageIsTheTextAndLevelsFollowIt) {
    MemorySite site;
    auto follow = followWith(site.fetcher());
    EXPECT_EQ(collect::collectContentPages(pageAddress(1), "", settingsWith(mulpageJson("Mul_radio_1", 0)), "", follow),
              "顶级内容页=");
    EXPECT_EQ(collect::collectContentPages(pageAddress(1), "a\r\nb", "{}", "", follow),
              "顶级内容页=a<临时换行替换换行><临时换行2替换换行2>b<临时换行替换换行><临时换行2替换换行2>");
    EXPECT_TRUE(site.fetched.empty());

    std::string seenMorepage2;
    follow.levels = [&](const std::string& address, const std::string& firstPage, const std::string& morepage2,
                        const std::string& options) {
        seenMorepage2 = morepage2;
        EXPECT_EQ(address, pageAddress(1));
        EXPECT_EQ(firstPage, "body");
        EXPECT_EQ(options, "useragent=x");
        return std::vector<std::string>{"下载页=" + kBase + "d.html<dd:分隔符>file"};
    };
    auto list = collect::collectContentPages(pageAddress(1), "body", R"({"Morepage2":"{\"MorePageAll\":[]}"})",
                                             "useragent=x", follow);
    EXPECT_EQ(list,
              "顶级内容页=body<临时换行替换换行><临时换行2替换换行2>\r\n下载页=" + kBase + "d.html<dd:分隔符>file");
    EXPECT_EQ(seenMorepage2, "{\"MorePageAll\":[]}");
}

TEST(collectContentPages, PauseBetweenPagesAndSinglePageProgress) {
    MemorySite site;
    for (int n = 2; n <= 3; ++n) site.pages[pageAddress(n)] = "succ:p" + std::to_string(n);
    std::vector<int> sleeps;
    std::vector<std::string> shown;
    auto follow = followWith(site.fetcher());
    follow.sleep = [&](int ms) { sleeps.push_back(ms); };
    follow.show = [&](const std::string& line) { shown.push_back(line); };
    nlohmann::json doc{{"mulpage", mulpageJson("Mul_radio_1", 0, "Mul_time", "250")}, {"is_onepage", "1"}};
    collect::collectContentPages(pageAddress(1), pagedPage("one", {2, 3}), doc.dump(), "", follow);
    // Only while more than one page is pending.
    EXPECT_EQ(sleeps, std::vector<int>{250});
    EXPECT_EQ(shown, (std::vector<std::string>{"正在采集分页：" + pageAddress(2), "正在采集分页：" + pageAddress(3)}));
}

TEST(collectContentPages, TwelveCrossLinkedPagesOverLoopbackAreEachFetchedOnce) {
    test::LocalHttpServer server(std::string(TARVEX_TEST_DATA_DIR) + "/sites/list-paged");
    nlohmann::json m{
        {"Mul_begin", "<div class=\"pages\">"}, {"Mul_end", "</div>"}, {"Mul_radio_1", "-1"}, {"Mul_max", 0}};
    const std::string first = server.url("/list/index.html");
    std::string firstPage = collect::HttpGet(first, "").substr(5);
    auto follow = followWith([](const std::string& a, const std::string& o) { return collect::HttpGet(a, o); });
    auto joined = joinedText(collect::collectContentPages(first, firstPage, settingsWith(m.dump()), "", follow));
    for (int k = 2; k <= 12; ++k) {
        EXPECT_EQ(server.requestsTo("/list/index_" + std::to_string(k) + ".html").size(), 1u) << k;
    }
    EXPECT_EQ(server.requestsTo("/list/index.html").size(), 1u);
    // index.html, then index_2 … index_9, then index_10 … index_12 (shorter addresses first).
    auto pos = [&](int k) { return joined.find("<title>新闻列表 第" + std::to_string(k) + "页</title>"); };
    for (int k = 1; k < 12; ++k) EXPECT_LT(pos(k), pos(k + 1)) << k;
}

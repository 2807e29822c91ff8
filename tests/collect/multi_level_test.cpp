// Multi-level pages over pages held in memory: levels found in their parent's text or made from
// its address, chains of levels, a level's own pages, and levels that find nothing.
#include "collect/multi_level.h"

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

namespace tarvex::collect {
namespace {

using nlohmann::json;

struct Site {
    std::map<std::string, std::string> pages;
    std::vector<std::string> fetched;
    PageFollow follow() {
        PageFollow f;
        f.fetch = [this](const std::string& url, const std::string&) {
            fetched.push_back(url);
            auto it = pages.find(url);
            return it == pages.end() ? std::string("fail:HTTP/1.1 404 Not Found") : "succ:" + it->second;
        };
        return f;
    }
};

std::string level(json keys) {
    json l{{"fatherurl", "顶级内容页"},
           {"radio_1", "-1"},
           {"radio_2", "0"},
           {"radio_1_check", "0"},
           {"check_mulpage", "0"}};
    l.update(keys);
    return l.dump();
}

std::string levels(const std::vector<std::string>& entries) {
    return json{{"MorePageAll", entries}}.dump();
}

const std::string kArticle = "http://h/article/123.html";
const std::string kArticlePage = R"(<tarvex><h1>T</h1><a class="down" href="/down/123.html">d</a></tarvex>)";

TEST(MultiLevel, LevelsFollowTheirParentsByTextAndByAddress) {
    Site site;
    site.pages["http://h/down/123.html"] = R"(<a class="file" href="files/a.zip">f</a>)";
    site.pages["http://h/down/files/a.zip"] = "ZIP\r\nDATA";
    site.pages["http://h/comment/123.html"] = "<div>评论</div>";
    const std::string morepage2 = levels({
        // Listed before its parent: it sees no parent page, so it has nothing to look in.
        level({{"title", "早到页"}, {"fatherurl", "文件页"}, {"radio_1_begin", "ZIP"}, {"radio_1_end", "DATA"}}),
        level({{"title", "下载页"}, {"radio_1_begin", "<a class=\"down\" href=\""}, {"radio_1_end", "\""}}),
        // A level of a level: its relative link resolves against its parent's address.
        level({{"title", "文件页"},
               {"fatherurl", "下载页"},
               {"radio_1_begin", "<a class=\"file\" href=\""},
               {"radio_1_end", "\""}}),
        level({{"title", "评论页"},
               {"radio_1", "0"},
               {"radio_2", "-1"},
               {"radio_2_url1", "article"},
               {"radio_2_url2", "comment"}}),
    });
    auto follow = site.follow();
    auto lines = collectLevelPages(kArticle, kArticlePage, morepage2, "", follow);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "早到页=<dd:分隔符>",
                         "下载页=http://h/down/123.html<dd:分隔符><a class=\"file\" href=\"files/a.zip\">f</a>",
                         "文件页=http://h/down/files/a.zip<dd:分隔符>ZIP<临时换行替换换行><临时换行2替换换行2>DATA",
                         "评论页=http://h/comment/123.html<dd:分隔符><div>评论</div>",
                     }));
    EXPECT_EQ(site.fetched, (std::vector<std::string>{"http://h/down/123.html", "http://h/down/files/a.zip",
                                                      "http://h/comment/123.html"}));
}

TEST(MultiLevel, PatternModesFillTheirOutputFromTheParameters) {
    Site site;
    site.pages["http://h/dl?id=123&k=9"] = "ok";
    site.pages["http://h/comment.php?aid=123"] = "c";
    auto byText = ParseLevel(level({{"title", "x"},
                                    {"radio_1_check", "-1"},
                                    {"radio_1_begin", "href=\"/down/{参数1}.html\">{*}</a>"},
                                    {"radio_1_end", "/dl?id={参数1}&k=9"}}));
    auto byAddress = ParseLevel(level({{"title", "y"},
                                       {"radio_1", "0"},
                                       {"radio_2", "-1"},
                                       {"radio_2_url1", "/article/{参数1}.html"},
                                       {"radio_2_url2", "/comment.php?aid={参数1}"}}));
    ASSERT_TRUE(byText && byAddress);
    auto follow = site.follow();
    EXPECT_EQ(collectLevelPage(kArticle, kArticlePage, *byText, "", follow), "http://h/dl?id=123&k=9<dd:分隔符>ok");
    EXPECT_EQ(collectLevelPage(kArticle, kArticlePage, *byAddress, "", follow),
              "http://h/comment.php?aid=123<dd:分隔符>c");
}

TEST(MultiLevel, ALevelThatFindsNoAddressFetchesNothing) {
    // Without a match there is no page: neither the parent's folder nor the unfilled output
    // template is fetched.
    const std::vector<std::string> cases = {
        level({{"title", "a"}, {"radio_1_begin", "<a class=\"none\" href=\""}, {"radio_1_end", "\""}}),
        level(
            {{"title", "b"}, {"radio_1_check", "-1"}, {"radio_1_begin", "id={参数1};"}, {"radio_1_end", "/x/{参数1}"}}),
        level({{"title", "c"},
               {"radio_1", "0"},
               {"radio_2", "-1"},
               {"radio_2_url1", "/news/{参数1}.html"},
               {"radio_2_url2", "/c/{参数1}"}}),
    };
    for (const auto& text : cases) {
        SCOPED_TRACE(text);
        Site site;
        auto follow = site.follow();
        auto l = ParseLevel(text);
        ASSERT_TRUE(l);
        EXPECT_EQ(collectLevelPage(kArticle, kArticlePage, *l, "", follow), "<dd:分隔符>");
        EXPECT_TRUE(site.fetched.empty());
    }
}

TEST(MultiLevel, AFailedLevelKeepsItsAddressWithoutText) {
    Site site;
    auto follow = site.follow();
    auto lines = collectLevelPages(
        kArticle, kArticlePage,
        levels({level({{"title", "下载页"}, {"radio_1_begin", "<a class=\"down\" href=\""}, {"radio_1_end", "\""}})}),
        "", follow);
    EXPECT_EQ(lines, std::vector<std::string>{"下载页=http://h/down/123.html<dd:分隔符>"});
}

TEST(MultiLevel, ALevelsPagesAreFetchedOnceEachAndJoinedInOrder) {
    Site site;
    auto pager = [](int self) {
        std::string links;
        for (int n : {3, 1, 2})
            links += "<a href=\"/c/123_" + std::to_string(n) + ".html\">" + std::to_string(n) + "</a>";
        return "<p>评论" + std::to_string(self) + "</p><div class=\"pg\">" + links + "</div>";
    };
    site.pages["http://h/c/123_1.html"] = pager(1);
    site.pages["http://h/c/123_2.html"] = pager(2);
    site.pages["http://h/c/123_3.html"] = pager(3);
    auto l = ParseLevel(level({{"title", "评论页"},
                               {"radio_1", "0"},
                               {"radio_2", "-1"},
                               {"radio_2_url1", "article/123.html"},
                               {"radio_2_url2", "c/123_1.html"},
                               {"check_mulpage", "-1"},
                               {"Mul_begin", "<div class=\"pg\">"},
                               {"Mul_end", "</div>"}}));
    ASSERT_TRUE(l);
    auto follow = site.follow();
    std::string result = collectLevelPage(kArticle, kArticlePage, *l, "", follow);
    EXPECT_EQ(result,
              "http://h/c/123_1.html<dd:分隔符>" + pager(1) + "[dd:分页符]" + pager(2) + "[dd:分页符]" + pager(3));
    EXPECT_EQ(site.fetched.size(), 3u);
}

TEST(MultiLevel, APagerThatNeverEndsStopsAtTheLevelPageLimit) {
    // Every page links the next one: without a limit the walk would go on for ever.
    Site site;
    PageFollow follow;
    std::size_t fetches = 0;
    follow.fetch = [&](const std::string& url, const std::string&) {
        ++fetches;
        const std::size_t at = url.rfind('_');
        const int n = std::stoi(url.substr(at + 1));
        return "succ:<div class=\"pg\"><a href=\"/p_" + std::to_string(n + 1) + ".html\">next</a></div>";
    };
    auto l = ParseLevel(level({{"title", "无尽"},
                               {"radio_1_begin", "<a class=\"down\" href=\""},
                               {"radio_1_end", "\""},
                               {"check_mulpage", "-1"},
                               {"Mul_begin", "<div class=\"pg\">"},
                               {"Mul_end", "</div>"}}));
    ASSERT_TRUE(l);
    const std::string page = R"(<a class="down" href="/p_1.html">d</a>)";
    std::string result = collectLevelPage(kArticle, page, *l, "", follow);
    EXPECT_EQ(fetches, kLevelPageLimit);
    EXPECT_EQ(result.rfind("http://h/p_1.html<dd:分隔符>", 0), 0u);
}

}  // namespace
}  // namespace tarvex::collect

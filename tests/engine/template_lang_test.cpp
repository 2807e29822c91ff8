#include "engine/template_lang.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarvex::engine;
using tarvex::platform::kExtractionOptions;
using tarvex::platform::regexFirst;

TEST(TemplateToPattern, EscapesLiteralTextAndKeepsPlaceholders) {
    struct Case {
        std::string tmpl;
        std::string pattern;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"<h1>{*}</h1>", "<h1>{*}</h1>"},
        {"价格(元)：{参数1}.", "价格\\(元\\)：{参数1}\\."},
        {"{参数}", "\\{参数\\}"},
        {"{参数a}", "\\{参数a\\}"},
        {"{参数12}", "{参数12}"},
        {"{dd:md5}", "{dd:md5}"},
        {"{DD:字段=作者}", "{DD:字段=作者}"},
        {"{dD:字段=a=b}", "{dD:字段=a=b}"},
        {"a.b(c)", "a\\.b\\(c\\)"},
        {"C:\\x", "C:\\\\x"},
        {"1+1=2?", "1\\+1=2\\?"},
        {"$^|!*[]{}", "\\$\\^\\|\\!\\*\\[\\]\\{\\}"},
        // The backslash goes first, so the ones added for "$" are not doubled again.
        {"\\$", "\\\\\\$"},
        {"- / # < > = , \t", "- / # < > = , \t"},
        {"<p>\r\n</p>", "<p>[\\n\\r]+</p>"},
        {"<p>\n</p>", "<p>\n</p>"},
        {"<p>\r</p>", "<p>\r</p>"},
        {"a\r\r\nb", "a\r[\\n\\r]+b"},
        {"{*}a{*}", "{*}a{*}"},
        // A token runs to the first "}" even across a line end, and keeps its line end.
        {"{dd:日期\r\n}.", "{dd:日期\r\n}\\."},
        {"{DD:a{*}}", "{DD:a{*}\\}"},
        {"{DD:字段=甲}x{DD:字段=甲}", "{DD:字段=甲}x{DD:字段=甲}"},
        {"(<临时等号>)", "\\(<临时等号>\\)"},
    };
    for (const auto& c : cases) EXPECT_EQ(TemplateToPattern(c.tmpl), c.pattern) << c.tmpl;
}

TEST(TemplateToPattern, LineBreaksMatchEitherConvention) {
    std::string pattern = TemplateToPattern("<p>\r\n</p>");
    for (const char* page : {"<p>\n</p>", "<p>\r\n</p>", "<p>\r\n\r\n</p>", "<p>\r</p>"})
        EXPECT_TRUE(regexFirst(pattern, kExtractionOptions, page).match) << page;
    EXPECT_FALSE(regexFirst(pattern, kExtractionOptions, "<p></p>").match);
    // A lone LF in the template is a literal LF: it does not match CR LF.
    EXPECT_FALSE(regexFirst(TemplateToPattern("<p>\n</p>"), kExtractionOptions, "<p>\r\n</p>").match);
}

TEST(TemplateToPattern, FinishingWays) {
    EXPECT_EQ(CutPattern("<div>{*}<p>", "</p>{*}."), "<div>.*?<p>(?<content>.*?)</p>.*?\\.");
    EXPECT_EQ(ParameterPattern("标题：{参数1}<{*}>{参数12}"), "标题：(?<canshu1>.*?)<(.*?)>(?<canshu12>.*?)");
    EXPECT_EQ(RawPattern("<a href='(.*?)'>{*}</a>"), "<a href='(.*?)'>.*?</a>");
    EXPECT_EQ(RawParameterPattern("a{参数2}\\d+{*}{参数}"), "a(?<canshu2>.*?)\\d+.*?{参数}");

    auto m = regexFirst(CutPattern("<h1 class=t>", "</h1>"), kExtractionOptions, "<h1 class=t>标题(一)</h1>");
    ASSERT_TRUE(m.match);
    EXPECT_EQ(m.match->named("content"), "标题(一)");
    // A parameter number used twice gives a duplicated group name, which the engine refuses.
    auto dup = tarvex::platform::Regex::compile(ParameterPattern("{参数1}-{参数1}"), kExtractionOptions);
    EXPECT_FALSE(dup);
}

TEST(FillParams, ByNumberAndByName) {
    auto pattern = std::string("<a href='(.*?)'>(.*?)</a>");
    auto r = regexFirst(pattern, kExtractionOptions, "x<a href='/p/1'>第一</a>");
    ASSERT_TRUE(r.match);
    const auto& m = *r.match;
    struct Case {
        const char* output;
        const char* byNumber;
    };
    const Case byNumber[] = {
        {"{参数2}|{参数1}", "第一|/p/1"},       {"{参数2}-{参数9}", "第一-"},          // out of range: removed
        {"{参数0}", "<a href='/p/1'>第一</a>"}, {"{参数3}", ""},                       // three groups counting group 0
        {"{参数01}{参数1}", "/p/1/p/1"},        {"{参数99999999999999999999}x", "x"},  // not an integer: removed
        {"{参数}{参数a}", "{参数}{参数a}"},     {"no placeholders", "no placeholders"},
    };
    for (const auto& c : byNumber) EXPECT_EQ(FillParamsByNumber(c.output, m), c.byNumber) << c.output;

    std::string named = ParameterPattern("标题：{参数1}<{*}作者：{参数12}<");
    auto n = regexFirst(named, kExtractionOptions, "标题：春<b>作者：张三<");
    ASSERT_TRUE(n.match);
    struct NameCase {
        const char* output;
        const char* filled;
    };
    const NameCase byName[] = {
        {"《{参数1}》", "《春》"},
        {"{参数12}:{参数1}", "张三:春"},
        {"{参数9}", "{参数9}"},  // no "<canshu9" in the pattern: stays
        {"{参数2}", "{参数2}"},
    };
    for (const auto& c : byName) EXPECT_EQ(FillParamsByName(c.output, *n.match, named), c.filled) << c.output;
    // "<canshu1" is also a prefix of "<canshu12": the text test passes, the group does not
    // exist, and the placeholder is filled with nothing.
    std::string onlyTwelve = ParameterPattern("作者：{参数12}<");
    auto t = regexFirst(onlyTwelve, kExtractionOptions, "作者：张三<");
    ASSERT_TRUE(t.match);
    EXPECT_EQ(FillParamsByName("[{参数1}]", *t.match, onlyTwelve), "[]");

    EXPECT_TRUE(FillsByNumber("<a>(.*?)</a>", "{参数1}"));
    EXPECT_FALSE(FillsByNumber("标题：{参数1}<", "{参数1}"));
    EXPECT_FALSE(FillsByNumber("<a>(.*?)</a>", "{参数2}"));
}

TEST(LineMarkers, RoundTripEveryBreakOnItsOwn) {
    std::string text = "a\r\nb\nc\rd\n";
    std::string marked = LinesToMarkers(text);
    EXPECT_EQ(marked,
              "a<临时换行替换换行><临时换行2替换换行2>b<临时换行2替换换行2>c<临时换行替换换行>d<临时换行2替换换行2>");
    EXPECT_EQ(marked.find('\n'), std::string::npos);
    EXPECT_EQ(MarkersToLines(marked), text);
    EXPECT_EQ(LinesToMarkers(""), "");
}

TEST(SplitByTemplate, PiecesBetweenSeparators) {
    struct Case {
        std::string text;
        std::string separator;
        std::vector<std::string> pieces;
    };
    const std::vector<Case> cases = {
        {"a<dd:分隔符>b", "<dd:分隔符>", {"a", "b"}},
        {"abc", "<dd:分隔符>", {"abc"}},
        {"", "[dd:分页符]", {}},
        {"一[dd:分页符][dd:分页符]二[dd:分页符]", "[dd:分页符]", {"一", "", "二", ""}},
        {"a\nb\r\n\r\nc", "\r\n", {"a", "b", "c"}},  // a CR LF separator splits at any run of breaks
        {"a{参数}b", "{参数}", {"a", "b"}},
        {"a.b", "", {"a.b"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitByTemplate(c.text, c.separator), c.pieces) << c.text;
}

TEST(MatchContentGroup, FirstMatchCaseless) {
    EXPECT_EQ(MatchContentGroup("<title>一</title><title>二</title>", "<TITLE>(?<content>.*?)</title>"), "一");
    EXPECT_EQ(MatchContentGroup("<h1>x</h1>", "<title>(?<content>.*?)</title>"), "");
    EXPECT_EQ(MatchContentGroup("<h1>x</h1>", "<h1>(.*?)</h1>"), "");           // no group "content"
    EXPECT_EQ(MatchContentGroup("<h1>x</h1>", "<h1>(?<content>.*?</h1>"), "");  // refused
}

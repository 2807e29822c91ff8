#include "engine/html_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "platform/utf8.h"
#include "scripted_random.h"

namespace tarvex::engine {
namespace {

struct FilterCase {
    const char* numbers;
    std::string text;
    std::string expected;
};

TEST(HtmlFilter, RemovesTheNamedMarkup) {
    const FilterCase cases[] = {
        {"0", "<A href='x'>t</A><abbr>z</abbr>", "tz</abbr>"},
        {"0", "<a\nhref=\"x\"\n>多行</a>", "多行"},
        {"1,2,3", "<table border=1><TR><td class=c>格</TD></tr></table>", "格"},
        {"4,", "<p>a</p><pre>b</pre>", "ab</pre>"},
        {"4", "<p class", "<p class"},
        {"5", "<font color=red>红</FONT>", "红"},
        {"6,7", "<div id=x><span>s</span></div>", "s"},
        {"8", "<img src=\"a.jpg\"/>x</img>", "x"},
        {"9", "<script type=\"text/javascript\">var a=1;</script>", "var a=1;"},
        {"10", "<b>x</b><br/><body class=y><blockquote>", "x"},
        {"11", "<strong>粗</strong>", "粗"},
        {"12", "a<br>b<BR />c</br>", "abc"},
        {"13",
         "a&NBSP;b\xC2\xA0"
         "c&nbsp",
         "abc&nbsp"},
        {"14", "<H1 id=t>T</h1><h7>x</h7><h8>y</h8>", "Tx<h8>y</h8>"},
        {"15,16,17", "<hr/><form action=x><frameset rows=2><frame src=a></frame></form>", ""},
        {"18", "<ul><li>a</li><LI>b</li></ul>", "ab"},
        {"19", "a\r\n\tb\nc\r", "abc"},
        {"20", "<dl><dt>x</dt><dd>y</dd></dl>", "xy"},
        {"21", " \t\r\n x y \n", "x y"},
        {"22", "H<sub>2</sub>O x<SUP>2</sup>", "H2O x2"},
        {"23", "<div class=\"a\">中<b>文</b></div><", "中文<"},
        {"", "<p>a</p>", "<p>a</p>"},
        {"99,-1,x", "<p>a</p>", "<p>a</p>"},
    };
    for (const auto& c : cases) EXPECT_EQ(HtmlFilter(c.numbers, c.text), c.expected) << c.numbers << " | " << c.text;
}

TEST(HtmlFilter, RunsInListOrderAndRepeats) {
    // Removing "<p>" leaves a new "<p>" behind, which only a second pass removes.
    EXPECT_EQ(HtmlFilter("4", "<<p>p>"), "<p>");
    EXPECT_EQ(HtmlFilter("4,4", "<<p>p>"), "");
    // Trimming before the tags are gone trims nothing; after, it trims the text.
    EXPECT_EQ(HtmlFilter("21,23", "<p> a </p>"), " a ");
    EXPECT_EQ(HtmlFilter("23,21", "<p> a </p>"), "a");
}

TEST(UnicodeUnescape, DecodesEscapes) {
    const std::pair<std::string, std::string> cases[] = {
        {"\\u4e2d\\U6587\\u12", "中文\\u12"},
        {"\\u00E9x", "éx"},
        {"中\\u6587", "中文"},
        {"\\u12G4", "\\u12G4"},
        {"a\\\\u0041", "a\\A"},
        {"\\ud83d\\ude00", "😀"},
        {"\\ud83dx", "\xEF\xBF\xBDx"},
        {"\\ude00", "\xEF\xBF\xBD"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(UnicodeUnescape(in), out) << in;
}

TEST(ChineseForms, ConvertWithoutChangingLength) {
    EXPECT_EQ(ToSimplified("簡體中文，發佈時間"), "简体中文，发布时间");
    EXPECT_EQ(ToTraditional("简体中文"), "簡體中文");
    std::string text = "后来他头发白了，面里有干货";
    EXPECT_EQ(platform::utf8::length(ToTraditional(text)), platform::utf8::length(text));
}

TEST(Entities, ProtectAndRestore) {
    const std::string html = "a&lt;b&gt; &amp; &quot;q&quot;&nbsp;";
    const std::string protectedText = "a@lt;b@gt; @amp; @quot;q@quot;@nbsp;";
    EXPECT_EQ(ProtectEntities(html), protectedText);
    EXPECT_EQ(RestoreEntities(protectedText), html);
    // "&amp;lt;" is an escaped "&lt;" and must come back as such.
    EXPECT_EQ(RestoreEntities(ProtectEntities("&amp;lt;")), "&amp;lt;");
    EXPECT_EQ(ProtectEntities("&LT; &#60;"), "&LT; &#60;");
}

TEST(WordLists, ContainsAllAndNone) {
    struct Case {
        const char* words;
        const char* text;
        bool all;
        bool none;
    };
    const Case cases[] = {
        {"a,b", "xaxbx", true, false}, {"a,b", "xax", false, false},
        {"a,b", "xyz", false, true},   {"a,,b", "ab", false, false},
        {"a,,b", "xyz", false, true},  {"", "anything", true, true},
        {"a,", "xa", true, false},     {",a", "xa", false, false},
        {"A", "a", false, true},       {"中文,测试", "这是中文测试", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ContainsAll(c.words, c.text), c.all) << "all '" << c.words << "' in '" << c.text << "'";
        EXPECT_EQ(ContainsNone(c.words, c.text), c.none) << "none '" << c.words << "' in '" << c.text << "'";
    }
}

TEST(Affixes, RemovedOnce) {
    EXPECT_EQ(RemoveSuffix("[dd:分页符]", "x[dd:分页符]"), "x");
    EXPECT_EQ(RemoveSuffix("[dd:分页符]", "x[dd:分页符][dd:分页符]"), "x[dd:分页符]");
    EXPECT_EQ(RemoveSuffix("abc", "ab"), "ab");
    EXPECT_EQ(RemoveSuffix("", "ab"), "ab");
    EXPECT_EQ(RemovePrefix("<p>", "<p><p>x"), "<p>x");
    EXPECT_EQ(RemovePrefix("标题：", "标题：正文"), "正文");
    EXPECT_EQ(RemovePrefix("x", "axb"), "axb");
    EXPECT_EQ(RemovePrefix("abc", "ab"), "ab");
}

TEST(Lines, ReverseAndShuffle) {
    std::vector<std::string> lines{"1", "2", "3"};
    ReverseLines(lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"3", "2", "1"}));
    std::vector<std::string> none;
    ReverseLines(none);
    ShuffleLines(none);
    EXPECT_TRUE(none.empty());

    // Draw index 2 of [a b c d], then 0 of [a b d], then 1 of [d b].
    test::ScriptedRandom scripted({2, 0, 1, 0});
    std::vector<std::string> four{"a", "b", "c", "d"};
    ShuffleLines(four, scripted);
    EXPECT_EQ(four, (std::vector<std::string>{"c", "a", "b", "d"}));
    EXPECT_EQ(scripted.asked(), (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 3}, {0, 2}, {0, 1}, {0, 0}}));

    // Every order of three lines comes up, and each shuffle keeps the same lines.
    std::set<std::vector<std::string>> seen;
    for (int i = 0; i < 600; ++i) {
        std::vector<std::string> three{"x", "y", "z"};
        ShuffleLines(three);
        auto sorted = three;
        std::sort(sorted.begin(), sorted.end());
        ASSERT_EQ(sorted, (std::vector<std::string>{"x", "y", "z"}));
        seen.insert(three);
    }
    EXPECT_EQ(seen.size(), 6u);
}

TEST(RandomNames, AlnumAndHex) {
    EXPECT_EQ(RandomAlnum(0), "");
    EXPECT_EQ(RandomAlnum(-3), "");
    test::ScriptedRandom scripted({0, 25, 26, 51, 52, 61});
    EXPECT_EQ(RandomAlnum(6, scripted), "AZaz09");
    std::string name = RandomAlnum(40);
    ASSERT_EQ(name.size(), 40u);
    EXPECT_TRUE(
        std::all_of(name.begin(), name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }));

    EXPECT_EQ(TextToHex("作者"), "4F5C8005");
    EXPECT_EQ(TextToHex("a1"), "00610031");
    EXPECT_EQ(TextToHex("😀"), "D83DDE00");
    EXPECT_EQ(TextToHex(""), "");
}

}  // namespace
}  // namespace tarvex::engine

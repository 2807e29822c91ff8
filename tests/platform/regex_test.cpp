#include "platform/regex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace tarvex::platform;

namespace {

std::vector<std::string> allTexts(std::string_view pattern, unsigned options, std::string_view subject,
                                  std::size_t group = 0) {
    auto r = regexAll(pattern, options, subject);
    EXPECT_FALSE(r.error) << *r.error;
    std::vector<std::string> out;
    for (const auto& m : r.matches) out.emplace_back(m.group(group));
    return out;
}

}  // namespace

TEST(Regex, OptionSetsDifferOnlyInCase) {
    struct Case {
        const char* pattern;
        unsigned options;
        const char* subject;
        bool matches;
    };
    const Case cases[] = {
        {"<H1>", kExtractionOptions, "<h1>x", false},
        {"<H1>", kSearchOptions, "<h1>x", true},
        {"ÄÖ", kSearchOptions, "xäöy", true},  // caseless beyond ASCII
        {"ÄÖ", kExtractionOptions, "xäöy", false},
        {"a.b", kExtractionOptions, "a\nb", true},  // dot-all in both sets
        {"a.b", kSearchOptions, "a\r\nb", false},   // "." is one character, CR LF are two
        {"a..b", kSearchOptions, "a\r\nb", true},
        {"a.b", kRegexNone, "a\nb", false},
        {"中.文", kExtractionOptions, "中\n文", true},  // "." takes a whole multi-byte character
    };
    for (const auto& c : cases) {
        auto r = regexFirst(c.pattern, c.options, c.subject);
        ASSERT_FALSE(r.error) << c.pattern;
        EXPECT_EQ(r.match.has_value(), c.matches) << c.pattern << " on " << c.subject;
    }
}

TEST(Regex, NumberedAndNamedGroups) {
    auto c = Regex::compile("<a href='(?<url>.*?)'>(.*?)</a>(x)?", kExtractionOptions);
    ASSERT_TRUE(c) << c.error;
    EXPECT_EQ(c.regex->captureCount(), 3u);
    std::string page = "前<a href='/p/1'>第一</a><a href='/p/2'>second</a>";
    auto r = c.regex->first(page);
    ASSERT_TRUE(r.match);
    const auto& m = *r.match;
    EXPECT_EQ(m.groupCount(), 4u);
    EXPECT_EQ(m.group(0), "<a href='/p/1'>第一</a>");
    EXPECT_EQ(m.group(1), "/p/1");
    EXPECT_EQ(m.named("url"), "/p/1");
    EXPECT_EQ(m.group(2), "第一");
    EXPECT_FALSE(m.matched(3));
    EXPECT_EQ(m.group(3), "");
    EXPECT_EQ(m.group(9), "");
    EXPECT_EQ(m.named("nosuch"), "");
    EXPECT_FALSE(m.hasGroup("nosuch"));
    // Positions count code points: "前" is one character of three bytes.
    EXPECT_EQ(m.begin(), 3u);
    EXPECT_EQ(m.codePointBegin(), 1u);
    EXPECT_EQ(m.codePointBegin(2), 16u);
    EXPECT_EQ(m.codePointLength(2), 2u);

    auto second = c.regex->first(page, m.end());
    ASSERT_TRUE(second.match);
    EXPECT_EQ(second.match->named("url"), "/p/2");
}

TEST(Regex, AllMatchesWalkForwardOverEmptyMatches) {
    EXPECT_EQ(allTexts("x*", kRegexNone, "axb"), (std::vector<std::string>{"", "x", "", ""}));
    // An empty pattern steps one character at a time, never into the middle of one.
    auto r = regexAll("", kRegexNone, "中文");
    ASSERT_FALSE(r.error);
    ASSERT_EQ(r.matches.size(), 3u);
    EXPECT_EQ(r.matches[1].begin(), 3u);
    EXPECT_EQ(r.matches[2].begin(), 6u);
    // A top-level alternation stays whole in every match.
    EXPECT_EQ(allTexts("a|bb", kRegexNone, "abbab"), (std::vector<std::string>{"a", "bb", "a"}));
    EXPECT_EQ(allTexts("<li>(.*?)</li>", kExtractionOptions, "<li>一</li>\n<li>二\n三</li>", 1),
              (std::vector<std::string>{"一", "二\n三"}));
}

TEST(Regex, LimitStopsEarlyAndCallbackCanStop) {
    auto c = Regex::compile("\\d", kRegexNone);
    ASSERT_TRUE(c);
    EXPECT_EQ(c.regex->all("1a2b3", 2).matches.size(), 2u);
    int seen = 0;
    auto err = c.regex->forEach("123", [&](const RegexMatch&) { return ++seen < 1; });
    EXPECT_FALSE(err);
    EXPECT_EQ(seen, 1);
}

TEST(Regex, ReplaceTemplates) {
    struct Case {
        const char* pattern;
        const char* subject;
        const char* replacement;
        const char* expected;
    };
    const Case cases[] = {
        {"<img(.*?)>", "a<img src=1>b<img x>", "[$1]", "a[ src=1]b[ x]"},
        {"<img(.*?)>", "a<img src=1>b", "[\\1]", "a[ src=1]b"},
        {"(?<n>\\d+)", "x12y3", "<${n}>", "x<12>y<3>"},
        {"(?<n>\\d+)", "x12", "<\\g<n>>", "x<12>"},
        {"(\\d)", "a1", "$$\\$\\\\", "a$$\\"},
        {"(\\d)", "a1", "$9|${nosuch}|$", "a||$"},  // unknown groups insert nothing
        {"(\\d)(\\d)(\\d)(\\d)(\\d)(\\d)(\\d)(\\d)(\\d)(\\d)(\\d)", "12345678901", "${11}$10",
         "110"},  // "$10" is group 1 then "0"
        {"b", "abcb", "", "ac"},
        {"x", "abc", "y", "abc"},
        {"", "ab", "-", "-a-b-"},
    };
    for (const auto& c : cases) {
        auto r = regexReplace(c.pattern, kExtractionOptions, c.subject, c.replacement);
        ASSERT_FALSE(r.error) << c.pattern;
        EXPECT_EQ(r.text, c.expected) << c.pattern << " / " << c.replacement;
    }
    auto lit = regexReplace("(\\d)", kRegexNone, "a1b2", "[$1\\1]", ReplaceSyntax::Literal);
    EXPECT_EQ(lit.text, "a[$1\\1]b[$1\\1]");
}

TEST(Regex, SplitKeepsEmptyPiecesAndIgnoresEmptyMatches) {
    struct Case {
        const char* pattern;
        const char* subject;
        std::vector<std::string> pieces;
    };
    const std::vector<Case> cases = {
        {",", "a,,b,", {"a", "", "b", ""}},
        {",", "abc", {"abc"}},
        {",", "", {}},
        {"x*", "axb", {"a", "b"}},
        {"<dd:分隔符>", "网址<dd:分隔符>正文", {"网址", "正文"}},
    };
    for (const auto& c : cases) {
        auto r = regexSplit(c.pattern, kRegexNone, c.subject);
        ASSERT_FALSE(r.error);
        EXPECT_EQ(r.pieces, c.pieces) << c.pattern << " on " << c.subject;
    }
}

TEST(Regex, RefusedPatternsComeBackAsErrors) {
    struct Case {
        const char* pattern;
        const char* messagePart;
    };
    const Case cases[] = {
        {"(abc", "missing closing parenthesis"},
        {"(?<canshu1>.*?)x(?<canshu1>.*?)", "two named subpatterns have the same name"},
        {"abc)", "closing parenthesis"},
        {"a{2,1}", "out of order"},
    };
    for (const auto& c : cases) {
        auto compiled = Regex::compile(c.pattern, kExtractionOptions);
        EXPECT_FALSE(compiled);
        EXPECT_NE(compiled.error.find(c.messagePart), std::string::npos) << compiled.error;
        EXPECT_NE(compiled.error.find("at offset"), std::string::npos);
        auto r = regexFirst(c.pattern, kExtractionOptions, "abc");
        EXPECT_FALSE(r.match);
        ASSERT_TRUE(r.error);
        EXPECT_EQ(*r.error, compiled.error);
    }
    // The offset counts characters of the pattern as written.
    auto c = Regex::compile("中文(", kRegexNone);
    EXPECT_NE(c.error.find("at offset 3"), std::string::npos) << c.error;
}

TEST(Regex, MatchesFarIntoALongTextAreFoundWhole) {
    // Start positions are tried window by window; a match may start anywhere, run across
    // window ends, and look behind into text before its window.
    std::string text;
    for (int i = 0; i < 30000; ++i) text += "中";
    text += "<b>粗体</b>";
    for (int i = 0; i < 30000; ++i) text += "文";
    text += "尾";
    auto r = regexFirst("(?<=中)<b>(?<content>.*?)</b>", kExtractionOptions, text);
    ASSERT_FALSE(r.error);
    ASSERT_TRUE(r.match);
    EXPECT_EQ(r.match->named("content"), "粗体");
    EXPECT_EQ(r.match->codePointBegin(), 30000u);
    auto tail = regexFirst("文+尾", kExtractionOptions, text);
    ASSERT_TRUE(tail.match);
    EXPECT_EQ(tail.match->codePointLength(), 30001u);
    auto all = regexAll("文", kExtractionOptions, text);
    EXPECT_EQ(all.matches.size(), 30000u);
}

TEST(Regex, InvalidUtf8SubjectDoesNotBreakMatching) {
    std::string subject = "<b>ok</b>\xFF\xFE<b>\xC3</b><b>二</b>";
    EXPECT_EQ(allTexts("<b>(.*?)</b>", kExtractionOptions, subject, 1), (std::vector<std::string>{"ok", "二"}));
}

TEST(Regex, CatastrophicPatternsOnABigPageEndWithAnError) {
    struct Case {
        const char* pattern;
        std::string unit;
    };
    const Case cases[] = {
        // Exponential backtracking at one start position.
        {"^(([a-z])+.)+[A-Z]([a-z])+$", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaa!"},
        // Quadratic: every "<a>" starts a walk to the end of the page.
        {"<a>(.|\\n)*?</a>", "<a>some text of a page \n"},
        {"<a>(?:(?!</a>).)*</a>", "<a>some text <b>of</b> a page\n"},
    };
    for (const auto& c : cases) {
        std::string page;
        while (page.size() < 2'000'000) page += c.unit;
        auto r = regexFirst(c.pattern, kExtractionOptions, page);
        EXPECT_FALSE(r.match);
        ASSERT_TRUE(r.error) << c.pattern;
        EXPECT_NE(r.error->find("limit"), std::string::npos) << *r.error;
    }
}

TEST(Regex, TimeLimitIsAnOperationBudget) {
    RegexLimits saved = regexLimits();
    RegexLimits tight = saved;
    tight.timeLimitMs = 1;
    tight.matchLimit = 4000000000u;
    setRegexLimits(tight);
    std::string page;
    while (page.size() < 400'000) page += "<a>some text <b>of</b> a page\n";
    auto r = regexAll("<a>(?:(?!</a>).)*</a>", kExtractionOptions, page);
    setRegexLimits(saved);
    ASSERT_TRUE(r.error);
    EXPECT_EQ(*r.error, "match time limit exceeded");
}

TEST(Regex, NoMatchOnABigPageStaysANoMatch) {
    // Two lazy groups and a back text the page lacks: linear for the plain JIT form, far too
    // slow for the guarded one alone.
    // A generous budget, so that only a lost optimisation (seconds of work) could fail this.
    RegexLimits saved = regexLimits();
    RegexLimits generous = saved;
    generous.timeLimitMs = 30'000;
    setRegexLimits(generous);
    std::string page;
    while (page.size() < 2'000'000) page += "<div>abc</div> text text text ";
    for (const char* pattern : {"<div>(.*?)</div>(.*?)</span>", "<div>(?<content>.*?)</span>"}) {
        auto r = regexFirst(pattern, kExtractionOptions, page);
        EXPECT_FALSE(r.error) << pattern << ": " << *r.error;
        EXPECT_FALSE(r.match);
    }
    setRegexLimits(saved);
    page += "</span>";
    auto r = regexFirst("<div>(.*?)</div>(.*?)</span>", kExtractionOptions, page);
    ASSERT_TRUE(r.match);
    EXPECT_EQ(r.match->group(1), "abc");
}

TEST(Regex, CompiledOnceAndSharedAcrossThreads) {
    auto a = Regex::compile("<p>(?<content>.*?)</p>", kExtractionOptions);
    auto b = Regex::compile("<p>(?<content>.*?)</p>", kExtractionOptions);
    auto other = Regex::compile("<p>(?<content>.*?)</p>", kSearchOptions);
    ASSERT_TRUE(a && b && other);
    EXPECT_EQ(a.regex, b.regex);
    EXPECT_NE(a.regex, other.regex);

    std::string page;
    for (int i = 0; i < 2000; ++i) page += "<p>段落" + std::to_string(i) + "</p>\n";
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int k = 0; k < 20; ++k) {
                auto r = a.regex->all(page);
                if (r.error || r.matches.size() != 2000 || r.matches[1999].named("content") != "段落1999") ++wrong;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

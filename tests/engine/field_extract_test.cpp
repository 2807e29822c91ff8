#include "engine/field_extract.h"

#include <gtest/gtest.h>

#include "engine/template_lang.h"
#include "scripted_random.h"
#include "support/fakes.h"

using namespace tarvex::engine;
using tarvex::test::ScriptedRandom;

namespace {

// A field rule from the keys that matter; the rest read as off.
FieldRule makeRule(const nlohmann::ordered_json& keys) {
    nlohmann::ordered_json j = keys;
    if (!j.contains("title")) j["title"] = "f";
    return ReadFieldRule(j);
}

nlohmann::ordered_json cut(const std::string& front, const std::string& back, bool repeat = false) {
    return {{"radio_1", "-1"}, {"radio_1_content", {front, back}}, {"check_repeat", repeat ? "-1" : "0"}};
}

nlohmann::ordered_json regex(const std::string& pattern, const std::string& output, bool repeat = false) {
    return {{"radio_2", "-1"}, {"radio_2_content", {pattern, output}}, {"check_repeat", repeat ? "-1" : "0"}};
}

const Joiners kJoiners{"|", "#"};

// The field over a page list whose content page has these pages.
FieldOutcome run(const nlohmann::ordered_json& keys, const std::vector<std::string>& pages,
                 const FieldValueList& values = {}, const ExtractEnv& env = {}, const PageList& extra = {}) {
    std::string joined;
    for (std::size_t i = 0; i < pages.size(); ++i) joined += (i ? "[dd:分页符]" : "") + pages[i];
    PageList list{{"顶级内容页", LinesToMarkers(joined)}};
    list.insert(list.end(), extra.begin(), extra.end());
    PageSource source(list);
    FieldRule rule = makeRule(keys);
    return extractField(rule.title, rule, kJoiners, values, source, env);
}

std::string value(const nlohmann::ordered_json& keys, const std::string& page) {
    auto out = run(keys, {page});
    EXPECT_FALSE(out.error) << *out.error;
    return out.value;
}

}  // namespace

TEST(FieldExtract, FrontBackCuts) {
    struct Case {
        const char* what;
        nlohmann::ordered_json rule;
        std::string page;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"first only", cut("<h1>", "</h1>"), "<h1>A</h1><h1>B</h1>", "A"},
        {"repeat", cut("<h1>", "</h1>", true), "<h1>A</h1><h1>B</h1>", "A|B"},
        {"empty piece not taken", cut("<b>", "</b>"), "<b></b>x", ""},
        {"empty piece skipped, next taken", cut("<b>", "</b>", true), "<b></b><b>y</b>", "y"},
        {"back missing", cut("<b>", "</i>", true), "<b>x</b>", ""},
        {"front missing", cut("<i>", "</b>"), "<b>x</b>", ""},
        {"case-sensitive", cut("<H1>", "</h1>"), "<h1>A</h1>", ""},
        {"multi-byte edges", cut("标题：", "。"), "前言标题：中文内容。后记", "中文内容"},
        {"astral character inside", cut("「", "」", true), "「😀」「é」", "😀|é"},
        {"lone LF is literal in a direct cut", cut("<p>\n", "</p>"), "<p>\r\nx</p><p>\ny</p>", "y"},
        // A CR makes a pattern cut: the line break matches LF alone or CR LF.
        {"CR LF front", cut("<div class=c>\r\n<p>", "</p>"), "<div class=c>\n<p>正文</p>", "正文"},
        {"CR LF front, CR LF page", cut("<div class=c>\r\n<p>", "</p>"), "<div class=c>\r\n\r\n<p>正文</p>", "正文"},
        {"skip placeholder", cut("<a href={*}>", "</a>", true), "<a href=1>x</a><a href=2>y</a>", "x|y"},
        {"pattern cut keeps empty groups", cut("<a href={*}>", "</a>", true), "<a href=1></a><a href=2>y</a>", "|y"},
        {"pattern characters are literal", cut("价格(元)：", "."), "价格(元)：12.", "12"},
        {"empty front never matches", cut("", "</b>", true), "a</b>b</b>", ""},
        {"empty back never matches", cut("<b>", "", true), "<b>a<b>b", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(value(c.rule, c.page), c.expected) << c.what;
}

TEST(FieldExtract, RegexMethods) {
    const std::string links = "<a href='/p/1'>第一</a><a href='/p/2'>第二</a>";
    struct Case {
        const char* what;
        nlohmann::ordered_json rule;
        std::string page;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"raw, filled by number", regex("<a href='(.*?)'>(.*?)</a>", "{参数2}|{参数1}"), links, "第一|/p/1"},
        {"raw, repeat", regex("<a href='(.*?)'>(.*?)</a>", "{参数1}:{参数2}", true), links, "/p/1:第一|/p/2:第二"},
        // Without "{参数1}" in the output the pattern is read as a template and escaped.
        {"raw pattern needs {参数1}", regex("<a href='(.*?)'>(.*?)</a>", "{参数2}"), links, ""},
        {"raw, {*} is lazy any text", regex("<a {*}>(.*?)</a>", "{参数1}"), links, "第一"},
        {"template with parameter", regex("标题：{参数1}<", "《{参数1}》"), "标题：春<br>", "《春》"},
        {"unknown parameter stays", regex("标题：{参数1}<", "《{参数1}》{参数2}"), "标题：春<", "《春》{参数2}"},
        {"template escapes its text", regex("价格(元)：{参数1}.", "{参数1}"), "价格(元)：12.5.", "12"},
        {"template, no {参数1}", regex("<b>{*}</b>", "粗体"), "<b>x</b>", "粗体"},
        {"empty output: whole match", regex("<h1>.*?</h1>", ""), "<h1>A</h1><h1>B</h1>", "<h1>A</h1>"},
        {"empty output, repeat", regex("\\d+", "", true), "a1b22", "1|22"},
        {"empty output: {*} not replaced", regex("a{*}b", ""), "ab a{}b", "a{}b"},
        {"case-sensitive", regex("<H1>(.*?)</h1>", "{参数1}"), "<h1>A</h1>", ""},
        {"dot-all", regex("<p>(.*?)</p>", "{参数1}"), "<p>a\r\nb</p>", "a\r\nb"},
        {"no match", regex("<h2>(.*?)</h2>", "{参数1}"), "<h1>A</h1>", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(value(c.rule, c.page), c.expected) << c.what;
}

TEST(FieldExtract, RefusedOrRunawayPatternEndsWithTheEngineMessage) {
    for (const auto& rule : {regex("<a(", ""), regex("{参数1}-{参数1}", "{参数1}"), regex("(x", "{参数1}")}) {
        auto out = run(rule, {"<a(x</a>"});
        ASSERT_TRUE(out.error) << rule.dump();
        EXPECT_EQ(out.value, "");
    }
    // The text interface used by other parts gives an empty value.
    EXPECT_EQ(extractField("f", regex("<a(", "").dump(), "{}", {}, {{"顶级内容页", "<a(x"}}), "");
}

TEST(FieldExtract, RepeatModeFlagReading) {
    // Repeat is on for any present, non-empty text other than "0".
    for (const char* flag : {"-1", "1", "false", "x"}) {
        auto rule = cut("<i>", "</i>");
        rule["check_repeat"] = flag;
        EXPECT_EQ(value(rule, "<i>a</i><i>b</i>"), "a|b") << flag;
    }
    for (const char* flag : {"0", ""}) {
        auto rule = cut("<i>", "</i>");
        rule["check_repeat"] = flag;
        EXPECT_EQ(value(rule, "<i>a</i><i>b</i>"), "a") << flag;
    }
}

TEST(FieldExtract, PagesAndMultiLevelPages) {
    const std::vector<std::string> pages = {"<p>一</p>", "<p>二</p><p>二b</p>", "<p>三</p>"};
    auto first = cut("<p>", "</p>");
    EXPECT_EQ(run(first, pages).value, "一");
    auto every = first;
    every["check_mulpage"] = "-1";
    EXPECT_EQ(run(every, pages).value, "一#二#三");
    every["check_repeat"] = "-1";
    EXPECT_EQ(run(every, pages).value, "一#二|二b#三");
    // A page without a match still takes its place between the separators.
    EXPECT_EQ(run(every, {"<p>一</p>", "无", "<p>三</p>"}).value, "一##三");

    PageList levels{{"作者页", "http://x/a<dd:分隔符><b>甲</b>[dd:分页符]<b>乙</b>"}};
    auto level = cut("<b>", "</b>");
    level["check_morepage"] = "-1";
    level["check_morepageindex"] = "作者页";
    EXPECT_EQ(run(level, pages, {}, {}, levels).value, "甲");
    level["check_mulpage"] = "-1";
    EXPECT_EQ(run(level, pages, {}, {}, levels).value, "甲#乙");
    level["check_morepageindex"] = "没有这页";
    EXPECT_EQ(run(level, pages, {}, {}, levels).value, "");
    // With no source pages even a made-up value is not produced.
    nlohmann::ordered_json fixed = {
        {"radio_3", "-1"},        {"radio_3_content_Radio1", "-1"},    {"radio_3_content_richtext1", "固定"},
        {"check_morepage", "-1"}, {"check_morepageindex", "没有这页"}, {"check_mulpage", "-1"}};
    EXPECT_EQ(run(fixed, pages, {}, {}, levels).value, "");
    fixed["check_mulpage"] = "0";
    EXPECT_EQ(run(fixed, pages, {}, {}, levels).value, "固定");
}

TEST(FieldExtract, MadeUpValues) {
    tarvex::test::ManualClock clock(tarvex::test::ManualClock::local(2019, 1, 9, 8, 30, 0));
    ScriptedRandom random({1});
    ExtractEnv env{&clock, &random};
    nlohmann::ordered_json fixed = {
        {"radio_3", "-1"},
        {"radio_3_content_Radio1", "-1"},
        {"radio_3_content_richtext1", " {DD:字段=作者}（{dd:日期yyyy-mm-dd}）{dd:字段=AUTHOR}{DD:字段=无} "}};
    FieldValueList values{{"作者", "张三"}, {"author", "a<临时换行2替换换行2>b"}};
    EXPECT_EQ(run(fixed, {"page"}, values, env).value, "张三（2019-01-09）a\nb");

    nlohmann::ordered_json line = {
        {"radio_3", "-1"}, {"radio_3_content_Radio2", "-1"}, {"radio_3_content_richtext1", "一\r\n二\r\n三"}};
    EXPECT_EQ(run(line, {"page"}, {}, env).value, "二");
    line["radio_3_content_richtext1"] = "";
    EXPECT_EQ(run(line, {"page"}, {}, env).value, "");

    struct Bounds {
        const char* min;
        const char* max;
        const char* expected;
        std::pair<std::int64_t, std::int64_t> asked;
    };
    const Bounds bounds[] = {
        {"5", "5", "5", {5, 5}},
        {"1", "50", "1", {1, 50}},
        {"9", "3", "3", {3, 9}},  // reversed bounds are swapped
        {" 2 ", "4", "2", {2, 4}},
    };
    for (const auto& b : bounds) {
        ScriptedRandom draws({-100});
        ExtractEnv e{&clock, &draws};
        nlohmann::ordered_json number = {{"radio_3", "-1"},
                                         {"radio_3_content_Radio3", "-1"},
                                         {"radio_3_content_min", b.min},
                                         {"radio_3_content_max", b.max}};
        EXPECT_EQ(run(number, {"page"}, {}, e).value, b.expected) << b.min << "," << b.max;
        ASSERT_EQ(draws.asked().size(), 1u);
        EXPECT_EQ(draws.asked()[0], b.asked);
    }
    // Bounds that are not integers give an empty value and draw nothing.
    for (auto [min, max] : {std::pair{"a", "5"}, std::pair{"1", ""}, std::pair{"1.5", "3"}}) {
        ScriptedRandom draws({3});
        ExtractEnv e{&clock, &draws};
        nlohmann::ordered_json number = {{"radio_3", "-1"},
                                         {"radio_3_content_Radio3", "-1"},
                                         {"radio_3_content_min", min},
                                         {"radio_3_content_max", max}};
        EXPECT_EQ(run(number, {"page"}, {}, e).value, "") << min << "," << max;
        EXPECT_TRUE(draws.asked().empty());
    }
    // No method chosen: empty.
    EXPECT_EQ(run({{"radio_1", "0"}}, {"<h1>A</h1>"}).value, "");
}

TEST(FieldExtract, JoinersFromSettings) {
    nlohmann::ordered_json settings = {{"other_join_repeat", "\\r\\n"}, {"other_joinpage", "<!--分页符-->\\n"}};
    Joiners j = ReadJoiners(settings);
    EXPECT_EQ(j.repeat, "\r\n");
    EXPECT_EQ(j.page, "<!--分页符-->\n");
    EXPECT_EQ(ReadJoiners(nlohmann::ordered_json::object()).repeat, "");
}

TEST(FieldExtract, RecordOverPages) {
    auto rules = nlohmann::ordered_json::array();
    auto head = cut("<tarvex>", "<");
    head["title"] = "f";
    rules.push_back(head.dump());
    auto anchored = cut("<p>x", "</tarvex>");
    anchored["title"] = "尾";
    rules.push_back(anchored.dump());
    nlohmann::ordered_json refs = {{"title", "引用"},
                                   {"radio_3", "-1"},
                                   {"radio_3_content_Radio1", "-1"},
                                   {"radio_3_content_richtext1", "{DD:字段=f}@{DD:字段=url}"}};
    rules.push_back(refs.dump());
    nlohmann::ordered_json settings = {{"fieldsAll", rules}};
    auto out = ExtractRecord(settings, {"开头<p>x末尾", "第二页x二</tarvex>"}, "http://h/1");
    ASSERT_FALSE(out.error);
    // Only the first page is wrapped, so the end anchor finds the end of page one.
    EXPECT_EQ(out.record.dump(), R"({"f":"开头","尾":"末尾","引用":"开头@http://h/1"})");

    settings["fieldsAll"].push_back("not json");
    out = ExtractRecord(settings, {"p"}, "");
    ASSERT_TRUE(out.error);
    EXPECT_NE(out.error->find("4"), std::string::npos);
    EXPECT_TRUE(ExtractRecordFromText("[1,2]", {"p"}, "").error);
}

TEST(FieldExtract, FixedStringsAndDownloadFields) {
    auto settings = [](std::vector<nlohmann::ordered_json> rules) {
        auto arr = nlohmann::ordered_json::array();
        for (auto& r : rules) arr.push_back(r.dump());
        return nlohmann::ordered_json{{"fieldsAll", arr}}.dump();
    };
    nlohmann::ordered_json fixed = {{"title", "a"}, {"radio_3", "-1"}};
    nlohmann::ordered_json images = {{"title", "正文"}, {"radio_1", "-1"}, {"file_save", {"-1", "/x", "0"}}};
    nlohmann::ordered_json files = {{"title", "附件"}, {"radio_1", "-1"}, {"file_save", {"0", "/x", "-1", "-1"}}};
    nlohmann::ordered_json three = {{"title", "c"}, {"radio_1", "-1"}, {"file_save", {"0", "/x", "-1"}}};
    EXPECT_TRUE(AllFixedStrings(settings({})));
    EXPECT_TRUE(AllFixedStrings(settings({fixed, fixed})));
    EXPECT_FALSE(AllFixedStrings(settings({fixed, images})));
    EXPECT_EQ(DownloadFieldNames(settings({fixed, images, files, three})), ",正文,附件,");
    EXPECT_EQ(DownloadFieldNames(settings({fixed})), ",");
}

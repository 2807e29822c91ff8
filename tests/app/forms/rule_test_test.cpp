// The rule windows' core: what the source pane highlights (in UTF-16 units, as a text widget
// counts), "测试列表" with its warnings, the page fetched with the task's own options, and the
// white-space step of new fields.
#include "app/forms/rule_test.h"

#include <gtest/gtest.h>

#include "app/forms/field_editor_form.h"
#include "app/forms/rule_preview.h"
#include "app/tasks/settings_document.h"
#include "engine/post_process.h"

using namespace tarvex;
using app::TextRange;

namespace {

const char* const kList =
    "<html>\r\n<div class=\"nav\"><a href=\"/about.html\">关于</a></div>\r\n<ul class=\"news\">\r\n"
    "<li><a href=\"/a/1.html\" title=\"第一篇\">第一篇</a></li>\r\n"
    "<li><a href=\"/a/2.htm\" title=\"第二篇\">第二篇</a></li>\r\n</ul></html>";

std::string taskWith(const app::ListSettingsForm& list) {
    auto doc = *app::ParseSettings(app::NewTaskDocument());
    doc["Morepage"] = list.toJson();
    doc["other_cookie"] = "sid=42";
    return app::DumpJson(doc);
}

app::ListSettingsForm newsList(const std::string& pattern = {}) {
    app::ListSettingsForm f;
    f.sources = {"http://site.test/list.html"};
    f.begin = "<ul class=\"news\">";
    f.end = "</ul>";
    f.linkPattern = pattern;
    return f;
}

// Length of a UTF-8 text in UTF-16 units.
std::size_t utf16Length(const std::string& s) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
        units += len == 4 ? 2 : 1;
        i += len;
    }
    return units;
}

// A fetch that answers every address with `page` and remembers the options it was given.
app::PageFetch serve(const std::string& page, std::string* options = nullptr) {
    return [page, options](const std::string&, const std::string& o) {
        if (options) *options = o;
        return "succ:" + page;
    };
}

}  // namespace

TEST(RulePreview, RangesCountUtf16UnitsOfTheShownText) {
    // "标题" is two units, the emoji before the second match two more.
    const std::string text = "标题<b>值</b>😀<b>第二</b>";
    auto one = app::PreviewFrontBack(text, "<b>", "</b>", false);
    EXPECT_EQ(one.ranges, (std::vector<TextRange>{{5, 6}}));
    EXPECT_EQ(one.count, 1u);
    EXPECT_EQ(one.summary, "匹配到1处");
    auto all = app::PreviewFrontBack(text, "<b>", "</b>", true);
    EXPECT_EQ(all.ranges, (std::vector<TextRange>{{5, 6}, {5 + 1 + 4 + 2 + 3, 5 + 1 + 4 + 2 + 3 + 2}}));
    auto regex = app::PreviewRegex(text, "<b>(.*?)</b>", "", true);
    EXPECT_EQ(regex.ranges, (std::vector<TextRange>{{2, 10}, {12, 21}}));
}

TEST(RulePreview, NothingMatchedSaysWhich) {
    const std::string text = "<div class=\"a\">正文</div>";
    EXPECT_EQ(app::PreviewFrontBack(text, "<div class=\"fdsafdsa\">", "</div>", false).summary,
              "前边字符在页面中没有找到");
    EXPECT_EQ(app::PreviewFrontBack(text, "<div class=\"a\">", "</section>", false).summary,
              "后边字符在前边字符之后没有找到");
    // A multi-line front text matches whatever line ends the page has.
    EXPECT_EQ(app::PreviewFrontBack("<p>\nx</p>", "<p>\r\n", "</p>", false).count, 1u);
    EXPECT_EQ(app::PaneText("a\r\nb\rc\n"), "a\nb\nc\n");
}

TEST(RulePreview, ListRuleHighlightsTheAreaAndTheLinksThatPassTheFilters) {
    const std::string text = app::PaneText(kList);
    auto p = app::PreviewListRule(text, newsList(), "http://site.test/list.html");
    const auto areaStart = utf16Length(text.substr(0, text.find("<ul class=\"news\">") + 17));
    EXPECT_EQ(p.area.begin, areaStart);
    // "html" is the default include text: the ".htm" link is found but filtered.
    EXPECT_EQ(p.count, 1u);
    ASSERT_EQ(p.ranges.size(), 1u);
    const std::string first = "/a/1.html";
    const auto at = utf16Length(text.substr(0, text.find(first)));
    EXPECT_EQ(p.ranges[0], (TextRange{at, at + first.size()}));
}

TEST(ListTest, PlainWarningsForRulesThatWillNotDoWhatTheUserExpects) {
    struct Case {
        const char* what;
        app::ListSettingsForm list;
        const char* warning;
        std::size_t links;
    };
    app::ListSettingsForm noArea = newsList();
    noArea.end.clear();
    app::ListSettingsForm missingArea = newsList();
    missingArea.begin = "<ul class=\"list\">";
    const Case cases[] = {
        {"pattern without address marker", newsList("<a href=\"(*)\">"), collect::kNoAddressMarkerWarning, 2},
        {"no pattern", newsList(), collect::kAutomaticLinksNotice, 2},
        {"area texts empty", noArea, collect::kDirectModeWarning, 0},
        {"area not on the page", missingArea, "列表区域的前边字符在页面中没有找到，本页不会提取到任何链接", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto test = app::TestList(taskWith(c.list), "/nowhere/", {}, {}, serve(kList));
        EXPECT_EQ(test.error, "");
        EXPECT_EQ(test.address, "http://site.test/list.html");
        ASSERT_FALSE(test.preview.warnings.empty());
        EXPECT_EQ(test.preview.warnings.front(), c.warning);
        EXPECT_EQ(test.preview.links.size(), c.links);
    }
    // In direct mode the list address itself is the first content page.
    EXPECT_EQ(app::TestList(taskWith(noArea), "/nowhere/", {}, {}, serve(kList)).firstContentAddress(),
              "http://site.test/list.html");
}

TEST(ListTest, LinksComeWithTheirListFieldsAndAbsoluteAddresses) {
    const auto list = newsList("<a href=\"{DD:采集网址}\" title=\"{DD:字段=列表标题}\">");
    auto test = app::TestList(taskWith(list), "/nowhere/", {}, {}, serve(kList));
    ASSERT_EQ(test.preview.links.size(), 2u);
    EXPECT_EQ(test.preview.warnings, std::vector<std::string>{});
    EXPECT_EQ(test.preview.links[0].url, "http://site.test/a/1.html");
    EXPECT_EQ(test.preview.links[0].fields, (std::vector<std::pair<std::string, std::string>>{{"列表标题", "第一篇"}}));
    EXPECT_TRUE(test.preview.links[1].filtered);
    EXPECT_EQ(test.firstContentAddress(), "http://site.test/a/1.html");
    const auto lines = app::ListTestLines(test);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "1. http://site.test/a/1.html  {列表标题}=第一篇"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "2. http://site.test/a/2.htm  {列表标题}=第二篇  （已过滤）"),
              lines.end());
}

TEST(ListTest, PagesAreFetchedWithTheTasksOwnOptions) {
    std::string options;
    auto list = newsList();
    list.noReferer = true;
    auto test = app::TestList(taskWith(list), "/nowhere/", {}, {}, serve(kList, &options));
    EXPECT_NE(options.find("cookie=sid=42"), std::string::npos) << options;
    EXPECT_NE(options.find("referer=无来源"), std::string::npos) << options;
    auto failing = app::TestList(taskWith(newsList()), "/nowhere/", {}, {}, [](const std::string&, const std::string&) {
        return std::string("fail:404 Not Found");
    });
    EXPECT_EQ(failing.error, "抓取网页:http://site.test/list.html,返回错误：404 Not Found");
}

TEST(NewFields, StartWithTheWhiteSpaceStepAndExistingRulesKeepTheirs) {
    const auto fresh = app::FieldEditorForm::fromJson("");
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->rules.rules(), std::vector<std::string>{engine::TrimWhiteSpaceRule()});
    for (const auto& rule : app::NewTaskFieldRules()) {
        const auto strips = app::ParseSettings(rule).value()["txt_strips"];
        ASSERT_FALSE(strips.empty()) << rule;
        EXPECT_EQ(strips.back(), engine::TrimWhiteSpaceRule()) << rule;
    }
    const auto existing = app::FieldEditorForm::fromJson(R"({"title":"标题","txt_strips":[]})");
    ASSERT_TRUE(existing);
    EXPECT_TRUE(existing->rules.rules().empty());
}

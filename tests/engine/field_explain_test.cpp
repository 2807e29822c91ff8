// Why a field came out empty, step by step, and the white-space step new fields start with.
#include "engine/field_explain.h"

#include <gtest/gtest.h>

#include "engine/post_process.h"
#include "engine/template_lang.h"

using namespace tarvex::engine;

namespace {

const char* const kPage =
    "<html><head><title>\r\n   标题  \r\n</title></head><body><div class=\"a\"><p>正文</p></div>"
    "<span id=\"e\"></span></body></html>";

std::string explain(nlohmann::ordered_json keys, const PageList& extra = {}) {
    keys["title"] = "f";
    PageList list{{"顶级内容页", LinesToMarkers(kPage)}};
    list.insert(list.end(), extra.begin(), extra.end());
    PageSource source(list);
    const FieldRule rule = ReadFieldRule(keys);
    // The reason is only asked for fields that are empty; make sure the case is one.
    EXPECT_EQ(TrimText(extractField("f", rule, {}, {}, source).value), "") << keys.dump();
    return ExplainEmptyField(rule, source, {});
}

nlohmann::ordered_json cut(const std::string& front, const std::string& back) {
    return {{"radio_1", "-1"}, {"radio_1_content", {front, back}}};
}

}  // namespace

TEST(FieldExplain, EachStepThatGaveNothingIsNamed) {
    struct Case {
        const char* what;
        nlohmann::ordered_json keys;
        const char* reason;
    };
    const Case cases[] = {
        {"front missing", cut("<div class=\"fdsafdsa\">", "</div>"), "前边字符在页面中没有找到"},
        {"back missing", cut("<div class=\"a\">", "</section>"), "后边字符在前边字符之后没有找到"},
        {"nothing between", cut("<span id=\"e\">", "</span>"), "前边字符与后边字符之间没有内容"},
        {"front missing, with placeholder", cut("<div class=\"{*}x\">", "</div>"), "前边字符在页面中没有找到"},
        {"back missing, multi-line", cut("<div class=\"a\">", "</section>\r\n"), "后边字符在前边字符之后没有找到"},
        {"no front at all", cut("", "</div>"), "前边字符为空，前后截取不会得到任何内容"},
        {"regex without match",
         {{"radio_2", "-1"}, {"radio_2_content", {"<h1>(.*?)</h1>", ""}}},
         "正则规则在页面中没有匹配到内容"},
        {"level not collected",
         {{"radio_1", "-1"},
          {"radio_1_content", {"<p>", "</p>"}},
          {"check_morepage", "-1"},
          {"check_morepageindex", "下载页"}},
         "多级页面[下载页]没有取到内容（请在“多页提取”中测试该页面）"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(explain(c.keys), c.reason);
    }
}

TEST(FieldExplain, APostProcessingStepThatEmptiedTheValueIsNamedByPlace) {
    auto keys = cut("<p>", "</p>");
    keys["txt_strips"] = {R"({"type":"替换","rep1":"x","rep2":"y"})", R"({"type":"替换","rep1":"正文","rep2":""})"};
    EXPECT_EQ(explain(keys), "内容处理第2步（替换）把内容变成了空值");
}

TEST(FieldExplain, TheWhiteSpaceStepOfNewFieldsTrimsBothEndsAndNothingInside) {
    const std::vector<std::string> rules{TrimWhiteSpaceRule()};
    const std::pair<const char*, const char*> cases[] = {
        {"\r\n   标题  \r\n", "标题"},
        {"\t两端 空白\r\n中间\n", "两端 空白\r\n中间"},
        {"  \r\n ", ""},
        {"无空白", "无空白"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(RunPostRules(in, rules, {}, {}, ChainEnv{}), out) << in;
}

// The "内容处理" page of the field editor as values: rule pages written as the chain reads them,
// and the rule list commands.
#include "app/forms/post_rule_form.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/sandbox_workspace.h"

using namespace tarvex;
using app::PostRuleForm;
using app::PostRuleList;
using Json = nlohmann::ordered_json;

namespace {

std::vector<std::string> types(const PostRuleList& list) {
    std::vector<std::string> out;
    for (const auto& row : list.rows()) out.push_back(row.type);
    return out;
}

PostRuleList listOf(const std::vector<std::string>& ruleTypes) {
    std::vector<std::string> texts;
    for (const auto& t : ruleTypes) texts.push_back(Json{{"type", t}}.dump());
    return PostRuleList(texts);
}

}  // namespace

TEST(PostRuleForm, MenuOffersEveryRuleTypeUnderItsGroup) {
    std::vector<std::string> top, advanced, plugins;
    for (const auto& page : app::RulePages())
        (page.group.empty() ? top : page.group == "高级功能" ? advanced : plugins).push_back(page.menu);
    EXPECT_EQ(top, (std::vector<std::string>{"内容替换", "Html过滤", "正则提取", "字符截取", "内容前后追加",
                                             "空内容默认值", "随机插入文本", "特殊字符转化"}));
    EXPECT_EQ(advanced,
              (std::vector<std::string>{"时间转化", "关键词分词", "自定义词库分词", "同义词替换", "关键词内链",
                                        "内容为空再次提取", "内容非空结束处理", "内容为空结束处理", "访问网页"}));
    EXPECT_EQ(plugins, (std::vector<std::string>{"DLL插件", "JavaScript脚本"}));
    // Menu captions that differ from the stored type.
    EXPECT_EQ(app::RulePageOf("替换")->menu, "内容替换");
    EXPECT_EQ(app::RulePageOf("JavaScript插件")->menu, "JavaScript脚本");
    EXPECT_EQ(app::HtmlFilterCaptions().size(), 24u);
}

TEST(PostRuleForm, NewRulesStartWithTheirDefaults) {
    struct Case {
        std::string type;
        std::string json;
    };
    const std::vector<Case> cases = {
        {"替换", R"({"type":"替换","rep1":"","rep2":"","check1":"0","check2":"0"})"},
        {"正则提取",
         R"({"type":"正则提取","rep1":"","rep2":"","repeat_check":"0","rep_join_string":"","rep_begin_string":"","rep_end_string":"","rep_max_num":"0"})"},
        {"随机插入文本", R"({"type":"随机插入文本","filepath":"","getnum":"1","check1":"0"})"},
        {"时间转化", R"({"type":"时间转化","rep1":"{dd:日期yyyy-mm-dd hh:nn:ss}","check1":"0"})"},
        {"关键词分词", R"({"type":"关键词分词","rep1":",","rep2":"5"})"},
        {"同义词替换", R"({"type":"同义词替换","rep1":"","rep2":"0"})"},
        {"关键词内链", R"({"type":"关键词内链","rep1":"","rep2":"5","rep3":"5"})"},
        {"内容为空结束处理", R"({"type":"内容为空结束处理"})"},
    };
    for (const auto& c : cases) EXPECT_EQ(PostRuleForm::blank(c.type).toJson(), c.json) << c.type;
}

TEST(PostRuleForm, LineBreaksAsTheRuleLanguageExpects) {
    // Text typed on Linux has LF line ends; templates store CR LF so a line break matches pages
    // written with either convention. The regex and cut rules drop the breaks altogether.
    auto replace = PostRuleForm::blank("替换");
    replace.set("rep1", "<p>\n</p>");
    replace.set("rep2", "a\r\nb\rc");
    auto j = Json::parse(replace.toJson());
    EXPECT_EQ(j["rep1"], "<p>\r\n</p>");
    EXPECT_EQ(j["rep2"], "a\r\nb\r\nc");

    auto extract = PostRuleForm::blank("正则提取");
    extract.set("rep1", "<li>\n(.*?)</li>");
    EXPECT_EQ(Json::parse(extract.toJson())["rep1"], "<li>(.*?)</li>");

    EXPECT_EQ(app::EditorLineBreaks("a\r\nb\rc\nd"), "a\nb\nc\nd");
    EXPECT_EQ(app::RuleLineBreaks(app::EditorLineBreaks("x\r\n\r\ny")), "x\r\n\r\ny");
}

TEST(PostRuleForm, ReadsAStoredRuleAndWritesItBack) {
    // The default rules of a new task lack the check boxes; they read as off.
    auto form = PostRuleForm::fromJson(R"({"type":"替换","rep1":"aaaaa","rep2":"bbbbbd"})");
    ASSERT_TRUE(form);
    EXPECT_EQ(form->value("check1"), "0");
    EXPECT_EQ(form->toJson(), R"({"type":"替换","rep1":"aaaaa","rep2":"bbbbbd","check1":"0","check2":"0"})");
    // A flag stored as "true" shows ticked and is written back as "-1".
    auto cut = PostRuleForm::fromJson(R"({"type":"字符截取","rep1":"<b>","rep2":"","rep3":"true","check2":"1"})");
    EXPECT_EQ(Json::parse(cut->toJson())["rep3"], "-1");
    EXPECT_EQ(Json::parse(cut->toJson())["check2"], "-1");
    EXPECT_FALSE(PostRuleForm::fromJson("not json"));
}

TEST(PostRuleList, MovesStopAtTheEnds) {
    struct Case {
        int selected;
        int delta;
        bool moved;
        std::vector<std::string> order;
        int selectedAfter;
    };
    const std::vector<Case> cases = {
        {0, -1, false, {"替换", "html过滤", "访问网页"}, 0},  // first up
        {2, +1, false, {"替换", "html过滤", "访问网页"}, 2},  // last down
        {0, +1, true, {"html过滤", "替换", "访问网页"}, 1},    {2, -1, true, {"替换", "访问网页", "html过滤"}, 1},
        {-1, +1, false, {"替换", "html过滤", "访问网页"}, -1},  // nothing selected
    };
    for (const auto& c : cases) {
        auto list = listOf({"替换", "html过滤", "访问网页"});
        if (c.selected >= 0) list.select(c.selected);
        EXPECT_EQ(list.move(c.delta), c.moved) << c.selected << " " << c.delta;
        EXPECT_EQ(types(list), c.order) << c.selected << " " << c.delta;
        EXPECT_EQ(list.selected(), c.selectedAfter) << c.selected << " " << c.delta;
    }
}

TEST(PostRuleList, NewRuleOfAnotherTypeIsAppendedAndLeavesTheSelectedOneAlone) {
    test::SandboxWorkspace ws;
    PostRuleList list({R"({"type":"替换","rep1":"a","rep2":"b","check1":"0","check2":"0"})"});
    ASSERT_TRUE(list.select(0));
    EXPECT_EQ(list.page()->type, "替换");
    list.create("空内容默认值");
    EXPECT_EQ(list.selected(), -1);
    list.editPage()->set("rep1", "无");
    EXPECT_FALSE(list.commit(ws.folder()));
    ASSERT_EQ(list.rules().size(), 2u);
    EXPECT_EQ(list.rules()[0], R"({"type":"替换","rep1":"a","rep2":"b","check1":"0","check2":"0"})");
    EXPECT_EQ(list.rules()[1], R"({"type":"空内容默认值","rep1":"无"})");
    EXPECT_EQ(list.selected(), 1);

    // Clicking a rule and pressing the page's button replaces that rule in place.
    ASSERT_TRUE(list.select(0));
    list.editPage()->set("rep2", "c");
    EXPECT_FALSE(list.commit(ws.folder()));
    EXPECT_EQ(Json::parse(list.rules()[0])["rep2"], "c");
    EXPECT_EQ(list.rules().size(), 2u);
    const auto rows = list.rows();
    EXPECT_EQ(rows[1].number, "2");
    EXPECT_EQ(rows[1].type, "空内容默认值");
    EXPECT_EQ(rows[1].content, list.rules()[1]);
}

TEST(PostRuleList, RefusedRuleChangesNothing) {
    test::SandboxWorkspace ws;
    PostRuleList list({R"({"type":"替换","rep1":"a","rep2":"b"})"});
    list.select(0);
    list.editPage()->set("rep1", "");
    EXPECT_EQ(list.commit(ws.folder()).value_or(""), "替换前文字不能为空");
    EXPECT_EQ(list.rules()[0], R"({"type":"替换","rep1":"a","rep2":"b"})");
    list.create("同义词替换");
    list.editPage()->set("rep1", "近义词");
    EXPECT_EQ(list.commit(ws.folder()).value_or(""), "同义词文件不存在！");
    ws.writeFile("Plugin/samekey/近义词.txt", "美丽,漂亮\n");
    EXPECT_FALSE(list.commit(ws.folder()));
    EXPECT_EQ(list.rules().size(), 2u);
}

TEST(PostRuleList, DeleteRenumbersAndUnknownTypesCanStillBeRemoved) {
    auto list = listOf({"替换", "旧插件", "访问网页"});
    // A rule the editor has no page for shows no page but can be selected, moved and deleted.
    EXPECT_FALSE(list.select(1));
    EXPECT_EQ(list.selected(), 1);
    EXPECT_FALSE(list.page());
    EXPECT_TRUE(list.remove());
    EXPECT_EQ(types(list), (std::vector<std::string>{"替换", "访问网页"}));
    EXPECT_EQ(list.rows()[1].number, "2");
    EXPECT_FALSE(list.remove());  // nothing selected any more
}

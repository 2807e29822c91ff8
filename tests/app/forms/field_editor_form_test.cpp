// The field editor "字段设置" as values: a rule read into the form and written back in the
// editor's key order, what the window takes from the task's settings, the save refusals, and the
// "测试"/"预览" texts.
#include "app/forms/field_editor_form.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "app/tasks/settings_document.h"
#include "engine/field_rule.h"
#include "support/fakes.h"

using namespace tarvex;
using app::FieldEditorForm;
using Json = nlohmann::ordered_json;

namespace {

// Draws scripted numbers in turn (each clamped into the asked range).
class FixedRandom final : public engine::RandomSource {
public:
    explicit FixedRandom(std::int64_t value) : m_value(value) {}
    std::int64_t uniform(std::int64_t lo, std::int64_t hi) override { return std::clamp(m_value, lo, hi); }

private:
    std::int64_t m_value;
};

std::string taskSettings(const std::vector<std::string>& fieldTitles, const std::string& levels = "",
                         const std::string& linkPattern = "") {
    Json doc = Json::object();
    Json fields = Json::array();
    for (const auto& t : fieldTitles) fields.push_back(engine::NewFieldRule(t).dump());
    doc["fieldsAll"] = fields;
    if (!levels.empty()) doc["Morepage2"] = levels;
    if (!linkPattern.empty()) doc["Morepage"] = Json{{"More_url_regex", linkPattern}}.dump();
    return doc.dump();
}

FieldEditorForm filled(const std::string& name) {
    FieldEditorForm f;
    f.name = name;
    f.front = "<h1>";
    f.back = "</h1>";
    return f;
}

}  // namespace

TEST(FieldEditorForm, NameBoxDropsSpacesAsTyped) {
    struct Case {
        std::string typed, shown;
    };
    const std::vector<Case> cases = {
        {" 标 题 ", "标题"},
        {"标\xE3\x80\x80题", "标题"},  // ideographic space
        {"\t作者\r\n", "作者"},
        {"a,b", "a,b"},  // commas go only when the field is saved
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(app::NameBoxText(c.typed), c.shown) << c.typed;
    EXPECT_EQ(Json::parse(filled("a,b").toJson())["title"], "ab");
}

TEST(FieldEditorForm, NewFieldIsWrittenInTheEditorsKeyOrder) {
    const FieldEditorForm f = *FieldEditorForm::fromJson("");
    Json written = Json::parse(filled("标题").toJson());
    Json expected = engine::NewFieldRule("标题");
    expected["radio_1_content"] = {"<h1>", "</h1>"};
    // The prefix box starts on its "请选择" entry, so no folder named "请选择" is stored.
    expected["file_save"][2] = "0";
    expected.erase("file_save_diy");
    EXPECT_EQ(written, expected);
    std::vector<std::string> keys, expectedKeys;
    for (auto it = written.begin(); it != written.end(); ++it) keys.push_back(it.key());
    for (auto it = expected.begin(); it != expected.end(); ++it) expectedKeys.push_back(it.key());
    EXPECT_EQ(keys, expectedKeys);
    EXPECT_EQ(f.prefixChoice, 0);
}

TEST(FieldEditorForm, StoredRuleRoundTrips) {
    Json rule = engine::NewFieldRule("正文");
    rule["check_null"] = "-1";
    rule["check_morepage"] = "-1";
    rule["check_morepageindex"] = "下载页";
    rule["radio_1"] = "0";
    rule["radio_2"] = "-1";
    rule["radio_2_content"] = {"<div>\r\n{参数1}</div>", "{参数1}"};
    rule["txt_strips"] = {R"({"type":"html过滤","html_strip_nums":"0,4,"})"};
    rule["file_save"] = {"-1", "/up/{dd:MD5}.jpg", "-1", "0"};
    rule["file_save_diy"] = "img/{dd:日期yyyymmdd}";
    rule["pic_waterpic_x"] = "12";
    rule["filter_open_check"] = "-1";
    rule["filter_include_check"] = "-1";
    rule["filter_include"] = "a,b";
    auto form = FieldEditorForm::fromJson(rule.dump(), {"下载页"});
    ASSERT_TRUE(form);
    EXPECT_EQ(form->method, app::FieldMethod::Regex);
    EXPECT_EQ(form->level, "下载页");
    EXPECT_EQ(form->prefixChoice, -1);
    EXPECT_EQ(form->prefixText, "img/{dd:日期yyyymmdd}");
    EXPECT_EQ(form->rules.rules().size(), 1u);
    EXPECT_EQ(Json::parse(form->toJson()), rule);
}

TEST(FieldEditorForm, OlderRulesFallBackToDefaults) {
    // A new task's rule: a number for the level, a one-element "file_save", no watermark keys.
    const std::string old = R"({"title":"标题","check_null":"-1","check_mulpage":"0","check_morepage":"0",
        "check_morepageindex":-1,"radio_1":"-1","radio_2":"0","radio_3":"0",
        "radio_1_content":["<title>","</title>"],"radio_2_content":["",""],"radio_3_content":["0",""],
        "txt_strips":[],"file_save":["0"]})";
    auto form = FieldEditorForm::fromJson(old);
    ASSERT_TRUE(form);
    EXPECT_EQ(form->level, "");
    EXPECT_EQ(form->fileName, app::kDefaultFileName);
    EXPECT_EQ(form->transparency, "70");
    // Watermark offsets missing from an existing rule show 5.
    EXPECT_EQ(form->offsetX, "5");
    EXPECT_EQ(form->offsetY, "5");
    // Saving with no multi-level pages defined stores the level as empty text.
    Json saved = Json::parse(form->toJson());
    EXPECT_EQ(saved["check_morepageindex"], "");
    EXPECT_EQ(saved["radio_1_content"], (Json{"<title>", "</title>"}));
    EXPECT_FALSE(FieldEditorForm::fromJson("[1,2]"));
}

TEST(FieldEditorForm, TemplatesKeepLineBreaksAsCrLf) {
    FieldEditorForm f = filled("正文");
    f.front = "  <div class=c>\n<p>  ";
    f.method = app::FieldMethod::MadeUp;
    f.madeUp = app::MadeUpKind::RandomLine;
    f.madeUpText = "甲\n乙\n丙\n";
    Json j = Json::parse(f.toJson());
    EXPECT_EQ(j["radio_1_content"][0], "<div class=c>\r\n<p>");
    // The random line is split at CR when a field is extracted: typed lines must carry one.
    EXPECT_EQ(j["radio_3_content_richtext1"], "甲\r\n乙\r\n丙");
    EXPECT_EQ(j["radio_3_content"], (Json{"0", "甲\r\n乙\r\n丙"}));
}

TEST(FieldEditorForm, OptionalKeysAreWrittenOnlyWhenSet) {
    FieldEditorForm f = filled("图");
    f.prefixChoice = -1;
    f.prefixText = "/pics/";
    f.offsetX = "";
    Json j = Json::parse(f.toJson());
    EXPECT_EQ(j["file_save"][2], "-1");
    EXPECT_EQ(j["file_save_diy"], "pics");
    EXPECT_FALSE(j.contains("pic_waterpic_x"));
    EXPECT_EQ(j["pic_waterpic_y"], "0");
    f.prefixText = "";
    EXPECT_FALSE(Json::parse(f.toJson()).contains("file_save_diy"));
    f.prefixChoice = 2;
    f.prefixText = "ignored";
    EXPECT_FALSE(Json::parse(f.toJson()).contains("file_save_diy"));
}

TEST(FieldEditorForm, SaveRefusals) {
    const std::string settings = taskSettings({"标题", "Author", "内容"});
    struct Case {
        std::string name;
        int editing;
        std::string refusal;  // "" = saved
    };
    const std::vector<Case> cases = {
        {"作者", -1, ""},
        {"标题", -1, "新建字段名称不能重复"},
        {"author", -1, "新建字段名称不能重复"},  // letter case ignored, as column names are
        {"标题", 0, ""},                         // the edited field keeps its own name
        {"内容", 0, "修改字段的名称不能与其他字段重复！"},
        {"AUTHOR", 1, ""},
        {"Url", -1, "字段名称不能是url或id"},
        {"getUrl", -1,
         "字段名称<getUrl>与数据库固定字段重名(id,url,geturl,getc,postc,postc_开头)，请修改字段名称后再保存"},
        {"postc_site1", 2,
         "字段名称<postc_site1>与数据库固定字段重名(id,url,geturl,getc,postc,postc_开头)，请修改字段名称后再保存"},
        // Characters a column name cannot keep: a double quote, a control character inside.
        {"ti\"tle", -1, "字段名称<ti\"tle>不能包含双引号，请修改字段名称后再保存"},
        {"a\tb", -1, "字段名称<a\\u0009b>不能包含控制字符(如换行、制表符)，请修改字段名称后再保存"},
    };
    for (const auto& c : cases) {
        auto result = app::SaveField(filled(c.name), settings, c.editing);
        EXPECT_EQ(result.refusal, c.refusal) << c.name;
        EXPECT_EQ(result.json.has_value(), c.refusal.empty()) << c.name;
    }
    FieldEditorForm level = filled("下载");
    level.fromLevel = true;
    EXPECT_EQ(app::SaveField(level, settings, -1).refusal, "并没有选择多页，请取消多级页面的按扭");
    FieldEditorForm images = filled("图片");
    images.downloadImages = images.downloadAttachment = true;
    EXPECT_EQ(app::SaveField(images, settings, -1).refusal, "图片下载与附件下载(直接下载) 只能选择一项");
    FieldEditorForm thumb = filled("图片");
    thumb.thumbWidth = "600";
    EXPECT_EQ(app::SaveField(thumb, settings, -1).refusal, "缩略图大小在1-500之间");
}

TEST(FieldEditorForm, ReadsLevelsFieldsAndListFieldsFromTheTask) {
    const std::string levels =
        Json{{"MorePageAll", {Json{{"title", "下载页"}}.dump(), Json{{"title", "评论页"}}.dump()}}}.dump();
    const std::string settings = taskSettings(
        {"标题", "内容"}, levels, "<a href=\"{DD:采集网址}\">{DD:字段=栏目}</a>{DD:字段=日期}{DD:字段=栏目}");
    EXPECT_EQ(app::MultiLevelPageTitles(settings), (std::vector<std::string>{"下载页", "评论页"}));
    EXPECT_EQ(app::ListPageFieldNames(settings), (std::vector<std::string>{"栏目", "日期"}));
    const auto tokens = app::FixedTextTokens(settings);
    ASSERT_GE(tokens.size(), 4u);
    EXPECT_EQ(tokens[7], "{DD:字段=XX}");
    EXPECT_EQ(std::vector<std::string>(tokens.end() - 4, tokens.end()),
              (std::vector<std::string>{"{DD:字段=标题}", "{DD:字段=内容}", "{DD:字段=栏目}", "{DD:字段=日期}"}));
    EXPECT_TRUE(app::MultiLevelPageTitles(taskSettings({"标题"})).empty());
    EXPECT_TRUE(app::MultiLevelPageTitles("broken").empty());
}

TEST(FieldEditorForm, TestOfTheMadeUpPage) {
    test::ManualClock clock(test::ManualClock::local(2019, 1, 9, 8, 30, 0));
    FixedRandom second(1);
    FieldEditorForm f;
    EXPECT_EQ(app::TestMadeUp(f, clock, second), "请选择一个[固定字符串,随机字符串,随机数]选项");
    f.madeUp = app::MadeUpKind::FixedText;
    f.madeUpText = "  发布于{dd:日期yyyy-mm-dd} ";
    EXPECT_EQ(app::TestMadeUp(f, clock, second), "测试结果：发布于2019-01-09");
    f.madeUp = app::MadeUpKind::RandomLine;
    f.madeUpText = "甲\n 乙 \n丙";  // as typed on Linux
    EXPECT_EQ(app::TestMadeUp(f, clock, second), "测试结果：乙");
    f.madeUp = app::MadeUpKind::RandomNumber;
    f.minText = "5";
    f.maxText = "3";
    EXPECT_EQ(app::TestMadeUp(f, clock, second), "最小值 不能大于 最大值");
    f.maxText = "9";
    FixedRandom big(100);
    EXPECT_EQ(app::TestMadeUp(f, clock, big), "测试结果：9");
}

TEST(FieldEditorForm, PreviewOfTheNewFileName) {
    test::ManualClock clock(test::ManualClock::local(2019, 1, 9, 8, 30, 0));
    FixedRandom random(0);
    EXPECT_EQ(app::PreviewFileName("/d/file/{dd:日期yyyymmdd}/{dd:自增id}_{dd:原文件名}",
                                   "http://img.example.com/a/b/photo.jpg", clock, random),
              "新文件名如下：\r/d/file/20190109/1_photo.jpg");
    EXPECT_EQ(app::PreviewFileName("/x/a{dd:原文件扩展名}", "http://h/p.png", clock, random),
              "新文件名如下：\r/x/a.png");
}

TEST(FieldEditorForm, SmartMethodIsStoredAsTheFourthRadioWithItsChoice) {
    FieldEditorForm f = filled("作者");
    f.method = app::FieldMethod::Smart;
    f.smartPart = "作者";
    Json written = Json::parse(f.toJson());
    EXPECT_EQ(written["radio_1"], "0");
    EXPECT_EQ(written["radio_2"], "0");
    EXPECT_EQ(written["radio_3"], "0");
    EXPECT_EQ(written["radio_4"], "-1");
    EXPECT_EQ(written["radio_4_content"], "作者");
    // The front and back texts may stay empty for this method.
    f.front.clear();
    f.back.clear();
    EXPECT_TRUE(app::SaveField(f, "", -1).json) << app::SaveField(f, "", -1).refusal;
    auto back = FieldEditorForm::fromJson(f.toJson());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->method, app::FieldMethod::Smart);
    EXPECT_EQ(back->smartPart, "作者");

    // Older rules without the keys keep their method; an unknown choice reads as 正文.
    auto old = FieldEditorForm::fromJson(R"({"title":"a","radio_1":"0","radio_2":"-1"})");
    EXPECT_EQ(old->method, app::FieldMethod::Regex);
    EXPECT_EQ(old->smartPart, "正文");
    auto unknown = FieldEditorForm::fromJson(R"({"title":"a","radio_4":"-1","radio_4_content":"摘要"})");
    EXPECT_EQ(unknown->method, app::FieldMethod::Smart);
    EXPECT_EQ(unknown->smartPart, "正文");
}

// The field editor "字段设置" driven like a person, offscreen: typing into the name box, the
// method pages and placeholder buttons, building the post-processing rule list, the attachment
// page, and the rule text "保存" hands back; a stored rule survives opening and saving untouched.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <nlohmann/json.hpp>

#include "app/tasks/settings_document.h"
#include "engine/field_rule.h"
#include "qt_app.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"
#include "ui/forms/field_editor_dialog.h"
#include "ui/forms/template_edit.h"

using namespace tarvex;
using Json = nlohmann::ordered_json;

namespace {

std::string taskSettings() {
    Json doc = Json::object();
    doc["fieldsAll"] = {engine::NewFieldRule("标题").dump(), engine::NewFieldRule("内容").dump()};
    doc["Morepage2"] = Json{{"MorePageAll", {Json{{"title", "下载页"}}.dump()}}}.dump();
    doc["Morepage"] = Json{{"More_url_regex", "<a href=\"{DD:采集网址}\">{DD:字段=栏目}</a>"}}.dump();
    return doc.dump();
}

QAction* menuAction(QMenu* menu, const QString& text) {
    for (QAction* a : menu->actions()) {
        if (a->text() == text) return a;
        if (a->menu())
            if (QAction* found = menuAction(a->menu(), text)) return found;
    }
    return nullptr;
}

template <class T>
T* child(QWidget* parent, const char* name) {
    T* w = parent->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// Types text key by key, also characters that have no key of their own.
void typeText(QWidget* w, const QString& text) {
    for (QChar c : text) QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

void saveScreenshot(QWidget* w, const char* file) {
    if (const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR")) {
        test::processEvents(100);
        w->grab().save(QString(dir) + "/" + file);
    }
}

struct FieldEditorUi : ::testing::Test {
    test::SandboxWorkspace ws;
    test::ScriptedDialogs dialogs;
    void SetUp() override { test::qtApp(); }
};

}  // namespace

TEST_F(FieldEditorUi, BuildsANewFieldFromTheControls) {
    ws.writeFile("Plugin/samekey/近义词.txt", "美丽,漂亮\n");
    ws.writeFile("Plugin/samekey/readme.md", "not a list");
    ui::FieldEditorDialog dlg("新建字段", "", taskSettings(), -1, ws.folder(), dialogs);
    dlg.show();

    // The name box drops spaces while typing.
    auto* name = child<QLineEdit>(&dlg, "title");
    name->setFocus();
    typeText(name, QString::fromUtf8(" 作 者\u3000"));
    EXPECT_EQ(name->text(), "作者");

    // "正则采集" shows its page; the placeholder buttons type into the box beside them.
    auto* regexRadio = [&] {
        for (auto* r : dlg.findChildren<QRadioButton*>())
            if (r->text() == "正则采集") return r;
        return static_cast<QRadioButton*>(nullptr);
    }();
    ASSERT_NE(regexRadio, nullptr);
    regexRadio->click();
    auto* pattern = child<ui::TemplateEdit>(&dlg, "pattern");
    EXPECT_TRUE(pattern->isVisible());
    pattern->setFocus();
    typeText(pattern, "作者：");
    for (auto* b : pattern->parentWidget()->findChildren<QPushButton*>())
        if (b->text() == "{参数1}") b->click();
    typeText(pattern, "<");
    EXPECT_EQ(pattern->toPlainText(), "作者：{参数1}<");
    EXPECT_EQ(pattern->highlighted(), (std::vector<std::pair<int, int>>{{3, 5}}));
    child<ui::TemplateEdit>(&dlg, "output")->setText("《{参数1}》");
    saveScreenshot(&dlg, "field_editor_regex.png");

    // "内容处理": a new field starts with the white-space step, which the user can delete.
    dlg.tabs()->setCurrentIndex(1);
    ASSERT_EQ(dlg.ruleList()->topLevelItemCount(), 1);
    EXPECT_EQ(dlg.ruleList()->topLevelItem(0)->text(2), R"({"type":"html过滤","html_strip_nums":"21,"})");
    dlg.selectRule(0);
    dlg.deleteRule();
    ASSERT_EQ(dlg.ruleList()->topLevelItemCount(), 0);
    // A replacement rule, then a default of another type while it is selected.
    menuAction(dlg.newRuleMenu(), "内容替换")->trigger();
    EXPECT_EQ(dlg.rulePages()->currentWidget(), dlg.rulePage("替换"));
    static_cast<ui::TemplateEdit*>(dlg.ruleInput("替换", "rep1"))->setPlainText("<br>\n<br>");
    static_cast<QCheckBox*>(dlg.ruleInput("替换", "check1"))->setChecked(true);
    saveScreenshot(&dlg, "field_editor_replace.png");
    dlg.commitRule();
    ASSERT_EQ(dlg.ruleList()->topLevelItemCount(), 1);
    dlg.selectRule(0);
    menuAction(dlg.newRuleMenu(), "空内容默认值")->trigger();
    dlg.commitRule();
    EXPECT_TRUE(dialogs.sawMessage("内容默认值不能为空！"));
    static_cast<ui::TemplateEdit*>(dlg.ruleInput("空内容默认值", "rep1"))->setPlainText("佚名");
    dlg.commitRule();
    ASSERT_EQ(dlg.ruleList()->topLevelItemCount(), 2);
    EXPECT_EQ(dlg.ruleList()->topLevelItem(0)->text(1), "替换");
    EXPECT_EQ(dlg.ruleList()->topLevelItem(1)->text(0), "2");
    // The word-list page lists its folder's ".txt" files and starts its count at 0.
    menuAction(dlg.newRuleMenu(), "同义词替换")->trigger();
    auto* lists = static_cast<QComboBox*>(dlg.ruleInput("同义词替换", "rep1"));
    ASSERT_EQ(lists->count(), 1);
    EXPECT_EQ(lists->itemText(0), "近义词");
    EXPECT_EQ(static_cast<QLineEdit*>(dlg.ruleInput("同义词替换", "rep2"))->text(), "0");
    // The HTML filter page writes the ticked numbers in order.
    menuAction(dlg.newRuleMenu(), "Html过滤")->trigger();
    auto* filters = dlg.ruleInput("html过滤", "html_strip_nums");
    filters->findChild<QCheckBox*>("filter12")->setChecked(true);
    filters->findChild<QCheckBox*>("filter0")->setChecked(true);
    dlg.commitRule();
    saveScreenshot(&dlg, "field_editor_rules.png");
    // Moving the last rule down does nothing; up swaps it with the one above.
    dlg.moveRule(1);
    EXPECT_EQ(dlg.ruleList()->topLevelItem(2)->text(1), "html过滤");
    dlg.moveRule(-1);
    EXPECT_EQ(dlg.ruleList()->topLevelItem(1)->text(1), "html过滤");

    // "附件下载": the sample group shows while a download box is ticked; the right-click menu
    // of the name box inserts tokens; "预览" applies the name to the sample address.
    dlg.tabs()->setCurrentIndex(3);
    auto* sample = child<QGroupBox>(&dlg, "sampleGroup");
    EXPECT_FALSE(sample->isVisible());
    child<QCheckBox>(&dlg, "downloadImages")->setChecked(true);
    EXPECT_TRUE(sample->isVisible());
    auto* fileName = child<QLineEdit>(&dlg, "fileName");
    fileName->setText("/up/");
    fileName->end(false);
    auto* tokens = fileName->findChild<QMenu*>("tokenMenu");
    ASSERT_NE(tokens, nullptr);
    EXPECT_EQ(tokens->actions().size(), 8);
    menuAction(tokens, "{dd:原文件名}")->trigger();
    EXPECT_EQ(fileName->text(), "/up/{dd:原文件名}");
    // A typed prefix stays a typed prefix, also after Enter.
    auto* prefix = child<QComboBox>(&dlg, "prefix");
    prefix->lineEdit()->clear();
    QTest::keyClicks(prefix->lineEdit(), "/img/");
    QTest::keyClick(prefix->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(prefix->count(), 4);
    child<QLineEdit>(&dlg, "sampleAddress")->setText("http://h/a/photo.jpg");
    dlg.previewFileName();
    EXPECT_TRUE(dialogs.sawMessage("新文件名如下：\r/up/photo.jpg"));
    saveScreenshot(&dlg, "field_editor_attachments.png");

    // A name taken by another field (letter case aside) is refused and the window stays.
    name->setText("标题");
    dlg.accept();
    EXPECT_TRUE(dialogs.sawMessage("新建字段名称不能重复"));
    EXPECT_TRUE(dlg.isVisible());
    name->setText("作者");
    dlg.accept();
    ASSERT_EQ(dlg.result(), QDialog::Accepted);

    Json rule = Json::parse(dlg.json());
    EXPECT_EQ(rule["title"], "作者");
    EXPECT_EQ(rule["radio_2"], "-1");
    EXPECT_EQ(rule["radio_2_content"], (Json{"作者：{参数1}<", "《{参数1}》"}));
    EXPECT_EQ(rule["check_morepageindex"], "");
    EXPECT_EQ(rule["file_save"], (Json{"-1", "/up/{dd:原文件名}", "-1", "0"}));
    EXPECT_EQ(rule["file_save_diy"], "img");
    ASSERT_EQ(rule["txt_strips"].size(), 3u);
    EXPECT_EQ(rule["txt_strips"][0], R"({"type":"替换","rep1":"<br>\r\n<br>","rep2":"","check1":"-1","check2":"0"})");
    EXPECT_EQ(rule["txt_strips"][1], R"({"type":"html过滤","html_strip_nums":"0,12,"})");
    EXPECT_EQ(rule["txt_strips"][2], R"({"type":"空内容默认值","rep1":"佚名"})");
}

TEST_F(FieldEditorUi, StoredRuleSurvivesOpeningAndSaving) {
    // Every control off its default, so a control the window forgets to show or read shows up.
    Json rule = engine::NewFieldRule("正文");
    rule["check_null"] = "-1";
    rule["check_mulpage"] = "-1";
    rule["check_morepage"] = "-1";
    rule["check_morepageindex"] = "下载页";
    rule["check_repeat"] = "-1";
    rule["radio_1"] = "0";
    rule["radio_3"] = "-1";
    rule["radio_1_content"] = {"<div id=\"a\">\r\n<p>", "</div>"};
    rule["radio_2_content"] = {"(.*)", "{参数1}"};
    rule["radio_3_content"] = {"0", "一\r\n二"};
    rule["radio_3_content_Radio2"] = "-1";
    rule["radio_3_content_richtext1"] = "一\r\n二";
    rule["radio_3_content_min"] = "3";
    rule["radio_3_content_max"] = "8";
    rule["txt_strips"] = {R"({"type":"时间转化","rep1":"{dd:日期yyyy}","check1":"0"})"};
    rule["file_save"] = {"0", "/f/{dd:MD5}.zip", "-1", "-1"};
    rule["file_save_diy"] = "att";
    rule["pic_referer_check"] = "-1";
    rule["pic_blank_check"] = "-1";
    rule["pic_waterpic_check"] = "-1";
    rule["pic_waterstring_check"] = "-1";
    rule["pic_water_filepath"] = "/tmp/mark.png";
    rule["pic_water_string"] = "水印";
    rule["pic_transparent"] = "50";
    rule["pic_quality"] = "90";
    rule["pic_water_color"] = "#FF0000";
    rule["pic_water_fontsize"] = "14";
    rule["pic_smallpic_check"] = "-1";
    rule["pic_smallpic_width"] = "120";
    rule["pic_smallpic_height"] = "90";
    rule["pic_smallpic_newname"] = "/t/{dd:MD5}.jpg";
    rule["pic_waterpictype_check"] = "-1";
    rule["pic_waterpic_origin"] = "3";
    rule["pic_waterpic_x"] = "7";
    rule["pic_waterpic_y"] = "8";
    rule["filter_open_check"] = "-1";
    rule["filter_isempty_check"] = "-1";
    rule["filter_minnum_check"] = "-1";
    rule["filter_minnum_num"] = "10";
    rule["filter_maxnum_check"] = "-1";
    rule["filter_maxnum_num"] = "99";
    rule["filter_include_check"] = "-1";
    rule["filter_include"] = "a,b";
    rule["filter_exclude_check"] = "-1";
    rule["filter_exclude"] = "c";
    rule["filter_maxpic_check"] = "-1";
    rule["filter_maxpic_num"] = "2";
    rule["filter_add_check"] = "-1";

    ui::FieldEditorDialog dlg("字段设置", rule.dump(), taskSettings(), 1, ws.folder(), dialogs);
    dlg.show();
    for (int i = 0; i < dlg.tabs()->count(); ++i) {
        dlg.tabs()->setCurrentIndex(i);
        saveScreenshot(&dlg, QString("field_editor_tab%1.png").arg(i).toUtf8().constData());
    }
    // Clicking the stored rule shows it on its page.
    dlg.selectRule(0);
    EXPECT_EQ(dlg.rulePages()->currentWidget(), dlg.rulePage("时间转化"));
    EXPECT_EQ(static_cast<QLineEdit*>(dlg.ruleInput("时间转化", "rep1"))->text(), "{dd:日期yyyy}");
    dlg.accept();
    ASSERT_EQ(dlg.result(), QDialog::Accepted) << (dialogs.messages().empty() ? "" : dialogs.messages().back());
    EXPECT_EQ(Json::parse(dlg.json()), rule);
}

TEST_F(FieldEditorUi, MadeUpTestAndFixedTextMenu) {
    ui::FieldEditorDialog dlg("新建字段", "", taskSettings(), -1, ws.folder(), dialogs);
    dlg.show();
    for (auto* r : dlg.findChildren<QRadioButton*>())
        if (r->text() == "自定义字符串" || r->text() == "随机数") r->click();
    child<QLineEdit>(&dlg, "radio_3_content_min")->setText("4");
    child<QLineEdit>(&dlg, "radio_3_content_max")->setText("4");
    child<QPushButton>(&dlg, "testMadeUp")->click();
    EXPECT_TRUE(dialogs.sawMessage("测试结果：4"));

    // The fixed-text box offers the tokens, then a reference per field and list-page field.
    auto* text = child<ui::TemplateEdit>(&dlg, "madeUpText");
    std::unique_ptr<QMenu> menu(text->buildContextMenu());
    QStringList entries;
    for (auto* a : menu->actions()) entries << a->text();
    for (const char* token : {"{dd:时间戳2}", "{DD:字段=XX}", "{DD:字段=标题}", "{DD:字段=内容}", "{DD:字段=栏目}"})
        EXPECT_TRUE(entries.contains(token)) << token;
    menuAction(menu.get(), "{DD:字段=栏目}")->trigger();
    EXPECT_EQ(text->toPlainText(), "{DD:字段=栏目}");
    EXPECT_EQ(text->highlighted(), (std::vector<std::pair<int, int>>{{0, 10}}));
    saveScreenshot(&dlg, "field_editor_madeup.png");
}

TEST_F(FieldEditorUi, SmartMethodOffersItsFourChoices) {
    ui::FieldEditorDialog dlg("新建字段", "", taskSettings(), -1, ws.folder(), dialogs);
    dlg.show();
    child<QLineEdit>(&dlg, "title")->setText("发布日期");
    auto* choice = child<QComboBox>(&dlg, "radio_4_content");
    EXPECT_FALSE(choice->isVisible());
    for (auto* r : dlg.findChildren<QRadioButton*>())
        if (r->text() == "智能识别") r->click();
    EXPECT_TRUE(choice->isVisible());
    QStringList items;
    for (int i = 0; i < choice->count(); ++i) items << choice->itemText(i);
    EXPECT_EQ(items, (QStringList{"正文", "标题", "发布时间", "作者"}));
    choice->setCurrentIndex(2);
    saveScreenshot(&dlg, "field_editor_smart.png");
    dlg.accept();
    ASSERT_EQ(dlg.result(), QDialog::Accepted) << (dialogs.messages().empty() ? "" : dialogs.messages().back());
    Json rule = Json::parse(dlg.json());
    EXPECT_EQ(rule["radio_1"], "0");
    EXPECT_EQ(rule["radio_4"], "-1");
    EXPECT_EQ(rule["radio_4_content"], "发布时间");

    // Opened again, the window shows the method and the choice.
    ui::FieldEditorDialog again("字段设置", rule.dump(), taskSettings(), 0, ws.folder(), dialogs);
    again.show();
    EXPECT_TRUE(child<QComboBox>(&again, "radio_4_content")->isVisible());
    EXPECT_EQ(child<QComboBox>(&again, "radio_4_content")->currentText(), "发布时间");
}

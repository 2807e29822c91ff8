// The source pane of the rule windows driven like a person over the loopback site
// tests/data/sites/first-task: the page opened with the task's options, text selected and taken
// as front and back text, the live highlight with its count, "测试列表" with the insert buttons,
// the field editor's "测试字段" marking the empty field with its reason, and the multi-level
// window's pane. With TARVEX_SCREENSHOT_DIR set, the list and field windows of a first task are
// saved (docs/ keeps them for the README's "第一个任务").
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextDocument>
#include <nlohmann/json.hpp>

#include "app/forms/list_settings_form.h"
#include "app/tasks/settings_document.h"
#include "collect/http_fetch.h"
#include "qt_app.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"
#include "ui/forms/field_editor_dialog.h"
#include "ui/forms/list_settings_dialog.h"
#include "ui/forms/multi_level_dialog.h"
#include "ui/forms/source_pane.h"
#include "ui/forms/template_edit.h"

using namespace tarvex;

namespace {

std::string siteFolder() {
    return std::string(TARVEX_TEST_DATA_DIR) + "/sites/first-task";
}

// Selects the first place of `text` in the pane, as a person drags over it.
void selectInPane(ui::SourcePane* pane, const QString& text) {
    QTextCursor found = pane->view()->document()->find(text);
    ASSERT_FALSE(found.isNull()) << text.toStdString();
    pane->view()->setTextCursor(found);
}

std::string shown(QPlainTextEdit* box) {
    return box->toPlainText().toStdString();
}

void screenshot(QWidget* w, const char* name) {
    if (const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR")) {
        test::processEvents(100);
        w->grab().save(QString(dir) + "/" + name);
    }
}

struct RulePaneUi : ::testing::Test {
    test::LocalHttpServer server{siteFolder()};
    test::SandboxWorkspace ws;
    test::ScriptedDialogs dialogs;
    void SetUp() override { test::qtApp(); }

    // A new task's settings with the list page as its source and a cookie to be sent.
    std::string newTask(const app::ListSettingsForm& list) {
        auto doc = *app::ParseSettings(app::NewTaskDocument());
        doc["Morepage"] = list.toJson();
        doc["other_cookie"] = "sid=first";
        return app::DumpJson(doc);
    }
};

}  // namespace

TEST_F(RulePaneUi, ListSettingsAreWrittenFromThePageAndTested) {
    app::ListSettingsForm start;
    start.sources = {server.url("/list.html")};
    ui::ListSettingsDialog dlg(start.toJson(), {"标题", "内容"}, ws.folder(), dialogs);
    dlg.setTaskSettings(newTask(start));
    dlg.resize(1320, 740);
    auto* pane = dlg.sourcePane();
    EXPECT_EQ(pane->address(), server.url("/list.html"));
    pane->load();
    ASSERT_FALSE(pane->shownText().empty());
    // The page came with the task's cookie.
    EXPECT_EQ(server.requests().back().header("Cookie"), "sid=first");
    EXPECT_GT(pane->view()->document()->blockCount(), 5);

    pane->searchEdit()->setText("class=\"news\"");
    EXPECT_TRUE(pane->findNext());
    selectInPane(pane, "<ul class=\"news\">");
    pane->frontButton()->click();
    EXPECT_EQ(dlg.beginEdit()->text(), "<ul class=\"news\">");
    selectInPane(pane, "</ul>");
    pane->backButton()->click();
    EXPECT_EQ(dlg.endEdit()->text(), "</ul>");
    dlg.updatePreview();
    EXPECT_EQ(pane->countLabel()->text(), "列表区域已找到，链接2个");

    // The link pattern from the insert buttons.
    dlg.patternEdit()->setPlainText("<a href=\"");
    dlg.patternEdit()->moveCursor(QTextCursor::End);
    for (auto* b : dlg.findChildren<QPushButton*>())
        if (b->text() == "{DD:采集网址}") b->click();
    dlg.patternEdit()->insertPlainText("\" title=\"");
    dialogs.queueAnswer("列表标题");
    dlg.findChild<QPushButton*>("insertListField")->click();
    dlg.patternEdit()->insertPlainText("\">");
    EXPECT_EQ(shown(dlg.patternEdit()), "<a href=\"{DD:采集网址}\" title=\"{DD:字段=列表标题}\">");

    dlg.findChild<QPushButton*>("testList")->click();
    const std::string out = shown(dlg.testOutput());
    EXPECT_NE(out.find("1. " + server.url("/a/1.html") + "  {列表标题}=第一篇新闻"), std::string::npos) << out;
    EXPECT_NE(out.find("2. " + server.url("/a/2.html") + "  {列表标题}=第二篇新闻"), std::string::npos) << out;
    EXPECT_EQ(out.find("注意："), std::string::npos) << out;
    screenshot(&dlg, "first-task-list.png");

    // A pattern without the address marker is named as the reason links are found automatically.
    dlg.patternEdit()->setPlainText("<a href=\"(*)\">");
    dlg.findChild<QPushButton*>("testList")->click();
    EXPECT_NE(shown(dlg.testOutput()).find("注意：链接规则中没有{DD:采集网址}"), std::string::npos)
        << shown(dlg.testOutput());
}

TEST_F(RulePaneUi, FieldEditorHighlightsWhatTheRuleTakesAndTestsEveryField) {
    app::ListSettingsForm list;
    list.sources = {server.url("/list.html")};
    list.begin = "<ul class=\"news\">";
    list.end = "</ul>";
    const std::string settings = newTask(list);
    const auto doc = *app::ParseSettings(settings);
    const std::string contentRule = doc["fieldsAll"][1].get<std::string>();
    ui::FieldEditorDialog dlg("字段设置", contentRule, settings, 1, ws.folder(), dialogs);
    dlg.resize(1320, 680);
    auto* pane = dlg.sourcePane();
    pane->setAddress(server.url("/a/1.html"));
    pane->load();
    ASSERT_FALSE(pane->shownText().empty());
    dlg.updatePreview();
    EXPECT_EQ(pane->countLabel()->text(), "前边字符在页面中没有找到");

    // The default content rule tested as it is: 内容 is empty, and why.
    dlg.testFields();
    std::string out = shown(dlg.fieldTestOutput());
    EXPECT_NE(out.find("字段[标题]：第一篇新闻\n"), std::string::npos) << out;
    EXPECT_NE(out.find("字段[内容]为空：前边字符在页面中没有找到"), std::string::npos) << out;

    selectInPane(pane, "<div class=\"article\">");
    pane->frontButton()->click();
    selectInPane(pane, "</div>");
    pane->backButton()->click();
    EXPECT_EQ(dlg.form().front, "<div class=\"article\">");
    EXPECT_EQ(dlg.form().back, "</div>");
    dlg.updatePreview();
    EXPECT_EQ(pane->countLabel()->text(), "匹配到1处");
    ASSERT_EQ(pane->view()->extraSelections().size(), 1);
    EXPECT_EQ(pane->view()->extraSelections()[0].cursor.selectedText().trimmed(), "<p>这是第一篇新闻的正文。</p>");

    dlg.testFields();
    out = shown(dlg.fieldTestOutput());
    EXPECT_NE(out.find("字段[内容]：<p>这是第一篇新闻的正文。</p>"), std::string::npos) << out;
    EXPECT_EQ(out.find("为空"), std::string::npos) << out;
    screenshot(&dlg, "first-task-field.png");
}

TEST_F(RulePaneUi, MultiLevelPaneHighlightsTheLevelCut) {
    auto fetch = [](const std::string& url, const std::string& options) { return collect::HttpGet(url, options); };
    ui::MultiLevelDialog dlg("", "", fetch, dialogs);
    auto level = dlg.level();
    level.title = "正文页";
    level.testUrl = server.url("/a/2.html");
    dlg.setLevel(level);
    EXPECT_EQ(dlg.sourcePane()->address(), server.url("/a/2.html"));
    dlg.sourcePane()->load();
    selectInPane(dlg.sourcePane(), "<h1>");
    dlg.sourcePane()->frontButton()->click();
    selectInPane(dlg.sourcePane(), "</h1>");
    dlg.sourcePane()->backButton()->click();
    EXPECT_EQ(dlg.beginEdit()->toPlainText(), "<h1>");
    dlg.updatePreview();
    EXPECT_EQ(dlg.sourcePane()->countLabel()->text(), "匹配到1处");
}

// Single-page mode in the main window, offscreen with real Qt WebEngine: "单页采集" of a loopback
// article shows every field in order on the run log page and opens "Tarvex采集编辑器"; a fetch
// error shows its text and opens no editor; "关闭可视编辑框" skips the editor and frees "单页发布"
// at once; values with CR LF, quotes and entities come back from the editor unchanged unless
// edited; "单页发布" refuses results of another address.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <filesystem>

#include "app/single_page/single_page.h"
#include "main_window_fixture.h"
#include "publish/publish_module.h"
#include "qt_app.h"
#include "support/article_site.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "support/publish_receiver.h"
#include "support/sandbox_workspace.h"
#include "ui/main/main_window.h"
#include "ui/single_page/visual_editor_dialog.h"

using namespace tarvex;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string kEditorFolder = std::string(TARVEX_SOURCE_DIR) + "/demo/workspace/Plugin/kindeditor";

void screenshot(QWidget* w, const char* name) {
    if (const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR")) w->grab().save(QString(dir) + "/" + name);
}

void copyEditorPages(const test::SandboxWorkspace& sandbox) {
    fs::create_directories(sandbox.path("Plugin/kindeditor"));
    fs::copy(kEditorFolder, sandbox.path("Plugin/kindeditor"),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    fs::remove(sandbox.path("Plugin/kindeditor/index2.html"));
}

struct SinglePageUi : test::MainWindowTest {
    test::SandboxWorkspace sandbox;
    test::LocalHttpServer server{test::articleSiteFolder()};
    std::int64_t taskId = 0;

    void SetUp() override {
        test::qtApp();
        copyEditorPages(sandbox);
        taskId = test::addCollectTask(sandbox, "文章", test::articleSiteSettings({server.url("/list/index.html")}));
        ASSERT_NO_FATAL_FAILURE(openWindow(sandbox.folder(), {.singleInstance = false}, {1100, 760}));
    }
    void TearDown() override {
        if (window) window->singlePage().waitIdle(30000);
    }
    void openTask() {
        window->rebuildTaskTree(taskId);
        ASSERT_TRUE(window->openTask(window->taskItem(taskId)));
    }
    ui::TaskSettingsWidget* settings() { return window->settingsWidget(); }
    void setAddress(const std::string& url) {
        settings()->findChild<QLineEdit*>("other_testurl")->setText(QString::fromStdString(url));
    }
    void setCloseEditor(bool on) { settings()->findChild<QCheckBox*>("other_open_editform")->setChecked(on); }
    QStringList fieldLines() {
        QStringList out;
        for (const auto& l : window->runLogPane()->toPlainText().split('\n'))
            if (l.startsWith("{采集字段:")) out << l.left(l.indexOf('}') + 1);
        return out;
    }
};

const QStringList kFieldOrder{"{采集字段:标题}", "{采集字段:正文}", "{采集字段:作者}", "{采集字段:附件}",
                              "{采集字段:镜像}", "{采集字段:评论}", "{采集字段:来源}"};

}  // namespace

TEST_F(SinglePageUi, NothingStartsWithoutAnOpenTask) {
    settings()->singleCollectButton()->click();
    EXPECT_TRUE(dialogs.sawMessage("请先指定一个任务再开始"));
    settings()->singlePublishButton()->click();
    EXPECT_EQ(dialogs.messages().back(), "请先指定一个任务再开始");
    window->runLogPage()->editButton()->click();
    EXPECT_EQ(dialogs.messages().back(), "当前没有采集数据，无法展开编辑界面！");
    EXPECT_TRUE(window->runLogPane()->toPlainText().isEmpty());
}

TEST_F(SinglePageUi, WithTheEditorClosedPublishIsFreeAtOnceAndFieldsShowInOrder) {
    openTask();
    setCloseEditor(true);
    setAddress(server.url("/a/1.html"));
    settings()->singleCollectButton()->click();
    EXPECT_TRUE(settings()->singlePublishButton()->isEnabled());
    EXPECT_EQ(window->singlePage().openEditor(), nullptr);

    ASSERT_TRUE(window->singlePage().waitIdle(30000));
    test::processEvents();
    EXPECT_EQ(fieldLines(), kFieldOrder);
    EXPECT_TRUE(window->runLogPane()->toPlainText().contains("{采集字段:作者}：张三"));
    EXPECT_EQ(window->runLogPage()->label()->text(), "采集结束");
    EXPECT_EQ(window->singlePage().state().status(), app::SinglePageState::Status::Collected);
    EXPECT_EQ(window->pageTabs()->currentWidget(), window->runLogPage());
    screenshot(window.get(), "single_page_main_window.png");
}

TEST_F(SinglePageUi, ASecondPressWhileTheJobRunsStartsNothing) {
    auto slow = test::Reply::html("<h1>慢</h1>");
    slow.delay = std::chrono::milliseconds(1500);
    server.on("/slow.html", slow);
    openTask();
    setCloseEditor(true);
    setAddress(server.url("/slow.html"));
    settings()->singleCollectButton()->click();
    settings()->singleCollectButton()->click();
    EXPECT_EQ(dialogs.messages().back(), ui::SinglePageController::kBusyText);
    ASSERT_TRUE(window->singlePage().waitIdle(30000));
    EXPECT_EQ(window->singlePage().state().values().at(0), (std::pair<std::string, std::string>{"标题", "慢"}));
    EXPECT_EQ(window->runLogPane()->toPlainText().count("{采集字段:标题}"), 1);
}

TEST_F(SinglePageUi, AFetchErrorShowsItsTextAndOpensNoEditor) {
    server.on("/gone.html", test::Reply::withStatus(404, "gone"));
    openTask();
    setAddress(server.url("/gone.html"));
    bool editorSeen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (window->singlePage().openEditor()) {
            editorSeen = true;
            qobject_cast<QDialog*>(window->singlePage().openEditor())->reject();
        }
    });
    watch.start(20);
    settings()->singleCollectButton()->click();  // returns once the job failed
    watch.stop();
    EXPECT_FALSE(editorSeen);
    EXPECT_EQ(window->singlePage().state().status(), app::SinglePageState::Status::Failed);
    EXPECT_TRUE(settings()->singlePublishButton()->isEnabled());
    test::processEvents();
    EXPECT_TRUE(window->runLogPane()->toPlainText().contains(
        QString::fromStdString("抓取网页:" + server.url("/gone.html") + ",返回错误：")))
        << window->runLogPane()->toPlainText().toStdString();
    EXPECT_TRUE(fieldLines().isEmpty());
}

TEST_F(SinglePageUi, TheEditorOpensOnTheResultsAndGivesThemBackUnchanged) {
    openTask();
    setAddress(server.url("/a/1.html"));
    bool closed = false;
    app::FieldValues collected;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* editor = qobject_cast<ui::VisualEditorDialog*>(window->singlePage().openEditor());
        if (!editor || closed || !editor->isLoaded()) return;
        closed = true;
        collected = window->singlePage().state().values();
        test::processEvents(300);
        EXPECT_EQ(editor->windowTitle(), "Tarvex采集编辑器");
        screenshot(editor, "visual_editor.png");
        editor->reject();
    });
    watch.start(50);
    settings()->singleCollectButton()->click();
    watch.stop();
    ASSERT_TRUE(closed) << "the editor did not open";
    EXPECT_TRUE(fs::exists(sandbox.path("Plugin/kindeditor/index2.html")));
    // What the job collected, read back through the page: the same bytes.
    const auto values = window->singlePage().state().values();
    ASSERT_EQ(values.size(), 7u);
    EXPECT_EQ(values[0].second, "第一篇文章");
    EXPECT_EQ(values[2].second, "张三");
    EXPECT_EQ(values, collected);
}

TEST_F(SinglePageUi, PublishTakesOnlyTheResultsOfTheAddressInTheArea) {
    test::PublishReceiver site;
    site.answer("AddInfo", test::PublishReceiver::success());
    ASSERT_TRUE(publish::SaveModule(publish::ModulePath(session->workspace.publishFolder, "site"), site.url(), true,
                                    {{"title", "{采集字段:标题}"}, {"author", "{采集字段:作者}"}}));
    openTask();
    setCloseEditor(true);
    settings()->findChild<QCheckBox*>("other_check_classid")->setChecked(true);
    auto* modules = settings()->findChild<QComboBox*>("PostRuleName");
    modules->setCurrentIndex(modules->findText("site"));
    setAddress(server.url("/a/1.html"));
    settings()->singleCollectButton()->click();
    ASSERT_TRUE(window->singlePage().waitIdle(30000));

    setAddress(server.url("/a/2.html"));
    settings()->singlePublishButton()->click();
    EXPECT_EQ(dialogs.messages().back(), app::kNotCollectedHereText);
    EXPECT_EQ(site.count("AddInfo"), 0u);

    setAddress(server.url("/a/1.html"));
    settings()->singlePublishButton()->click();
    ASSERT_TRUE(window->singlePage().waitIdle(30000));
    ASSERT_EQ(site.count("AddInfo"), 1u);
    EXPECT_EQ(site.posts("AddInfo")[0].field("title"), "第一篇文章");
    EXPECT_EQ(site.posts("AddInfo")[0].field("author"), "张三");
    test::processEvents();
    EXPECT_TRUE(window->runLogPane()->toPlainText().endsWith("发布成功"));
}

TEST(VisualEditorUi, ValuesWithLineBreaksQuotesAndEntitiesSurviveUnlessEdited) {
    test::qtApp();
    test::SandboxWorkspace sandbox;
    copyEditorPages(sandbox);
    const auto ws = sandbox.workspace();
    const app::FieldValues values{
        {"标题", "引号 \"双\" 和 '单' &amp; &lt;b&gt; &nbsp; &copy;"},
        {"内容", "<p>第一段</p>\r\n<p class=\"x\">A &amp; B &lt;tag&gt;</p>\r\n</textarea><script>x()</script>"},
        {"摘要", "第一行\r\n第二行\r\n\r\n第四行"},
        {"空", ""},
        {"开头换行", "\r\n开头"},
    };
    ASSERT_EQ(app::WriteVisualEditorPage(ws, values), "");
    ui::VisualEditorDialog dialog(app::VisualEditorPagePath(ws), values);
    dialog.show();
    ASSERT_TRUE(test::pump([&] { return dialog.isLoaded(); }));
    test::processEvents(300);
    screenshot(&dialog, "visual_editor_content.png");
    auto back = dialog.readValues();
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, values);

    // Edits come back, with the value's CR LF line ends.
    test::runJs(dialog.webView(), "var a = document.getElementsByName('摘要')[0]; a.value = a.value + '\\n追加';");
    test::runJs(dialog.webView(), "editor.quill.insertText(0, '新', 'user');");
    back = dialog.readValues();
    ASSERT_TRUE(back);
    EXPECT_EQ((*back)[2].second, "第一行\r\n第二行\r\n\r\n第四行\r\n追加");
    EXPECT_EQ((*back)[1].second.rfind("<p>新第一段</p>", 0), 0u) << (*back)[1].second;
    EXPECT_EQ((*back)[0].second, values[0].second);
    dialog.reject();
    ASSERT_TRUE(dialog.result());
}

// The short fields get boxes of 20 to 60 px; each shows its whole text without scrolling, a
// one-line value as well as a value with more lines than its box was given.
TEST(VisualEditorUi, ShortFieldsShowTheirWholeText) {
    test::qtApp();
    test::SandboxWorkspace sandbox;
    copyEditorPages(sandbox);
    const auto ws = sandbox.workspace();
    const app::FieldValues values{
        {"标题", "一行的短标题 gjpqy"},
        {"作者", "张三"},
        {"摘要", "第一行\r\n第二行\r\n第三行\r\n第四行"},
        {"内容", "<p>正文</p>"},
    };
    ASSERT_EQ(app::WriteVisualEditorPage(ws, values), "");
    ui::VisualEditorDialog dialog(app::VisualEditorPagePath(ws), values);
    dialog.show();
    ASSERT_TRUE(test::pump([&] { return dialog.isLoaded(); }));
    test::processEvents(200);
    for (const char* name : {"标题", "作者", "摘要"}) {
        const QString script =
            QString("(function(){var a=document.getElementsByName('%1')[0];return [a.scrollHeight,a.clientHeight];})()")
                .arg(name);
        const QVariantList heights = test::runJs(dialog.webView(), script).toList();
        ASSERT_EQ(heights.size(), 2) << name;
        EXPECT_LE(heights[0].toInt(), heights[1].toInt()) << name << ": text taller than its box";
    }
    dialog.reject();
}

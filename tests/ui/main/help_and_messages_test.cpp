// Help where the user is: F1 opens the user guide at the chapter of the window in use, the
// About box names the version, "编辑任务" and Enter open a task. Failure messages carry what to
// check and the error or warning icon; a run pane gets one hint line after a failure. The
// module editor renames only on a double click or F2, and its tag menu works on a selected row.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <regex>

#include "main_window_fixture.h"
#include "publish/publish_module.h"
#include "qt_app.h"
#include "support/article_site.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"
#include "ui/forms/field_editor_dialog.h"
#include "ui/forms/list_settings_dialog.h"
#include "ui/forms/module_editor_dialog.h"
#include "ui/main/help_window.h"
#include "ui/qt/qt_ports.h"
#include "ui/qt/window_fit.h"

using namespace tarvex;
namespace fs = std::filesystem;

namespace {

// Whether a cell of `view` is being edited: its text box is open in the view.
bool editing(QTreeWidget* view) {
    for (auto* e : view->viewport()->findChildren<QLineEdit*>())
        if (e->isVisible()) return true;
    return false;
}

struct HelpUi : test::MainWindowTest {
    test::SandboxWorkspace sandbox;
    std::int64_t taskId = 0;

    void SetUp() override {
        test::qtApp();
        ui::WindowCare::install();
        ASSERT_NO_FATAL_FAILURE(openWindow(sandbox.folder(), {.singleInstance = false}, {1100, 720}));
        taskId = test::addCollectTask(sandbox, "文章", test::articleSiteSettings({"http://127.0.0.1:9/list.html"}));
        window->rebuildTaskTree();
    }
    void TearDown() override {
        if (auto* guide = ui::openGuide()) delete guide;
        closeWindow();
    }
    void pressF1(QWidget* w) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
        test::processEvents(50);
    }
};

}  // namespace

TEST_F(HelpUi, TheHelpMenuOffersTheGuideOnF1AndTheAboutBox) {
    QMenu* help = window->menuBar()->findChild<QMenu*>("helpMenu");
    ASSERT_NE(help, nullptr);
    auto* guide = window->findChild<QAction*>("guideAction");
    ASSERT_NE(guide, nullptr);
    EXPECT_EQ(guide->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_NE(window->findChild<QAction*>("aboutAction"), nullptr);
    guide->trigger();
    test::processEvents();
    ASSERT_NE(ui::openGuide(), nullptr);
    EXPECT_EQ(ui::openGuide()->currentChapter(), "01-first-task.md");
    EXPECT_TRUE(ui::openGuide()->browser()->toPlainText().contains("第一个任务"));

    ui::AboutDialog about(window.get());
    auto* text = about.findChild<QLabel*>("aboutText");
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->text().contains("版本 " + ui::programVersion()));
    EXPECT_FALSE(ui::programVersion().isEmpty());
}

// F1 in a dialog opens the chapter about that dialog, the tab in use included, and the guide
// can be used while the dialog is open (it belongs to the dialog).
TEST_F(HelpUi, F1OpensTheChapterOfTheWindowInUse) {
    ui::ListSettingsDialog list("", {"标题"}, sandbox.folder(), dialogs, window.get());
    list.show();
    test::processEvents();
    pressF1(list.findChild<QLineEdit*>());
    ASSERT_NE(ui::openGuide(), nullptr);
    EXPECT_EQ(ui::openGuide()->currentChapter(), "02-list-rules.md");
    EXPECT_EQ(ui::openGuide()->parentWidget(), &list);

    ui::FieldEditorDialog field("字段设置", "{\"title\":\"标题\"}", "{}", 0, sandbox.folder(), dialogs, window.get());
    field.show();
    field.findChild<QTabWidget*>("fieldTabs")->setCurrentIndex(1);
    test::processEvents();
    pressF1(&field);
    ASSERT_NE(ui::openGuide(), nullptr);
    EXPECT_EQ(ui::openGuide()->currentChapter(), "04-post-processing.md");
}

// Every chapter the program can open is in the guide, with the title the contents list gives.
TEST_F(HelpUi, EveryChapterExistsAndTheIndexLinksToIt) {
    const QString folder = ui::guideFolder();
    ASSERT_FALSE(folder.isEmpty());
    std::ifstream in((folder + "/index.md").toStdString());
    const std::string index((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const auto& c : ui::guideChapters()) {
        EXPECT_TRUE(QFileInfo::exists(folder + "/" + c.file)) << c.file;
        if (std::string(c.file) != "index.md")
            EXPECT_NE(index.find(std::string("](") + c.file + ")"), std::string::npos) << c.file;
    }
}

TEST_F(HelpUi, EditTaskInTheMenuAndEnterOpenTheSelectedTask) {
    auto* edit = window->taskAction("编辑任务");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(window->taskMenu()->actions().first(), edit);

    window->taskTree()->clearSelection();
    window->taskTree()->setCurrentItem(nullptr);
    edit->trigger();
    EXPECT_EQ(dialogs.messages().back(), "请先选定任务，再编辑");
    EXPECT_FALSE(window->isEditing());

    window->taskTree()->setCurrentItem(window->rootItem());
    edit->trigger();
    EXPECT_EQ(dialogs.messages().back(), "根目录无法执行此操作");
    EXPECT_FALSE(window->isEditing());

    window->taskTree()->setCurrentItem(window->taskItem(taskId));
    edit->trigger();
    EXPECT_TRUE(window->isEditing());
    EXPECT_EQ(session->state->currentTaskId.load(), taskId);
    window->cancelEdit();

    window->taskTree()->setCurrentItem(window->taskItem(taskId));
    window->taskTree()->setFocus();
    QTest::keyClick(window->taskTree(), Qt::Key_Return);
    EXPECT_TRUE(window->isEditing());
    window->cancelEdit();
}

TEST(FailureMessages, SayWhatToCheckAndShowTheErrorOrWarningIcon) {
    const std::string refused = "访问异常：Failed to connect to 127.0.0.1 port 9 after 0 ms: Connection refused";
    const QString shown = ui::messageBoxText(refused);
    EXPECT_TRUE(shown.startsWith("无法连接到网站。请检查网址")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("\n技术信息：" + QString::fromStdString(refused))) << shown.toStdString();
    EXPECT_EQ(ui::messageIcon(refused), QMessageBox::Critical);
    EXPECT_EQ(ui::messageIcon("请先选定任务，再编辑"), QMessageBox::Warning);
    EXPECT_EQ(ui::messageIcon("执行完成"), QMessageBox::Information);
    // CR line breaks of the core become line breaks of the box.
    EXPECT_EQ(ui::messageBoxText("发布异常，返回:\rfail|x"), "发布异常，返回:\nfail|x");
}

TEST_F(HelpUi, ARunPaneShowsTheHintOnceAfterRepeatedFailures) {
    const std::string line = "抓取网页:http://127.0.0.1:9/a.html,返回错误：Failed to connect to 127.0.0.1 port 9";
    window->appendPane(1, "");
    window->appendPane(1, line);
    window->appendPane(1, line);
    window->appendPane(1, "正在采集内容页：http://127.0.0.1:9/b.html");
    test::processEvents();
    const QStringList lines = window->slotPage(1)->pane()->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 4) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0].toStdString(), line);
    EXPECT_TRUE(lines[1].startsWith("提示：无法连接到网站。")) << lines[1].toStdString();
    EXPECT_EQ(lines[2].toStdString(), line);
    EXPECT_TRUE(lines[3].startsWith("正在采集内容页"));
}

// A click on the selected row does not start renaming (a double click or F2 does), and a right
// click then opens the tag menu for that row, whose tag lands in it.
TEST(ModuleEditorRows, RenameOnlyOnDoubleClickOrF2AndTagMenuOnTheSelectedRow) {
    test::qtApp();
    test::SandboxWorkspace sandbox;
    test::ScriptedDialogs dialogs;
    const std::string folder = sandbox.workspace().publishFolder;
    ASSERT_TRUE(publish::SaveModule(publish::ModulePath(folder, "cms"), "http://127.0.0.1:9/", true,
                                    {{"title", "{采集字段:标题}"}, {"source", ""}}));
    ui::ModuleEditorDialog dlg(folder, "cms", {"标题", "内容"}, dialogs);
    dlg.resize(900, 560);
    dlg.show();
    test::processEvents();
    QTreeWidget* rows = dlg.fieldList();
    QTreeWidgetItem* second = rows->topLevelItem(1);
    const QPoint cell = rows->visualItemRect(second).center() + QPoint(rows->columnWidth(0) + 20, 0);
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, cell);
    test::processEvents(QApplication::doubleClickInterval() + 100);
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, cell);
    test::processEvents(QApplication::doubleClickInterval() + 100);
    EXPECT_FALSE(editing(rows)) << "a click on a selected row started renaming";

    // The context menu appears for the row under the mouse.
    emit rows->customContextMenuRequested(cell);
    test::processEvents();
    EXPECT_TRUE(dlg.fieldMenu()->isVisible());
    EXPECT_EQ(rows->currentItem(), second);
    for (auto* a : dlg.fieldMenu()->actions())
        if (a->text() == "来源网址") a->trigger();
    dlg.fieldMenu()->hide();
    // The list is drawn again after a tag is appended.
    second = rows->topLevelItem(1);
    EXPECT_EQ(second->text(2), "{dd:网址}");

    rows->setCurrentItem(second, 1);
    rows->setFocus();
    QTest::keyClick(rows, Qt::Key_F2);
    EXPECT_TRUE(editing(rows)) << "F2 did not start renaming";
}

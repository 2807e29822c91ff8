// The main window shell on a sandbox workspace: caption, root node, run list columns, hidden
// slot pages, close hiding to the tray or (without a tray) ending the program, slot status
// reaching the widgets in order.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <thread>

#include "main_window_fixture.h"
#include "qt_app.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;

namespace {
struct Shell : test::MainWindowTest {
    test::SandboxWorkspace sandbox;

    void SetUp() override { ASSERT_NO_FATAL_FAILURE(openWindow(sandbox.folder())); }
};
}  // namespace

TEST_F(Shell, ShowsTheShellOfTheProgram) {
    EXPECT_EQ(window->windowTitle(), "Tarvex采集器");
    ASSERT_NE(window->rootItem(), nullptr);
    EXPECT_EQ(window->rootItem()->text(0), "本地任务");
    EXPECT_EQ(window->rootItem()->data(0, Qt::UserRole).toInt(), -2);

    QStringList headers;
    auto* header = window->runList()->headerItem();
    for (int i = 0; i < header->columnCount(); ++i) headers << header->text(i);
    EXPECT_EQ(headers, (QStringList{"序", "任务名", "执行状态", "列表", "内容", "发布"}));

    for (int slot = 1; slot <= 5; ++slot) {
        EXPECT_FALSE(window->isSlotPageVisible(slot)) << slot;
        auto* page = window->slotPage(slot);
        EXPECT_EQ(page->objectName(), QString("GetSheet%1").arg(slot));
        EXPECT_EQ(page->label(1)->text(), "运行状态：");
        EXPECT_EQ(page->label(2)->text(), "附件状态：");
        EXPECT_NE(page->findChild<QProgressBar*>("ProgressBarGet" + QString::number(slot) + "2"), nullptr);
    }
    EXPECT_EQ(window->pageTabs()->currentWidget(), window->runLogPage());
    EXPECT_FALSE(window->startButton()->isEnabled());
    EXPECT_FALSE(window->pauseButton()->isEnabled());
    EXPECT_FALSE(window->stopButton()->isEnabled());

    auto menu = window->trayIcon()->contextMenu()->actions();
    ASSERT_GE(menu.size(), 2);
    EXPECT_EQ(menu[0]->text(), "还原界面");
    EXPECT_EQ(menu[1]->text(), "关闭程序");
}

TEST_F(Shell, WithATrayCloseHidesTheWindowAndTheProgramGoesOn) {
    window->setTrayAvailable(true);
    QCloseEvent ev;
    QApplication::sendEvent(window.get(), &ev);
    EXPECT_FALSE(ev.isAccepted());
    test::processEvents();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(session->state->closing.load());
    EXPECT_EQ(window->findChild<QPushButton*>("closeToTrayButton")->text(), "关闭到右下任务栏");

    window->showFromTray();
    test::processEvents();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
}

TEST_F(Shell, WithoutATrayCloseEndsTheProgram) {
    // Nothing runs, so nothing is asked.
    window->setTrayAvailable(false);
    EXPECT_EQ(window->findChild<QPushButton*>("closeToTrayButton")->text(), "关闭程序");
    QCloseEvent ev;
    QApplication::sendEvent(window.get(), &ev);
    EXPECT_TRUE(ev.isAccepted());
    EXPECT_TRUE(session->state->closing.load());
}

TEST_F(Shell, SlotStatusFromWorkerThreadsArrivesInOrder) {
    window->setSlotPageVisible(2, true);
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) window->slotModel().appendPane(2, "line " + std::to_string(i));
        window->slotModel().setLabel(2, 1, "运行状态：正在采集");
        window->slotModel().setProgressRange(2, 1, 0, 40);
        window->slotModel().setProgress(2, 1, 17);
    });
    worker.join();
    test::processEvents(100);
    auto* page = window->slotPage(2);
    QStringList lines = page->pane()->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 200);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(lines[i], QString("line %1").arg(i));
    EXPECT_EQ(page->label(1)->text(), "运行状态：正在采集");
    EXPECT_EQ(page->bar(1)->maximum(), 40);
    EXPECT_EQ(page->bar(1)->value(), 17);
}

TEST_F(Shell, ExitSetsTheClosingFlag) {
    window->exitProgram();
    EXPECT_TRUE(session->state->closing.load());
}

// With TARVEX_SCREENSHOT_DIR set, saves a picture of the shell for a person to look at.
TEST_F(Shell, ScreenshotOnRequest) {
    const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR");
    if (!dir) GTEST_SKIP() << "set TARVEX_SCREENSHOT_DIR to save a screenshot";
    window->setSlotPageVisible(1, true);
    window->slotModel().appendPane(1, "新建线程：当前任务ID:1");
    window->slotModel().appendPane(0, "窗口初始化完成");
    window->pageTabs()->setCurrentIndex(0);
    test::processEvents(200);
    EXPECT_TRUE(window->grab().save(QString(dir) + "/main_window.png"));
}

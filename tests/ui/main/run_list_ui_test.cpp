// The run list in the main window, driven through its buttons: add a task, start, pause,
// resume, stop, remove; the button table and the slot page follow; closing the window without
// a tray while a task runs.
#include <gtest/gtest.h>

#include <QCloseEvent>

#include "main_window_fixture.h"
#include "qt_app.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using namespace std::chrono_literals;

namespace {
struct RunListUi : test::MainWindowTest {
    test::SandboxWorkspace sandbox;
    std::int64_t taskId = 0;

    void SetUp() override {
        test::qtApp();
        taskId = test::addSlowDirectTask(sandbox, "界面任务");
        ASSERT_NO_FATAL_FAILURE(openWindow(sandbox.folder()));
    }

    void TearDown() override { closeWindow(); }

    QString state() { return window->runList()->topLevelItem(0)->text(2); }
    bool waitState(const QString& s) {
        return test::waitFor(
            [&] {
                test::processEvents(20);
                return window->runList()->topLevelItemCount() > 0 && state() == s;
            },
            20s);
    }
};
}  // namespace

TEST_F(RunListUi, ButtonsDriveARunThroughItsStates) {
    window->taskTree()->setCurrentItem(window->taskItem(taskId));
    ASSERT_TRUE(window->addSelectedTaskToRunList());
    test::processEvents();
    auto* list = window->runList();
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "1");
    EXPECT_EQ(list->topLevelItem(0)->text(1), "界面任务");
    EXPECT_EQ(state(), "等待运行");
    EXPECT_EQ(list->topLevelItem(0)->checkState(3), Qt::Checked);
    EXPECT_TRUE(window->isSlotPageVisible(1));
    EXPECT_EQ(window->pageTabs()->tabText(0), "界面任务");

    // Nothing selected: every button off. A selected waiting row can start.
    EXPECT_FALSE(window->startButton()->isEnabled());
    window->runListWidget()->selectRow(0);
    test::processEvents();
    EXPECT_TRUE(window->startButton()->isEnabled());
    EXPECT_FALSE(window->pauseButton()->isEnabled());
    EXPECT_EQ(window->startButton()->text(), "开始运行");

    window->startButton()->click();
    ASSERT_TRUE(waitState("正在运行"));
    EXPECT_FALSE(window->startButton()->isEnabled());
    EXPECT_TRUE(window->pauseButton()->isEnabled());
    EXPECT_TRUE(window->stopButton()->isEnabled());
    ASSERT_TRUE(test::waitFor(
        [&] {
            test::processEvents(20);
            return window->slotPage(1)->pane()->toPlainText().contains("采集列表进度");
        },
        20s))
        << window->slotPage(1)->pane()->toPlainText().toStdString();

    window->pauseButton()->click();
    ASSERT_TRUE(waitState("暂停运行"));
    EXPECT_EQ(window->startButton()->text(), "继续运行");
    EXPECT_TRUE(window->startButton()->isEnabled());
    EXPECT_FALSE(window->pauseButton()->isEnabled());
    ASSERT_TRUE(test::waitFor([&] {
        test::processEvents(20);
        return window->slotPage(1)->pane()->toPlainText().contains("任务暂停");
    }));

    window->startButton()->click();  // resume
    ASSERT_TRUE(waitState("正在运行"));
    EXPECT_EQ(window->startButton()->text(), "开始运行");

    // A running row cannot be removed; after the stop it can, and its page goes away.
    window->runListWidget()->removeSelected();
    EXPECT_TRUE(dialogs.sawMessage("任务未停止，请停止后关闭！"));
    window->stopButton()->click();
    ASSERT_TRUE(waitState("停止运行"));
    EXPECT_TRUE(window->startButton()->isEnabled());
    EXPECT_EQ(session->state->GetSlotField(1, 4), "0");
    ASSERT_TRUE(test::waitFor([&] {
        test::processEvents(20);
        return window->slotPage(1)->pane()->toPlainText().contains("任务已完成");
    }));
    window->runListWidget()->removeSelected();
    test::processEvents();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_FALSE(window->isSlotPageVisible(1));
    EXPECT_EQ(session->state->GetSlotField(1, 2), "0");
}

TEST_F(RunListUi, ClosingAWaitingTasksPageRemovesItsRow) {
    window->taskTree()->setCurrentItem(window->taskItem(taskId));
    ASSERT_TRUE(window->addSelectedTaskToRunList());
    test::processEvents();
    emit window->pageTabs()->tabCloseRequested(0);
    test::processEvents();
    EXPECT_EQ(window->runList()->topLevelItemCount(), 0);
    EXPECT_FALSE(window->isSlotPageVisible(1));
    EXPECT_EQ(window->pageTabs()->currentWidget(), window->runLogPage());
}

TEST_F(RunListUi, WithoutATrayClosingAsksWhileATaskRunsThenStopsIt) {
    window->setTrayAvailable(false);
    auto& runs = window->runListModel();
    ASSERT_TRUE(runs.AddToRunList(taskId, "界面任务"));
    ASSERT_TRUE(runs.StartRun(0));
    ASSERT_TRUE(test::waitFor([&] { return session->state->GetSlotField(1, 4) == "1"; }));

    // "No": the window stays and the run goes on.
    dialogs.queueConfirm(false);
    QCloseEvent refused;
    QApplication::sendEvent(window.get(), &refused);
    EXPECT_FALSE(refused.isAccepted());
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].kind, "confirm");
    EXPECT_FALSE(session->state->closing.load());
    EXPECT_EQ(runs.rows()[0].state, app::kStateRunning);

    // "Yes": the program ends the way "关闭程序" does; the run stops and is waited for.
    dialogs.queueConfirm(true);
    QCloseEvent accepted;
    QApplication::sendEvent(window.get(), &accepted);
    EXPECT_TRUE(accepted.isAccepted());
    EXPECT_TRUE(session->state->closing.load());
    EXPECT_TRUE(app::CloseBackgroundWork(*session->state, app::ThreadRegistry::global(), 10s));
    EXPECT_EQ(runs.rows()[0].state, app::kStateStopped);
    EXPECT_EQ(session->state->GetSlotField(1, 4), "0");
}

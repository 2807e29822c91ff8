// The run list in the main window, driven through its buttons: add a task, start, pause,
// resume, stop, remove; the button table and the slot page follow.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/catalogue.h"
#include "app/stored_rules.h"
#include "collect/task_db.h"
#include "qt_app.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"
#include "support/stop_runs.h"
#include "ui/main_window.h"

using namespace tarvex;
using namespace std::chrono_literals;

namespace {
struct RunListUi : ::testing::Test {
    test::SandboxWorkspace sandbox;
    test::ScriptedDialogs dialogs;
    std::unique_ptr<app::Session> session;
    std::unique_ptr<ui::MainWindow> window;
    std::int64_t taskId = 0;

    void SetUp() override {
        test::qtApp();
        // A direct-mode task whose 40 addresses go in one by one, slowly enough to pause.
        std::vector<std::string> urls;
        for (int i = 0; i < 3000; ++i) urls.push_back("http://127.0.0.1:9/p/" + std::to_string(i));
        nlohmann::json list{{"More_urls", urls}};
        nlohmann::json doc{{"Morepage", list.dump()}, {"other_time1", "150"}, {"other_time2", "0"}};
        auto ws = sandbox.workspace();
        taskId = app::InsertTaskRow(ws, 0, "界面任务", app::StoreRules(doc.dump()));
        ASSERT_TRUE(collect::CreateTaskDb(ws.taskDbPath(taskId), dialogs));
        collect::CreateContentTables(ws.taskDbPath(taskId), doc.dump());

        auto started = app::startProcess(sandbox.folder(), dialogs);
        ASSERT_EQ(started.status, app::StartStatus::Started);
        session = std::move(started.session);
        window = std::make_unique<ui::MainWindow>(*session, nullptr, &dialogs);
        window->show();
        test::processEvents();
    }

    void TearDown() override {
        if (session) test::stopAllRuns(*session->state, app::ThreadRegistry::global());
        test::processEvents();
        window.reset();
    }

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
    EXPECT_EQ(window->pageTabs()->currentWidget(), window->runLogPane());
}

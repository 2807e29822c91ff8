// The scheduler on the desktop: the thread the main window starts hands a queued task to the run
// list on the UI thread; "添加到任务队列", "等待运行的任务" and "计划任务设置" driven through their
// controls.
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <nlohmann/json.hpp>

#include "app/tasks/catalogue.h"
#include "app/tasks/stored_rules.h"
#include "collect/task_db.h"
#include "main_window_fixture.h"
#include "qt_app.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"
#include "ui/main/main_window.h"

using namespace tarvex;
using namespace std::chrono_literals;

namespace {

struct SchedulerUi : test::MainWindowTest {
    test::SandboxWorkspace sandbox;
    std::map<std::string, std::int64_t> ids;

    void SetUp() override {
        test::qtApp();
        // Tasks with nothing to collect: a run starts and ends at once.
        const nlohmann::json doc{{"other_time1", "0"}, {"other_time2", "0"}};
        auto ws = sandbox.workspace();
        for (const char* name : {"新闻", "体育", "财经"}) {
            const auto id = app::InsertTaskRow(ws, 0, name, app::StoreRules(doc.dump()));
            ASSERT_TRUE(collect::CreateTaskDb(ws.taskDbPath(id), dialogs));
            collect::CreateContentTables(ws.taskDbPath(id), doc.dump());
            ids[name] = id;
        }
        ASSERT_NO_FATAL_FAILURE(openWindow(sandbox.folder()));
    }
    void TearDown() override {
        app::ThreadRegistry::global().waitAll(30s);
        window.reset();
        test::processEvents();
    }
    ui::AddToQueueDialog* queueDialog(const std::string& name) {
        window->taskTree()->setCurrentItem(window->taskItem(ids.at(name)));
        auto* d = window->addSelectedTaskToQueue();
        test::processEvents();
        return d;
    }
    void clickOk(ui::AddToQueueDialog* d) {
        for (auto* b : d->findChild<QDialogButtonBox*>()->buttons())
            if (b->text() == "确定") b->click();
        test::processEvents();
    }
};

TEST_F(SchedulerUi, AQueuedTaskIsStartedByTheSchedulerThroughTheRunList) {
    EXPECT_FALSE(window->queueButton()->isVisible());
    auto* d = queueDialog("体育");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->windowTitle(), "添加到任务队列");
    for (int s = 0; s < 3; ++s) EXPECT_TRUE(d->stageBox(s)->isChecked());
    d->stageBox(0)->setChecked(false);
    d->stageBox(2)->setChecked(false);
    clickOk(d);
    EXPECT_TRUE(window->queueButton()->isVisible());

    // The scheduler thread (a pass every 500 ms) adds the row and starts it; the run ends at once.
    ASSERT_TRUE(test::pump([&] {
        auto* list = window->runList();
        return list->topLevelItemCount() == 1 && list->topLevelItem(0)->text(2) == "停止运行";
    })) << window->runList()->topLevelItemCount();
    auto* row = window->runList()->topLevelItem(0);
    EXPECT_EQ(row->text(1), "体育");
    EXPECT_EQ(row->checkState(3), Qt::Unchecked);
    EXPECT_EQ(row->checkState(4), Qt::Checked);
    EXPECT_EQ(row->checkState(5), Qt::Unchecked);
    EXPECT_TRUE(window->isSlotPageVisible(1));
    EXPECT_EQ(window->pageTabs()->tabText(0), "体育");

    auto* w = window->showWaitingQueue();
    EXPECT_EQ(w->waitingList()->count(), 0);
    ASSERT_EQ(w->ranList()->count(), 1);
    EXPECT_TRUE(w->ranList()->item(0)->text().endsWith(" " + QString::number(ids["体育"]) + ",体育"));
}

TEST_F(SchedulerUi, TheQueueDialogRefusesNoStepAndATaskQueuedTwice) {
    // Fill the run list so queued entries stay queued.
    for (const char* name : {"新闻", "体育", "财经"}) {
        window->taskTree()->setCurrentItem(window->taskItem(ids[name]));
        ASSERT_TRUE(window->addSelectedTaskToRunList());
    }
    auto* d = queueDialog("新闻");
    for (int s = 0; s < 3; ++s) d->stageBox(s)->setChecked(false);
    clickOk(d);
    EXPECT_TRUE(dialogs.sawMessage("至少勾选一个操作步聚"));
    EXPECT_TRUE(d->isVisible());
    d->stageBox(1)->setChecked(true);
    clickOk(d);
    EXPECT_TRUE(d->queued());
    auto* again = queueDialog("新闻");
    clickOk(again);
    EXPECT_TRUE(dialogs.sawMessage("已在任务队例！"));
    clickOk(queueDialog("体育"));
    clickOk(queueDialog("财经"));

    auto* w = window->showWaitingQueue();
    EXPECT_EQ(w->windowTitle(), "等待运行的任务");
    auto entries = [&] {
        QStringList out;
        for (int r = 0; r < w->waitingList()->count(); ++r) out << w->waitingList()->item(r)->text();
        return out;
    };
    const QString n = QString::number(ids["新闻"]) + ",新闻", t = QString::number(ids["体育"]) + ",体育",
                  c = QString::number(ids["财经"]) + ",财经";
    EXPECT_EQ(entries(), (QStringList{n, t, c}));
    w->waitingList()->setCurrentRow(2);
    w->moveUp();
    EXPECT_EQ(entries(), (QStringList{n, c, t}));
    EXPECT_EQ(w->waitingList()->currentRow(), 1);
    w->waitingList()->setCurrentRow(0);
    w->moveUp();  // the first entry stays first
    EXPECT_EQ(entries(), (QStringList{n, c, t}));
    w->moveDown();
    EXPECT_EQ(entries(), (QStringList{c, n, t}));
    w->waitingList()->setCurrentRow(1);
    w->deleteSelected();
    EXPECT_EQ(entries(), (QStringList{c, t}));
    EXPECT_EQ(app::WaitingTasks(*session->state), (std::vector<std::string>{c.toStdString(), t.toStdString()}));
}

TEST_F(SchedulerUi, TheScheduleDialogEditsTheTimetable) {
    auto* d = window->showScheduleDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->windowTitle(), "计划任务设置");
    EXPECT_FALSE(d->editorPanel()->isVisible());
    EXPECT_TRUE(d->button("开始任务")->isEnabled());
    EXPECT_FALSE(d->button("停止任务")->isEnabled());

    d->button("新建任务")->click();
    EXPECT_TRUE(d->editorPanel()->isVisible());
    EXPECT_EQ(d->hoursBox()->text(), "8,12,23");
    d->button("获取任务")->click();
    EXPECT_TRUE(dialogs.sawMessage("请先选定一个任务"));
    QTreeWidgetItem* node = nullptr;
    for (QTreeWidgetItemIterator it(d->taskTree()); *it; ++it)
        if ((*it)->text(0) == "财经") node = *it;
    ASSERT_NE(node, nullptr);
    d->taskTree()->setCurrentItem(node);
    d->button("获取任务")->click();
    const QString key = QString::number(ids["财经"]) + ",财经";
    EXPECT_EQ(d->taskNameBox()->text(), key);
    d->daysBox()->setText("15,1,15");
    d->stageBox(2)->setChecked(false);
    d->button("保存任务")->click();
    EXPECT_TRUE(dialogs.sawMessage("分钟数不能为空"));
    EXPECT_EQ(d->daysBox()->text(), "1,15");
    d->minuteList()->item(30)->setSelected(true);
    d->minuteList()->item(5)->setSelected(true);
    d->button("保存任务")->click();
    EXPECT_FALSE(d->editorPanel()->isVisible());
    EXPECT_EQ(app::ReadScheduleFile(sandbox.workspace().autotaskFile).value(),
              (std::vector<std::string>{key.toStdString() + "|1,1,0|5,30|1,15||8,12,23"}));
    ASSERT_EQ(d->scheduleList()->topLevelItemCount(), 1);
    EXPECT_EQ(d->scheduleList()->topLevelItem(0)->text(2), "5,30");

    // Selecting the row opens it; a days text with a letter is refused as typed.
    d->scheduleList()->setCurrentItem(d->scheduleList()->topLevelItem(0));
    EXPECT_TRUE(d->editorPanel()->isVisible());
    EXPECT_TRUE(d->minuteList()->item(30)->isSelected());
    EXPECT_FALSE(d->stageBox(2)->isChecked());
    d->weekdaysBox()->setText("1,a");
    d->button("保存任务")->click();
    EXPECT_TRUE(dialogs.sawMessage("1,a   中,包含非数字"));
    d->weekdaysBox()->setText("7");
    d->button("保存任务")->click();
    EXPECT_EQ(app::ReadScheduleFile(sandbox.workspace().autotaskFile).value(),
              (std::vector<std::string>{key.toStdString() + "|1,1,0|5,30|1,15|7|8,12,23"}));

    d->button("开始任务")->click();
    EXPECT_TRUE(session->state->scheduling.load());
    EXPECT_FALSE(d->button("开始任务")->isEnabled());
    EXPECT_TRUE(d->button("停止任务")->isEnabled());
    d->button("停止任务")->click();
    EXPECT_FALSE(session->state->scheduling.load());

    d->scheduleList()->clearSelection();
    d->button("删除任务")->click();
    EXPECT_TRUE(dialogs.sawMessage("请选选中一个任务后，再删除！"));
    d->scheduleList()->setCurrentItem(d->scheduleList()->topLevelItem(0));
    d->button("删除任务")->click();
    EXPECT_EQ(d->scheduleList()->topLevelItemCount(), 0);
    EXPECT_TRUE(app::ReadScheduleFile(sandbox.workspace().autotaskFile).value().empty());
}

// With TARVEX_SCREENSHOT_DIR set, saves pictures of the three windows.
TEST_F(SchedulerUi, ScreenshotOnRequest) {
    const char* dir = std::getenv("TARVEX_SCREENSHOT_DIR");
    if (!dir) GTEST_SKIP() << "set TARVEX_SCREENSHOT_DIR to save screenshots";
    ASSERT_TRUE(app::WriteScheduleFile(sandbox.workspace().autotaskFile,
                                       {std::to_string(ids["新闻"]) + ",新闻|1,1,1|0,30||1,2,3,4,5|8,12,23",
                                        std::to_string(ids["体育"]) + ",体育|1,1,0|15|1,15||"}));
    auto* d = window->showScheduleDialog();
    d->scheduleList()->setCurrentItem(d->scheduleList()->topLevelItem(0));
    test::processEvents(200);
    EXPECT_TRUE(d->grab().save(QString(dir) + "/schedule_dialog.png"));
    auto* q = queueDialog("财经");
    test::processEvents(100);
    EXPECT_TRUE(q->grab().save(QString(dir) + "/add_to_queue.png"));
    q->reject();
    for (const char* name : {"新闻", "体育", "财经"}) {
        window->taskTree()->setCurrentItem(window->taskItem(ids[name]));
        window->addSelectedTaskToRunList();
    }
    app::AddToWaitingQueue(*session->state, dialogs, ids["财经"], "财经", {true, true, true});
    app::AddToWaitingQueue(*session->state, dialogs, ids["新闻"], "新闻", {true, true, true});
    {
        std::lock_guard<std::mutex> g(session->state->slotRecordLock());
        session->state->ranList.push_back("2024-06-03 08:00:00 " + std::to_string(ids["体育"]) + ",体育");
    }
    auto* w = window->showWaitingQueue();
    test::processEvents(200);
    EXPECT_TRUE(w->grab().save(QString(dir) + "/waiting_queue.png"));
    test::processEvents(100);
    EXPECT_TRUE(window->grab().save(QString(dir) + "/main_window_queue.png"));
}

}  // namespace

// The scheduler: the due test over a hand-set clock, the once-per-minute rule under 500 ms
// passes, lines it must skip, the waiting queue, and a queued task that waits for a full run
// list to free a row.
#include "app/schedule/scheduler.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/schedule/schedule_forms.h"
#include "collect/task_db.h"
#include "platform/run_log.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"
#include "support/stop_runs.h"

using namespace tarvex;
using namespace std::chrono_literals;
using test::ManualClock;

namespace {

struct DueCase {
    const char* line;
    int y, mo, d, h, mi;
    bool due;
};

// 2024-06-02 was a Sunday, 2024-06-03 a Monday.
const DueCase kDueCases[] = {
    {"1,新闻|1,1,1|0|||8,12,23", 2024, 6, 3, 8, 0, true},
    {"1,新闻|1,1,1|0|||8,12,23", 2024, 6, 3, 12, 0, true},
    {"1,新闻|1,1,1|0|||8,12,23", 2024, 6, 3, 23, 0, true},
    {"1,新闻|1,1,1|0|||8,12,23", 2024, 6, 3, 8, 1, false},
    {"1,新闻|1,1,1|0|||8,12,23", 2024, 6, 3, 9, 0, false},
    {"1,新闻|1,1,1|15|||", 2024, 6, 3, 3, 15, true},
    {"1,新闻|1,1,1|15|||", 2024, 6, 3, 17, 15, true},
    {"1,新闻|1,1,1|15|||", 2024, 6, 3, 17, 16, false},
    {"1,新闻|1,1,1|0,30||7|", 2024, 6, 2, 10, 30, true},  // Sunday is 7
    {"1,新闻|1,1,1|0,30||7|", 2024, 6, 3, 10, 30, false},
    {"1,新闻|1,1,1|0,30||1|", 2024, 6, 3, 10, 30, true},  // Monday is 1
    {"1,新闻|1,1,1|0,30||1|", 2024, 6, 2, 10, 30, false},
    {"1,新闻|1,1,1|5|1,15||", 2024, 6, 15, 6, 5, true},
    {"1,新闻|1,1,1|5|1,15||", 2024, 6, 16, 6, 5, false},
    {"1,新闻|1,1,1||||", 2024, 6, 16, 6, 7, true},          // no minutes: every minute
    {"1,新闻|1,1,1|x|||", 2024, 6, 16, 6, 7, false},        // not numbers: never
    {"1,新闻|1,0,0|临时任务|||", 2024, 6, 16, 6, 7, true},  // a queue entry is always due
};

class DueTable : public ::testing::TestWithParam<DueCase> {};

TEST_P(DueTable, MatchesTheClock) {
    const auto& c = GetParam();
    ManualClock clock(ManualClock::local(c.y, c.mo, c.d, c.h, c.mi, 30));
    EXPECT_EQ(app::IsScheduleDue(app::ScheduleLine::parse(c.line), app::LocalTime(clock.now())), c.due)
        << c.line << " at " << c.d << " " << c.h << ":" << c.mi;
}
INSTANTIATE_TEST_SUITE_P(Schedule, DueTable, ::testing::ValuesIn(kDueCases));

TEST(NumberLists, AreNormalisedOrRefused) {
    struct {
        const char* in;
        const char* out;
        const char* error;
    } cases[] = {
        {"15,1,15", "1,15", ""},
        {"", "", ""},
        {"23, 8,12", "8,12,23", ""},
        {"1,a", "1,a", "1,a   中,包含非数字"},
        {"1,,2", "1,,2", "1,,2   中,包含非数字"},
    };
    for (const auto& c : cases) {
        auto r = app::NormaliseNumberList(c.in);
        EXPECT_EQ(r.text, c.out) << c.in;
        EXPECT_EQ(r.error, c.error) << c.in;
    }
}

// Records what the scheduler asks of the run list and answers from a script.
struct FakePort final : app::SchedulerPort {
    std::vector<std::string> calls;
    bool full = false;
    std::optional<std::string> stopped;
    std::optional<std::string> removeStoppedRow(const std::string&) override {
        calls.push_back("remove");
        auto r = stopped;
        stopped.reset();
        return r;
    }
    bool canStart(std::int64_t, const std::string&) override { return !full; }
    bool addToRunList(std::int64_t id, const std::string& name, const std::array<bool, 3>& s) override {
        calls.push_back("add " + std::to_string(id) + "," + name + " " + app::StageFlagsText(s));
        return true;
    }
    bool startRow(std::int64_t id, const std::string& name) override {
        calls.push_back("start " + std::to_string(id) + "," + name);
        return true;
    }
    int starts() const {
        return static_cast<int>(
            std::count_if(calls.begin(), calls.end(), [](auto& c) { return c.rfind("start", 0) == 0; }));
    }
};

struct SchedulerFixture : ::testing::Test {
    test::SandboxWorkspace sandbox{{.withLog = true}};
    test::ScriptedDialogs dialogs;
    app::ProcessState state{&dialogs};
    ManualClock clock{ManualClock::local(2024, 6, 3, 7, 59, 0)};
    FakePort port;
    std::set<std::int64_t> ids{1, 2, 3, 4};

    void SetUp() override { platform::InitLog(sandbox.folder(), true, true); }
    void TearDown() override { platform::CloseLog(); }

    app::Scheduler make(app::SchedulerPort* p = nullptr) {
        app::SchedulerServices s;
        s.workspace = sandbox.workspace();
        s.state = &state;
        s.port = p ? p : &port;
        s.clock = &clock;
        s.taskIds = [this] { return std::optional<std::set<std::int64_t>>(ids); };
        return app::Scheduler(s);
    }
    void timetable(const std::vector<std::string>& lines) {
        ASSERT_TRUE(app::WriteScheduleFile(sandbox.workspace().autotaskFile, lines));
    }
    std::string log() const { return test::readWholeFile(platform::RunLog::global().filePath()); }
    static std::size_t occurrences(const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
        return n;
    }
};

TEST_F(SchedulerFixture, StartsOncePerMinuteThoughItLooksEvery500ms) {
    timetable({"1,新闻|1,1,0|0|||8,12"});
    state.scheduling = true;
    auto scheduler = make();
    // 07:59:00 to 08:02:00 in steps of half a second.
    for (int i = 0; i < 360; ++i) {
        scheduler.pass();
        clock.advance(500ms);
    }
    EXPECT_EQ(port.starts(), 1);
    EXPECT_NE(std::find(port.calls.begin(), port.calls.end(), "add 1,新闻 1,1,0"), port.calls.end());
    clock.set(ManualClock::local(2024, 6, 3, 12, 0, 59));
    scheduler.pass();
    scheduler.pass();
    EXPECT_EQ(port.starts(), 2);
}

TEST_F(SchedulerFixture, SwitchedOffTheTimetableIsNotReadButTheQueueStarts) {
    timetable({"1,新闻|1,1,1||||"});
    auto scheduler = make();
    EXPECT_EQ(scheduler.pass(), 0);
    EXPECT_TRUE(port.calls.empty());

    ASSERT_TRUE(app::AddToWaitingQueue(state, dialogs, 2, " 体育 ", {true, false, true}));
    EXPECT_EQ(scheduler.pass(), 1);
    EXPECT_EQ(port.calls.back(), "start 2,体育");
    EXPECT_TRUE(state.waitingQueue.empty());
    ASSERT_EQ(state.ranList.size(), 1u);
    EXPECT_EQ(state.ranList[0], "2024-06-03 07:59:00 2,体育");
}

TEST_F(SchedulerFixture, AStoppedRowIsRemovedFirstAndTheEntryWaitsAPass) {
    ASSERT_TRUE(app::AddToWaitingQueue(state, dialogs, 3, "财经", {true, true, true}));
    port.stopped = "旧任务";
    auto scheduler = make();
    EXPECT_EQ(scheduler.pass(), 0);
    EXPECT_EQ(state.waitingQueue.size(), 1u);
    EXPECT_EQ(scheduler.pass(), 1);
    // A refused entry stays queued and is tried again.
    ASSERT_TRUE(app::AddToWaitingQueue(state, dialogs, 4, "娱乐", {true, true, true}));
    port.full = true;
    EXPECT_EQ(scheduler.pass(), 0);
    EXPECT_EQ(scheduler.pass(), 0);
    EXPECT_EQ(state.waitingQueue.size(), 1u);
    port.full = false;
    EXPECT_EQ(scheduler.pass(), 1);
}

TEST_F(SchedulerFixture, MalformedAndDeletedEntriesAreSkippedWithALogLineEachPass) {
    timetable({"1,新闻|1,1,1|7x|||", "9,已删除|1,1,1||||", "没有编号|1,1,1||||", "2,好的|1,1,1||||"});
    state.scheduling = true;
    ASSERT_TRUE(app::AddToWaitingQueue(state, dialogs, 8, "删掉的", {true, true, true}));
    auto scheduler = make();
    EXPECT_EQ(scheduler.pass(), 1);
    clock.advance(500ms);
    EXPECT_EQ(scheduler.pass(), 0);  // 2,好的 has had its minute
    EXPECT_EQ(port.calls.back(), "start 2,好的");
    const std::string text = log();
    EXPECT_EQ(occurrences(text, "TAutoThread|计划任务格式错误，跳过:1,新闻|1,1,1|7x|||"), 2u);
    EXPECT_EQ(occurrences(text, "TAutoThread|任务ID不存在，跳过计划任务:9,已删除"), 2u);
    EXPECT_EQ(occurrences(text, "TAutoThread|Fthis_taskid_taskname配置出错"), 2u);
    // The queue entry of a deleted task is dropped once, with its line.
    EXPECT_EQ(occurrences(text, "TAutoThread|任务ID不存在，移出等待队列:8,删掉的"), 1u);
    EXPECT_TRUE(state.waitingQueue.empty());
    EXPECT_TRUE(state.ranList.empty());
}

TEST_F(SchedulerFixture, TheQueueFileFeedsTheQueueAndLosesAnEntryOnlyWhenItStarts) {
    app::QueueFile file{app::QueueFilePath(sandbox.workspace())};
    ASSERT_TRUE(file.add(app::QueueEntryText(1, "新闻", {true, true, false})));
    EXPECT_FALSE(file.add(app::QueueEntryText(1, "新闻", {true, false, false})));
    ASSERT_TRUE(file.add(app::QueueEntryText(2, "体育", {true, true, true})));
    app::SchedulerServices s;
    s.workspace = sandbox.workspace();
    s.state = &state;
    s.port = &port;
    s.clock = &clock;
    s.taskIds = [this] { return std::optional<std::set<std::int64_t>>(ids); };
    s.queueFile = file.path;
    app::Scheduler scheduler(s);
    port.full = true;
    EXPECT_EQ(scheduler.pass(), 0);
    EXPECT_EQ(file.entries().size(), 2u);
    port.full = false;
    EXPECT_EQ(scheduler.pass(), 2);
    EXPECT_TRUE(file.entries().empty());
    EXPECT_EQ(state.ranList.size(), 2u);
}

TEST_F(SchedulerFixture, TheLoopEndsWhenTheProcessCloses) {
    app::ThreadRegistry threads;
    app::SchedulerServices s;
    s.workspace = sandbox.workspace();
    s.state = &state;
    s.port = &port;
    s.clock = &clock;
    auto scheduler = std::make_shared<app::Scheduler>(s);
    app::Scheduler::Start(scheduler, threads);
    EXPECT_EQ(threads.running(), 1u);
    state.closing = true;
    EXPECT_TRUE(threads.waitAll(2s));
}

// ---- the waiting queue as the dialogs use it ----

TEST_F(SchedulerFixture, QueueRefusesNoStepAndTheSameTaskTwice) {
    EXPECT_FALSE(app::AddToWaitingQueue(state, dialogs, 1, "新闻", {false, false, false}));
    EXPECT_TRUE(dialogs.sawMessage("至少勾选一个操作步聚"));
    EXPECT_TRUE(app::AddToWaitingQueue(state, dialogs, 1, "新闻", {true, true, true}));
    EXPECT_FALSE(app::AddToWaitingQueue(state, dialogs, 1, "新闻 ", {true, false, false}));
    EXPECT_TRUE(dialogs.sawMessage("已在任务队例！"));
    // A name that only begins like a queued one is another task.
    EXPECT_TRUE(app::AddToWaitingQueue(state, dialogs, 1, "新闻2", {true, true, true}));
    EXPECT_TRUE(app::AddToWaitingQueue(state, dialogs, 3, "财经", {true, true, true}));
    EXPECT_EQ(state.waitingQueue[0], "1,新闻|1,1,1|临时任务|||");

    EXPECT_EQ(app::MoveQueueEntry(state, 2, -1), 1);
    EXPECT_EQ(app::WaitingTasks(state), (std::vector<std::string>{"1,新闻", "3,财经", "1,新闻2"}));
    EXPECT_EQ(app::MoveQueueEntry(state, 0, -1), 0);
    EXPECT_EQ(app::MoveQueueEntry(state, 2, +1), 2);
    EXPECT_EQ(app::DeleteQueueEntries(state, "1,新闻"), 1);
    EXPECT_EQ(app::WaitingTasks(state), (std::vector<std::string>{"3,财经", "1,新闻2"}));
}

// ---- the whole road: a full run list, a queued task, a run that ends ----

struct QueueThroughRunList : SchedulerFixture {
    app::SlotViewModel slots;
    app::ThreadRegistry threads;
    std::atomic<bool> release1{false};
    std::map<std::int64_t, app::TaskToRun> tasks;
    std::unique_ptr<app::RunList> list;

    void build() {
        app::StageHooks hooks;
        // The publish stage of task 1 holds its run until released; the others hold until stopped.
        hooks.publish = [this](collect::RunContext& run, const std::vector<std::string>&, bool) {
            while (!run.stopRequested() && !(run.taskId == 1 && release1.load())) std::this_thread::sleep_for(5ms);
        };
        app::RunnerServices s;
        s.workspace = sandbox.workspace();
        s.state = &state;
        s.view = &slots;
        s.dialogs = &dialogs;
        s.threads = &threads;
        s.hooks = hooks;
        const nlohmann::json doc{{"other_time1", "0"}, {"other_time2", "0"}};
        for (std::int64_t id = 1; id <= 4; ++id) {
            tasks[id] = {"任务" + std::to_string(id), doc.dump()};
            const std::string db = sandbox.workspace().taskDbPath(id);
            ASSERT_TRUE(collect::CreateTaskDb(db, dialogs));
            collect::CreateContentTables(db, doc.dump());
        }
        list = std::make_unique<app::RunList>(s, slots, [this](std::int64_t id) -> std::optional<app::TaskToRun> {
            auto it = tasks.find(id);
            return it == tasks.end() ? std::nullopt : std::optional<app::TaskToRun>(it->second);
        });
    }
    void TearDown() override {
        test::stopAllRuns(state, threads, 20s);
        SchedulerFixture::TearDown();
    }
};

TEST_F(QueueThroughRunList, AQueuedTaskStartsAfterAFullRunListFreesARow) {
    build();
    for (std::int64_t id = 1; id <= 3; ++id) {
        ASSERT_TRUE(list->AddToRunList(id, tasks[id].name));
        ASSERT_TRUE(list->StartRun(static_cast<int>(id - 1)));
    }
    app::RunListSchedulerPort port(*list);
    auto scheduler = make(&port);
    ASSERT_TRUE(app::AddToWaitingQueue(state, dialogs, 4, "任务4", {false, true, false}));
    EXPECT_EQ(scheduler.pass(), 0);
    EXPECT_EQ(list->rows().size(), 3u);

    release1 = true;
    ASSERT_TRUE(test::waitFor([&] { return list->rows()[0].state == app::kStateStopped; }, 10s));
    EXPECT_EQ(scheduler.pass(), 0);  // the stopped row goes first
    ASSERT_EQ(list->rows().size(), 2u);
    EXPECT_EQ(list->rows()[0].name, "任务2");
    EXPECT_FALSE(list->page(1).shown);
    EXPECT_EQ(scheduler.pass(), 1);
    const auto rows = list->rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].name, "任务4");
    EXPECT_EQ(rows[2].slot, 1);  // the lowest free slot
    EXPECT_EQ(rows[2].state, app::kStateRunning);
    EXPECT_EQ(rows[2].stages, (std::array<bool, 3>{false, true, false}));
    EXPECT_EQ(state.GetSlotField(1, 0), "4");
    EXPECT_TRUE(state.waitingQueue.empty());
    EXPECT_NE(log().find("计划任务 线程开始任务4,4"), std::string::npos);
}

TEST_F(QueueThroughRunList, ATaskRunsOnceWhateverNameItsTimetableLinesAndQueueEntriesGiveIt) {
    build();
    // A rename left the old line behind: two due lines, one task.
    timetable({"1,任务1|0,0,1||||", "1,旧名字|0,0,1||||"});
    state.scheduling = true;
    ASSERT_TRUE(app::AddToWaitingQueue(state, dialogs, 1, "又一个名字", {false, false, true}));
    app::RunListSchedulerPort port(*list);
    auto scheduler = make(&port);
    EXPECT_EQ(scheduler.pass(), 1);
    clock.advance(1min);
    EXPECT_EQ(scheduler.pass(), 0);
    ASSERT_EQ(list->rows().size(), 1u);
    EXPECT_EQ(list->rows()[0].state, app::kStateRunning);
    EXPECT_EQ(state.waitingQueue.size(), 1u);  // waits for the run to end
    EXPECT_EQ(occurrences(log(), "TAutoThread|任务已在运行列表，跳过:1,旧名字"), 1u);
    EXPECT_EQ(occurrences(log(), "TAutoThread|任务已在运行列表，跳过:1,又一个名字"), 1u);  // said once, tried each pass
    // A second row for the task is refused by the run list itself, whatever its name.
    EXPECT_FALSE(list->AddToRunList(1, "别名"));
    EXPECT_TRUE(dialogs.sawMessage("已存在任务列表"));
    EXPECT_EQ(list->rows().size(), 1u);
}

// ---- the schedule dialog's rules ----

TEST_F(SchedulerFixture, ScheduleFormSavesOnlyCompleteDistinctSchedules) {
    app::ScheduleForm form(sandbox.workspace(), state, dialogs);
    form.newSchedule();
    EXPECT_FALSE(form.save());
    EXPECT_TRUE(dialogs.sawMessage("任务名不能为空！"));
    form.takeTask(std::nullopt);
    EXPECT_TRUE(dialogs.sawMessage("请先选定一个任务"));
    form.takeTask(std::make_pair<std::int64_t, std::string>(12, "新闻"));
    form.editor().days = "1,a";
    EXPECT_FALSE(form.save());
    EXPECT_TRUE(dialogs.sawMessage("1,a   中,包含非数字"));
    form.editor().days = "15,1,15";
    form.editor().stages = {false, false, false};
    EXPECT_FALSE(form.save());
    EXPECT_TRUE(dialogs.sawMessage("列表采集、内容采集、发布内容不能全部为空"));
    EXPECT_EQ(form.editor().days, "1,15");  // written back normalised
    form.editor().stages = {true, false, true};
    EXPECT_FALSE(form.save());
    EXPECT_TRUE(dialogs.sawMessage("分钟数不能为空"));
    form.editor().minutes = {0, 30};
    ASSERT_TRUE(form.save());
    EXPECT_FALSE(form.editorOpen());
    EXPECT_EQ(app::ReadScheduleFile(sandbox.workspace().autotaskFile).value(),
              (std::vector<std::string>{"12,新闻|1,0,1|0,30|1,15||8,12,23"}));
    const std::string raw = sandbox.readFile("config/autotask.txt");
    EXPECT_EQ(raw.rfind("\xEF\xBB\xBF", 0), 0u);

    form.newSchedule();
    form.takeTask(std::make_pair<std::int64_t, std::string>(12, "新闻"));
    form.editor().minutes = {5};
    EXPECT_FALSE(form.save());
    EXPECT_TRUE(dialogs.sawMessage("任务名不能重复"));

    // Editing a row replaces it; its own name does not count as a repeat.
    form.openRow(0);
    EXPECT_EQ(form.editor().minutes, (std::vector<int>{0, 30}));
    EXPECT_EQ(form.editor().stages, (std::array<bool, 3>{true, false, true}));
    form.editor().hours = "9";
    ASSERT_TRUE(form.save());
    EXPECT_EQ(form.rows().size(), 1u);
    EXPECT_EQ(form.rows()[0].fields[5], "9");
    EXPECT_EQ(form.rowCells(0), (std::vector<std::string>{"1", "12,新闻", "0,30", "1,15", "", "9", "", "1,0,1"}));
}

TEST_F(SchedulerFixture, DeletingRemovesOnlyTheFirstLineOfThatName) {
    timetable({"1,甲|1,1,1|0|||", "2,乙|1,1,1|0|||", "1,甲|0,1,0|5|||"});
    app::ScheduleForm form(sandbox.workspace(), state, dialogs);
    EXPECT_FALSE(form.deleteRow(std::nullopt));
    EXPECT_TRUE(dialogs.sawMessage("请选选中一个任务后，再删除！"));
    ASSERT_TRUE(form.deleteRow(2));
    EXPECT_EQ(app::ReadScheduleFile(sandbox.workspace().autotaskFile).value(),
              (std::vector<std::string>{"2,乙|1,1,1|0|||", "1,甲|0,1,0|5|||"}));
    EXPECT_TRUE(form.startEnabled());
    form.setScheduling(true);
    EXPECT_TRUE(state.scheduling.load());
    EXPECT_FALSE(form.startEnabled());
    EXPECT_TRUE(form.stopEnabled());
}

}  // namespace

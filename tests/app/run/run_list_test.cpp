// The run list and the runner together on a sandbox workspace: rows, slots, the button table,
// direct-mode list runs, the content-stage pool, pause, resume and stop.
#include "app/run/run_list.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "app/workspace/startup.h"
#include "collect/task_db.h"
#include "platform/sqlite_db.h"
#include "publish/publish_module.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "support/publish_receiver.h"
#include "support/sandbox_workspace.h"
#include "support/stop_runs.h"

using namespace tarvex;
using namespace std::chrono_literals;

namespace {
struct Runs : ::testing::Test {
    test::SandboxWorkspace sandbox;
    test::ScriptedDialogs dialogs;
    app::ProcessState state{&dialogs};
    app::SlotViewModel slots;
    app::ThreadRegistry threads;
    std::map<std::int64_t, app::TaskToRun> tasks;
    std::unique_ptr<app::RunList> list;
    app::StageHooks hooks;
    std::chrono::milliseconds busyRetry = collect::kBusyRetryTime;
    std::chrono::milliseconds workerWait{30000};

    void makeList() {
        app::RunnerServices s;
        s.workspace = sandbox.workspace();
        s.state = &state;
        s.view = &slots;
        s.dialogs = &dialogs;
        s.threads = &threads;
        s.hooks = hooks;
        s.busyRetryTime = busyRetry;
        s.workerWait = workerWait;
        s.workerCancelWait = std::chrono::milliseconds(10000);
        list = std::make_unique<app::RunList>(s, slots, [this](std::int64_t id) -> std::optional<app::TaskToRun> {
            auto it = tasks.find(id);
            if (it == tasks.end()) return std::nullopt;
            return it->second;
        });
    }

    void addTask(std::int64_t id, const std::string& name, const std::string& settings) {
        tasks[id] = {name, settings};
        std::string db = sandbox.workspace().taskDbPath(id);
        ASSERT_TRUE(collect::CreateTaskDb(db, dialogs));
        collect::CreateContentTables(db, settings);
    }

    static std::string settings(const std::vector<std::string>& urls, nlohmann::json extra = nlohmann::json::object()) {
        nlohmann::json doc{{"Morepage", nlohmann::json{{"More_urls", urls}}.dump()},
                           {"other_time1", "0"},
                           {"other_time2", "0"},
                           {"fieldsAll", nlohmann::json::array({nlohmann::json{{"title", "标题"}}.dump()})}};
        doc.update(extra);
        return doc.dump();
    }

    // A list-page task over the server's /list.html: links with titles in a "list" area.
    static std::string listTask(const std::string& listUrl) {
        nlohmann::json list{{"More_urls", {listUrl}},
                            {"More_begin", "<ul class=\"list\">"},
                            {"More_end", "</ul>"},
                            {"More_include", "html"},
                            {"More_url_regex", "<a href=\"{DD:采集网址}\" title=\"{DD:字段=列表标题}\""}};
        return settings({}, {{"Morepage", list.dump()}});
    }
    static std::string listPage(int from, int to) {
        std::string items;
        for (int i = from; i <= to; ++i)
            items +=
                "<li><a href=\"/n/" + std::to_string(i) + ".html\" title=\"标题" + std::to_string(i) + "\">x</a></li>";
        return "<html><ul class=\"list\">" + items + "</ul></html>";
    }

    // Puts a task into the run list with the given stages ticked (list, content, publish) and
    // runs it until it has stopped.
    void runStages(std::int64_t id, const std::string& name, std::array<bool, 3> stages) {
        makeList();
        ASSERT_TRUE(list->AddToRunList(id, name));
        for (int s = 0; s < 3; ++s) list->setStage(0, s, stages[static_cast<std::size_t>(s)]);
        ASSERT_TRUE(list->StartRun(0));
        ASSERT_TRUE(waitForState(0, app::kStateStopped));
    }

    // Runs the list stage alone of a task with this program's own stages.
    void startListStage(std::int64_t id, const std::string& name) {
        hooks = app::defaultStageHooks();
        makeList();
        ASSERT_TRUE(list->AddToRunList(id, name));
        list->setStage(0, 1, false);
        list->setStage(0, 2, false);
        ASSERT_TRUE(list->StartRun(0));
    }

    bool waitForState(int row, const std::string& s) {
        return test::waitFor([&] { return list->rows().at(static_cast<std::size_t>(row)).state == s; }, 20s);
    }

    std::string count(std::int64_t id, const std::string& where = "1=1") {
        return collect::query(sandbox.workspace().taskDbPath(id), "select count(*) as n from content where " + where)
            .text(0, "n");
    }

    void TearDown() override { test::stopAllRuns(state, threads); }
};
}  // namespace

TEST_F(Runs, AddingFillsTheFirstFreeSlotAndRefusesAFourthOrADuplicate) {
    makeList();
    EXPECT_TRUE(list->AddToRunList(11, "甲"));
    EXPECT_TRUE(list->AddToRunList(12, "乙"));
    EXPECT_FALSE(list->AddToRunList(11, "甲"));
    EXPECT_TRUE(dialogs.sawMessage("已存在任务列表"));
    EXPECT_TRUE(list->AddToRunList(13, "丙"));
    EXPECT_FALSE(list->AddToRunList(14, "丁"));
    EXPECT_TRUE(dialogs.sawMessage("任务太多，空间太窄，放不下啦^_^!"));
    EXPECT_EQ(state.GetSlotField(2, -1), "12,任务名,1,GetSheet2,0");
    EXPECT_EQ(list->page(3).caption, "丙");
    EXPECT_TRUE(list->page(3).shown);

    // Removing the middle row frees its slot, which the next task takes.
    EXPECT_TRUE(list->RemoveFromRunList(1));
    EXPECT_EQ(list->rows().size(), 2u);
    EXPECT_FALSE(list->page(2).shown);
    EXPECT_EQ(list->page(2).caption, "任务名");
    EXPECT_EQ(state.GetSlotField(2, 2), "0");
    EXPECT_TRUE(list->AddToRunList(14, "丁"));
    EXPECT_EQ(list->rows().back().slot, 2);
}

TEST_F(Runs, ButtonTableFollowsTheSelectedRow) {
    makeList();
    auto none = list->RefreshRunButtons(std::nullopt);
    EXPECT_EQ(none.startCaption, "开始运行");
    EXPECT_FALSE(none.start || none.pause || none.stop);
    list->AddToRunList(1, "t");
    auto waiting = list->RefreshRunButtons(0);
    EXPECT_TRUE(waiting.start);
    EXPECT_FALSE(waiting.pause || waiting.stop);
}

TEST_F(Runs, DirectModeRunFillsTheDatabaseOnceAndEndsStopped) {
    addTask(5, "直接", settings({"http://h/a", "http://h/b", "http://h/a", "列表合成=http://h/p{参数}[,]1,3,1"}));
    makeList();
    ASSERT_TRUE(list->AddToRunList(5, "直接"));
    list->setStage(0, 1, false);  // list stage only
    ASSERT_TRUE(list->StartRun(0));
    auto running = list->RefreshRunButtons(0);
    ASSERT_TRUE(waitForState(0, app::kStateStopped));
    EXPECT_EQ(count(5), "5");
    EXPECT_EQ(state.GetSlotField(1, 4), "0");
    auto pane = slots.snapshot(1).pane;
    ASSERT_FALSE(pane.empty());
    EXPECT_EQ(pane.front(), "新建线程：当前任务ID:1");
    EXPECT_NE(std::find(pane.begin(), pane.end(), "==================开始采集列表=================="), pane.end());
    EXPECT_NE(pane.back().find("任务已完成"), std::string::npos);
    auto stopped = list->RefreshRunButtons(0);
    EXPECT_TRUE(stopped.start);
    EXPECT_EQ(stopped.startCaption, "开始运行");

    // Starting again runs the task again in the same slot and inserts nothing new.
    ASSERT_TRUE(list->StartRun(0));
    ASSERT_TRUE(waitForState(0, app::kStateStopped));
    EXPECT_EQ(count(5), "5");
    (void)running;
}

TEST_F(Runs, StartingWithPublishTickedButNoModuleAsksFirstAndNamesTheTab) {
    addTask(6, "无发布规则", settings({"http://h/a"}));
    makeList();
    ASSERT_TRUE(list->AddToRunList(6, "无发布规则"));
    dialogs.queueConfirm(false);
    EXPECT_FALSE(list->StartRunAsked(0));
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].kind, "confirm");
    EXPECT_NE(dialogs.shown()[0].text.find("“发布内容”页"), std::string::npos) << dialogs.shown()[0].text;
    EXPECT_EQ(list->rows().at(0).state, app::kStateWaiting);
    EXPECT_EQ(count(6), "0");

    // Without the publish stage there is nothing to ask; the run starts at once.
    dialogs.clear();
    list->setStage(0, 1, false);
    list->setStage(0, 2, false);
    ASSERT_TRUE(list->StartRunAsked(0));
    ASSERT_TRUE(waitForState(0, app::kStateStopped));
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(count(6), "1");
}

TEST(PublishQuestion, AskedOnlyForATickedPublishStageWithoutAModule) {
    const std::string none = R"({"fieldsAll":[]})", named = R"({"PostRuleName":"wordpress"})";
    EXPECT_FALSE(app::PublishWithoutModuleQuestion(none, {true, true, true}).empty());
    EXPECT_TRUE(app::PublishWithoutModuleQuestion(none, {true, true, false}).empty());
    EXPECT_TRUE(app::PublishWithoutModuleQuestion(named, {true, true, true}).empty());
    EXPECT_FALSE(app::PublishWithoutModuleQuestion("not json", {false, false, true}).empty());
}

TEST_F(Runs, ContentStageKeepsThePoolLimitAndCountsStoredRows) {
    std::atomic<int> running{0}, peak{0};
    hooks.contentWorker = [&](const collect::ContentJob& job) {
        int now = ++running;
        int p = peak.load();
        while (now > p && !peak.compare_exchange_weak(p, now)) {
        }
        std::this_thread::sleep_for(20ms);
        std::lock_guard<std::mutex> g(*job.run->slotDbLock);
        collect::execScript(job.run->dbPath, collect::sql::StoreRow(job.id, {{"标题", "T" + std::to_string(job.id)}}));
        --running;
        return true;
    };
    std::vector<std::string> urls;
    for (int i = 0; i < 12; ++i) urls.push_back("http://h/" + std::to_string(i));
    for (auto [pool, limit] : {std::pair<std::string, int>{"1", 1}, {"10", 3}, {"0", 1}}) {
        SCOPED_TRACE(pool);
        tasks.clear();
        peak = 0;
        static std::int64_t id = 20;
        ++id;
        addTask(id, "池" + pool, settings(urls, {{"gettnum", pool}, {"other_minid_get", "2"}}));
        makeList();
        ASSERT_TRUE(list->AddToRunList(id, "池" + pool));
        ASSERT_TRUE(list->StartRun(0));
        ASSERT_TRUE(waitForState(0, app::kStateStopped));
        EXPECT_EQ(count(id, "getc=1"), "10");  // rows 1 and 2 lie at or below the start id
        EXPECT_EQ(count(id, "getc=0"), "2");
        EXPECT_EQ(peak.load(), limit);
        const int slot = list->rows()[0].slot;
        EXPECT_EQ(list->lastRunCounters(slot)->succeeded.load(), 10);
        EXPECT_EQ(list->lastRunCounters(slot)->workers.load(), 0);
        EXPECT_EQ(state.succeededRows(slot), 10);
        threads.waitAll(10s);
    }
}

TEST_F(Runs, PauseResumeAndStopDuringTheContentStage) {
    std::atomic<int> started{0};
    hooks.contentWorker = [&](const collect::ContentJob& job) {
        ++started;
        std::this_thread::sleep_for(30ms);
        std::lock_guard<std::mutex> g(*job.run->slotDbLock);
        collect::execScript(job.run->dbPath, collect::sql::StoreRow(job.id, {}));
        return true;
    };
    std::vector<std::string> urls;
    for (int i = 0; i < 300; ++i) urls.push_back("http://h/" + std::to_string(i));
    addTask(9, "暂停", settings(urls, {{"other_time2", "20"}}));
    makeList();
    ASSERT_TRUE(list->AddToRunList(9, "暂停"));
    ASSERT_TRUE(list->StartRun(0));
    ASSERT_TRUE(test::waitFor([&] { return started.load() >= 3; }, 20s));
    list->PauseRun(0);
    EXPECT_EQ(list->rows()[0].state, app::kStatePaused);
    auto paused = list->RefreshRunButtons(0);
    EXPECT_EQ(paused.startCaption, "继续运行");
    EXPECT_TRUE(paused.start && paused.stop && !paused.pause);
    ASSERT_TRUE(test::waitFor([&] {
        auto p = slots.snapshot(1).pane;
        return !p.empty() && p.back().find("任务暂停") != std::string::npos;
    }));
    std::this_thread::sleep_for(200ms);
    int atPause = started.load();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(started.load(), atPause);  // no new workers while paused

    ASSERT_TRUE(list->StartRun(0));  // resume
    EXPECT_EQ(list->rows()[0].state, app::kStateRunning);
    ASSERT_TRUE(test::waitFor([&] { return started.load() > atPause + 2; }));
    EXPECT_FALSE(list->RemoveFromRunList(0));
    EXPECT_TRUE(dialogs.sawMessage("任务未停止，请停止后关闭！"));
    list->StopRun(0);
    ASSERT_TRUE(waitForState(0, app::kStateStopped));
    EXPECT_EQ(state.GetSlotField(1, 4), "0");
    EXPECT_EQ(list->lastRunCounters(1)->workers.load(), 0);
    EXPECT_LT(started.load(), 300);
    // A late pause click on the ended run leaves the slot idle, so it can start again.
    list->PauseRun(0);
    EXPECT_EQ(state.GetSlotField(1, 4), "0");
    EXPECT_TRUE(list->RemoveFromRunList(0));
}

TEST_F(Runs, StartingAVanishedTaskIsRefused) {
    makeList();
    ASSERT_TRUE(list->AddToRunList(77, "消失"));
    EXPECT_FALSE(list->StartRun(0));
    EXPECT_TRUE(dialogs.sawMessage("任务已不存在，无法开始运行：消失"));
    EXPECT_EQ(list->rows()[0].state, app::kStateWaiting);
    EXPECT_EQ(state.GetSlotField(1, 4), "0");
}

TEST_F(Runs, OnlyPublishTickedSkipsCollection) {
    bool publishCalled = false, publishTicked = false;
    hooks.publish = [&](collect::RunContext&, const std::vector<std::string>&, bool d3) {
        publishCalled = true;
        publishTicked = d3;
    };
    addTask(3, "发布", settings({"http://h/only"}));
    runStages(3, "发布", {false, false, true});
    EXPECT_EQ(count(3), "0");
    EXPECT_TRUE(publishCalled);
    EXPECT_TRUE(publishTicked);
}

TEST_F(Runs, ARunThatThrowsStillEndsAndGivesItsSlotBack) {
    struct Case {
        const char* where;
        std::function<void(app::StageHooks&)> arm;
    };
    const std::vector<Case> cases = {
        {"building the fetch options",
         [](app::StageHooks& h) {
             h.buildFetchOptions = [](const std::string&) -> std::string { throw std::runtime_error("boom"); };
         }},
        {"inside the list stage",
         [](app::StageHooks& h) {
             h.listPages = [](collect::RunContext&, const std::vector<std::string>&) {
                 throw std::runtime_error("boom");
             };
         }},
    };
    nlohmann::json listSettings{{"More_urls", {"http://h/l.html"}}, {"More_begin", "<ul>"}, {"More_end", "</ul>"}};
    addTask(6, "出错", settings({}, {{"Morepage", listSettings.dump()}}));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        hooks = {};
        c.arm(hooks);
        makeList();
        ASSERT_TRUE(list->AddToRunList(6, "出错"));
        ASSERT_TRUE(list->StartRun(0));
        ASSERT_TRUE(waitForState(0, app::kStateStopped));
        EXPECT_EQ(state.GetSlotField(1, 4), "0");
        EXPECT_EQ(list->lastRunCounters(1)->failure(), "运行出错：boom");
        auto pane = slots.snapshot(1).pane;
        EXPECT_NE(std::find(pane.begin(), pane.end(), "运行出错：boom"), pane.end());
        EXPECT_EQ(app::TaskRunner::runningRunners(), 0);
        // The slot can run again.
        ASSERT_TRUE(list->StartRun(0));
        ASSERT_TRUE(waitForState(0, app::kStateStopped));
        ASSERT_TRUE(list->RemoveFromRunList(0));
    }
}

TEST_F(Runs, AShortLockOnTheTaskDatabaseIsWaitedForAndStoresNothingTwice) {
    test::LocalHttpServer server;
    server.on("/list.html", test::Reply::html(listPage(1, 6)));
    addTask(8, "锁定", listTask(server.url("/list.html")));
    const std::string db = sandbox.workspace().taskDbPath(8);
    for (int i = 1; i <= 3; ++i)
        collect::execScript(db, "insert into content(url,geturl,列表标题) values ('" +
                                    server.url("/n/" + std::to_string(i) + ".html") + "',1,'标题" + std::to_string(i) +
                                    "')");

    // Another program holds the database for longer than one busy time-out (2 s).
    platform::SqliteConnection holder(db);
    holder.exec("BEGIN EXCLUSIVE");
    std::thread release([&] {
        std::this_thread::sleep_for(3500ms);
        holder.exec("COMMIT");
    });
    startListStage(8, "锁定");
    ASSERT_TRUE(waitForState(0, app::kStateStopped));
    release.join();
    EXPECT_EQ(count(8), "6");
    EXPECT_EQ(collect::query(db, "select count(distinct url) as n from content").text(0, "n"), "6");
    EXPECT_EQ(count(8, "列表标题 = '标题5'"), "1");
    EXPECT_EQ(list->lastRunCounters(1)->failure(), "");
}

TEST_F(Runs, ALockThatOutlastsTheWaitEndsTheListStageWithoutStoringAnything) {
    test::LocalHttpServer server;
    server.on("/list.html", test::Reply::html(listPage(1, 6)));
    addTask(12, "久锁", listTask(server.url("/list.html")));
    const std::string db = sandbox.workspace().taskDbPath(12);
    collect::execScript(db, "insert into content(url,geturl) values ('" + server.url("/n/1.html") + "',1)");
    platform::SqliteConnection holder(db);
    holder.exec("BEGIN EXCLUSIVE");
    busyRetry = 500ms;
    startListStage(12, "久锁");
    ASSERT_TRUE(waitForState(0, app::kStateStopped));
    holder.exec("COMMIT");
    EXPECT_EQ(count(12), "1");
    EXPECT_EQ(server.requestsTo("/list.html").size(), 0u);
    EXPECT_EQ(list->lastRunCounters(1)->failure(), "读取已采网址出错，列表采集未进行：数据库被锁定");
    auto pane = slots.snapshot(1).pane;
    EXPECT_NE(std::find(pane.begin(), pane.end(), "读取已采网址出错，列表采集未进行：数据库被锁定"), pane.end());
    EXPECT_EQ(state.GetSlotField(1, 4), "0");
}

// Collected records of a task that publishes to `site` through the module "站点".
void addCollectedRecords(const test::SandboxWorkspace& sandbox, const std::string& db, const std::string& siteUrl) {
    ASSERT_TRUE(publish::SaveModule(publish::ModulePath(sandbox.path("发布规则"), "站点"), siteUrl, true,
                                    {{"title", "{采集字段:标题}"}}));
    for (int i = 1; i <= 3; ++i)
        collect::execScript(db, "insert into content(url,geturl,getc,标题) values ('http://h/" + std::to_string(i) +
                                    "',1,1,'标题" + std::to_string(i) + "')");
}

TEST_F(Runs, ALockAtTheStartOfARunIsWaitedForAndPublishesEveryField) {
    test::PublishReceiver site;
    addTask(31, "锁后发布", settings({}, {{"PostRuleName", "站点"}, {"other_time3", "1"}}));
    const std::string db = sandbox.workspace().taskDbPath(31);
    addCollectedRecords(sandbox, db, site.url());

    // Held for longer than one busy time-out (2 s), as a data browser or a backup would.
    platform::SqliteConnection holder(db);
    holder.exec("BEGIN EXCLUSIVE");
    std::thread release([&] {
        std::this_thread::sleep_for(3500ms);
        holder.exec("COMMIT");
    });
    hooks = app::defaultStageHooks();
    runStages(31, "锁后发布", {false, false, true});
    release.join();

    auto posts = site.posts("AddInfo");
    ASSERT_EQ(posts.size(), 3u);
    for (std::size_t i = 0; i < posts.size(); ++i) EXPECT_EQ(posts[i].field("title"), "标题" + std::to_string(i + 1));
    EXPECT_EQ(count(31, "postc=1"), "3");
    EXPECT_EQ(list->lastRunCounters(1)->failure(), "");

    // A lock that outlasts the wait leaves publishing out: no record goes out without its fields.
    ASSERT_TRUE(list->RemoveFromRunList(0));
    collect::execScript(db, "update content set postc=0");
    site.clear();
    holder.exec("BEGIN EXCLUSIVE");
    busyRetry = 500ms;
    runStages(31, "锁后发布", {false, false, true});
    holder.exec("COMMIT");
    EXPECT_EQ(site.count("AddInfo"), 0u);
    EXPECT_EQ(count(31, "postc=0"), "3");
    EXPECT_EQ(list->lastRunCounters(1)->failure(), "读取数据库字段出错，跳过[内容发布]步骤：数据库被锁定");
}

TEST_F(Runs, ALockThatOutlastsTheWaitLeavesEveryRowQueuedAndTheRunFailed) {
    test::PublishReceiver site;
    std::atomic<int> workers{0};
    // Columns and known addresses are read; the lock comes as the list stage runs and outlasts
    // the stages that follow.
    std::unique_ptr<platform::SqliteConnection> holder;
    for (int stage : {1, 2}) {
        SCOPED_TRACE(stage);
        const std::int64_t id = 40 + stage;
        const std::string name = "久锁" + std::to_string(stage);
        auto doc = nlohmann::json::parse(listTask("http://h/list.html"));
        doc["PostRuleName"] = "站点";
        doc["other_time3"] = "1";
        addTask(id, name, doc.dump());
        const std::string db = sandbox.workspace().taskDbPath(id);
        addCollectedRecords(sandbox, db, site.url());
        collect::execScript(db, "insert into content(url,geturl,getc) values ('http://h/9',1,0)");
        hooks = app::defaultStageHooks();
        hooks.contentWorker = [&](const collect::ContentJob&) { return ++workers, true; };
        hooks.listPages = [&](collect::RunContext&, const std::vector<std::string>&) {
            holder = std::make_unique<platform::SqliteConnection>(db);
            holder->exec("BEGIN EXCLUSIVE");
        };
        busyRetry = 500ms;
        runStages(id, name, {true, stage == 1, stage == 2});
        holder.reset();
        EXPECT_EQ(workers.load(), 0);
        EXPECT_EQ(site.count("AddInfo"), 0u);
        EXPECT_EQ(count(id, "getc=0"), "1");
        EXPECT_EQ(count(id, "postc=0"), "4");
        EXPECT_NE(list->lastRunCounters(1)->failure(), "");
        auto pane = slots.snapshot(1).pane;
        EXPECT_EQ(std::find(pane.begin(), pane.end(), "没有内容需要采集，跳过[内容采集]步骤"), pane.end());
        EXPECT_EQ(state.GetSlotField(1, 4), "0");
        ASSERT_TRUE(list->RemoveFromRunList(0));
    }
}

TEST_F(Runs, ClosingTheProgramStopsARunInTheMiddleOfAFetch) {
    // A list page that trickles for a minute: only the closing flag can end the run in time.
    test::LocalHttpServer server;
    test::Reply slow = test::Reply::html(listPage(1, 50));
    slow.trickleInterval = 1000ms;
    slow.trickleBytes = 1;
    server.on("/list.html", slow);
    addTask(15, "关闭", listTask(server.url("/list.html")));
    hooks = app::defaultStageHooks();
    makeList();
    ASSERT_TRUE(list->AddToRunList(15, "关闭"));
    ASSERT_TRUE(list->StartRun(0));
    ASSERT_TRUE(test::waitFor([&] { return server.requestsTo("/list.html").size() == 1; }));
    std::this_thread::sleep_for(300ms);

    const auto began = std::chrono::steady_clock::now();
    EXPECT_TRUE(app::CloseBackgroundWork(state, threads, 15s));
    EXPECT_LT(std::chrono::steady_clock::now() - began, 15s);
    EXPECT_EQ(list->rows()[0].state, app::kStateStopped);
    EXPECT_EQ(state.GetSlotField(1, 4), "0");
    EXPECT_EQ(threads.running(), 0u);
    // The fixture now destroys the run list, the slot model and the state the run used.
}

TEST_F(Runs, AFreedSlotStartsIdleWhateverItsLastRunLeft) {
    addTask(16, "空闲", settings({"http://h/1"}));
    makeList();
    ASSERT_TRUE(list->AddToRunList(16, "空闲"));
    // A run state left behind in the slot (a stop request that arrived as the run ended).
    state.SetSlotField(1, 4, "3");
    ASSERT_TRUE(list->RemoveFromRunList(0));
    EXPECT_EQ(state.GetSlotField(1, 4), "0");
    ASSERT_TRUE(list->AddToRunList(16, "空闲"));
    EXPECT_TRUE(list->StartRun(0));
    ASSERT_TRUE(waitForState(0, app::kStateStopped));
    EXPECT_FALSE(dialogs.sawMessage("该任务未能正常结束！如有异常，请重启软件即可！"));
}

TEST_F(Runs, WorkersReachTheSlotLockThroughTheRunTheyHold) {
    // Without a process state the run brings its own lock; a worker that outlives the runner
    // object still holds the run, and with it the lock.
    std::shared_ptr<const collect::RunContext> held;
    hooks.contentWorker = [&](const collect::ContentJob& job) {
        held = job.run;
        return true;
    };
    addTask(18, "自带锁", settings({"http://h/1"}));
    app::RunnerServices s;
    s.workspace = sandbox.workspace();
    s.hooks = hooks;
    s.threads = &threads;
    auto runner = std::make_shared<app::TaskRunner>(s);
    runner->taskId = 18;
    runner->settingsJson = tasks[18].settings;
    runner->run();
    runner.reset();
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->slotDbLock, &held->ownDbLock);
    std::lock_guard<std::mutex> g(*held->slotDbLock);
}

TEST_F(Runs, WorkersStillBusyAtTheEndOfTheStageAreEndedAndTheirRowsReportedUnfinished) {
    // An article whose image trickles in for minutes: its worker outlives the stage's wait.
    test::LocalHttpServer server(TARVEX_TEST_DATA_DIR "/sites/articles-with-attachments");
    server.respond([](const test::RecordedRequest& r) -> std::optional<test::Reply> {
        if (r.path == "/slow.html")
            return test::Reply::html("<h1>慢</h1><div class=\"content\"><img src=\"/img/slow.png\"></div>");
        if (r.path != "/img/slow.png") return std::nullopt;
        test::Reply image = test::Reply::html(std::string(8000, 'x'));
        image.contentType = "image/png";
        image.trickleInterval = 100ms;
        image.trickleBytes = 8;
        return image;
    });
    nlohmann::json title{{"title", "标题"}, {"radio_1", "-1"}, {"radio_1_content", {"<h1>", "</h1>"}}};
    nlohmann::json body{{"title", "正文"},
                        {"radio_1", "-1"},
                        {"radio_1_content", {"<div class=\"content\">", "</div>"}},
                        {"file_save", {"-1", "/up/{dd:原文件名}", "0", "0"}}};
    addTask(31, "慢图", settings({server.url("/slow.html")}, {{"fieldsAll", {title.dump(), body.dump()}}}));
    // A partial file left by a killed run, and one a transfer may still be writing.
    const std::string folder = sandbox.folder() + "data/31/";
    sandbox.writeFile("data/31/old.png.part.AbC123", "half");
    sandbox.writeFile("data/31/now.png.part.XyZ789", "half");
    std::filesystem::last_write_time(folder + "old.png.part.AbC123",
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    hooks = app::defaultStageHooks();
    workerWait = 300ms;
    runStages(31, "慢图", {true, true, false});

    EXPECT_EQ(count(31, "getc=0"), "1");
    const auto counters = list->lastRunCounters(list->rows()[0].slot);
    EXPECT_EQ(counters->rowsUnfinished.load(), 1);
    EXPECT_EQ(counters->workers.load(), 0) << "the worker was not ended";
    auto pane = slots.snapshot(1).pane;
    EXPECT_NE(std::find(pane.begin(), pane.end(), "内容采集未完成1条（采集线程超时），下次运行继续采集"), pane.end());
    EXPECT_NE(std::find(pane.begin(), pane.end(), "采集内容ID:1未完成（采集线程超时），下次运行继续采集"), pane.end());
    // The worker's own partial file went with it; of the earlier ones only the stale one.
    std::vector<std::string> parts;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.path().filename().string().find(".part.") != std::string::npos) parts.push_back(e.path().filename());
    EXPECT_EQ(parts, std::vector<std::string>{"now.png.part.XyZ789"});
}

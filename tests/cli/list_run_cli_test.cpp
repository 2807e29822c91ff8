// The list stage over a loopback list site, end to end: `tarvex-cli run` on a sandbox workspace
// fills exactly the expected rows, a second run adds none, the run's address limit holds, and a
// stop during the list stage (Ctrl-C, or the stop button of the run list) ends the run, a locked
// task database is waited for, and a stage that could store nothing makes the run fail.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "app/run/run_list.h"
#include "app/tasks/catalogue.h"
#include "app/tasks/stored_rules.h"
#include "collect/task_db.h"
#include "platform/sqlite_db.h"
#include "support/cli_process.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

using test::CliResult;
using test::runCli;

// Runs the CLI and sends it SIGINT once its output contains `trigger` `times` times.
CliResult runCliAndInterrupt(const std::vector<std::string>& args, const std::string& trigger, int times) {
    CliResult r;
    int fds[2];
    if (::pipe(fds) != 0) return r;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> argv;
        std::string exe = std::string(TARVEX_BIN_DIR) + "/tarvex-cli";
        argv.push_back(exe.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    bool sent = false;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    char buf[4096];
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 200) > 0) {
            ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            r.out.append(buf, static_cast<std::size_t>(n));
        }
        std::size_t seen = 0;
        for (std::size_t pos = r.out.find(trigger); pos != std::string::npos; pos = r.out.find(trigger, pos + 1))
            ++seen;
        if (!sent && static_cast<int>(seen) >= times) {
            ::kill(pid, SIGINT);
            sent = true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            break;
        }
    }
    ::close(fds[0]);
    int st = 0;
    ::waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string pagedSiteDocument(const std::string& firstList, const std::string& urlMax = "") {
    json pager{{"Mul_begin", "<div class=\"pages\">"},
               {"Mul_end", "</div>"},
               {"Mul_max", 0},
               {"Mul_time", "0"},
               {"Mul_radio_1", "-1"},
               {"Mul_radio_2", "0"},
               {"Mul_radio_3", "0"}};
    json list{{"More_urls", {firstList}}, {"More_begin", "<ul class=\"newslist\">"},
              {"More_end", "</ul>"},      {"More_url_regex", "<a href=\"{DD:采集网址}\" title=\"{DD:字段=列表标题}\""},
              {"More_include", "html"},   {"More_exclude", "ad_"},
              {"More_readtimeout", "20"}, {"More_check_repeat_title", "0"},
              {"More_sort", "0"},         {"More_mulpage", pager.dump()}};
    json doc{{"Morepage", list.dump()},
             {"other_time1", "0"},
             {"other_time2", "0"},
             {"other_url_max", urlMax},
             {"fieldsAll", json::array({json{{"title", "标题"}}.dump(), json{{"title", "内容"}}.dump()})}};
    return doc.dump();
}

std::int64_t addTask(const test::SandboxWorkspace& ws, const std::string& name, const std::string& settings) {
    auto w = ws.workspace();
    std::int64_t id = app::InsertTaskRow(w, 0, name, app::StoreRules(settings));
    test::ScriptedDialogs d;
    EXPECT_TRUE(collect::CreateTaskDb(w.taskDbPath(id), d));
    collect::CreateContentTables(w.taskDbPath(id), settings);
    return id;
}

std::vector<std::string> storedUrls(const std::string& db) {
    auto t = collect::query(db, "select url from content order by id");
    std::vector<std::string> out;
    for (std::size_t i = 0; i < t.rows.size(); ++i) out.push_back(t.text(i, "url"));
    return out;
}

const std::string kSite = std::string(TARVEX_TEST_DATA_DIR) + "/sites/list-paged";

}  // namespace

TEST(CliListRun, PagedListSiteFillsExactlyItsAddressesAndASecondRunAddsNone) {
    test::LocalHttpServer server(kSite);
    test::SandboxWorkspace ws({.withLog = true});
    auto id = addTask(ws, "列表站", pagedSiteDocument(server.url("/list/index.html")));
    const std::string run = "--workspace " + ws.folder() + " run " + std::to_string(id) + " --stages list";

    auto first = runCli(run);
    ASSERT_EQ(first.status, 0) << first.out;
    EXPECT_NE(first.out.find("需要采集的列表网址总共1个,全部网址如下："), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("任务已完成"), std::string::npos);
    auto db = ws.workspace().taskDbPath(id);
    std::set<std::string> expected;
    for (int n = 1; n <= 37; ++n) expected.insert(server.url("/news/" + std::to_string(n) + ".html"));
    auto urls = storedUrls(db);
    EXPECT_EQ(urls.size(), 37u);
    EXPECT_EQ(std::set<std::string>(urls.begin(), urls.end()), expected);
    EXPECT_EQ(collect::query(db, "select 列表标题 as t from content where url like '%/news/7.html'").text(0, "t"),
              "新闻标题7");

    auto second = runCli(run);
    ASSERT_EQ(second.status, 0) << second.out;
    EXPECT_EQ(storedUrls(db), urls);
    EXPECT_NE(second.out.find("本列表页提取到：6个内容页Url,成功:0,并过滤6个url"), std::string::npos) << second.out;
    EXPECT_EQ(second.out.find(",成功:1,"), std::string::npos) << second.out;
}

TEST(CliListRun, TheRunsAddressLimitEndsTheListStage) {
    test::LocalHttpServer server(kSite);
    test::SandboxWorkspace ws;
    // Page 1 gives 3 addresses (below 5), its next page 3 more; then the stage stops.
    auto id = addTask(ws, "限量", pagedSiteDocument(server.url("/list/index.html"), "5"));
    auto r = runCli("--workspace " + ws.folder() + " run " + std::to_string(id) + " --stages list");
    ASSERT_EQ(r.status, 0) << r.out;
    auto urls = storedUrls(ws.workspace().taskDbPath(id));
    EXPECT_EQ(urls.size(), 6u) << r.out;
    std::size_t requestedPages = 0;
    for (const auto& q : server.requests()) requestedPages += q.path.rfind("/list/", 0) == 0;
    EXPECT_EQ(requestedPages, 2u);
}

TEST(CliListRun, CtrlCDuringTheListStageStopsTheRun) {
    test::LocalHttpServer server(kSite);
    test::Reply slow = test::Reply::file();
    slow.delay = 300ms;
    server.on("/list/*", slow);
    test::SandboxWorkspace ws;
    auto id = addTask(ws, "慢站", pagedSiteDocument(server.url("/list/index.html")));
    auto r = runCliAndInterrupt({"--workspace", ws.folder(), "run", std::to_string(id), "--stages", "list"},
                                "------正在采集列表分页:", 2);
    // 128 + SIGINT: a stopped run is told apart from a finished one.
    EXPECT_EQ(r.status, 130) << r.out;
    EXPECT_NE(r.out.find("任务已完成"), std::string::npos) << r.out;
    // The run's last line is the run-list state.
    std::string out = r.out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    EXPECT_EQ(out.substr(out.rfind('\n') + 1), "停止运行") << r.out;
    auto rows = storedUrls(ws.workspace().taskDbPath(id)).size();
    EXPECT_GE(rows, 3u);
    EXPECT_LT(rows, 37u);
    EXPECT_LT(server.requests().size(), 12u);
}

TEST(ListRunInProcess, StopButtonDuringTheListStageLeavesTheSlotIdle) {
    test::LocalHttpServer server(kSite);
    test::Reply slow = test::Reply::file();
    slow.delay = 250ms;
    server.on("/list/*", slow);
    test::SandboxWorkspace ws;
    const std::string settings = pagedSiteDocument(server.url("/list/index.html"));
    auto id = addTask(ws, "停止测试", settings);

    test::ScriptedDialogs dialogs;
    app::ProcessState state(&dialogs);
    app::SlotViewModel slots;
    app::ThreadRegistry threads;
    app::RunnerServices services;
    services.workspace = ws.workspace();
    services.state = &state;
    services.view = &slots;
    services.dialogs = &dialogs;
    services.threads = &threads;
    services.hooks = app::defaultStageHooks();
    app::RunList list(services, slots, [&](std::int64_t taskId) -> std::optional<app::TaskToRun> {
        if (taskId != id) return std::nullopt;
        return app::TaskToRun{"停止测试", settings};
    });
    ASSERT_TRUE(list.AddToRunList(id, "停止测试"));
    list.setStage(0, 1, false);
    list.setStage(0, 2, false);
    ASSERT_TRUE(list.StartRun(0));
    const int slot = list.rows().at(0).slot;
    ASSERT_TRUE(test::waitFor([&] { return server.requests().size() >= 3; }, 20s));
    list.StopRun(0);
    ASSERT_TRUE(test::waitFor([&] { return list.rows().at(0).state == app::kStateStopped; }, 20s));
    threads.waitAll(10s);
    EXPECT_EQ(state.GetSlotField(slot, 4), "0");
    const std::size_t requestsAtEnd = server.requests().size();
    EXPECT_LT(requestsAtEnd, 12u);
    auto rows = storedUrls(ws.workspace().taskDbPath(id)).size();
    EXPECT_GE(rows, 3u);
    EXPECT_LT(rows, 37u);
}

TEST(CliListRun, ALockedTaskDatabaseIsWaitedForNeverDuplicatedOrStoredHalf) {
    test::LocalHttpServer server(kSite);
    test::SandboxWorkspace ws;
    auto id = addTask(ws, "锁库", pagedSiteDocument(server.url("/list/index.html")));
    const auto db = ws.workspace().taskDbPath(id);
    const std::string run = "--workspace " + ws.folder() + " run " + std::to_string(id) + " --stages list";
    // Another program (a data browser, a backup) holds the database for longer than one busy
    // time-out, once on a fresh task and once when every address is already stored.
    auto lockedRun = [&] {
        platform::SqliteConnection holder(db);
        holder.exec("BEGIN EXCLUSIVE");
        std::thread release([&] {
            std::this_thread::sleep_for(4s);
            holder.exec("COMMIT");
        });
        auto r = runCli(run);
        release.join();
        return r;
    };
    auto first = lockedRun();
    ASSERT_EQ(first.status, 0) << first.out;
    auto urls = storedUrls(db);
    EXPECT_EQ(urls.size(), 37u) << first.out;
    EXPECT_EQ(collect::query(db, "select count(*) as n from content where 列表标题 = ''").text(0, "n"), "0");
    auto second = lockedRun();
    ASSERT_EQ(second.status, 0) << second.out;
    EXPECT_EQ(storedUrls(db), urls);
}

TEST(CliListRun, AListStageThatCouldStoreNothingExitsWithItsError) {
    test::LocalHttpServer server(kSite);
    test::SandboxWorkspace ws;
    struct Case {
        const char* what;
        std::function<void(const std::string& db)> breakIt;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"every insert refused",
         [](const std::string& db) {
             collect::execScript(
                 db, "CREATE TRIGGER no_rows BEFORE INSERT ON content BEGIN SELECT RAISE(ABORT, 'refused'); END");
         },
         "列表采集没有存入任何网址，37个网址存入数据库失败"},
        {"no content table", [](const std::string& db) { collect::execScript(db, "DROP TABLE content"); },
         "读取已采网址出错，列表采集未进行：no such table: content"},
        {"not a database",
         [](const std::string& db) { std::ofstream(db, std::ios::binary | std::ios::trunc) << std::string(4096, 'x'); },
         "读取已采网址出错，列表采集未进行：file is not a database"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto id = addTask(ws, c.what, pagedSiteDocument(server.url("/list/index.html")));
        c.breakIt(ws.workspace().taskDbPath(id));
        auto r = runCli("--workspace " + ws.folder() + " run " + std::to_string(id) + " --stages list");
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find("tarvex-cli: " + c.message), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("任务已完成"), std::string::npos) << r.out;
    }
}

// Runs of different tasks of one workspace from separate `tarvex-cli run` processes at once (a
// systemd timer or a CronJob per task), the same task twice refused, the catalogue changed beside
// a run, the programs that hold the whole workspace refused while runs go; and readers (rows,
// export, an online backup) working on a task database while its run writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/tasks/catalogue.h"
#include "app/tasks/stored_rules.h"
#include "app/workspace/startup.h"
#include "collect/task_db.h"
#include "support/cli_process.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

constexpr int kPages = 8;
constexpr int kLinks = 10;

// List pages under /<site>/<n>.html, each answered after a pause so a run lasts a while; the
// time of every request is kept per site.
class SlowLists {
public:
    explicit SlowLists(std::chrono::milliseconds pause = 250ms) {
        server.respond([this, pause](const test::RecordedRequest& r) -> std::optional<test::Reply> {
            const auto slash = r.path.find('/', 1);
            if (slash == std::string::npos) return std::nullopt;
            const std::string site = r.path.substr(1, slash - 1);
            {
                std::lock_guard<std::mutex> g(m_lock);
                m_times[site].push_back(std::chrono::steady_clock::now());
            }
            std::string links;
            for (int i = 1; i <= kLinks; ++i)
                links += "<li><a href=\"/" + site + "/n/" + r.path.substr(slash + 1, r.path.find('.') - slash - 1) +
                         "-" + std::to_string(i) + ".html\" title=\"t" + std::to_string(i) + "\">x</a></li>";
            test::Reply page = test::Reply::html("<ul class=\"newslist\">" + links + "</ul>");
            page.delay = pause;
            return page;
        });
    }
    std::vector<std::chrono::steady_clock::time_point> times(const std::string& site) const {
        std::lock_guard<std::mutex> g(m_lock);
        auto it = m_times.find(site);
        return it == m_times.end() ? std::vector<std::chrono::steady_clock::time_point>{} : it->second;
    }
    std::string listSettings(const std::string& site) const {
        json list{{"More_urls",
                   {"列表合成=" + server.url("/" + site + "/{参数}.html") + "[,]1," + std::to_string(kPages) + ",1"}},
                  {"More_begin", "<ul class=\"newslist\">"},
                  {"More_end", "</ul>"},
                  {"More_url_regex", "<a href=\"{DD:采集网址}\" title=\"{DD:字段=列表标题}\""},
                  {"More_include", "html"},
                  {"More_readtimeout", "20"},
                  {"More_sort", "0"},
                  {"More_mulpage", ""}};
        json doc{{"Morepage", list.dump()},
                 {"other_time1", "0"},
                 {"other_time2", "0"},
                 {"fieldsAll", json::array({json{{"title", "标题"}}.dump(), json{{"title", "内容"}}.dump()})}};
        return doc.dump();
    }

    test::LocalHttpServer server;

private:
    mutable std::mutex m_lock;
    std::map<std::string, std::vector<std::chrono::steady_clock::time_point>> m_times;
};

std::int64_t addTask(const test::SandboxWorkspace& ws, const std::string& name, const std::string& settings) {
    auto w = ws.workspace();
    std::int64_t id = app::InsertTaskRow(w, 0, name, app::StoreRules(settings));
    test::ScriptedDialogs d;
    EXPECT_TRUE(collect::CreateTaskDb(w.taskDbPath(id), d));
    collect::CreateContentTables(w.taskDbPath(id), settings);
    return id;
}

std::string cell(const std::string& db, const std::string& sql) {
    auto t = collect::query(db, sql);
    return t.rows.empty() ? std::string("(none)") : t.rows[0][0].asText();
}

std::vector<std::string> runArgs(const test::SandboxWorkspace& ws, std::int64_t id) {
    return {"--workspace", ws.folder(), "run", std::to_string(id), "--stages", "list"};
}

std::string cli(const test::SandboxWorkspace& ws, const std::string& args) {
    return "--workspace " + test::shellQuote(ws.folder()) + " " + args + " </dev/null";
}

bool running(const test::CliProcess& p) {
    return ::kill(p.pid(), 0) == 0 && p.output().find("停止运行") == std::string::npos;
}

}  // namespace

TEST(CliParallelRuns, TwoTasksRunAtOnceFromTwoProcessesAndTheSameTaskTwiceIsRefused) {
    SlowLists site;
    test::SandboxWorkspace ws;
    const auto a = addTask(ws, "甲", site.listSettings("a"));
    const auto b = addTask(ws, "乙", site.listSettings("b"));
    const auto idle = addTask(ws, "丙", site.listSettings("c"));
    const std::string dbA = ws.workspace().taskDbPath(a), dbB = ws.workspace().taskDbPath(b);

    test::CliProcess runA(runArgs(ws, a));
    ASSERT_TRUE(test::waitFor([&] { return !site.times("a").empty(); }, 30s)) << runA.output();
    test::CliProcess runB(runArgs(ws, b));
    ASSERT_TRUE(test::waitFor([&] { return !site.times("b").empty(); }, 30s)) << runB.output();
    ASSERT_TRUE(running(runA)) << "the first run ended before the second began: " << runA.output();

    // The same task again, from a third process: refused, and the first run goes on.
    const auto again = test::runCli(cli(ws, "run " + std::to_string(a) + " --stages list"));
    EXPECT_EQ(again.status, 1) << again.out;
    EXPECT_NE(again.out.find(app::taskInUseMessage(a)), std::string::npos) << again.out;
    // The programs that run any task of the workspace are refused while runs go.
    const auto scheduler = test::runCli(cli(ws, "schedule --once"));
    EXPECT_NE(scheduler.status, 0);
    EXPECT_NE(scheduler.out.find("该程序正在运行！"), std::string::npos) << scheduler.out;
    // The catalogue changes beside the runs, except for a running task and a delete.
    ws.writeFile("next.json", site.listSettings("c"));
    const auto setRunning =
        test::runCli(cli(ws, "task set-settings " + std::to_string(a) + " " + ws.path("next.json")));
    EXPECT_EQ(setRunning.status, 1) << setRunning.out;
    EXPECT_NE(setRunning.out.find(app::taskInUseMessage(a)), std::string::npos) << setRunning.out;
    const auto setIdle =
        test::runCli(cli(ws, "task set-settings " + std::to_string(idle) + " " + ws.path("next.json")));
    EXPECT_EQ(setIdle.status, 0) << setIdle.out;
    const auto created = test::runCli(cli(ws, "task create 丁 --settings " + ws.path("next.json")));
    EXPECT_EQ(created.status, 0) << created.out;
    const auto deleted = test::runCli(cli(ws, "task delete " + std::to_string(idle) + " --yes"));
    EXPECT_NE(deleted.status, 0) << deleted.out;
    EXPECT_TRUE(app::pathExists(ws.workspace().taskDbPath(idle)));
    ASSERT_TRUE(running(runA) || running(runB)) << "the checks above must happen while a run goes";

    ASSERT_EQ(runA.wait(60s), 0) << runA.output();
    ASSERT_EQ(runB.wait(60s), 0) << runB.output();
    // The two runs overlapped: each fetched list pages while the other did.
    const auto ta = site.times("a"), tb = site.times("b");
    ASSERT_EQ(ta.size(), static_cast<std::size_t>(kPages));
    ASSERT_EQ(tb.size(), static_cast<std::size_t>(kPages));
    EXPECT_LT(tb.front(), ta.back());
    for (const auto& db : {dbA, dbB}) {
        EXPECT_EQ(cell(db, "select count(*) from content"), std::to_string(kPages * kLinks));
        EXPECT_EQ(cell(db, "select count(distinct url) from content"), std::to_string(kPages * kLinks));
    }
    EXPECT_EQ(cell(dbA, "select count(*) from content where url not like '%/a/n/%'"), "0");
    const auto rows = app::ReadTaskRows(ws.workspace());
    EXPECT_EQ(rows.size(), 4u);

    // With the runs over, the workspace is whole again for one who needs it whole.
    const auto afterwards = test::runCli(cli(ws, "run " + std::to_string(a) + " --stages list"));
    EXPECT_EQ(afterwards.status, 0) << afterwards.out;
    EXPECT_EQ(cell(dbA, "select count(*) from content"), std::to_string(kPages * kLinks));
    EXPECT_EQ(test::runCli(cli(ws, "task delete " + std::to_string(idle) + " --yes")).status, 0);
}

TEST(CliParallelRuns, ARunIsRefusedWhileTheWorkspaceIsHeldWholeAndHoldsItsTaskWhileItRuns) {
    SlowLists site;
    test::SandboxWorkspace ws;
    const auto a = addTask(ws, "甲", site.listSettings("a"));
    {
        // The desktop program or a scheduler.
        platform::InstanceLock whole(app::instanceLockPath(ws.workspace()));
        ASSERT_TRUE(whole.acquired());
        const auto r = test::runCli(cli(ws, "run " + std::to_string(a) + " --stages list"));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("该程序正在运行！"), std::string::npos) << r.out;
        EXPECT_TRUE(site.times("a").empty());
    }
    test::CliProcess run(runArgs(ws, a));
    ASSERT_TRUE(test::waitFor([&] { return !site.times("a").empty(); }, 30s)) << run.output();
    // A desktop program starting now is refused, as a second copy of it is.
    platform::InstanceLock whole(app::instanceLockPath(ws.workspace()));
    EXPECT_FALSE(whole.acquired());
    platform::InstanceLock task(app::taskLockPath(ws.workspace(), a));
    EXPECT_FALSE(task.acquired());
    // A run killed outright lets go of both.
    run.signal(SIGKILL);
    run.wait(10s);
    EXPECT_TRUE(platform::InstanceLock(app::instanceLockPath(ws.workspace())).acquired());
    EXPECT_TRUE(platform::InstanceLock(app::taskLockPath(ws.workspace(), a)).acquired());
}

TEST(CliParallelRuns, RowsExportAndABackupReadTheDatabaseWhileItsRunWrites) {
    SlowLists site(400ms);
    test::SandboxWorkspace ws;
    const auto a = addTask(ws, "甲", site.listSettings("a"));
    const std::string db = ws.workspace().taskDbPath(a);
    test::CliProcess run(runArgs(ws, a));
    // Two pages stored, more to come.
    ASSERT_TRUE(test::waitFor([&] { return std::stoi(cell(db, "select count(*) from content")) >= 2 * kLinks; }, 30s))
        << run.output();
    ASSERT_TRUE(running(run));
    EXPECT_EQ(cell(db, "pragma journal_mode"), "wal");

    const auto rows = test::runCli(cli(ws, "rows " + std::to_string(a)));
    EXPECT_EQ(rows.status, 0) << rows.out;
    EXPECT_NE(rows.out.find("/a/n/1-1.html"), std::string::npos) << rows.out;
    const std::string csv = ws.path("out.csv");
    const auto exported = test::runCli(cli(ws, "export csv " + std::to_string(a) + " --out " + test::shellQuote(csv)));
    EXPECT_EQ(exported.status, 0) << exported.out;
    EXPECT_NE(test::readWholeFile(csv).find("/a/n/2-1.html"), std::string::npos);

    // SQLite's online backup, as `sqlite3 db ".backup FILE"` makes it.
    const std::string copy = ws.path("backup.db3");
    sqlite3* from = nullptr;
    sqlite3* to = nullptr;
    ASSERT_EQ(sqlite3_open_v2(db.c_str(), &from, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_open(copy.c_str(), &to), SQLITE_OK);
    sqlite3_busy_timeout(from, 2000);
    sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
    ASSERT_NE(backup, nullptr) << sqlite3_errmsg(to);
    int rc = SQLITE_OK;
    while ((rc = sqlite3_backup_step(backup, 5)) == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(rc, SQLITE_DONE) << sqlite3_errstr(rc);
    sqlite3_backup_finish(backup);
    sqlite3_close(to);
    sqlite3_close(from);
    EXPECT_EQ(cell(copy, "pragma integrity_check"), "ok");
    const int saved = std::stoi(cell(copy, "select count(*) from content"));
    EXPECT_GE(saved, 2 * kLinks);
    EXPECT_EQ(saved % kLinks, 0) << "a page's rows are stored together";

    ASSERT_EQ(run.wait(60s), 0) << run.output();
    EXPECT_EQ(cell(db, "select count(*) from content"), std::to_string(kPages * kLinks));
    // After the run the log is back in the file: the file alone holds every row.
    EXPECT_FALSE(app::pathExists(db + "-wal"));
}

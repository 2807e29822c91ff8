// tarvex-cli schedule, queue, rows, export and import as processes on a sandbox workspace: a
// due task over a loopback list site starts and stops cleanly on SIGTERM; a queued task runs
// with --once; the data commands print, write and refuse as they should.
#include <gtest/gtest.h>

#include <signal.h>
#include <filesystem>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/schedule/schedule.h"
#include "app/schedule/scheduler.h"
#include "app/tasks/catalogue.h"
#include "app/tasks/stored_rules.h"
#include "collect/task_db.h"
#include "support/cli_process.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"
#include "support/small_disk.h"

using namespace tarvex;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

// A task over the paged list site: one list page of links after another.
std::string listSiteDocument(const std::string& firstList) {
    json pager{{"Mul_begin", "<div class=\"pages\">"},
               {"Mul_end", "</div>"},
               {"Mul_max", 0},
               {"Mul_time", "0"},
               {"Mul_radio_1", "-1"},
               {"Mul_radio_2", "0"},
               {"Mul_radio_3", "0"}};
    json list{{"More_urls", {firstList}}, {"More_begin", "<ul class=\"newslist\">"},
              {"More_end", "</ul>"},      {"More_url_regex", "<a href=\"{DD:采集网址}\""},
              {"More_include", "html"},   {"More_exclude", "ad_"},
              {"More_readtimeout", "20"}, {"More_check_repeat_title", "0"},
              {"More_sort", "0"},         {"More_mulpage", pager.dump()}};
    json doc{{"Morepage", list.dump()},
             {"other_time1", "0"},
             {"other_time2", "0"},
             {"fieldsAll", json::array({json{{"title", "标题"}}.dump(), json{{"title", "内容"}}.dump()})}};
    return doc.dump();
}

std::int64_t addTask(const test::SandboxWorkspace& ws, const std::string& name, const std::string& settings) {
    auto w = ws.workspace();
    const std::int64_t id = app::InsertTaskRow(w, 0, name, app::StoreRules(settings));
    test::ScriptedDialogs d;
    EXPECT_TRUE(collect::CreateTaskDb(w.taskDbPath(id), d));
    collect::CreateContentTables(w.taskDbPath(id), settings);
    return id;
}

long long rowCount(const test::SandboxWorkspace& ws, std::int64_t id) {
    return std::stoll(collect::query(ws.workspace().taskDbPath(id), "select count(*) as n from content").text(0, "n"));
}

const std::string kSite = std::string(TARVEX_TEST_DATA_DIR) + "/sites/list-paged";

TEST(CliSchedule, StartsADueLoopbackTaskAndStopsCleanlyOnSigterm) {
    test::LocalHttpServer server(kSite);
    test::Reply slow = test::Reply::file();
    slow.delay = 300ms;
    server.on("/list/*", slow);
    test::SandboxWorkspace ws;
    const auto id = addTask(ws, "定时新闻", listSiteDocument(server.url("/list/index.html")));
    // Due in every minute of every hour: list stage only.
    ASSERT_TRUE(app::WriteScheduleFile(ws.workspace().autotaskFile, {std::to_string(id) + ",定时新闻|1,0,0||||"}));

    test::CliProcess p({"--workspace", ws.folder(), "schedule"});
    ASSERT_TRUE(test::waitFor([&] { return server.requestCount() >= 2; }, 20s)) << p.output();
    EXPECT_NE(p.output().find("计划任务 线程开始定时新闻," + std::to_string(id)), std::string::npos) << p.output();
    p.signal(SIGTERM);
    ASSERT_EQ(p.wait(30s), 0) << p.output();
    const std::string out = p.output();
    EXPECT_NE(out.find("[定时新闻]"), std::string::npos) << out;
    EXPECT_NE(out.find("任务已完成"), std::string::npos) << out;
    EXPECT_NE(out.find("计划任务: 已停止"), std::string::npos) << out;
    // Stopped part way: some addresses stored, not all 37, and no second start in that minute.
    const auto rows = rowCount(ws, id);
    EXPECT_GE(rows, 1);
    EXPECT_LT(rows, 37);
    EXPECT_EQ(out.find("计划任务 线程开始"), out.rfind("计划任务 线程开始")) << out;
}

TEST(CliSchedule, QueueAddFeedsScheduleOnce) {
    test::LocalHttpServer server(kSite);
    test::SandboxWorkspace ws;
    const auto id = addTask(ws, "排队", listSiteDocument(server.url("/list/index.html")));
    const std::string at = "--workspace " + ws.folder() + " ";

    EXPECT_EQ(test::runCli(at + "queue add 999").status, 1);
    EXPECT_EQ(test::runCli(at + "queue add " + std::to_string(id) + " --stages list,nothing").status, 2);
    auto added = test::runCli(at + "queue add " + std::to_string(id) + " --stages list");
    ASSERT_EQ(added.status, 0) << added.out;
    EXPECT_NE(added.out.find(std::to_string(id) + ",排队|1,0,0|临时任务|||"), std::string::npos) << added.out;
    auto again = test::runCli(at + "queue add " + std::to_string(id));
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.out.find("已在任务队例！"), std::string::npos) << again.out;

    auto once = test::runCli(at + "schedule --once");
    ASSERT_EQ(once.status, 0) << once.out;
    EXPECT_NE(once.out.find("计划任务 线程开始排队"), std::string::npos) << once.out;
    EXPECT_EQ(rowCount(ws, id), 37);
    EXPECT_TRUE(app::QueueFile{app::QueueFilePath(ws.workspace())}.entries().empty());
}

struct CliData : ::testing::Test {
    test::SandboxWorkspace ws;
    std::int64_t id = 0;
    std::string at;
    void SetUp() override {
        id = addTask(ws, "数据", listSiteDocument("http://127.0.0.1:1/"));
        std::string sql = "BEGIN;";
        for (int i = 1; i <= 25; ++i)
            sql += "insert into content(url,geturl,getc,postc,标题,内容) values ('http://h/" + std::to_string(i) +
                   "',1," + (i <= 21 ? "1" : "0") + ",0,'标题" + std::to_string(i) + "','第一行\n第二行');";
        collect::execScript(ws.workspace().taskDbPath(id), sql + "COMMIT;");
        at = "--workspace " + ws.folder() + " ";
    }
    std::string ids() const { return std::to_string(id); }
};

TEST_F(CliData, RowsPrintsAPageWithItsCount) {
    auto r = test::runCli(at + "rows " + ids() + " --filter collected --page 2");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(
        r.out,
        "ID\t已采\t已发\t网址\t标题\t内容\n21\t1\t0\thttp://h/21\t标题21\t第一行\\n第二行\n总数：21 页数:2 当前页:2\n");
    struct {
        std::string args;
        int status;
    } refused[] = {
        {"rows 999", 1}, {"rows x", 2}, {"rows " + ids() + " --filter all", 2}, {"rows " + ids() + " --page 3", 2}};
    for (const auto& c : refused) EXPECT_EQ(test::runCli(at + c.args).status, c.status) << c.args;
}

TEST_F(CliData, ExportWritesCsvAndTextFilesAndRefusesBadConditions) {
    const std::string csv = ws.path("out.csv");
    auto r = test::runCli(at + "export csv " + ids() + " --out " + csv + " --where 'id<=2'");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(test::readWholeFile(csv),
              "\xEF\xBB\xBFID,已采集,已发布,网址,标题,内容\r\n"
              "1,1,0,http://h/1,\"标题1\",\"第一行\\n第二行\"\r\n"
              "2,1,0,http://h/2,\"标题2\",\"第一行\\n第二行\"\r\n");
    auto txt = test::runCli(at + "export txt " + ids() + " --where 'id>20'");
    ASSERT_EQ(txt.status, 0) << txt.out;
    EXPECT_EQ(test::readWholeFile(ws.path("data/" + ids() + "/标题25.txt")),
              "标题25\r\n" + std::string(36, '=') + "\r\n第一行\n第二行");
    EXPECT_NE(txt.out.find("5 rows, 5 files"), std::string::npos) << txt.out;

    // Nothing matching is an empty export, not a failure.
    auto none = test::runCli(at + "export txt " + ids() + " --where 'id>100'");
    EXPECT_EQ(none.status, 0) << none.out;
    EXPECT_NE(none.out.find("没有查询到相关内容"), std::string::npos) << none.out;
    EXPECT_EQ(test::runCli(at + "export csv " + ids() + " --where 'nonsense>'").status, 2);
    EXPECT_EQ(test::runCli(at + "export txt " + ids() + " --where 'id in (select id from content)'").status, 2);
    EXPECT_EQ(test::runCli(at + "export csv 999").status, 1);
    EXPECT_EQ(test::runCli(at + "export xml " + ids()).status, 2);
}

TEST_F(CliData, AnExportThatCannotBeWrittenExitsOneAndLeavesNoPartialFile) {
    test::SmallDisk disk(1024 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    disk.fill();
    auto csv = test::runCli(at + "export csv " + ids() + " --out " + disk.path() + "/out.csv");
    EXPECT_EQ(csv.status, 1) << csv.out;
    EXPECT_NE(csv.out.find("No space left on device"), std::string::npos) << csv.out;
    auto txt = test::runCli(at + "export txt " + ids() + " --out " + disk.path() + "/txt/");
    EXPECT_EQ(txt.status, 1) << txt.out;
    EXPECT_NE(txt.out.find("导出失败，无法写入文件："), std::string::npos) << txt.out;
    EXPECT_EQ(txt.out.find("导出完成"), std::string::npos) << txt.out;
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::recursive_directory_iterator(disk.path()))
        if (e.is_regular_file() && e.path().filename() != ".filler") left.push_back(e.path().filename());
    EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(CliData, ImportAddsTheSheetsRowsAndRefusesUnreadableFiles) {
    auto r = test::runCli(at + "import " + ids() + " " TARVEX_TEST_DATA_DIR "/spreadsheets/without-url.xls");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("从EXCEL导入完成！导入2行"), std::string::npos) << r.out;
    // The window's advice has no place on a console.
    EXPECT_EQ(r.out.find("关掉本数据库窗口"), std::string::npos) << r.out;
    EXPECT_EQ(rowCount(ws, id), 27);
    auto bad = test::runCli(at + "import " + ids() + " " + ws.path("nothing.xlsx"));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("无法读取表格文件："), std::string::npos) << bad.out;
    EXPECT_EQ(test::runCli(at + "import 999 " + ws.path("nothing.xlsx")).status, 1);
    EXPECT_EQ(rowCount(ws, id), 27);
}

}  // namespace

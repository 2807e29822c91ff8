// The content stage end to end through `tarvex-cli run`: list pages to stored records with their
// attachments over the loopback article site, the stage's summary, the same values as
// `tarvex-cli extract` shows, and a run killed in the middle of the content stage.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <thread>

#include "collect/task_db.h"
#include "support/article_site.h"
#include "support/cli_process.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"
#include "support/small_disk.h"

using namespace tarvex;
using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;

namespace {

std::string runArgs(const test::SandboxWorkspace& ws, std::int64_t id) {
    return "--workspace " + ws.folder() + " run " + std::to_string(id);
}

std::string cell(const std::string& db, const std::string& sql) {
    auto t = collect::query(db, sql);
    return t.rows.empty() ? std::string("(none)") : t.rows[0][0].asText();
}

std::string fileOf(const std::string& path) {
    return test::readWholeFile(path);
}

}  // namespace

TEST(CliContentRun, ListToStoredRecordsWithAttachmentsAsExtractShowsThem) {
    test::LocalHttpServer server(test::articleSiteFolder());
    test::Reply cut = test::Reply::file();
    cut.truncateAfter = 200;
    server.on("/img/cut.jpg", cut);
    test::SandboxWorkspace ws({.withLog = true});
    const std::string settings = test::articleSiteSettings({.listUrl = server.url("/list/index.html")});
    const auto id = test::addCollectTask(ws, "文章站", settings);
    const std::string db = ws.workspace().taskDbPath(id);

    auto run = test::runCli(runArgs(ws, id));
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("==================开始采集内容=================="), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("内容采集小结：入库3条，未入库2条"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("未入库原因："), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("字段[标题]为空 1条"), std::string::npos) << run.out;

    // Rows: three stored, the one without a title queued, the advertisement skipped for good.
    auto rows = collect::query(db, "select id, url, getc, postc from content order by id");
    ASSERT_EQ(rows.rows.size(), 5u) << run.out;
    std::map<std::string, std::string> state;
    for (std::size_t i = 0; i < rows.rows.size(); ++i)
        state[rows.text(i, "url")] = rows.text(i, "getc") + rows.text(i, "postc");
    EXPECT_EQ(state[server.url("/a/1.html")], "10");
    EXPECT_EQ(state[server.url("/a/2.html")], "10");
    EXPECT_EQ(state[server.url("/a/3.html")], "10");
    EXPECT_EQ(state[server.url("/a/4.html")], "00");
    EXPECT_EQ(state[server.url("/a/5.html")], "11");

    // Every stored field but the rewritten image tags is what extract shows for the page.
    const std::string settingsFile = ws.path("settings.json");
    ws.writeFile("settings.json", settings);
    for (const char* page : {"/a/1.html", "/a/2.html", "/a/3.html"}) {
        SCOPED_TRACE(page);
        auto shown = test::runCli("--workspace " + ws.folder() + " extract --settings " + settingsFile + " --url " +
                                  server.url(page));
        ASSERT_EQ(shown.status, 0) << shown.out;
        auto record = Json::parse(shown.out.substr(shown.out.find('{')));
        auto stored = collect::query(db, "select * from content where url='" + server.url(page) + "'");
        for (const auto& [field, value] : record.items()) {
            if (field == "正文" || field == "来源") continue;  // tags rewritten; list values unknown to extract
            EXPECT_EQ(stored.text(0, field), value.get<std::string>()) << field;
        }
    }
    EXPECT_EQ(cell(db, "select 评论 from content where url like '%/a/1.html'"), "好文章！");
    EXPECT_EQ(cell(db, "select 镜像 from content where url like '%/a/1.html'"), "镜像站一");
    EXPECT_EQ(cell(db, "select 来源 from content where url like '%/a/2.html'"), "来自列表二");

    // The two articles' different "1.jpg" got a file each; which one came first is up to the workers.
    const std::string folder = ws.folder() + "data/" + std::to_string(id) + "/";
    auto localOf = [&](const std::string& remote) {
        return cell(db, "select localurl from download where remoteurl='" + server.url(remote) + "'");
    };
    auto newOf = [&](const std::string& remote) {
        return cell(db, "select newurl from download where remoteurl='" + server.url(remote) + "'");
    };
    const std::string a1 = newOf("/img/a1/1.jpg"), a2 = newOf("/img/a2/1.jpg");
    EXPECT_EQ((std::set<std::string>{a1, a2}), (std::set<std::string>{"/uploads/1.jpg", "/uploads/1-2.jpg"}));
    EXPECT_EQ(fileOf(localOf("/img/a1/1.jpg")), fileOf(test::articleSiteFolder() + "/img/a1/1.jpg"));
    EXPECT_EQ(fileOf(localOf("/img/a2/1.jpg")), fileOf(test::articleSiteFolder() + "/img/a2/1.jpg"));
    EXPECT_EQ(fileOf(folder + "1.zip"), fileOf(test::articleSiteFolder() + "/files/1.zip"));
    EXPECT_EQ(cell(db, "select 正文 from content where url like '%/a/1.html'"),
              "<p>第一页正文。</p>\n<p><img src=\"" + a1 +
                  "\"> <img src=\"/uploads/photo.png\" width=\"40\"> "
                  "<img src='/img/missing.jpg'></p><hr><p>第二页正文。</p>\n<p><img src=\"/uploads/anim.gif\"></p>");
    // The image cut short keeps its address and has no row; the broken one arrived whole.
    EXPECT_EQ(cell(db, "select 正文 from content where url like '%/a/2.html'"),
              "<p>第二篇正文。</p>\n<p><img src=\"" + a2 +
                  "\"><img src=\"/uploads/broken.jpg\"><img src=\"/img/cut.jpg\"></p>");
    EXPECT_EQ(cell(db, "select count(*) from download where remoteurl like '%cut.jpg'"), "0");
    auto downloads = collect::query(db, "select cid, remoteurl from download order by remoteurl");
    std::multiset<std::string> got;
    for (std::size_t i = 0; i < downloads.rows.size(); ++i)
        got.insert(cell(db, "select url from content where id=" + downloads.text(i, "cid")) + " " +
                   downloads.text(i, "remoteurl"));
    const std::string p1 = server.url("/a/1.html") + " ", p2 = server.url("/a/2.html") + " ";
    EXPECT_EQ(got, (std::multiset<std::string>{p1 + server.url("/files/1.zip"), p1 + server.url("/img/a1/1.jpg"),
                                               p1 + server.url("/img/anim.gif"), p1 + server.url("/img/photo.png"),
                                               p2 + server.url("/files/2.zip"), p2 + server.url("/img/a2/1.jpg"),
                                               p2 + server.url("/img/broken.jpg")}));

    // A second run finds no new addresses and tries the queued row again.
    auto again = test::runCli(runArgs(ws, id));
    ASSERT_EQ(again.status, 0) << again.out;
    EXPECT_NE(again.out.find("内容采集小结：入库0条，未入库1条"), std::string::npos) << again.out;
    EXPECT_EQ(cell(db, "select count(*) from content"), "5");
}

TEST(CliContentRun, AFullDiskStoresNoRecordWithoutItsFilesAndTheNextRunRepairsIt) {
    test::SmallDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    test::LocalHttpServer server(test::articleSiteFolder());
    test::SandboxWorkspace ws;
    Json doc = Json::parse(test::articleSiteSettings({.listUrl = server.url("/list/index.html")}));
    doc["other_savepath"] = disk.path();
    const auto id = test::addCollectTask(ws, "满盘", doc.dump());
    const std::string db = ws.workspace().taskDbPath(id);
    auto getc = [&](const std::string& page) {
        return cell(db, "select getc from content where url='" + server.url(page) + "'");
    };
    disk.fill();
    auto full = test::runCli(runArgs(ws, id));
    EXPECT_EQ(full.status, 1) << full.out;
    EXPECT_NE(full.out.find("附件无法保存："), std::string::npos) << full.out;
    EXPECT_NE(full.out.find("附件无法保存 2条"), std::string::npos) << full.out;
    // The articles with files stay queued; the one without files is stored.
    EXPECT_EQ(getc("/a/1.html"), "0");
    EXPECT_EQ(getc("/a/2.html"), "0");
    EXPECT_EQ(getc("/a/3.html"), "1");
    EXPECT_EQ(cell(db, "select count(*) from download"), "0");

    disk.freeUp();
    auto again = test::runCli(runArgs(ws, id));
    ASSERT_EQ(again.status, 0) << again.out;
    EXPECT_EQ(getc("/a/1.html"), "1");
    EXPECT_EQ(getc("/a/2.html"), "1");
    // No collected record points at a file that is not recorded, or a recorded file that is not there.
    auto files = collect::query(db, "select localurl, newurl from download");
    EXPECT_EQ(files.rows.size(), 8u);  // the files of articles 1 and 2 (cut.jpg arrives whole here)
    for (std::size_t i = 0; i < files.rows.size(); ++i)
        EXPECT_TRUE(std::filesystem::exists(files.text(i, "localurl"))) << files.text(i, "localurl");
    const std::string body = cell(db, "select 正文 from content where url='" + server.url("/a/1.html") + "'");
    EXPECT_NE(body.find("<img src=\"/uploads/photo.png\""), std::string::npos) << body;
    EXPECT_EQ(body.find(server.url("/img/photo.png")), std::string::npos) << body;
}

TEST(CliContentRun, ExtractPrintsWhyARunWouldRejectTheRecord) {
    test::LocalHttpServer server(test::articleSiteFolder());
    test::SandboxWorkspace ws;
    ws.writeFile("settings.json", test::articleSiteSettings({.listUrl = server.url("/list/index.html")}));
    auto base = "--workspace " + ws.folder() + " extract --settings " + ws.path("settings.json");
    auto empty = test::runCli(base + " --page " + test::articleSiteFolder() + "/a/4.html");
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "过滤|字段[标题]为空\n");
    auto advert = test::runCli(base + " --url " + server.url("/a/5.html"));
    EXPECT_EQ(advert.status, 0);
    EXPECT_EQ(advert.out, "过滤|字段[正文]不符合排除条件|下次不采集\n");
}

// A site of many slow articles, so a run can be killed while its workers are busy.
class SlowArticles {
public:
    static constexpr int kArticles = 45;
    SlowArticles() {
        server.respond([this](const test::RecordedRequest& r) -> std::optional<test::Reply> {
            if (r.path == "/list.html") {
                std::string links;
                for (int n = 1; n <= kArticles; ++n)
                    links += "<li><a href=\"/k/" + std::to_string(n) + ".html\" title=\"t" + std::to_string(n) +
                             "\">x</a></li>";
                return test::Reply::html("<ul class=\"newslist\">" + links + "</ul>");
            }
            if (r.path.rfind("/k/", 0) == 0) {
                const std::string n = r.path.substr(3, r.path.find('.') - 3);
                test::Reply page = test::Reply::html("<h1>文章" + n + "</h1><div class=\"content\"><p>正文" + n +
                                                     "</p><img src=\"/img/a1/1.jpg\"></div>");
                page.delay = 150ms;
                return page;
            }
            return std::nullopt;
        });
    }
    test::LocalHttpServer server{test::articleSiteFolder()};
};

TEST(CliContentRun, KillingTheRunLosesNoStoredRowAndTheNextRunCompletesIt) {
    SlowArticles site;
    test::SandboxWorkspace ws;
    Json fields = Json::array();
    for (const auto& f : {Json{{"title", "标题"}, {"radio_1", "-1"}, {"radio_1_content", {"<h1>", "</h1>"}}},
                          Json{{"title", "正文"},
                               {"radio_1", "-1"},
                               {"radio_1_content", {"<div class=\"content\">", "</div>"}},
                               {"file_save", {"-1", "/up/{dd:原文件名}", "0", "0"}}}})
        fields.push_back(f.dump());
    Json doc = Json::parse(test::articleSiteSettings({.listUrl = site.server.url("/list.html")}));
    doc["fieldsAll"] = fields;
    doc.erase("Morepage2");
    doc.erase("mulpage");
    const auto id = test::addCollectTask(ws, "慢文章", doc.dump());
    const std::string db = ws.workspace().taskDbPath(id);

    {
        test::CliProcess cli({"--workspace", ws.folder(), "run", std::to_string(id)});
        const std::regex storedLine("采集内容ID:(\\d+),《文章(\\d+)》成功");
        ASSERT_TRUE(test::waitFor(
            [&] {
                const std::string out = cli.output();
                return std::distance(std::sregex_iterator(out.begin(), out.end(), storedLine),
                                     std::sregex_iterator()) >= 6;
            },
            60s))
            << cli.output();
        cli.signal(SIGKILL);
        cli.wait(10s);
        // Every row the run reported as stored is stored, with its values.
        const std::string out = cli.output();
        std::set<std::string> reported;
        for (auto it = std::sregex_iterator(out.begin(), out.end(), storedLine); it != std::sregex_iterator(); ++it) {
            reported.insert((*it)[1]);
            EXPECT_EQ(cell(db, "select getc from content where id=" + (*it)[1].str()), "1");
            EXPECT_EQ(cell(db, "select 标题 from content where id=" + (*it)[1].str()), "文章" + (*it)[2].str());
        }
        EXPECT_EQ(cell(db, "pragma integrity_check"), "ok");
        EXPECT_EQ(cell(db, "select count(*) from content"), std::to_string(SlowArticles::kArticles));
        const int collected = std::stoi(cell(db, "select count(*) from content where getc=1"));
        EXPECT_GE(collected, static_cast<int>(reported.size()));
        EXPECT_LT(collected, SlowArticles::kArticles) << "the kill came after the whole stage";
        EXPECT_EQ(cell(db, "select count(*) from content where getc=1 and 标题=''"), "0");
    }

    auto rerun = test::runCli(runArgs(ws, id));
    ASSERT_EQ(rerun.status, 0) << rerun.out;
    EXPECT_EQ(cell(db, "select count(*) from content"), std::to_string(SlowArticles::kArticles));
    EXPECT_EQ(cell(db, "select count(*) from content where getc=1"), std::to_string(SlowArticles::kArticles));
    EXPECT_EQ(cell(db, "select count(distinct url) from content"), std::to_string(SlowArticles::kArticles));
    EXPECT_EQ(cell(db,
                   "select count(*) from content where 标题 <> '文章' || substr(url, instr(url, '/k/') + 3, "
                   "instr(url, '.html') - instr(url, '/k/') - 3)"),
              "0");
    // Every record has its image recorded once and its tag rewritten.
    EXPECT_EQ(cell(db, "select count(distinct cid) from download"), std::to_string(SlowArticles::kArticles));
    EXPECT_EQ(cell(db, "select count(*) from content where 正文 not like '%<img src=\"/up/1.jpg\">%'"), "0");
}

TEST(CliContentRun, ASignalStopsTheRunWithItsExitCodeAndLeavesTheRestQueued) {
    for (auto [sig, code] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        SCOPED_TRACE(sig);
        SlowArticles site;
        test::SandboxWorkspace ws;
        Json doc = Json::parse(test::articleSiteSettings({.listUrl = site.server.url("/list.html")}));
        doc.erase("Morepage2");
        doc.erase("mulpage");
        const auto id = test::addCollectTask(ws, "信号", doc.dump());
        test::CliProcess cli({"--workspace", ws.folder(), "run", std::to_string(id)});
        ASSERT_TRUE(test::waitFor(
            [&] { return cli.output().find("==================开始采集内容==================") != std::string::npos; },
            30s))
            << cli.output();
        cli.signal(sig);
        EXPECT_EQ(cli.wait(60s), code) << cli.output();
        const std::string db = ws.workspace().taskDbPath(id);
        EXPECT_NE(cell(db, "select count(*) from content where getc=0"), "0");
    }
}

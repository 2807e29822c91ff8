// The content worker on one claimed row: over the loopback article site with a real task
// database, and the field loop alone over pages in memory (filters, the empty first field,
// plug-ins).
#include "collect/content_worker.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>
#include <vips/vips8>

#include "collect/http_fetch.h"
#include "collect/task_db.h"
#include "platform/sqlite_db.h"
#include "support/article_site.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"
#include "support/small_disk.h"

namespace tarvex::collect {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;

class Worker : public ::testing::Test {
protected:
    Worker() : server(test::articleSiteFolder()) {}

    // A task database with the site's columns and one queued row per address.
    std::shared_ptr<RunContext> run(const std::string& settings, const std::vector<std::string>& paths) {
        auto r = std::make_shared<RunContext>();
        r->taskId = 4;
        r->slot = 2;
        r->settingsJson = settings;
        r->fetchOptions = BuildFetchOptions(settings);
        r->dbPath = ws.workspace().taskDbPath(4);
        r->programFolder = ws.folder();
        r->slotDbLock = &lock;
        r->view = &view;
        r->readRunState = [this] { return std::string(stopped ? "3" : "1"); };
        test::ScriptedDialogs d;
        EXPECT_TRUE(CreateTaskDb(r->dbPath, d));
        CreateContentTables(r->dbPath, settings);
        (void)tryExecScript(r->dbPath, "alter table content add 列表标题 TEXT");  // when the list names none
        for (const auto& p : paths)
            execScript(r->dbPath, sql::InsertListAddress(server.url(p), {"列表标题"}, {"列表" + p}));
        return r;
    }

    ContentJob job(const std::shared_ptr<RunContext>& r, std::int64_t id) {
        auto row = query(r->dbPath, "select * from content where id=" + std::to_string(id));
        ContentJob j;
        j.run = r;
        j.id = id;
        j.url = row.text(0, "url");
        j.idRow = RowToText(row);
        return j;
    }
    bool collect(const std::shared_ptr<RunContext>& r, std::int64_t id) { return collectContentRow(job(r, id)); }

    std::string column(const std::shared_ptr<RunContext>& r, std::int64_t id, const std::string& name) {
        return query(r->dbPath, "select \"" + name + "\" as v from content where id=" + std::to_string(id))
            .text(0, "v");
    }

    test::SandboxWorkspace ws;
    test::LocalHttpServer server;
    test::RecordingSlotView view;
    std::mutex lock;
    std::atomic<bool> stopped{false};
};

TEST_F(Worker, StoresEveryFieldOfAnArticleWithItsPagesLevelsAndFiles) {
    auto r = run(test::articleSiteSettings({}), {"/a/1.html"});
    EXPECT_TRUE(collect(r, 1));
    EXPECT_EQ(column(r, 1, "getc"), "1");
    EXPECT_EQ(column(r, 1, "postc"), "0");
    EXPECT_EQ(column(r, 1, "标题"), "第一篇文章");
    EXPECT_EQ(column(r, 1, "正文"),
              "<p>第一页正文。</p>\n<p><img src=\"/uploads/1.jpg\"> <img src=\"/uploads/photo.png\" width=\"40\"> "
              "<img src='/img/missing.jpg'></p><hr><p>第二页正文。</p>\n<p><img src=\"/uploads/anim.gif\"></p>");
    EXPECT_EQ(column(r, 1, "作者"), "张三");
    EXPECT_EQ(column(r, 1, "附件"), "/files/1.zip");
    EXPECT_EQ(column(r, 1, "镜像"), "镜像站一");
    EXPECT_EQ(column(r, 1, "评论"), "好文章！");
    EXPECT_EQ(column(r, 1, "来源"), "来自列表/a/1.html");
    EXPECT_EQ(test::readWholeFile(ws.folder() + "data/4/pics/anim.gif"),
              test::readWholeFile(test::articleSiteFolder() + "/img/anim.gif"));
    EXPECT_EQ(test::readWholeFile(ws.folder() + "data/4/1.zip"),
              test::readWholeFile(test::articleSiteFolder() + "/files/1.zip"));
    EXPECT_EQ(query(r->dbPath, "select count(*) as n from download where cid=1").text(0, "n"), "4");
    auto pane = view.paneLines(2);
    ASSERT_FALSE(pane.empty());
    EXPECT_EQ(pane.back(), "采集内容ID:1,《第一篇文章》成功");
    EXPECT_EQ(r->tally->fields().stored, 1u);
}

TEST_F(Worker, RowsThatFailOrAreRejectedStayQueuedOrAreSkippedForGood) {
    server.on("/a/9.html", test::Reply::withStatus(500, "oops"));
    auto r = run(test::articleSiteSettings({}), {"/a/4.html", "/a/5.html", "/a/9.html", "/a/3.html"});
    EXPECT_FALSE(collect(r, 1));
    EXPECT_TRUE(collect(r, 2));
    EXPECT_FALSE(collect(r, 3));
    EXPECT_TRUE(collect(r, 4));
    // An empty first field and a failed fetch leave the row queued; "下次不采集" marks it done.
    EXPECT_EQ(column(r, 1, "getc"), "0");
    EXPECT_EQ(column(r, 2, "getc"), "1");
    EXPECT_EQ(column(r, 2, "postc"), "1");
    EXPECT_EQ(column(r, 2, "标题"), "");
    EXPECT_EQ(column(r, 3, "getc"), "0");
    // The GB2312 article is decoded; a level that finds nothing leaves its fields empty.
    EXPECT_EQ(column(r, 4, "标题"), "第三篇文章（简体中文编码）");
    EXPECT_EQ(column(r, 4, "作者"), "李四");
    EXPECT_EQ(column(r, 4, "附件"), "");
    EXPECT_EQ(column(r, 4, "评论"), "");
    const std::string a4 = server.url("/a/4.html"), a5 = server.url("/a/5.html"), a9 = server.url("/a/9.html");
    EXPECT_EQ(view.paneLines(2), (std::vector<std::string>{
                                     "采集内容ID:1失败,字段[标题]为空!网址：" + a4,
                                     "采集内容ID:2,字段[正文]不符合排除条件|下次不采集,url:" + a5,
                                     "抓取网页:" + a9 + ",返回错误：HTTP/1.1 500 Internal Server Error",
                                     "采集内容ID:3失败,字段[标题]为空!网址：" + a9,
                                     "采集内容ID:4,《第三篇文章（简体中文编码）》成功",
                                 }));
    EXPECT_EQ(r->tally->reasons(), (std::vector<std::pair<std::string, std::size_t>>{
                                       {"字段[标题]为空", 1},
                                       {"字段[正文]不符合排除条件|下次不采集", 1},
                                       {"抓取网页失败", 1},
                                   }));
}

TEST_F(Worker, ARecordRejectedAfterItsImagesRecordsNoFiles) {
    // 作者 must not be empty, and article 2 has none: its images are already fetched by then.
    Json doc = Json::parse(test::articleSiteSettings({}));
    Json author = Json::parse(doc["fieldsAll"][2].get<std::string>());
    author["check_null"] = "-1";
    doc["fieldsAll"][2] = author.dump();
    auto r = run(doc.dump(), {"/a/2.html"});
    EXPECT_FALSE(collect(r, 1));
    EXPECT_EQ(column(r, 1, "getc"), "0");
    EXPECT_FALSE(server.requestsTo("/img/a2/1.jpg").empty());
    EXPECT_EQ(query(r->dbPath, "select count(*) as n from download").text(0, "n"), "0");
    EXPECT_EQ(view.paneLines(2).back(), "采集内容ID:1失败,字段[作者]为空!网址：" + server.url("/a/2.html"));
}

TEST_F(Worker, ARecordWhoseFileRowsCannotBeWrittenIsNotStored) {
    // Without its files' rows the record would be published with images never uploaded.
    auto r = run(test::articleSiteSettings({}), {"/a/2.html"});
    execScript(r->dbPath, "drop table download");
    EXPECT_FALSE(collect(r, 1));
    EXPECT_EQ(column(r, 1, "getc"), "0");
    EXPECT_EQ(column(r, 1, "附件"), "");
    EXPECT_EQ(view.paneLines(2).back().rfind("更新数据库失败，id:1,错误码", 0), 0u) << view.paneLines(2).back();
    EXPECT_EQ(r->counters->rowsFailed.load(), 1);
    EXPECT_EQ(r->tally->reasons().front().first, "更新数据库失败");
}

TEST_F(Worker, ValuesWithNulBytesAreStoredWhole) {
    const std::string title = std::string("标题") + '\0' + "后半", body = std::string("<p>a") + '\0' + "b'c</p>";
    server.respond([&](const test::RecordedRequest& req) -> std::optional<test::Reply> {
        if (req.path != "/nul.html") return std::nullopt;
        return test::Reply::html("<h1>" + title + "</h1><div class=\"content\">" + body + "</div>");
    });
    Json fields = Json::array();
    fields.push_back(Json{{"title", "标题"}, {"radio_1", "-1"}, {"radio_1_content", {"<h1>", "</h1>"}}}.dump());
    fields.push_back(
        Json{{"title", "正文"}, {"radio_1", "-1"}, {"radio_1_content", {"<div class=\"content\">", "</div>"}}}.dump());
    auto r = run(Json{{"fieldsAll", fields}}.dump(), {"/nul.html"});
    ASSERT_TRUE(collect(r, 1)) << view.paneLines(2).back();
    EXPECT_EQ(column(r, 1, "getc"), "1");
    EXPECT_EQ(column(r, 1, "标题"), title);
    EXPECT_EQ(column(r, 1, "正文"), body);
}

TEST_F(Worker, ARecordWhoseFilesCannotBeWrittenStaysQueued) {
    test::SmallDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    Json doc = Json::parse(test::articleSiteSettings({}));
    doc["other_savepath"] = disk.path();
    auto r = run(doc.dump(), {"/a/1.html"});
    disk.fill();
    EXPECT_FALSE(collect(r, 1));
    EXPECT_EQ(column(r, 1, "getc"), "0");
    EXPECT_EQ(column(r, 1, "正文"), "");
    EXPECT_EQ(query(r->dbPath, "select count(*) as n from download").text(0, "n"), "0");
    const std::string line = view.paneLines(2).back();
    EXPECT_EQ(line.rfind("采集内容ID:1失败,附件无法保存：", 0), 0u) << line;
    EXPECT_NE(line.find("No space left on device"), std::string::npos) << line;
    EXPECT_EQ(r->counters->rowsFailed.load(), 1);
    EXPECT_EQ(r->tally->reasons().front().first, "附件无法保存");

    disk.freeUp();
    EXPECT_TRUE(collect(r, 1));
    EXPECT_EQ(query(r->dbPath, "select count(*) as n from download where cid=1").text(0, "n"), "4");
    EXPECT_EQ(test::readWholeFile(disk.path() + "/pics/anim.gif"),
              test::readWholeFile(test::articleSiteFolder() + "/img/anim.gif"));
}

TEST_F(Worker, FixedFieldsNeverFetch) {
    Json source{{"title", "来源"},
                {"radio_3", "-1"},
                {"radio_3_content_Radio1", "-1"},
                {"radio_3_content_richtext1", "来自{DD:字段=列表标题}"}};
    Json doc{{"fieldsAll", {source.dump()}}};
    auto r = run(doc.dump(), {"/a/1.html"});
    EXPECT_TRUE(collect(r, 1));
    EXPECT_EQ(column(r, 1, "来源"), "来自列表/a/1.html");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(Worker, ALockedDatabaseIsTriedThreeTimesAndTheRowStaysQueued) {
    Json title{
        {"title", "标题"}, {"radio_3", "-1"}, {"radio_3_content_Radio1", "-1"}, {"radio_3_content_richtext1", "固定"}};
    auto r = run(Json{{"fieldsAll", {title.dump()}}}.dump(), {"/a/1.html"});
    {
        const ContentJob claimed = job(r, 1);
        platform::SqliteConnection other(r->dbPath);
        other.exec("BEGIN EXCLUSIVE");
        EXPECT_FALSE(collectContentRow(claimed));
        other.exec("ROLLBACK");
    }
    auto pane = view.paneLines(2);
    ASSERT_EQ(pane.size(), 3u);
    EXPECT_EQ(pane[0].rfind("更新数据库失败，id:1,错误码", 0), 0u) << pane[0];
    EXPECT_EQ(pane[2], "更新数据库失败2，id:1");
    EXPECT_EQ(column(r, 1, "getc"), "0");
    EXPECT_EQ(r->tally->reasons().front().first, "更新数据库失败");
    EXPECT_TRUE(collect(r, 1));
    EXPECT_EQ(column(r, 1, "标题"), "固定");
}

TEST_F(Worker, AStopDuringTheFetchLeavesTheRowForTheNextRun) {
    test::Reply slow = test::Reply::file();
    slow.trickleInterval = 200ms;
    slow.trickleBytes = 8;
    server.on("/a/1.html", slow);
    auto r = run(test::articleSiteSettings({}), {"/a/1.html"});
    std::thread stopper([this] {
        std::this_thread::sleep_for(300ms);
        stopped = true;
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(collect(r, 1));
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_EQ(column(r, 1, "getc"), "0");
    EXPECT_EQ(view.paneLines(2).back(), "采集内容ID:1未完成（任务已停止），下次运行继续采集");
}

// The pixels of an image file as 8-bit sRGB.
struct Pixels {
    int width = 0, height = 0, bands = 0;
    std::vector<unsigned char> data;
    std::array<int, 3> at(int x, int y) const {
        const unsigned char* p = &data[(static_cast<std::size_t>(y) * width + x) * bands];
        return {p[0], p[1], p[2]};
    }
};
Pixels readPixels(const std::string& path) {
    auto image =
        vips::VImage::new_from_file(path.c_str()).colourspace(VIPS_INTERPRETATION_sRGB).cast(VIPS_FORMAT_UCHAR);
    Pixels p{image.width(), image.height(), image.bands(), {}};
    std::size_t size = 0;
    void* mem = image.write_to_memory(&size);
    p.data.assign(static_cast<unsigned char*>(mem), static_cast<unsigned char*>(mem) + size);
    g_free(mem);
    return p;
}

TEST_F(Worker, DownloadedImagesAreWatermarkedAndTheFirstIsThumbnailed) {
    // A green 40 x 30 mark placed by method 2 at position 9 on the red 80 x 60 picture.
    std::filesystem::copy_file(test::articleSiteFolder() + "/img/photo.png", ws.path("mark.png"));
    Json extras{{"pic_waterpic_check", "-1"},     {"pic_water_filepath", "mark.png"},
                {"pic_waterpictype_check", "-1"}, {"pic_waterpic_origin", "9"},
                {"pic_smallpic_check", "-1"},     {"pic_smallpic_width", "16"},
                {"pic_smallpic_height", "12"},    {"pic_smallpic_newname", "/uploads/s_{dd:原文件名}"}};
    auto r = run(test::articleSiteSettings({.fieldExtras = extras.dump()}), {"/a/1.html"});
    ASSERT_TRUE(collect(r, 1));
    const std::string pics = ws.folder() + "data/4/pics/";
    auto marked = readPixels(pics + "1.jpg");
    ASSERT_EQ(marked.width, 80);
    auto red = marked.at(10, 10), green = marked.at(60, 45);
    EXPECT_GT(red[0], 150);
    EXPECT_LT(red[1], 90);
    EXPECT_LT(green[0], 90);
    EXPECT_GT(green[1], 130);
    // The GIF cannot carry a method-2 mark: it stays as downloaded, and the record goes on.
    EXPECT_EQ(test::readWholeFile(pics + "anim.gif"), test::readWholeFile(test::articleSiteFolder() + "/img/anim.gif"));
    auto thumb = readPixels(pics + "s_1.jpg");
    EXPECT_EQ(thumb.width, 16);
    EXPECT_EQ(thumb.height, 12);
    auto rows = query(r->dbPath, "select localurl, newurl from download where type='smallpic'");
    ASSERT_EQ(rows.rows.size(), 1u);
    EXPECT_EQ(rows.text(0, "localurl"), pics + "s_1.jpg");
    EXPECT_EQ(rows.text(0, "newurl"), "/uploads/s_1.jpg");
    EXPECT_EQ(column(r, 1, "getc"), "1");
}

// The field loop alone.
Json fixedField(const std::string& title, const std::string& text, Json extra = Json::object()) {
    Json f{{"title", title}, {"radio_3", "-1"}, {"radio_3_content_Radio1", "-1"}, {"radio_3_content_richtext1", text}};
    f.update(extra);
    return f;
}

CollectedRecord loop(const std::vector<Json>& fields, const std::string& programFolder = "") {
    Json doc{{"fieldsAll", Json::array()}};
    for (const auto& f : fields) doc["fieldsAll"].push_back(f.dump());
    RecordSteps steps;
    steps.url = "http://h/a.html";
    steps.programFolder = programFolder;
    return collectRecord(doc, engine::ContentPageList({"page"}), {{"url", "http://h/a.html"}}, steps);
}

TEST(RecordLoop, EmptyFieldsRejectTheRecordOnlyWhereTheRuleSaysSo) {
    const Json required{{"check_null", "-1"}};
    const Json finalFilter{{"filter_open_check", "-1"},
                           {"filter_exclude_check", "-1"},
                           {"filter_exclude", "坏"},
                           {"filter_add_check", "-1"}};
    struct Case {
        const char* name;
        std::vector<Json> fields;
        std::string filter;
        std::size_t values;
    };
    const Case cases[] = {
        {"an empty first field", {fixedField("a", ""), fixedField("b", "x")}, "过滤|字段[a]为空", 0},
        {"an empty later field", {fixedField("a", "x"), fixedField("b", "")}, "", 2},
        {"an empty later field that must not be",
         {fixedField("a", "x"), fixedField("b", "", required)},
         "过滤|字段[b]为空",
         0},
        {"a final rejection",
         {fixedField("a", "好"), fixedField("b", "坏", finalFilter), fixedField("c", "")},
         "过滤|字段[b]不符合排除条件|下次不采集",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto record = loop(c.fields);
        EXPECT_EQ(record.filter, c.filter);
        EXPECT_EQ(record.values.size(), c.values);
    }
}

TEST(RecordLoop, APluginChangesWhatLaterFieldsSeeNotWhatIsStored) {
    test::SandboxWorkspace ws;
    ws.makeDir("Plugin");
    std::filesystem::copy_file(std::string(TARVEX_BIN_DIR) + "/../lib/example_plugin.so",
                               ws.path("Plugin/example_plugin.so"));
    Json plugin{{"type", "DLL插件"}, {"rep1", "example_plugin.so"}};
    auto record = loop({fixedField("a", "正文", {{"txt_strips", {plugin.dump()}}}), fixedField("b", "[{DD:字段=a}]")},
                       ws.folder());
    ASSERT_EQ(record.values.size(), 2u);
    EXPECT_EQ(record.values[0].second, "正文");
    EXPECT_EQ(record.values[1].second, "[正文\n来源：http://h/a.html]");
}

}  // namespace
}  // namespace tarvex::collect

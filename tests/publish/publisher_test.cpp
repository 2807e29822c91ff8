// The publish stage against the loopback receiving double: records written straight into a
// task database, modules saved with the real cipher, every request recorded.
#include "publish/publisher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "collect/task_db.h"
#include "platform/run_log.h"
#include "platform/sqlite_db.h"
#include "platform/text_codec.h"
#include "publish/attachment_upload.h"
#include "publish/publish_module.h"
#include "publish/record_delivery.h"
#include "support/fakes.h"
#include "support/publish_receiver.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using namespace tarvex::publish;
using test::Reply;

namespace {

struct PublishStage : ::testing::Test {
    test::SandboxWorkspace sandbox;
    test::PublishReceiver site;
    test::RecordingSlotView view;
    test::ScriptedDialogs dialogs;
    std::mutex dbLock;
    std::atomic<int> state{1};
    std::string db = sandbox.path("data/1.db3");
    nlohmann::ordered_json settings = {{"PostRuleName", "site"}, {"other_time3", "1"}, {"post_class_selected", "5"}};

    void SetUp() override {
        ASSERT_TRUE(collect::CreateTaskDb(db, dialogs));
        collect::execScript(db, collect::kNewTaskContentSql);
        collect::execScript(db, collect::kDownloadTableSql);
    }

    void module(const std::string& name, const std::vector<std::pair<std::string, std::string>>& fields,
                bool utf8 = true, std::string address = {}) {
        if (address.empty()) address = site.url();
        ASSERT_TRUE(SaveModule(ModulePath(sandbox.path("发布规则"), name), address, utf8, fields));
    }
    void standardModule(bool utf8 = true) {
        module("site",
               {{"title", "{采集字段:标题}"},
                {"body", "{采集字段:内容}"},
                {"cid", "{dd:栏目id}"},
                {"source", "{dd:网址}"}},
               utf8);
    }
    std::int64_t record(const std::string& title, const std::string& body = "正文", int getc = 1) {
        platform::SqliteConnection c(db);
        platform::SqliteStatement st(c, "insert into content(url,geturl,getc,postc,标题,内容) values (?,1,?,0,?,?)");
        st.bind(1, "http://src.example/" + title).bind(2, std::int64_t{getc}).bind(3, title).bind(4, body);
        st.run();
        return c.lastInsertRowId();
    }
    void attachment(std::int64_t cid, const std::string& local, const std::string& newUrl,
                    const std::string& type = "pic") {
        collect::execScript(
            db, collect::sql::InsertDownload(cid, "http://src.example/p", local, newUrl, type == "smallpic"));
    }
    std::string file(const std::string& rel, const std::string& content) {
        sandbox.writeFile(rel, content);
        return sandbox.path(rel);
    }
    std::vector<int> flags(const std::string& column = "postc") {
        std::vector<int> out;
        auto t = collect::query(db, "select " + platform::quoteIdentifier(column) + " from content order by id");
        for (auto& r : t.rows) out.push_back(static_cast<int>(r[0].integer));
        return out;
    }
    std::shared_ptr<collect::RunCounters> run() {
        collect::RunContext ctx;
        ctx.taskId = 1;
        ctx.slot = 2;
        ctx.settingsJson = settings.dump();
        ctx.dbPath = db;
        ctx.programFolder = sandbox.folder();
        ctx.slotDbLock = &dbLock;
        ctx.view = &view;
        ctx.dialogs = &dialogs;
        ctx.readRunState = [this] { return std::to_string(state.load()); };
        publishRecords(ctx, collect::TableColumns(db, "content", dialogs), true);
        return ctx.counters;
    }
    std::vector<std::string> pane() { return view.paneLines(2); }
    bool paneHas(const std::string& line) {
        auto p = pane();
        return std::find(p.begin(), p.end(), line) != p.end();
    }
};

}  // namespace

TEST_F(PublishStage, PostsEveryCollectedRecordInIdOrderAndMarksIt) {
    standardModule();
    record("第一篇");
    record("未采集", "x", 0);
    record("第二篇", "内容 && 更多");
    run();

    auto posts = site.posts("AddInfo");
    ASSERT_EQ(posts.size(), 2u);
    const auto& p = posts[0];
    // "tarvex" first, then the module's fields in module order, text parts in UTF-8, 8bit.
    std::vector<std::string> names;
    for (const auto& part : p.parts) names.push_back(part.name);
    EXPECT_EQ(names, (std::vector<std::string>{"tarvex", "title", "body", "cid", "source", "tarvex_key"}));
    EXPECT_EQ(p.part("title")->content, "第一篇");
    EXPECT_EQ(p.part("title")->charset, "utf-8");
    EXPECT_EQ(p.part("title")->transferEncoding, "8bit");
    EXPECT_EQ(p.field("cid"), "5");
    EXPECT_EQ(p.field("source"), "http://src.example/第一篇");
    EXPECT_EQ(posts[1].field("body"), "内容 & 更多");
    EXPECT_EQ(p.header("User-Agent"), kPublishUserAgent);
    EXPECT_FALSE(p.hasHeader("Cookie"));

    EXPECT_EQ(flags(), (std::vector<int>{1, 0, 1}));
    EXPECT_TRUE(paneHas("==================开始发布内容=================="));
    EXPECT_TRUE(paneHas("发布内容ID:1,《第一篇》成功"));
    EXPECT_TRUE(paneHas("发布内容ID:3,《第二篇》成功"));
    EXPECT_EQ(pane().back(), "内容已发布完成");

    // A second run has nothing left to send.
    site.clear();
    run();
    EXPECT_EQ(site.count("AddInfo"), 0u);
    EXPECT_EQ(pane().back(), "没有内容需要发布，跳过[内容发布]步骤");
}

TEST_F(PublishStage, GbkModulesSendGbkBytes) {
    standardModule(false);
    record("中文标题");
    run();
    auto posts = site.posts("AddInfo");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].part("title")->charset, "GBK");
    EXPECT_EQ(posts[0].field("title"), "\xD6\xD0\xCE\xC4\xB1\xEA\xCC\xE2");
    EXPECT_EQ(flags(), (std::vector<int>{1}));
}

TEST_F(PublishStage, SuccessTestAndFailureMessages) {
    struct Case {
        const char* what;
        Reply reply;
        std::string marker;  // the module's jsuccess line, "" for none
        bool published;
    } cases[] = {
        {"succ| anywhere", Reply::html("ok: succ|12"), "", true},
        {"no succ|", Reply::html("数据库错误"), "", false},
        // An error page that happens to contain the marker is still an error.
        {"status 500 with succ|", Reply::withStatus(500, "succ|"), "", false},
        {"status 404", Reply::withStatus(404, "succ|"), "", false},
        {"marker present", Reply::html("发布成功"), "发布成功", true},
        {"succ| without the marker", Reply::html("succ|"), "发布成功", false},
    };
    for (const auto& c : cases) {
        collect::execScript(db, "delete from content");
        std::vector<std::pair<std::string, std::string>> fields{{"title", "{采集字段:标题}"}};
        if (!c.marker.empty()) fields.emplace_back("jsuccess", c.marker);
        module("site", fields);
        site.answer("AddInfo", c.reply);
        const auto id = record("T");
        run();
        EXPECT_EQ(flags(), (std::vector<int>{c.published ? 1 : 0})) << c.what;
        if (!c.published) {
            auto lines = pane();
            auto found = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
                return l.rfind("id:" + std::to_string(id) + ",发布失败,接口响应内容：\r", 0) == 0;
            });
            EXPECT_NE(found, lines.end()) << c.what;
        }
        // The marker line configures the test and is not posted.
        EXPECT_EQ(site.posts("AddInfo").back().part("jsuccess"), nullptr) << c.what;
    }
}

TEST_F(PublishStage, SpecialLinesConfigureTheRequestAndAreNotPosted) {
    module("site", {{"title", "{采集字段:标题}"},
                    {"COOKIE", "first=1"},
                    {"jcookie", "wp=admin{采集字段:标题}"},
                    {"juseragent", "TestAgent/1"},
                    {"jsslversion", "1.2"}});
    record("T");
    run();
    auto p = site.posts("AddInfo").at(0);
    // The last cookie line wins; its tag is not filled.
    EXPECT_EQ(p.header("Cookie"), "wp=admin{采集字段:标题}");
    EXPECT_EQ(p.header("User-Agent"), "TestAgent/1");
    for (const auto& part : p.parts) EXPECT_NE(part.name.rfind("j", 0), 0u) << part.name;
    EXPECT_EQ(p.part("COOKIE"), nullptr);
}

TEST_F(PublishStage, MaximumReviewAndMinimumId) {
    standardModule();
    collect::execScript(db, "ALTER table content ADD '人工审核' TEXT");
    for (int i = 1; i <= 5; ++i) record("r" + std::to_string(i));
    collect::execScript(db, "update content set 人工审核='1' where id<>2");

    settings["other_post_max"] = "2";
    settings["other_check_rengong"] = "-1";
    run();
    // Record 2 is not approved: the first two approved ones go, then the maximum stops the pass.
    EXPECT_EQ(flags(), (std::vector<int>{1, 0, 1, 0, 0}));
    auto lines = pane();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "发布成功数量已超过本任务设定的最大值：2"), 1);
    EXPECT_EQ(site.count("AddInfo"), 2u);
    // The total counts approved, unpublished records only.
    bool sawTotal = false;
    for (const auto& c : view.calls())
        if (c.kind == "label" && c.text == "发布内容:当前/内容总数/成功：0/4/0") sawTotal = true;
    EXPECT_TRUE(sawTotal);

    settings["other_post_max"] = "0";
    settings["other_minid_post"] = "100";
    run();
    EXPECT_EQ(pane().back(), "(发布id>100)没有内容需要发布，跳过[内容发布]步骤");
}

TEST_F(PublishStage, SiteGroupPublishesToEachSiteWithItsOwnFlag) {
    standardModule();
    module("one", {{"t", "{采集字段:标题}"}, {"cid", "{dd:栏目id}"}}, true, site.url("/one.php"));
    // Site 7 refuses everything: its success marker never comes.
    module("seven", {{"t", "{采集字段:标题}"}, {"jsuccess", "never"}}, true, site.url("/seven.php"));
    collect::execScript(db, "ALTER table content ADD 'postc_1' TINYINT(1)  DEFAULT '0'");
    collect::execScript(db, "ALTER table content ADD 'postc_7' TINYINT(1)  DEFAULT '0'");
    record("a");
    record("b");
    // Record 1 is already on the main site and site 1.
    collect::execScript(db, "update content set postc=1, postc_1=1 where id=1");
    nlohmann::json group = {{"check1", "-1"}, {"MorePostAll", {"站点一,1,one,31,", "站点七,7,seven,37,备注"}}};
    settings["post_morepost"] = group.dump();
    run();

    EXPECT_EQ(flags("postc"), (std::vector<int>{1, 1}));
    EXPECT_EQ(flags("postc_1"), (std::vector<int>{1, 1}));
    EXPECT_EQ(flags("postc_7"), (std::vector<int>{0, 0}));
    EXPECT_EQ(site.server().requestsTo("/tarvex.php").size(), 1u);
    auto one = site.server().requestsTo("/one.php");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].field("t"), "b");
    EXPECT_EQ(one[0].field("cid"), "31");
    EXPECT_EQ(site.server().requestsTo("/seven.php").size(), 2u);
    EXPECT_TRUE(paneHas("[站点一(1/2)]发布内容ID:2,《b》成功"));
    EXPECT_TRUE(paneHas("[站点七(2/2)]id:1,发布失败,接口响应内容：\rsucc|ok"));

    // With "启用多站发布" unticked only the main site is a target.
    site.clear();
    collect::execScript(db, "update content set postc=0");
    group["check1"] = "0";
    settings["post_morepost"] = group.dump();
    run();
    EXPECT_EQ(site.server().requestsTo("/tarvex.php").size(), 2u);
    EXPECT_TRUE(site.server().requestsTo("/seven.php").empty());
}

TEST_F(PublishStage, ExtraSiteWithoutItsFlagColumnGetsOneAndBadOrRepeatedMarksAreSkipped) {
    standardModule();
    module("one", {{"t", "{采集字段:标题}"}}, true, site.url("/one.php"));
    module("two", {{"t", "{采集字段:标题}"}}, true, site.url("/two.php"));
    record("a");
    nlohmann::json group = {{"check1", "-1"}, {"MorePostAll", {"坏,x y,one,1,", "新,N2,one,2,", "重,n2,two,3,"}}};
    settings["post_morepost"] = group.dump();
    run();
    EXPECT_TRUE(paneHas("[坏(1/3)]站点标记不合法，跳过此站点：x y"));
    EXPECT_TRUE(paneHas("[重(3/3)]站点标记重复，跳过此站点：n2"));
    EXPECT_EQ(flags("postc_N2"), (std::vector<int>{1}));
    EXPECT_TRUE(site.server().requestsTo("/two.php").empty());
}

TEST_F(PublishStage, InlineAttachmentsTravelWithTheRecordAndMoveBarTwo) {
    module("site", {{"title", "{采集字段:标题}"}, {"pic", "{dd:自动缩略图}"}}, false);
    const auto id = record("图");
    attachment(id, file("files/a=1.jpg", "JPEGDATA-A"), "/up/2019/a.jpg");
    attachment(id, sandbox.path("files/gone.jpg"), "/up/2019/gone.jpg");  // deleted since
    attachment(id, file("files/图片.png", std::string(300000, 'p')), "/up/2019/图片.png");
    attachment(id, file("files/s.jpg", "S"), "/up/2019/s.jpg", "smallpic");
    settings["other_autoupload"] = "-1";
    run();

    auto p = site.posts("AddInfo").at(0);
    EXPECT_EQ(p.field("pic"), "/up/2019/s.jpg");
    std::vector<std::string> names, urls;
    for (const auto& part : p.parts) {
        if (part.name == "upload_name[]") names.push_back(platform::gb18030ToUtf8(part.content));
        if (part.name == "upload_newurl[]") urls.push_back(part.content);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a=1.jpg", "图片.png", "s.jpg"}));
    EXPECT_EQ(urls, (std::vector<std::string>{"/up/2019/a.jpg", "/up/2019/\xCD\xBC\xC6\xAC.png", "/up/2019/s.jpg"}));
    ASSERT_EQ(p.files.size(), 3u);
    EXPECT_EQ(p.files[0].content, "JPEGDATA-A");
    EXPECT_EQ(p.files[0].contentType, "image/JPEG");
    EXPECT_EQ(p.files[1].content.size(), 300000u);
    // Bar 2 ends at the size of the request it followed.
    int lastRange = 0, lastValue = -1;
    for (const auto& c : view.calls()) {
        if (c.kind == "range" && c.which == 2) lastRange = c.b;
        if (c.kind == "progress" && c.which == 2) lastValue = c.a;
    }
    EXPECT_GT(lastRange, 300000);
    EXPECT_EQ(lastValue, lastRange);
}

TEST_F(PublishStage, WebUploadModesSendAttachmentsFirst) {
    struct Case {
        const char* what;
        nlohmann::json upload;
        std::vector<std::string> ops;  // operations of the requests in order
    } cases[] = {
        {"single", {{"web_check", "-1"}, {"web_check2", "-1"}}, {"upsingle", "upsingle", "AddInfo"}},
        {"batch", {{"web_check", "-1"}, {"web_check3", "-1"}}, {"upall", "AddInfo"}},
        // 2 500 bytes in 1 KiB pieces are three pieces; the empty file sends none.
        {"pieces",
         {{"web_check", "-1"}, {"web_check2", "-1"}, {"web_checkpart", "-1"}, {"web_partsize", "1"}},
         {"upsingle_part", "upsingle_part", "upsingle_part", "AddInfo"}},
        // A piece size of 0 would divide by zero: it counts as 1 KiB.
        {"pieces of size 0",
         {{"web_check", "-1"}, {"web_check2", "-1"}, {"web_checkpart", "-1"}, {"web_partsize", "0"}},
         {"upsingle_part", "upsingle_part", "upsingle_part", "AddInfo"}},
        {"web on, neither first", {{"web_check", "-1"}, {"web_check1", "-1"}}, {"AddInfo"}},
    };
    const std::string big = [] {
        std::string s;
        for (int i = 0; i < 2500; ++i) s += static_cast<char>('a' + i % 26);
        return s;
    }();
    for (const auto& c : cases) {
        collect::execScript(db, "delete from content; delete from download");
        site.clear();
        module("site", {{"title", "{采集字段:标题}"}, {"cookie", "secret=1"}});
        const auto id = record("T");
        attachment(id, file("files/big.jpg", big), "/up/big.jpg");
        attachment(id, file("files/empty.jpg", ""), "/up/empty.jpg");
        settings["other_autoupload"] = "-1";
        settings["other_UploadSet"] = c.upload.dump();
        run();
        std::vector<std::string> ops;
        for (const auto& r : site.posts()) ops.push_back(r.field("tarvex"));
        EXPECT_EQ(ops, c.ops) << c.what;
        for (const auto& r : site.posts()) {
            if (r.field("tarvex") == "AddInfo") {
                // The record carries attachments only when nothing went first.
                EXPECT_EQ(r.files.empty(), c.ops.size() > 1) << c.what;
                continue;
            }
            EXPECT_FALSE(r.hasHeader("Cookie")) << c.what;
            EXPECT_EQ(r.header("User-Agent"), kUploadUserAgent) << c.what;
        }
        EXPECT_EQ(flags(), (std::vector<int>{1})) << c.what;
        if (std::string(c.what).rfind("pieces", 0) != 0) continue;
        // Three pieces of 1 024, 1 024 and 452 bytes, each saying parts=3, named after the
        // newurl and sent as binary.
        std::vector<std::size_t> sizes;
        for (const auto& r : site.posts("upsingle_part")) {
            EXPECT_EQ(r.field("parts"), "3");
            EXPECT_EQ(r.part("upload_file[]")->filename, "big.jpg");
            EXPECT_EQ(r.part("upload_file[]")->transferEncoding, "binary");
            sizes.push_back(r.part("upload_file[]")->content.size());
        }
        EXPECT_EQ(sizes, (std::vector<std::size_t>{1024, 1024, 452})) << c.what;
        EXPECT_EQ(site.assembled().at("/up/big.jpg"), big) << c.what;
    }
}

TEST_F(PublishStage, WebUploadGoesToItsOwnAddressAndReportsReplies) {
    standardModule();
    const auto id = record("T");
    attachment(id, file("files/a.jpg", "A"), "/up/a.jpg");
    attachment(id, file("files/b.jpg", "B"), "/up/b.jpg");
    settings["other_autoupload"] = "-1";
    settings["other_UploadSet"] =
        nlohmann::json{{"web_check", "-1"}, {"web_check2", "-1"}, {"web_url", site.url("/upload.php")}}.dump();
    site.script("upsingle", {Reply::html("磁盘已满"), Reply::html("succ|b")});
    run();
    EXPECT_EQ(site.server().requestsTo("/upload.php").size(), 2u);
    EXPECT_TRUE(paneHas("正在上传附件[1/2]:/up/a.jpg"));
    EXPECT_TRUE(paneHas("上传返回错误：磁盘已满"));
    EXPECT_TRUE(paneHas("上传附件成功!"));
    // A record whose files are not all on the site is not sent: it stays queued, counted as failed.
    EXPECT_EQ(site.count("AddInfo"), 0u);
    EXPECT_EQ(flags(), (std::vector<int>{0}));
    EXPECT_TRUE(paneHas("id:1,附件未能全部上传，本条内容暂不发布，下次运行时重试：/up/a.jpg：磁盘已满"))
        << ::testing::PrintToString(pane());
    auto uploaded = collect::query(db, "select newurl,isupload from download order by id");
    EXPECT_EQ(uploaded.text(0, "isupload"), "0");
    EXPECT_EQ(uploaded.text(1, "isupload"), "1");

    // The next run sends only the file that is missing, then the record.
    site.clear();
    run();
    auto uploads = site.server().requestsTo("/upload.php");
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].field("upload_newurl[]"), "/up/a.jpg");
    EXPECT_EQ(site.count("AddInfo"), 1u);
    EXPECT_EQ(flags(), (std::vector<int>{1}));
}

TEST_F(PublishStage, RandomOrderPublishesEachRecordOnceAndEnds) {
    standardModule();
    for (int i = 0; i < 6; ++i) record("r" + std::to_string(i));
    sandbox.writeFile("乱序发布.txt", "");
    // Every record fails: the pass must still end once each was drawn.
    site.answer("AddInfo", Reply::html("no"));
    run();
    std::set<std::string> titles;
    for (const auto& r : site.posts("AddInfo")) titles.insert(r.field("title"));
    EXPECT_EQ(site.count("AddInfo"), 6u);
    EXPECT_EQ(titles.size(), 6u);
    EXPECT_EQ(pane().back(), "内容已发布完成");

    site.clear();
    site.answer("AddInfo", test::PublishReceiver::success());
    run();
    EXPECT_EQ(site.count("AddInfo"), 6u);
    EXPECT_EQ(flags(), (std::vector<int>(6, 1)));
}

TEST_F(PublishStage, AFlagUpdateThatKeepsFailingEndsThePass) {
    standardModule();
    record("a");
    record("b");
    collect::execScript(db,
                        "CREATE TRIGGER refuse BEFORE UPDATE ON content BEGIN SELECT RAISE(ABORT, 'read only'); END");
    run();
    // Posting more would put every later record on the site unmarked.
    EXPECT_EQ(site.count("AddInfo"), 1u);
    EXPECT_TRUE(paneHas("发布成功,更新表异常：read only"));
    EXPECT_EQ(flags(), (std::vector<int>{0, 0}));
}

TEST_F(PublishStage, AFlagUpdateWaitsForABusyDatabase) {
    standardModule();
    record("a");
    // Another connection holds the write lock while the record is posted and lets go later.
    platform::SqliteConnection other(db);
    std::atomic<bool> locked{false};
    site.observe([&](const test::RecordedRequest&) {
        if (!locked.exchange(true)) other.exec("BEGIN EXCLUSIVE");
    });
    std::thread release([&] {
        test::waitFor([&] { return locked.load(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        other.exec("COMMIT");
    });
    run();
    release.join();
    EXPECT_EQ(flags(), (std::vector<int>{1}));
    EXPECT_TRUE(paneHas("发布内容ID:1,《a》成功")) << ::testing::PrintToString(pane());
}

TEST_F(PublishStage, StopDuringTheWaitSendsNothingAndPauseIsShown) {
    standardModule();
    record("a");
    record("b");
    settings["other_time3"] = "1500";
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        state = 2;
        test::waitFor([&] {
            auto p = pane();
            return !p.empty() && p.back().find("任务暂停") != std::string::npos;
        });
        state = 3;
    });
    run();
    stopper.join();
    EXPECT_EQ(site.count("AddInfo"), 0u);
    EXPECT_EQ(flags(), (std::vector<int>{0, 0}));
}

TEST_F(PublishStage, RefusesWithoutAUsableModuleOrInterval) {
    record("a");
    settings["PostRuleName"] = "";
    run();
    EXPECT_EQ(pane().back(), "发布规则没有设置！");
    settings["PostRuleName"] = "absent";
    run();
    EXPECT_EQ(pane().back(), "名称为：absent.p，的发布模块不存在");
    standardModule();
    settings["PostRuleName"] = "site";
    settings["other_time3"] = "3秒";
    run();
    EXPECT_EQ(pane().back(), "'3秒' is not a valid integer value");
    EXPECT_EQ(site.count("AddInfo"), 0u);
}

TEST_F(PublishStage, TheRunLogNeverShowsCookiesOrTheSecret) {
    sandbox.makeDir("log");
    platform::RunLog::global().init(sandbox.folder(), true, true);
    module("site",
           {{"title", "{采集字段:标题}"}, {"jcookie", "wordpress_logged_in=SESSIONVALUE"}, {"pwd", "PASSWORDVALUE"}},
           true, site.url("/tarvex.php?secret=SECRETVALUE"));
    record("a");
    run();
    const std::string log = test::readWholeFile(platform::RunLog::global().filePath());
    platform::RunLog::global().init(sandbox.folder(), false, false);
    EXPECT_NE(log.find("TMyThread.DoPost:提取发布规则文件postlist.Text："), std::string::npos);
    EXPECT_NE(log.find("TMyThread:IDHTTP:配置完毕,postlist2:"), std::string::npos);
    for (const char* secret : {"SESSIONVALUE", "PASSWORDVALUE", "SECRETVALUE"})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret;
    EXPECT_EQ(site.posts("AddInfo").at(0).field("pwd"), "PASSWORDVALUE");
}

TEST(PublishInterval, RoundsToTenMillisecondStepsTiesToEven) {
    for (auto [ms, steps] : {std::pair{1LL, 0}, {5LL, 0}, {15LL, 2}, {25LL, 2}, {300LL, 30}, {35LL, 4}})
        EXPECT_EQ(IntervalSteps(ms), steps) << ms;
}

TEST_F(PublishStage, AStopCutsARequestInFlight) {
    for (const char* op : {"AddInfo", "upsingle", "upsingle_part"}) {
        collect::execScript(db, "delete from content; delete from download");
        site.clear();
        state = 1;
        standardModule();
        const auto id = record("T");
        attachment(id, file("files/a.jpg", std::string(3000, 'a')), "/up/a.jpg");
        settings["other_autoupload"] = "-1";
        settings["other_UploadSet"] = nlohmann::json{{"web_check", "-1"},
                                                     {"web_check2", "-1"},
                                                     {"web_checkpart", op == std::string("upsingle_part") ? "-1" : "0"}}
                                          .dump();
        Reply silent = Reply::html("succ|late");
        silent.delay = std::chrono::seconds(30);
        site.answer(op, silent);
        // The stop comes while the site holds the request.
        site.observe([&, op](const test::RecordedRequest& r) {
            if (r.field("tarvex") == op) state = 3;
        });
        const auto start = std::chrono::steady_clock::now();
        run();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << op;
        EXPECT_EQ(site.count(op), 1u) << op;  // no further piece, file or record after the stop
        EXPECT_EQ(site.count("AddInfo"), op == std::string("AddInfo") ? 1u : 0u) << op;
        EXPECT_EQ(flags(), (std::vector<int>{0})) << op;
        EXPECT_TRUE(dialogs.messages().empty()) << op;  // a stop is no error to report
        site.observe({});
        site.answer(op, test::PublishReceiver::success());
    }
}

TEST_F(PublishStage, AStopWaitsBrieflyForARecordOnItsWaySoItIsNotSentTwice) {
    standardModule();
    record("a");
    record("b");
    Reply slow = test::PublishReceiver::success();
    slow.delay = std::chrono::milliseconds(400);
    site.answer("AddInfo", slow);
    // The stop comes while the site is storing the first record.
    site.observe([&](const test::RecordedRequest& r) {
        if (r.field("tarvex") == "AddInfo") state = 3;
    });
    run();
    site.observe({});
    EXPECT_EQ(site.count("AddInfo"), 1u);
    EXPECT_EQ(flags(), (std::vector<int>{1, 0}));
}

// ---- each record once ----

TEST_F(PublishStage, EveryPostCarriesAStableKeyPerRecordAndSite) {
    standardModule();
    record("a");
    record("b");
    // The first reply is lost: the connection closes after the site got the record.
    site.script("AddInfo", {Reply::connectionReset()});
    run();
    EXPECT_EQ(flags(), (std::vector<int>{0, 1}));
    run();
    EXPECT_EQ(flags(), (std::vector<int>{1, 1}));
    auto posts = site.posts("AddInfo");
    ASSERT_EQ(posts.size(), 3u);
    // The retry of "a" carries the key of the first try, so the site can recognise it.
    EXPECT_EQ(posts[0].field("title"), "a");
    EXPECT_EQ(posts[2].field("title"), "a");
    EXPECT_EQ(posts[0].field("tarvex_key"), posts[2].field("tarvex_key"));
    EXPECT_NE(posts[0].field("tarvex_key"), posts[1].field("tarvex_key"));
    EXPECT_EQ(posts[0].field("tarvex_key"), RecordKey(1, "http://src.example/a", ""));
    EXPECT_EQ(posts[0].field("tarvex_key").size(), 32u);
    // Another site, task or address is another key.
    EXPECT_NE(RecordKey(1, "http://src.example/a", "2"), RecordKey(1, "http://src.example/a", ""));
    EXPECT_NE(RecordKey(2, "http://src.example/a", ""), RecordKey(1, "http://src.example/a", ""));
}

TEST_F(PublishStage, ASuccessWhoseFlagCannotBeWrittenIsKeptAndNeverPostedAgain) {
    standardModule();
    record("a");
    record("b");
    collect::execScript(db,
                        "CREATE TRIGGER refuse BEFORE UPDATE ON content BEGIN SELECT RAISE(ABORT, "
                        "'database or disk is full'); END");
    auto counters = run();
    EXPECT_TRUE(paneHas("发布成功,更新表异常：database or disk is full"));
    EXPECT_FALSE(counters->failure().empty());
    EXPECT_EQ(sandbox.readFile("data/1.db3.published"), "postc\t1\t" + RecordKey(1, "http://src.example/a", "") + "\n");
    ASSERT_EQ(site.count("AddInfo"), 1u);

    // Still full: the record on the site is not sent again; the next one goes out.
    site.clear();
    run();
    EXPECT_TRUE(paneHas("id:1,已发布成功，发布标记待写入，不再重复发布"));
    ASSERT_EQ(site.count("AddInfo"), 1u);
    EXPECT_EQ(site.posts("AddInfo")[0].field("title"), "b");

    // Room again: the kept successes are written first and the file goes.
    collect::execScript(db, "DROP TRIGGER refuse");
    site.clear();
    run();
    EXPECT_EQ(flags(), (std::vector<int>{1, 1}));
    EXPECT_EQ(site.count("AddInfo"), 0u);
    EXPECT_FALSE(std::filesystem::exists(sandbox.path("data/1.db3.published")));

    // A kept success of a record that is gone (the database made anew) marks nothing.
    collect::execScript(db, "delete from content; delete from sqlite_sequence");
    record("new");
    sandbox.writeFile("data/1.db3.published", "postc\t1\t" + RecordKey(1, "http://src.example/a", "") + "\n");
    site.clear();
    run();
    EXPECT_EQ(site.count("AddInfo"), 1u);
    EXPECT_EQ(flags(), (std::vector<int>{1}));
    EXPECT_FALSE(std::filesystem::exists(sandbox.path("data/1.db3.published")));
}

TEST_F(PublishStage, UnsafeAttachmentNamesKeepTheRecordBackAndAreNeverSent) {
    struct Case {
        const char* what;
        std::string local, newUrl;
        nlohmann::json upload;  // empty: inline
    } cases[] = {
        {"inline script", "shell.php", "/up/shell.php", {}},
        {"inline script inside the name", "a.php.jpg", "/up/a.jpg", {}},
        {"single upload leaving the folder",
         "c.jpg",
         "/up/../../escape/c.jpg",
         {{"web_check", "-1"}, {"web_check2", "-1"}}},
        {"piece upload of a hidden file",
         "x.jpg",
         "/up/.htaccess",
         {{"web_check", "-1"}, {"web_check2", "-1"}, {"web_checkpart", "-1"}}},
        {"batch upload of phtml", "a.phtml", "/up/a.phtml", {{"web_check", "-1"}, {"web_check3", "-1"}}},
    };
    for (const auto& c : cases) {
        collect::execScript(db, "delete from content; delete from download");
        site.clear();
        view.appendPane(2, "");
        standardModule();
        const auto id = record("T");
        attachment(id, file("files/ok.jpg", "JPEG"), "/up/ok.jpg");
        attachment(id, file("files/" + c.local, "<?php system($_GET['c']);"), c.newUrl);
        settings["other_autoupload"] = "-1";
        settings["other_UploadSet"] = c.upload.empty() ? std::string() : c.upload.dump();
        auto counters = run();
        for (const auto& r : site.posts())
            for (const auto& part : r.parts)
                if (part.name == "upload_newurl[]") EXPECT_EQ(part.content, "/up/ok.jpg") << c.what;
        EXPECT_EQ(site.count("AddInfo"), 0u) << c.what;
        EXPECT_EQ(flags(), (std::vector<int>{0})) << c.what;
        EXPECT_EQ(counters->attachmentsMissing.load(), 1) << c.what;
        bool named = false;
        for (const auto& line : pane())
            if (line.find("附件拒绝上传") != std::string::npos && line.find(c.newUrl) != std::string::npos)
                named = true;
        for (const auto& line : pane())
            if (line.find("附件拒绝上传") != std::string::npos && line.find(c.local) != std::string::npos) named = true;
        EXPECT_TRUE(named) << c.what << ::testing::PrintToString(pane());
    }
}

TEST_F(PublishStage, ARedirectToAnotherSiteIsAFailureAndNothingGoesThere) {
    test::PublishReceiver elsewhere;
    standardModule();
    record("a");
    site.answer("AddInfo", Reply::redirect(elsewhere.url("/steal.php"), 307));
    run();
    EXPECT_EQ(elsewhere.server().requests().size(), 0u);
    EXPECT_EQ(flags(), (std::vector<int>{0}));
    bool shown = false;
    for (const auto& line : pane())
        if (line.find("Redirect to another site refused") != std::string::npos) shown = true;
    EXPECT_TRUE(shown) << ::testing::PrintToString(pane());

    // A redirect within the same site is followed as before.
    site.answer("AddInfo", test::PublishReceiver::success());
    site.script("AddInfo", {Reply::redirect(site.url("/moved.php"), 308)});
    run();
    EXPECT_EQ(flags(), (std::vector<int>{1}));
    EXPECT_EQ(site.server().requestsTo("/moved.php").at(0).field("title"), "a");
}

TEST(PublishTls, CertificatesAreCheckedUnlessTheModuleSaysSslverify0) {
    test::SandboxWorkspace sandbox;
    test::LocalHttpServer::Options options;
    options.tls = true;
    test::PublishReceiver site(options);
    test::RecordingSlotView view;
    test::ScriptedDialogs dialogs;
    const std::string db = sandbox.path("data/1.db3");
    ASSERT_TRUE(collect::CreateTaskDb(db, dialogs));
    collect::execScript(db, collect::kNewTaskContentSql);
    collect::execScript(db, collect::kDownloadTableSql);
    collect::execScript(db, "insert into content(url,geturl,getc,postc,标题,内容) values ('http://s/1',1,1,0,'T','B')");
    for (bool verify : {true, false}) {
        std::vector<std::pair<std::string, std::string>> fields{{"title", "{采集字段:标题}"}};
        if (!verify) fields.emplace_back("sslverify", "0");
        ASSERT_TRUE(
            SaveModule(ModulePath(sandbox.path("发布规则"), "site"), site.url("/tarvex.php?secret=S1"), true, fields));
        collect::RunContext ctx;
        ctx.taskId = 1;
        ctx.settingsJson = nlohmann::json{{"PostRuleName", "site"}, {"other_time3", "1"}}.dump();
        ctx.dbPath = db;
        ctx.programFolder = sandbox.folder();
        ctx.view = &view;
        ctx.dialogs = &dialogs;
        ctx.slotDbLock = &ctx.ownDbLock;
        publishRecords(ctx, collect::TableColumns(db, "content", dialogs), true);
        auto marked = collect::query(db, "select postc from content").text(0, "postc");
        if (verify) {
            // The self-signed certificate is refused before anything is sent.
            EXPECT_EQ(site.count("AddInfo"), 0u);
            EXPECT_EQ(marked, "0");
            bool says = false;
            for (const auto& line : view.paneLines(1))
                if (line.find("sslverify=0") != std::string::npos) says = true;
            EXPECT_TRUE(says) << ::testing::PrintToString(view.paneLines(1));
        } else {
            ASSERT_EQ(site.count("AddInfo"), 1u);
            EXPECT_EQ(marked, "1");
            EXPECT_FALSE(site.posts("AddInfo")[0].part("sslverify"));
        }
    }
}

TEST(PublishLog, CredentialLikeLinesAndQueryValuesAreRedacted) {
    const std::string module =
        "posturl=http://site/x.php?secret=S1&apikey=S2&page=3\r\ntoken=S3\r\napikey=S4\r\nauth_code=S5\r\n"
        "sign=S6\r\nsessionid=S7\r\nticket=S8\r\nx_key=S9\r\nkeywords=visible\r\ntitle=shown";
    const std::string shown = RedactForLog(module);
    for (const char* secret : {"S1", "S2", "S3", "S4", "S5", "S6", "S7", "S8", "S9"})
        EXPECT_EQ(shown.find(secret), std::string::npos) << secret << "\n" << shown;
    EXPECT_NE(shown.find("page=3"), std::string::npos);
    EXPECT_NE(shown.find("keywords=visible"), std::string::npos);
    EXPECT_NE(shown.find("title=shown"), std::string::npos);
}

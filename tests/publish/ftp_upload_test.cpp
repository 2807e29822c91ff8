// FTP upload of attachments against the loopback pyftpdlib server: the folder walk, no
// overwrite, GBK names, passive and active connections, and the publisher's FTP mode.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "collect/task_db.h"
#include "platform/ftp_client.h"
#include "platform/text_codec.h"
#include "publish/ftp_upload.h"
#include "publish/publish_module.h"
#include "publish/publisher.h"
#include "support/fakes.h"
#include "support/ftp_fixture.h"
#include "support/publish_receiver.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using namespace tarvex::publish;
namespace fs = std::filesystem;

namespace {

struct FtpUpload : ::testing::Test {
    test::SandboxWorkspace sandbox;
    test::LocalFtpServer ftp{sandbox.path("ftproot")};
    test::RecordingSlotView view;
    test::ScriptedDialogs dialogs;
    collect::RunContext run;

    void SetUp() override {
        run.view = &view;
        run.dialogs = &dialogs;
        run.slot = 1;
    }
    UploadSettings settings(const std::string& dir = "/", bool passive = true) {
        UploadSettings s;
        s.ftpCheck = true;
        s.ftpIp = "127.0.0.1";
        s.ftpPort = std::to_string(ftp.port());
        s.ftpUser = ftp.user();
        s.ftpPass = ftp.password();
        s.ftpDir = dir;
        s.ftpPassive = passive;
        return s;
    }
    std::string local(const std::string& name, const std::string& content) {
        sandbox.writeFile("files/" + name, content);
        return sandbox.path("files/" + name);
    }
    std::string remote(const std::string& rel) { return test::readWholeFile(ftp.root() + "/" + rel); }
};

}  // namespace

TEST(FtpTarget, SplitsTheNewUrlIntoFoldersAndTheFileName) {
    struct Case {
        std::string dir, newUrl;
        std::vector<std::string> folders;
        std::string file;
    } cases[] = {
        {"/", "/2019/01/a.jpg", {"2019", "01"}, "a.jpg"},
        {"\\www\\up\\", "/2019/a.jpg", {"www", "up", "2019"}, "a.jpg"},
        {"/", "http://cdn.example:8080/img/a.jpg", {"img"}, "a.jpg"},
        // Only the last segment is the file: dotted folder names are folders.
        {"", "/ver1.2/.cache/x.png", {"ver1.2", ".cache"}, "x.png"},
        {"base", "a.jpg", {"base"}, "a.jpg"},
    };
    for (const auto& c : cases) {
        auto t = FtpTargetOf(c.dir, c.newUrl);
        EXPECT_EQ(t.folders, c.folders) << c.newUrl;
        EXPECT_EQ(t.fileName, c.file) << c.newUrl;
    }
}

TEST(FtpNames, TakesTheTextAfterTheLastSemicolon) {
    EXPECT_EQ(platform::MlsdNames("type=dir;modify=1; 2019\r\ntype=file;size=3; a b.jpg \r\n\r\nplain\n"),
              (std::vector<std::string>{"2019", "a b.jpg", "plain"}));
}

TEST_F(FtpUpload, StoresEachFileInTheFoldersOfItsNewUrlBothConnectionModes) {
    for (bool passive : {true, false}) {
        const std::string sub = passive ? "p" : "a";
        std::vector<Attachment> files{{local("a.jpg", "AAA"), "/" + sub + "/2019/01/a.jpg"},
                                      {local("图片.jpg", "BBB"), "http://site.example/" + sub + "/ver1.2/图片.jpg"}};
        EXPECT_TRUE(uploadAttachmentsFtp(run, files, settings("\\www\\", passive)).complete()) << sub;
        EXPECT_EQ(remote("www/" + sub + "/2019/01/a.jpg"), "AAA") << sub;
        // The server sees GBK bytes for the name.
        const std::string gbkName = platform::encodeFromUtf8("图片.jpg", "GBK").value();
        EXPECT_EQ(remote("www/" + sub + "/ver1.2/" + gbkName), "BBB") << sub;
    }
    auto lines = view.paneLines(1);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "正在FTP上传附件：/p/2019/01/a.jpg"), lines.end());
}

TEST_F(FtpUpload, NeverOverwritesAFileThatIsThere) {
    fs::create_directories(ftp.root() + "/up");
    { std::ofstream(ftp.root() + "/up/a.jpg") << "OLD"; }
    // The file that is there counts as uploaded (an earlier run stored it) and stays as it is.
    EXPECT_TRUE(uploadAttachmentsFtp(run, {{local("a.jpg", "NEW"), "/up/a.jpg"}}, settings()).complete());
    EXPECT_EQ(remote("up/a.jpg"), "OLD");
}

TEST_F(FtpUpload, AFailedConnectionStopsTheRemainingFiles) {
    auto s = settings();
    s.ftpPass = "wrong";
    auto report = uploadAttachmentsFtp(run, {{local("a.jpg", "A"), "/a.jpg"}, {local("b.jpg", "B"), "/b.jpg"}}, s);
    EXPECT_EQ(report.uploaded, (std::vector<bool>{false, false}));
    EXPECT_FALSE(report.complete());
    auto shown = dialogs.messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("连接失败：", 0), 0u);
    s = settings();
    s.ftpPort = "twenty-one";
    EXPECT_EQ(uploadAttachmentsFtp(run, {{local("a.jpg", "A"), "/a.jpg"}}, s).uploaded, (std::vector<bool>{false}));
    EXPECT_EQ(dialogs.messages().size(), 2u);
}

TEST_F(FtpUpload, PublisherInFtpModeUploadsBeforeItPosts) {
    test::PublishReceiver site;
    const std::string db = sandbox.path("data/1.db3");
    ASSERT_TRUE(collect::CreateTaskDb(db, dialogs));
    collect::execScript(db, collect::kNewTaskContentSql);
    collect::execScript(db, collect::kDownloadTableSql);
    collect::execScript(db, "insert into content(url,geturl,getc,postc,标题,内容) values ('http://s/1',1,1,0,'T','B')");
    collect::execScript(db, collect::sql::InsertDownload(1, "http://s/p.jpg", local("p.jpg", "PIC"), "/up/2020/p.jpg"));
    ASSERT_TRUE(SaveModule(ModulePath(sandbox.path("发布规则"), "site"), site.url(), true, {{"t", "{采集字段:标题}"}}));
    auto upload = settings();
    upload.webCheck = false;
    nlohmann::json doc = {{"PostRuleName", "site"},
                          {"other_time3", "1"},
                          {"other_autoupload", "-1"},
                          {"other_UploadSet", ComposeUploadSettings(upload)}};
    std::mutex lock;
    run.settingsJson = doc.dump();
    run.dbPath = db;
    run.programFolder = sandbox.folder();
    run.slotDbLock = &lock;
    publishRecords(run, collect::TableColumns(db, "content", dialogs), true);
    EXPECT_EQ(remote("up/2020/p.jpg"), "PIC");
    auto posts = site.posts("AddInfo");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_TRUE(posts[0].files.empty());
}

TEST_F(FtpUpload, TestButtonsConnectAndStoreTheTestFileOnce) {
    EXPECT_EQ(FtpTestConnection(settings()), "连接成功！");
    auto bad = settings();
    bad.ftpPass = "wrong";
    EXPECT_EQ(FtpTestConnection(bad).rfind("连接失败：", 0), 0u);
    EXPECT_EQ(FtpTestUpload(bad, sandbox.folder()).message.rfind("连接失败：", 0), 0u);

    for (const auto& [dir, shown] :
         {std::pair<std::string, std::string>{"\\www\\up\\", "/www/up/tarvex_ftp.txt"}, {"/", "/tarvex_ftp.txt"}}) {
        auto first = FtpTestUpload(settings(dir), sandbox.folder());
        EXPECT_EQ(first.message, "上传成功！") << dir << first.log;
        // The listings of the walk and of the folder before and after are in the test log.
        EXPECT_NE(first.log.find("tarvex_ftp.txt"), std::string::npos) << dir;
        auto second = FtpTestUpload(settings(dir), sandbox.folder());
        EXPECT_EQ(second.message, "测试失败。测试文件已存在！路径是:" + shown) << dir;
    }
    EXPECT_FALSE(remote("www/up/tarvex_ftp.txt").empty());
    EXPECT_EQ(remote("www/up/tarvex_ftp.txt"), sandbox.readFile("tarvex_ftp.txt"));
}

// ---- failures keep the record queued, unsafe names never go up ----

namespace {

struct FtpPublish : FtpUpload {
    test::PublishReceiver site;
    std::string db = sandbox.path("data/1.db3");
    std::mutex lock;

    void SetUp() override {
        FtpUpload::SetUp();
        ASSERT_TRUE(collect::CreateTaskDb(db, dialogs));
        collect::execScript(db, collect::kNewTaskContentSql);
        collect::execScript(db, collect::kDownloadTableSql);
        collect::execScript(db,
                            "insert into content(url,geturl,getc,postc,标题,内容) values ('http://s/1',1,1,0,'T','B')");
        ASSERT_TRUE(
            SaveModule(ModulePath(sandbox.path("发布规则"), "site"), site.url(), true, {{"t", "{采集字段:标题}"}}));
    }
    void file(const std::string& name, const std::string& newUrl) {
        collect::execScript(db, collect::sql::InsertDownload(1, "http://s/" + name, local(name, name), newUrl));
    }
    std::shared_ptr<collect::RunCounters> publish(const UploadSettings& upload) {
        nlohmann::json doc = {{"PostRuleName", "site"},
                              {"other_time3", "1"},
                              {"other_autoupload", "-1"},
                              {"other_UploadSet", ComposeUploadSettings(upload)}};
        run.settingsJson = doc.dump();
        run.dbPath = db;
        run.programFolder = sandbox.folder();
        run.slotDbLock = &lock;
        run.counters = std::make_shared<collect::RunCounters>();
        publishRecords(run, collect::TableColumns(db, "content", dialogs), true);
        return run.counters;
    }
    std::string flag() { return collect::query(db, "select postc from content").text(0, "postc"); }
    std::vector<std::string> isUpload() {
        std::vector<std::string> out;
        auto t = collect::query(db, "select isupload from download order by id");
        for (std::size_t r = 0; r < t.rows.size(); ++r) out.push_back(t.text(r, "isupload"));
        return out;
    }
    UploadSettings ftpOnly(const test::LocalFtpServer& server) {
        auto s = settings();
        s.webCheck = false;
        s.ftpPort = std::to_string(server.port());
        return s;
    }
};

}  // namespace

TEST_F(FtpPublish, ARecordWhoseFilesDidNotAllArriveStaysQueuedAndOnlyTheMissingOnesGoLater) {
    file("a.jpg", "/up/a.jpg");
    file("b.jpg", "/blocked/b.jpg");
    // A file where the folder should be: changing into it fails.
    { std::ofstream(ftp.root() + "/blocked") << "x"; }
    auto counters = publish(ftpOnly(ftp));
    EXPECT_EQ(remote("up/a.jpg"), "a.jpg");
    EXPECT_EQ(site.count("AddInfo"), 0u);
    EXPECT_EQ(flag(), "0");
    EXPECT_EQ(counters->attachmentsMissing.load(), 1);
    EXPECT_EQ(isUpload(), (std::vector<std::string>{"1", "0"}));

    fs::remove(ftp.root() + "/blocked");
    fs::remove(ftp.root() + "/up/a.jpg");  // would come back if it were sent again
    counters = publish(ftpOnly(ftp));
    EXPECT_EQ(remote("blocked/b.jpg"), "b.jpg");
    EXPECT_FALSE(fs::exists(ftp.root() + "/up/a.jpg"));
    EXPECT_EQ(site.count("AddInfo"), 1u);
    EXPECT_EQ(flag(), "1");
    EXPECT_EQ(counters->attachmentsMissing.load(), 0);
}

TEST_F(FtpPublish, RefusedStoreAndFolderCommandsPublishNothing) {
    // A user who may list and read but neither make folders nor store files.
    test::LocalFtpServer::Options options{sandbox.path("ftproot")};
    options.perm = "elr";
    test::LocalFtpServer readOnly(options);
    fs::create_directories(ftp.root() + "/up");
    file("a.jpg", "/up/a.jpg");   // the folder is there: the store is refused
    file("b.jpg", "/new/b.jpg");  // the folder is missing: making it is refused
    auto counters = publish(ftpOnly(readOnly));
    EXPECT_EQ(site.count("AddInfo"), 0u);
    EXPECT_EQ(flag(), "0");
    EXPECT_EQ(counters->attachmentsMissing.load(), 1);
    EXPECT_EQ(isUpload(), (std::vector<std::string>{"0", "0"}));
    int failures = 0;
    for (const auto& line : view.paneLines(1))
        if (line.rfind("FTP上传失败：", 0) == 0) ++failures;
    EXPECT_EQ(failures, 2);
}

TEST_F(FtpUpload, UnsafeNamesAreRefusedAndTheOtherFilesGoOn) {
    std::vector<Attachment> files{{local("shell.php", "<?php"), "/up/shell.php"},
                                  {local("c.jpg", "C"), "/../../escape/c.jpg"},
                                  {local("a.phtml", "<?php"), "/up/a.jpg"},
                                  {local("d.jpg", "D"), "/up/.hidden/d.jpg"},
                                  {local("ok.jpg", "OK"), "/up/ok.jpg"}};
    auto report = uploadAttachmentsFtp(run, files, settings());
    EXPECT_EQ(report.uploaded, (std::vector<bool>{false, false, false, false, true}));
    ASSERT_EQ(report.problems.size(), 4u);
    EXPECT_NE(report.problems[0].find("shell.php"), std::string::npos);
    EXPECT_NE(report.problems[1].find("/../../escape/c.jpg"), std::string::npos);
    EXPECT_NE(report.problems[2].find("a.phtml"), std::string::npos);
    EXPECT_EQ(remote("up/ok.jpg"), "OK");
    std::vector<std::string> stored;
    for (auto& e : fs::recursive_directory_iterator(sandbox.folder()))
        if (e.is_regular_file() && e.path().string().find("ftproot") != std::string::npos)
            stored.push_back(fs::relative(e.path(), ftp.root()).string());
    EXPECT_EQ(stored, (std::vector<std::string>{"up/ok.jpg"}));
    EXPECT_FALSE(fs::exists(sandbox.path("escape")));
}

TEST_F(FtpUpload, AStoreAnswered553FailsThatFileOnlyAndSaysWhy) {
    test::LocalFtpServer::Options options{sandbox.path("ftproot")};
    options.refuseStore = "b.jpg";
    test::LocalFtpServer refusing(options);
    auto s = settings();
    s.ftpPort = std::to_string(refusing.port());
    auto report =
        uploadAttachmentsFtp(run, {{local("a.jpg", "A"), "/up/a.jpg"}, {local("b.jpg", "B"), "/up/b.jpg"}}, s);
    EXPECT_EQ(report.uploaded, (std::vector<bool>{true, false}));
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_NE(report.problems[0].find("/up/b.jpg"), std::string::npos) << report.problems[0];
    EXPECT_NE(report.problems[0].find("553"), std::string::npos) << report.problems[0];
    EXPECT_EQ(remote("up/a.jpg"), "A");
    EXPECT_FALSE(fs::exists(ftp.root() + "/up/b.jpg"));
}

// Attachment download against a loopback site: images of a field saved, recorded in `download`
// and their tags rewritten; direct attachments; names that collide, transfers that break,
// names taken from pages that try to leave the folder, and the login cookie kept to its site.
#include "collect/attachments.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "collect/attachment_paths.h"
#include "collect/task_db.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"
#include "support/small_disk.h"

namespace tarvex::collect {
namespace {

using nlohmann::json;

const std::string kSite = std::string(TARVEX_TEST_DATA_DIR) + "/sites/articles-with-attachments";

std::string siteFile(const std::string& rel) {
    return test::readWholeFile(kSite + "/" + rel);
}

engine::FieldRule imageRule(const std::string& nameTemplate, const std::string& folderChoice = "0",
                            json extra = json::object()) {
    json r{{"title", "正文"}, {"file_save", {"-1", nameTemplate, folderChoice, "0"}}};
    r.update(extra);
    auto rule = engine::ParseFieldRule(r.dump());
    EXPECT_TRUE(rule);
    return *rule;
}

engine::FieldRule fileRule(const std::string& nameTemplate, json extra = json::object()) {
    json r{{"title", "附件"}, {"file_save", {"0", nameTemplate, "0", "-1"}}};
    r.update(extra);
    return *engine::ParseFieldRule(r.dump());
}

struct Row {
    std::int64_t cid;
    std::string remote, local, newUrl, type;
};

class Attachments : public ::testing::Test {
protected:
    Attachments() : server(kSite) {
        db = ws.workspace().taskDbPath(7);
        test::ScriptedDialogs d;
        EXPECT_TRUE(CreateTaskDb(db, d));
        CreateContentTables(db, R"({"fieldsAll":["{\"title\":\"正文\"}"]})");
    }

    AttachmentJob job(std::int64_t row, const std::string& page = "/a/1.html") {
        AttachmentJob j;
        j.taskId = 7;
        j.rowId = row;
        j.pageUrl = server.url(page);
        j.dbPath = db;
        j.programFolder = ws.folder();
        j.dbLock = &lock;
        return j;
    }

    // One record's attachments, downloaded and recorded.
    AttachmentOutcome fetch(const AttachmentJob& j, const engine::FieldRule& rule, std::string& value,
                            const engine::FieldValueList& values = {}) {
        RecordFiles files;
        auto outcome = downloadAttachments(j, rule, value, values, files);
        EXPECT_EQ(files.store(j), "");
        return outcome;
    }

    std::vector<Row> rows() {
        auto t = query(db, "select * from download order by id");
        std::vector<Row> out;
        for (std::size_t i = 0; i < t.rows.size(); ++i)
            out.push_back({std::stoll(t.text(i, "cid")), t.text(i, "remoteurl"), t.text(i, "localurl"),
                           t.text(i, "newurl"), t.text(i, "type")});
        return out;
    }

    std::string folder() const { return ws.folder() + "data/7/"; }

    // Every file under the attachment folder, relative to it.
    std::vector<std::string> files(const std::string& sub = "") {
        std::vector<std::string> out;
        DIR* dir = ::opendir((folder() + sub).c_str());
        if (!dir) return out;
        while (dirent* e = ::readdir(dir)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            if (e->d_type == DT_DIR) {
                for (const auto& f : files(sub + name + "/")) out.push_back(f);
            } else {
                out.push_back(sub + name);
            }
        }
        ::closedir(dir);
        std::sort(out.begin(), out.end());
        return out;
    }

    test::SandboxWorkspace ws;
    test::LocalHttpServer server;
    std::string db;
    std::mutex lock;
};

TEST_F(Attachments, ImagesAreSavedRecordedAndTheirTagsRewritten) {
    std::string value = R"(<p><img alt="甲" src="/img/a1/1.jpg"> <img src="../img/photo.png" width="40"> )"
                        R"(<img src='/img/missing.jpg'> <IMG SRC="/img/a1/1.jpg"></p>)";
    auto outcome = fetch(job(3), imageRule("/uploads/{dd:原文件名}", "-1", {{"file_save_diy", "pics"}}), value, {});
    EXPECT_EQ(value, R"(<p><img src="/uploads/1.jpg"> <img src="/uploads/photo.png" width="40"> )"
                     R"(<img src='/img/missing.jpg'> <img src="/uploads/1.jpg"></p>)");
    EXPECT_EQ(outcome.stored, 3);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(files(), (std::vector<std::string>{"pics/1.jpg", "pics/photo.png"}));
    EXPECT_EQ(test::readWholeFile(folder() + "pics/1.jpg"), siteFile("img/a1/1.jpg"));
    EXPECT_EQ(test::readWholeFile(folder() + "pics/photo.png"), siteFile("img/photo.png"));
    // The address named twice is fetched once and recorded for both tags.
    EXPECT_EQ(server.requestsTo("/img/a1/1.jpg").size(), 1u);
    auto r = rows();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].cid, 3);
    EXPECT_EQ(r[0].remote, server.url("/img/a1/1.jpg"));
    EXPECT_EQ(r[0].local, folder() + "pics/1.jpg");
    EXPECT_EQ(r[0].newUrl, "/uploads/1.jpg");
    EXPECT_EQ(r[0].type, "pic");
    EXPECT_EQ(r[1].remote, server.url("/img/photo.png"));
    EXPECT_EQ(r[2].local, r[0].local);
}

TEST_F(Attachments, TwoArticlesWithDifferentImagesOfOneNameKeepBoth) {
    auto rule = imageRule("/uploads/{dd:原文件名}");
    std::string first = R"(<img src="/img/a1/1.jpg">)";
    std::string second = R"(<img src="/img/a2/1.jpg">)";
    fetch(job(1), rule, first);
    fetch(job(2, "/a/2.html"), rule, second);
    EXPECT_EQ(first, R"(<img src="/uploads/1.jpg">)");
    EXPECT_EQ(second, R"(<img src="/uploads/1-2.jpg">)");
    EXPECT_EQ(test::readWholeFile(folder() + "1.jpg"), siteFile("img/a1/1.jpg"));
    EXPECT_EQ(test::readWholeFile(folder() + "1-2.jpg"), siteFile("img/a2/1.jpg"));

    // Collecting the first article again reuses its file without fetching it.
    std::string again = R"(<img src="/img/a1/1.jpg">)";
    fetch(job(1), rule, again);
    EXPECT_EQ(again, R"(<img src="/uploads/1.jpg">)");
    EXPECT_EQ(server.requestsTo("/img/a1/1.jpg").size(), 1u);
    EXPECT_EQ(rows().size(), 3u);
}

TEST_F(Attachments, ABrokenTransferLeavesNoFileAndIsFetchedAgainNextTime) {
    test::Reply cut = test::Reply::file();
    cut.truncateAfter = 100;
    server.on("/img/cut.jpg", cut);
    server.on("/img/gone.jpg", test::Reply::withStatus(404, "<html>not here</html>"));
    auto rule = imageRule("{dd:原文件名}");
    std::string value = R"(<img src="/img/cut.jpg"><img src="/img/gone.jpg">)";
    const std::string before = value;
    auto outcome = fetch(job(1), rule, value);
    EXPECT_EQ(value, before);
    EXPECT_EQ(outcome.failed, 2);
    EXPECT_TRUE(files().empty()) << files().front();
    EXPECT_TRUE(rows().empty());

    server.clearRules();
    fetch(job(1), rule, value);
    EXPECT_EQ(value, R"(<img src="cut.jpg"><img src="/img/gone.jpg">)");
    EXPECT_EQ(test::readWholeFile(folder() + "cut.jpg"), siteFile("img/cut.jpg"));
}

TEST_F(Attachments, AFailedDownloadNeverAdoptsAFileAlreadyAtItsName) {
    // A leftover at the planned name, recorded for no address: not the image of the page.
    ws.writeFile("data/7/missing.jpg", "6bytes");
    ws.writeFile("data/7/none.zip", "6bytes");
    std::string image = R"(<img src="/img/missing.jpg">)";
    const std::string before = image;
    auto outcome = fetch(job(1), imageRule("/up/{dd:原文件名}"), image);
    EXPECT_EQ(image, before);
    EXPECT_EQ(outcome.failed, 1);
    std::string direct = "/files/none.zip";
    auto directOutcome = fetch(job(2), fileRule("/up/{dd:原文件名}"), direct);
    EXPECT_EQ(directOutcome.failed, 1);
    EXPECT_TRUE(rows().empty());

    // A download that succeeds replaces the leftover with the image.
    std::string found = R"(<img src="/img/photo.png">)";
    ws.writeFile("data/7/photo.png", "6bytes");
    fetch(job(3), imageRule("/up/{dd:原文件名}"), found);
    EXPECT_EQ(found, R"(<img src="/up/photo.png">)");
    EXPECT_EQ(test::readWholeFile(folder() + "photo.png"), siteFile("img/photo.png"));
}

TEST_F(Attachments, EachFieldNamesItsFilesByItsOwnRules) {
    auto body = imageRule("/up/{dd:原文件名}", "-1", {{"file_save_diy", "body"}});
    json second{
        {"title", "摘要"}, {"file_save", {"-1", "/thumbs/s_{dd:原文件名}", "-1", "0"}}, {"file_save_diy", "lead"}};
    auto lead = *engine::ParseFieldRule(second.dump());
    json same{{"title", "副本"}, {"file_save", {"-1", "/up/{dd:原文件名}", "-1", "0"}}, {"file_save_diy", "body"}};
    auto copy = *engine::ParseFieldRule(same.dump());

    RecordFiles files;
    std::string a = R"(<img src="/img/photo.png">)", b = a, c = a;
    downloadAttachments(job(1), body, a, {}, files);
    downloadAttachments(job(1), lead, b, {}, files);
    downloadAttachments(job(1), copy, c, {}, files);
    ASSERT_EQ(files.store(job(1)), "");
    EXPECT_EQ(a, R"(<img src="/up/photo.png">)");
    EXPECT_EQ(b, R"(<img src="/thumbs/s_photo.png">)");
    EXPECT_EQ(c, R"(<img src="/up/photo.png">)");
    EXPECT_EQ(this->files(), (std::vector<std::string>{"body/photo.png", "lead/s_photo.png"}));
    EXPECT_EQ(test::readWholeFile(folder() + "lead/s_photo.png"), siteFile("img/photo.png"));
    // The third field names the file as the first did: that file is recorded again, not fetched.
    EXPECT_EQ(server.requestsTo("/img/photo.png").size(), 2u);
    auto r = rows();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].local, folder() + "body/photo.png");
    EXPECT_EQ(r[1].local, folder() + "lead/s_photo.png");
    EXPECT_EQ(r[1].newUrl, "/thumbs/s_photo.png");
    EXPECT_EQ(r[2].local, r[0].local);
}

TEST_F(Attachments, AFileThatCannotBeWrittenIsAWriteFailureAndLeavesNothingBehind) {
    test::SmallDisk disk;
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    disk.fill();
    AttachmentJob j = job(1);
    j.savePath = disk.path();
    for (const auto& rule : {imageRule("/up/{dd:原文件名}"), fileRule("/up/{dd:原文件名}")}) {
        SCOPED_TRACE(rule.title);
        RecordFiles files;
        std::string value = rule.title == "正文" ? R"(<img src="/img/photo.png">)" : "/files/1.zip";
        auto outcome = downloadAttachments(j, rule, value, {}, files);
        EXPECT_NE(outcome.writeError.find("No space left on device"), std::string::npos) << outcome.writeError;
        EXPECT_EQ(files.writeError, outcome.writeError);
        EXPECT_TRUE(files.statements().empty());
    }
    // Only the filler is on the disk: no partial file stayed.
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(disk.path())) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{".filler"});

    // A site that does not give the file is not a write failure.
    disk.freeUp();
    RecordFiles files;
    std::string value = R"(<img src="/img/missing.jpg">)";
    auto outcome = downloadAttachments(j, imageRule("/up/{dd:原文件名}"), value, {}, files);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(outcome.writeError, "");
    EXPECT_EQ(files.writeError, "");
}

TEST_F(Attachments, NamesAndFoldersFromPagesStayInsideTheAttachmentFolder) {
    struct Case {
        std::string folderValue, nameValue;
    };
    const Case cases[] = {
        {"../../../outside", "x.jpg"},
        {"/etc", "passwd"},
        {"a/../../..", ".."},
        {"..\\..\\win", "..."},
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folderValue + " " + c.nameValue);
        engine::FieldValueList values{{"栏目", c.folderValue}, {"名", c.nameValue}};
        std::string value = R"(<img src="/img/photo.png">)";
        fetch(job(++row), imageRule("/up/{DD:字段=名}", "-1", {{"file_save_diy", "{DD:字段=栏目}"}}), value, values);
        auto r = rows();
        ASSERT_FALSE(r.empty());
        EXPECT_TRUE(IsInsideFolder(folder(), r.back().local)) << r.back().local;
        EXPECT_EQ(test::readWholeFile(r.back().local), siteFile("img/photo.png"));
    }
}

TEST_F(Attachments, TheLoginCookieGoesOnlyToTheContentPagesHost) {
    test::LocalHttpServer other(kSite);
    AttachmentJob j = job(1);
    j.cookie = "sid=secret";
    auto rule = fileRule("/files/{dd:原文件名}", {{"pic_referer_check", "-1"}});
    std::string own = "/files/1.zip";
    std::string foreign = other.url("/files/2.zip");
    fetch(j, rule, own);
    fetch(j, rule, foreign);
    EXPECT_EQ(own, "/files/1.zip");
    EXPECT_EQ(foreign, "/files/2.zip");
    auto mine = server.requestsTo("/files/1.zip");
    auto theirs = other.requestsTo("/files/2.zip");
    ASSERT_EQ(mine.size(), 1u);
    ASSERT_EQ(theirs.size(), 1u);
    EXPECT_EQ(mine[0].header("Cookie"), "sid=secret");
    EXPECT_FALSE(theirs[0].hasHeader("Cookie"));
    EXPECT_EQ(theirs[0].header("Referer"), j.pageUrl);
    EXPECT_EQ(test::readWholeFile(folder() + "2.zip"), siteFile("files/2.zip"));
    EXPECT_EQ(rows().size(), 2u);
}

TEST_F(Attachments, ADirectAttachmentTakesItsNewNameEvenWhenTheDownloadFails) {
    std::string value = "  /files/none.zip ";
    auto outcome = fetch(job(1), fileRule("http://cdn.example/{dd:原文件名}"), value);
    EXPECT_EQ(value, "http://cdn.example/none.zip");
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_TRUE(rows().empty());
}

TEST_F(Attachments, CountedNamesSkipImagesThatFail) {
    std::string value = R"(<img src="/img/a1/1.jpg"><img src="/img/none.jpg"><img src="/img/a2/1.jpg">)";
    fetch(job(1), imageRule("/p/{dd:自增id}.jpg"), value);
    EXPECT_EQ(value, R"(<img src="/p/1.jpg"><img src="/img/none.jpg"><img src="/p/2.jpg">)");
    EXPECT_EQ(test::readWholeFile(folder() + "2.jpg"), siteFile("img/a2/1.jpg"));
}

TEST_F(Attachments, AddressesTooLongOrWithBlanksFollowTheRuleOptions) {
    const std::string longPath = "/img/" + std::string(600, 'a') + ".jpg";
    server.on("/img/a b.png", [] {
        test::Reply r;
        r.body = siteFile("img/photo.png");
        r.contentType = "image/png";
        return r;
    }());
    std::string value = "<img src=\"" + longPath + "\"><img src=\"/img/a b.png\"><img src=/img/photo.png >";
    const std::string before = value;
    fetch(job(1), imageRule("{dd:原文件名}", "0", {{"pic_blank_check", "-1"}}), value);
    // The long address is neither fetched nor rewritten; the unquoted one is not recognised.
    EXPECT_EQ(value, "<img src=\"" + longPath + "\"><img src=\"a b.png\"><img src=/img/photo.png >");
    EXPECT_TRUE(server.requestsTo(longPath).empty());
    EXPECT_TRUE(server.requestsTo("/img/photo.png").empty());
    EXPECT_EQ(test::readWholeFile(folder() + "a b.png"), siteFile("img/photo.png"));
}

TEST(DownloadAddress, EncodesWhatAnAddressCannotCarryAndKeepsItsEscapes) {
    EXPECT_EQ(DownloadAddress("http://h/图 1.jpg"), "http://h/%E5%9B%BE%201.jpg");
    EXPECT_EQ(DownloadAddress("http://h/a%20b.jpg?x=%E5"), "http://h/a%20b.jpg?x=%E5");
    EXPECT_EQ(DownloadAddress("http://h/100%.jpg"), "http://h/100%25.jpg");
}

}  // namespace
}  // namespace tarvex::collect

namespace tarvex::collect {
namespace {

TEST_F(Attachments, WhatIsNotAnImageIsNotStoredAsOne) {
    // An error page sent as a JPEG, PHP source named .png, and a tag that names a script.
    server.on("/img/err.jpg", test::Reply::html("<html>404 Not Found</html>"));
    server.on("/img/x.png", test::Reply::html("<?php system($_GET['c']); ?>"));
    server.on("/img/x.php", test::Reply::file());
    auto rule = imageRule("{dd:原文件名}");
    std::string value =
        R"(<img src="/img/err.jpg"><img src="/img/x.png"><img src="/img/x.php"><img src="/img/photo.png">)";
    auto outcome = fetch(job(1), rule, value);
    // The tags keep their addresses; only the real image is stored and rewritten.
    EXPECT_EQ(value, R"(<img src="/img/err.jpg"><img src="/img/x.png"><img src="/img/x.php"><img src="photo.png">)");
    EXPECT_EQ(outcome.stored, 1);
    EXPECT_EQ(outcome.failed, 3);
    EXPECT_EQ(files(), (std::vector<std::string>{"photo.png"}));
    EXPECT_EQ(server.requestsTo("/img/x.php").size(), 0u);  // a script name is not even fetched
    ASSERT_EQ(rows().size(), 1u);
    EXPECT_EQ(rows()[0].newUrl, "photo.png");
}

TEST_F(Attachments, ADirectFileNeverGetsAnExecutableName) {
    std::string value = "/files/2.zip";
    auto outcome = fetch(job(1), fileRule("{dd:原文件名}.php"), value);
    EXPECT_EQ(outcome.stored, 0);
    EXPECT_EQ(outcome.failed, 1);
    EXPECT_EQ(value, "/files/2.zip");
    EXPECT_TRUE(files().empty());
    EXPECT_TRUE(rows().empty());
}

}  // namespace
}  // namespace tarvex::collect

// The order in which a downloaded image is processed, with image operations that record their
// calls and write plain marker files: which watermark applies, the ".temp" swap, what a failed
// or half-written mark leaves, and the thumbnail of a record's first image with its row.
#include "collect/image_processing.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "collect/attachments.h"
#include "collect/task_db.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"

namespace tarvex::collect {
namespace {

using nlohmann::json;

// Image operations that write what they were asked to do into the destination file.
struct RecordingOps {
    std::vector<std::string> calls;
    bool fail = false;
    bool leaveHalfFile = false;
    platform::PictureWatermark lastPicture;

    ImageOps ops() {
        ImageOps o;
        o.pictureMark = [this](const std::string& src, const std::string& dst, const platform::PictureWatermark& m) {
            lastPicture = m;
            return draw("picture", src, dst);
        };
        o.textMark = [this](const std::string& src, const std::string& dst, const platform::TextWatermark& m) {
            return draw("text:" + m.text, src, dst);
        };
        o.thumbnail = [this](const std::string& src, const std::string& dst, int w, int h) {
            return draw("thumb:" + std::to_string(w) + "x" + std::to_string(h), src, dst);
        };
        return o;
    }
    platform::ImageResult draw(const std::string& what, const std::string& src, const std::string& dst) {
        calls.push_back(what);
        if (fail) {
            if (leaveHalfFile) writeFile(dst, "half");
            return {false, "cannot decode"};
        }
        writeFile(dst, what + "(" + test::readWholeFile(src) + ")");
        return {true, ""};
    }
    static void writeFile(const std::string& path, const std::string& text) {
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
};

class ImageOrder : public ::testing::Test {
protected:
    ImageOrder() {
        ws.writeFile("mark.png", "PNGMARK");
        ws.writeFile("img.jpg", "IMAGE");
        image = ws.path("img.jpg");
    }
    ImageSettings settings(json keys) { return ImageSettings::read(engine::FieldRuleJson::parse(keys.dump())); }

    test::SandboxWorkspace ws;
    std::string image;
    RecordingOps rec;
};

TEST_F(ImageOrder, ThePictureMarkWinsWhenItsFileExistsAndReplacesTheImage) {
    auto s = settings({{"pic_waterpic_check", "-1"},
                       {"pic_water_filepath", ws.path("mark.png")},
                       {"pic_transparent", "40"},
                       {"pic_quality", "85"},
                       {"pic_waterstring_check", "-1"},
                       {"pic_water_string", "水印"}});
    EXPECT_EQ(watermarkImage(s, image, ws.folder(), rec.ops()), std::nullopt);
    EXPECT_EQ(rec.calls, std::vector<std::string>{"picture"});
    EXPECT_EQ(test::readWholeFile(image), "picture(IMAGE)");
    EXPECT_EQ(test::readWholeFile(image + ".temp"), "");
    EXPECT_DOUBLE_EQ(rec.lastPicture.opacity, 0.4);
    EXPECT_EQ(rec.lastPicture.quality, 85);
    EXPECT_FALSE(rec.lastPicture.centred);

    // A "中间.txt" in the program folder centres the mark; method 2 takes position and offsets.
    ws.writeFile("中间.txt", "");
    (void)watermarkImage(s, image, ws.folder(), rec.ops());
    EXPECT_TRUE(rec.lastPicture.centred);
    auto m2 = settings({{"pic_waterpic_check", "-1"},
                        {"pic_water_filepath", "mark.png"},
                        {"pic_waterpictype_check", "-1"},
                        {"pic_waterpic_origin", "3"},
                        {"pic_waterpic_x", "5"},
                        {"pic_waterpic_y", "20"}});
    EXPECT_EQ(watermarkImage(m2, image, ws.folder(), rec.ops()), std::nullopt);
    EXPECT_TRUE(rec.lastPicture.method2);
    EXPECT_EQ(rec.lastPicture.position, 3);
    EXPECT_EQ(rec.lastPicture.offsetX, 5);
    EXPECT_EQ(rec.lastPicture.offsetY, 20);
    EXPECT_EQ(rec.lastPicture.markPath, ws.path("mark.png"));
}

TEST_F(ImageOrder, WhichMarkAppliesAndWhatAFailureLeaves) {
    struct Case {
        const char* name;
        json keys;
        bool fail, half, staleTemp;
        std::vector<std::string> calls;
        std::string image;
        bool error;
    };
    const json missingPicture{{"pic_waterpic_check", "-1"}, {"pic_water_filepath", "/no/such.png"}};
    const Case cases[] = {
        {"nothing ticked", json{{"pic_water_string", "x"}}, false, false, false, {}, "IMAGE", false},
        {"text ticked without text", json{{"pic_waterstring_check", "-1"}}, false, false, false, {}, "IMAGE", false},
        {"quality is no number",
         json{{"pic_waterpic_check", "-1"}, {"pic_water_filepath", "mark.png"}, {"pic_quality", "高"}},
         false,
         false,
         false,
         {},
         "IMAGE",
         true},
        {"a failed mark",
         json{{"pic_waterpic_check", "-1"}, {"pic_water_filepath", "mark.png"}},
         true,
         false,
         false,
         {"picture"},
         "IMAGE",
         true},
        {"a failed mark that wrote half a file",
         json{{"pic_waterpic_check", "-1"}, {"pic_water_filepath", "mark.png"}},
         true,
         true,
         false,
         {"picture"},
         "IMAGE",
         true},
        {"a stale .temp and a failed mark",
         json{{"pic_waterpic_check", "-1"}, {"pic_water_filepath", "mark.png"}},
         true,
         false,
         true,
         {"picture"},
         "IMAGE",
         true},
        {"a missing picture falls back to an unreadable colour",
         [&] {
             json k = missingPicture;
             k.update({{"pic_waterstring_check", "-1"}, {"pic_water_string", "水印"}, {"pic_water_color", "red"}});
             return k;
         }(),
         false,
         false,
         false,
         {},
         "IMAGE",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ws.writeFile("img.jpg", "IMAGE");
        if (c.staleTemp) ws.writeFile("img.jpg.temp", "OLD MARK");
        rec.calls.clear();
        rec.fail = c.fail;
        rec.leaveHalfFile = c.half;
        auto error = watermarkImage(settings(c.keys), image, ws.folder(), rec.ops());
        EXPECT_EQ(error.has_value(), c.error) << error.value_or("");
        EXPECT_EQ(rec.calls, c.calls);
        EXPECT_EQ(test::readWholeFile(image), c.image);
        EXPECT_EQ(test::readWholeFile(image + ".temp"), "");
    }
}

TEST_F(ImageOrder, ThumbnailNamesStayInTheImagesFolder) {
    auto plan = [&](const std::string& name) {
        std::string error;
        auto p = planThumbnail(settings({{"pic_smallpic_newname", name}}), "/w/a/photo.jpg", error,
                               platform::SystemClock::instance(), engine::DefaultRandom());
        return p ? p->path + " " + p->address : "refused";
    };
    EXPECT_EQ(plan("/small/\r\ns_{dd:原文件名}"), "/w/a/s_photo.jpg /small/s_photo.jpg");
    // The thumbnail is JPEG data: its name says so whatever the image or the template says.
    EXPECT_EQ(plan("/small/s_{dd:原文件名}.png"), "/w/a/s_photo.jpg.jpg /small/s_photo.jpg.jpg");
    EXPECT_EQ(plan("/small/t.PNG"), "/w/a/t.jpg /small/t.jpg");
    EXPECT_EQ(plan("/small/t.JPEG"), "/w/a/t.JPEG /small/t.JPEG");
    EXPECT_EQ(plan("/small.v2/t"), "/w/a/t.jpg /small.v2/t.jpg");
    EXPECT_EQ(plan("/small/t.php"), "/w/a/t.jpg /small/t.jpg");
    EXPECT_EQ(plan("/small/t.php.png"), "refused");
    EXPECT_EQ(plan("http://x/../.."), "/w/a/_ http://x/../..");
    // A name that would overwrite the image itself, and one without a file name.
    EXPECT_EQ(plan("/small/{dd:原文件名}"), "refused");
    EXPECT_EQ(plan("http://x/"), "refused");
}

// Through the attachment download: the mark is drawn on fresh downloads only, and only the
// record's first image that yields one gets a thumbnail and its 'smallpic' row.
TEST(ImageOrderInDownloads, MarkOnceThumbnailTheFirstImageOfTheRecord) {
    test::LocalHttpServer server(std::string(TARVEX_TEST_DATA_DIR) + "/sites/articles-with-attachments");
    test::SandboxWorkspace ws;
    ws.writeFile("mark.png", "PNGMARK");
    const std::string db = ws.workspace().taskDbPath(3);
    test::ScriptedDialogs d;
    ASSERT_TRUE(CreateTaskDb(db, d));
    CreateContentTables(db, R"({"fieldsAll":["{\"title\":\"正文\"}"]})");
    std::mutex lock;
    RecordingOps rec;
    auto jobFor = [&](std::int64_t row) {
        AttachmentJob j;
        j.taskId = 3;
        j.rowId = row;
        j.pageUrl = server.url("/a/1.html");
        j.dbPath = db;
        j.programFolder = ws.folder();
        j.dbLock = &lock;
        j.imageOps = rec.ops();
        return j;
    };
    json keys{{"title", "正文"},
              {"file_save", {"-1", "/up/{dd:原文件名}", "0", "0"}},
              {"pic_waterpic_check", "-1"},
              {"pic_water_filepath", "mark.png"},
              {"pic_smallpic_check", "-1"},
              {"pic_smallpic_width", "30"},
              {"pic_smallpic_height", "20"},
              {"pic_smallpic_newname", "/up/s_{dd:原文件名}"}};
    auto rule = *engine::ParseFieldRule(keys.dump());

    RecordFiles files;
    std::string first = R"(<img src="/img/a1/1.jpg"><img src="/img/photo.png">)";
    std::string second = R"(<img src="/img/a1/1.jpg">)";
    downloadAttachments(jobFor(1), rule, first, {}, files);
    downloadAttachments(jobFor(1), rule, second, {}, files);
    EXPECT_TRUE(files.hasThumbnail);
    ASSERT_EQ(files.store(jobFor(1)), "");
    // a1/1.jpg marked and thumbnailed, photo.png marked; the second field's copy is reused.
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"picture", "thumb:30x20", "picture"}));
    const std::string folder = ws.folder() + "data/3/";
    const std::string original =
        test::readWholeFile(std::string(TARVEX_TEST_DATA_DIR) + "/sites/articles-with-attachments/img/a1/1.jpg");
    EXPECT_EQ(test::readWholeFile(folder + "1.jpg"), "picture(" + original + ")");
    EXPECT_EQ(test::readWholeFile(folder + "s_1.jpg"), "thumb:30x20(picture(" + original + "))");
    auto rows = query(db, "select type, remoteurl, localurl, newurl from download order by id");
    ASSERT_EQ(rows.rows.size(), 4u);
    EXPECT_EQ(rows.text(0, "type"), "pic");
    EXPECT_EQ(rows.text(1, "type"), "smallpic");
    EXPECT_EQ(rows.text(1, "remoteurl"), server.url("/img/a1/1.jpg"));
    EXPECT_EQ(rows.text(1, "localurl"), folder + "s_1.jpg");
    EXPECT_EQ(rows.text(1, "newurl"), "/up/s_1.jpg");
    EXPECT_EQ(rows.text(2, "newurl"), "/up/photo.png");
    EXPECT_EQ(rows.text(3, "type"), "pic");

    // A record whose first image fails to thumbnail gives the next one the chance.
    rec.calls.clear();
    RecordFiles next;
    RecordingOps failing;
    failing.fail = true;
    auto j = jobFor(2);
    j.imageOps.thumbnail = failing.ops().thumbnail;
    std::string third = R"(<img src="/img/anim.gif">)";
    downloadAttachments(j, rule, third, {}, next);
    EXPECT_FALSE(next.hasThumbnail);
    j.imageOps = rec.ops();
    std::string fourth = R"(<img src="/img/a2/1.jpg">)";
    downloadAttachments(j, rule, fourth, {}, next);
    EXPECT_TRUE(next.hasThumbnail);
    ASSERT_EQ(next.store(j), "");
    EXPECT_EQ(query(db, "select count(*) as n from download where type='smallpic' and cid=2").text(0, "n"), "1");
}

}  // namespace
}  // namespace tarvex::collect

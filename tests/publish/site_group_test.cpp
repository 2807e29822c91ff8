// Site-group lists, publishing targets, the entry checks, and the upload settings object.
#include "publish/site_group.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>

#include "publish/upload_settings.h"

using namespace tarvex::publish;

TEST(SiteGroup, TargetsAreTheMainSiteThenTheEnabledGroupInOrder) {
    nlohmann::json group = {{"check1", "-1"}, {"MorePostAll", {"甲,1,m1,31,", "乙,b_2,m2,0,备注"}}};
    nlohmann::json doc = {{"PostRuleName", "main"}, {"post_morepost", group.dump()}};
    auto t = PublishTargets(doc.dump());
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].entryText(), "主站@!@@!@main@!@0");
    EXPECT_EQ(t[0].flagColumn(), "postc");
    EXPECT_EQ(t[1].entryText(), "甲@!@1@!@m1@!@31");
    EXPECT_EQ(t[2].flagColumn(), "postc_b_2");

    group["check1"] = "0";
    doc["post_morepost"] = group.dump();
    doc["post_class_selected"] = "8";
    t = PublishTargets(doc.dump());
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].columnId, "8");
}

TEST(SiteGroup, ComposeRoundTripsAndAnEmptyListIsEmptyText) {
    SiteGroup g{true, {{"甲", "1", "m", "3", "r"}}};
    auto back = ParseSiteGroup(ComposeSiteGroup(g));
    EXPECT_TRUE(back.enabled);
    ASSERT_EQ(back.sites.size(), 1u);
    EXPECT_EQ(back.sites[0].remark, "r");
    EXPECT_EQ(ComposeSiteGroup({true, {}}), "");
    EXPECT_TRUE(ParseSiteGroup("not json").sites.empty());
}

TEST(SiteGroup, EntryChecksInOrder) {
    const std::vector<SiteEntry> sites{{"甲", "a1", "m", "0", ""}, {"乙", "b", "m", "0", ""}};
    struct Case {
        const char* what;
        SiteEntry entry;
        int editing;
        bool moduleExists;
        const char* message;  // nullptr: accepted
    } cases[] = {
        {"empty name", {"  ", "c", "m", "0", ""}, -1, true, "标题不能为空！"},
        {"same name", {"甲", "c", "m", "0", ""}, -1, true, "标题不能重复！"},
        {"same mark", {"丙", "a1", "m", "0", ""}, -1, true, "标记不能重复！"},
        // SQLite column names ignore case: A1 would be the same flag column as a1.
        {"same mark other case", {"丙", "A1", "m", "0", ""}, -1, true, "标记不能重复！"},
        {"edit to another's name", {"乙", "z", "m", "0", ""}, 0, true, "修改发布站点的名称不能与其他字段重复！"},
        // Editing compares marks too, so two sites never share a flag column.
        {"edit to another's mark", {"甲", "b", "m", "0", ""}, 0, true, "标记不能重复！"},
        {"edit keeping its own", {" 甲 ", "a1", "m", "0", ""}, 0, true, nullptr},
        {"mark with a quote", {"丙", "x'", "m", "0", ""}, -1, true, "标记只能由1到4个英文字母、数字或下划线组成！"},
        {"mark too long", {"丙", "abcde", "m", "0", ""}, -1, true, "标记只能由1到4个英文字母、数字或下划线组成！"},
        {"column id not digits", {"丙", "c", "m", "x", ""}, -1, true, "栏目id只能是数字！"},
        {"comma", {"丙,丁", "c", "m", "0", ""}, -1, true, "各项内容不能包含英文逗号\",\""},
        {"module missing", {"丙", "c", "m", "0", ""}, -1, false, "发布规则文件不存在！文件路径:/w/发布规则/m.p"},
        {"fine", {"丙", "c_1", "m", "12", "备注"}, -1, true, nullptr},
    };
    for (auto c : cases) {
        auto msg = CheckSiteEntry(c.entry, sites, c.editing, c.moduleExists, "/w/发布规则/m.p");
        if (c.message)
            EXPECT_EQ(msg.value_or("(accepted)"), c.message) << c.what;
        else
            EXPECT_FALSE(msg) << c.what << ": " << *msg;
    }
}

TEST(UploadSettings, ModeFollowsTheBoxes) {
    auto text = [](std::initializer_list<std::pair<const char*, const char*>> kv) {
        nlohmann::json o = nlohmann::json::object();
        for (auto [k, v] : kv) o[k] = v;
        return o.dump();
    };
    EXPECT_EQ(SelectUploadMode(false, text({{"web_check", "-1"}, {"web_check2", "-1"}})), UploadMode::Inline);
    EXPECT_EQ(SelectUploadMode(true, ""), UploadMode::Inline);
    EXPECT_EQ(SelectUploadMode(true, text({{"web_check", "-1"}, {"web_check1", "-1"}})), UploadMode::Inline);
    EXPECT_EQ(SelectUploadMode(true, text({{"web_check", "-1"}, {"web_check3", "true"}})), UploadMode::Web);
    EXPECT_EQ(SelectUploadMode(true, text({{"web_check", "0"}, {"ftp_check", "-1"}})), UploadMode::Ftp);
    EXPECT_EQ(SelectUploadMode(true, text({{"web_check", "0"}, {"ftp_check", "0"}})), UploadMode::Inline);
}

TEST(UploadSettings, DialogObjectHasEveryKeyTrimmedAndReadsBack) {
    UploadSettings s = UploadDialogDefaults();
    s.webUrl = "  http://x/up.php ";
    s.ftpCheck = true;
    s.webCheck = false;
    const std::string text = ComposeUploadSettings(s);
    auto o = nlohmann::json::parse(text);
    std::vector<std::string> keys;
    for (auto it = o.begin(); it != o.end(); ++it) keys.push_back(it.key());
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"ftp_Passive", "ftp_check", "ftp_dir", "ftp_ip", "ftp_pass", "ftp_port",
                                              "ftp_user", "web_check", "web_check1", "web_check2", "web_check3",
                                              "web_checkpart", "web_partsize", "web_url"}));
    EXPECT_EQ(o["web_url"], "http://x/up.php");
    EXPECT_EQ(o["ftp_Passive"], "-1");
    EXPECT_EQ(o["web_check"], "0");
    auto back = ReadUploadSettings(text, UploadDialogDefaults());
    EXPECT_TRUE(back.ftpCheck);
    EXPECT_FALSE(back.webCheck);
    EXPECT_EQ(back.ftpDir, "/");
    EXPECT_EQ(FtpBaseFolder("\\www\\up\\"), "www/up");
    EXPECT_EQ(PieceBytes("0"), 1024);
    EXPECT_EQ(PieceBytes("abc"), 1024);
    EXPECT_EQ(PieceBytes("64"), 65536);
}

TEST(UploadSettings, SaveRefusesBothGroupsAndNumbersThatAreNone) {
    struct Case {
        const char* what;
        std::function<void(UploadSettings&)> change;
        const char* refusal;  // nullptr: may be stored
    } cases[] = {
        {"defaults", [](UploadSettings&) {}, nullptr},
        {"both groups", [](UploadSettings& s) { s.ftpCheck = true; }, "web上传与FTP上传不能同时选择"},
        {"piece size 0", [](UploadSettings& s) { s.webCheckPart = true, s.webPartSize = "0"; },
         "分片大小必须是大于0的整数"},
        // Only what is switched on is checked.
        {"piece size 0, pieces off", [](UploadSettings& s) { s.webPartSize = "0"; }, nullptr},
        {"port text", [](UploadSettings& s) { s.webCheck = false, s.ftpCheck = true, s.ftpPort = "ftp"; },
         "FTP端口必须是1到65535之间的整数"},
        {"port too big", [](UploadSettings& s) { s.webCheck = false, s.ftpCheck = true, s.ftpPort = "70000"; },
         "FTP端口必须是1到65535之间的整数"},
    };
    for (const auto& c : cases) {
        UploadSettings s = UploadDialogDefaults();
        c.change(s);
        auto refusal = UploadSettingsRefusal(s);
        EXPECT_EQ(refusal.value_or("(stored)"), c.refusal ? c.refusal : "(stored)") << c.what;
    }
}

// The "多页提取" window's model: its refusals, the levels it stores, deleting and renaming
// parents, and "测试提取" over a loopback page.
#include "app/forms/multi_level_form.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "collect/http_fetch.h"
#include "support/local_http_server.h"

namespace tarvex::app {
namespace {

LevelForm textLevel(const std::string& title, const std::string& parent = "顶级内容页") {
    LevelForm l;
    l.title = title;
    l.parent = parent;
    l.begin = "<a class=\"down\" href=\"";
    l.end = "\"";
    return l;
}

TEST(MultiLevelForm, ALevelIsRefusedUntilItCanFindItsPage) {
    struct Case {
        const char* name;
        std::function<void(LevelForm&)> change;
        std::optional<std::string> refusal;
    };
    const Case cases[] = {
        {"complete", [](LevelForm&) {}, std::nullopt},
        {"no title", [](LevelForm& l) { l.title = "  "; }, "标题不能为空"},
        {"no front text", [](LevelForm& l) { l.begin.clear(); }, "前边字符不能为空"},
        {"no back text", [](LevelForm& l) { l.end.clear(); }, "后边字符不能为空"},
        {"a pattern without its parameter", [](LevelForm& l) { l.byPattern = true; }, "正则前后截取必须包含“{参数1}”"},
        {"a pattern with it",
         [](LevelForm& l) {
             l.byPattern = true;
             l.begin = "href=\"{参数1}\"";
         },
         std::nullopt},
        {"made from the address, nothing to find",
         [](LevelForm& l) {
             l.fromText = false;
             l.begin.clear();
         },
         "网址中要替换的内容不能为空"},
        {"pages without their area", [](LevelForm& l) { l.hasPages = true; },
         "您已设置分页按扭打勾，但是前后匹配内容没有设置"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MultiLevelForm form;
        LevelForm l = textLevel("下载页");
        c.change(l);
        EXPECT_EQ(form.saveLevel(-1, l), c.refusal);
        EXPECT_EQ(form.levels().size(), c.refusal ? 0u : 1u);
    }
}

TEST(MultiLevelForm, TitlesAreUniqueParentsCannotBeDeletedAndRenamesCarryOver) {
    MultiLevelForm form;
    EXPECT_EQ(form.finish(), "没有新建或修改多页，无需保存！");
    ASSERT_EQ(form.saveLevel(-1, textLevel("Down")), std::nullopt);
    ASSERT_EQ(form.saveLevel(-1, textLevel("镜像", "Down")), std::nullopt);
    EXPECT_EQ(form.saveLevel(-1, textLevel("down")), "标题不能与现有的重复！");
    EXPECT_EQ(form.saveLevel(-1, textLevel("顶级内容页")), "标题不能与现有的重复！");
    EXPECT_EQ(form.parentChoices(1), (std::vector<std::string>{"顶级内容页", "Down"}));
    EXPECT_EQ(form.removeLevel(0), "当前删除的类目下有子页面<镜像>，无法删除！");

    LevelForm renamed = form.levels()[0];
    renamed.title = "下载页";
    ASSERT_EQ(form.saveLevel(0, renamed), std::nullopt);
    EXPECT_EQ(form.levels()[1].parent, "下载页");
    EXPECT_EQ(form.finish(), std::nullopt);

    // Stored and read back as the run reads it.
    auto stored = nlohmann::json::parse(form.toJson());
    ASSERT_EQ(stored["MorePageAll"].size(), 2u);
    auto child = nlohmann::json::parse(stored["MorePageAll"][1].get<std::string>());
    EXPECT_EQ(child["fatherurl"], "下载页");
    EXPECT_EQ(child["radio_1"], "-1");
    EXPECT_EQ(child["radio_2"], "0");
    EXPECT_EQ(child["check_mulpage"], "0");
    auto again = MultiLevelForm::fromJson(form.toJson());
    EXPECT_EQ(again.levels(), form.levels());

    ASSERT_EQ(form.removeLevel(1), std::nullopt);
    ASSERT_EQ(form.removeLevel(0), std::nullopt);
    EXPECT_EQ(form.toJson(), "");
}

TEST(MultiLevelForm, TestExtractionFollowsTheLevelsBeforeIt) {
    test::LocalHttpServer server;
    server.on("/a/1.html", test::Reply::html(R"(<a class="down" href="/down/1.html">d</a>)"));
    server.on("/down/1.html", test::Reply::html(R"(<a class="mirror" href="/m/1.html">m</a>)"));
    server.on("/m/1.html", test::Reply::html("<p>镜像内容</p>"));
    auto fetch = [](const std::string& url, const std::string& options) { return collect::HttpGet(url, options); };
    LevelForm mirror = textLevel("镜像页", "下载页");
    mirror.begin = "<a class=\"mirror\" href=\"";
    auto result = TestLevel({textLevel("下载页")}, mirror, server.url("/a/1.html"), "", fetch);
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.address, server.url("/m/1.html"));
    EXPECT_EQ(result.text, "<p>镜像内容</p>");

    EXPECT_EQ(TestLevel({}, mirror, "", "", fetch).error, "请输入测试网址");
    EXPECT_EQ(TestLevel({}, mirror, server.url("/none.html"), "", fetch).error.rfind("抓取网页失败：", 0), 0u);
}

}  // namespace
}  // namespace tarvex::app

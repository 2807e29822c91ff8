// Single-page mode without windows: one article of the loopback attachment site collected with
// the settings area's document (every field in order, pages joined, images fetched, nothing
// stored), fetch failures with their texts, which results may be published, the publication of
// that one record through the publisher, and the visual editor's page and read-back rules.
#include "app/single_page/single_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "collect/task_db.h"
#include "publish/publish_module.h"
#include "support/article_site.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "support/publish_receiver.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
namespace fs = std::filesystem;

namespace {

struct SinglePage : ::testing::Test {
    test::SandboxWorkspace sandbox;
    app::Workspace ws = sandbox.workspace();
    test::LocalHttpServer server{test::articleSiteFolder()};
    std::int64_t taskId = 0;
    app::SettingsForm form;

    void SetUp() override {
        const std::string settings = test::articleSiteSettings({server.url("/list/index.html")});
        taskId = test::addCollectTask(sandbox, "文章", settings);
        std::string error;
        ASSERT_TRUE(app::LoadSettings(settings, ws, taskId, form, &error)) << error;
    }

    std::vector<std::string> collect(const std::string& url, app::SinglePageCollect* out = nullptr,
                                     app::SinglePageFiles* files = nullptr) {
        std::vector<std::string> lines;
        auto r = app::CollectSinglePage(
            ws, taskId, app::SinglePageDocument(form, false), url,
            [&lines](const std::string& l) { lines.push_back(l); }, true, files);
        if (out) *out = r;
        return lines;
    }

    static std::vector<std::string> fieldLines(const std::vector<std::string>& lines) {
        std::vector<std::string> out;
        for (const auto& l : lines)
            if (l.rfind("{采集字段:", 0) == 0) out.push_back(l.substr(0, l.find('}') + 1));
        return out;
    }
};

TEST_F(SinglePage, CollectsEveryFieldInOrderWithPagesAndImagesAndStoresNothing) {
    const std::string url = server.url("/a/1.html");
    app::SinglePageCollect result;
    app::SinglePageFiles files;
    const auto lines = collect(url, &result, &files);
    ASSERT_TRUE(result.ok) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines.front(), "正在采集内容页：" + url);
    EXPECT_EQ(fieldLines(lines),
              (std::vector<std::string>{"{采集字段:标题}", "{采集字段:正文}", "{采集字段:作者}", "{采集字段:附件}",
                                        "{采集字段:镜像}", "{采集字段:评论}", "{采集字段:来源}"}));
    ASSERT_EQ(result.values.size(), 7u);
    EXPECT_EQ(result.values[0], (std::pair<std::string, std::string>{"标题", "第一篇文章"}));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "{采集字段:作者}：张三"), lines.end());
    const std::string& body = result.values[1].second;
    EXPECT_NE(body.find("第一页正文"), std::string::npos);
    EXPECT_NE(body.find("第二页正文"), std::string::npos);  // the second page was followed
    // Images were fetched and the value points at their new addresses.
    EXPECT_EQ(body.find("/img/a1/1.jpg"), std::string::npos) << body;
    ASSERT_FALSE(files.attachments.empty());
    for (const auto& f : files.attachments) EXPECT_TRUE(fs::exists(f.localPath)) << f.localPath;
    // Not a row, not a download row.
    EXPECT_EQ(collect::query(ws.taskDbPath(taskId), "select count(*) as n from content").text(0, "n"), "0");
    EXPECT_EQ(collect::query(ws.taskDbPath(taskId), "select count(*) as n from download").text(0, "n"), "0");
}

TEST_F(SinglePage, EmptyFieldsAndFilterRejectionsAreMarkedWithTheirReason) {
    app::SinglePageCollect result;
    auto lines = collect(server.url("/a/4.html"), &result);
    ASSERT_TRUE(result.ok) << ::testing::PrintToString(lines);
    ASSERT_EQ(result.checks.size(), 7u);
    EXPECT_EQ(result.checks[0].name, "标题");
    EXPECT_EQ(result.checks[0].reason, "前边字符与后边字符之间没有内容");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "字段[标题]为空：前边字符与后边字符之间没有内容"), lines.end())
        << ::testing::PrintToString(lines);
    EXPECT_EQ(result.checks[1].reason, "");  // 正文 has a value

    // The advertisement passes in single-page mode, but a run would keep it out: say so.
    lines = collect(server.url("/a/5.html"), &result);
    ASSERT_TRUE(result.ok);
    EXPECT_NE(result.checks[1].filter.find("会被筛选过滤拒绝"), std::string::npos) << result.checks[1].filter;
}

TEST_F(SinglePage, FetchFailuresShowTheirTextAndCollectNothing) {
    server.on("/gone.html", test::Reply::withStatus(404, "missing"));
    server.on("/empty.html", test::Reply::html(""));
    struct Case {
        std::string path, line;
    };
    for (const Case& c : {Case{"/gone.html", ",返回错误："}, Case{"/empty.html", ",返回空字符串"}}) {
        app::SinglePageCollect result;
        const std::string url = server.url(c.path);
        const auto lines = collect(url, &result);
        EXPECT_FALSE(result.ok);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind("抓取网页:" + url + c.line, 0), 0u) << lines.back();
        EXPECT_TRUE(fieldLines(lines).empty());
    }
}

TEST_F(SinglePage, TheJobRecordsStatusAndOnlyItsOwnResultsMayBePublished) {
    test::RecordingSlotView view;
    app::SinglePageState state;
    auto run = [&](const std::string& url) {
        app::SinglePageJob job;
        job.taskId = taskId;
        job.settingsJson = app::SinglePageDocument(form, false);
        job.url = "  " + url + " ";
        job.workspace = ws;
        job.state = &state;
        job.view = &view;
        job.run();
    };
    const std::string good = server.url("/a/1.html");
    run(good);
    ASSERT_EQ(state.status(), app::SinglePageState::Status::Collected);
    EXPECT_EQ(state.url(), good);
    const auto calls = view.calls();
    EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const auto& c) {
        return c.kind == "label" && c.slot == app::kRunLogSlot && c.which == 2 && c.text == "采集结束";
    }));
    EXPECT_EQ(view.paneLines(app::kRunLogSlot).front(), "正在采集内容页：" + good);

    EXPECT_EQ(state.publishRefusal(taskId, " " + good), "");
    EXPECT_EQ(state.publishRefusal(taskId + 1, good), app::kNotCollectedHereText);
    EXPECT_EQ(state.publishRefusal(taskId, server.url("/a/2.html")), app::kNotCollectedHereText);

    server.on("/down.html", test::Reply::withStatus(500));
    run(server.url("/down.html"));
    EXPECT_EQ(state.status(), app::SinglePageState::Status::Failed);
    EXPECT_TRUE(state.values().empty());
    EXPECT_EQ(state.publishRefusal(taskId, server.url("/down.html")), app::kNotCollectedHereText);
}

TEST_F(SinglePage, PublishChecksComeInOrder) {
    app::SinglePageState state;
    state.start(taskId, "http://x/1");
    state.finish(app::SinglePageState::Status::Collected, {{"标题", "t"}});
    app::SettingsForm f = form;
    f.testUrl = "http://x/1";
    EXPECT_EQ(app::SinglePublishRefusal(ws, 0, f, state), "请先指定一个任务再开始");
    f.postClassSelected = "";
    EXPECT_EQ(app::SinglePublishRefusal(ws, taskId, f, state), "手动发布模式,左边任务区域需指定栏目");
    f.noClassNeeded = true;
    f.postRuleName = "";
    EXPECT_EQ(app::SinglePublishRefusal(ws, taskId, f, state), "发布规则没有设置！");
    f.postRuleName = "none";
    EXPECT_EQ(app::SinglePublishRefusal(ws, taskId, f, state), "名称为：none.p，的发布模块不存在");
    ASSERT_TRUE(publish::SaveModule(publish::ModulePath(ws.publishFolder, "none"), "http://x/", true, {{"a", "b"}}));
    EXPECT_EQ(app::SinglePublishRefusal(ws, taskId, f, state), "");
    f.testUrl = "http://x/2";
    EXPECT_EQ(app::SinglePublishRefusal(ws, taskId, f, state), app::kNotCollectedHereText);
}

TEST_F(SinglePage, DocumentsCarryTheAreasUnsavedValues) {
    form.testUrl = "  http://site/a.html ";
    form.postClassSelected = "";
    form.mulpage = "";
    auto collectDoc = app::ParseSettings(app::SinglePageDocument(form, false)).value();
    EXPECT_EQ(collectDoc["is_onepage"], "-1");
    EXPECT_EQ(collectDoc["other_testurl"], "http://site/a.html");
    EXPECT_FALSE(collectDoc.contains("mulpage"));  // empty sections are left out
    EXPECT_TRUE(collectDoc.contains("Morepage2"));
    EXPECT_EQ(collectDoc["fieldsAll"].size(), form.fields.size());
    auto publishDoc = app::ParseSettings(app::SinglePageDocument(form, true)).value();
    EXPECT_FALSE(publishDoc.contains("is_onepage"));
    EXPECT_FALSE(publishDoc.contains("post_class_selected"));
    form.postClassSelected = "7";
    publishDoc = app::ParseSettings(app::SinglePageDocument(form, true)).value();
    EXPECT_EQ(publishDoc["post_class_selected"], "7");
}

TEST_F(SinglePage, PublishesTheOneRecordWithItsTags) {
    test::PublishReceiver site;
    site.answer("AddInfo", test::PublishReceiver::success());
    ASSERT_TRUE(publish::SaveModule(publish::ModulePath(ws.publishFolder, "site"), site.url(), true,
                                    {{"title", "{采集字段:标题}"},
                                     {"body", "{采集字段:正文}"},
                                     {"from", "{dd:网址}"},
                                     {"classid", "{dd:栏目id}"}}));
    form.postRuleName = "site";
    form.postClassSelected = "12";
    test::RecordingSlotView view;
    const std::string url = "http://source/a.html";
    EXPECT_TRUE(app::PublishSinglePage(ws, taskId, app::SinglePageDocument(form, true), url,
                                       {{"标题", "题"}, {"正文", "一\r\n二"}}, &view, nullptr));
    const auto post = site.posts("AddInfo").at(0);
    EXPECT_EQ(post.field("title"), "题");
    EXPECT_EQ(post.field("body"), "一\r\n二");
    EXPECT_EQ(post.field("from"), url);
    EXPECT_EQ(post.field("classid"), "12");
    EXPECT_EQ(view.paneLines(app::kRunLogSlot).back(), "发布成功");

    site.answer("AddInfo", test::Reply::html("fail|重复"));
    EXPECT_FALSE(
        app::PublishSinglePage(ws, taskId, app::SinglePageDocument(form, true), url, {{"标题", "题"}}, &view, nullptr));
    EXPECT_EQ(view.paneLines(app::kRunLogSlot).back(), "发布失败,接口响应内容：\rfail|重复");
}

TEST(VisualEditorPage, ElementsFollowTheLayoutWithHeightsByLength) {
    struct Case {
        std::string name;
        std::size_t length;
        std::string style;
    };
    for (const Case& c : {Case{"内容", 5, "width:750px;height:400px;"}, Case{"标题", 50, "width:650px;height:20px;"},
                          Case{"标题", 51, "width:650px;height:40px;"}, Case{"标题", 101, "width:650px;height:60px;"},
                          Case{"标题", 201, "width:650px;height:80px;"}}) {
        std::string value;
        for (std::size_t i = 0; i < c.length; ++i) value += "字";
        EXPECT_EQ(app::VisualEditorElement(c.name, value),
                  "<li><span class=\"lititle1\">" + c.name + "：</span><textarea name=\"" + c.name + "\" id=\"" +
                      c.name + "\" style=\"" + c.style + "\">" + value + "</textarea></li>")
            << c.name << c.length;
    }
    // Markup and entities are written as text, so the page gives them back as they were.
    EXPECT_NE(app::VisualEditorElement("a", "&lt;b&gt; </textarea>").find(">&amp;lt;b&amp;gt; &lt;/textarea&gt;<"),
              std::string::npos);
    EXPECT_EQ(app::VisualEditorPage("<ul>{dd:内容}</ul>", {{"a", "1"}}),
              "<ul>" + app::VisualEditorElement("a", "1") + "\r\r\r</ul>");
}

TEST(VisualEditorPage, ValuesReadBackKeepTheirBytesUnlessEdited) {
    struct Case {
        std::string given, fromPage, expected;
    };
    for (const Case& c : {
             Case{"一\r\n二", "一\n二", "一\r\n二"},        // unchanged apart from line ends
             Case{"\r\n开头", "开头", "\r\n开头"},          // the text area drops a leading break
             Case{"一\r\n二", "一\n改", "一\r\n改"},        // edited: CR LF kept
             Case{"one\ntwo", "one\nthree", "one\nthree"},  // edited, LF value
             Case{"a \"q\" &amp;", "a \"q\" &amp;", "a \"q\" &amp;"},
             Case{std::string("bad \xff"), "bad \xEF\xBF\xBD", std::string("bad \xff")},
         })
        EXPECT_EQ(app::ValueFromEditor(c.given, c.fromPage), c.expected) << c.given;
}

}  // namespace

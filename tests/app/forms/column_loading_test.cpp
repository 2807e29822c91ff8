// "加载栏目" against the loopback receiving double: the request a module makes, the replies
// that are and are not a column list, and the wait that keeps the window responsive and ends.
#include "app/forms/column_loading.h"

#include <gtest/gtest.h>

#include <chrono>

#include "app/forms/background_work.h"
#include "publish/publish_module.h"
#include "support/fakes.h"
#include "support/publish_receiver.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using test::Reply;

namespace {

struct ColumnLoading : ::testing::Test {
    test::SandboxWorkspace sandbox;
    app::Workspace ws = app::Workspace::at(sandbox.folder());
    test::PublishReceiver site;
    test::ScriptedDialogs dialogs;

    void module(const std::string& name, bool utf8,
                const std::vector<std::pair<std::string, std::string>>& fields = {}) {
        ASSERT_TRUE(publish::SaveModule(publish::ModulePath(ws.publishFolder, name), site.url(), utf8, fields));
    }
};

}  // namespace

TEST_F(ColumnLoading, AsksWithTheModulesCharsetAndCookieAndKeepsTheList) {
    const std::string list = "@@@<br/>新闻###1###0<br/>国内###2###1<br/>";
    for (bool utf8 : {true, false}) {
        site.clear();
        module("m", utf8, {{"cookie", "not=this"}, {"jcookie", "wp=1"}, {"juseragent", "UA/1"}, {"title", "x"}});
        site.answer("GetAllClass", utf8 ? Reply::html(list, "utf-8")
                                        : Reply::html("@@@<br/>\xD0\xC2\xCE\xC5###1###0<br/>"
                                                      "\xB9\xFA\xC4\xDA###2###1<br/>",
                                                      "gbk"));
        auto got = app::LoadColumns(ws, "m", dialogs);
        ASSERT_TRUE(got) << utf8;
        EXPECT_EQ(*got, list) << utf8;
        auto posts = site.posts();
        ASSERT_EQ(posts.size(), 1u);
        // One field only; the module's own fields are not sent.
        ASSERT_EQ(posts[0].parts.size(), 1u);
        EXPECT_EQ(posts[0].field("tarvex"), "GetAllClass");
        EXPECT_EQ(posts[0].parts[0].charset, utf8 ? "UTF-8" : "GBK");
        EXPECT_EQ(posts[0].parts[0].transferEncoding, utf8 ? "8bit" : "binary");
        EXPECT_EQ(posts[0].header("Cookie"), "wp=1");
        EXPECT_EQ(posts[0].header("User-Agent"), "UA/1");
    }
    EXPECT_TRUE(dialogs.messages().empty());
}

TEST_F(ColumnLoading, RefusesWhatIsNoColumnList) {
    module("m", true);
    const std::string address = site.url();
    struct Case {
        const char* what;
        Reply reply;
        std::vector<std::string> messages;
    } cases[] = {
        {"no @@@", Reply::html("name###1###0<br/>"), {"返回错误，请检查接口文件:name###1###0<br/>"}},
        {"empty", Reply::html(""), {"返回错误，请检查接口文件:"}},
        // An error page is an error even when it holds a list.
        {"status 500",
         Reply::withStatus(500, "@@@<br/>a###1###0<br/>"),
         {"POST提交URL:" + address + ",提示错误：HTTP/1.1 500 Internal Server Error", "返回错误，请检查接口文件:"}},
    };
    for (const auto& c : cases) {
        dialogs.clear();
        site.answer("GetAllClass", c.reply);
        EXPECT_FALSE(app::LoadColumns(ws, "m", dialogs)) << c.what;
        EXPECT_EQ(dialogs.messages(), c.messages) << c.what;
    }
    dialogs.clear();
    EXPECT_FALSE(app::LoadColumns(ws, "", dialogs));
    EXPECT_FALSE(app::LoadColumns(ws, "absent", dialogs));
    EXPECT_EQ(dialogs.messages(),
              (std::vector<std::string>{"请先选择一个发布接口！", "名称为：absent.p，的发布模块不存在"}));
}

TEST_F(ColumnLoading, TheWindowStaysResponsiveAndASilentSiteIsGivenUpOn) {
    module("m", true);
    Reply slow = Reply::html("@@@<br/>a###1###0<br/>");
    slow.delay = std::chrono::milliseconds(600);
    site.answer("GetAllClass", slow);
    int turns = 0;
    app::ColumnLoadOptions options;
    options.keepResponsive = [&] { ++turns; };
    options.pollMs = 20;
    EXPECT_TRUE(app::LoadColumns(ws, "m", dialogs, options));
    EXPECT_GE(turns, 10);

    // A site that answers after the checks ran out: the wait ends, the request is dropped.
    slow.delay = std::chrono::seconds(20);
    site.answer("GetAllClass", slow);
    options.maxChecks = 5;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(app::LoadColumns(ws, "m", dialogs, options));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(dialogs.messages().back(), "返回错误，请检查接口文件:");
}

TEST(RunResponsive, ReportsWhetherTheWorkFinishedInTime) {
    EXPECT_TRUE(app::RunResponsive([](const std::atomic<bool>&) {}, {}, 10, 3));
    int turns = 0;
    // Work that only ends when asked to is asked once the checks run out.
    bool sawCancel = false;
    EXPECT_FALSE(app::RunResponsive(
        [&](const std::atomic<bool>& cancel) {
            while (!cancel) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            sawCancel = true;
        },
        [&] { ++turns; }, 10, 3));
    EXPECT_TRUE(sawCancel);
    EXPECT_EQ(turns, 3);
}

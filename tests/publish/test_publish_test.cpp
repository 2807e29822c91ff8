// The module editor's test publication against the receiving interface script on loopback:
// the success rule (a "jsuccess" marker or "succ|"), the special lines acting on the request
// while still sent as fields, the form's charset, and the run log keeping cookies out.
#include <gtest/gtest.h>

#include "platform/http_client.h"
#include "platform/run_log.h"
#include "platform/text_codec.h"
#include "publish/module_test.h"
#include "support/fakes.h"
#include "support/publish_receiver.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using Fields = std::vector<std::pair<std::string, std::string>>;

TEST(TestPublish, SucceedsOnTheModulesMarkerOrElseOnSucc) {
    test::PublishReceiver site;
    struct Case {
        const char* reply;
        bool withMarker;
        bool succeeds;
    };
    for (const Case& c : {Case{"succ|ok", false, true}, Case{"posted: DONE", true, true}, Case{"succ|ok", true, false},
                          Case{"error|no", false, false}}) {
        site.answer("AddInfo", test::Reply::html(c.reply));
        Fields fields{{"title", "标题"}};
        if (c.withMarker) fields.emplace_back("jsuccess", "DONE");
        const auto r = publish::TestPublish(site.url(), true, fields);
        EXPECT_EQ(r.succeeded, c.succeeds) << c.reply;
        EXPECT_EQ(r.message, c.succeeds ? std::string("发布成功") : "发布异常，返回:\r" + std::string(c.reply));
        EXPECT_EQ(r.reply, c.reply);
    }
}

TEST(TestPublish, SpecialLinesSetTheRequestAndAreSentAsFieldsToo) {
    test::PublishReceiver site;
    site.answer("AddInfo", test::PublishReceiver::success());
    const auto r = publish::TestPublish("  " + site.url() + "  ", true,
                                        {{"cookie", "sid=abc; token=1"},
                                         {"juseragent", "TestAgent/1.0"},
                                         {"title", "{采集字段:标题}"},
                                         {"when", "{dd:日期yyyy}"}},
                                        test::ManualClock(test::ManualClock::local(2021, 3, 4, 5, 6, 7)));
    ASSERT_TRUE(r.succeeded) << r.message;
    const auto post = site.posts("AddInfo").at(0);
    EXPECT_EQ(post.header("Cookie"), "sid=abc; token=1");
    EXPECT_EQ(post.field("cookie"), "sid=abc; token=1");
    EXPECT_EQ(post.header("User-Agent"), "TestAgent/1.0");
    EXPECT_EQ(post.field("juseragent"), "TestAgent/1.0");
    EXPECT_EQ(post.field("title"), "{采集字段:标题}");  // no record: the tag stays as written
    EXPECT_EQ(post.field("when"), "2021");
    EXPECT_NE(post.header("Content-Type").find("application/x-www-form-urlencoded"), std::string::npos);
}

TEST(TestPublish, TheFormGoesInTheModulesCharset) {
    test::PublishReceiver site;
    site.answer("AddInfo", test::Reply::html(platform::utf8ToGb18030("succ|好"), "gbk"));
    const auto r = publish::TestPublish(site.url(), false, {{"标题", "中文"}});
    ASSERT_TRUE(r.succeeded) << r.message;
    EXPECT_EQ(r.reply, "succ|好");
    const auto post = site.posts("AddInfo").at(0);
    EXPECT_NE(post.body.find(platform::formUrlEncode(platform::utf8ToGb18030("中文"))), std::string::npos) << post.body;
}

TEST(TestPublish, ADeadAddressIsAnAccessError) {
    const auto r = publish::TestPublish("http://127.0.0.1:1/tarvex.php", true, {{"title", "x"}});
    EXPECT_FALSE(r.succeeded);
    EXPECT_EQ(r.message.rfind("访问异常：", 0), 0u) << r.message;
}

TEST(TestPublish, TheRunLogHidesCookieValues) {
    test::SandboxWorkspace sandbox;
    sandbox.makeDir("log");
    platform::RunLog::global().init(sandbox.folder(), true, true);
    test::PublishReceiver site;
    site.answer("AddInfo", test::PublishReceiver::success());
    const auto r = publish::TestPublish(site.url(), true, {{"jcookie", "SESSIONVALUE"}, {"title", "可见"}});
    const std::string log = test::readWholeFile(platform::RunLog::global().filePath());
    platform::RunLog::global().init(sandbox.folder(), false, false);
    ASSERT_TRUE(r.succeeded);
    EXPECT_NE(log.find("title=可见"), std::string::npos) << log;
    EXPECT_EQ(log.find("SESSIONVALUE"), std::string::npos) << log;
    EXPECT_EQ(site.posts("AddInfo").at(0).header("Cookie"), "SESSIONVALUE");
}

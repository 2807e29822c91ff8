// Failures a person can mend are said in Chinese with what to check, the technical text after
// it; the texts are recognised as the transport and SQLite really word them.
#include "platform/error_hints.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/http_client.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"

using namespace tarvex::platform;
using tarvex::test::LocalHttpServer;
using tarvex::test::Reply;

namespace {

struct WordingCase {
    const char* technical;
    const char* shown;
};

// Every failure a person can cause, with the whole text a message box shows for it.
const WordingCase kWording[] = {
    {"访问异常：Failed to connect to 127.0.0.1 port 9 after 0 ms: Couldn't connect to server (Connection refused)",
     "无法连接到网站。请检查网址（域名和端口）是否写对、网站是否已经开启，以及本机能否上网。\n"
     "技术信息：访问异常：Failed to connect to 127.0.0.1 port 9 after 0 ms: Couldn't connect to server (Connection "
     "refused)"},
    {"Could not resolve host: www.exmaple.invalid",
     "找不到网址中的域名（域名无法解析）。请检查网址中的域名是否拼写正确，以及本机的网络和DNS设置是否正常。\n"
     "技术信息：Could not resolve host: www.exmaple.invalid"},
    {"Read timed out: no data for 20000 ms",
     "网站在规定的时间内没有应答（超时）。请检查网站能否在浏览器中打开；网站较慢时可调大超时时间，或稍后再试。\n"
     "技术信息：Read timed out: no data for 20000 ms"},
    {"SSL certificate problem: self-signed certificate",
     "与网站建立安全连接（HTTPS）失败。请检查网址应该是http还是https、网站的证书是否有效，以及本机的日期和时间是否正确"
     "。"
     "\n技术信息：SSL certificate problem: self-signed certificate"},
    {"HTTP/1.1 401 Unauthorized",
     "网站要求登录（HTTP 401 未授权）。请检查用户名、密码或Cookie是否正确；需要登录的网站可在“高级设置”中点“获取”取得"
     "Cookie。\n技术信息：HTTP/1.1 401 Unauthorized"},
    {"HTTP/1.1 403 Forbidden",
     "网站拒绝了访问（HTTP 403 禁止访问）。请检查是否需要登录或Cookie、浏览器UA是否被网站屏蔽、接口文件是否允许访问，"
     "以及本机IP是否被网站封禁。\n技术信息：HTTP/1.1 403 Forbidden"},
    {"发布异常，返回:\rHTTP/1.1 404 Not Found\r<h1>Not Found</h1>",
     "网址指向的页面不存在（HTTP "
     "404）。请检查网址的路径和文件名是否写对；发布时请确认接口文件已上传到网站，且接口网址正确。"
     "\n技术信息：发布异常，返回:\rHTTP/1.1 404 Not Found\r<h1>Not Found</h1>"},
    {"HTTP/2 503",
     "网站内部出错（HTTP 503 "
     "服务器错误）。这是网站一方的问题，请稍后再试；若是自己的网站，请查看网站的错误日志和接口文件。"
     "\n技术信息：HTTP/2 503"},
    {"任务数据库添加字段失败，设置未保存：数据库被锁定",
     "任务数据库被锁定：另一个程序正打开着这个任务。请关闭正在使用这个任务数据库的其他程序（例如另一个Tarvex采集器、"
     "数据库查看工具），或等正在运行的任务结束，然后再试一次。\n技术信息：任务数据库添加字段失败，设置未保存：数据库被"
     "锁定"},
    {"数据库database or disk is full",
     "磁盘已满，数据无法写入。请清理磁盘空间（例如删除不再需要的附件和导出文件），或把工作目录移到空间更大的磁盘，然后"
     "再试一次。"
     "\n技术信息：数据库database or disk is full"},
};

TEST(ErrorHints, EachFailureIsSaidInChineseWithTheTechnicalTextAfterIt) {
    for (const auto& c : kWording) EXPECT_EQ(WithFailureHint(c.technical), c.shown) << c.technical;
}

TEST(ErrorHints, OtherTextsAndTextsWithAHintStayAsTheyAre) {
    for (const char* text : {"发布成功", "执行完成", "HTTP/1.1 200 OK", "HTTP/1.1 4040 odd", "请先选定任务，再编辑",
                             "jsslversion=1.2", "https://www.example.com/ssl/tls.html"})
        EXPECT_EQ(WithFailureHint(text), text) << text;
    const std::string once = WithFailureHint("HTTP/1.1 404 Not Found");
    EXPECT_EQ(WithFailureHint(once), once);
}

TEST(ErrorHints, DiskFullAndNoSpaceLeftAreTheSameFailure) {
    for (const char* text : {"写入文件失败：No space left on device", "database or disk is full"}) {
        auto h = ExplainFailure(text);
        ASSERT_TRUE(h) << text;
        EXPECT_EQ(h->kind, FailureKind::DiskFull);
    }
}

TEST(ErrorHints, PaneHintIsOneLineAfterTheFailure) {
    EXPECT_EQ(PaneHintFor("抓取网页:http://127.0.0.1:9/a.html,返回错误：Failed to connect to 127.0.0.1 port 9"),
              "提示：无法连接到网站。请检查网址（域名和端口）是否写对、网站是否已经开启，以及本机能否上网。");
    EXPECT_EQ(PaneHintFor("正在采集内容页：http://127.0.0.1/a.html"), "");
}

// The transport's own words for the failures it meets on the loopback interface.
TEST(ErrorHints, RecognisesWhatTheTransportReallySays) {
    int closedPort = 0;
    {
        LocalHttpServer gone;
        closedPort = gone.port();
    }
    LocalHttpServer server;
    server.on("/missing", Reply::withStatus(404, "nothing here"));
    server.on("/login", Reply::withStatus(401));
    server.on("/forbidden", Reply::withStatus(403));
    server.on("/broken", Reply::withStatus(500, "<b>Fatal error</b>"));
    Reply slow = Reply::html("late");
    slow.delay = std::chrono::milliseconds(3000);
    server.on("/slow", slow);

    struct Case {
        std::string url;
        FailureKind kind;
        int idleTimeoutMs = 20000;
    };
    const Case cases[] = {
        {"http://127.0.0.1:" + std::to_string(closedPort) + "/", FailureKind::CannotConnect},
        {server.url("/missing"), FailureKind::Http404},
        {server.url("/login"), FailureKind::Http401},
        {server.url("/forbidden"), FailureKind::Http403},
        {server.url("/broken"), FailureKind::Http5xx},
        {server.url("/slow"), FailureKind::TimedOut, 300},
        {"https://127.0.0.1:" + std::to_string(server.port()) + "/missing", FailureKind::Tls},
    };
    for (const auto& c : cases) {
        HttpRequest request;
        request.url = c.url;
        request.idleTimeoutMs = c.idleTimeoutMs;
        const HttpResponse response = httpPerform(request);
        ASSERT_FALSE(response.ok()) << c.url;
        const auto hint = ExplainFailure(response.failureText());
        ASSERT_TRUE(hint) << c.url << ": " << response.failureText();
        EXPECT_EQ(hint->kind, c.kind) << c.url << ": " << response.failureText();
    }
}

TEST(ErrorHints, RecognisesSqliteLockedDatabase) {
    tarvex::test::SandboxWorkspace sandbox;
    const std::string path = sandbox.path("locked.db3");
    sqlite3* holder = nullptr;
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> a(holder, sqlite3_close), b(writer, sqlite3_close);
    ASSERT_EQ(
        sqlite3_exec(holder, "create table t(x); begin exclusive; insert into t values(1);", nullptr, nullptr, nullptr),
        SQLITE_OK);
    EXPECT_NE(sqlite3_exec(writer, "insert into t values(2)", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto hint = ExplainFailure(sqlite3_errmsg(writer));
    ASSERT_TRUE(hint) << sqlite3_errmsg(writer);
    EXPECT_EQ(hint->kind, FailureKind::DatabaseLocked);
}

TEST(ErrorHints, FailuresGetTheErrorOrWarningIcon) {
    const std::pair<const char*, MessageSeverity> cases[] = {
        {"访问异常：Failed to connect to 127.0.0.1 port 9", MessageSeverity::Error},
        {"执行错误：数据库no such table: content", MessageSeverity::Error},
        {"config配置文件丢失,软件即将退出！", MessageSeverity::Error},
        {"发布异常，返回:\rfail|no", MessageSeverity::Error},
        {"请先选定任务，再编辑", MessageSeverity::Warning},
        {"任务数据库添加字段失败，设置未保存：x", MessageSeverity::Warning},
        {"当前任务数据库不存在！", MessageSeverity::Warning},
        {"接口网址必须以http开头！", MessageSeverity::Warning},
        {"发布成功", MessageSeverity::Information},
        {"恭喜您，导出完成！", MessageSeverity::Information},
        {"该任务网址库已清空", MessageSeverity::Information},
    };
    for (const auto& [text, severity] : cases) EXPECT_EQ(SeverityOf(text), severity) << text;
}

}  // namespace

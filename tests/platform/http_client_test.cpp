// The libcurl layer on its own, against the loopback server: forms and uploads as the
// publisher will send them, response details, limits and cancelling.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/http_client.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"

using namespace tarvex::platform;
using tarvex::test::LocalHttpServer;
using tarvex::test::Reply;

TEST(HttpClient, UrlEncodedFormKeepsValueBytes) {
    LocalHttpServer server;
    server.on("/post", Reply::html("ok"));
    HttpRequest req;
    req.method = "POST";
    req.url = server.url("/post?tarvex=AddInfo");
    const std::string gbkTitle = "\xD6\xD0\xCE\xC4 & =+%";  // 中文 in GBK and form syntax
    req.formFields = {{"title", gbkTitle}, {"body", std::string(30000, 'z')}, {"empty", ""}};
    HttpResponse res = httpPerform(req);
    ASSERT_TRUE(res.ok()) << res.failureText();
    auto got = server.lastRequest();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->method, "POST");
    EXPECT_EQ(got->param("tarvex"), "AddInfo");
    EXPECT_EQ(got->header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_FALSE(got->hasHeader("Expect"));
    ASSERT_EQ(got->formFields.size(), 3u);
    EXPECT_EQ(got->field("title"), gbkTitle);
    EXPECT_EQ(got->field("body"), std::string(30000, 'z'));
    EXPECT_EQ(got->formFields[2].first, "empty");
}

TEST(HttpClient, MultipartSendsFieldsAndFilesFromMemoryAndDisk) {
    tarvex::test::SandboxWorkspace ws;
    const std::string onDisk("\xFF\xD8\xFF\xE0 jpeg \0 bytes", 17);
    ws.writeFile("pic.jpg", onDisk);
    LocalHttpServer server;
    server.on("/up", Reply::html("stored"));
    HttpRequest req;
    req.method = "POST";
    req.url = server.url("/up");
    req.multipart = {
        {"mode", "upsingle", "", "", "", ""},
        {"file1", "first file", "\xCE\xC4.txt", "text/plain", "", ""},  // GBK file name kept as bytes
        {"file2", "", "renamed.jpg", "image/jpeg", ws.path("pic.jpg"), ""},
    };
    HttpResponse res = httpPerform(req);
    ASSERT_TRUE(res.ok()) << res.failureText();
    EXPECT_EQ(res.body, "stored");
    auto got = server.lastRequest();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->field("mode"), "upsingle");
    ASSERT_TRUE(got->file("file1"));
    EXPECT_EQ(got->file("file1")->filename, "\xCE\xC4.txt");
    EXPECT_EQ(got->file("file1")->content, "first file");
    ASSERT_TRUE(got->file("file2"));
    EXPECT_EQ(got->file("file2")->filename, "renamed.jpg");
    EXPECT_EQ(got->file("file2")->contentType, "image/jpeg");
    EXPECT_EQ(got->file("file2")->content, onDisk);
}

TEST(HttpClient, AFilePartCanSendARangeOfTheFile) {
    tarvex::test::SandboxWorkspace ws;
    ws.writeFile("big.bin", "0123456789abcdef");
    LocalHttpServer server;
    server.on("/up", Reply::html("stored"));
    struct Case {
        std::uint64_t offset;
        std::optional<std::uint64_t> length;
        std::string sent;
    } cases[] = {{3, 5, "34567"}, {12, 100, "cdef"}, {10, std::nullopt, "abcdef"}, {16, 4, ""}};
    for (const auto& c : cases) {
        HttpRequest req;
        req.method = "POST";
        req.url = server.url("/up");
        FormPart part{"piece", "", "p.bin", "image/JPEG", ws.path("big.bin"), "binary"};
        part.fileOffset = c.offset;
        part.fileLength = c.length;
        req.multipart = {part};
        HttpResponse res = httpPerform(req);
        ASSERT_TRUE(res.ok()) << res.failureText();
        ASSERT_TRUE(server.lastRequest()->file("piece"));
        EXPECT_EQ(server.lastRequest()->file("piece")->content, c.sent) << c.offset;
    }
    // A range that begins after the end is an error, not an empty piece that looks stored.
    HttpRequest req;
    req.method = "POST";
    req.url = server.url("/up");
    FormPart part{"piece", "", "p.bin", "", ws.path("big.bin"), ""};
    part.fileOffset = 17;
    req.multipart = {part};
    EXPECT_FALSE(httpPerform(req).transportOk());
}

TEST(HttpClient, RawBodyCustomMethodAndHeaders) {
    LocalHttpServer server;
    server.on("/api", Reply::html("done"));
    HttpRequest req;
    req.method = "PUT";
    req.url = server.url("/api");
    req.body = "{\"a\":1}";
    req.contentType = "application/json";
    req.headers = {{"X-Token", "t0k"}};
    HttpResponse res = httpPerform(req);
    ASSERT_TRUE(res.ok()) << res.failureText();
    auto got = server.lastRequest();
    EXPECT_EQ(got->method, "PUT");
    EXPECT_EQ(got->body, "{\"a\":1}");
    EXPECT_EQ(got->header("Content-Type"), "application/json");
    EXPECT_EQ(got->header("X-Token"), "t0k");
}

TEST(HttpClient, KeepsTheLastResponsesStatusAndHeaders) {
    LocalHttpServer server;
    Reply hop = Reply::redirect("/end");
    hop.headers = {{"X-Hop", "1"}};
    server.on("/start", hop);
    Reply end = Reply::withStatus(404, "missing");
    end.headers = {{"X-End", "yes"}};
    server.on("/end", end);

    HttpRequest req;
    req.url = server.url("/start");
    HttpResponse res = httpPerform(req);
    EXPECT_TRUE(res.transportOk());
    EXPECT_FALSE(res.ok());
    EXPECT_EQ(res.status, 404);
    EXPECT_EQ(res.statusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(res.failureText(), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(res.body, "missing");
    EXPECT_EQ(res.header("x-end"), "yes");
    EXPECT_EQ(res.header("X-Hop"), "");
    EXPECT_EQ(res.redirects, 1);
    EXPECT_EQ(res.effectiveUrl, server.url("/end"));

    req.followRedirects = false;
    res = httpPerform(req);
    EXPECT_EQ(res.status, 302);
    EXPECT_EQ(res.header("Location"), "/end");
}

TEST(HttpClient, CookiesSetDuringARedirectChainStayInThatCallOnly) {
    LocalHttpServer server;
    Reply login = Reply::redirect("/home");
    login.headers = {{"Set-Cookie", "session=abc; Path=/"}};
    server.on("/login", login);
    server.on("/home", Reply::html("home"));

    HttpRequest req;
    req.url = server.url("/login");
    req.cookie = "pref=1";
    ASSERT_TRUE(httpPerform(req).ok());
    auto home = server.requestsTo("/home");
    ASSERT_EQ(home.size(), 1u);
    EXPECT_NE(home[0].header("Cookie").find("session=abc"), std::string::npos);
    EXPECT_NE(home[0].header("Cookie").find("pref=1"), std::string::npos);

    HttpRequest again;
    again.url = server.url("/home");
    ASSERT_TRUE(httpPerform(again).ok());
    EXPECT_FALSE(server.lastRequest()->hasHeader("Cookie"));
}

TEST(HttpClient, BodyCapAndCancelStopTheTransfer) {
    LocalHttpServer server;
    server.on("/big", Reply::html(std::string(5000, 'x')));
    HttpRequest req;
    req.url = server.url("/big");
    req.maxBodyBytes = 1000;
    HttpResponse res = httpPerform(req);
    EXPECT_EQ(res.error, HttpError::BodyTooLarge);
    EXPECT_EQ(res.errorText, "Response body exceeds the limit of 1000 bytes");

    Reply slow = Reply::html(std::string(200, 'y'));
    slow.trickleInterval = std::chrono::milliseconds(50);
    slow.trickleBytes = 10;
    server.on("/slow", slow);
    HttpRequest cancel;
    cancel.url = server.url("/slow");
    cancel.progress = [](std::uint64_t, std::uint64_t, std::uint64_t received, std::uint64_t) { return received < 30; };
    res = httpPerform(cancel);
    EXPECT_EQ(res.error, HttpError::Cancelled);
    EXPECT_LT(res.body.size(), 200u);
}

// A server that drips a byte at a time never trips the idle time-out; the overall deadline and
// the cancel check end such a transfer all the same.
TEST(HttpClient, TotalDeadlineAndCancelCheckEndATricklingTransfer) {
    LocalHttpServer server;
    Reply drip = Reply::html(std::string(400, 'z'));
    drip.trickleInterval = std::chrono::milliseconds(100);
    drip.trickleBytes = 1;
    server.on("/drip", drip);

    HttpRequest deadline;
    deadline.url = server.url("/drip");
    deadline.idleTimeoutMs = 1000;
    deadline.totalTimeoutMs = 1500;
    HttpResponse res = httpPerform(deadline);
    EXPECT_EQ(res.error, HttpError::Timeout);
    EXPECT_EQ(res.errorText, "Request took longer than 1500 ms");

    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        stop = true;
    });
    HttpRequest cancel;
    cancel.url = server.url("/drip");
    cancel.cancelled = [&] { return stop.load(); };
    res = httpPerform(cancel);
    stopper.join();
    EXPECT_EQ(res.error, HttpError::Cancelled);
    EXPECT_LT(res.body.size(), 400u);
}

TEST(HttpClient, TlsVersionAndCertificateChecks) {
    LocalHttpServer::Options opts;
    opts.tls = true;
    LocalHttpServer server(opts);
    server.on("/", Reply::html("tls"));
    HttpRequest req;
    req.url = server.url("/");
    HttpResponse strict = httpPerform(req);  // self-signed: refused while verifying
    EXPECT_EQ(strict.error, HttpError::Tls) << strict.errorText;

    req.tls.verifyPeer = false;
    req.tls.version = TlsVersion::Tls12;
    HttpResponse res = httpPerform(req);
    EXPECT_TRUE(res.ok()) << res.failureText();
    EXPECT_EQ(res.body, "tls");
}

TEST(HttpClient, WireUrlAndFormEncoding) {
    EXPECT_EQ(wireUrl("http://h/a b?q=é#x"), "http://h/a%20b?q=%C3%A9#x");
    EXPECT_EQ(wireUrl("http://h/%41\t"), "http://h/%41%09");
    EXPECT_EQ(formUrlEncode("a b&c=d/é*-_."), "a+b%26c%3Dd%2F%C3%A9*-_.");
}

// The loopback fixtures other tests stand on: the in-process HTTP server and the FTP server,
// driven with plain libcurl so a fault in our own HTTP client cannot hide a fixture fault.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/fakes.h"
#include "support/ftp_fixture.h"
#include "support/local_http_server.h"

namespace fs = std::filesystem;
using namespace tarvex::test;
using namespace std::chrono_literals;

namespace {

struct CurlAnswer {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    std::string headers;
    std::string error;
    long redirects = 0;
    std::chrono::milliseconds elapsed{0};
};

std::size_t appendTo(char* data, std::size_t size, std::size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

// One plain libcurl transfer; `setup` adds options.
template <typename Setup>
CurlAnswer fetch(const std::string& url, Setup setup) {
    CurlAnswer a;
    CURL* c = curl_easy_init();
    char err[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, err);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, appendTo);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &a.body);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, appendTo);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &a.headers);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, 20000L);
    setup(c);
    auto start = std::chrono::steady_clock::now();
    a.code = curl_easy_perform(c);
    a.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &a.status);
    curl_easy_getinfo(c, CURLINFO_REDIRECT_COUNT, &a.redirects);
    a.error = err;
    curl_easy_cleanup(c);
    return a;
}

CurlAnswer fetch(const std::string& url) {
    return fetch(url, [](CURL*) {});
}

class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        m_path = fs::temp_directory_path() /
                 ("tarvex-servers-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const fs::path& path() const { return m_path; }
    void write(const std::string& rel, const std::string& content) const {
        fs::create_directories((m_path / rel).parent_path());
        std::ofstream(m_path / rel, std::ios::binary) << content;
    }

private:
    fs::path m_path;
};

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

TEST(LocalHttpServer, ServesItsFolderAndNothingOutsideIt) {
    TempDir site;
    site.write("index.html", "<html>home</html>");
    site.write("新闻/第一页.html", "<p>page one</p>");
    TempDir outside;  // a sibling folder a "../" path would reach
    outside.write("secret.txt", "do not serve");
    LocalHttpServer server(site.path().string());

    auto home = fetch(server.url("/"));
    EXPECT_EQ(home.code, CURLE_OK);
    EXPECT_EQ(home.status, 200);
    EXPECT_EQ(home.body, "<html>home</html>");

    auto page = fetch(server.url("/%E6%96%B0%E9%97%BB/%E7%AC%AC%E4%B8%80%E9%A1%B5.html"));
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.body, "<p>page one</p>");

    EXPECT_EQ(fetch(server.url("/missing.html")).status, 404);
    auto escape = fetch(server.url("/../" + outside.path().filename().string() + "/secret.txt"),
                        [](CURL* c) { curl_easy_setopt(c, CURLOPT_PATH_AS_IS, 1L); });
    EXPECT_NE(escape.body, "do not serve");
    EXPECT_NE(escape.status, 200);
}

TEST(LocalHttpServer, CompressesBodiesTheWayItIsTold) {
    const std::string text(5000, 'x');
    struct Case {
        Compression how;
        const char* encoding;
    } cases[] = {{Compression::Gzip, "gzip"}, {Compression::Deflate, "deflate"}, {Compression::RawDeflate, "deflate"}};
    LocalHttpServer server;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoding);
        Reply r = Reply::html(text + c.encoding);
        r.compression = c.how;
        server.on("/page", r);
        auto raw = fetch(server.url("/page"));  // no decoding asked: the wire bytes
        EXPECT_NE(raw.headers.find(std::string("Content-Encoding: ") + c.encoding), std::string::npos) << raw.headers;
        EXPECT_LT(raw.body.size(), 200u);
        auto decoded = fetch(server.url("/page"), [](CURL* h) { curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, ""); });
        EXPECT_EQ(decoded.code, CURLE_OK) << decoded.error;
        EXPECT_EQ(decoded.body, text + c.encoding);
    }
    // Without a rule the server never compresses on its own, even when the client asks.
    server.on("/plain", Reply::html(text));
    auto plain = fetch(server.url("/plain"), [](CURL* h) { curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "gzip"); });
    EXPECT_EQ(plain.headers.find("Content-Encoding"), std::string::npos);
    EXPECT_EQ(plain.body, text);
}

TEST(LocalHttpServer, SetsTheContentTypeAndCharsetOrNone) {
    LocalHttpServer server;
    server.on("/gbk", Reply::html("a", "gbk"));
    Reply bare = Reply::html("b");
    bare.contentType = "";
    server.on("/none", bare);
    server.on("/plain", Reply::html("c"));

    EXPECT_NE(fetch(server.url("/gbk")).headers.find("Content-Type: text/html; charset=gbk\r\n"), std::string::npos);
    EXPECT_NE(fetch(server.url("/plain")).headers.find("Content-Type: text/html\r\n"), std::string::npos);
    auto none = fetch(server.url("/none"));
    EXPECT_EQ(none.headers.find("charset"), std::string::npos) << none.headers;
    EXPECT_EQ(none.headers.find("text/"), std::string::npos) << none.headers;
    EXPECT_EQ(none.body, "b");
}

TEST(LocalHttpServer, RedirectsAndLoops) {
    LocalHttpServer server;
    server.on("/old", Reply::redirect("/new", 301));
    server.on("/new", Reply::html("arrived"));
    server.on("/loop/a", Reply::redirect("/loop/b"));
    server.on("/loop/b", Reply::redirect("/loop/a"));

    auto moved = fetch(server.url("/old"), [](CURL* c) { curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L); });
    EXPECT_EQ(moved.body, "arrived");
    EXPECT_EQ(moved.redirects, 1);

    auto loop = fetch(server.url("/loop/a"), [](CURL* c) {
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    });
    EXPECT_EQ(loop.code, CURLE_TOO_MANY_REDIRECTS);
    EXPECT_EQ(server.requestsTo("/loop/a").size() + server.requestsTo("/loop/b").size(), 6u);
}

TEST(LocalHttpServer, DelaysAndTricklesTheAnswer) {
    LocalHttpServer server;
    Reply slow = Reply::html("late");
    slow.delay = 400ms;
    server.on("/slow", slow);
    Reply trickle = Reply::html("0123456789");
    trickle.trickleInterval = 100ms;
    trickle.trickleBytes = 2;
    server.on("/trickle", trickle);

    auto late = fetch(server.url("/slow"));
    EXPECT_EQ(late.body, "late");
    EXPECT_GE(late.elapsed, 400ms);
    auto timedOut = fetch(server.url("/slow"), [](CURL* c) { curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, 100L); });
    EXPECT_EQ(timedOut.code, CURLE_OPERATION_TIMEDOUT);

    auto dripped = fetch(server.url("/trickle"));
    EXPECT_EQ(dripped.body, "0123456789");
    EXPECT_GE(dripped.elapsed, 500ms);  // five pieces, a pause before each
}

TEST(LocalHttpServer, ResetsTheConnectionWithoutAnswerAndKeepsServing) {
    LocalHttpServer server;
    server.on("/reset", Reply::connectionReset());
    server.on("/ok", Reply::html("fine"));
    auto reset = fetch(server.url("/reset"));
    EXPECT_TRUE(reset.code == CURLE_RECV_ERROR || reset.code == CURLE_GOT_NOTHING) << reset.code;
    EXPECT_NE(reset.error.find("reset"), std::string::npos) << reset.error;
    EXPECT_EQ(reset.status, 0);
    EXPECT_EQ(fetch(server.url("/ok")).body, "fine");
    EXPECT_EQ(server.requestsTo("/reset").size(), 1u);
}

TEST(LocalHttpServer, ScriptedRepliesComeInOrderThenTheRuleAnswers) {
    LocalHttpServer server;
    server.on("/api", Reply::html("steady"));
    server.script("/api", {Reply::withStatus(503, "busy"), Reply::html("first"), Reply::connectionReset()});
    EXPECT_EQ(fetch(server.url("/api")).status, 503);
    EXPECT_EQ(fetch(server.url("/api")).body, "first");
    EXPECT_NE(fetch(server.url("/api")).code, CURLE_OK);
    EXPECT_EQ(fetch(server.url("/api")).body, "steady");
    EXPECT_EQ(fetch(server.url("/api")).body, "steady");
}

TEST(LocalHttpServer, PrefixRulesLongestWinsExactBeatsPrefix) {
    LocalHttpServer server;
    server.on("/a/*", Reply::html("short"));
    server.on("/a/b/*", Reply::html("long"));
    server.on("/a/b/c", Reply::html("exact"));
    EXPECT_EQ(fetch(server.url("/a/x")).body, "short");
    EXPECT_EQ(fetch(server.url("/a/b/x")).body, "long");
    EXPECT_EQ(fetch(server.url("/a/b/c")).body, "exact");
    EXPECT_EQ(fetch(server.url("/other")).status, 404);
}

TEST(LocalHttpServer, RecordsMultipartFieldsAndUploadedFiles) {
    LocalHttpServer server;
    server.on("/upload", Reply::html("ok"));
    const std::string binary("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\x00", 18);
    const std::string gbkName = "\xCD\xBC\xC6\xAC.png";  // 图片.png in GBK
    curl_mime* mime = nullptr;
    auto answer = fetch(server.url("/upload?mode=upall&x=1+2"), [&](CURL* c) {
        mime = curl_mime_init(c);
        curl_mimepart* part = curl_mime_addpart(mime);
        curl_mime_name(part, "title");
        curl_mime_data(part, "标题 & more", CURL_ZERO_TERMINATED);
        part = curl_mime_addpart(mime);
        curl_mime_name(part, "upfile");
        curl_mime_data(part, binary.data(), binary.size());
        curl_mime_filename(part, gbkName.c_str());
        curl_mime_type(part, "image/png");
        curl_easy_setopt(c, CURLOPT_MIMEPOST, mime);
        curl_easy_setopt(c, CURLOPT_USERAGENT, "fixture-test");
    });
    curl_mime_free(mime);
    EXPECT_EQ(answer.body, "ok");

    auto req = server.lastRequest();
    ASSERT_TRUE(req);
    EXPECT_EQ(req->method, "POST");
    EXPECT_EQ(req->path, "/upload");
    EXPECT_EQ(req->query, "mode=upall&x=1+2");
    EXPECT_EQ(req->param("x"), "1 2");
    EXPECT_EQ(req->header("user-agent"), "fixture-test");
    EXPECT_EQ(req->field("title"), "标题 & more");
    const RecordedFile* f = req->file("upfile");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->filename, gbkName);
    EXPECT_EQ(f->contentType, "image/png");
    EXPECT_EQ(f->content, binary);
}

TEST(LocalHttpServer, RecordsLargeUrlEncodedFormsByteForByte) {
    LocalHttpServer server;
    server.on("/post", Reply::html("ok"));
    std::string article(20000, 'a');
    std::string body = "title=%D6%D0%CE%C4&body=" + article + "&empty=&flag";
    auto answer = fetch(server.url("/post"), [&](CURL* c) { curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str()); });
    EXPECT_EQ(answer.status, 200);
    auto req = server.lastRequest();
    ASSERT_TRUE(req);
    EXPECT_EQ(req->body, body);
    EXPECT_EQ(req->field("title"), "\xD6\xD0\xCE\xC4");  // GBK bytes kept, not re-decoded
    EXPECT_EQ(req->field("body"), article);
    ASSERT_EQ(req->formFields.size(), 4u);
    EXPECT_EQ(req->formFields[2], (std::pair<std::string, std::string>{"empty", ""}));
    EXPECT_EQ(req->formFields[3].first, "flag");
}

TEST(LocalHttpServer, ManyServersInOneProcessStopCleanlyEvenMidRequest) {
    std::vector<std::unique_ptr<LocalHttpServer>> servers;
    for (int i = 0; i < 12; ++i) {
        servers.push_back(std::make_unique<LocalHttpServer>());
        servers.back()->on("/id", Reply::html(std::to_string(i)));
    }
    for (int i = 0; i < 12; ++i) EXPECT_EQ(fetch(servers[i]->url("/id")).body, std::to_string(i));

    // A request parked in a long delay must not keep the destructor waiting.
    auto server = std::make_unique<LocalHttpServer>();
    Reply parked = Reply::html("never");
    parked.delay = 30s;
    server->on("/parked", parked);
    std::thread client([url = server->url("/parked")] { fetch(url); });
    ASSERT_TRUE(waitFor([&] { return server->requestCount() == 1; }));
    auto start = std::chrono::steady_clock::now();
    server.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    client.join();
}

TEST(LocalHttpServer, TlsServerRecordsTheServerName) {
    LocalHttpServer::Options tls;
    tls.tls = true;
    LocalHttpServer server(tls);
    server.on("/", Reply::html("secure"));
    std::string host = "sni.example.test:" + std::to_string(server.port()) + ":127.0.0.1";
    curl_slist* resolve = curl_slist_append(nullptr, host.c_str());
    auto answer = fetch("https://sni.example.test:" + std::to_string(server.port()) + "/", [&](CURL* c) {
        curl_easy_setopt(c, CURLOPT_RESOLVE, resolve);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
    });
    curl_slist_free_all(resolve);
    EXPECT_EQ(answer.code, CURLE_OK) << answer.error;
    EXPECT_EQ(answer.body, "secure");
    EXPECT_EQ(server.serverNames(), std::vector<std::string>{"sni.example.test"});
}

TEST(LocalFtpServer, UploadLandsInTheRootFolder) {
    TempDir root;
    LocalFtpServer ftp(LocalFtpServer::Options{root.path().string(), "alice", "pa55"});
    ASSERT_GT(ftp.port(), 0);
    struct Source {
        std::string data;
        std::size_t pos = 0;
    } source{"line one\r\nbinary \x01\x02\xff"};
    auto upload = fetch(ftp.url("/sub/up.txt"), [&](CURL* c) {
        curl_easy_setopt(c, CURLOPT_USERNAME, "alice");
        curl_easy_setopt(c, CURLOPT_PASSWORD, "pa55");
        curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(c, CURLOPT_FTP_CREATE_MISSING_DIRS, CURLFTP_CREATE_DIR);
        curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(source.data.size()));
        curl_easy_setopt(c, CURLOPT_READDATA, &source);
        curl_easy_setopt(
            c, CURLOPT_READFUNCTION, +[](char* buf, std::size_t size, std::size_t n, void* data) {
                auto* src = static_cast<Source*>(data);
                std::size_t left = std::min(size * n, src->data.size() - src->pos);
                std::memcpy(buf, src->data.data() + src->pos, left);
                src->pos += left;
                return left;
            });
    });
    ASSERT_EQ(upload.code, CURLE_OK) << upload.error;
    EXPECT_EQ(readAll(root.path() / "sub" / "up.txt"), source.data);

    auto refused = fetch(ftp.url("/"), [](CURL* c) {
        curl_easy_setopt(c, CURLOPT_USERNAME, "alice");
        curl_easy_setopt(c, CURLOPT_PASSWORD, "wrong");
    });
    EXPECT_EQ(refused.code, CURLE_LOGIN_DENIED);
}

TEST(LocalFtpServer, TwoServersRunSideBySideAndStop) {
    TempDir a, b;
    auto first = std::make_unique<LocalFtpServer>(a.path().string());
    LocalFtpServer second(b.path().string());
    EXPECT_NE(first->port(), second.port());
    int port = first->port();
    first.reset();
    auto gone = fetch("ftp://127.0.0.1:" + std::to_string(port) + "/", [](CURL* c) {
        curl_easy_setopt(c, CURLOPT_USERNAME, "tarvex");
        curl_easy_setopt(c, CURLOPT_PASSWORD, "secret");
    });
    EXPECT_EQ(gone.code, CURLE_COULDNT_CONNECT);
    auto listing = fetch(second.url("/"), [](CURL* c) {
        curl_easy_setopt(c, CURLOPT_USERNAME, "tarvex");
        curl_easy_setopt(c, CURLOPT_PASSWORD, "secret");
    });
    EXPECT_EQ(listing.code, CURLE_OK) << listing.error;
}

// Page fetching end to end over loopback: the option block, the request HttpGet sends, how it
// decodes what comes back, its failures, the special-case hosts and the address encoders.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "collect/http_fetch.h"
#include "platform/run_log.h"
#include "platform/text_codec.h"
#include "platform/utf8.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using namespace tarvex::collect;
using tarvex::test::Compression;
using tarvex::test::LocalHttpServer;
using tarvex::test::Reply;
using namespace std::chrono_literals;

namespace {

const std::string kSites = std::string(TARVEX_TEST_DATA_DIR) + "/sites/";
const std::string kReplacement = "\xEF\xBF\xBD";

std::string lowerAscii(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.rfind(prefix, 0) == 0;
}

std::string replaceFirst(std::string s, const std::string& from, const std::string& to) {
    if (auto pos = s.find(from); pos != std::string::npos) s.replace(pos, from.size(), to);
    return s;
}

// A port on 127.0.0.1 that nothing listens on (bound, then closed again).
int closedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

// Every test starts and ends with an empty special-case table.
class HttpFetch : public ::testing::Test {
protected:
    void SetUp() override { SetFetchSpecialHosts({}); }
    void TearDown() override {
        SetFetchSpecialHosts({});
        SetFetchDialogs(nullptr);
    }
};

}  // namespace

// ---- option block ----

TEST_F(HttpFetch, BuildFetchOptionsWritesEveryLineInOrderWithDefaults) {
    EXPECT_EQ(BuildFetchOptions("{}"), std::string("useragent=") + kDefaultUserAgent +
                                           "\r\ncookie=\r\nhttps=\r\ngzip=\r\ncharset=\r\n"
                                           "readtimeout=20000\r\nconnecttimeout=20000\r\n");
    EXPECT_EQ(BuildFetchOptions("not json"), BuildFetchOptions("{}"));
}

TEST_F(HttpFetch, BuildFetchOptionsTakesTheTaskSettings) {
    std::string block = BuildFetchOptions(
        R"({"other_ua":"MyBot/1.0","other_cookie":"a=1; b=2","https":"1","other_gzip":"-1","other_charset":"GBK"})");
    EXPECT_EQ(block,
              "useragent=MyBot/1.0\r\ncookie=a=1; b=2\r\nhttps=1\r\ngzip=1\r\ncharset=GBK\r\n"
              "readtimeout=20000\r\nconnecttimeout=20000\r\n");
    struct Case {
        const char* json;
        const char* line;
    } cases[] = {
        {R"({"other_gzip":"0"})", "\r\ngzip=\r\n"},
        {R"({"https":"0"})", "\r\nhttps=\r\n"},
        {R"({"https":"-1"})", "\r\nhttps=\r\n"},
        {R"({"other_ua":""})", kDefaultUserAgent},
        // A value with a line break must not add an option line of its own.
        {R"({"other_cookie":"x=1\r\nreferer=无来源"})", "cookie=x=1referer=无来源\r\n"},
    };
    for (const auto& c : cases) EXPECT_NE(BuildFetchOptions(c.json).find(c.line), std::string::npos) << c.json;
}

TEST_F(HttpFetch, FetchOptionMatchesNamesWithoutCaseFirstLineWinsAnyLineEnd) {
    std::string block = "UserAgent=first\r\nuseragent=second\rgzip=1\nreferer=无来源\r";
    EXPECT_EQ(FetchOption(block, "useragent"), "first");
    EXPECT_EQ(FetchOption(block, "GZIP"), "1");
    EXPECT_EQ(FetchOption(block, "referer"), "无来源");
    EXPECT_EQ(FetchOption(block, "cookie"), "");
    EXPECT_EQ(FetchOption("", "gzip"), "");
}

// ---- the request ----

TEST_F(HttpFetch, EmptyOptionBlockSendsDefaultAgentAndReferersItself) {
    LocalHttpServer server(kSites + "plain-article-utf8");
    std::string url = server.url("/index.html");
    std::string result = HttpGet(url, "");
    ASSERT_TRUE(startsWith(result, "succ:")) << result.substr(0, 200);
    EXPECT_NE(result.find("<h1>本地测试文章</h1>"), std::string::npos);

    auto req = server.lastRequest();
    ASSERT_TRUE(req);
    EXPECT_EQ(req->method, "GET");
    EXPECT_EQ(req->header("User-Agent"), kDefaultUserAgent);
    EXPECT_EQ(req->header("Referer"), url);  // keeps the non-standard port
    EXPECT_FALSE(req->hasHeader("Accept-Encoding"));
    EXPECT_FALSE(req->hasHeader("Cookie"));
}

TEST_F(HttpFetch, OptionsShapeTheRequestHeaders) {
    LocalHttpServer server;
    server.on("/p", Reply::html("ok"));
    std::string base = BuildFetchOptions(R"({"other_ua":"UA-X","other_cookie":"sid=42; lang=zh"})");
    struct Case {
        std::string block;
        std::string referer;  // "-" = no Referer header
        std::string agent;
        std::string encoding;  // "-" = no Accept-Encoding
        std::string cookie;    // "-" = no Cookie
    } cases[] = {
        {base, "self", "UA-X", "-", "sid=42; lang=zh"},
        // Callers append their lines to the block as it is.
        {base + "referer=无来源\r", "-", "UA-X", "-", "sid=42; lang=zh"},
        {base + "referer=http://elsewhere.test/list\rreadtimeout2=5000\r", "http://elsewhere.test/list", "UA-X", "-",
         "sid=42; lang=zh"},
        {"gzip=1\r\nuseragent=\r\ncookie=", "self", kDefaultUserAgent, "gzip,deflate", "-"},
        {"gzip=\r\n", "self", kDefaultUserAgent, "-", "-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.block);
        server.clearRequests();
        EXPECT_EQ(HttpGet(server.url("/p"), c.block), "succ:ok");
        auto req = server.lastRequest();
        ASSERT_TRUE(req);
        if (c.referer == "-")
            EXPECT_FALSE(req->hasHeader("Referer"));
        else
            EXPECT_EQ(req->header("Referer"), c.referer == "self" ? server.url("/p") : c.referer);
        EXPECT_EQ(req->header("User-Agent"), c.agent);
        if (c.encoding == "-")
            EXPECT_FALSE(req->hasHeader("Accept-Encoding"));
        else
            EXPECT_EQ(req->header("Accept-Encoding"), c.encoding);
        if (c.cookie == "-")
            EXPECT_FALSE(req->hasHeader("Cookie"));
        else
            EXPECT_EQ(req->header("Cookie"), c.cookie);
    }
}

TEST_F(HttpFetch, ChineseAddressesGoOutPercentEncoded) {
    LocalHttpServer server(kSites + "plain-article-utf8");
    std::string result = HttpGet(server.url("/中文/第二页.html"), "");
    ASSERT_TRUE(startsWith(result, "succ:")) << result;
    EXPECT_NE(result.find("第二页的正文"), std::string::npos);
    EXPECT_EQ(server.lastRequest()->target, "/%E4%B8%AD%E6%96%87/%E7%AC%AC%E4%BA%8C%E9%A1%B5.html");

    server.on("/book", Reply::html("b"));
    EXPECT_EQ(HttpGet(server.url("/book?t=《中文》 a"), ""), "succ:b");
    // The title marks in lower case, the ideographs in upper case; the space is made legal.
    EXPECT_EQ(server.lastRequest()->target, "/book?t=%e3%80%8a%E4%B8%AD%E6%96%87%e3%80%8b%20a");
}

TEST_F(HttpFetch, FollowsRedirectsAndStopsARedirectLoop) {
    LocalHttpServer server;
    server.on("/old", Reply::redirect("/mid", 301));
    server.on("/mid", Reply::redirect("/new", 302));
    server.on("/new", Reply::html("moved here"));
    server.on("/loop", Reply::redirect("/loop"));
    EXPECT_EQ(HttpGet(server.url("/old"), ""), "succ:moved here");

    std::string loop = HttpGet(server.url("/loop"), "");
    EXPECT_TRUE(startsWith(loop, "fail:")) << loop;
    EXPECT_NE(lowerAscii(loop).find("redirect"), std::string::npos) << loop;
    EXPECT_EQ(server.requestsTo("/loop").size(), 11u);  // the first request and 10 redirects
}

TEST_F(HttpFetch, CompressedBodiesComeBackDecoded) {
    LocalHttpServer server(kSites + "plain-article-utf8");
    const std::string page = test::readWholeFile(kSites + "plain-article-utf8/index.html");
    ASSERT_FALSE(page.empty());
    for (Compression how : {Compression::Gzip, Compression::Deflate, Compression::RawDeflate}) {
        SCOPED_TRACE(static_cast<int>(how));
        Reply r = Reply::file();
        r.compression = how;
        server.on("/index.html", r);
        EXPECT_EQ(HttpGet(server.url("/index.html"), "gzip=1"), "succ:" + page);
        // A server that compresses without being asked is still read correctly.
        EXPECT_EQ(HttpGet(server.url("/index.html"), "gzip="), "succ:" + page);
        EXPECT_FALSE(server.lastRequest()->hasHeader("Accept-Encoding"));
    }
}

// ---- decoding ----

TEST_F(HttpFetch, GbkPageDeclaredOnlyInItsMetaTagDecodes) {
    LocalHttpServer server(kSites + "gbk-declared-in-meta");
    std::string result = HttpGet(server.url("/index.html"), "");
    ASSERT_TRUE(startsWith(result, "succ:")) << result.substr(0, 300);
    std::string text = result.substr(5);
    EXPECT_NE(text.find("<title>宇航员在太空中喝酒会怎么样？后果很严重 _探索者 _光明网</title>"), std::string::npos);
    EXPECT_EQ(text.find(kReplacement), std::string::npos);

    // The whole page equals the UTF-8 original apart from the edited declarations.
    auto normalise = [](std::string s) {
        for (const char* decl : {"charset=utf-8", "charset=UTF-8", "charset=gbk"}) {
            std::size_t pos = 0;
            while ((pos = s.find(decl, pos)) != std::string::npos) s.replace(pos, std::strlen(decl), "charset=X");
        }
        return s;
    };
    std::string original = test::readWholeFile(std::string(TARVEX_CORPUS_DIR) + "/readability/gmw/source.html");
    ASSERT_FALSE(original.empty());
    EXPECT_TRUE(normalise(text) == normalise(original));
}

TEST_F(HttpFetch, Utf8PageThatDeclaresGb2312IsReadAsUtf8) {
    std::string qq = test::readWholeFile(std::string(TARVEX_CORPUS_DIR) + "/readability/qq/source.html");
    ASSERT_NE(qq.find("charset=gb2312"), std::string::npos);
    LocalHttpServer server;
    server.on("/qq", Reply::html(qq, "gb2312"));
    EXPECT_EQ(HttpGet(server.url("/qq"), ""), "succ:" + qq);
}

TEST_F(HttpFetch, DecodingFollowsForcedThenDeclaredThenLatin1) {
    const std::string gbk = platform::utf8ToGb18030("中文内容");
    const std::string utf8 = "中文内容";
    struct Case {
        const char* name;
        std::string body;
        std::string charsetHeader;  // charset in the Content-Type header
        std::string block;
        std::string expected;
    } cases[] = {
        {"header gbk", gbk, "gbk", "", utf8},
        {"header gb2312 with a GBK-only char", platform::utf8ToGb18030("囧镕"), "gb2312", "", "囧镕"},
        {"meta charset", "<head><meta charset=\"GBK\"></head>" + gbk, "", "",
         "<head><meta charset=\"GBK\"></head>" + utf8},
        {"forced GBK beats header UTF-8", gbk, "utf-8", "charset=GBK", utf8},
        {"forced UTF-8 on GBK bytes", gbk, "", "charset=UTF-8", std::string()},  // checked below
        {"invalid GBK bytes", gbk + "\x81", "gbk", "", utf8 + kReplacement},
        {"undeclared Latin-1", "caf\xE9", "", "", "café"},
        {"unknown charset", "caf\xE9", "x-unheard-of", "", "café"},
        {"hostile charset label", "caf\xE9", "../../etc/passwd", "", "café"},
        {"utf-8 BOM dropped",
         "\xEF\xBB\xBF"
         "abc",
         "", "", "abc"},
        {"declared windows-1252", "\x93quoted\x94", "windows-1252", "", "“quoted”"},
    };
    LocalHttpServer server;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.on("/page", Reply::html(c.body, c.charsetHeader));
        std::string result = HttpGet(server.url("/page"), c.block);
        ASSERT_TRUE(startsWith(result, "succ:")) << result;
        if (c.block == "charset=UTF-8") {
            EXPECT_NE(result.find(kReplacement), std::string::npos);
            EXPECT_TRUE(platform::utf8::isValid(result));
        } else {
            EXPECT_EQ(result.substr(5), c.expected);
        }
    }
}

TEST_F(HttpFetch, DeclaredCharsetReadsHeaderThenAnyMetaOfTheHead) {
    std::string farMeta = "<html><head>" + std::string(5000, ' ') +
                          "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" /></head>";
    EXPECT_EQ(DeclaredCharset("text/html; charset=\"Big5\"", "<meta charset=utf-8>"), "big5");
    EXPECT_EQ(DeclaredCharset("text/html", farMeta), "gbk");
    EXPECT_EQ(DeclaredCharset("", "<head><META CHARSET='Shift_JIS'></head>"), "shift_jis");
    EXPECT_EQ(DeclaredCharset("", "<head><meta content=\"text/html\"><meta charset=utf-8></head>"), "utf-8");
    // Stray declarations inside the body do not count.
    EXPECT_EQ(DeclaredCharset("", "<head><title>t</title></head><body><meta charset=gbk></body>"), "");
}

// ---- failures ----

TEST_F(HttpFetch, FailuresCarryTheStatusLineOrTheSocketError) {
    LocalHttpServer server;
    server.on("/gone", Reply::withStatus(404, "<h1>no</h1>"));
    server.on("/broken", Reply::withStatus(500));
    server.on("/reset", Reply::connectionReset());
    EXPECT_EQ(HttpGet(server.url("/gone"), ""), "fail:HTTP/1.1 404 Not Found");
    EXPECT_EQ(HttpGet(server.url("/broken"), ""), "fail:HTTP/1.1 500 Internal Server Error");

    std::string reset = HttpGet(server.url("/reset"), "");
    EXPECT_TRUE(startsWith(reset, "fail:")) << reset;
    EXPECT_NE(reset.find("10054"), std::string::npos) << reset;

    int port = closedPort();
    std::string refused = HttpGet("http://127.0.0.1:" + std::to_string(port) + "/", "");
    EXPECT_TRUE(startsWith(refused, "fail:")) << refused;
    EXPECT_NE(refused.find("127.0.0.1"), std::string::npos) << refused;
    EXPECT_NE(refused.find(std::to_string(port)), std::string::npos) << refused;
    EXPECT_NE(refused.find("Connection refused"), std::string::npos) << refused;
}

TEST_F(HttpFetch, OnlyHttpAndHttpsAddressesAreFetched) {
    for (const char* address :
         {"ftp://127.0.0.1/file.txt", "file:///etc/passwd", "javascript:alert(1)", "", "127.0.0.1/no-scheme"}) {
        std::string result = HttpGet(address, "");
        EXPECT_TRUE(startsWith(result, "fail:")) << address;
        EXPECT_NE(result.find("http://"), std::string::npos) << result;
    }
    // Nor may a redirect lead to another scheme.
    LocalHttpServer server;
    server.on("/away", Reply::redirect("file:///etc/passwd"));
    std::string away = HttpGet(server.url("/away"), "");
    EXPECT_TRUE(startsWith(away, "fail:")) << away;
    EXPECT_EQ(away.find("root:"), std::string::npos);
}

TEST_F(HttpFetch, BodiesOverFiftyMegabytesFailClearly) {
    constexpr std::size_t limit = 50u * 1024u * 1024u;
    LocalHttpServer server;
    std::string big(limit + 1, 'a');
    Reply bomb = Reply::html(big);  // a few dozen KB on the wire, over the limit unpacked
    bomb.compression = Compression::Gzip;
    server.on("/bomb", std::move(bomb));
    server.on("/big", Reply::html(std::move(big)));
    server.on("/limit", Reply::html(std::string(limit, 'b')));

    for (const char* path : {"/big", "/bomb"}) {
        std::string result = HttpGet(server.url(path), "gzip=1");
        EXPECT_EQ(result.substr(0, 200), "fail:Response body exceeds the limit of 50 MB") << path;
    }
    std::string ok = HttpGet(server.url("/limit"), "");
    EXPECT_EQ(ok.size(), 5 + limit);
    EXPECT_TRUE(startsWith(ok, "succ:bbb"));
}

TEST_F(HttpFetch, ReadTimeoutIsAnIdleTimeBetweenBytes) {
    LocalHttpServer server(kSites + "plain-article-utf8");
    Reply silent = Reply::file();
    silent.delay = 4s;
    server.on("/index.html", silent);
    auto start = std::chrono::steady_clock::now();
    std::string result = HttpGet(server.url("/index.html"), "readtimeout2=700\r");
    EXPECT_TRUE(startsWith(result, "fail:")) << result;
    EXPECT_NE(lowerAscii(result).find("timed out"), std::string::npos) << result;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3500ms);

    // Slow but steady: each pause is shorter than the time-out, the whole longer.
    Reply drip = Reply::file();
    drip.trickleInterval = 250ms;
    drip.trickleBytes = 60;  // eight pieces: two seconds in all
    server.on("/index.html", drip);
    start = std::chrono::steady_clock::now();
    result = HttpGet(server.url("/index.html"), "readtimeout2=1500");
    EXPECT_TRUE(startsWith(result, "succ:<!DOCTYPE html>")) << result;
    EXPECT_GT(std::chrono::steady_clock::now() - start, 1500ms);
}

TEST_F(HttpFetch, DeadlineIsTenReadTimeoutsAndAtLeastAMinute) {
    EXPECT_EQ(FetchDeadlineMs(20000), 200000);
    EXPECT_EQ(FetchDeadlineMs(700), 60000);
    EXPECT_EQ(FetchDeadlineMs(0), 60000);
    EXPECT_EQ(FetchDeadlineMs(std::numeric_limits<int>::max()), std::numeric_limits<int>::max());
}

TEST_F(HttpFetch, CancelCheckEndsAFetchInTheMiddle) {
    LocalHttpServer server;
    Reply drip = Reply::html(std::string(400, 'z'));
    drip.trickleInterval = 100ms;
    drip.trickleBytes = 1;
    server.on("/drip", drip);
    auto start = std::chrono::steady_clock::now();
    std::string result =
        HttpGet(server.url("/drip"), "", [&] { return std::chrono::steady_clock::now() - start > 500ms; });
    EXPECT_EQ(result, "fail:Transfer cancelled");
}

// ---- TLS ----

TEST_F(HttpFetch, HttpsFetchSendsTheHostNameAndAcceptsSelfSignedSites) {
    LocalHttpServer::Options tls;
    tls.tls = true;
    LocalHttpServer server(tls);
    server.on("/secure", Reply::html("over tls"));
    std::string address = "https://localhost:" + std::to_string(server.port()) + "/secure";
    EXPECT_EQ(HttpGet(address, ""), "succ:over tls");
    ASSERT_FALSE(server.serverNames().empty());
    EXPECT_EQ(server.serverNames().back(), "localhost");
}

TEST_F(HttpFetch, SetTlsVersionSelectsOnlyTls12) {
    struct Case {
        const char* text;
        platform::TlsVersion expected;
    } cases[] = {{"1.2", platform::TlsVersion::Tls12},
                 {"1.1", platform::TlsVersion::Default},
                 {"", platform::TlsVersion::Default},
                 {"1.2 ", platform::TlsVersion::Default}};
    for (const auto& c : cases) {
        platform::TlsSettings tls;
        SetTlsVersion(c.text, tls);
        EXPECT_EQ(tls.version, c.expected) << c.text;
    }
}

// ---- special-case hosts ----

TEST_F(HttpFetch, SpecialCaseTableIsEmptyByDefault) {
    FetchSpecialHosts none = GetFetchSpecialHosts();
    EXPECT_TRUE(none.postHost.empty() && none.refererHost.empty() && none.gzipHosts.empty() && none.tlsHost.empty() &&
                none.pagerHost.empty());
    LocalHttpServer server;
    server.on("/x", Reply::html("plain"));
    EXPECT_EQ(HttpGet(server.url("/x"), ""), "succ:plain");
    EXPECT_EQ(server.lastRequest()->method, "GET");
}

TEST_F(HttpFetch, PostHostGetsTheFixedJsonPost) {
    LocalHttpServer server;
    server.on("/lottery/latest", Reply::html("{\"ok\":1}"));
    FetchSpecialHosts special;
    special.postHost = "127.0.0.1:" + std::to_string(server.port()) + "/lottery";
    special.postReferer = "http://lottery.example.test/draws";
    SetFetchSpecialHosts(special);

    EXPECT_EQ(HttpGet(server.url("/lottery/latest"), "gzip=1\r\ncookie=a=1\r\nreferer=无来源"), "succ:{\"ok\":1}");
    auto req = server.lastRequest();
    ASSERT_TRUE(req);
    EXPECT_EQ(req->method, "POST");
    EXPECT_EQ(req->body, "{\"lotId\":42,\"nearly\":20}");
    EXPECT_EQ(req->header("Content-Type"), "application/json;charset=utf-8");
    EXPECT_EQ(req->header("http-cust-oid"), "99");
    EXPECT_EQ(req->header("fr"), "6");
    EXPECT_EQ(req->header("Referer"), "http://lottery.example.test/draws");
    EXPECT_EQ(req->header("User-Agent"),
              "Mozilla/5.0 (Windows; Windows NT 6.1) AppleWebKit/537.36 (KHTML, like Gecko) "
              "Chrome/56.0.2924.87 Safari/537.36");
    EXPECT_FALSE(req->hasHeader("Cookie"));  // the option block is ignored

    // Other paths of the same server are plain GETs.
    server.on("/news", Reply::html("n"));
    EXPECT_EQ(HttpGet(server.url("/news"), ""), "succ:n");
    EXPECT_EQ(server.lastRequest()->method, "GET");
}

TEST_F(HttpFetch, RefererAndGzipHostsChangeTheRequest) {
    LocalHttpServer server;
    Reply packed = Reply::html("packed text");
    packed.compression = Compression::Gzip;
    server.on("/gz/page", packed);
    server.on("/ref/page", Reply::html("r"));
    FetchSpecialHosts special;
    special.refererHost = ":" + std::to_string(server.port()) + "/ref/";
    special.refererValue = "http://www.example.test/";
    special.gzipHosts = {"no-such-host.test", ":" + std::to_string(server.port()) + "/gz/"};
    SetFetchSpecialHosts(special);

    EXPECT_EQ(HttpGet(server.url("/ref/page"), ""), "succ:r");
    EXPECT_EQ(server.lastRequest()->header("Referer"), "http://www.example.test/");
    EXPECT_FALSE(server.lastRequest()->hasHeader("Accept-Encoding"));
    // An explicit referer option still wins.
    EXPECT_EQ(HttpGet(server.url("/ref/page"), "referer=无来源"), "succ:r");
    EXPECT_FALSE(server.lastRequest()->hasHeader("Referer"));

    EXPECT_EQ(HttpGet(server.url("/gz/page"), "gzip="), "succ:packed text");
    EXPECT_EQ(server.lastRequest()->header("Accept-Encoding"), "gzip,deflate");
    EXPECT_EQ(server.lastRequest()->header("Referer"), server.url("/gz/page"));
}

TEST_F(HttpFetch, TlsHostIsSpokenToWithTls11) {
    LocalHttpServer::Options tls;
    tls.tls = true;
    LocalHttpServer server(tls);
    server.on("/", Reply::html("modern"));
    std::string address = "https://127.0.0.1:" + std::to_string(server.port()) + "/";
    EXPECT_EQ(HttpGet(address, ""), "succ:modern");

    // The fixture server, like the TLS library's defaults here, refuses anything older than
    // TLS 1.2, so insisting on TLS 1.1 must end in a handshake failure.
    FetchSpecialHosts special;
    special.tlsHost = "127.0.0.1:" + std::to_string(server.port());
    SetFetchSpecialHosts(special);
    std::string result = HttpGet(address, "");
    EXPECT_TRUE(startsWith(result, "fail:")) << result;
}

TEST_F(HttpFetch, PagerHostGetsItsPagerRebuiltAsLinks) {
    LocalHttpServer server;
    const std::string pager = "<span>1</span><a href=\"javascript:;\">more</a>";
    const std::string page = "<div class=\"list\">items</div><div class=\"pager talc zwpager\">" + pager +
                             "</div><div id=\"pg\" data-page=\"1|95|30\"></div><footer>" + pager + "</footer>";
    server.on("/list/p.html", Reply::html(page));
    server.on("/list/p_2.html", Reply::html(page));
    server.on("/list/q.html", Reply::html(replaceFirst(page, "1|95|30", "1|abc|30")));
    FetchSpecialHosts special;
    special.pagerHost = "127.0.0.1:" + std::to_string(server.port()) + "/list/";
    SetFetchSpecialHosts(special);
    test::ScriptedDialogs dialogs;
    SetFetchDialogs(&dialogs);

    std::string address = server.url("/list/p.html");
    std::string base = server.url("/list/p");
    std::string links = "<a href=\"" + base + "_2.html\">2</a><a href=\"" + base + "_3.html\">3</a><a href=\"" + base +
                        "_4.html\">4</a>";
    std::string expected = page;
    for (std::size_t pos = 0; (pos = expected.find(pager, pos)) != std::string::npos; pos += links.size())
        expected.replace(pos, pager.size(), links);
    EXPECT_EQ(HttpGet(address, ""), "succ:" + expected);

    // Not for an address with "_", nor with a forced charset.
    EXPECT_EQ(HttpGet(server.url("/list/p_2.html"), ""), "succ:" + page);
    EXPECT_EQ(HttpGet(address, "charset=UTF-8"), "succ:" + page);
    EXPECT_TRUE(dialogs.shown().empty());

    // A total that is no number is reported and counts as 0: the pager is emptied.
    std::string odd = HttpGet(server.url("/list/q.html"), "");
    EXPECT_EQ(odd.find(pager), std::string::npos) << odd;
    EXPECT_TRUE(dialogs.sawMessage("文字转数字有误str:abc"));
}

// ---- address encoders ----

TEST_F(HttpFetch, EncodeFormEncodesIdeographsAndTitleMarksOnly) {
    struct Case {
        const char* text;
        const char* encoding;
        const char* expected;
    } cases[] = {
        {"http://h.test/中文/a.html", "UTF-8", "http://h.test/%E4%B8%AD%E6%96%87/a.html"},
        {"http://h.test/中文/a.html", "GBK", "http://h.test/%D6%D0%CE%C4/a.html"},
        {"http://h.test/s?q=《书名》", "UTF-8", "http://h.test/s?q=%e3%80%8a%E4%B9%A6%E5%90%8D%e3%80%8b"},
        {"http://h.test/s?q=《书名》", "GBK", "http://h.test/s?q=%e3%80%8a%CA%E9%C3%FB%e3%80%8b"},
        // Outside U+4E00..U+9FA5: kana, full-width forms, punctuation, accents and spaces stay.
        {"http://h.test/カナ、ＡＢ é x y%20", "UTF-8", "http://h.test/カナ、ＡＢ é x y%20"},
        {"http://h.test/\xE9\xBE\xA5\xE9\xBE\xA6", "UTF-8",
         "http://h.test/%E9%BE%A5\xE9\xBE\xA6"},  // 龥 in, U+9FA6 out
        {"plain", "UTF-8", "plain"},
    };
    for (const auto& c : cases) EXPECT_EQ(encodeForm(c.text, c.encoding), c.expected) << c.text << " " << c.encoding;
}

TEST_F(HttpFetch, EncodeFormLogsWhenItChangedTheAddress) {
    test::SandboxWorkspace::Options withLog;
    withLog.withLog = true;
    test::SandboxWorkspace ws(withLog);
    platform::RunLog::global().init(ws.folder(), true, true);
    encodeForm("http://h.test/plain", "UTF-8");
    encodeForm("http://h.test/新闻", "UTF-8");
    std::string log = test::readWholeFile(platform::RunLog::global().filePath());
    platform::RunLog::global().close();
    EXPECT_NE(log.find("Myhttpencode2|url需转码且完成：http://h.test/新闻"), std::string::npos) << log;
    EXPECT_EQ(log.find("plain"), std::string::npos) << log;
}

TEST_F(HttpFetch, UrlEncodeAllEncodesEveryUnsafeCharacter) {
    struct Case {
        const char* text;
        const char* encoding;
        const char* expected;
    } cases[] = {
        {"http://h.test/a b.jpg", "UTF-8", "http://h.test/a%20b.jpg"},
        {"http://h.test/a%20b.jpg", "UTF-8", "http://h.test/a%2520b.jpg"},
        {"*<>#\"{}|\\^[]`", "UTF-8", "%2A%3C%3E%23%22%7B%7D%7C%5C%5E%5B%5D%60"},
        {"/img/图.png?x=1&y=2;z=(3)!~'$,@+", "UTF-8", "/img/%E5%9B%BE.png?x=1&y=2;z=(3)!~'$,@+"},
        {"/img/图.png", "GBK", "/img/%CD%BC.png"},
        {"tab\there\x7f\r\n", "UTF-8", "tab%09here\x7f%0D%0A"},
        {"é", "UTF-8", "%C3%A9"},
        {"\xFF", "UTF-8", "%FF"},  // a stray byte is kept as its own escape
    };
    for (const auto& c : cases) EXPECT_EQ(UrlEncodeAll(c.text, c.encoding), c.expected) << c.text;
}

// ---- concurrency ----

TEST_F(HttpFetch, ManyThreadsFetchAtOnce) {
    LocalHttpServer server(kSites + "plain-article-utf8");
    const std::string page = "succ:" + test::readWholeFile(kSites + "plain-article-utf8/index.html");
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 15; ++i)
                if (HttpGet(server.url("/index.html"), i % 2 ? "gzip=1" : "") == page) ++good;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(good.load(), 8 * 15);
}

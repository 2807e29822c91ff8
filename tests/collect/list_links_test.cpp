// The list stage over list pages: list areas, link patterns with list-page fields, filters,
// duplicate addresses and titles, order, the run's limit, pagers, fetch failures, time-outs,
// pause and stop, against real task databases and pages in memory or over loopback.
#include "collect/list_links.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "collect/http_fetch.h"
#include "collect/list_sources.h"
#include "collect/task_db.h"
#include "platform/regex.h"
#include "support/fakes.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

const std::string kTitlePattern = "<a href=\"{DD:采集网址}\" title=\"{DD:字段=列表标题}\"";

// Pages held in memory; every fetch is recorded with its options.
struct MemorySite {
    std::map<std::string, std::string> pages;  // address -> "succ:…" / "fail:…"
    std::vector<std::string> fetched;
    std::vector<std::string> options;
    std::function<void(const std::string&)> onFetch;

    collect::PageFetcher fetcher() {
        return [this](const std::string& address, const std::string& opts) {
            fetched.push_back(address);
            options.push_back(opts);
            if (onFetch) onFetch(address);
            auto it = pages.find(address);
            return it == pages.end() ? std::string("fail:HTTP/1.1 404 Not Found") : it->second;
        };
    }
};

class FixedDraws final : public engine::RandomSource {
public:
    explicit FixedDraws(std::vector<std::int64_t> v) : m_values(std::move(v)) {}
    std::int64_t uniform(std::int64_t lo, std::int64_t hi) override {
        std::int64_t v = m_next < m_values.size() ? m_values[m_next++] : lo;
        return std::clamp(v, lo, hi);
    }

private:
    std::vector<std::int64_t> m_values;
    std::size_t m_next = 0;
};

std::string listPage(const std::vector<std::string>& links, const std::string& extra = "") {
    std::string items;
    for (const auto& l : links) items += "<li>" + l + "</li>\n";
    return "<html><body><a href=\"/nav.html\">nav</a><ul class=\"list\">\n" + items + "</ul>" + extra +
           "</body></html>";
}

std::string titled(const std::string& href, const std::string& title) {
    return "<a href=\"" + href + "\" title=\"" + title + "\">" + title + "</a>";
}

struct ListStage : ::testing::Test {
    std::string folder = test::makeTempFolder("tarvex-list-");
    std::string db = folder + "1.db3";
    test::ScriptedDialogs dialogs;
    test::RecordingSlotView view;
    std::mutex dbLock;
    std::mutex stateLock;
    std::string runState = "1";
    std::unique_ptr<collect::RunContext> run;

    ~ListStage() override { test::removeTree(folder); }

    static json listSettings(const std::vector<std::string>& urls = {}) {
        return json{{"More_urls", urls},
                    {"More_begin", "<ul class=\"list\">"},
                    {"More_end", "</ul>"},
                    {"More_url_regex", ""},
                    {"More_include", "html"},
                    {"More_exclude", ""},
                    {"More_check_referer", "0"},
                    {"More_readtimeout", "20"},
                    {"More_check_repeat_title", "0"},
                    {"More_sort", "0"},
                    {"More_mulpage", ""}};
    }

    static std::string document(const json& list, const json& extra = json::object()) {
        json doc{{"Morepage", list.dump()},
                 {"other_time1", "0"},
                 {"other_time2", "0"},
                 {"other_url_max", ""},
                 {"fieldsAll", json::array({json{{"title", "标题"}}.dump(), json{{"title", "内容"}}.dump()})}};
        doc.update(extra);
        return doc.dump();
    }

    // Creates the task database for the document and a fresh run over it.
    void makeTask(const std::string& doc) {
        ASSERT_TRUE(collect::CreateTaskDb(db, dialogs));
        collect::CreateContentTables(db, doc);
        newRun(doc);
    }

    // A task of its own in a fresh folder, for the next case of a table.
    void freshTask(const std::string& doc) {
        test::removeTree(folder);
        folder = test::makeTempFolder("tarvex-list-");
        db = folder + "1.db3";
        makeTask(doc);
    }

    // A new run of the same task: the known addresses are read from the database again.
    void newRun(const std::string& doc) {
        run = std::make_unique<collect::RunContext>();
        run->taskId = 1;
        run->settingsJson = doc;
        run->fetchOptions = collect::BuildFetchOptions(doc);
        run->dbPath = db;
        run->programFolder = folder;
        run->slotDbLock = &dbLock;
        run->view = &view;
        run->dialogs = &dialogs;
        run->sleepStepMs = 5;
        run->readRunState = [this] {
            std::lock_guard<std::mutex> g(stateLock);
            return runState;
        };
        collect::LoadKnownUrls(*run);
    }

    void setRunState(const std::string& s) {
        std::lock_guard<std::mutex> g(stateLock);
        runState = s;
    }

    std::vector<std::string> column(const std::string& name) {
        auto t = collect::query(db, "select \"" + name + "\" as v from content order by id");
        std::vector<std::string> out;
        for (std::size_t i = 0; i < t.rows.size(); ++i) out.push_back(t.text(i, "v"));
        return out;
    }

    bool paneHas(const std::string& line) {
        auto lines = pane();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    std::vector<std::string> pane() { return view.paneLines(run->slot); }
};

}  // namespace

TEST(ListFetchOptions, RefererAndTimeOutInMilliseconds) {
    collect::ListSettings list;
    const std::string header = "useragent=x\r\nconnecttimeout=20000";
    EXPECT_EQ(collect::ListFetchOptions(header, list), header + "\r\n");
    list.noReferer = true;
    list.timeoutSeconds = 3;
    EXPECT_EQ(collect::ListFetchOptions(header, list), header + "\r\nreferer=无来源\rreadtimeout2=3000\r");
    EXPECT_EQ(collect::ListSettings::parse(R"({"More_readtimeout":"0"})").timeoutSeconds, 20);
    EXPECT_EQ(collect::ListSettings::parse(R"({"More_readtimeout":""})").timeoutSeconds, 20);
    EXPECT_EQ(collect::FieldGroupName("作者"), "U4F5C8005");
}

TEST_F(ListStage, PagedSiteOverLoopbackGivesEachAddressOnceWithItsTitle) {
    test::LocalHttpServer server(std::string(TARVEX_TEST_DATA_DIR) + "/sites/list-paged");
    json list = listSettings({server.url("/list/index.html")});
    list["More_begin"] = "<ul class=\"newslist\">";
    list["More_url_regex"] = kTitlePattern;
    list["More_exclude"] = "ad_";
    list["More_mulpage"] = json{
        {"Mul_begin", "<div class=\"pages\">"},
        {"Mul_end", "</div>"},
        {"Mul_max", 0},
        {"Mul_radio_1", "-1"},
        {"Mul_radio_2", "0"},
        {"Mul_radio_3", "0"}}.dump();
    const std::string doc = document(list);
    makeTask(doc);
    collect::collectListPages(*run, {server.url("/list/index.html")});

    std::vector<std::string> urls, titles;
    for (int k = 1; k <= 12; ++k) {
        for (int id = 3 * k - 2; id <= 3 * k; ++id) {
            urls.push_back(server.url("/news/" + std::to_string(id) + ".html"));
            titles.push_back("新闻标题" + std::to_string(id));
        }
    }
    urls.push_back(server.url("/news/37.html"));
    titles.push_back("新闻标题1");
    // Links keep the server's own (non-standard) port.
    ASSERT_NE(server.port(), 80);
    EXPECT_NE(urls[0].find(":" + std::to_string(server.port()) + "/news/1.html"), std::string::npos);
    auto stored = column("url");
    std::sort(stored.begin(), stored.end());
    auto expected = urls;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(column("列表标题").size(), 37u);
    EXPECT_EQ(
        collect::query(db, "select count(*) as n from content where geturl=1 and getc=0 and postc=0").text(0, "n"),
        "37");
    auto t = collect::query(db, "select 列表标题 as t from content where url='" + server.url("/news/14.html") + "'");
    EXPECT_EQ(t.text(0, "t"), "新闻标题14");

    EXPECT_EQ(server.requestsTo("/list/index.html").size(), 1u);
    for (int k = 2; k <= 12; ++k)
        EXPECT_EQ(server.requestsTo("/list/index_" + std::to_string(k) + ".html").size(), 1u) << k;
    EXPECT_TRUE(paneHas("本列表页提取到：6个内容页Url,成功:3,并过滤3个url"));
    EXPECT_TRUE(paneHas("------正在采集列表分页:" + server.url("/list/index_2.html")));

    // The next run of the task finds every address known and inserts nothing.
    newRun(doc);
    collect::collectListPages(*run, {server.url("/list/index.html")});
    EXPECT_EQ(column("url").size(), 37u);
    EXPECT_TRUE(paneHas("本列表页提取到：6个内容页Url,成功:0,并过滤6个url"));
}

TEST_F(ListStage, RepeatedListTitlesAreDroppedWhenTitlesMustBeUnique) {
    test::LocalHttpServer server(std::string(TARVEX_TEST_DATA_DIR) + "/sites/list-paged");
    json list = listSettings();
    list["More_begin"] = "<ul class=\"newslist\">";
    list["More_url_regex"] = kTitlePattern;
    list["More_exclude"] = "ad_";
    list["More_check_repeat_title"] = "-1";
    std::vector<std::string> pages;
    for (int k : {1, 12}) pages.push_back(server.url(k == 1 ? "/list/index.html" : "/list/index_12.html"));
    const std::string doc = document(list);
    makeTask(doc);
    collect::collectListPages(*run, pages);
    // Page 1 gives 1..3; page 12 gives 34..36 and 33, and 37 is dropped for its title.
    EXPECT_EQ(column("url").size(), 7u);
    EXPECT_TRUE(paneHas("过滤重复标题：新闻标题1"));

    // A later run reads the stored titles: a new address under an old title is dropped too.
    MemorySite site;
    site.pages["http://s.com/l.html"] = "succ:<ul class=\"newslist\">" + titled("/n/new1.html", "新闻标题2") +
                                        titled("/n/new2.html", "全新标题") + "</ul>";
    newRun(doc);
    collect::collectListPages(*run, {"http://s.com/l.html"}, site.fetcher());
    auto urls = column("url");
    ASSERT_EQ(urls.size(), 8u);
    EXPECT_EQ(urls.back(), "http://s.com/n/new2.html");
}

TEST_F(ListStage, LinksAreFilteredRewrittenAndStoredWithTheirListFields) {
    struct Case {
        const char* what;
        json changes;
        std::string area;
        std::vector<std::string> expected;  // addresses in id order
    };
    const std::string page = "http://www.s.com/news/list.html";
    const std::vector<Case> cases = {
        {"include html drops .htm; relative forms resolved",
         json::object(),
         "<a href=\"a.html\">a</a><a href='/b.html'>b</a> <a href = ../c.html >c</a><a href=\"d.htm\">d</a>",
         {"http://www.s.com/news/a.html", "http://www.s.com/b.html", "http://www.s.com/c.html"}},
        {"every include text needed, no exclude text allowed",
         json{{"More_include", "news,2019"}, {"More_exclude", "ad_,#"}},
         "<a href=\"/news/2019/1.html\">1</a><a href=\"/news/2018/2.html\">2</a><a href=\"/2019/3.html\">3</a>"
         "<a href=\"/news/2019/ad_4.html\">4</a><a href=\"/news/2019/5.html#c\">5</a>",
         {"http://www.s.com/news/2019/1.html"}},
        {"a link twice on a page is inserted once",
         json::object(),
         "<a href=\"x.html\">x</a><a href=\"x.html\">again</a><a href=\"http://www.s.com/news/x.html\">abs</a>",
         {"http://www.s.com/news/x.html"}},
        {"rewrite with parameters turns script links into links",
         json{{"More_begin_regex1", "show('{参数1}','{参数2}')"},
              {"More_begin_regex2", "href=\"/{参数2}/{参数1}.html\" "}},
         "<span onclick=\"show('7','tech')\">7</span><span onclick=\"show('8','life')\">8</span>",
         {"http://www.s.com/tech/7.html", "http://www.s.com/life/8.html"}},
        {"rewrite without parameters removes the matches",
         json{{"More_begin_regex1", "<del>{*}</del>"}, {"More_begin_regex2", ""}},
         "<del><a href=\"old.html\">old</a></del><a href=\"new.html\">new</a>",
         {"http://www.s.com/news/new.html"}},
        {"an unusable rewrite keeps the area",
         json{{"More_begin_regex1", "({参数1}{参数1})"}, {"More_begin_regex2", "x"}},
         "<a href=\"k.html\">k</a>",
         {"http://www.s.com/news/k.html"}},
        {"a link that cannot be made absolute is dropped, not stored empty",
         json::object(),
         "<a href=\"//other.com/x.html\">x</a><a href=\"y.html\">y</a>",
         {"http://www.s.com/news/y.html"}},
        {"list area matched without regard to case",
         json{{"More_begin", "<UL CLASS=\"LIST\">"}},
         "<a href=\"u.html\">u</a>",
         {"http://www.s.com/news/u.html"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        json list = listSettings();
        list.update(c.changes);
        freshTask(document(list));
        MemorySite site;
        site.pages[page] = "succ:<html><ul class=\"list\">" + c.area + "</ul></html>";
        collect::collectListPages(*run, {page}, site.fetcher());
        EXPECT_EQ(column("url"), c.expected);
    }
}

TEST_F(ListStage, ListFieldsFillTheirColumnsAndOtherColumnsStayEmpty) {
    json list = listSettings();
    list["More_url_regex"] = "<a href=\"{DD:采集网址}\" data-a=\"{DD:字段=作者}\">{DD:字段=列表标题}</a>";
    json doc = json::parse(document(list));
    doc["post_morepost"] = json{{"check1", "-1"}, {"MorePostAll", json::array({"站点一,site1,"})}}.dump();
    makeTask(doc.dump());
    MemorySite site;
    site.pages["http://s.com/l.html"] = "succ:" + listPage({"<A HREF=\"/1.html\" DATA-A=\"张三\">第一篇 'x'</A>",
                                                            "<a href=\"/2.html\" data-a=\"\">第二篇</a>"});
    collect::collectListPages(*run, {"http://s.com/l.html"}, site.fetcher());
    EXPECT_EQ(column("url"), (std::vector<std::string>{"http://s.com/1.html", "http://s.com/2.html"}));
    EXPECT_EQ(column("作者"), (std::vector<std::string>{"张三", ""}));
    EXPECT_EQ(column("列表标题"), (std::vector<std::string>{"第一篇 'x'", "第二篇"}));
    EXPECT_EQ(column("标题"), (std::vector<std::string>{"", ""}));
    // Per-site publish flags are not list fields: they keep their default.
    EXPECT_EQ(column("postc_site1"), (std::vector<std::string>{"0", "0"}));
}

TEST_F(ListStage, SortOrderDecidesWhichLinkGetsTheLowerId) {
    const std::string page = "http://s.com/l.html";
    const std::string body =
        "succ:" + listPage({"<a href=\"/a.html\">a</a>", "<a href=\"/b.html\">b</a>", "<a href=\"/c.html\">c</a>"});
    struct Case {
        std::string sort;
        std::vector<std::string> expected;
    };
    for (const auto& c : std::vector<Case>{{"0", {"a", "b", "c"}}, {"1", {"c", "b", "a"}}, {"2", {"c", "a", "b"}}}) {
        SCOPED_TRACE("More_sort " + c.sort);
        json list = listSettings();
        list["More_sort"] = c.sort;
        freshTask(document(list));
        MemorySite site;
        site.pages[page] = body;
        FixedDraws draws({2, 0, 0});
        collect::collectListPages(*run, {page}, site.fetcher(), &draws);
        std::vector<std::string> got;
        for (const auto& u : column("url")) got.push_back(u.substr(std::string("http://s.com/").size(), 1));
        EXPECT_EQ(got, c.expected);
    }
}

TEST_F(ListStage, TheRunLimitIsCheckedBeforeEachPageAgainstEarlierPages) {
    struct Case {
        std::string limit;
        std::size_t rows;
        std::size_t listPagesFetched;
    };
    for (const auto& c : std::vector<Case>{{"", 12, 4}, {"0", 12, 4}, {"3", 3, 1}, {"5", 6, 2}, {"6", 6, 2}}) {
        SCOPED_TRACE("other_url_max " + c.limit);
        freshTask(document(listSettings(), json{{"other_url_max", c.limit}}));
        MemorySite site;
        std::vector<std::string> pages;
        for (int p = 1; p <= 4; ++p) {
            std::string address = "http://s.com/list_" + std::to_string(p) + ".html";
            pages.push_back(address);
            std::vector<std::string> links;
            for (int i = 1; i <= 3; ++i)
                links.push_back("<a href=\"/n/" + std::to_string(p * 10 + i) + ".html\">x</a>");
            site.pages[address] = "succ:" + listPage(links);
        }
        collect::collectListPages(*run, pages, site.fetcher());
        EXPECT_EQ(column("url").size(), c.rows);
        EXPECT_EQ(site.fetched.size(), c.listPagesFetched);
    }
}

TEST_F(ListStage, PagerPagesStopAtMulMaxAndAtTheRunLimit) {
    // List page p.html with pages p_2 … p_6, each naming every page.
    auto makeSite = [](MemorySite& site) {
        std::string pager = "<div class=\"pg\">";
        for (int n = 6; n >= 2; --n)
            pager += "<a href=\"p_" + std::to_string(n) + ".html\">" + std::to_string(n) + "</a>";
        pager += "<a href=\"p.html\">1</a></div>";
        for (int n = 1; n <= 6; ++n) {
            std::string address = n == 1 ? "http://s.com/p.html" : "http://s.com/p_" + std::to_string(n) + ".html";
            std::vector<std::string> links;
            for (int i = 1; i <= 2; ++i)
                links.push_back("<a href=\"/n" + std::to_string(n) + "_" + std::to_string(i) + ".html\">x</a>");
            site.pages[address] = "succ:" + listPage(links, pager);
        }
    };
    json pagerJson{{"Mul_begin", "<div class=\"pg\">"}, {"Mul_end", "</div>"}, {"Mul_radio_1", "-1"}};
    struct Case {
        long long mulMax;
        std::string urlMax;
        std::vector<std::string> fetched;
    };
    const std::vector<Case> cases = {
        {0, "", {"p.html", "p_6.html", "p_5.html", "p_4.html", "p_3.html", "p_2.html"}},
        {3, "", {"p.html", "p_2.html", "p_3.html"}},
        {0, "3", {"p.html", "p_6.html"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("Mul_max " + std::to_string(c.mulMax) + ", other_url_max " + c.urlMax);
        json list = listSettings();
        pagerJson["Mul_max"] = c.mulMax;
        list["More_mulpage"] = pagerJson.dump();
        freshTask(document(list, json{{"other_url_max", c.urlMax}}));
        MemorySite site;
        makeSite(site);
        collect::collectListPages(*run, {"http://s.com/p.html"}, site.fetcher());
        std::vector<std::string> fetched;
        for (const auto& f : site.fetched) fetched.push_back(f.substr(std::string("http://s.com/").size()));
        EXPECT_EQ(fetched, c.fetched);
        EXPECT_EQ(column("url").size(), 2 * c.fetched.size());
    }
}

TEST_F(ListStage, FailedEmptyAndAreaLessPagesAreReportedAndSkipped) {
    makeTask(document(listSettings()));
    MemorySite site;
    site.pages["http://s.com/empty.html"] = "succ:";
    site.pages["http://s.com/other.html"] = "succ:<html><p>no list here</p></html>";
    site.pages["http://s.com/ok.html"] = "succ:" + listPage({"<a href=\"/1.html\">1</a>"});
    collect::collectListPages(
        *run,
        {"http://s.com/missing.html", "http://s.com/empty.html", "http://s.com/other.html", "http://s.com/ok.html"},
        site.fetcher());
    EXPECT_TRUE(paneHas("抓取网页:http://s.com/missing.html,返回错误：HTTP/1.1 404 Not Found"));
    EXPECT_TRUE(paneHas("抓取网页:http://s.com/empty.html,返回空字符串"));
    EXPECT_TRUE(paneHas("采集列表内容区域为空http://s.com/other.html"));
    EXPECT_TRUE(paneHas("准备采集列表网址：http://s.com/ok.html"));
    EXPECT_EQ(column("url"), std::vector<std::string>{"http://s.com/1.html"});
    auto calls = view.calls();
    std::string lastLabel;
    for (const auto& c : calls)
        if (c.kind == "label" && c.which == 1) lastLabel = c.text;
    EXPECT_EQ(lastLabel, "运行状态:当前列表数/列表总数/网址数：4/4/1");
}

TEST_F(ListStage, AFailingInsertLosesOnlyItsOwnRow) {
    // A table that refuses some addresses: the other rows of the page are still stored.
    ASSERT_TRUE(collect::CreateTaskDb(db, dialogs));
    collect::execScript(
        db,
        "CREATE TABLE content(id INTEGER PRIMARY KEY AUTOINCREMENT, url TEXT CHECK(url NOT LIKE '%bad%'), "
        "geturl INTEGER, getc INTEGER, postc INTEGER, 标题 TEXT)");
    newRun(document(listSettings()));
    MemorySite site;
    site.pages["http://s.com/l.html"] =
        "succ:" + listPage({"<a href=\"/1.html\">1</a>", "<a href=\"/bad.html\">b</a>", "<a href=\"/2.html\">2</a>"});
    collect::collectListPages(*run, {"http://s.com/l.html"}, site.fetcher());
    EXPECT_EQ(column("url"), (std::vector<std::string>{"http://s.com/1.html", "http://s.com/2.html"}));
    // A refused row is a failure, not a filtered link.
    EXPECT_TRUE(paneHas("本列表页提取到：3个内容页Url,成功:2,并过滤0个url,失败1个"));
    EXPECT_EQ(run->counters->listInserted.load(), 2);
    EXPECT_EQ(run->counters->listFailed.load(), 1);
    bool errorShown = false;
    for (const auto& l : pane()) errorShown = errorShown || l.find("CHECK constraint failed") != std::string::npos;
    EXPECT_TRUE(errorShown);
    // The refused address stays known for the rest of the run.
    EXPECT_TRUE(run->known.contains("http://s.com/bad.html"));
}

TEST_F(ListStage, ATableThatTakesNothingFailsEveryLinkAndSaysSo) {
    // The table reads fine but refuses every row.
    makeTask(document(listSettings()));
    collect::execScript(db,
                        "CREATE TRIGGER no_rows BEFORE INSERT ON content BEGIN SELECT RAISE(ABORT, 'refused'); END");
    MemorySite site;
    site.pages["http://s.com/l.html"] = "succ:" + listPage({"<a href=\"/1.html\">1</a>", "<a href=\"/2.html\">2</a>"});
    collect::collectListPages(*run, {"http://s.com/l.html"}, site.fetcher());
    EXPECT_TRUE(paneHas("本列表页提取到：2个内容页Url,成功:0,并过滤0个url,失败2个"));
    EXPECT_TRUE(paneHas("refused"));
    EXPECT_EQ(run->counters->listInserted.load(), 0);
    EXPECT_EQ(run->counters->listFailed.load(), 2);
}

TEST_F(ListStage, AnUnreadableTableEndsTheStageBeforeAnyFetch) {
    // Not a database at all: its columns cannot be read, so nothing is fetched or stored.
    test::SandboxWorkspace ws;
    ws.writeFile("9.db3", std::string(4096, 'x'));
    makeTask(document(listSettings()));
    run->dbPath = ws.path("9.db3");
    MemorySite site;
    site.pages["http://s.com/l.html"] = "succ:" + listPage({"<a href=\"/1.html\">1</a>"});
    collect::collectListPages(*run, {"http://s.com/l.html"}, site.fetcher());
    EXPECT_TRUE(site.fetched.empty());
    EXPECT_TRUE(paneHas("读取content表字段出错：file is not a database"));
    EXPECT_EQ(run->counters->failure(), "读取content表字段出错：file is not a database");
}

TEST_F(ListStage, ALinkPatternThatStartsWithTheAddressFindsLinksAutomatically) {
    // Nothing stands before the address to anchor on: the pattern is not used, links are found
    // automatically (no HTML fragments stored as addresses, no list fields).
    json list = listSettings();
    list["More_url_regex"] = "{DD:采集网址}\" title=\"{DD:字段=列表标题}\"";
    makeTask(document(list));
    MemorySite site;
    site.pages["http://s.com/l.html"] =
        "succ:" + listPage({titled("/a/1.html", "第一篇"), titled("/a/2.html", "第二篇"), titled("/a/3.htm", "三")});
    collect::collectListPages(*run, {"http://s.com/l.html"}, site.fetcher());
    EXPECT_EQ(column("url"), (std::vector<std::string>{"http://s.com/a/1.html", "http://s.com/a/2.html"}));
    EXPECT_EQ(column("列表标题"), (std::vector<std::string>{"", ""}));

    // One character before the address makes it the user's pattern.
    json manual = listSettings();
    manual["More_url_regex"] = "\"{DD:采集网址}\" title=\"{DD:字段=列表标题}\"";
    freshTask(document(manual));
    collect::collectListPages(*run, {"http://s.com/l.html"}, site.fetcher());
    EXPECT_EQ(column("列表标题"), (std::vector<std::string>{"第一篇", "第二篇"}));
}

TEST_F(ListStage, AHugeListAreaIsCutWithoutHittingTheMatchingLimits) {
    // Limits far below the defaults stand in for a list area of many megabytes.
    struct LowLimits {
        platform::RegexLimits saved = platform::regexLimits();
        LowLimits() {
            auto low = saved;
            low.matchLimit = 2000;
            platform::setRegexLimits(low);
        }
        ~LowLimits() { platform::setRegexLimits(saved); }
    } low;
    std::vector<std::string> links;
    for (int i = 0; i < 3000; ++i) links.push_back("<a href=\"/n/" + std::to_string(i) + ".html\">新闻</a>");
    MemorySite site;
    site.pages["http://s.com/l.html"] = "succ:" + listPage(links);

    // Front and back texts without a placeholder: every link is found.
    makeTask(document(listSettings()));
    collect::collectListPages(*run, {"http://s.com/l.html"}, site.fetcher());
    EXPECT_EQ(column("url").size(), 3000u);

    // With a placeholder the joined pattern is needed; when it runs into the limit the pane says
    // so instead of calling the area empty.
    json list = listSettings();
    list["More_begin"] = "<ul class=\"{*}\">";
    freshTask(document(list));
    collect::collectListPages(*run, {"http://s.com/l.html"}, site.fetcher());
    EXPECT_TRUE(column("url").empty());
    EXPECT_FALSE(paneHas("采集列表内容区域为空http://s.com/l.html"));
    bool reported = false;
    for (const auto& l : pane())
        reported = reported || (l.rfind("采集列表内容区域提取出错：", 0) == 0 && l.find("limit") != std::string::npos);
    EXPECT_TRUE(reported);
}

TEST_F(ListStage, GbkPageDeclaredInItsMetaTagIsReadWithItsTitles) {
    test::LocalHttpServer server(std::string(TARVEX_TEST_DATA_DIR) + "/sites/list-gbk-meta");
    json list = listSettings();
    list["More_begin"] = "<!--列表开始-->";
    list["More_end"] = "<!--列表结束-->";
    list["More_url_regex"] = kTitlePattern;
    makeTask(document(list));
    collect::collectListPages(*run, {server.url("/list.html")});
    EXPECT_EQ(column("url"),
              (std::vector<std::string>{server.url("/gn/2019/0501/101.html"), server.url("/gn/2019/0501/102.html"),
                                        server.url("/gn-103.html")}));
    EXPECT_EQ(column("列表标题"), (std::vector<std::string>{"春季农业生产有序推进", "长江经济带生态保护成效显著",
                                                            "“五一”假期出行人数创新高"}));
}

TEST_F(ListStage, TimeOutIsTypedInSecondsAndRefererCanBeLeftOut) {
    test::LocalHttpServer server;
    test::Reply slow = test::Reply::html(listPage({"<a href=\"/1.html\">1</a>"}));
    slow.delay = 2500ms;
    server.on("/slow.html", slow);
    server.on("/quick.html", test::Reply::html(listPage({"<a href=\"/2.html\">2</a>"})));

    json list = listSettings();
    list["More_readtimeout"] = "5";  // 5 s: the slow page arrives in time
    list["More_check_referer"] = "-1";
    makeTask(document(list));
    collect::collectListPages(*run, {server.url("/slow.html"), server.url("/quick.html")});
    EXPECT_EQ(column("url").size(), 2u);
    auto quick = server.requestsTo("/quick.html");
    ASSERT_EQ(quick.size(), 1u);
    EXPECT_FALSE(quick[0].hasHeader("Referer"));

    // 1 s: the same page is too slow.
    list["More_readtimeout"] = "1";
    list["More_check_referer"] = "0";
    freshTask(document(list));
    server.clearRequests();
    collect::collectListPages(*run, {server.url("/slow.html"), server.url("/quick.html")});
    EXPECT_EQ(column("url"), std::vector<std::string>{server.url("/2.html")});
    bool failed = false;
    for (const auto& l : pane())
        failed = failed || l.rfind("抓取网页:" + server.url("/slow.html") + ",返回错误：", 0) == 0;
    EXPECT_TRUE(failed);
    quick = server.requestsTo("/quick.html");
    ASSERT_EQ(quick.size(), 1u);
    EXPECT_TRUE(quick[0].hasHeader("Referer"));
}

TEST_F(ListStage, PauseWaitsOnceAndStopEndsTheStageBeforeTheNextPage) {
    makeTask(document(listSettings()));
    MemorySite site;
    std::vector<std::string> pages;
    for (int p = 1; p <= 4; ++p) {
        std::string address = "http://s.com/l" + std::to_string(p) + ".html";
        pages.push_back(address);
        site.pages[address] = "succ:" + listPage({"<a href=\"/n" + std::to_string(p) + ".html\">x</a>"});
    }
    std::thread resumer;
    site.onFetch = [&](const std::string& address) {
        if (address != pages[1]) return;
        setRunState("2");
        resumer = std::thread([this] {
            std::this_thread::sleep_for(400ms);
            setRunState("1");
        });
    };
    collect::collectListPages(*run, pages, site.fetcher());
    resumer.join();
    EXPECT_EQ(site.fetched, pages);
    int pauses = 0;
    for (const auto& l : pane()) pauses += l.find("任务暂停") != std::string::npos;
    EXPECT_EQ(pauses, 1);
    EXPECT_EQ(column("url").size(), 4u);

    // A stop while page 2 is fetched: page 2 is still stored, page 3 is never fetched.
    freshTask(document(listSettings()));
    site.fetched.clear();
    site.onFetch = [&](const std::string& address) {
        if (address == pages[1]) setRunState("3");
    };
    collect::collectListPages(*run, pages, site.fetcher());
    EXPECT_EQ(site.fetched, (std::vector<std::string>{pages[0], pages[1]}));
    EXPECT_EQ(column("url").size(), 2u);
}

TEST_F(ListStage, StopDuringThePagerWalkEndsTheWholeStage) {
    json list = listSettings();
    list["More_mulpage"] =
        json{{"Mul_begin", "<div class=\"pg\">"}, {"Mul_end", "</div>"}, {"Mul_radio_1", "-1"}}.dump();
    makeTask(document(list));
    MemorySite site;
    const std::string pager = "<div class=\"pg\"><a href=\"a_2.html\">2</a><a href=\"a_3.html\">3</a></div>";
    for (std::string name : {"a", "a_2", "a_3", "b"})
        site.pages["http://s.com/" + name + ".html"] =
            "succ:" + listPage({"<a href=\"/" + name + "x.html\">x</a>"}, pager);
    site.onFetch = [&](const std::string& address) {
        if (address == "http://s.com/a_2.html") setRunState("3");
    };
    collect::collectListPages(*run, {"http://s.com/a.html", "http://s.com/b.html"}, site.fetcher());
    EXPECT_EQ(site.fetched, (std::vector<std::string>{"http://s.com/a.html", "http://s.com/a_2.html"}));
}

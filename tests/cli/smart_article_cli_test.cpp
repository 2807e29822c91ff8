// "智能识别" end to end: a task whose only fields are 标题 and 内容 by 智能识别 collects clean
// articles from real pages (UTF-8 and GBK) served on loopback, and collect-one shows every
// part of a GBK article paginated over two pages with the pages' bodies joined.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "collect/task_db.h"
#include "engine/field_rule.h"
#include "support/article_site.h"
#include "support/cli_process.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using Json = nlohmann::ordered_json;

namespace {

Json smartField(const std::string& title, const std::string& part) {
    Json f = engine::NewFieldRule(title);
    f["radio_1"] = "0";
    f["radio_4"] = "-1";
    f["radio_4_content"] = part;
    return f;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(CliSmartArticle, TitleAndBodyOnlyTaskCollectsCleanArticlesFromRealPages) {
    test::LocalHttpServer server(std::string(TARVEX_TEST_DATA_DIR) + "/corpus/readability");
    server.on("/list.html", test::Reply::html("<html><body><ul class=\"list\">"
                                              "<li><a href=\"/gmw/source.html\">1</a></li>"
                                              "<li><a href=\"/qq/source.html\">2</a></li>"
                                              "<li><a href=\"/pixnet/source.html\">3</a></li>"
                                              "<li><a href=\"/youth/source.gbk.html\">4</a></li>"
                                              "</ul></body></html>"));
    Json title = smartField("标题", "标题");
    title["check_null"] = "-1";
    Json body = smartField("内容", "正文");
    body["check_null"] = "-1";
    Json list{{"More_urls", {server.url("/list.html")}},
              {"More_begin", "<ul class=\"list\">"},
              {"More_end", "</ul>"},
              {"More_url_regex", "<a href=\"{DD:采集网址}\""},
              {"More_include", ""},
              {"More_exclude", ""},
              {"More_readtimeout", "20"},
              {"More_check_repeat_title", "0"},
              {"More_sort", "0"}};
    Json settings{{"Morepage", list.dump()},
                  {"other_time1", "0"},
                  {"other_time2", "0"},
                  {"other_joinpage", "<hr>"},
                  {"fieldsAll", {title.dump(), body.dump()}}};
    test::SandboxWorkspace ws;
    const auto id = test::addCollectTask(ws, "智能识别", settings.dump());

    auto run = test::runCli("--workspace " + ws.folder() + " run " + std::to_string(id) + " --stages list,content");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("内容采集小结：入库4条"), std::string::npos) << run.out;

    struct Expected {
        const char* page;
        const char* title;
        std::vector<std::string> inBody, notInBody;
    };
    const Expected expected[] = {
        {"/gmw/source.html",
         "宇航员在太空中喝酒会怎么样？后果很严重",
         {"<p>　　翱翔于距地球数千公里的太空中", "以迎接他们的归来。</p>"},
         {"值班总编推荐", "光明网版权", "首页"}},
        {"/qq/source.html",
         "DeepMind新电脑已可利用记忆自学 人工智能迈上新台阶",
         {"DeepMind开发出一款能够用自己的记忆学习新知识", "（编译/林靖东）"},
         {"腾讯公司 版权所有", "全民微信时代"}},
        {"/pixnet/source.html",
         "新竹尖石_美樹營地賞楓 (2)",
         {"一波波接續性低溫寒流報到", "營地地址：新竹縣尖石鄉玉峰村6鄰20號"},
         {"留言列表", "露營兼賞楓，好棒的生活"}},
        {"/youth/source.gbk.html",
         "海外留学生看两会：出国前后关注点大不同",
         {"在采访中，我们了解到不少学子在出国前就每年守在电脑前观看两会直播", "拓展留学生参政议政渠道"},
         {"国家开放大学2016年度十大新闻权威发布", "返回首页"}},
    };
    const std::string db = ws.workspace().taskDbPath(id);
    for (const auto& e : expected) {
        SCOPED_TRACE(e.page);
        auto row = collect::query(db, "select * from content where url='" + server.url(e.page) + "'");
        ASSERT_EQ(row.rows.size(), 1u);
        EXPECT_EQ(row.text(0, "getc"), "1");
        EXPECT_EQ(row.text(0, "标题"), e.title);
        const std::string text = row.text(0, "内容");
        for (const auto& s : e.inBody) EXPECT_TRUE(has(text, s)) << "missing: " << s << "\n" << text;
        for (const auto& s : e.notInBody) EXPECT_FALSE(has(text, s)) << "kept: " << s;
        for (const char* s : {"<script", "<style", "<iframe", "<form", " class=", " style=", "<div"})
            EXPECT_FALSE(has(text, s)) << s;
    }
}

TEST(CliSmartArticle, CollectOneShowsEveryPartOfAPaginatedGbkArticle) {
    test::LocalHttpServer server(std::string(TARVEX_TEST_DATA_DIR) + "/sites/article-paged-gbk");
    Json body = smartField("内容", "正文");
    body["check_mulpage"] = "-1";
    Json pager{{"Mul_begin", "<div class=\"page\">"},
               {"Mul_end", "</div>"},
               {"Mul_max", 0},
               {"Mul_time", "0"},
               {"Mul_radio_1", "-1"},
               {"Mul_radio_2", "0"},
               {"Mul_radio_3", "0"}};
    Json settings{{"mulpage", pager.dump()},
                  {"other_time1", "0"},
                  {"other_joinpage", "<!--分页符-->"},
                  {"fieldsAll",
                   {smartField("标题", "标题").dump(), body.dump(), smartField("时间", "发布时间").dump(),
                    smartField("作者", "作者").dump()}}};
    test::SandboxWorkspace ws;
    const auto id = test::addCollectTask(ws, "分页", settings.dump());

    auto r = test::runCli("--workspace " + ws.folder() + " collect-one " + std::to_string(id) + " " +
                          test::shellQuote(server.url("/a/1.html")) + " --json");
    ASSERT_EQ(r.status, 0) << r.out;
    auto doc = Json::parse(r.out);
    EXPECT_EQ(doc["标题"], "古镇老街修缮完工 百年石桥重新开放");
    EXPECT_EQ(doc["时间"], "2026-03-05 10:20:00");
    EXPECT_EQ(doc["作者"], "张晓明");
    const std::string text = doc["内容"];
    const auto join = text.find("<!--分页符-->");
    ASSERT_NE(join, std::string::npos) << text;
    EXPECT_TRUE(has(text.substr(0, join), "尽量不用新料替换。")) << text;
    EXPECT_TRUE(has(text.substr(join), "在老街住了六十多年的王阿婆笑着说。")) << text;
    EXPECT_FALSE(has(text, "相关阅读")) << text;
    EXPECT_FALSE(has(text, "下一页")) << text;
}

// "智能识别": the article found without rules on real and hand-made pages (Chinese and Western,
// UTF-8 and GBK), the dates it reads, and the field method over pages with post-processing.
#include "engine/article_extract.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "engine/field_extract.h"
#include "engine/field_rule.h"
#include "platform/text_codec.h"

using namespace tarvex::engine;
using Json = nlohmann::ordered_json;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string dataFile(const std::string& relative) {
    return std::string(TARVEX_TEST_DATA_DIR) + "/" + relative;
}

// A page file as the fetch hands it over: decoded to UTF-8.
std::string pageText(const std::string& relative) {
    std::string bytes = readFile(dataFile(relative));
    if (relative.find("gbk") != std::string::npos) return tarvex::platform::gb18030ToUtf8(bytes);
    return bytes;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

Json smartField(const std::string& title, const std::string& part) {
    Json f = NewFieldRule(title);
    f["radio_1"] = "0";
    f["radio_4"] = "-1";
    f["radio_4_content"] = part;
    return f;
}

}  // namespace

TEST(ArticleDate, ReadsTheFormatsPagesUse) {
    const std::pair<const char*, const char*> cases[] = {
        {"2026年3月5日 10:20", "2026-03-05 10:20:00"},
        {"发布时间：2026年03月05日10:20:30 来源：本站", "2026-03-05 10:20:30"},
        {"2026年3月5日下午3:20", "2026-03-05 15:20:00"},
        {"2026年3月5日 10时20分", "2026-03-05 10:20:00"},
        {"2017-03-10T09:58:03+08:00", "2017-03-10 09:58:03"},
        {"2017-03-10 09:58:03.0", "2017-03-10 09:58:03"},
        {"2026/3/5", "2026-03-05 00:00:00"},
        {"2026.03.05 08:05", "2026-03-05 08:05:00"},
        {"Posted on March 5, 2026 at 3:04 pm by Tom", "2026-03-05 15:04:00"},
        {"5 March 2026, 10:20", "2026-03-05 10:20:00"},
        {"Thursday, 5th Mar. 2026", "2026-03-05 00:00:00"},
        {"Dec 28 Sat 2013 00:28", "2013-12-28 00:28:00"},
        {"12:00 am, Jan 1, 2026", "2026-01-01 00:00:00"},
        // Not dates: an impossible month or day, a number run, no year, an id that holds digits.
        {"2026-13-05", ""},
        {"2026-02-32", ""},
        {"20260305", ""},
        {"March 5", ""},
        {"content_23937776", ""},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(NormalizeDate(text), expected) << text;
}

TEST(ArticlePart, ReadsTheFourChoicesAndTakesAnythingElseAsBody) {
    const std::pair<const char*, ArticlePart> cases[] = {{"正文", ArticlePart::Body},     {"标题", ArticlePart::Title},
                                                         {"发布时间", ArticlePart::Date}, {"作者", ArticlePart::Author},
                                                         {"", ArticlePart::Body},         {"摘要", ArticlePart::Body}};
    for (const auto& [text, part] : cases) {
        EXPECT_EQ(ArticlePartFromText(text), part) << text;
        if (*text) {
            EXPECT_EQ(ArticlePartText(part), std::string(part == ArticlePart::Body ? "正文" : text));
        }
    }
}

// Each page: what the article is, sentences from its start, middle and end that the body must
// hold, and texts of the page around it that it must not.
struct PageCase {
    const char* file;
    const char* title;
    const char* date;
    const char* author;
    std::vector<std::string> inBody;
    std::vector<std::string> notInBody;
};

TEST(ArticleExtract, FindsTheArticleOfRealAndHandMadePages) {
    const PageCase cases[] = {
        {"corpus/readability/gmw/source.html",
         "宇航员在太空中喝酒会怎么样？后果很严重",
         "2017-03-10 09:58:00",
         "肖春芳",
         {"翱翔于距地球数千公里的太空中", "以迎接他们的归来。", "图注：奥尔德林的圣餐杯回到了地球上",
          "<img src=\"http://imgtech.gmw.cn/attachement/jpg/site2/20170310/448a5bc1e2861a2c4e5929.jpg\""},
         {"值班总编推荐", "光明网版权", "老人制万根", "宇航员在太空中喝酒会怎么样？后果很严重</"}},
        {"corpus/readability/qq/source.html",
         "DeepMind新电脑已可利用记忆自学 人工智能迈上新台阶",
         "2016-10-14 07:17:00",
         "",
         {"在2014年收购的人工智能公司DeepMind", "发表在<a href=\"http://tech.qq.com/science.htm\">科学</a>刊物",
          "<img src=\"http://img1.gtimg.com/tech/pics/hv1/168/240/2140/139214868.jpg\""},
         {"转播到腾讯微博", "全民微信时代", "正在加载"}},
        {"corpus/readability/pixnet/source.html",
         "新竹尖石_美樹營地賞楓 (2)",
         "2013-12-28 00:28:00",
         "史蒂文的家_藍天 (stevenhgm)",
         {"一波波接續性低溫寒流報到", "營地地址：新竹縣尖石鄉玉峰村6鄰20號",
          "http://pic.pimg.tw/stevenhgm/1387894842-1217674167.jpg"},
         {"露營兼賞楓，好棒的生活", "謝謝賞圖", "留言列表", "#31"}},
        {"corpus/readability/youth/source.gbk.html",
         "海外留学生看两会：出国前后关注点大不同",
         "2017-03-10 08:42:00",
         "青网校园崔宁宁",  // the page's meta author
         {"在采访中，我们了解到不少学子在出国前", "<img src=\"./W020170310313653868929.jpg\""},
         {"国家开放大学2016年度十大新闻权威发布", "发稿时间"}},
        {"article/en-news-jsonld/page.html",
         "Harbour ferry returns after storm repairs",
         "2026-03-05 10:20:00",
         "Maria Okafor",
         {"<p>The Saltmarsh ferry carried its first passengers", "<h2>What was repaired</h2>",
          "<li>A new propeller shaft seal and bearings</li>",
          "<figcaption>The ferry arriving at the Saltmarsh slipway on Thursday.</figcaption>",
          "<caption>Timetable from 9 March</caption>", "<td>07:15</td>",
          "check the harbour website before travelling."},
         {"Share on X", "Related stories", "Great news, the road detour", "Sign up", "All rights reserved",
          "ads.example.net", "Tags:", "Transport Correspondent", "<h1"}},
        {"article/en-blog-plain/page.html",
         "Notes on keeping a sourdough starter",
         "2026-03-05 15:04:00",
         "Tom Hale",
         {"I have kept the same starter going", "<img src=\"/uploads/2026/03/starter-jar.jpg\"",
          "<blockquote><p>The starter is not fragile.", "<td>Winter</td>", "two feeds will bring it round."},
         {"Share this", "Recent posts", "Thank you, this is the first guide", "A simple rye loaf", "Posted on",
          "blank.gif"}},
        {"sites/article-paged-gbk/a/1.html",
         "古镇老街修缮完工 百年石桥重新开放",
         "2026-03-05 10:20:00",
         "张晓明",
         {"本报讯 经过近一年的修缮", "<img src=\"/uploads/2026/03/qiao.jpg\" alt=\"重新开放的石桥\">",
          "尽量不用新料替换。"},
         {"当前位置", "相关阅读", "老街商户陆续回迁", "游客甲", "热点排行", "版权所有", "下一页", "发布时间"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string page = pageText(c.file);
        ASSERT_FALSE(page.empty());
        Article a = ExtractArticle(page);
        EXPECT_EQ(a.title, c.title);
        EXPECT_EQ(a.date, c.date);
        EXPECT_EQ(a.author, c.author);
        for (const auto& s : c.inBody) EXPECT_TRUE(has(a.body, s)) << "missing: " << s << "\n" << a.body;
        for (const auto& s : c.notInBody) EXPECT_FALSE(has(a.body, s)) << "kept: " << s << "\n" << a.body;
        // Clean markup: no scripts, styles, forms, frames or presentation attributes.
        for (const char* s : {"<script", "<style", "<form", "<iframe", "<input",
                              " class=", " style=", " id=", " onclick=", "<div", "<span", "<font"})
            EXPECT_FALSE(has(a.body, s)) << s;
    }
}

TEST(ArticleExtract, PagesWithoutAnArticleGiveEmptyPartsAndNeverFail) {
    const std::string navOnly =
        "<html><head><title>Links</title></head><body><ul><li><a href=/a>One</a></li><li><a href=/b>Two</a></li>"
        "</ul></body></html>";
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<div>";
    deep += "A sentence, deep inside, that is long enough to count as a paragraph of text.";
    const std::string cases[] = {"",
                                 "<tarvex></tarvex>",
                                 "plain text without any markup at all",
                                 navOnly,
                                 std::string("\xff\xfe<p>\xc3(broken, bytes)</p>\x80", 26),
                                 deep};
    for (const auto& page : cases) {
        Article a = ExtractArticle(page);
        EXPECT_FALSE(has(a.body, "<a href=/a>")) << page.substr(0, 60);
        EXPECT_TRUE(a.date.empty()) << page.substr(0, 60);
    }
    EXPECT_EQ(ExtractArticle(navOnly).body, "");
    EXPECT_EQ(ExtractArticle(navOnly).title, "Links");
    // The content worker's wrapper around the first page does not hide the page's head.
    const std::string wrapped = "<tarvex>" + pageText("article/en-news-jsonld/page.html") + "</tarvex>";
    EXPECT_EQ(ExtractArticlePart(wrapped, ArticlePart::Title), "Harbour ferry returns after storm repairs");
}

TEST(ArticleExtract, TheSiteNameIsCutFromTheTitleWhenNoHeadingNamesTheArticle) {
    const std::pair<const char*, const char*> cases[] = {
        {"古镇老街修缮完工 百年石桥重新开放_本地新闻_江南日报网", "古镇老街修缮完工 百年石桥重新开放"},
        {"How we rebuilt the harbour wall | Coastline Gazette", "How we rebuilt the harbour wall"},
        {"Notes on starters — Tom's Kitchen", "Notes on starters"},
        {"A title - with a dash in it - Site", "A title - with a dash in it"},
        {"新竹尖石_美樹營地賞楓", "新竹尖石_美樹營地賞楓"},
        {"Plain title", "Plain title"},
    };
    for (const auto& [title, expected] : cases) {
        std::string page = std::string("<html><head><title>") + title +
                           "</title></head><body><div><p>Some words of a paragraph, written here, with commas and "
                           "a full stop.</p></div></body></html>";
        EXPECT_EQ(ExtractArticlePart(page, ArticlePart::Title), expected) << title;
    }
}

// The field method: each part of the article from a rule, every page of a paginated article
// joined with the page joiner, and the value through post-processing like any field.
TEST(ArticleField, TakesEachPartAndJoinsTheBodyOfEveryPage) {
    Json body = smartField("内容", "正文");
    body["check_mulpage"] = "-1";
    body["txt_strips"] = {Json{{"type", "替换"}, {"rep1", "本报讯"}, {"rep2", "【本报讯】"}}.dump()};
    Json title = smartField("标题", "标题");
    title["check_mulpage"] = "-1";  // one headline, even when the field runs over every page
    Json date = smartField("时间", "发布时间");
    Json author = smartField("作者", "作者");
    Json unknown = smartField("其他", "摘要");
    Json settings{{"other_joinpage", "<hr>"}, {"other_join_repeat", ""}};
    settings["fieldsAll"] = Json::array();
    for (const Json& f : {title, body, date, author, unknown}) settings["fieldsAll"].push_back(f.dump());

    const std::vector<std::string> pages = {pageText("sites/article-paged-gbk/a/1.html"),
                                            pageText("sites/article-paged-gbk/a/1_2.html")};
    RecordOutcome out = ExtractRecord(settings, pages, "http://127.0.0.1/a/1.html");
    ASSERT_FALSE(out.error) << *out.error;
    EXPECT_EQ(out.record["标题"], "古镇老街修缮完工 百年石桥重新开放");
    EXPECT_EQ(out.record["时间"], "2026-03-05 10:20:00");
    EXPECT_EQ(out.record["作者"], "张晓明");
    const std::string text = out.record["内容"];
    const auto join = text.find("<hr>");
    ASSERT_NE(join, std::string::npos) << text;
    EXPECT_TRUE(has(text.substr(0, join), "尽量不用新料替换。")) << text;
    EXPECT_TRUE(has(text.substr(join), "镇里还在老街入口新设了游客服务点")) << text;
    EXPECT_EQ(text.find("<hr>", join + 1), std::string::npos) << text;
    EXPECT_TRUE(has(text, "【本报讯】 经过近一年的修缮")) << text;
    EXPECT_FALSE(has(text, "古镇老街修缮完工 百年石桥重新开放")) << text;
    // An unknown choice reads as the body (of the first page: the field does not run over pages).
    const std::string other = out.record["其他"];
    EXPECT_TRUE(has(other, "本报讯 经过近一年的修缮")) << other;
    EXPECT_FALSE(has(other, "镇里还在老街入口")) << other;

    // The first method that is on decides; a rule without "radio_4" is cut as before.
    Json cut = NewFieldRule("标题");
    cut["radio_1_content"] = {"<div class=\"info\">", "　作者"};
    auto rule = ReadFieldRule(cut);
    EXPECT_FALSE(rule.smart);
    EXPECT_EQ(extractFieldFromPage("标题", rule, pages[0], {}, {}).value, "发布时间：2026年3月5日 10:20");
    // With 智能识别 on as well, it decides: the field reads the page, so the page is fetched.
    Json both = smartField("标题", "标题");
    both["radio_3"] = "-1";
    both["radio_3_content_Radio1"] = "-1";
    both["radio_3_content_richtext1"] = "固定";
    EXPECT_EQ(extractFieldFromPage("标题", ReadFieldRule(both), pages[0], {}, {}).value,
              "古镇老街修缮完工 百年石桥重新开放");
    EXPECT_FALSE(AllFixedStrings(Json{{"fieldsAll", {both.dump()}}}.dump()));
}

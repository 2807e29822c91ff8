#include "engine/post_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "collect/http_fetch.h"
#include "engine/field_extract.h"
#include "engine/template_lang.h"
#include "platform/chinese_convert.h"
#include "platform/sqlite_db.h"
#include "scripted_random.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"

namespace tarvex::engine {
namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;

// One rule of "txt_strips" as its JSON text.
std::string strip(const std::string& type, const Keys& keys = {}) {
    RuleJson r = RuleJson::object();
    r["type"] = type;
    for (const auto& [k, v] : keys) r[k] = v;
    return r.dump();
}

// A field rule whose chain is the given rules, as JSON text.
std::string fieldRule(const std::vector<std::string>& strips) {
    RuleJson r = RuleJson::object();
    r["title"] = "f";
    r["txt_strips"] = strips;
    return r.dump();
}

std::string chain(const std::string& value, const std::vector<std::string>& strips, const ChainEnv& env = {},
                  const PageList& pages = {}, const FieldValueList& values = {}) {
    return applyPostRules(value, fieldRule(strips), pages, values, env);
}

std::string one(const std::string& value, const std::string& type, const Keys& keys,
                const FieldValueList& values = {}) {
    return chain(value, {strip(type, keys)}, {}, {}, values);
}

struct Case {
    std::string value;
    Keys keys;
    std::string expected;
};

TEST(ReplaceRule, TemplatesParametersAndPureRegex) {
    const Case cases[] = {
        {"a<br>b<BR>c", {{"rep1", "<br>"}, {"rep2", ""}}, "ab<BR>c"},
        {"a<br>b<BR>c", {{"rep1", "<br>"}, {"rep2", ""}, {"check1", "-1"}}, "abc"},
        {"x<img src=1>y<img src=2>", {{"rep1", "<img{*}>"}, {"rep2", "[图]"}}, "x[图]y[图]"},
        {"x<img src=1>y<img src=2>", {{"rep1", "<img{*}>"}, {"rep2", "[$1]"}}, "x[ src=1]y[ src=2]"},
        {"x<img src=1>", {{"rep1", "<img{*}>"}, {"rep2", "\\1|$$|\\$|\\\\"}}, "x src=1|$|$|\\"},
        {"作者：张三<br>作者：李四<p>作者：张三<",
         {{"rep1", "作者：{参数1}<"}, {"rep2", "{参数1}"}},
         "张三br>李四p>张三"},
        {"[a=1][b=2]", {{"rep1", "[{参数1}={参数2}]"}, {"rep2", "{参数2}{参数1}"}}, "1a2b"},
        {"a1b22", {{"rep1", "\\d+"}, {"rep2", "#"}, {"check2", "-1"}}, "a#b#"},
        {"a1b22", {{"rep1", "\\d+"}, {"rep2", "$0"}, {"check2", "-1"}}, "a$0b$0"},
        {"去掉广告去掉", {{"rep1", "广告"}, {"rep2", "null"}}, "去掉去掉"},
        {"a.b axb", {{"rep1", "a.b"}, {"rep2", "-"}}, "- axb"},
        {"(1+1)?", {{"rep1", "(1+1)?"}, {"rep2", "2"}}, "2"},
        {"<p>\nx", {{"rep1", "<p>\r\nx"}, {"rep2", "y"}}, "y"},
        {"no match", {{"rep1", "zzz"}, {"rep2", "y"}}, "no match"},
    };
    for (const auto& c : cases) EXPECT_EQ(one(c.value, "替换", c.keys), c.expected) << strip("替换", c.keys);
}

TEST(ReplaceRule, EachMatchIsReplacedOnceInOnePass) {
    const std::string five = "<img a><img b><img c><img d><img e>";
    const std::string classed = "<img class=x a><img class=x b><img class=x c><img class=x d><img class=x e>";
    EXPECT_EQ(one(five, "替换", {{"rep1", "<img"}, {"rep2", "<img class=x"}, {"check2", "-1"}}), classed);
    EXPECT_EQ(one(five, "替换", {{"rep1", "<img{参数1}>"}, {"rep2", "<img class=x{参数1}>"}}), classed);
    EXPECT_EQ(one(five, "替换", {{"rep1", "<img"}, {"rep2", "<img class=x"}}), classed);
    // A replacement that contains the match does not grow with every match.
    EXPECT_EQ(one(std::string(40, 'a'), "替换", {{"rep1", "a"}, {"rep2", "aa"}, {"check2", "-1"}}),
              std::string(80, 'a'));
    EXPECT_EQ(one("k=v;k=v;", "替换", {{"rep1", "k={参数1};"}, {"rep2", "k={参数1}{参数1};"}}), "k=vv;k=vv;");
}

TEST(ReplaceRule, FieldReferencesInTheReplacement) {
    FieldValueList values{{"作者", "张三"}, {"多行", "a<临时换行2替换换行2>b"}};
    EXPECT_EQ(one("by X", "替换", {{"rep1", "X"}, {"rep2", "{DD:字段=作者}"}}, values), "by 张三");
    EXPECT_EQ(one("by X", "替换", {{"rep1", "X"}, {"rep2", "{DD:字段=多行}"}}, values), "by a\nb");
    // Field values go in as written, also where the replacement is a template.
    FieldValueList money{{"价格", "$100 \\1"}};
    EXPECT_EQ(one("价格X", "替换", {{"rep1", "X"}, {"rep2", "{DD:字段=价格}"}}, money), "价格$100 \\1");
    EXPECT_EQ(one("价格X", "替换", {{"rep1", "X"}, {"rep2", "{DD:字段=价格}"}, {"check2", "-1"}}, money),
              "价格$100 \\1");
    EXPECT_EQ(one("价格<X>", "替换", {{"rep1", "<{参数1}>"}, {"rep2", "{DD:字段=价格}{参数1}"}}, money),
              "价格$100 \\1X");
}

TEST(ReplaceRule, BadPatternsAndMissingGroupsLeaveTheValue) {
    const Case cases[] = {
        {"a(b", {{"rep1", "("}, {"rep2", "x"}, {"check2", "-1"}}, "a(b"},
        {"作者：张三<", {{"rep1", "作者：{参数1}<"}, {"rep2", "{参数2}"}}, "作者：张三<"},
        {"ab", {{"rep1", "{参数1}{参数1}"}, {"rep2", "x{参数1}"}}, "ab"},
        {"ab", {{"rep1", ""}, {"rep2", "x"}}, "ab"},
    };
    for (const auto& c : cases) EXPECT_EQ(one(c.value, "替换", c.keys), c.expected) << strip("替换", c.keys);
    // The rules after a refused one still run.
    EXPECT_EQ(chain("a(b", {strip("替换", {{"rep1", "("}, {"check2", "-1"}}), strip("内容前后追加", {{"rep2", "!"}})}),
              "a(b!");
}

TEST(GetResultRule, ItemsJoinersAndLimits) {
    const Keys li = {{"rep1", "<li>(.*?)</li>"}, {"rep2", "{参数1}"},       {"repeat_check", "-1"},
                     {"rep_join_string", ","},   {"rep_begin_string", "["}, {"rep_end_string", "]"}};
    EXPECT_EQ(one("<li>a</li><li>b</li>", "正则提取", li), "[a],[b]");
    Keys max1 = li;
    max1.push_back({"rep_max_num", "1"});
    EXPECT_EQ(one("<li>a</li><li>b</li>", "正则提取", max1), "[a]");
    EXPECT_EQ(one("nothing here", "正则提取", li), "");
    Keys crlf = li;
    crlf[3].second = "\\r\\n";
    EXPECT_EQ(one("<li>a</li><li>b</li>", "正则提取", crlf), "[a]\r\n[b]");
    Keys once = li;
    once[2].second = "0";
    EXPECT_EQ(one("<li>a</li><li>b</li>", "正则提取", once), "[a]");

    const Case cases[] = {
        {"<b>x</b><b>y</b>", {{"rep1", "<b>{参数1}</b>"}, {"rep2", "({参数1})"}, {"repeat_check", "-1"}}, "(x)(y)"},
        {"<b>x</b><b>y</b>", {{"rep1", "<b>{*}</b>"}, {"rep2", ""}}, "<b>x</b>"},
        {"<b>x</b>", {{"rep1", "<b>(.*?)</b>"}, {"rep2", "null"}}, "<b>x</b>"},
        {"<b>x</b>", {{"rep1", "<b>{参数1}</b>"}, {"rep2", "{参数2}"}}, "{参数2}"},
        {"a1b2", {{"rep1", "\\d"}, {"repeat_check", "-1"}, {"rep_join_string", "+"}, {"rep_max_num", "x"}}, "1+2"},
        // A pattern the engine refuses leaves the value as it was.
        {"a(b", {{"rep1", "(("}, {"rep2", ""}}, "a(b"},
    };
    for (const auto& c : cases) EXPECT_EQ(one(c.value, "正则提取", c.keys), c.expected) << strip("正则提取", c.keys);
}

TEST(CutRule, FrontBackKeepAndEmpty) {
    const Case cases[] = {
        {"x<body>y</body>z", {{"rep1", "<body>"}, {"rep2", "</body>"}}, "y"},
        {"x<body>y</body>z", {{"rep1", "<body>"}, {"rep2", "</body>"}, {"rep3", "-1"}}, "<body>y</body>"},
        {"x<body>y</body>z", {{"rep1", "<body>"}, {"rep2", "</body>"}, {"rep3", "0"}}, "y"},
        {"xyz", {{"rep1", "<body>"}, {"rep2", "</body>"}, {"check2", "-1"}}, "xyz"},
        {"x<body>yz", {{"rep1", "<body>"}, {"rep2", "</body>"}}, "yz"},
        {"abc", {{"rep1", "Q"}}, "abc"},
        {"abc", {{"rep1", "Q"}, {"check2", "-1"}}, ""},
        {"abc", {{"rep1", "b"}}, "c"},
        {"abc", {{"rep1", "b"}, {"rep3", "-1"}}, "bc"},
        {"abcb", {{"rep2", "b"}}, "a"},
        {"abcb", {{"rep2", "b"}, {"rep3", "-1"}}, "ab"},
        {"abc", {{"rep2", "Q"}, {"check2", "-1"}}, ""},
        // The back text is looked for after the front.
        {"</b>x<b>y</b>", {{"rep1", "<b>"}, {"rep2", "</b>"}}, "y"},
    };
    for (const auto& c : cases) EXPECT_EQ(one(c.value, "字符截取", c.keys), c.expected) << strip("字符截取", c.keys);
}

TEST(PostChain, AppendDefaultsAndStopRules) {
    EXPECT_EQ(one("v", "内容前后追加", {{"rep1", "<"}, {"rep2", ">"}}), "<v>");
    EXPECT_EQ(one("", "空内容默认值", {{"rep1", "无"}}), "无");
    EXPECT_EQ(one("有", "空内容默认值", {{"rep1", "无"}}), "有");
    const auto append = strip("内容前后追加", {{"rep2", "!"}});
    EXPECT_EQ(chain("", {strip("内容为空结束处理"), append}), "");
    EXPECT_EQ(chain("v", {strip("内容为空结束处理"), append}), "v!");
    EXPECT_EQ(chain("v", {strip("内容非空结束处理"), append}), "v");
    EXPECT_EQ(chain("", {strip("内容非空结束处理"), append}), "!");
    // A regex extraction that finds nothing, then a default.
    EXPECT_EQ(chain("abc", {strip("正则提取", {{"rep1", "\\d+"}}), strip("空内容默认值", {{"rep1", "0"}})}), "0");
}

TEST(PostChain, UnknownAndBrokenRulesAreSkipped) {
    const auto append = strip("内容前后追加", {{"rep2", "!"}});
    EXPECT_EQ(chain("v", {strip("未知规则"), "not json", "[1,2]", strip("JavaScript插件", {{"rep1", "a.js"}}),
                          strip("DLL插件", {{"rep1", "x.so"}}), append}),
              "v!");
    EXPECT_EQ(applyPostRules("v", "not a rule", {}, {}, ChainEnv{}), "v");
    EXPECT_EQ(applyPostRules("v", R"({"txt_strips":"none"})", {}, {}, ChainEnv{}), "v");
}

TEST(PostChain, HtmlFilterAndCharacterConversions) {
    EXPECT_EQ(one("<p>a</p><br>b", "html过滤", {{"html_strip_nums", "4,12,"}}), "ab");
    EXPECT_EQ(one("<p>a</p><br>b", "html过滤", {{"html_strip_nums", "4"}}), "a<br>b");
    EXPECT_EQ(one("\\u4f60\\u597d", "特殊字符转化", {{"check1", "-1"}}), "你好");
    if (!platform::chineseConversionAvailable()) GTEST_SKIP() << "OpenCC dictionaries not installed";
    // Escapes first, then simplified, then traditional.
    EXPECT_EQ(one("\\u9ad4", "特殊字符转化", {{"check1", "-1"}, {"check2", "-1"}}), "体");
    EXPECT_EQ(one("\\u4f53", "特殊字符转化", {{"check1", "-1"}, {"check2", "-1"}, {"check3", "-1"}}), "體");
    EXPECT_EQ(one("體", "特殊字符转化", {{"check2", "-1"}}), "体");
}

TEST(TimeRule, UnixStampsToBeijingTimeAndBack) {
    const Keys mode0 = {{"rep1", "{dd:日期yyyy-mm-dd hh:nn:ss}"}, {"check1", "0"}};
    const Case cases[] = {
        {"1546992000", mode0, "2019-01-09 08:00:00"},
        {"abc", mode0, "1970-01-01 08:00:00"},
        {"1546992000000", mode0, "1546992000000"},
        {"abcdefghij", mode0, "abcdefghij"},
        {"1546992000", {{"rep1", " {dd:日期yyyymmdd} "}}, "20190109"},
        {"123", {{"rep1", ""}, {"check1", "0"}}, "0"},
        {"2019-01-09 08:00:00", {{"check1", "1"}}, "1546992000"},
        {"2019/1/9 8:00", {{"check1", "1"}}, "1546992000"},
        {"2019年1月9日", {{"check1", "1"}}, "1546963200"},
        {"2019-02-30", {{"check1", "1"}}, "2019-02-30"},
        {"yesterday", {{"check1", "1"}}, "yesterday"},
        {"1546992000", {{"rep1", "{dd:日期yyyy}"}, {"check1", "x"}}, "1546992000"},
    };
    for (const auto& c : cases) EXPECT_EQ(one(c.value, "时间转化", c.keys), c.expected) << strip("时间转化", c.keys);
}

class WordLibraryChain : public ::testing::Test {
protected:
    test::SandboxWorkspace ws;
    KeywordDictionary dictionary;
    ChainEnv env() {
        ChainEnv e;
        e.programFolder = ws.folder();
        e.dictionary = &dictionary;
        return e;
    }
    void makeDictionary(const std::vector<std::string>& words) {
        ws.makeDir("Plugin/dict");
        platform::SqliteConnection db(ws.path("Plugin/dict/dict.jdb"));
        db.exec("create table dict (keys text)");
        for (const auto& w : words) platform::SqliteStatement(db, "insert into dict values (?)").bind(1, w).run();
    }
};

TEST_F(WordLibraryChain, KeywordTagsLoadTheWorkspaceDictionary) {
    makeDictionary({"中国", "北京", "上海"});
    EXPECT_EQ(chain("北京是中国的首都", {strip("关键词分词", {{"rep1", ","}, {"rep2", "5"}})}, env()), "中国,北京");
    EXPECT_EQ(chain("北京是中国的首都", {strip("关键词分词", {{"rep1", "|"}, {"rep2", "1"}})}, env()), "中国");
    EXPECT_EQ(chain("北京是中国的首都", {strip("关键词分词")}, env()), "中国,北京");
    // A count that is no number leaves the value and the chain goes on.
    EXPECT_EQ(chain("北京", {strip("关键词分词", {{"rep2", "五"}}), strip("内容前后追加", {{"rep2", "!"}})}, env()),
              "北京!");
    EXPECT_EQ(dictionary.readCount(), 1);
}

TEST_F(WordLibraryChain, KeywordTagsWithoutDictionaryEmptyTheValue) {
    EXPECT_EQ(chain("北京是中国的首都", {strip("关键词分词", {{"rep1", ","}, {"rep2", "5"}})}, env()), "");
    ws.writeFile("Plugin/dict/dict.jdb", "garbage that is not a SQLite database at all, long enough");
    EXPECT_EQ(chain("北京是中国的首都", {strip("关键词分词", {{"rep1", ","}, {"rep2", "5"}})}, env()), "");
}

TEST_F(WordLibraryChain, ListRulesUseTheWorkspaceLists) {
    ws.writeFile("Plugin/diydict/城市.txt", "上海\n北京\n");
    ws.writeFile("Plugin/samekey/同义.txt", "美丽,漂亮\n");
    ws.writeFile("Plugin/keyurl/链接.txt", "北京,/bj.html\n");
    EXPECT_EQ(chain("北京和上海", {strip("自定义词库分词", {{"rep1", "城市"}, {"rep2", "、"}, {"rep3", "5"}})}, env()),
              "上海、北京");
    EXPECT_EQ(chain("美丽的北京",
                    {strip("同义词替换", {{"rep1", "同义"}, {"rep2", "0"}}),
                     strip("关键词内链", {{"rep1", "链接"}, {"rep2", "5"}, {"rep3", "5"}})},
                    env()),
              "漂亮的<a href=\"/bj.html\">北京</a>");
    EXPECT_EQ(chain("北京", {strip("自定义词库分词", {{"rep1", "城市"}, {"rep3", "多"}})}, env()), "北京");
}

TEST_F(WordLibraryChain, RandomTextUsesTheInjectedRandomSource) {
    ws.writeFile("Plugin/random/r.txt", "甲\n乙\n");
    test::ScriptedRandom random({1});
    ChainEnv e = env();
    e.random = &random;
    EXPECT_EQ(
        chain("值", {strip("随机插入文本", {{"filepath", "Plugin/random/r.txt"}, {"getnum", "1"}, {"check1", "1"}})},
              e),
        "值乙");
    EXPECT_EQ(chain("值", {strip("随机插入文本", {{"filepath", "/etc/hostname"}, {"check1", "1"}})}, e), "值");
}

TEST_F(WordLibraryChain, ConcurrentChainsShareListsAndTheDictionary) {
    makeDictionary({"花园", "漂亮"});
    ws.writeFile("Plugin/samekey/s.txt", "美丽,漂亮\n");
    ws.writeFile("Plugin/keyurl/k.txt", "花园,/g.html\n");
    const std::vector<std::string> tagChain = {strip("同义词替换", {{"rep1", "s"}}), strip("关键词分词")};
    const std::vector<std::string> linkChain = {strip("同义词替换", {{"rep1", "s"}}),
                                                strip("关键词内链", {{"rep1", "k"}})};
    const ChainEnv e = env();
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                if (chain("美丽的花园", (t + i) % 2 ? tagChain : linkChain, e) !=
                    ((t + i) % 2 ? "花园,漂亮" : "漂亮的<a href=\"/g.html\">花园</a>"))
                    ++wrong;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(dictionary.readCount(), 1);
}

TEST(GetagainRule, ReExtractsFromTheStoredTopPageWhenEmpty) {
    PageList pages = ContentPageList({"<h1>标题</h1><p>一</p><p>二</p>", "<p>三</p>"});
    auto again = [&](const std::string& value, const Keys& keys) {
        return chain(value, {strip("内容为空再次提取", keys)}, {}, pages);
    };
    EXPECT_EQ(again("", {{"rep1", "<h1>"}, {"rep2", "</h1>"}}), "标题");
    EXPECT_EQ(again("有值", {{"rep1", "<h1>"}, {"rep2", "</h1>"}}), "有值");
    EXPECT_EQ(again("", {{"rep1", "<p>"}, {"rep2", "</p>"}, {"check2", "-1"}}), "一[dd:重复连接符]二[dd:重复连接符]三");
    EXPECT_EQ(again("", {{"rep1", "<p>{*}"}, {"rep2", "</p>"}}), "一");
    EXPECT_EQ(again("", {{"rep1", "<p>(.)</p>"}, {"rep2", "<{参数1}>"}, {"check1", "-1"}}), "<一>");
    EXPECT_EQ(again("", {{"rep1", "<p>{参数1}</p>"}, {"rep2", "[{参数1}]"}, {"check1", "-1"}, {"check2", "-1"}}),
              "[一][dd:重复连接符][二][dd:重复连接符][三]");
    EXPECT_EQ(again("", {{"rep1", "<h1>{*}</h1>"}, {"rep2", ""}, {"check1", "-1"}}), "<h1>标题</h1>");
    // The source is the entry as stored, its name included.
    EXPECT_EQ(again("", {{"rep1", "^(.*?)=<tarvex>"}, {"rep2", "{参数1}"}, {"check1", "-1"}}), "顶级内容页");
    EXPECT_EQ(again("", {{"rep1", "(("}, {"rep2", ""}, {"check1", "-1"}}), "");
    EXPECT_EQ(again("", {{"rep1", "<h2>"}, {"rep2", "</h2>"}}), "");
}

TEST(GetagainRule, RepeatJoinersBecomeTheTasksJoinerInFieldExtraction) {
    RuleJson field =
        RuleJson::parse(fieldRule({strip("内容为空再次提取", {{"rep1", "<p>"}, {"rep2", "</p>"}, {"check2", "-1"}})}));
    field["radio_1"] = "-1";
    field["radio_1_content"] = {"<nothing>", "</nothing>"};
    RuleJson settings = RuleJson::object();
    settings["other_join_repeat"] = "|";
    settings["fieldsAll"] = {field.dump()};
    auto record = ExtractRecord(settings, {"<p>a</p><p>b</p>"}, "http://h/");
    ASSERT_FALSE(record.error) << *record.error;
    EXPECT_EQ(record.record["f"], "a|b");
}

TEST(FetchRule, FetchesHttpAddressesOnly) {
    test::LocalHttpServer server;
    server.on("/page", test::Reply::html("<p>页面</p>"));
    server.on("/missing", test::Reply::withStatus(404, "no"));
    ChainEnv env;
    std::atomic<int> calls{0};
    env.fetch = [&](const std::string& url, const std::string& block) {
        ++calls;
        return collect::HttpGet(url, block);
    };
    const auto fetch = strip("访问网页");
    EXPECT_EQ(chain(server.url("/page"), {fetch}, env), "<p>页面</p>");
    EXPECT_EQ(chain("  " + server.url("/page") + "\r\n", {fetch}, env), "<p>页面</p>");
    EXPECT_EQ(chain(server.url("/missing"), {fetch}, env), "");
    EXPECT_EQ(calls.load(), 3);
    EXPECT_EQ(server.requestsTo("/page").size(), 2u);
    for (const std::string bad : {"file:///etc/passwd", "ftp://127.0.0.1/x", "gopher://127.0.0.1:1/", "/page", ""})
        EXPECT_EQ(chain(bad, {fetch}, env), "") << bad;
    EXPECT_EQ(calls.load(), 3);
    EXPECT_EQ(chain(server.url("/page"), {fetch}, ChainEnv{}), "");
}

TEST(PostChain, TheProcessWideEnvironmentReachesFieldExtraction) {
    test::SandboxWorkspace ws;
    ws.writeFile("Plugin/samekey/s.txt", "美丽,漂亮");
    auto saved = CurrentChainEnv();
    ChainEnv env;
    env.programFolder = ws.folder();
    SetChainEnv(env);
    RuleJson field = RuleJson::parse(fieldRule({strip("同义词替换", {{"rep1", "s"}})}));
    field["radio_1"] = "-1";
    field["radio_1_content"] = {"<b>", "</b>"};
    RuleJson settings = RuleJson::object();
    settings["fieldsAll"] = {field.dump()};
    auto record = ExtractRecord(settings, {"<b>美丽的花</b>"}, "");
    SetChainEnv(*saved);
    ASSERT_FALSE(record.error);
    EXPECT_EQ(record.record["f"], "漂亮的花");
}

class DllPlugins : public ::testing::Test {
protected:
    test::SandboxWorkspace ws;
    const std::string library = std::string(TARVEX_BIN_DIR) + "/../lib/example_plugin.so";
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(library)) << library;
        ws.makeDir("Plugin");
        std::filesystem::copy_file(library, ws.path("Plugin/example_plugin.so"));
    }
    std::string run(const std::vector<std::string>& settings, const std::string& value = "  正文  ") {
        std::vector<std::string> strips;
        for (const auto& s : settings) strips.push_back(strip("DLL插件", {{"rep1", s}}));
        return applyPlugins(7, "http://h/a.html", "内容", {{"标题", "t"}, {"内容", value}}, ContentPageList({"页"}),
                            "{}", fieldRule(strips), ws.folder());
    }
};

TEST_F(DllPlugins, DefaultAndNamedFunctionsInRuleOrder) {
    EXPECT_EQ(run({"example_plugin.so"}), "  正文  \n来源：http://h/a.html");
    EXPECT_EQ(run({"example_plugin.so|Fix"}), "正文");
    EXPECT_EQ(run({"example_plugin.so|Fix", "example_plugin.so"}), "正文\n来源：http://h/a.html");
    // The page handed over is entry 0 of the page list as stored.
    EXPECT_EQ(run({"example_plugin.so|Describe"}, "v"),
              "field=内容;url=http://h/a.html;page=顶级内容页=<tarvex>页</tarvex>"
              "<临时换行替换换行><临时换行2替换换行2>;value=v;text=v");
}

TEST_F(DllPlugins, MissingOrRefusedLibrariesLeaveTheValue) {
    std::filesystem::copy_file(library, ws.path("outside.so"));
    for (const std::string& setting :
         {std::string("missing.so"), std::string("example_plugin.so|NoSuch"), std::string("example_plugin.so|Fail"),
          std::string("../outside.so"), ws.path("outside.so"), std::string("..\\outside.so"), std::string("..")})
        EXPECT_EQ(run({setting}, "原值"), "原值") << setting;
    // A "|" in first place is part of the file name, not a function separator.
    EXPECT_EQ(run({"|Fix"}, "原值"), "原值");
}

TEST_F(DllPlugins, WindowsNamesFindTheSharedLibrary) {
    EXPECT_EQ(run({"example_plugin.dll|Fix"}), "正文");
    EXPECT_EQ(CallDllPlugin("example_plugin.DLL|Fix", "", "", " x ", "f", ws.folder()), "x");
}

TEST_F(DllPlugins, OnlyDllRulesRunAndTheValueComesFromTheList) {
    std::vector<std::string> strips = {strip("内容前后追加", {{"rep2", "!"}}),
                                       strip("DLL插件", {{"rep1", "example_plugin.so|Fix"}})};
    EXPECT_EQ(applyPlugins(1, "u", "内容", {{"内容", " a "}}, {}, "{}", fieldRule(strips), ws.folder()), "a");
    EXPECT_EQ(applyPlugins(1, "u", "内容", {{"其他", " a "}}, {}, "{}", fieldRule(strips), ws.folder()), "");
}

struct SaveCase {
    std::string type;
    Keys keys;
    std::optional<std::string> message;
};

TEST(PostRuleSaving, EditorRefusals) {
    test::SandboxWorkspace ws;
    ws.writeFile("Plugin/samekey/s.txt", "a,b");
    ws.writeFile("Plugin/keyurl/k.txt", "a,/b");
    ws.writeFile("Plugin/diydict/d.txt", "a");
    ws.writeFile("Plugin/random/r.txt", "a");
    const SaveCase cases[] = {
        {"替换", {{"rep1", ""}}, "替换前文字不能为空"},
        {"替换", {{"rep1", "x"}}, std::nullopt},
        {"正则提取", {{"rep1", ""}}, "“替换前”不能为空！"},
        {"字符截取", {{"rep1", ""}, {"rep2", ""}}, "“前边字符”,“后边字符”不能同时为空！"},
        {"字符截取", {{"rep2", "x"}}, std::nullopt},
        {"内容前后追加", {}, "“内容前边追加”,“内容后边追加”不能同时为空！"},
        {"空内容默认值", {{"rep1", ""}}, "内容默认值不能为空！"},
        {"html过滤", {{"html_strip_nums", ""}}, "选择框不能全部为空"},
        {"特殊字符转化", {{"check1", "0"}, {"check2", "0"}, {"check3", "0"}}, "至少选择一项，才能保存！"},
        {"特殊字符转化", {{"check3", "-1"}}, std::nullopt},
        {"同义词替换", {{"rep1", "none"}}, "同义词文件不存在！"},
        {"同义词替换", {{"rep1", ""}}, "同义词文件不存在！"},
        {"同义词替换", {{"rep1", "s"}}, std::nullopt},
        {"关键词内链", {{"rep1", "none"}}, "关键词内链文件不存在！"},
        {"关键词内链", {{"rep1", "k"}}, std::nullopt},
        {"自定义词库分词", {{"rep1", "../samekey/s"}}, "自定义关键词内链文件不存在！"},
        {"自定义词库分词", {{"rep1", "d"}}, std::nullopt},
        {"随机插入文本", {{"filepath", "Plugin/random/none.txt"}}, "该文本文件不存在！"},
        {"随机插入文本", {{"filepath", "/etc/passwd"}}, "该文本文件不存在！"},
        {"随机插入文本", {{"filepath", "Plugin/random/r.txt"}}, std::nullopt},
        {"DLL插件", {{"rep1", ""}}, "DLL附件名称不能为！"},
        {"DLL插件", {{"rep1", "../x.so|Fix"}}, "DLL附件名称只能是Plugin目录下的文件名！"},
        {"DLL插件", {{"rep1", "x.so|Fix"}}, std::nullopt},
        {"JavaScript插件", {{"rep1", ""}}, "JavaScript附件名称不能为！"},
        {"内容为空再次提取", {{"rep1", ""}, {"rep2", "x"}}, "前边字符文本框不能为空！"},
        {"内容为空再次提取", {{"rep1", "a"}, {"rep2", ""}}, "后边字符文本框不能为空！"},
        {"内容为空再次提取",
         {{"rep1", "a(.)"}, {"rep2", "x"}, {"check1", "-1"}},
         "使用纯正则提取，后边字符需留空或使用反向引用“{参数1}”！"},
        {"内容为空再次提取",
         {{"rep1", "{参数1}b"}, {"rep2", "x"}, {"check1", "-1"}},
         "使用纯正则提取，后边字符需留空或使用反向引用“{参数1}”！"},
        {"内容为空再次提取",
         {{"rep1", "a{参数1}b"}, {"rep2", "x"}, {"check1", "-1"}},
         "使用正则提取，后边字符必须包含 “{参数1}”"},
        {"内容为空再次提取", {{"rep1", "a(.)"}, {"rep2", ""}, {"check1", "-1"}}, std::nullopt},
        {"内容为空再次提取", {{"rep1", "a(.)"}, {"rep2", "{参数1}"}, {"check1", "-1"}}, std::nullopt},
        {"时间转化",
         {{"rep1", "yyyy"}, {"check1", "0"}},
         "时间格式必须以‘{dd:日期开头’开头。可点击默认按扭，使用默认样式！"},
        {"时间转化", {{"rep1", ""}, {"check1", "1"}}, std::nullopt},
        {"时间转化", {{"rep1", "{dd:日期yyyy}"}}, std::nullopt},
        {"内容非空结束处理", {}, std::nullopt},
    };
    for (const auto& c : cases) {
        auto rule = ParseRuleJson(strip(c.type, c.keys));
        EXPECT_EQ(CheckPostRule(*rule, ws.folder()), c.message) << strip(c.type, c.keys);
    }
}

TEST(PostRuleSaving, LineBreaksLeaveRegexAndCutRulesOnly) {
    auto cut = ParseRuleJson(strip("字符截取", {{"rep1", "a\r\nb"}, {"rep2", "c\nd"}, {"rep3", "x\ny"}}));
    NormalizePostRuleForSave(*cut);
    EXPECT_EQ(RuleText(*cut, "rep1"), "ab");
    EXPECT_EQ(RuleText(*cut, "rep2"), "cd");
    EXPECT_EQ(RuleText(*cut, "rep3"), "x\ny");
    auto replace = ParseRuleJson(strip("替换", {{"rep1", "a\r\nb"}}));
    NormalizePostRuleForSave(*replace);
    EXPECT_EQ(RuleText(*replace, "rep1"), "a\r\nb");
}

}  // namespace
}  // namespace tarvex::engine

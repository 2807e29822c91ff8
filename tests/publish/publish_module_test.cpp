// Publish module files (read, write, cache) and the filling of a field's tags for one record.
#include "publish/publish_module.h"

#include <gtest/gtest.h>

#include "platform/text_codec.h"
#include "publish/text_cipher.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using namespace tarvex::publish;

namespace {

struct ModuleFiles : ::testing::Test {
    test::SandboxWorkspace sandbox;
    std::string folder = sandbox.path("发布规则");
};

RecordFill recordWith(std::map<std::string, std::string> columns) {
    RecordFill r;
    r.columnId = "12";
    r.recordUrl = "http://src.example/a?x=1&y=2";
    r.thumbnail = [] { return std::string("/up/small.jpg"); };
    r.column = [columns](const std::string& name) -> std::optional<std::string> {
        for (const auto& [k, v] : columns)
            if (k == name) return v;
        return std::nullopt;
    };
    return r;
}

}  // namespace

TEST_F(ModuleFiles, SaveThenLoadGivesTheLinesBackWithGbkText) {
    ASSERT_TRUE(SaveModule(ModulePath(folder, "wp"), "  http://site/tarvex.php?secret=s  ", false,
                           {{"title", "{采集字段:标题}"}, {"body", "正文=内容"}, {"jcookie", "a=b"}}));
    // The file is one line of uppercase hex after a UTF-8 byte-order mark, ending with CR LF.
    const std::string raw = sandbox.readFile("发布规则/wp.p");
    ASSERT_EQ(raw.substr(0, 3), "\xEF\xBB\xBF");
    ASSERT_EQ(raw.substr(raw.size() - 2), "\r\n");
    const std::string hex = raw.substr(3, raw.size() - 5);
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    // The plain text is GBK: 正 is D5 FD.
    EXPECT_NE(deCrypt(hex, kProgramKey).find("\xD5\xFD"), std::string::npos);

    auto m = LoadModule(folder, "wp");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->lines, (std::vector<std::string>{"posturl=http://site/tarvex.php?secret=s", "charset=0",
                                                  "title={采集字段:标题}", "body=正文=内容", "jcookie=a=b"}));
    EXPECT_EQ(m->address(), "http://site/tarvex.php?secret=s");
    EXPECT_FALSE(m->utf8());
    EXPECT_EQ(m->charsetName(), "GBK");
    ASSERT_EQ(m->fields().size(), 3u);
    EXPECT_EQ(m->fields()[1], (std::pair<std::string, std::string>{"body", "正文=内容"}));
}

TEST_F(ModuleFiles, ReadersTolerateBlanksAroundTheDigitsButNotALineBreakInside) {
    const std::string hex = enCryptText("posturl=http://x/\r\ncharset=1\r\nt=v\r\n", kProgramKey);
    struct Case {
        const char* what;
        std::string file;
        std::size_t lines;
    } cases[] = {
        {"plain", hex, 3},
        {"blank lines and spaces around", "\r\n\r\n  " + hex + "  \r\n\r\n", 3},
        {"no byte-order mark, lower case",
         [&] {
             std::string s = hex;
             for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
             return s;
         }(),
         3},
        {"line break inside the digits", hex.substr(0, 10) + "\r\n" + hex.substr(10), 0},
        {"not hexadecimal", "hello", 0},
    };
    for (const auto& c : cases) {
        sandbox.writeFile("发布规则/m.p", c.file);
        auto m = LoadModule(folder, "m");
        ASSERT_TRUE(m) << c.what;
        EXPECT_EQ(m->lines.size(), c.lines) << c.what;
    }
    // UTF-16 with its byte-order mark reads the same.
    std::string utf16 = "\xFF\xFE";
    for (char ch : hex) utf16 += std::string{ch, '\0'};
    sandbox.writeFile("发布规则/m.p", utf16);
    EXPECT_EQ(LoadModule(folder, "m")->lines.size(), 3u);
}

TEST_F(ModuleFiles, CharsetOneIsUtf8AndEveryOtherValueGbk) {
    for (auto [value, utf8] : {std::pair{"1", true}, {"01", false}, {"utf-8", false}, {"", false}, {"0", false}}) {
        PublishModule m{{"posturl=http://x", std::string("charset=") + value}};
        EXPECT_EQ(m.utf8(), utf8) << value;
    }
    EXPECT_TRUE(PublishModule{{"posturl=http://x"}}.fields().empty());
}

TEST_F(ModuleFiles, MissingModuleAndListingByExtension) {
    std::string error;
    EXPECT_FALSE(LoadModule(folder, "nope", &error));
    EXPECT_EQ(error, "名称为：nope.p，的发布模块不存在");
    sandbox.writeFile("发布规则/b.P", "00");
    sandbox.writeFile("发布规则/a.p", "00");
    sandbox.writeFile("发布规则/c.txt", "00");
    EXPECT_EQ(ListModules(folder), (std::vector<std::string>{"a", "b"}));
}

TEST_F(ModuleFiles, CacheDeciphersEachModuleOnce) {
    ASSERT_TRUE(SaveModule(ModulePath(folder, "a"), "http://x/", true, {}));
    ModuleCache cache(folder);
    const PublishModule* first = cache.get("a");
    ASSERT_TRUE(first);
    // Changing the file during the run changes nothing: the run keeps what it deciphered.
    ASSERT_TRUE(SaveModule(ModulePath(folder, "a"), "http://other/", true, {}));
    EXPECT_EQ(cache.get("a")->address(), "http://x/");
    EXPECT_EQ(cache.loads(), 1);
    std::string error;
    EXPECT_EQ(cache.get("missing", &error), nullptr);
    EXPECT_EQ(error, MissingModuleText("missing"));
}

TEST(FillField, WholeContentTagsOnlyWhenTheyAreTheWholeContent) {
    const RecordFill r = recordWith({});
    struct Case {
        std::string content, expected;
    } cases[] = {
        {"{dd:自动缩略图}", "/up/small.jpg"},
        {"{dd:栏目id}", "12"},
        {"{dd:网址}", "http://src.example/a?x=1&y=2"},
        // With text around it the address tag is just an unknown token and stays.
        {"来源：{dd:网址}", "来源：{dd:网址}"},
        {"{dd:栏目id} ", "{dd:栏目id} "},
    };
    for (const auto& c : cases) EXPECT_EQ(FillFieldContent("f", c.content, r), c.expected) << c.content;

    RecordFill none = r;
    none.thumbnail = [] { return std::string(); };
    EXPECT_EQ(FillFieldContent("pic", "{dd:自动缩略图}", none), "");
}

TEST(FillField, DateTokensUseTheClock) {
    test::ManualClock clock(test::ManualClock::local(2019, 1, 9, 8, 30, 15));
    RecordFill r = recordWith({});
    r.clock = &clock;
    EXPECT_EQ(FillFieldContent("date", "发布于{dd:日期yyyy-mm-dd}", r), "发布于2019-01-09");
}

TEST(FillField, CollectedFieldTagsFillOrDisappearAndSpecialLinesKeepThem) {
    const RecordFill r = recordWith({{"标题", "A && B"}, {"内容", "<p>{采集字段:标题}</p>"}});
    EXPECT_EQ(FillFieldContent("title", "《{采集字段:标题}》", r), "《A & B》");
    // An unknown column's tag is removed, every occurrence.
    EXPECT_EQ(FillFieldContent("t", "x{采集字段:作者}y{采集字段:作者}", r), "xy");
    // A value is inserted as it is, never scanned for tags again.
    EXPECT_EQ(FillFieldContent("body", "{采集字段:内容}", r), "<p>{采集字段:标题}</p>");
    // Special names configure the request: their tags stay, whatever the letter case.
    EXPECT_EQ(FillFieldContent("jcookie", "s={采集字段:标题}", r), "s={采集字段:标题}");
    EXPECT_EQ(FillFieldContent("COOKIE", "{采集字段:标题}", r), "{采集字段:标题}");
    // An unclosed tag is left as text.
    EXPECT_EQ(FillFieldContent("t", "a{采集字段:标题", r), "a{采集字段:标题");
}

TEST(RedactForLog, HidesCookiesPasswordsAndSecretQueryValues) {
    const std::string text =
        "posturl=http://site/tarvex.php?secret=abc123&x=1\r\ncharset=1\r\njcookie=wp_admin=xyz\r\n"
        "Cookie=sid=1\r\nadmin_password=hunter2\r\ntitle=keep me";
    const std::string out = RedactForLog(text);
    for (const char* hidden : {"abc123", "xyz", "sid=1", "hunter2"})
        EXPECT_EQ(out.find(hidden), std::string::npos) << hidden;
    EXPECT_NE(out.find("title=keep me"), std::string::npos);
    EXPECT_NE(out.find("?secret=***&x=1"), std::string::npos);
    EXPECT_NE(out.find("jcookie=***"), std::string::npos);
}

#include "platform/chinese_convert.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/utf8.h"

namespace tarvex::platform {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(ChineseConvert, DictionariesAreInstalled) {
    // Without libopencc-data every conversion would silently be the identity.
    EXPECT_TRUE(chineseConversionAvailable());
}

struct Case {
    const char* simplified;
    const char* traditional;
};

TEST(ChineseConvert, MapsCharacterByCharacterBothWays) {
    const Case cases[] = {
        {"简体中文", "簡體中文"},
        {"国际新闻 2019", "國際新聞 2019"},
        {"<p class=\"x\">网络</p>", "<p class=\"x\">網絡</p>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toTraditionalChinese(c.simplified), c.traditional) << c.simplified;
        EXPECT_EQ(toSimplifiedChinese(c.traditional), c.simplified) << c.traditional;
    }
}

TEST(ChineseConvert, DoesNotUsePhraseLevelRewrites) {
    // A phrase dictionary would write 头发 as 頭髮 and 鼠标 as 滑鼠 (a different length);
    // character mapping takes each character's first candidate and never changes the length.
    EXPECT_EQ(toTraditionalChinese("头发"), "頭發");
    EXPECT_EQ(toTraditionalChinese("鼠标"), "鼠標");
    EXPECT_EQ(toSimplifiedChinese("乾淨"), "干净");
}

TEST(ChineseConvert, KeepsUnmappedTextAndBadBytes) {
    EXPECT_EQ(toTraditionalChinese(""), "");
    EXPECT_EQ(toTraditionalChinese("abc ,.;\t\r\n"), "abc ,.;\t\r\n");
    EXPECT_EQ(toSimplifiedChinese("ひらがな 한국어 😀"), "ひらがな 한국어 😀");
    // A stray byte and a truncated sequence pass through; the characters around them convert.
    std::string bad = std::string("国\xFF") + "国\xE5\x9B";
    EXPECT_EQ(toTraditionalChinese(bad), std::string("國\xFF") + "國\xE5\x9B");
}

TEST(ChineseConvert, RealPagesKeepTheirLength) {
    for (const char* name : {"gmw", "pixnet"}) {
        std::string page = readFile(std::string(TARVEX_CORPUS_DIR) + "/readability/" + name + "/source.html");
        ASSERT_FALSE(page.empty()) << name;
        std::string trad = toTraditionalChinese(page);
        std::string simp = toSimplifiedChinese(page);
        EXPECT_EQ(utf8::length(trad), utf8::length(page)) << name;
        EXPECT_EQ(utf8::length(simp), utf8::length(page)) << name;
        EXPECT_NE(name == std::string("gmw") ? trad : simp, page) << name << ": nothing converted";
    }
}

TEST(ChineseConvert, ConcurrentCallersGetTheSameResult) {
    const std::string text = "这是一段用来测试多线程转换的简体中文文本，包含数字123和标点。";
    const std::string expected = toTraditionalChinese(text);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (toTraditionalChinese(text) != expected) ++mismatches[t];
                if (toSimplifiedChinese(expected) != text) ++mismatches[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace tarvex::platform

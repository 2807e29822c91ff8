#include "platform/text_codec.h"

#include <gtest/gtest.h>

#include "platform/utf8.h"
#include "support/sandbox_workspace.h"

using namespace tarvex::platform;

TEST(TextCodec, GbkLabelsDecodeAsGb18030) {
    // "嬅" is outside GB2312 but in GBK: a gb2312 label must still decode it.
    auto gbk = encodeFromUtf8("嬅中文", "gbk");
    ASSERT_TRUE(gbk);
    for (const char* label : {"gb2312", "GBK", " x-gbk ", "GB18030"}) {
        auto s = decodeToUtf8(*gbk, label);
        ASSERT_TRUE(s) << label;
        EXPECT_EQ(*s, "嬅中文") << label;
    }
    EXPECT_FALSE(decodeToUtf8("abc", "no-such-charset"));
}

TEST(TextCodec, InvalidBytesBecomeReplacementCharacters) {
    EXPECT_EQ(*decodeToUtf8("a\x81\x20"
                            "b",
                            "gbk"),
              "a\xEF\xBF\xBD b");
    EXPECT_EQ(*decodeToUtf8("ok\xD6", "gbk"), "ok\xEF\xBF\xBD");  // truncated at the end
    EXPECT_EQ(*decodeToUtf8("x\xC3(y", "utf-8"), "x\xEF\xBF\xBD(y");
}

TEST(TextCodec, Gb18030KeepsCharactersGbkCannotHold) {
    const std::string s = "中文😀é﹏";
    EXPECT_EQ(gb18030ToUtf8(utf8ToGb18030(s)), s);
    EXPECT_EQ(*encodeFromUtf8("a😀b", "iso-8859-1"), "a?b");
}

TEST(TextCodec, CorpusGbkPageRoundTrips) {
    std::string gbk =
        tarvex::test::readWholeFile(std::string(TARVEX_CORPUS_DIR) + "/readability/youth/source.gbk.html");
    ASSERT_FALSE(gbk.empty());
    std::string text = gb18030ToUtf8(gbk);
    EXPECT_TRUE(utf8::isValid(text));
    EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos);
    EXPECT_NE(text.find("charset=gbk"), std::string::npos);
}

// Long plain-ASCII runs are checked eight bytes at a time: a bad or a good multi-byte sequence
// at any place after such a run, and a run that ends the text, are still judged right.
TEST(Utf8, ValidityHoldsWhereverTheFirstNonAsciiByteFalls) {
    for (std::size_t before = 0; before < 20; ++before) {
        SCOPED_TRACE(before);
        const std::string ascii(before, 'a');
        EXPECT_TRUE(utf8::isValid(ascii));
        EXPECT_TRUE(utf8::isValid(ascii + "中" + std::string(9, 'b')));
        EXPECT_FALSE(utf8::isValid(ascii + "\xFF" + std::string(9, 'b')));
        EXPECT_FALSE(utf8::isValid(ascii + "\xE4\xB8"));  // cut short at the end
        EXPECT_FALSE(utf8::isValid(ascii + "中" + std::string(9, 'b') + "\x80"));
    }
}

TEST(Utf8, CountsAndCutsByCodePoints) {
    const std::string s = "a中😀b";
    EXPECT_EQ(utf8::length(s), 4u);
    EXPECT_EQ(utf8::substr(s, 1, 2), "中😀");
    EXPECT_EQ(utf8::substr(s, 3), "b");
    EXPECT_EQ(utf8::substr(s, 9), "");
    EXPECT_TRUE(utf8::isValid(s));
    EXPECT_FALSE(utf8::isValid("\xED\xA0\x80"));  // a surrogate
    EXPECT_EQ(utf8::repair("\xF0\x9F\x98"), "\xEF\xBF\xBD");
    EXPECT_EQ(utf8::stripBom("\xEF\xBB\xBFx"), "x");
}

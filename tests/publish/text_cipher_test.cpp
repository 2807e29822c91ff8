#include "publish/text_cipher.h"

#include <gtest/gtest.h>

#include "platform/des.h"
#include "platform/text_codec.h"

using namespace tarvex;
using publish::deCrypt;
using publish::enCrypt;

namespace {
std::string fromHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}
std::string toHex(const std::string& bytes) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}
}  // namespace

TEST(Des, MatchesTheFips46Vector) {
    platform::DesKey key{0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    EXPECT_EQ(toHex(platform::desEcbEncrypt(fromHex("0123456789ABCDEF"), key)), "85E813540F0AB405");
    EXPECT_EQ(toHex(platform::desEcbDecrypt(fromHex("85E813540F0AB405"), key)), "0123456789ABCDEF");
}

TEST(TextCipher, MatchesIndependentVectorsUnderTheProgramKey) {
    EXPECT_EQ(enCrypt("", publish::kProgramKey), "73EA5A7C4B84A6B0");
    EXPECT_EQ(enCrypt("abcdefgh", publish::kProgramKey), "68864E8515C0A142");
}

TEST(TextCipher, BlockCountFollowsZeroPadding) {
    struct Case {
        std::string plain;
        std::size_t hexDigits;
    } cases[] = {{"", 16},         {"a", 16},         {"abcdefg", 16},
                 {"abcdefgh", 16}, {"abcdefghi", 32}, {std::string(64, 'x'), 128}};
    for (const auto& c : cases) {
        std::string hex = enCrypt(c.plain, "key");
        EXPECT_EQ(hex.size(), c.hexDigits) << c.plain;
        EXPECT_EQ(deCrypt(hex, "key"), c.plain);
    }
}

TEST(TextCipher, KeyBytesAddIntoPositionsModuloEight) {
    // "abcdefghi": position i mod 8 for i = 1..9, so 'h' lands in 0 and 'i' adds onto 'a' in 1.
    platform::DesKey key{'h', static_cast<std::uint8_t>('a' + 'i'), 'b', 'c', 'd', 'e', 'f', 'g'};
    std::string block("plain123", 8);
    EXPECT_EQ(enCrypt(block, "abcdefghi"), toHex(platform::desEcbEncrypt(block, key)));
    // A short key leaves position 0 zero.
    platform::DesKey shortKey{0, 'k', 'e', 'y', 0, 0, 0, 0};
    EXPECT_EQ(enCrypt(block, "key"), toHex(platform::desEcbEncrypt(block, shortKey)));
}

TEST(TextCipher, DecipherEdgeCases) {
    std::string hex = enCrypt("Hello, world", "k");
    std::string lower;
    for (char c : hex) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(deCrypt(lower, "k"), "Hello, world");
    EXPECT_EQ(enCrypt("same", "k"), enCrypt("same", "k"));
    EXPECT_EQ(deCrypt(hex.substr(0, 6) + "ZZ" + hex.substr(8), "k"), "");  // non-hex pair
    EXPECT_EQ(deCrypt("", "k"), "");
    // An odd length reads the last digit as a byte of its own and still gives a result.
    EXPECT_NO_THROW(deCrypt(hex + "A", "k"));
    EXPECT_EQ(deCrypt(enCrypt(std::string("ab\0cd", 5), "k"), "k"), "ab");
}

TEST(TextCipher, TextsTravelAsGb18030AndKeepCharactersOutsideGbk) {
    const std::string text = "标题：中文 and 😀 and ﹏ é";
    std::string hex = publish::enCryptText(text, publish::kProgramKey);
    EXPECT_EQ(publish::deCryptText(hex, publish::kProgramKey), text);
    // For GBK characters the bytes are GBK's, so texts stored by older copies still read.
    const std::string gbk = "\xD6\xD0\xCE\xC4";  // "中文" in GBK
    EXPECT_EQ(publish::deCryptText(enCrypt(gbk, "k"), "k"), "中文");
    EXPECT_EQ(publish::enCryptText("中文", "k"), enCrypt(gbk, "k"));
}

#include "publish/text_cipher.h"

#include "platform/des.h"
#include "platform/text_codec.h"

namespace tarvex::publish {

namespace {
platform::DesKey prepareKey(std::string_view key) {
    platform::DesKey k{};
    for (std::size_t i = 1; i <= key.size(); ++i) {
        auto& slot = k[i % 8];
        slot = static_cast<std::uint8_t>(slot + static_cast<std::uint8_t>(key[i - 1]));
    }
    return k;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::string enCrypt(std::string_view plain, std::string_view key) {
    std::string padded(plain);
    std::size_t blocks = padded.empty() ? 1 : (padded.size() + 7) / 8;
    padded.resize(blocks * 8, '\0');
    std::string cipher = platform::desEcbEncrypt(padded, prepareKey(key));
    static const char* digits = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(cipher.size() * 2);
    for (unsigned char c : cipher) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::string deCrypt(std::string_view cipher, std::string_view key) {
    std::string bytes;
    bytes.reserve(cipher.size() / 2 + 8);
    for (std::size_t i = 0; i < cipher.size(); i += 2) {
        int hi = hexValue(cipher[i]);
        if (hi < 0) return {};
        if (i + 1 == cipher.size()) {
            bytes += static_cast<char>(hi);  // a lone last digit is a byte of its own
            break;
        }
        int lo = hexValue(cipher[i + 1]);
        if (lo < 0) return {};
        bytes += static_cast<char>(hi * 16 + lo);
    }
    if (bytes.empty()) return {};
    bytes.resize((bytes.size() + 7) / 8 * 8, '\0');
    std::string plain = platform::desEcbDecrypt(bytes, prepareKey(key));
    auto zero = plain.find('\0');
    if (zero != std::string::npos) plain.resize(zero);
    return plain;
}

std::string enCryptText(std::string_view utf8Text, std::string_view key) {
    return enCrypt(platform::utf8ToGb18030(utf8Text), key);
}

std::string deCryptText(std::string_view cipher, std::string_view key) {
    return platform::gb18030ToUtf8(deCrypt(cipher, key));
}

}  // namespace tarvex::publish

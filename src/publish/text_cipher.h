#pragma once
// The text cipher of stored texts (settings documents, rules files, publish modules, copied
// field rules): single DES, ECB, zero padding, uppercase hexadecimal. Pure; any thread.
#include <string>
#include <string_view>

namespace tarvex::publish {

// The fixed program key of publish modules, rules files and copied field rules.
inline constexpr std::string_view kProgramKey = "brovak";

// Plain bytes under a key of any length → uppercase hex, a whole number of 8-byte blocks.
std::string enCrypt(std::string_view plain, std::string_view key);
// Hex (either case) → plain bytes cut at the first zero byte; "" when a pair is not hex.
// An odd last digit is read as one byte.
std::string deCrypt(std::string_view cipher, std::string_view key);

// Text versions for UTF-8 callers: the text travels as GB18030 bytes, which are GBK's bytes
// for every GBK character and keep every other character too.
std::string enCryptText(std::string_view utf8Text, std::string_view key);
std::string deCryptText(std::string_view cipher, std::string_view key);

}  // namespace tarvex::publish

#pragma once
// UTF-8 helpers: validation, repair and code-point counting. "Length" and "position" of a
// text in this system count code points, never bytes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex::platform::utf8 {

bool isValid(std::string_view s);
// Replaces every invalid or truncated sequence by U+FFFD (one per maximal bad subpart).
std::string repair(std::string_view s);
// Number of code points (a stray byte counts as one).
std::size_t length(std::string_view s);
// Byte offset of the code point with the given index; s.size() when past the end.
std::size_t byteOffset(std::string_view s, std::size_t codePointIndex);
// Code points [start, start+count) as a substring; clamps at the end.
std::string_view substr(std::string_view s, std::size_t start, std::size_t count = std::string_view::npos);
// Appends code point cp encoded as UTF-8.
void append(std::string& out, char32_t cp);
// Decodes the valid sequence at s[i] and sets len to its byte length; nullopt (len 1) when the
// byte starts no valid sequence (overlong forms, surrogates and values past U+10FFFF included).
std::optional<char32_t> decode(std::string_view s, std::size_t i, std::size_t& len);
// Replaces every occurrence of `from` (non-empty) left to right, each once; copies in one pass.
void replaceAll(std::string& text, std::string_view from, std::string_view to);
// Strips a leading UTF-8 byte-order mark.
std::string_view stripBom(std::string_view s);

inline constexpr std::string_view kBom = "\xEF\xBB\xBF";

// A copy with the ASCII letters A–Z lowered; every other byte (UTF-8 included) kept.
std::string lowerAscii(std::string_view s);

}  // namespace tarvex::platform::utf8

#pragma once
// Conversions between UTF-8 (the core's text) and the narrow encodings met at the edges:
// GBK/GB18030 pages, publish modules, form values, FTP names. Built on iconv. Thread-safe:
// every call opens its own conversion descriptor.
#include <optional>
#include <string>
#include <string_view>

namespace tarvex::platform {

// Decodes bytes in the named charset to UTF-8. Invalid or truncated sequences become U+FFFD;
// "gb2312", "gbk" and "x-gbk" decode as GB18030 (a superset, as browsers do). Returns nullopt
// when the charset is unknown to iconv.
std::optional<std::string> decodeToUtf8(std::string_view bytes, std::string_view charset);

// Encodes UTF-8 text into the named charset. Characters the charset cannot hold become "?".
// Returns nullopt when the charset is unknown.
std::optional<std::string> encodeFromUtf8(std::string_view utf8, std::string_view charset);

// UTF-8 → GB18030: same bytes as GBK for every GBK character and lossless for the rest.
std::string utf8ToGb18030(std::string_view utf8);
// GB18030 (and so GBK) → UTF-8, invalid bytes as U+FFFD.
std::string gb18030ToUtf8(std::string_view bytes);

// Normalises a charset label: lower case, trimmed, gb2312/gbk/x-gbk/cp936 → "gb18030".
std::string canonicalCharset(std::string_view label);

}  // namespace tarvex::platform

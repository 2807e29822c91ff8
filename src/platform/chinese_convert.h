#pragma once
// Simplified <-> traditional Chinese conversion through OpenCC's character dictionaries, one
// character at a time, so the result has exactly as many code points as the input. The
// dictionaries are loaded once, on first use, and shared by all threads.
#include <string>
#include <string_view>

namespace tarvex::platform {

// Characters without a mapping, bytes that are not valid UTF-8, and everything when the
// dictionaries cannot be loaded (logged once) stay unchanged. Safe on any thread.
std::string toSimplifiedChinese(std::string_view text);
std::string toTraditionalChinese(std::string_view text);

// Whether both dictionaries were found and loaded.
bool chineseConversionAvailable();

}  // namespace tarvex::platform

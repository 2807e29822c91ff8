#pragma once
// Simplified <-> traditional Chinese conversion through OpenCC's character dictionaries, one
// character at a time, so the result has exactly as many code points as the input. The
// dictionaries are loaded once, on first use, and shared by all threads.
#include <string>
#include <string_view>

namespace tarvex::platform {

// Characters without a mapping (and everything when the dictionaries cannot be loaded,
// which is logged once) stay unchanged. Invalid UTF-8 is repaired first.
std::string toSimplifiedChinese(std::string_view text);
std::string toTraditionalChinese(std::string_view text);

}  // namespace tarvex::platform

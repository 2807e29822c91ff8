#include "platform/chinese_convert.h"

namespace tarvex::platform {

std::string toSimplifiedChinese(std::string_view text) { return std::string(text); }
std::string toTraditionalChinese(std::string_view text) { return std::string(text); }

}  // namespace tarvex::platform

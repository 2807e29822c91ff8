#include "engine/html_utils.h"

namespace tarvex::engine {

std::string HtmlFilter(std::string_view, std::string_view text) { return std::string(text); }
std::string UnicodeUnescape(std::string_view text) { return std::string(text); }
std::string ToSimplified(std::string_view text) { return std::string(text); }
std::string ToTraditional(std::string_view text) { return std::string(text); }
std::string ProtectEntities(std::string_view text) { return std::string(text); }
std::string RestoreEntities(std::string_view text) { return std::string(text); }
bool ContainsAll(std::string_view, std::string_view) { return true; }
bool ContainsNone(std::string_view, std::string_view) { return true; }
std::string RemovePrefix(std::string_view, std::string_view text) { return std::string(text); }
std::string RemoveSuffix(std::string_view, std::string_view text) { return std::string(text); }
void ReverseLines(std::vector<std::string>&) {}
void ShuffleLines(std::vector<std::string>&, RandomSource&) {}
std::string RandomAlnum(int, RandomSource&) { return {}; }
std::string TextToHex(std::string_view) { return {}; }

}  // namespace tarvex::engine

#include "engine/text_tokens.h"

namespace tarvex::engine {

LocalDateTime ToLocalDateTime(std::chrono::system_clock::time_point) { return {}; }
LocalDateTime AddMonths(const LocalDateTime& t, int) { return t; }
std::string FormatDateTime(std::string_view, const LocalDateTime&) { return {}; }
std::string ExpandTokens(std::string_view text, std::string_view, const platform::Clock&, RandomSource&) {
    return std::string(text);
}
std::string ExpandFieldRefs(std::string_view text, const FieldValueList&) { return std::string(text); }

}  // namespace tarvex::engine

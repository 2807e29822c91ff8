#pragma once
// Content filters: the checks of a field's "筛选过滤" page that let one field veto its whole
// record. Pure; safe on any thread.
#include <string>
#include <string_view>

#include "engine/rule_json.h"

namespace tarvex::engine {

// Runs the ticked checks of the field rule on the value, in the fixed order (empty, too short,
// too long, required words, forbidden words, too many images), when "filter_open_check" is on.
// Returns the value unchanged when it passes, else the message of the first failed check:
// "过滤|字段[" + title + "]" + reason, plus "|下次不采集" when "filter_add_check" is on.
// Lengths count UTF-16 units of the whole value. A number that is not an integer skips its
// check (logged) instead of ending the record.
std::string FieldFilter(const RuleJson& rule, std::string_view value);
// The same over the field rule's JSON text (a text that is no JSON object filters nothing).
std::string FieldFilterJson(std::string_view ruleJson, std::string_view value);

inline constexpr std::string_view kFilterPrefix = "过滤|";
inline constexpr std::string_view kDoNotCollectAgain = "下次不采集";

// Whether a filter result rejects the record, and whether the rejection is final.
inline bool IsFilterMessage(std::string_view result) {
    return result.substr(0, kFilterPrefix.size()) == kFilterPrefix;
}
inline bool IsFinalRejection(std::string_view result) {
    return IsFilterMessage(result) && result.find(kDoNotCollectAgain) != std::string_view::npos;
}

// Length of a text in UTF-16 units (a character beyond U+FFFF counts two).
std::size_t Utf16Length(std::string_view text);

}  // namespace tarvex::engine

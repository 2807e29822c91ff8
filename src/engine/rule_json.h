#pragma once
// Reading post-processing and filter rules: JSON objects whose values are texts, with the
// system's conventions for flags ("-1"/"0", "true") and counts. Pure; any thread.
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::engine {

using RuleJson = nlohmann::ordered_json;

// The object in a JSON text; nullopt when the text is not a JSON object.
std::optional<RuleJson> ParseRuleJson(std::string_view text);

// Text of a key: a string as it is, a number or boolean as its JSON text, absent or null "".
std::string RuleText(const RuleJson& rule, const std::string& key);
// True when the key holds a text (absent and null keys do not).
bool RuleHas(const RuleJson& rule, const std::string& key);
// A flag: a non-zero integer or "true" (any case) is on; anything else is off.
bool RuleFlag(const RuleJson& rule, const std::string& key);
bool FlagText(std::string_view text);

// Reads a count the way rules store them: optional spaces and sign, then decimal digits, within
// 32 bits. nullopt for anything else (an empty text included).
std::optional<long long> ParseRuleCount(std::string_view text);

// The elements of an array key as texts (strings as they are, other values as JSON text);
// empty when the key is absent or not an array.
std::vector<std::string> RuleTextArray(const RuleJson& rule, const std::string& key);

}  // namespace tarvex::engine

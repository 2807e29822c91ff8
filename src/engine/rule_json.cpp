#include "engine/rule_json.h"

#include <climits>
#include "platform/json_text.h"

namespace tarvex::engine {

std::optional<long long> ParseRuleCount(std::string_view text) {
    std::size_t i = 0, e = text.size();
    while (i < e && text[i] == ' ') ++i;
    while (e > i && text[e - 1] == ' ') --e;
    if (i == e) return std::nullopt;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == e) return std::nullopt;
    long long v = 0;
    for (; i < e; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
    }
    if (negative) v = -v;
    if (v > INT_MAX || v < INT_MIN) return std::nullopt;
    return v;
}

std::optional<RuleJson> ParseRuleJson(std::string_view text) {
    RuleJson j = platform::parseJson<RuleJson>(text);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    return j;
}

namespace {
std::string textOf(const RuleJson& v) {
    if (v.is_string()) return v.get<std::string>();
    if (v.is_null()) return {};
    return v.dump(-1, ' ', false, RuleJson::error_handler_t::replace);
}
}  // namespace

std::string RuleText(const RuleJson& rule, const std::string& key) {
    if (!rule.is_object()) return {};
    auto it = rule.find(key);
    return it == rule.end() ? std::string() : textOf(*it);
}

bool RuleHas(const RuleJson& rule, const std::string& key) {
    if (!rule.is_object()) return false;
    auto it = rule.find(key);
    return it != rule.end() && !it->is_null();
}

bool FlagText(std::string_view text) {
    if (text.size() == 4) {
        std::string l(text);
        for (char& c : l) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (l == "true") return true;
    }
    auto n = ParseRuleCount(text);
    return n && *n != 0;
}

bool RuleFlag(const RuleJson& rule, const std::string& key) {
    if (rule.is_object()) {
        auto it = rule.find(key);
        if (it != rule.end() && it->is_boolean()) return it->get<bool>();
    }
    return FlagText(RuleText(rule, key));
}

std::vector<std::string> RuleTextArray(const RuleJson& rule, const std::string& key) {
    std::vector<std::string> out;
    if (!rule.is_object()) return out;
    auto it = rule.find(key);
    if (it == rule.end() || !it->is_array()) return out;
    for (const auto& v : *it) out.push_back(textOf(v));
    return out;
}

}  // namespace tarvex::engine

#include "engine/content_filter.h"

#include "engine/html_utils.h"
#include "platform/run_log.h"

namespace tarvex::engine {

std::size_t Utf16Length(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) == 0x80) continue;  // continuation byte
        n += c >= 0xF0 ? 2 : 1;
    }
    return n;
}

namespace {

std::size_t imageCount(std::string_view value) {
    std::string lower(value);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t n = 0;
    for (std::size_t p = lower.find("<img"); p != std::string::npos; p = lower.find("<img", p + 4)) ++n;
    return n;
}

// The number of a count check, or nullopt (with a log line) when it does not read as one.
std::optional<long long> checkNumber(const RuleJson& rule, const std::string& key, const std::string& title) {
    auto n = ParseRuleCount(RuleText(rule, key));
    if (!n)
        platform::WriteLog("FieldFilter|字段[" + title + "]" + key + "不是整数，跳过该项过滤：" + RuleText(rule, key),
                           0);
    return n;
}

}  // namespace

std::string FieldFilter(const RuleJson& rule, std::string_view value) {
    if (!RuleFlag(rule, "filter_open_check")) return std::string(value);
    const std::string title = RuleText(rule, "title");
    const std::string suffix = RuleFlag(rule, "filter_add_check") ? "|下次不采集" : "";
    auto reject = [&](const std::string& reason) { return "过滤|字段[" + title + "]" + reason + suffix; };

    if (RuleFlag(rule, "filter_isempty_check") && value.empty()) return reject("为空");
    const std::size_t length = Utf16Length(value);
    if (RuleFlag(rule, "filter_minnum_check") && !RuleText(rule, "filter_minnum_num").empty()) {
        auto n = checkNumber(rule, "filter_minnum_num", title);
        if (n && static_cast<long long>(length) < *n) return reject("字数小于" + RuleText(rule, "filter_minnum_num"));
    }
    if (RuleFlag(rule, "filter_maxnum_check") && !RuleText(rule, "filter_maxnum_num").empty()) {
        auto n = checkNumber(rule, "filter_maxnum_num", title);
        if (n && static_cast<long long>(length) > *n) return reject("字数大于" + RuleText(rule, "filter_maxnum_num"));
    }
    if (RuleFlag(rule, "filter_include_check") && !ContainsAll(RuleText(rule, "filter_include"), value))
        return reject("不符合包含条件");
    if (RuleFlag(rule, "filter_exclude_check") && !ContainsNone(RuleText(rule, "filter_exclude"), value))
        return reject("不符合排除条件");
    if (RuleFlag(rule, "filter_maxpic_check")) {
        auto n = checkNumber(rule, "filter_maxpic_num", title);
        if (n && static_cast<long long>(imageCount(value)) > *n)
            return reject("图片大于" + RuleText(rule, "filter_maxpic_num") + "张");
    }
    return std::string(value);
}

std::string FieldFilterJson(std::string_view ruleJson, std::string_view value) {
    auto rule = ParseRuleJson(ruleJson);
    if (!rule) return std::string(value);
    return FieldFilter(*rule, value);
}

}  // namespace tarvex::engine

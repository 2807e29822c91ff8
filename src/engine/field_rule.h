#pragma once
// Field rules: the JSON object the field editor writes for each element of "fieldsAll", read
// into the values extraction needs, the object a new field starts from, and the checks the
// editor runs before saving a field. Pure; any thread.
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::engine {

using FieldRuleJson = nlohmann::ordered_json;

// What extraction reads from a field rule. Absent keys read as off / empty text.
struct FieldRule {
    std::string title;
    bool checkNull = false;
    bool checkMulpage = false;    // "分页循环匹配": every page of a paginated page
    bool checkMorepage = false;   // "多级页面获取": from a multi-level page
    std::string morepageIndex;    // that page's "title"
    bool repeat = false;          // "单页重复提取": present, not empty and not "0"
    bool byFrontBack = false;     // "radio_1"
    bool byRegex = false;         // "radio_2"
    bool madeUp = false;          // "radio_3"
    bool smart = false;           // "radio_4": "智能识别", the article found without rules
    std::string smartPart;        // "radio_4_content": "正文", "标题", "发布时间" or "作者"
    std::string front, back;      // "radio_1_content"
    std::string pattern, output;  // "radio_2_content"
    bool fixedText = false;       // "radio_3_content_Radio1"
    bool randomLine = false;      // "radio_3_content_Radio2"
    bool randomNumber = false;    // "radio_3_content_Radio3"
    std::string madeUpText;       // "radio_3_content_richtext1"
    std::string minText, maxText;
    std::vector<std::string> txtStrips;  // post-processing rules, each a JSON text
    FieldRuleJson json;                  // the whole object, for the readers of other keys
    std::string text;                    // the rule's JSON text, as handed to the chain
};

// Parses the JSON text of one field rule; nullopt when it is not a JSON object.
std::optional<FieldRule> ParseFieldRule(std::string_view ruleJson);
FieldRule ReadFieldRule(const FieldRuleJson& rule);

// Text of a key: strings as they are, numbers and booleans as JSON text, absent or null "".
std::string JsonText(const FieldRuleJson& object, const std::string& key);
// The system's flag reading: a non-zero integer or "true" (any case) is on; "-1" is on.
bool FlagOn(std::string_view text);
bool JsonFlag(const FieldRuleJson& object, const std::string& key);
// Elements of an array key as texts; empty when absent or not an array.
std::vector<std::string> JsonTextArray(const FieldRuleJson& object, const std::string& key);
// A decimal integer (optional sign, surrounding spaces allowed); nullopt otherwise.
std::optional<long long> ParseInteger(std::string_view text);
// Removes characters up to U+0020 (spaces, tabs, line breaks, controls) at both ends.
std::string TrimText(std::string_view text);

// The field rule object a new field starts from, every key in the editor's order.
FieldRuleJson NewFieldRule(const std::string& title = {});
// The name as saved: spaces (also U+3000) and commas removed, then trimmed.
std::string NormalizeFieldName(std::string_view name);

// What the editor knows when a field is saved.
struct FieldSaveContext {
    bool isNew = true;
    std::vector<std::string> otherFieldNames;  // the task's other fields (not the one edited)
};
// True for the names of the content table's own columns (id, url, geturl, getc, postc and
// postc_…), compared without regard to ASCII letter case.
bool IsFixedColumnName(std::string_view name);
// Why a name's characters cannot make a column of the content table, as a message quoting the
// name (control characters shown as \uXXXX); nullopt when they can. Refused: a double quote
// (column names are read back without it) and control characters (line breaks, tabs, NUL, C1).
std::optional<std::string> FieldNameCharacterProblem(std::string_view name);
// A field name as a message shows it: control characters written as \uXXXX escapes.
std::string ShownFieldName(std::string_view name);
// The refusal of a field name (as saved) or nullopt: "url" and "id", the other fixed columns of
// the content table (geturl, getc, postc, postc_…) and the name of another field of the task,
// all compared without regard to ASCII letter case, as the database compares column names;
// then FieldNameCharacterProblem.
std::optional<std::string> FieldNameRefusal(std::string_view name, const FieldSaveContext& context);
// The checks the field editor runs on saving, in order; the first failing check's message,
// or nullopt when the rule may be saved.
std::optional<std::string> CheckFieldRule(const FieldRuleJson& rule, const FieldSaveContext& context);

}  // namespace tarvex::engine

#pragma once
// The single rules of the post-processing chain ("txt_strips"), the DLL plug-in step that runs
// after a field's value is stored, and the checks the rule editor runs when a rule is saved.
// Every function is pure apart from logging (and, for plug-ins and the fetch rule, what the
// plug-in or the fetch does); any thread.
//
// A regular expression the engine refuses (or that runs out of its limits), and a count that
// does not read as an integer, leave the value as it was with a log line: the record goes on.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/page_list.h"
#include "engine/rule_json.h"
#include "engine/text_tokens.h"

namespace tarvex::engine {

// "替换": replaces the matches of "rep1" (a template, or with "check2" a regular expression)
// by "rep2" (field references expanded; "null" = nothing) in one left-to-right pass, so a
// replacement is never matched again. "check1" makes the match caseless.
std::string ReplaceRule(std::string_view value, const RuleJson& rule, const FieldValueList& values);

// "正则提取": the items of the matches of "rep1" filled into "rep2", each between
// "rep_begin_string" and "rep_end_string", joined by "rep_join_string"; the first match only
// unless "repeat_check"; at most "rep_max_num" (0 or unreadable: no limit). Nothing matched
// gives "".
std::string regexExtract(const RuleJson& rule, std::string_view value);

// "字符截取": cuts the value at the first "rep1" and the first "rep2" after it; "rep3" keeps the
// cut texts, "check2" empties the value when the single given text is missing.
std::string CutRule(std::string_view value, const RuleJson& rule);

// "内容为空再次提取": extracts from the page list's entry 0 exactly as stored ("顶级内容页=" +
// pages), by front and back texts or ("check1") by a regular expression, like a field does;
// items joined by "[dd:重复连接符]". nullopt when the engine refuses the pattern.
std::optional<std::string> extractAgain(std::string_view source, const RuleJson& rule);

// "时间转化": "check1" "0" turns a Unix time stamp (10 digits) into Beijing time formatted with
// the "{dd:日期…}" format of "rep1" (a value of another length counts as 0); "1" turns a Beijing
// date-time text ("2019-01-09 08:00:00", "2019/1/9 8:00", "2019年1月9日" …) into a Unix time
// stamp. A value that cannot be read stays as it is.
std::string convertTime(std::string_view value, const RuleJson& rule);

// What "访问网页" fetches with: address, option block -> "succ:" + page text or "fail:" + message.
using PageFetcher = std::function<std::string(const std::string& url, const std::string& optionBlock)>;

// "访问网页": the value (trimmed) fetched as an http or https address with an empty option
// block; the page text on "succ:", "" otherwise, also for other schemes or without a fetcher.
std::string FetchRule(std::string_view value, const PageFetcher& fetch);

// "DLL插件" step: "file" or "file|function" ("default" when no function is named) from the
// program folder's "Plugin/" folder; the plug-in gets (result, address, page, field name,
// value). Only a bare file name is loaded; a ".dll" name that is not there is looked for as
// ".so". A missing library or function, or a failed call, leaves the value unchanged.
std::string CallDllPlugin(std::string_view setting, const std::string& address, const std::string& page,
                          std::string_view value, const std::string& name, const std::string& programFolder);

// Runs the field's "DLL插件" rules in order on its current value in the field-value list (the
// page given to plug-ins is entry 0 of the page list as stored) and returns the new value. The
// content worker calls it after storing a field's value when the rule text contains "DLL插件".
std::string applyPlugins(std::int64_t workId, const std::string& address, const std::string& name,
                         const FieldValueList& values, const PageList& pages, std::string_view settingsJson,
                         std::string_view ruleJson, const std::string& programFolder);

// Entry 0 of a page list as stored: name "=" value; "" for an empty list.
std::string TopPageEntry(const PageList& pages);

// The rule editor's refusal of a rule about to be saved, or nullopt. List files and the random
// text file are looked for under the program folder.
std::optional<std::string> CheckPostRule(const RuleJson& rule, const std::string& programFolder);
// What the editor does to a rule before saving it: CR and LF removed from "rep1" and "rep2"
// of "正则提取" and "字符截取" rules.
void NormalizePostRuleForSave(RuleJson& rule);

}  // namespace tarvex::engine

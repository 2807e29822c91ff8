#pragma once
// The rule template language: literal page text with the placeholders "{*}" (skip),
// "{参数n}" (keep as parameter n) and "{DD:…}" tokens, turned into PCRE patterns; the ways
// callers finish a converted template; parameter filling of output templates; the in-band
// separators and the line-break markers of name=value lists. Pure functions, any thread.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/regex.h"

namespace tarvex::engine {

// Separators that join several results into one text.
inline constexpr std::string_view kRepeatJoiner = "[dd:重复连接符]";  // matches of one field on one page
inline constexpr std::string_view kPageSeparator = "[dd:分页符]";     // pages of one content page
inline constexpr std::string_view kLevelSeparator = "<dd:分隔符>";    // a multi-level page's address and text

// Line-break markers: how a CR and an LF travel inside one line of a name=value list.
inline constexpr std::string_view kCrMarker = "<临时换行替换换行>";
inline constexpr std::string_view kLfMarker = "<临时换行2替换换行2>";

// Placeholders.
inline constexpr std::string_view kSkipPlaceholder = "{*}";
inline constexpr std::string_view kFirstParameter = "{参数1}";

// Every occurrence of `from` replaced by `to`, left to right, case-sensitive; an empty `from`
// leaves the text unchanged.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
void ReplaceAllInPlace(std::string& text, std::string_view from, std::string_view to);

// Literal template text to pattern text: placeholders come out unchanged, the pattern
// characters \ $ ( ) * + . [ ] ? ! ^ { } | are escaped (backslash first), and every CR LF pair
// becomes "[\n\r]+" (a lone CR or LF stays literal).
std::string TemplateToPattern(std::string_view tmpl);

// The four ways callers finish a template into a pattern (all used with extraction options).
// Cut pattern: converted front + "(?<content>.*?)" + converted back, "{*}" as ".*?".
std::string CutPattern(std::string_view front, std::string_view back);
// Converted template, "{*}" as "(.*?)", "{参数n}" as "(?<canshun>.*?)".
std::string ParameterPattern(std::string_view tmpl);
// A regular expression as written with only "{*}" as ".*?".
std::string RawPattern(std::string_view regex);
// A regular expression as written, "{*}" as ".*?", "{参数n}" as "(?<canshun>.*?)".
std::string RawParameterPattern(std::string_view regex);
// Every "{参数" digits "}" in the text as "(?<canshu" digits ">.*?)".
std::string ParametersToGroups(std::string_view text);

// CR -> kCrMarker, LF -> kLfMarker; every other character unchanged.
std::string LinesToMarkers(std::string_view text);
// The reverse: every kCrMarker back to CR and every kLfMarker back to LF.
std::string MarkersToLines(std::string_view text);

// Splits at every match of TemplateToPattern(separator) (no options, no empty matches): the
// pieces between matches in order, empty ones included, then the rest. An empty text gives
// no pieces. A separator that does not make a usable pattern gives the whole text.
std::vector<std::string> SplitByTemplate(std::string_view text, std::string_view separatorTemplate);

// Group "content" of the first match of `pattern` (search options); "" when nothing matches
// or the pattern is refused (the refusal is logged).
std::string MatchContentGroup(std::string_view text, std::string_view pattern);

// Output template filling. Placeholders "{参数n}" are found in the output in order.
// By number: n within the match's groups (group 0 counts) -> every occurrence becomes group
// n's text; otherwise every occurrence is removed.
std::string FillParamsByNumber(std::string_view output, const platform::RegexMatch& match);
// By name: when the pattern text contains "<canshu" + n, every occurrence becomes the text of
// group "canshu" + n; otherwise the placeholder stays as written.
std::string FillParamsByName(std::string_view output, const platform::RegexMatch& match, std::string_view pattern);

// The rule for choosing: an output that contains "{参数1}" with a pattern text that does not
// means a raw pattern filled by number.
bool FillsByNumber(std::string_view patternText, std::string_view output);

}  // namespace tarvex::engine

#include "engine/template_lang.h"

#include "platform/utf8.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "platform/run_log.h"

namespace tarvex::engine {

namespace {

using platform::Regex;
using platform::RegexMatch;

constexpr std::string_view kParamOpen = "{参数";
constexpr std::string_view kEqualsMarker = "<临时等号>";

// The placeholders a template keeps: "{*}", "{参数" digits "}" and "{DD:" up to the first "}".
constexpr std::string_view kPlaceholderPattern = "{\\*}|{参数[0-9]+}|{DD:.*?}";

// The escape steps, in the order that keeps the backslashes added by later steps single.
constexpr std::pair<std::string_view, std::string_view> kEscapeSteps[] = {
    {"\\", "\\\\"}, {"$", "\\$"}, {"(", "\\("}, {")", "\\)"},          {"*", "\\*"}, {"+", "\\+"},
    {".", "\\."},   {"[", "\\["}, {"]", "\\]"}, {"?", "\\?"},          {"!", "\\!"}, {"^", "\\^"},
    {"{", "\\{"},   {"}", "\\}"}, {"|", "\\|"}, {"\r\n", "[\\n\\r]+"},
};

// One "{参数" digits "}" placeholder found in a text.
struct ParamPlaceholder {
    std::size_t pos;
    std::size_t length;
    std::string_view digits;
};

std::vector<ParamPlaceholder> findParamPlaceholders(std::string_view text) {
    std::vector<ParamPlaceholder> out;
    std::size_t pos = text.find(kParamOpen);
    while (pos != std::string_view::npos) {
        std::size_t d = pos + kParamOpen.size();
        std::size_t e = d;
        while (e < text.size() && text[e] >= '0' && text[e] <= '9') ++e;
        if (e > d && e < text.size() && text[e] == '}') {
            out.push_back({pos, e + 1 - pos, text.substr(d, e - d)});
            pos = text.find(kParamOpen, e + 1);
        } else {
            pos = text.find(kParamOpen, pos + 1);
        }
    }
    return out;
}

// Parameter number as an integer; -1 when it does not fit.
long long paramNumber(std::string_view digits) {
    long long n = 0;
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec != std::errc() || ptr != digits.data() + digits.size()) return -1;
    return n;
}

bool splitsLiterally(std::string_view separator) {
    return separator.find('{') == std::string_view::npos && separator.find("\r\n") == std::string_view::npos;
}

}  // namespace

void ReplaceAllInPlace(std::string& text, std::string_view from, std::string_view to) {
    platform::utf8::replaceAll(text, from, to);
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string out(text);
    ReplaceAllInPlace(out, from, to);
    return out;
}

std::string TemplateToPattern(std::string_view tmpl) {
    std::string w(tmpl);
    std::vector<std::pair<std::string, std::string>> remembered;
    auto found = platform::regexAll(kPlaceholderPattern, platform::kSearchOptions, tmpl);
    int n = 0;
    for (const auto& m : found.matches) {
        std::string placeholder(m.group());
        std::string marker = "<临时替换参数用" + std::to_string(n++) + ">";
        ReplaceAllInPlace(w, placeholder, marker);
        remembered.emplace_back(ReplaceAll(placeholder, "=", kEqualsMarker), std::move(marker));
    }
    for (const auto& [from, to] : kEscapeSteps) ReplaceAllInPlace(w, from, to);
    for (const auto& [placeholder, marker] : remembered)
        ReplaceAllInPlace(w, marker, ReplaceAll(placeholder, kEqualsMarker, "="));
    return w;
}

std::string ParametersToGroups(std::string_view text) {
    auto found = findParamPlaceholders(text);
    if (found.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size() + found.size() * 16);
    std::size_t copied = 0;
    for (const auto& p : found) {
        out.append(text.substr(copied, p.pos - copied));
        out.append("(?<canshu").append(p.digits).append(">.*?)");
        copied = p.pos + p.length;
    }
    out.append(text.substr(copied));
    return out;
}

std::string CutPattern(std::string_view front, std::string_view back) {
    return ReplaceAll(TemplateToPattern(front), kSkipPlaceholder, ".*?") + "(?<content>.*?)" +
           ReplaceAll(TemplateToPattern(back), kSkipPlaceholder, ".*?");
}

std::string ParameterPattern(std::string_view tmpl) {
    return ParametersToGroups(ReplaceAll(TemplateToPattern(tmpl), kSkipPlaceholder, "(.*?)"));
}

std::string RawPattern(std::string_view regex) {
    return ReplaceAll(regex, kSkipPlaceholder, ".*?");
}

std::string RawParameterPattern(std::string_view regex) {
    return ParametersToGroups(RawPattern(regex));
}

std::string LinesToMarkers(std::string_view text) {
    // Page texts run to megabytes: copy the runs between line breaks whole.
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    std::size_t from = 0;
    std::size_t cr = text.find('\r'), lf = text.find('\n');
    while (cr != std::string_view::npos || lf != std::string_view::npos) {
        std::size_t at = std::min(cr, lf);
        out.append(text.substr(from, at - from));
        if (at == cr) {
            out.append(kCrMarker);
            cr = text.find('\r', at + 1);
        } else {
            out.append(kLfMarker);
            lf = text.find('\n', at + 1);
        }
        from = at + 1;
    }
    out.append(text.substr(from));
    return out;
}

std::string MarkersToLines(std::string_view text) {
    if (text.find("<临时换行") == std::string_view::npos) return std::string(text);
    std::string out = ReplaceAll(text, kCrMarker, "\r");
    ReplaceAllInPlace(out, kLfMarker, "\n");
    return out;
}

std::vector<std::string> SplitByTemplate(std::string_view text, std::string_view separatorTemplate) {
    std::vector<std::string> pieces;
    if (text.empty()) return pieces;
    // A separator without placeholders or line breaks converts to an escaped literal, so a
    // plain search finds exactly the same places.
    if (splitsLiterally(separatorTemplate)) {
        if (separatorTemplate.empty()) return {std::string(text)};
        std::size_t from = 0;
        for (std::size_t pos = text.find(separatorTemplate); pos != std::string_view::npos;
             pos = text.find(separatorTemplate, from)) {
            pieces.emplace_back(text.substr(from, pos - from));
            from = pos + separatorTemplate.size();
        }
        pieces.emplace_back(text.substr(from));
        return pieces;
    }
    auto split = platform::regexSplit(TemplateToPattern(separatorTemplate), platform::kRegexNone, text);
    if (split.error) {
        platform::WriteLog("SplitByTemplate|" + *split.error, 1);
        return {std::string(text)};
    }
    return std::move(split.pieces);
}

std::string MatchContentGroup(std::string_view text, std::string_view pattern) {
    auto first = platform::regexFirst(pattern, platform::kSearchOptions, text);
    if (first.error) {
        platform::WriteLog("MatchContentGroup|" + *first.error, 1);
        return {};
    }
    if (!first.match) return {};
    return std::string(first.match->named("content"));
}

std::string FillParamsByNumber(std::string_view output, const RegexMatch& match) {
    std::string out(output);
    for (const auto& p : findParamPlaceholders(output)) {
        std::string_view placeholder = output.substr(p.pos, p.length);
        long long n = paramNumber(p.digits);
        if (n < 0 || static_cast<unsigned long long>(n) >= match.groupCount())
            ReplaceAllInPlace(out, placeholder, "");
        else
            ReplaceAllInPlace(out, placeholder, match.group(static_cast<std::size_t>(n)));
    }
    return out;
}

std::string FillParamsByName(std::string_view output, const RegexMatch& match, std::string_view pattern) {
    std::string out(output);
    for (const auto& p : findParamPlaceholders(output)) {
        std::string name = "canshu" + std::string(p.digits);
        if (pattern.find("<" + name) == std::string_view::npos) continue;
        ReplaceAllInPlace(out, output.substr(p.pos, p.length), match.named(name));
    }
    return out;
}

bool FillsByNumber(std::string_view patternText, std::string_view output) {
    return output.find(kFirstParameter) != std::string_view::npos &&
           patternText.find(kFirstParameter) == std::string_view::npos;
}

}  // namespace tarvex::engine

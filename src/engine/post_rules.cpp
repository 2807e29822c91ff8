#include "engine/post_rules.h"

#include <ctime>
#include <functional>
#include <vector>

#include "engine/html_utils.h"
#include "engine/template_lang.h"
#include "engine/word_libraries.h"
#include "platform/file_read.h"
#include "platform/plugin_loader.h"
#include "platform/regex.h"
#include "platform/run_log.h"
#include "platform/utf8.h"

namespace tarvex::engine {
namespace {

using platform::Regex;
using platform::RegexMatch;
using platform::WriteLog;

constexpr int kDetail = 1;

// Detail lines that quote a whole value are only built when someone will read them: a 1 MB
// value quoted per match would cost more than the matching itself.
bool detailOn() {
    const auto& log = platform::RunLog::global();
    return log.logOn() && log.detailOn();
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

bool contains(std::string_view s, std::string_view part) {
    return s.find(part) != std::string_view::npos;
}

std::string_view trimBlanks(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
    return s.substr(b, e - b);
}

std::string unescapeJoiner(std::string text) {
    ReplaceAllInPlace(text, "\\r", "\r");
    ReplaceAllInPlace(text, "\\n", "\n");
    return text;
}

// A compiled pattern, or nullptr after logging the engine's refusal.
platform::RegexPtr compileOrLog(const std::string& pattern, unsigned options, const std::string& who) {
    auto compiled = Regex::compile(pattern, options);
    if (!compiled) {
        WriteLog(who + "正则出错，内容不变：" + compiled.error + "，规则：" + pattern, 0);
        return nullptr;
    }
    return compiled.regex;
}

// Replaces each non-empty match by the text `replacementOf` gives for it, left to right in one
// pass. Returns the engine's error, if any (the text is then left alone by the caller).
std::optional<std::string> replaceEachMatch(const Regex& re, std::string_view value, std::string& out,
                                            const std::function<std::string(const RegexMatch&)>& replacementOf) {
    out.clear();
    out.reserve(value.size());
    std::size_t copied = 0;
    auto error = re.forEach(
        value,
        [&](const RegexMatch& m) {
            out.append(value.substr(copied, m.begin() - copied));
            out.append(replacementOf(m));
            copied = m.end();
            return true;
        },
        false);
    out.append(value.substr(copied));
    return error;
}

}  // namespace

std::string ReplaceRule(std::string_view value, const RuleJson& rule, const FieldValueList& values) {
    const std::string find = RuleText(rule, "rep1");
    const bool pureRegex = RuleFlag(rule, "check2");
    const bool templated = !pureRegex && !contains(find, kFirstParameter);
    std::string repl;
    if (templated) {
        // The replacement is a template there: a field value goes in as written, so its "$" and
        // "\" are escaped before it joins the template ("$100" must not become group 1 + "00").
        FieldValueList escaped = values;
        for (auto& entry : escaped) {
            ReplaceAllInPlace(entry.second, "\\", "\\\\");
            ReplaceAllInPlace(entry.second, "$", "$$");
        }
        repl = ExpandFieldRefs(RuleText(rule, "rep2"), escaped);
    } else {
        repl = ExpandFieldRefs(RuleText(rule, "rep2"), values);
    }
    if (repl == "null") repl.clear();
    const unsigned options = platform::kExtractionOptions | (RuleFlag(rule, "check1") ? platform::kRegexCaseless : 0u);
    if (find.empty()) {
        WriteLog("Result_AddFunc|替换前文字为空，跳过该规则", kDetail);
        return std::string(value);
    }
    std::string out;
    if (pureRegex) {
        WriteLog("Result_AddFunc|纯正则替换，str22：" + find, kDetail);
        auto re = compileOrLog(find, options, "Result_AddFunc|纯正则替换，");
        if (!re) return std::string(value);
        const bool detail = detailOn();
        auto error = replaceEachMatch(*re, value, out, [&](const RegexMatch&) {
            if (detail) WriteLog("Result_AddFunc|纯正则替换，得到初始匹配结果成功1", kDetail);
            return repl;
        });
        if (error) {
            WriteLog("Result_AddFunc|纯正则替换，正则出错，内容不变：" + *error, 0);
            return std::string(value);
        }
        if (detail) WriteLog("Result_AddFunc|纯正则替换得到result：" + out, kDetail);
        return out;
    }
    if (templated) {
        const std::string pattern = ReplaceAll(TemplateToPattern(find), kSkipPlaceholder, "(.*?)");
        WriteLog("Result_AddFunc|不带参数替换，str22：" + pattern, kDetail);
        auto re = compileOrLog(pattern, options, "Result_AddFunc|不带参数替换，");
        if (!re) return std::string(value);
        auto replaced = re->replace(value, repl, platform::ReplaceSyntax::Template);
        if (replaced.error) {
            WriteLog("Result_AddFunc|不带参数替换，正则出错，内容不变：" + *replaced.error, 0);
            return std::string(value);
        }
        return std::move(replaced.text);
    }
    std::string pattern = ReplaceAll(TemplateToPattern(find), kSkipPlaceholder, ".*?");
    for (int n = 1; n <= 3; ++n) {
        const std::string digit = std::to_string(n);
        ReplaceAllInPlace(pattern, "{参数" + digit + "}", "(?<canshu" + digit + ">.*?)");
    }
    WriteLog("Result_AddFunc|带参数替换，str22：" + pattern, kDetail);
    auto re = compileOrLog(pattern, options, "Result_AddFunc|带参数替换，");
    if (!re) return std::string(value);
    for (int n = 1; n <= 3; ++n) {
        const std::string digit = std::to_string(n);
        if (contains(repl, "{参数" + digit + "}") && re->groupNumber("canshu" + digit) < 0) {
            WriteLog("Result_AddFunc|带参数替换，替换后文字含{参数" + digit + "}而替换前没有，内容不变", 0);
            return std::string(value);
        }
    }
    const bool detail = detailOn();
    auto error = replaceEachMatch(*re, value, out, [&](const RegexMatch& m) {
        if (detail) WriteLog("Result_AddFunc|带参数替换，得到初始匹配结果成功1", kDetail);
        std::string item = repl;
        for (int n = 1; n <= 3; ++n) {
            const std::string digit = std::to_string(n);
            const std::string placeholder = "{参数" + digit + "}";
            if (contains(item, placeholder)) ReplaceAllInPlace(item, placeholder, m.named("canshu" + digit));
        }
        if (detail) WriteLog("Result_AddFunc|替换参数得到represult：" + item, kDetail);
        return item;
    });
    if (error) {
        WriteLog("Result_AddFunc|带参数替换，正则出错，内容不变：" + *error, 0);
        return std::string(value);
    }
    return out;
}

std::string regexExtract(const RuleJson& rule, std::string_view value) {
    WriteLog("GetResult|zztq_strong=======正则提取========", kDetail);
    std::string pattern = RawPattern(RuleText(rule, "rep1"));
    std::string out = RuleText(rule, "rep2");
    if (out == "null") out.clear();
    const std::string joiner = unescapeJoiner(RuleText(rule, "rep_join_string"));
    const std::string head = RuleText(rule, "rep_begin_string");
    const std::string tail = RuleText(rule, "rep_end_string");
    long long max = ParseRuleCount(RuleText(rule, "rep_max_num")).value_or(0);
    if (max == 0) max = 999999;
    const bool repeat = RuleFlag(rule, "repeat_check");
    const bool detail = detailOn();
    if (detail) WriteLog("zztq_strong|正则提取，str22：" + pattern + "," + std::string(value), kDetail);

    std::string result;
    long long taken = 0;
    const bool byNumber = !out.empty() && FillsByNumber(pattern, out);
    if (!byNumber) {
        pattern = ParametersToGroups(pattern);
        WriteLog("zztq_strong|正则提取，str22一次处理：" + pattern, kDetail);
    }
    auto compiled = Regex::compile(pattern, platform::kExtractionOptions);
    if (!compiled) {
        WriteLog("zztq|正则提取 出错：" + compiled.error + "，内容不变", 0);
        return std::string(value);
    }
    auto error = compiled.regex->forEach(value, [&](const RegexMatch& m) {
        if (taken >= max) return false;
        std::string item;
        if (byNumber) {
            item = FillParamsByNumber(out, m);
        } else {
            if (detail) WriteLog("zztq_strong|正则提取，得到初始匹配结果成功1", kDetail);
            item = FillParamsByName(out, m, pattern);
            if (item.empty()) item = std::string(m.group());
        }
        result += head;
        result += item;
        result += tail;
        result += joiner;
        ++taken;
        if (detail) WriteLog("zztq_strong|替换参数得到represult：" + item, kDetail);
        return repeat;
    });
    if (error) {
        WriteLog("zztq|正则提取 出错：" + *error + "，内容不变", 0);
        return std::string(value);
    }
    return RemoveSuffix(joiner, result);
}

std::string CutRule(std::string_view value, const RuleJson& rule) {
    const std::string front = RuleText(rule, "rep1");
    const std::string back = RuleText(rule, "rep2");
    const std::string keepText = RuleText(rule, "rep3");
    const bool keep = !keepText.empty() && FlagText(keepText);
    const bool emptyWhenMissing = RuleFlag(rule, "check2");
    std::string v(value);
    auto cutFront = [&] {
        std::size_t at = v.find(front);
        if (at == std::string::npos) return false;
        v.erase(0, keep ? at : at + front.size());
        return true;
    };
    auto cutBack = [&] {
        std::size_t at = v.find(back);
        if (at == std::string::npos) return false;
        v.resize(keep ? at + back.size() : at);
        return true;
    };
    if (!front.empty() && !back.empty()) {
        cutFront();
        cutBack();
    } else if (!back.empty()) {
        if (!cutBack() && emptyWhenMissing) v.clear();
    } else if (!front.empty()) {
        if (!cutFront() && emptyWhenMissing) v.clear();
    }
    return v;
}

std::optional<std::string> extractAgain(std::string_view source, const RuleJson& rule) {
    const std::string page = MarkersToLines(source);
    const std::string front = RuleText(rule, "rep1");
    const std::string back = RuleText(rule, "rep2");
    const bool byRegex = RuleFlag(rule, "check1");
    const bool repeat = RuleFlag(rule, "check2");
    std::string result;
    auto each = [&](const std::string& pattern, const std::function<std::string(const RegexMatch&)>& item) {
        auto compiled = Regex::compile(pattern, platform::kExtractionOptions);
        if (!compiled) return std::optional<std::string>(compiled.error);
        return compiled.regex->forEach(page, [&](const RegexMatch& m) {
            result += item(m);
            result += kRepeatJoiner;
            return repeat;
        });
    };
    std::optional<std::string> error;
    if (!byRegex) {
        const bool direct = !contains(front, kSkipPlaceholder) && !contains(back, kSkipPlaceholder) &&
                            !contains(front, "\r") && !contains(back, "\r");
        if (direct) {
            WriteLog("AddFunc_Getagain|前后截规则(直接截取)是：" + front + "，，，，" + back, kDetail);
            // An empty front or back never matches, so repeat mode cannot circle in one place.
            std::string_view rest = page;
            std::size_t f = front.empty() ? std::string_view::npos : rest.find(front);
            while (f != std::string_view::npos) {
                rest = rest.substr(f + front.size());
                std::size_t b = back.empty() ? std::string_view::npos : rest.find(back);
                if (b != std::string_view::npos && b > 0) {
                    result.append(rest.substr(0, b));
                    result.append(kRepeatJoiner);
                }
                if (!repeat || b == std::string_view::npos) break;
                rest = rest.substr(b + back.size());
                f = rest.find(front);
            }
        } else {
            const std::string pattern = CutPattern(front, back);
            WriteLog("AddFunc_Getagain|前后截规则是：" + pattern, kDetail);
            error = each(pattern, [](const RegexMatch& m) { return std::string(m.named("content")); });
        }
    } else if (!back.empty() && FillsByNumber(front, back)) {
        WriteLog("AddFunc_Getagain|纯正则提取 反向引用开始", kDetail);
        error = each(RawPattern(front), [&](const RegexMatch& m) { return FillParamsByNumber(back, m); });
    } else if (!back.empty()) {
        WriteLog("AddFunc_Getagain|正则前后匹配 得到 开始", kDetail);
        const std::string pattern = ParameterPattern(front);
        error = each(pattern, [&](const RegexMatch& m) { return FillParamsByName(back, m, pattern); });
    } else {
        WriteLog("AddFunc_Getagain|纯正则提取 开始", kDetail);
        error = each(RawPattern(front), [](const RegexMatch& m) { return std::string(m.group()); });
    }
    if (error) {
        WriteLog("AddFunc_Getagain|正则出错：" + *error, 0);
        return std::nullopt;
    }
    if (result.empty()) {
        WriteLog("AddFunc_Getagain|正则截取，正则匹配失败，返回空", kDetail);
    } else {
        result.erase(result.rfind(kRepeatJoiner));
        WriteLog("AddFunc_Getagain|正则截取，正则匹配成功，初次赋值result", kDetail);
    }
    return result;
}

namespace {

constexpr long long kBeijingOffset = 8 * 3600;

// Reads a Beijing date-time text: year, month, day and optionally hour, minute, second, with
// any of "-", "/", ".", "年", "月", "日", " ", "T", ":", "时", "分", "秒" between the numbers.
std::optional<long long> parseBeijingTime(std::string_view text) {
    std::vector<long long> parts;
    std::size_t i = 0;
    text = trimBlanks(text);
    while (i < text.size()) {
        if (text[i] >= '0' && text[i] <= '9') {
            long long n = 0;
            std::size_t digits = 0;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 9) {
                n = n * 10 + (text[i] - '0');
                ++i;
                ++digits;
            }
            if (i < text.size() && text[i] >= '0' && text[i] <= '9') return std::nullopt;
            parts.push_back(n);
            continue;
        }
        static const std::string_view separators[] = {"-", "/", ".", " ", "T", ":", "年", "月", "日", "时", "分", "秒"};
        bool known = false;
        for (auto sep : separators) {
            if (text.substr(i, sep.size()) == sep) {
                i += sep.size();
                known = true;
                break;
            }
        }
        if (!known) return std::nullopt;
    }
    if (parts.size() < 3 || parts.size() > 6) return std::nullopt;
    parts.resize(6, 0);
    const long long y = parts[0], mo = parts[1], d = parts[2], h = parts[3], mi = parts[4], s = parts[5];
    if (y < 1000 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = static_cast<int>(y - 1900);
    tm.tm_mon = static_cast<int>(mo - 1);
    tm.tm_mday = static_cast<int>(d);
    tm.tm_hour = static_cast<int>(h);
    tm.tm_min = static_cast<int>(mi);
    tm.tm_sec = static_cast<int>(s);
    std::tm check = tm;
    const long long utc = ::timegm(&check);
    // timegm normalises 2019-02-30 into March; such a date is not a date.
    if (check.tm_mday != tm.tm_mday || check.tm_mon != tm.tm_mon) return std::nullopt;
    return utc - kBeijingOffset;
}

}  // namespace

std::string convertTime(std::string_view value, const RuleJson& rule) {
    const std::string format(trimBlanks(RuleText(rule, "rep1")));
    const std::string modeText = RuleText(rule, "check1");
    auto mode = modeText.empty() ? std::optional<long long>(0) : ParseRuleCount(modeText);
    if (!mode) {
        WriteLog("AddFunc_time2time|转换方式不是整数，内容不变：" + modeText, 0);
        return std::string(value);
    }
    if (*mode == 1) {
        auto stamp = parseBeijingTime(value);
        if (!stamp) {
            WriteLog("AddFunc_time2time|不是北京时间，内容不变：" + std::string(value), kDetail);
            return std::string(value);
        }
        return std::to_string(*stamp);
    }
    if (*mode != 0) return std::string(value);
    std::string v(value);
    const std::size_t length = platform::utf8::length(v);
    if (length != 10 && length != 13) v = "0";
    if (format.empty()) return v;
    std::string fmt(platform::utf8::substr(format, 6));
    if (!fmt.empty()) fmt.pop_back();
    WriteLog("AddFunc_time2time|开始时间戳转 北京时间,tempstr:" + fmt + ",Result:" + v, kDetail);
    auto n = ParseRuleCount(v);
    if (!n) return v;
    const std::time_t t = static_cast<std::time_t>(*n + kBeijingOffset);
    std::tm tm{};
    if (!::gmtime_r(&t, &tm)) return v;
    LocalDateTime when;
    when.year = tm.tm_year + 1900;
    when.month = tm.tm_mon + 1;
    when.day = tm.tm_mday;
    when.hour = tm.tm_hour;
    when.minute = tm.tm_min;
    when.second = tm.tm_sec;
    when.weekday = tm.tm_wday;
    return FormatDateTime(fmt, when);
}

std::string FetchRule(std::string_view value, const PageFetcher& fetch) {
    const std::string url(trimBlanks(value));
    const std::string lower = platform::utf8::lowerAscii(url);
    if (!startsWith(lower, "http://") && !startsWith(lower, "https://")) {
        WriteLog("Result_AddFunc|访问网页只接受http与https地址：" + url, 0);
        return {};
    }
    if (!fetch) {
        WriteLog("Result_AddFunc|访问网页没有可用的网页获取功能：" + url, 0);
        return {};
    }
    std::string result;
    try {
        result = fetch(url, std::string());
    } catch (const std::exception& e) {
        WriteLog("Result_AddFunc|访问网页出错：" + std::string(e.what()), 0);
        return {};
    }
    if (startsWith(result, "succ:")) return result.substr(5);
    WriteLog("Result_AddFunc|访问网页失败：" + url + "，" + result, kDetail);
    return {};
}

namespace {

bool bareFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && !contains(name, "/") && !contains(name, "\\") &&
           !contains(name, std::string_view("\0", 1));
}

}  // namespace

std::string CallDllPlugin(std::string_view setting, const std::string& address, const std::string& page,
                          std::string_view value, const std::string& name, const std::string& programFolder) {
    std::string file(setting), function = "default";
    std::size_t bar = setting.find('|');
    if (bar != std::string_view::npos && bar >= 1) {
        file = std::string(setting.substr(0, bar));
        function = std::string(setting.substr(bar + 1));
    }
    if (!bareFileName(file)) {
        WriteLog("CallDllPlugin|插件名称只能是Plugin目录下的文件名，已拒绝：" + file, 0);
        return std::string(value);
    }
    std::string path = platform::joinPath(programFolder, "Plugin/" + file);
    // Rules written for Windows name "x.dll"; the same plug-in built here is "x.so".
    if (!platform::isRegularFile(path) && file.size() > 4 &&
        platform::utf8::lowerAscii(file.substr(file.size() - 4)) == ".dll") {
        std::string so = platform::joinPath(programFolder, "Plugin/" + file.substr(0, file.size() - 4) + ".so");
        if (platform::isRegularFile(so)) path = so;
    }
    auto call = platform::CallPluginFunction(path, function, value, address, page, name, std::string(value));
    switch (call.status) {
        case platform::PluginCallStatus::Called:
            break;
        case platform::PluginCallStatus::LoadFailed:
            WriteLog("CallDllPlugin|插件无法加载：" + path + "，" + call.error, 0);
            break;
        case platform::PluginCallStatus::FunctionMissing:
            WriteLog("CallDllPlugin|插件没有函数" + function + "：" + path, 0);
            break;
        case platform::PluginCallStatus::Failed:
            WriteLog("CallDllPlugin|插件函数" + function + "执行失败：" + call.error, 0);
            break;
    }
    return std::move(call.text);
}

std::string TopPageEntry(const PageList& pages) {
    if (pages.empty()) return {};
    return pages.front().first + "=" + pages.front().second;
}

std::string applyPlugins(std::int64_t workId, const std::string& address, const std::string& name,
                         const FieldValueList& values, const PageList& pages, std::string_view settingsJson,
                         std::string_view ruleJson, const std::string& programFolder) {
    (void)workId, (void)settingsJson;
    std::string value;
    const std::string* found = nullptr;
    for (const auto& [n, v] : values)
        if (n == name) {
            found = &v;
            break;
        }
    if (!found) {
        const std::string lowerName = platform::utf8::lowerAscii(name);
        for (const auto& [n, v] : values)
            if (platform::utf8::lowerAscii(n) == lowerName) {
                found = &v;
                break;
            }
    }
    if (found) value = *found;
    auto rule = ParseRuleJson(ruleJson);
    if (!rule) return value;
    const std::string page = TopPageEntry(pages);
    const auto strips = RuleTextArray(*rule, "txt_strips");
    for (std::size_t i = 0; i < strips.size(); ++i) {
        auto one = ParseRuleJson(strips[i]);
        if (!one || RuleText(*one, "type") != "DLL插件") continue;
        WriteLog("dll_js_content|开始替换与过滤HTML 第" + std::to_string(i) + "条规则,包含DLL插件", kDetail);
        value = CallDllPlugin(RuleText(*one, "rep1"), address, page, value, name, programFolder);
    }
    return value;
}

std::optional<std::string> CheckPostRule(const RuleJson& rule, const std::string& programFolder) {
    const std::string type = RuleText(rule, "type");
    const std::string rep1 = RuleText(rule, "rep1");
    const std::string rep2 = RuleText(rule, "rep2");
    auto listMissing = [&](const char* folder) {
        return !platform::isRegularFile(WordListPath(programFolder, folder, rep1));
    };
    if (type == "替换") {
        if (rep1.empty()) return "替换前文字不能为空";
    } else if (type == "正则提取") {
        if (rep1.empty()) return "“替换前”不能为空！";
    } else if (type == "字符截取") {
        if (rep1.empty() && rep2.empty()) return "“前边字符”,“后边字符”不能同时为空！";
    } else if (type == "内容前后追加") {
        if (rep1.empty() && rep2.empty()) return "“内容前边追加”,“内容后边追加”不能同时为空！";
    } else if (type == "空内容默认值") {
        if (rep1.empty()) return "内容默认值不能为空！";
    } else if (type == "html过滤") {
        if (RuleText(rule, "html_strip_nums").empty()) return "选择框不能全部为空";
    } else if (type == "特殊字符转化") {
        if (!RuleFlag(rule, "check1") && !RuleFlag(rule, "check2") && !RuleFlag(rule, "check3"))
            return "至少选择一项，才能保存！";
    } else if (type == "同义词替换") {
        if (listMissing(kSynonymFolder)) return "同义词文件不存在！";
    } else if (type == "关键词内链") {
        if (listMissing(kKeyUrlFolder)) return "关键词内链文件不存在！";
    } else if (type == "自定义词库分词") {
        if (listMissing(kDiyDictFolder)) return "自定义关键词内链文件不存在！";
    } else if (type == "随机插入文本") {
        if (!platform::isRegularFile(ResolveWorkspaceFile(programFolder, RuleText(rule, "filepath"))))
            return "该文本文件不存在！";
    } else if (type == "DLL插件") {
        if (rep1.empty()) return "DLL附件名称不能为！";
        std::size_t bar = rep1.find('|');
        if (!bareFileName(bar != std::string::npos && bar >= 1 ? rep1.substr(0, bar) : rep1))
            return "DLL附件名称只能是Plugin目录下的文件名！";
    } else if (type == "JavaScript插件") {
        if (rep1.empty()) return "JavaScript附件名称不能为！";
    } else if (type == "内容为空再次提取") {
        if (rep1.empty()) return "前边字符文本框不能为空！";
        const bool byRegex = RuleFlag(rule, "check1");
        if (!byRegex && rep2.empty()) return "后边字符文本框不能为空！";
        if (byRegex && !rep2.empty() && !contains(rep2, kFirstParameter)) {
            std::size_t at = rep1.find(kFirstParameter);
            if (at == std::string::npos || at == 0) return "使用纯正则提取，后边字符需留空或使用反向引用“{参数1}”！";
            return "使用正则提取，后边字符必须包含 “{参数1}”";
        }
    } else if (type == "时间转化") {
        const std::string mode = RuleText(rule, "check1");
        if ((mode.empty() || ParseRuleCount(mode) == 0) && !startsWith(RuleText(rule, "rep1"), "{dd:日期"))
            return "时间格式必须以‘{dd:日期开头’开头。可点击默认按扭，使用默认样式！";
    }
    return std::nullopt;
}

void NormalizePostRuleForSave(RuleJson& rule) {
    const std::string type = RuleText(rule, "type");
    if (type != "正则提取" && type != "字符截取") return;
    for (const char* key : {"rep1", "rep2"}) {
        if (!RuleHas(rule, key)) continue;
        std::string text = RuleText(rule, key);
        std::erase(text, '\r');
        std::erase(text, '\n');
        rule[key] = text;
    }
}

}  // namespace tarvex::engine

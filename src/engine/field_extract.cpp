#include "engine/field_extract.h"

#include "engine/article_extract.h"
#include "engine/post_process.h"
#include "engine/template_lang.h"
#include "platform/json_text.h"
#include "platform/regex.h"
#include "platform/run_log.h"
#include "platform/utf8.h"

namespace tarvex::engine {

namespace {

using platform::Regex;
using platform::RegexMatch;
using platform::WriteLog;

constexpr int kDetail = 1;
constexpr std::string_view kFieldRefOpen = "{DD:字段=";

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The field-value list compares names without regard to letter case.
const std::string* lookupValue(const FieldValueList& values, std::string_view name) {
    for (const auto& [n, v] : values)
        if (equalsIgnoringAsciiCase(n, name)) return &v;
    return nullptr;
}

// Removes the last repeat joiner and everything after it.
void dropLastJoiner(std::string& value) {
    std::size_t at = value.rfind(kRepeatJoiner);
    if (at != std::string::npos) value.erase(at);
}

std::string joinPages(const std::vector<std::string>& values) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) out.append(kPageSeparator);
        out.append(values[i]);
    }
    return out;
}

std::string unescapeJoiner(std::string text) {
    ReplaceAllInPlace(text, "\\r", "\r");
    ReplaceAllInPlace(text, "\\n", "\n");
    return text;
}

std::string settingsText(const SettingsJson& settings, const std::string& key) {
    return JsonText(settings, key);
}

// Between a front and a back text found literally. An empty front never matches (so repeat
// mode cannot circle on the same place), and every pass starts after the previous front.
void directCut(const FieldRule& rule, std::string_view page, std::string& value) {
    const std::string& front = rule.front;
    const std::string& back = rule.back;
    if (front.empty()) return;
    std::string_view rest = page;
    std::size_t f = rest.find(front);
    while (f != std::string_view::npos) {
        rest = rest.substr(f + front.size());
        std::size_t b = back.empty() ? std::string_view::npos : rest.find(back);
        if (b != std::string_view::npos && b > 0) {
            value.append(rest.substr(0, b));
            value.append(kRepeatJoiner);
        }
        if (!rule.repeat) break;
        // Without the back text in the rest, no later piece can end either.
        if (b == std::string_view::npos) break;
        rest = rest.substr(b + back.size());
        f = rest.find(front);
    }
}

// Appends one item per match (the first only unless repeating) and returns the engine error.
std::optional<std::string> eachMatch(const std::string& pattern, std::string_view page, bool repeat,
                                     const std::function<void(const RegexMatch&)>& take) {
    auto compiled = Regex::compile(pattern, platform::kExtractionOptions);
    if (!compiled) return compiled.error;
    return compiled.regex->forEach(page, [&](const RegexMatch& m) {
        take(m);
        return repeat;
    });
}

std::optional<long long> boundOf(const std::string& text) {
    return ParseInteger(TrimText(text));
}

std::string randomNumber(const FieldRule& rule, const ExtractEnv& env) {
    auto lo = boundOf(rule.minText), hi = boundOf(rule.maxText);
    if (!lo || !hi) {
        WriteLog("GetFieldResult2|随机数范围不是整数：" + rule.minText + "," + rule.maxText, 0);
        return {};
    }
    if (*hi < *lo) {
        WriteLog("GetFieldResult2|随机数最小值大于最大值，已交换：" + rule.minText + "," + rule.maxText, 0);
        std::swap(*lo, *hi);
    }
    return std::to_string(env.random->uniform(*lo, *hi));
}

std::string fixedText(const FieldRule& rule, const FieldValueList& values, const ExtractEnv& env) {
    std::string text = rule.madeUpText;
    if (text.find("字段=") != std::string::npos) {
        auto refs = platform::regexAll("\\{DD:字段=.*?\\}", platform::kSearchOptions, rule.madeUpText);
        for (const auto& m : refs.matches) {
            std::string token(m.group());
            WriteLog("GetFieldResult2|befor_replace:" + token, 0);
            std::string name = token.substr(kFieldRefOpen.size(), token.size() - kFieldRefOpen.size() - 1);
            const std::string* v = lookupValue(values, name);
            ReplaceAllInPlace(text, token, v ? MarkersToLines(*v) : std::string());
        }
    }
    return TrimText(ExpandTokens(text, {}, *env.clock, *env.random));
}

std::string randomLine(const FieldRule& rule, const ExtractEnv& env) {
    if (rule.madeUpText.empty()) return {};
    std::vector<std::string_view> lines;
    std::string_view text = rule.madeUpText;
    std::size_t from = 0;
    for (std::size_t cr = text.find('\r'); cr != std::string_view::npos; cr = text.find('\r', from)) {
        lines.push_back(text.substr(from, cr - from));
        from = cr + 1;
    }
    lines.push_back(text.substr(from));
    auto pick = env.random->uniform(0, static_cast<std::int64_t>(lines.size()) - 1);
    return TrimText(lines[static_cast<std::size_t>(pick)]);
}

// extractFieldFromPage on a page whose line breaks are already restored.
FieldOutcome extractFromPage(const std::string& name, const FieldRule& rule, std::string_view page,
                             const FieldValueList& values, const PageList& pages, const ExtractEnv& env) {
    WriteLog("GetFieldResult2|根据字段规则从网页中提取 开始=========", kDetail);
    FieldOutcome out;
    std::string& value = out.value;
    if (rule.smart) {
        const ArticlePart part = ArticlePartFromText(rule.smartPart);
        WriteLog(std::string("GetFieldResult2|智能识别：") + ArticlePartText(part), kDetail);
        value = ExtractArticlePart(page, part);
        if (value.empty()) WriteLog("GetFieldResult2|智能识别，未找到，返回空", kDetail);
    } else if (rule.byFrontBack) {
        WriteLog("GetFieldResult2|前后截取", kDetail);
        const std::string& front = rule.front;
        const std::string& back = rule.back;
        bool direct = front.find(kSkipPlaceholder) == std::string::npos &&
                      back.find(kSkipPlaceholder) == std::string::npos && front.find('\r') == std::string::npos &&
                      back.find('\r') == std::string::npos;
        if (direct) {
            WriteLog("GetFieldResult2|前后截规则(直接截取)是：" + front + "，，，，" + back, kDetail);
            directCut(rule, page, value);
        } else {
            std::string pattern = CutPattern(front, back);
            WriteLog("GetFieldResult2|前后截规则是：" + pattern, kDetail);
            out.error = eachMatch(pattern, page, rule.repeat, [&](const RegexMatch& m) {
                value.append(m.named("content"));
                value.append(kRepeatJoiner);
            });
        }
        if (value.empty()) {
            WriteLog("GetFieldResult2|前后截取，正则匹配失败，返回空", kDetail);
        } else {
            dropLastJoiner(value);
            WriteLog("GetFieldResult2|前后截取，正则匹配成功，初次赋值result", kDetail);
        }
    } else if (rule.byRegex) {
        WriteLog("GetFieldResult2|正则提取", kDetail);
        const std::string& output = rule.output;
        if (!output.empty() && FillsByNumber(rule.pattern, output)) {
            std::string pattern = RawPattern(rule.pattern);
            WriteLog("GetFieldResult2|纯正则提取 反向引用开始 fbegin：" + pattern, kDetail);
            out.error = eachMatch(pattern, page, rule.repeat, [&](const RegexMatch& m) {
                value.append(FillParamsByNumber(output, m));
                value.append(kRepeatJoiner);
            });
        } else if (!output.empty()) {
            WriteLog("GetFieldResult2|假正则提取", kDetail);
            std::string pattern = ParameterPattern(rule.pattern);
            out.error = eachMatch(pattern, page, rule.repeat, [&](const RegexMatch& m) {
                value.append(FillParamsByName(output, m, pattern));
                value.append(kRepeatJoiner);
            });
        } else {
            WriteLog("GetFieldResult2|纯正则提取 开始", kDetail);
            out.error = eachMatch(rule.pattern, page, rule.repeat, [&](const RegexMatch& m) {
                value.append(m.group());
                value.append(kRepeatJoiner);
            });
        }
        if (value.empty()) {
            WriteLog("GetFieldResult2|正则截取，正则匹配失败，返回空", kDetail);
        } else {
            dropLastJoiner(value);
            WriteLog("GetFieldResult2|正则截取，正则匹配成功，初次赋值result", kDetail);
        }
    } else if (rule.madeUp) {
        if (rule.fixedText)
            value = fixedText(rule, values, env);
        else if (rule.randomLine)
            value = randomLine(rule, env);
        else if (rule.randomNumber)
            value = randomNumber(rule, env);
    }
    if (out.error) {
        WriteLog("GetFieldResult2|" + name + "|正则错误：" + *out.error, 0);
        value.clear();
        return out;
    }
    WriteLog("GetFieldResult2|开始替换与过滤HTML 得附加功能", kDetail);
    if (!rule.txtStrips.empty()) value = applyPostRules(value, rule.text, pages, values);
    return out;
}

// Runs the field on each page and joins the page values with the page separator.
FieldOutcome overPages(const std::string& name, const FieldRule& rule, const std::vector<std::string>& pageTexts,
                       const FieldValueList& values, const PageList& pages, const ExtractEnv& env) {
    std::vector<std::string> pageValues;
    for (const auto& text : pageTexts) {
        FieldOutcome one = extractFromPage(name, rule, text, values, pages, env);
        if (one.error) return one;
        pageValues.push_back(std::move(one.value));
    }
    return {joinPages(pageValues), std::nullopt};
}

std::vector<std::string> convertedPages(std::string_view text) {
    auto pieces = SplitByTemplate(text, kPageSeparator);
    for (auto& p : pieces) p = MarkersToLines(p);
    return pieces;
}

}  // namespace

Joiners ReadJoiners(const SettingsJson& settings) {
    return {unescapeJoiner(settingsText(settings, "other_join_repeat")),
            unescapeJoiner(settingsText(settings, "other_joinpage"))};
}

const PageSource::Entry& PageSource::top() {
    if (!m_top) {
        Entry e;
        // Fields of the content page only ever read its pages, so its whole text is not kept.
        if (!m_pages.empty()) e.pages = convertedPages(m_pages.front().second);
        m_top = std::move(e);
    }
    return *m_top;
}

const PageSource::Entry& PageSource::level(const std::string& name) {
    for (const auto& [n, e] : m_levels)
        if (n == name) return e;
    Entry e;
    if (const std::string* value = PageListValue(m_pages, name)) {
        auto parts = SplitByTemplate(*value, kLevelSeparator);
        if (parts.size() > 1) {
            e.whole = MarkersToLines(parts[1]);
            e.pages = convertedPages(parts[1]);
        }
    }
    m_levels.emplace_back(name, std::move(e));
    return m_levels.back().second;
}

FieldOutcome extractFieldFromPage(const std::string& name, const FieldRule& rule, std::string_view page,
                                  const FieldValueList& values, const PageList& pages, const ExtractEnv& env) {
    return extractFromPage(name, rule, MarkersToLines(page), values, pages, env);
}

FieldOutcome extractField(const std::string& name, const FieldRule& rule, const Joiners& joiners,
                          const FieldValueList& values, PageSource& pages, const ExtractEnv& env) {
    WriteLog("GetFieldResult|根据字段规则从网页中提取 开始=========", kDetail);
    FieldOutcome out;
    // An article has one headline, date and byline, stated on its first page; only its body
    // runs over every page.
    const bool everyPage =
        rule.checkMulpage && !(rule.smart && ArticlePartFromText(rule.smartPart) != ArticlePart::Body);
    if (rule.checkMorepage) {
        WriteLog("GetFieldResult,check_morepage为真，字段从多页中提取", kDetail);
        const auto& source = pages.level(rule.morepageIndex);
        if (everyPage) {
            WriteLog("GetFieldResult,字段还包含分页提取", kDetail);
            out = overPages(name, rule, source.pages, values, pages.list(), env);
        } else if (rule.smart) {
            // The article of the level's first page, not of its pages run together.
            out = extractFromPage(name, rule, source.pages.empty() ? std::string() : source.pages.front(), values,
                                  pages.list(), env);
        } else {
            out = extractFromPage(name, rule, source.whole, values, pages.list(), env);
        }
    } else {
        const auto& top = pages.top();
        if (top.pages.empty()) {
            out = {};
        } else if (everyPage) {
            WriteLog("GetFieldResult|顶级内容页且有分页中提取fname：" + name + "的值开始", kDetail);
            out = overPages(name, rule, top.pages, values, pages.list(), env);
        } else {
            WriteLog("GetFieldResult|顶级内容页且无分页中提取fname：" + name + "的值开始", kDetail);
            out = extractFromPage(name, rule, top.pages.front(), values, pages.list(), env);
        }
    }
    if (out.error) return out;
    ReplaceAllInPlace(out.value, kRepeatJoiner, joiners.repeat);
    ReplaceAllInPlace(out.value, kPageSeparator, joiners.page);
    return out;
}

std::string extractFieldFromPage(const std::string& name, std::string_view ruleJson, std::string_view page,
                                 const FieldValueList& values, const PageList& pages) {
    auto rule = ParseFieldRule(ruleJson);
    FieldOutcome out = extractFieldFromPage(name, rule ? *rule : FieldRule{}, page, values, pages);
    return out.value;
}

std::string extractField(const std::string& name, std::string_view ruleJson, std::string_view settingsJson,
                         const FieldValueList& values, const PageList& pages) {
    auto rule = ParseFieldRule(ruleJson);
    SettingsJson settings = platform::parseJson<SettingsJson>(settingsJson);
    if (settings.is_discarded()) settings = SettingsJson::object();
    PageSource source(pages);
    FieldOutcome out = extractField(name, rule ? *rule : FieldRule{}, ReadJoiners(settings), values, source);
    return out.value;
}

FieldRules ReadFieldRules(const SettingsJson& settings) {
    FieldRules out;
    if (!settings.is_object()) return out;
    auto it = settings.find("fieldsAll");
    if (it == settings.end() || !it->is_array()) return out;
    std::size_t index = 0;
    for (const auto& element : *it) {
        ++index;
        std::optional<FieldRule> rule;
        if (element.is_string())
            rule = ParseFieldRule(element.get_ref<const std::string&>());
        else if (element.is_object())
            rule = ReadFieldRule(element);
        if (!rule) {
            const bool tooDeep =
                element.is_string() && !platform::JsonNestingWithinLimit(element.get_ref<const std::string&>());
            out.error = "fieldsAll element " + std::to_string(index) +
                        (tooDeep ? ": " + platform::JsonTooDeepMessage() : " is not a field rule object");
            out.rules.clear();
            return out;
        }
        out.rules.push_back(std::move(*rule));
    }
    return out;
}

bool AllFixedStrings(std::string_view settingsJson) {
    SettingsJson settings = platform::parseJson<SettingsJson>(settingsJson);
    return AllFixedStrings(ReadFieldRules(settings.is_discarded() ? SettingsJson::object() : settings));
}

bool AllFixedStrings(const FieldRules& rules) {
    for (const auto& r : rules.rules)
        if (!r.madeUp) return false;
    return !rules.error;
}

std::string DownloadFieldNames(std::string_view settingsJson) {
    SettingsJson settings = platform::parseJson<SettingsJson>(settingsJson);
    std::string out = ",";
    if (settings.is_discarded()) return out;
    for (const auto& r : ReadFieldRules(settings).rules) {
        auto fileSave = JsonTextArray(r.json, "file_save");
        bool images = !fileSave.empty() && FlagOn(fileSave[0]);
        bool attachments = fileSave.size() == 4 && FlagOn(fileSave[3]);
        if (images || attachments) out += r.title + ",";
    }
    return out;
}

RecordOutcome ExtractRecord(const SettingsJson& settings, const std::vector<std::string>& pages, std::string_view url,
                            const ExtractEnv& env) {
    RecordOutcome out;
    FieldRules rules = ReadFieldRules(settings);
    if (rules.error) {
        out.error = rules.error;
        return out;
    }
    bool allFixed = true;
    for (const auto& r : rules.rules) allFixed = allFixed && r.madeUp;
    // A page that is not valid UTF-8 is repaired once here, so that "." can cross every byte.
    std::vector<std::string> texts;
    texts.reserve(pages.size());
    for (const auto& p : pages) texts.push_back(platform::utf8::isValid(p) ? p : platform::utf8::repair(p));
    if (allFixed && !rules.rules.empty()) texts = {"strip_get_content"};
    PageList list = ContentPageList(texts);
    PageSource source(list);
    Joiners joiners = ReadJoiners(settings);
    FieldValueList values;
    if (!url.empty()) values.emplace_back("url", std::string(url));
    for (const auto& rule : rules.rules) {
        FieldOutcome field = extractField(rule.title, rule, joiners, values, source, env);
        if (field.error) {
            out.error = "field \"" + rule.title + "\": " + *field.error;
            return out;
        }
        std::string value = MarkersToLines(field.value);
        out.record[rule.title] = value;
        bool replaced = false;
        for (auto& [n, v] : values) {
            if (n == rule.title) {
                v = value;
                replaced = true;
            }
        }
        if (!replaced) values.emplace_back(rule.title, std::move(value));
    }
    return out;
}

RecordOutcome ExtractRecordFromText(std::string_view settingsJson, const std::vector<std::string>& pages,
                                    std::string_view url, const ExtractEnv& env) {
    SettingsJson settings = platform::parseJson<SettingsJson>(settingsJson);
    if (settings.is_discarded() || !settings.is_object()) {
        RecordOutcome out;
        out.error = "the settings document is not a JSON object";
        return out;
    }
    return ExtractRecord(settings, pages, url, env);
}

}  // namespace tarvex::engine

#include "engine/field_explain.h"

#include "engine/post_process.h"
#include "engine/rule_json.h"
#include "engine/template_lang.h"
#include "platform/regex.h"

namespace tarvex::engine {

namespace {

bool literalCut(const FieldRule& rule) {
    return rule.front.find(kSkipPlaceholder) == std::string::npos &&
           rule.back.find(kSkipPlaceholder) == std::string::npos && rule.front.find('\r') == std::string::npos &&
           rule.back.find('\r') == std::string::npos;
}

std::string cutPiecePattern(const std::string& tmpl) {
    std::string p = TemplateToPattern(tmpl);
    ReplaceAllInPlace(p, std::string(kSkipPlaceholder), ".*?");
    return p;
}

std::string explainFrontBack(const FieldRule& rule, const std::string& page) {
    if (rule.front.empty()) return "前边字符为空，前后截取不会得到任何内容";
    if (rule.back.empty()) return "后边字符为空，前后截取不会得到任何内容";
    if (literalCut(rule)) {
        const std::size_t f = page.find(rule.front);
        if (f == std::string::npos) return "前边字符在页面中没有找到";
        const std::size_t b = page.find(rule.back, f + rule.front.size());
        if (b == std::string::npos) return "后边字符在前边字符之后没有找到";
        if (b == f + rule.front.size()) return "前边字符与后边字符之间没有内容";
        return {};
    }
    auto front = platform::regexFirst(cutPiecePattern(rule.front), platform::kExtractionOptions, page);
    if (front.error) return "前边字符的规则出错：" + *front.error;
    if (!front.match) return "前边字符在页面中没有找到";
    auto whole = platform::regexFirst(CutPattern(rule.front, rule.back), platform::kExtractionOptions, page);
    if (whole.error) return "前后截取规则出错：" + *whole.error;
    if (!whole.match) return "后边字符在前边字符之后没有找到";
    if (whole.match->named("content").empty()) return "前边字符与后边字符之间没有内容";
    return {};
}

std::string explainRegex(const FieldRule& rule, const std::string& page) {
    if (rule.pattern.empty()) return "正则规则为空";
    std::string pattern = rule.pattern;
    if (!rule.output.empty())
        pattern = FillsByNumber(rule.pattern, rule.output) ? RawPattern(rule.pattern) : ParameterPattern(rule.pattern);
    auto compiled = platform::Regex::compile(pattern, platform::kExtractionOptions);
    if (!compiled) return "正则规则有错误：" + compiled.error;
    auto found = compiled.regex->first(page);
    if (found.error) return "正则匹配出错：" + *found.error;
    if (!found.match) return "正则规则在页面中没有匹配到内容";
    return {};
}

}  // namespace

std::string ExplainEmptyField(const FieldRule& rule, PageSource& pages, const FieldValueList& values,
                              const ExtractEnv& env) {
    if (rule.madeUp) return "自定义字符串的结果为空";
    std::string page;
    if (rule.checkMorepage) {
        if (rule.morepageIndex.empty()) return "勾选了多级页面获取，但没有选择多级页面";
        const auto& level = pages.level(rule.morepageIndex);
        if (level.whole.empty() && level.pages.empty())
            return "多级页面[" + rule.morepageIndex + "]没有取到内容（请在“多页提取”中测试该页面）";
        page = level.pages.empty() ? level.whole : level.pages.front();
    } else {
        const auto& top = pages.top();
        if (top.pages.empty()) return "内容页没有取到内容";
        page = top.pages.front();
    }
    std::string reason;
    if (rule.byFrontBack)
        reason = explainFrontBack(rule, page);
    else if (rule.byRegex)
        reason = explainRegex(rule, page);
    if (!reason.empty()) return reason;

    // The cut found something: a post-processing step must have emptied it.
    if (!rule.txtStrips.empty()) {
        FieldRule bare = rule;
        bare.txtStrips.clear();
        const FieldOutcome raw = extractField(rule.title, bare, {}, values, pages, env);
        if (!raw.value.empty()) {
            std::string value = raw.value;
            const auto chainEnv = CurrentChainEnv();
            for (std::size_t i = 0; i < rule.txtStrips.size(); ++i) {
                value = RunPostRules(value, {rule.txtStrips[i]}, pages.list(), values, *chainEnv);
                if (TrimText(value).empty()) {
                    auto step = ParseRuleJson(rule.txtStrips[i]);
                    const std::string type = step ? RuleText(*step, "type") : std::string();
                    return "内容处理第" + std::to_string(i + 1) + "步（" + type + "）把内容变成了空值";
                }
            }
            return "内容处理把内容变成了空值";
        }
    }
    return "提取结果为空";
}

}  // namespace tarvex::engine

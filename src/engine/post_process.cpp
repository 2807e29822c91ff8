#include "engine/post_process.h"

#include <mutex>

#include "engine/html_utils.h"
#include "engine/rule_json.h"
#include "engine/word_libraries.h"
#include "platform/run_log.h"

namespace tarvex::engine {
namespace {

using platform::WriteLog;
constexpr int kDetail = 1;

std::mutex gEnvLock;
std::shared_ptr<const ChainEnv>& envSlot() {
    static std::shared_ptr<const ChainEnv> env = std::make_shared<const ChainEnv>();
    return env;
}

// The rule types that announce themselves in the log before they run ("正则提取" logs its own
// start, "JavaScript插件" does nothing).
bool announced(const std::string& type) {
    static const char* const kTypes[] = {
        "替换",         "html过滤",     "字符截取",         "内容前后追加",     "空内容默认值",
        "随机插入文本", "特殊字符转化", "时间转化",         "关键词分词",       "自定义词库分词",
        "同义词替换",   "关键词内链",   "内容为空再次提取", "内容非空结束处理", "内容为空结束处理",
        "访问网页",     "DLL插件"};
    for (const char* t : kTypes)
        if (type == t) return true;
    return false;
}

// A key the editor always writes, read with the editor's default when an older or hand-made
// rule lacks it.
std::string textOr(const RuleJson& rule, const std::string& key, const char* fallback) {
    return RuleHas(rule, key) ? RuleText(rule, key) : std::string(fallback);
}

// A tag count; nullopt (logged) when it is not an integer.
std::optional<long long> tagCount(const RuleJson& rule, const std::string& key, const std::string& type) {
    const std::string text = textOr(rule, key, "5");
    auto n = ParseRuleCount(text);
    if (!n) WriteLog("Result_AddFunc|" + type + "最大个数不是整数，内容不变：" + text, 0);
    return n;
}

}  // namespace

std::string TrimWhiteSpaceRule() {
    RuleJson rule = RuleJson::object();
    rule["type"] = "html过滤";
    rule["html_strip_nums"] = "21,";
    return rule.dump(-1, ' ', false, RuleJson::error_handler_t::replace);
}

void SetChainEnv(ChainEnv env) {
    auto next = std::make_shared<const ChainEnv>(std::move(env));
    std::lock_guard lock(gEnvLock);
    envSlot() = std::move(next);
}

std::shared_ptr<const ChainEnv> CurrentChainEnv() {
    std::lock_guard lock(gEnvLock);
    return envSlot();
}

std::string applyPostRules(std::string_view value, std::string_view ruleJson, const PageList& pages,
                           const FieldValueList& values) {
    auto env = CurrentChainEnv();
    return applyPostRules(value, ruleJson, pages, values, *env);
}

std::string applyPostRules(std::string_view value, std::string_view ruleJson, const PageList& pages,
                           const FieldValueList& values, const ChainEnv& env) {
    auto rule = ParseRuleJson(ruleJson);
    if (!rule) return std::string(value);
    return RunPostRules(value, RuleTextArray(*rule, "txt_strips"), pages, values, env);
}

std::string RunPostRules(std::string_view value, const std::vector<std::string>& txtStrips, const PageList& pages,
                         const FieldValueList& values, const ChainEnv& env) {
    std::string v(value);
    RandomSource& random = env.random ? *env.random : DefaultRandom();
    for (std::size_t i = 0; i < txtStrips.size(); ++i) {
        WriteLog("Result_AddFunc|开始替换与过滤HTML 第" + std::to_string(i) + "条规则", kDetail);
        auto parsed = ParseRuleJson(txtStrips[i]);
        if (!parsed) {
            WriteLog("Result_AddFunc|第" + std::to_string(i) + "条规则不是JSON对象，跳过", 0);
            continue;
        }
        const RuleJson& rule = *parsed;
        const std::string type = RuleText(rule, "type");
        if (announced(type)) WriteLog("Result_AddFunc|=======" + type + "========", kDetail);

        if (type == "替换") {
            v = ReplaceRule(v, rule, values);
        } else if (type == "html过滤") {
            // The editor writes every number followed by ",".
            const std::string numbers = RemoveSuffix(",", RuleText(rule, "html_strip_nums"));
            WriteLog("GetResult| html_strip_nums：" + numbers, kDetail);
            v = HtmlFilter(numbers, v);
            WriteLog("Result_AddFunc|html过滤结束", kDetail);
        } else if (type == "正则提取") {
            v = regexExtract(rule, v);
        } else if (type == "字符截取") {
            v = CutRule(v, rule);
        } else if (type == "内容前后追加") {
            v = RuleText(rule, "rep1") + v + RuleText(rule, "rep2");
        } else if (type == "空内容默认值") {
            if (v.empty()) v = RuleText(rule, "rep1");
        } else if (type == "随机插入文本") {
            v = InsertRandomText(v, RuleText(rule, "filepath"), textOr(rule, "getnum", "1"), RuleText(rule, "check1"),
                                 env.programFolder, random);
        } else if (type == "特殊字符转化") {
            if (RuleFlag(rule, "check1")) v = UnicodeUnescape(v);
            if (RuleFlag(rule, "check2")) v = ToSimplified(v);
            if (RuleFlag(rule, "check3")) v = ToTraditional(v);
        } else if (type == "时间转化") {
            v = convertTime(v, rule);
        } else if (type == "关键词分词") {
            auto most = tagCount(rule, "rep2", type);
            if (!most) continue;
            std::shared_ptr<const KeywordList> list;
            if (env.dictionary) {
                list = env.dictionary->list();
                // The runner loads the dictionary before a run; single pages and tools that
                // run a chain on their own load it here on first use.
                if (list->empty() && !env.programFolder.empty()) {
                    env.dictionary->ensureLoaded(env.programFolder);
                    list = env.dictionary->list();
                }
            }
            v = list ? KeywordTags(v, textOr(rule, "rep1", ","), *most, *list) : std::string();
        } else if (type == "自定义词库分词") {
            auto most = tagCount(rule, "rep3", type);
            if (!most) continue;
            v = DictTags(v, RuleText(rule, "rep1"), textOr(rule, "rep2", ","), *most, env.programFolder);
        } else if (type == "同义词替换") {
            v = SynonymReplace(v, RuleText(rule, "rep1"), RuleText(rule, "rep2"), env.programFolder);
        } else if (type == "关键词内链") {
            v = KeywordLinks(v, RuleText(rule, "rep1"), textOr(rule, "rep2", "5"), textOr(rule, "rep3", "5"),
                             env.programFolder);
        } else if (type == "内容为空再次提取") {
            if (v.empty()) {
                auto again = extractAgain(TopPageEntry(pages), rule);
                if (again) v = std::move(*again);
            }
        } else if (type == "内容非空结束处理") {
            if (!v.empty()) break;
        } else if (type == "内容为空结束处理") {
            if (v.empty()) break;
        } else if (type == "访问网页") {
            v = FetchRule(v, env.fetch);
        }
        // "DLL插件" runs after the value is stored (applyPlugins); "JavaScript插件" is kept in
        // the rule without effect; other types are skipped.
    }
    WriteLog("GetResult|开始替换与过滤HTML完全结束", kDetail);
    return v;
}

}  // namespace tarvex::engine

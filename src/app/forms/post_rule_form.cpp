#include "app/forms/post_rule_form.h"

#include <algorithm>

#include "app/tasks/settings_document.h"
#include "engine/post_rules.h"
#include "engine/rule_json.h"
#include "engine/word_libraries.h"

namespace tarvex::app {

namespace {

using K = RuleInputKind;

RuleInput input(std::string key, K kind, std::string caption, std::string initial = {}) {
    RuleInput in;
    in.key = std::move(key);
    in.kind = kind;
    in.caption = std::move(caption);
    in.initial = std::move(initial);
    return in;
}

RuleInput check(std::string key, std::string caption) {
    return input(std::move(key), K::Check, std::move(caption), "0");
}

RuleInput choice(std::string key, std::string caption, std::vector<std::string> choices) {
    RuleInput in = input(std::move(key), K::Choice, std::move(caption), "0");
    in.choices = std::move(choices);
    return in;
}

std::vector<RulePage> buildPages() {
    RuleInput timeFormat = input("rep1", K::Line, "时间格式：", "{dd:日期yyyy-mm-dd hh:nn:ss}");
    timeFormat.resetButton = true;
    return {
        {"替换",
         "内容替换",
         "",
         "",
         {input("rep1", K::Template, "替换前："), input("rep2", K::Template, "替换后："),
          check("check1", "不区分大小写"), check("check2", "纯正则替换")}},
        {"html过滤", "Html过滤", "", "", {input("html_strip_nums", K::HtmlFilter, "过滤：")}},
        {"正则提取",
         "正则提取",
         "",
         "",
         {input("rep1", K::Template, "提取前："), input("rep2", K::Template, "提取后："),
          check("repeat_check", "重复提取"), input("rep_join_string", K::Line, "连接符："),
          input("rep_begin_string", K::Line, "项首："), input("rep_end_string", K::Line, "项尾："),
          input("rep_max_num", K::Line, "最大数：", "0")}},
        {"字符截取",
         "字符截取",
         "",
         "",
         {input("rep1", K::Template, "前边字符："), input("rep2", K::Template, "后边字符："),
          check("rep3", "包含截取符"), check("check2", "无匹配字符,当前内容为空")}},
        {"内容前后追加",
         "内容前后追加",
         "",
         "",
         {input("rep1", K::Text, "内容前边追加："), input("rep2", K::Text, "内容末尾追加：")}},
        {"空内容默认值", "空内容默认值", "", "", {input("rep1", K::Text, "内容默认值：")}},
        {"随机插入文本",
         "随机插入文本",
         "",
         "",
         {input("filepath", K::File, "文本文件："), input("getnum", K::Line, "插入行数：", "1"),
          choice("check1", "插入位置：", {"最前面", "最后面", "随机", "随机br,p结束标签后"})}},
        {"特殊字符转化",
         "特殊字符转化",
         "",
         "",
         {check("check1", "Unicode转汉字"), check("check2", "繁体转简体"), check("check3", "简体转繁体")}},
        {"时间转化",
         "时间转化",
         "高级功能",
         "",
         {timeFormat, choice("check1", "转换方式：", {"Unix时间戳转北京时间", "北京时间转unix时间戳"})}},
        {"关键词分词",
         "关键词分词",
         "高级功能",
         "",
         {input("rep1", K::Line, "连接符：", ","), input("rep2", K::Line, "提取最大个数：", "5")}},
        {"自定义词库分词",
         "自定义词库分词",
         "高级功能",
         engine::kDiyDictFolder,
         {input("rep1", K::WordList, "指定关键词词库："), input("rep2", K::Line, "连接符：", ","),
          input("rep3", K::Line, "提取最大个数：", "5")}},
        {"同义词替换",
         "同义词替换",
         "高级功能",
         engine::kSynonymFolder,
         {input("rep1", K::WordList, "指定同义词词库："), input("rep2", K::Line, "替换最大词数：", "0")}},
        {"关键词内链",
         "关键词内链",
         "高级功能",
         engine::kKeyUrlFolder,
         {input("rep1", K::WordList, "指定关键词词库："), input("rep2", K::Line, "关键词最大数：", "5"),
          input("rep3", K::Line, "单词最大替换次数", "5")}},
        {"内容为空再次提取",
         "内容为空再次提取",
         "高级功能",
         "",
         {input("rep1", K::Template, "前边字符："), input("rep2", K::Template, "后边字符:"),
          check("check1", "使用正则"), check("check2", "重复提取")}},
        {"内容非空结束处理", "内容非空结束处理", "高级功能", "", {}},
        {"内容为空结束处理", "内容为空结束处理", "高级功能", "", {}},
        {"访问网页", "访问网页", "高级功能", "", {}},
        {"DLL插件", "DLL插件", "扩展插件", "", {input("rep1", K::Line, "附件名：")}},
        {"JavaScript插件", "JavaScript脚本", "扩展插件", "", {input("rep1", K::Line, "附件名：")}},
    };
}

}  // namespace

const std::vector<RulePage>& RulePages() {
    static const std::vector<RulePage> pages = buildPages();
    return pages;
}

const RulePage* RulePageOf(const std::string& type) {
    for (const auto& page : RulePages())
        if (page.type == type) return &page;
    return nullptr;
}

const std::vector<std::string>& HtmlFilterCaptions() {
    static const std::vector<std::string> captions = {
        "链接A",     "表格table",  "表格行tr",   "表格td",     "段落P",     "表格Font",   "层Div",       "span",
        "图像Img",   "JS <script", "加粗b",      "加粗strong", "换行<br>",  "空格&nbsp;", "标题<h1-7",   "<hr>",
        "表单<form", "框架<fram",  "列表<ul<li", "换行\\r\\n", "<dl,dt,dd", "删首尾空白", "上下标<sub ", "所有<",
    };
    return captions;
}

std::string RuleLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string EditorLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out.push_back('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

PostRuleForm PostRuleForm::blank(const std::string& type) {
    PostRuleForm form;
    form.type = type;
    if (const RulePage* page = RulePageOf(type))
        for (const auto& in : page->inputs) form.values.emplace_back(in.key, in.initial);
    return form;
}

std::optional<PostRuleForm> PostRuleForm::fromJson(const std::string& text) {
    auto rule = engine::ParseRuleJson(text);
    if (!rule) return std::nullopt;
    PostRuleForm form = blank(engine::RuleText(*rule, "type"));
    const RulePage* page = RulePageOf(form.type);
    if (!page) return form;
    for (const auto& in : page->inputs) {
        if (!engine::RuleHas(*rule, in.key)) continue;
        std::string value = engine::RuleText(*rule, in.key);
        // A check box shows any "on" text as ticked and is written back as "-1".
        if (in.kind == RuleInputKind::Check) value = FlagText(engine::FlagText(value));
        form.set(in.key, value);
    }
    return form;
}

std::string PostRuleForm::toJson() const {
    SettingsJson rule = SettingsJson::object();
    rule["type"] = type;
    const RulePage* page = RulePageOf(type);
    for (const auto& [key, value] : values) {
        bool severalLines = false;
        if (page)
            for (const auto& in : page->inputs)
                if (in.key == key) severalLines = in.kind == RuleInputKind::Template || in.kind == RuleInputKind::Text;
        rule[key] = severalLines ? RuleLineBreaks(value) : value;
    }
    engine::NormalizePostRuleForSave(rule);
    return DumpJson(rule);
}

std::string PostRuleForm::value(const std::string& key) const {
    for (const auto& [k, v] : values)
        if (k == key) return v;
    return {};
}

void PostRuleForm::set(const std::string& key, const std::string& value) {
    for (auto& [k, v] : values)
        if (k == key) {
            v = value;
            return;
        }
}

std::vector<PostRuleList::Row> PostRuleList::rows() const {
    std::vector<Row> out;
    for (std::size_t i = 0; i < m_rules.size(); ++i) {
        auto rule = engine::ParseRuleJson(m_rules[i]);
        out.push_back({std::to_string(i + 1), rule ? engine::RuleText(*rule, "type") : "", m_rules[i]});
    }
    return out;
}

void PostRuleList::create(const std::string& type) {
    m_page = PostRuleForm::blank(type);
    m_selected = -1;
}

bool PostRuleList::select(int index) {
    if (index < 0 || index >= static_cast<int>(m_rules.size())) return false;
    m_selected = index;
    auto form = PostRuleForm::fromJson(m_rules[static_cast<std::size_t>(index)]);
    // A row the editor has no page for can still be moved or deleted, but not edited.
    if (form && RulePageOf(form->type))
        m_page = std::move(*form);
    else
        m_page.reset();
    return m_page.has_value();
}

std::optional<std::string> PostRuleList::commit(const std::string& programFolder) {
    if (!m_page) return std::nullopt;
    const std::string text = m_page->toJson();
    if (auto refusal = engine::CheckPostRule(*engine::ParseRuleJson(text), programFolder)) return refusal;
    if (m_selected >= 0 && m_selected < static_cast<int>(m_rules.size())) {
        m_rules[static_cast<std::size_t>(m_selected)] = text;
    } else {
        m_rules.push_back(text);
        m_selected = static_cast<int>(m_rules.size()) - 1;
    }
    return std::nullopt;
}

bool PostRuleList::remove() {
    if (m_selected < 0 || m_selected >= static_cast<int>(m_rules.size())) return false;
    m_rules.erase(m_rules.begin() + m_selected);
    m_selected = -1;
    m_page.reset();
    return true;
}

bool PostRuleList::move(int delta) {
    if (m_selected < 0 || m_selected >= static_cast<int>(m_rules.size())) return false;
    const int target = m_selected + delta;
    if (target < 0 || target >= static_cast<int>(m_rules.size())) return false;
    std::swap(m_rules[static_cast<std::size_t>(m_selected)], m_rules[static_cast<std::size_t>(target)]);
    m_selected = target;
    return true;
}

}  // namespace tarvex::app

#include "app/forms/multi_level_form.h"

#include <nlohmann/json.hpp>

#include "app/tasks/settings_document.h"
#include "collect/multi_level.h"
#include "engine/page_list.h"
#include "engine/template_lang.h"

namespace tarvex::app {

namespace {

using Json = nlohmann::ordered_json;

std::string lowerAscii(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool blank(const std::string& s) {
    return s.find_first_not_of(" \t\r\n") == std::string::npos;
}

// How much of a level's text the test shows.
constexpr std::size_t kTestTextBytes = 4000;

}  // namespace

LevelForm LevelForm::fromJson(const std::string& text) {
    LevelForm f;
    auto parsed = ParseSettings(text);
    if (!parsed) return f;
    const SettingsJson& j = *parsed;
    f.title = SettingText(j, "title");
    if (!SettingText(j, "fatherurl").empty()) f.parent = SettingText(j, "fatherurl");
    f.fromText = SettingFlag(j, "radio_1") || !SettingFlag(j, "radio_2");
    f.byPattern = SettingFlag(j, "radio_1_check");
    f.begin = SettingText(j, "radio_1_begin");
    f.end = SettingText(j, "radio_1_end");
    f.find = SettingText(j, "radio_2_url1");
    f.replace = SettingText(j, "radio_2_url2");
    f.testUrl = SettingText(j, "testurl");
    f.hasPages = SettingFlag(j, "check_mulpage");
    f.pagerBegin = SettingText(j, "Mul_begin");
    f.pagerEnd = SettingText(j, "Mul_end");
    f.include = SettingText(j, "Mul_include");
    f.exclude = SettingText(j, "Mul_exclude");
    return f;
}

std::string LevelForm::toJson() const {
    Json j = Json::object();
    j["title"] = title;
    j["fatherurl"] = parent;
    j["radio_1"] = FlagText(fromText);
    j["radio_2"] = FlagText(!fromText);
    j["radio_1_check"] = FlagText(byPattern);
    j["radio_1_begin"] = begin;
    j["radio_1_end"] = end;
    j["radio_2_url1"] = find;
    j["radio_2_url2"] = replace;
    j["testurl"] = testUrl;
    j["check_mulpage"] = FlagText(hasPages);
    j["Mul_begin"] = pagerBegin;
    j["Mul_end"] = pagerEnd;
    j["Mul_include"] = include;
    j["Mul_exclude"] = exclude;
    return DumpJson(j);
}

std::optional<std::string> LevelForm::validate() const {
    if (blank(title)) return "标题不能为空";
    if (fromText) {
        if (begin.empty()) return "前边字符不能为空";
        if (end.empty()) return "后边字符不能为空";
        if (byPattern && begin.find(engine::kFirstParameter) == std::string::npos)
            return "正则前后截取必须包含“{参数1}”";
    } else if (find.empty()) {
        // Replacing nothing would make the level the parent page itself.
        return "网址中要替换的内容不能为空";
    }
    if (hasPages && (pagerBegin.empty() || pagerEnd.empty())) return "您已设置分页按扭打勾，但是前后匹配内容没有设置";
    return std::nullopt;
}

MultiLevelForm MultiLevelForm::fromJson(const std::string& morepage2) {
    MultiLevelForm form;
    for (const auto& text : collect::LevelTexts(morepage2))
        if (ParseSettings(text)) form.m_levels.push_back(LevelForm::fromJson(text));
    return form;
}

std::string MultiLevelForm::toJson() const {
    if (m_levels.empty()) return {};
    Json all = Json::array();
    for (const auto& level : m_levels) all.push_back(level.toJson());
    Json doc = Json::object();
    doc["MorePageAll"] = all;
    return DumpJson(doc);
}

std::vector<std::string> MultiLevelForm::parentChoices(int index) const {
    std::vector<std::string> out{collect::kTopLevelParent};
    for (std::size_t i = 0; i < m_levels.size(); ++i)
        if (static_cast<int>(i) != index) out.push_back(m_levels[i].title);
    return out;
}

std::optional<std::string> MultiLevelForm::saveLevel(int index, const LevelForm& level) {
    if (index >= static_cast<int>(m_levels.size())) index = -1;
    LevelForm saved = level;
    saved.title = TrimText(saved.title);
    if (auto refusal = saved.validate()) return refusal;
    const std::string key = lowerAscii(saved.title);
    if (key == lowerAscii(collect::kTopLevelParent)) return "标题不能与现有的重复！";
    for (std::size_t i = 0; i < m_levels.size(); ++i)
        if (static_cast<int>(i) != index && lowerAscii(m_levels[i].title) == key) return "标题不能与现有的重复！";
    if (lowerAscii(saved.parent) == key) return "上级页面不能是自己";
    if (index < 0) {
        m_levels.push_back(saved);
        m_changed = true;
        return std::nullopt;
    }
    LevelForm& old = m_levels[static_cast<std::size_t>(index)];
    if (old == saved) return std::nullopt;
    if (old.title != saved.title)
        for (auto& child : m_levels)
            if (lowerAscii(child.parent) == lowerAscii(old.title)) child.parent = saved.title;
    old = saved;
    m_changed = true;
    return std::nullopt;
}

std::optional<std::string> MultiLevelForm::removeLevel(int index) {
    if (index < 0 || index >= static_cast<int>(m_levels.size())) return std::nullopt;
    const std::string key = lowerAscii(m_levels[static_cast<std::size_t>(index)].title);
    for (const auto& other : m_levels)
        if (lowerAscii(other.parent) == key) return "当前删除的类目下有子页面<" + other.title + ">，无法删除！";
    m_levels.erase(m_levels.begin() + index);
    m_changed = true;
    return std::nullopt;
}

std::optional<std::string> MultiLevelForm::finish() const {
    if (!m_changed) return "没有新建或修改多页，无需保存！";
    return std::nullopt;
}

LevelTestResult TestLevel(const std::vector<LevelForm>& before, const LevelForm& level, const std::string& testUrl,
                          const std::string& options, const TestFetch& fetch) {
    LevelTestResult out;
    if (blank(testUrl)) {
        out.error = "请输入测试网址";
        return out;
    }
    const std::string url = TrimText(testUrl);
    std::string first = fetch(url, options);
    if (first.compare(0, 5, "succ:") != 0) {
        out.error = "抓取网页失败：" + first.substr(first.compare(0, 5, "fail:") == 0 ? 5 : 0);
        return out;
    }
    Json chain = Json::array();
    for (const auto& l : before) chain.push_back(l.toJson());
    chain.push_back(level.toJson());
    Json morepage2 = Json::object();
    morepage2["MorePageAll"] = chain;
    collect::PageFollow follow;
    follow.fetch = fetch;
    auto lines =
        collect::collectLevelPages(url, "<tarvex>" + first.substr(5) + "</tarvex>", morepage2.dump(), options, follow);
    if (lines.empty()) {
        out.error = "多页规则无法读取";
        return out;
    }
    const std::string& line = lines.back();
    const std::size_t eq = line.find('=');
    const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    const std::size_t sep = value.find(engine::kLevelSeparator);
    out.address = value.substr(0, sep);
    if (sep != std::string::npos) out.text = engine::MarkersToLines(value.substr(sep + engine::kLevelSeparator.size()));
    if (out.text.size() > kTestTextBytes) {
        std::size_t cut = kTestTextBytes;
        while (cut > 0 && (static_cast<unsigned char>(out.text[cut]) & 0xC0) == 0x80) --cut;
        out.text = out.text.substr(0, cut) + "…";
    }
    return out;
}

}  // namespace tarvex::app

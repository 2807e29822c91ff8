#include "app/forms/field_editor_form.h"
#include "engine/post_process.h"

#include <algorithm>

#include "app/forms/list_settings_form.h"
#include "app/tasks/settings_document.h"
#include "engine/article_extract.h"
#include "engine/field_rule.h"
#include "engine/text_tokens.h"
#include "platform/utf8.h"

namespace tarvex::app {

namespace {

using engine::FieldRuleJson;
using engine::JsonFlag;
using engine::JsonText;
using engine::JsonTextArray;

std::string at(const std::vector<std::string>& list, std::size_t i, const std::string& fallback) {
    return i < list.size() ? list[i] : fallback;
}

// A text key, or `fallback` when the rule does not have it.
std::string textOr(const FieldRuleJson& rule, const char* key, const std::string& fallback) {
    return rule.contains(key) && !rule[key].is_null() ? JsonText(rule, key) : fallback;
}

// Text from a several-line template box as rules store it: trimmed, line breaks as CR LF.
std::string templateText(const std::string& text) {
    return RuleLineBreaks(engine::TrimText(text));
}

std::vector<std::string> titlesOf(const std::vector<std::string>& ruleTexts) {
    std::vector<std::string> out;
    for (const auto& text : ruleTexts) {
        auto rule = ParseSettings(text);
        out.push_back(rule ? SettingText(*rule, "title") : "");
    }
    return out;
}

std::vector<std::string> fieldRuleTexts(const SettingsJson& doc) {
    std::vector<std::string> out;
    auto it = doc.find("fieldsAll");
    if (it == doc.end() || !it->is_array()) return out;
    for (const auto& e : *it) out.push_back(e.is_string() ? e.get<std::string>() : e.dump());
    return out;
}

SettingsJson settingsOf(const std::string& settingsJson) {
    return ParseSettings(settingsJson).value_or(SettingsJson::object());
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string normal = EditorLineBreaks(text);
    std::size_t from = 0;
    for (std::size_t lf = normal.find('\n'); lf != std::string::npos; lf = normal.find('\n', from)) {
        lines.push_back(normal.substr(from, lf - from));
        from = lf + 1;
    }
    lines.push_back(normal.substr(from));
    return lines;
}

}  // namespace

std::optional<FieldEditorForm> FieldEditorForm::fromJson(const std::string& ruleJson,
                                                         const std::vector<std::string>& levels) {
    FieldEditorForm f;
    if (engine::TrimText(ruleJson).empty()) {
        // A new field strips the white space around its value; the rule shows in the list and
        // can be deleted there.
        f.rules = PostRuleList({engine::TrimWhiteSpaceRule()});
        return f;
    }
    auto parsed = ParseSettings(ruleJson);
    if (!parsed) return std::nullopt;
    const FieldRuleJson& r = *parsed;
    const FieldEditorForm d;  // the new-field defaults

    f.name = JsonText(r, "title");
    f.notEmpty = JsonFlag(r, "check_null");
    f.everyPage = JsonFlag(r, "check_mulpage");
    f.fromLevel = JsonFlag(r, "check_morepage");
    // A new task's rules hold the number -1 here: no page chosen.
    const std::string level = r.contains("check_morepageindex") && r["check_morepageindex"].is_string()
                                  ? r["check_morepageindex"].get<std::string>()
                                  : std::string();
    if (std::find(levels.begin(), levels.end(), level) != levels.end()) f.level = level;
    f.repeat = JsonFlag(r, "check_repeat");
    if (JsonFlag(r, "radio_4"))
        f.method = FieldMethod::Smart;
    else if (JsonFlag(r, "radio_3"))
        f.method = FieldMethod::MadeUp;
    else if (JsonFlag(r, "radio_2"))
        f.method = FieldMethod::Regex;
    else
        f.method = FieldMethod::FrontBack;
    auto cut = JsonTextArray(r, "radio_1_content");
    f.front = at(cut, 0, "");
    f.back = at(cut, 1, "");
    auto regex = JsonTextArray(r, "radio_2_content");
    f.pattern = at(regex, 0, "");
    f.output = at(regex, 1, "");
    if (JsonFlag(r, "radio_3_content_Radio1"))
        f.madeUp = MadeUpKind::FixedText;
    else if (JsonFlag(r, "radio_3_content_Radio2"))
        f.madeUp = MadeUpKind::RandomLine;
    else if (JsonFlag(r, "radio_3_content_Radio3"))
        f.madeUp = MadeUpKind::RandomNumber;
    f.madeUpText = JsonText(r, "radio_3_content_richtext1");
    f.minText = textOr(r, "radio_3_content_min", d.minText);
    f.maxText = textOr(r, "radio_3_content_max", d.maxText);
    f.smartPart = engine::ArticlePartText(engine::ArticlePartFromText(JsonText(r, "radio_4_content")));
    f.rules = PostRuleList(JsonTextArray(r, "txt_strips"));

    auto save = JsonTextArray(r, "file_save");
    f.downloadImages = engine::FlagOn(at(save, 0, "0"));
    f.fileName = at(save, 1, d.fileName);
    const auto choice = engine::ParseInteger(at(save, 2, std::to_string(d.prefixChoice)));
    f.prefixChoice = choice && *choice >= -1 && *choice <= 3 ? static_cast<int>(*choice) : d.prefixChoice;
    if (f.prefixChoice == -1) f.prefixText = JsonText(r, "file_save_diy");
    f.downloadAttachment = save.size() == 4 && engine::FlagOn(save[3]);
    f.sendReferer = JsonFlag(r, "pic_referer_check");
    f.blankInPath = JsonFlag(r, "pic_blank_check");

    f.pictureMark = JsonFlag(r, "pic_waterpic_check");
    f.textMark = JsonFlag(r, "pic_waterstring_check");
    f.markFile = JsonText(r, "pic_water_filepath");
    f.markText = JsonText(r, "pic_water_string");
    f.transparency = textOr(r, "pic_transparent", d.transparency);
    f.quality = textOr(r, "pic_quality", d.quality);
    f.color = textOr(r, "pic_water_color", d.color);
    f.fontSize = textOr(r, "pic_water_fontsize", d.fontSize);
    f.thumbnail = JsonFlag(r, "pic_smallpic_check");
    f.thumbWidth = textOr(r, "pic_smallpic_width", d.thumbWidth);
    f.thumbHeight = textOr(r, "pic_smallpic_height", d.thumbHeight);
    f.thumbName = textOr(r, "pic_smallpic_newname", d.thumbName);
    f.methodTwo = JsonFlag(r, "pic_waterpictype_check");
    f.position = textOr(r, "pic_waterpic_origin", d.position);
    f.offsetX = textOr(r, "pic_waterpic_x", "5");
    f.offsetY = textOr(r, "pic_waterpic_y", "5");

    f.filterOn = JsonFlag(r, "filter_open_check");
    f.filterEmpty = JsonFlag(r, "filter_isempty_check");
    f.filterMin = JsonFlag(r, "filter_minnum_check");
    f.minLength = textOr(r, "filter_minnum_num", d.minLength);
    f.filterMax = JsonFlag(r, "filter_maxnum_check");
    f.maxLength = textOr(r, "filter_maxnum_num", d.maxLength);
    f.filterInclude = JsonFlag(r, "filter_include_check");
    f.includeWords = JsonText(r, "filter_include");
    f.filterExclude = JsonFlag(r, "filter_exclude_check");
    f.excludeWords = JsonText(r, "filter_exclude");
    f.filterImages = JsonFlag(r, "filter_maxpic_check");
    f.maxImages = textOr(r, "filter_maxpic_num", d.maxImages);
    f.neverAgain = JsonFlag(r, "filter_add_check");
    return f;
}

std::string FieldEditorForm::toJson() const {
    // Start from the new-field object so every key keeps its place in the order.
    FieldRuleJson r = engine::NewFieldRule(engine::NormalizeFieldName(name));
    r["check_null"] = FlagText(notEmpty);
    r["check_mulpage"] = FlagText(everyPage);
    r["check_morepage"] = FlagText(fromLevel);
    r["check_morepageindex"] = level;
    r["check_repeat"] = FlagText(repeat);
    r["radio_1"] = FlagText(method == FieldMethod::FrontBack);
    r["radio_2"] = FlagText(method == FieldMethod::Regex);
    r["radio_3"] = FlagText(method == FieldMethod::MadeUp);
    r["radio_1_content"] = {templateText(front), templateText(back)};
    r["radio_2_content"] = {templateText(pattern), templateText(output)};
    const std::string text = templateText(madeUpText);
    r["radio_3_content"] = {FlagText(madeUp == MadeUpKind::FixedText), text};
    r["radio_3_content_Radio1"] = FlagText(madeUp == MadeUpKind::FixedText);
    r["radio_3_content_Radio2"] = FlagText(madeUp == MadeUpKind::RandomLine);
    r["radio_3_content_Radio3"] = FlagText(madeUp == MadeUpKind::RandomNumber);
    r["radio_3_content_richtext1"] = text;
    r["radio_3_content_min"] = engine::TrimText(minText);
    r["radio_3_content_max"] = engine::TrimText(maxText);
    r["radio_4"] = FlagText(method == FieldMethod::Smart);
    r["radio_4_content"] = engine::ArticlePartText(engine::ArticlePartFromText(smartPart));
    r["txt_strips"] = rules.rules();

    r["file_save"] = {FlagText(downloadImages), fileName, std::to_string(prefixChoice), FlagText(downloadAttachment)};
    std::string diy = prefixText;
    if (!diy.empty() && diy.front() == '/') diy.erase(0, 1);
    if (!diy.empty() && diy.back() == '/') diy.pop_back();
    if (prefixChoice == -1 && !diy.empty())
        r["file_save_diy"] = diy;
    else
        r.erase("file_save_diy");
    r["pic_referer_check"] = FlagText(sendReferer);
    r["pic_blank_check"] = FlagText(blankInPath);

    r["pic_waterpic_check"] = FlagText(pictureMark);
    r["pic_waterstring_check"] = FlagText(textMark);
    r["pic_water_filepath"] = markFile;
    r["pic_water_string"] = markText;
    r["pic_transparent"] = engine::TrimText(transparency);
    r["pic_quality"] = engine::TrimText(quality);
    r["pic_water_color"] = engine::TrimText(color);
    r["pic_water_fontsize"] = engine::TrimText(fontSize);
    r["pic_smallpic_check"] = FlagText(thumbnail);
    r["pic_smallpic_width"] = engine::TrimText(thumbWidth);
    r["pic_smallpic_height"] = engine::TrimText(thumbHeight);
    r["pic_smallpic_newname"] = thumbName;
    r["pic_waterpictype_check"] = FlagText(methodTwo);
    r["pic_waterpic_origin"] = engine::TrimText(position);
    for (auto [key, value] : {std::pair{"pic_waterpic_x", &offsetX}, std::pair{"pic_waterpic_y", &offsetY}}) {
        const std::string v = engine::TrimText(*value);
        if (v.empty())
            r.erase(key);
        else
            r[key] = v;
    }

    r["filter_open_check"] = FlagText(filterOn);
    r["filter_isempty_check"] = FlagText(filterEmpty);
    r["filter_minnum_check"] = FlagText(filterMin);
    r["filter_minnum_num"] = engine::TrimText(minLength);
    r["filter_maxnum_check"] = FlagText(filterMax);
    r["filter_maxnum_num"] = engine::TrimText(maxLength);
    r["filter_include_check"] = FlagText(filterInclude);
    r["filter_include"] = includeWords;
    r["filter_exclude_check"] = FlagText(filterExclude);
    r["filter_exclude"] = excludeWords;
    r["filter_maxpic_check"] = FlagText(filterImages);
    r["filter_maxpic_num"] = engine::TrimText(maxImages);
    r["filter_add_check"] = FlagText(neverAgain);
    return DumpJson(r);
}

std::string NameBoxText(const std::string& typed) {
    std::string out;
    out.reserve(typed.size());
    for (std::size_t i = 0; i < typed.size(); ++i) {
        if (typed[i] == ' ') continue;
        if (typed.compare(i, 3, "\xE3\x80\x80") == 0) {  // U+3000 ideographic space
            i += 2;
            continue;
        }
        out.push_back(typed[i]);
    }
    return engine::TrimText(out);
}

std::vector<std::string> MultiLevelPageTitles(const std::string& settingsJson) {
    auto levels = ParseSettings(SettingText(settingsOf(settingsJson), "Morepage2"));
    if (!levels) return {};
    std::vector<std::string> titles;
    for (const auto& title : titlesOf(JsonTextArray(*levels, "MorePageAll")))
        if (!title.empty()) titles.push_back(title);
    return titles;
}

std::vector<std::string> TaskFieldNames(const std::string& settingsJson) {
    return titlesOf(fieldRuleTexts(settingsOf(settingsJson)));
}

std::vector<std::string> ListPageFieldNames(const std::string& settingsJson) {
    auto list = ParseSettings(SettingText(settingsOf(settingsJson), "Morepage"));
    if (!list) return {};
    std::vector<std::string> names;
    for (const auto& name : listFieldNames(SettingText(*list, "More_url_regex")))
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    return names;
}

const std::vector<std::string>& FileNameTokens() {
    static const std::vector<std::string> tokens = {
        "{dd:日期yyyymmdd}", "{dd:随机数[1,50]}", "{dd:原文件名}",     "{dd:MD5}",
        "{dd:随机字母12}",   "{dd:时间戳}",       "{dd:原文件扩展名}", "{dd:自增id}",
    };
    return tokens;
}

std::vector<std::string> FixedTextTokens(const std::string& settingsJson) {
    std::vector<std::string> tokens = {
        "{dd:日期yyyymmdd}", "{dd:日期yyyymmdd hhnnss}",
        "{dd:随机数[1,50]}", "{dd:MD5}",
        "{dd:随机字母12}",   "{dd:时间戳}",
        "{dd:时间戳2}",      "{DD:字段=XX}",
    };
    for (const auto& name : TaskFieldNames(settingsJson))
        if (!name.empty()) tokens.push_back("{DD:字段=" + name + "}");
    for (const auto& name : ListPageFieldNames(settingsJson)) tokens.push_back("{DD:字段=" + name + "}");
    return tokens;
}

FieldSaveResult SaveField(const FieldEditorForm& form, const std::string& settingsJson, int editingIndex) {
    const std::string json = form.toJson();
    engine::FieldSaveContext context;
    context.isNew = editingIndex < 0;
    auto names = TaskFieldNames(settingsJson);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (static_cast<int>(i) != editingIndex) context.otherFieldNames.push_back(names[i]);
    if (auto refusal = engine::CheckFieldRule(*ParseSettings(json), context)) return {std::nullopt, *refusal};
    return {json, {}};
}

std::string TestMadeUp(const FieldEditorForm& form, const platform::Clock& clock, engine::RandomSource& random) {
    std::string value;
    switch (form.madeUp) {
        case MadeUpKind::None:
            return "请选择一个[固定字符串,随机字符串,随机数]选项";
        case MadeUpKind::FixedText:
            value = engine::ExpandTokens(RuleLineBreaks(form.madeUpText), {}, clock, random);
            break;
        case MadeUpKind::RandomLine: {
            auto lines = splitLines(form.madeUpText);
            value = lines[static_cast<std::size_t>(random.uniform(0, static_cast<std::int64_t>(lines.size()) - 1))];
            break;
        }
        case MadeUpKind::RandomNumber: {
            auto lo = engine::ParseInteger(form.minText), hi = engine::ParseInteger(form.maxText);
            if (!lo || !hi) return "最小值与最大值不能为空！";
            if (*hi < *lo) return "最小值 不能大于 最大值";
            value = std::to_string(random.uniform(*lo, *hi));
            break;
        }
    }
    return "测试结果：" + engine::TrimText(value);
}

std::string PreviewFileName(const std::string& nameTemplate, const std::string& sampleAddress,
                            const platform::Clock& clock, engine::RandomSource& random) {
    const std::size_t slash = sampleAddress.rfind('/');
    const std::string fileName = slash == std::string::npos ? sampleAddress : sampleAddress.substr(slash + 1);
    std::string name = nameTemplate;
    platform::utf8::replaceAll(name, "{dd:原文件名}", fileName);
    platform::utf8::replaceAll(name, "{dd:自增id}", "1");
    return "新文件名如下：\r" + engine::ExpandTokens(name, sampleAddress, clock, random);
}

}  // namespace tarvex::app

#include "engine/field_rule.h"
#include "engine/rule_json.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include "platform/json_text.h"
#include "platform/utf8.h"

namespace tarvex::engine {

namespace {

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

std::string element(const std::vector<std::string>& list, std::size_t i) {
    return i < list.size() ? list[i] : "";
}

// A number box outside its range; a key the rule does not have is not checked.
bool outside(const FieldRuleJson& rule, const std::string& key, long long lo, long long hi) {
    if (!rule.is_object() || !rule.contains(key)) return false;
    auto n = ParseInteger(JsonText(rule, key));
    return !n || *n < lo || *n > hi;
}

}  // namespace

std::string JsonText(const FieldRuleJson& object, const std::string& key) {
    if (!object.is_object()) return {};
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return {};
    if (it->is_string()) return it->get<std::string>();
    return it->dump(-1, ' ', false, FieldRuleJson::error_handler_t::replace);
}

std::optional<long long> ParseInteger(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    long long n = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return n;
}

bool FlagOn(std::string_view text) {
    return FlagText(text);
}

bool JsonFlag(const FieldRuleJson& object, const std::string& key) {
    if (object.is_object()) {
        auto it = object.find(key);
        if (it != object.end() && it->is_boolean()) return it->get<bool>();
    }
    return FlagOn(JsonText(object, key));
}

std::vector<std::string> JsonTextArray(const FieldRuleJson& object, const std::string& key) {
    std::vector<std::string> out;
    if (!object.is_object()) return out;
    auto it = object.find(key);
    if (it == object.end() || !it->is_array()) return out;
    for (const auto& v : *it) {
        if (v.is_string())
            out.push_back(v.get<std::string>());
        else if (v.is_null())
            out.emplace_back();
        else
            out.push_back(v.dump(-1, ' ', false, FieldRuleJson::error_handler_t::replace));
    }
    return out;
}

std::string TrimText(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 0x20) ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 0x20) --e;
    return std::string(text.substr(b, e - b));
}

namespace {

FieldRule readRule(const FieldRuleJson& rule) {
    FieldRule r;
    r.title = JsonText(rule, "title");
    r.checkNull = JsonFlag(rule, "check_null");
    r.checkMulpage = JsonFlag(rule, "check_mulpage");
    r.checkMorepage = JsonFlag(rule, "check_morepage");
    r.morepageIndex = JsonText(rule, "check_morepageindex");
    std::string repeat = JsonText(rule, "check_repeat");
    r.repeat = !repeat.empty() && repeat != "0";
    r.byFrontBack = JsonFlag(rule, "radio_1");
    r.byRegex = JsonFlag(rule, "radio_2");
    r.madeUp = JsonFlag(rule, "radio_3");
    r.smart = JsonFlag(rule, "radio_4");
    r.smartPart = JsonText(rule, "radio_4_content");
    // 智能识别 decides when it is on (the editor then writes the other three off): extraction,
    // the save checks and the all-made-up test all read the one method.
    if (r.smart) r.byFrontBack = r.byRegex = r.madeUp = false;
    auto cut = JsonTextArray(rule, "radio_1_content");
    r.front = element(cut, 0);
    r.back = element(cut, 1);
    auto regex = JsonTextArray(rule, "radio_2_content");
    r.pattern = element(regex, 0);
    r.output = element(regex, 1);
    r.fixedText = JsonFlag(rule, "radio_3_content_Radio1");
    r.randomLine = JsonFlag(rule, "radio_3_content_Radio2");
    r.randomNumber = JsonFlag(rule, "radio_3_content_Radio3");
    r.madeUpText = JsonText(rule, "radio_3_content_richtext1");
    r.minText = JsonText(rule, "radio_3_content_min");
    r.maxText = JsonText(rule, "radio_3_content_max");
    r.txtStrips = JsonTextArray(rule, "txt_strips");
    r.json = rule;
    return r;
}

}  // namespace

FieldRule ReadFieldRule(const FieldRuleJson& rule) {
    FieldRule r = readRule(rule);
    r.text = rule.dump(-1, ' ', false, FieldRuleJson::error_handler_t::replace);
    return r;
}

std::optional<FieldRule> ParseFieldRule(std::string_view ruleJson) {
    FieldRuleJson j = platform::parseJson<FieldRuleJson>(ruleJson);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    FieldRule r = readRule(j);
    r.text = std::string(ruleJson);
    return r;
}

FieldRuleJson NewFieldRule(const std::string& title) {
    FieldRuleJson r = FieldRuleJson::object();
    r["title"] = title;
    r["check_null"] = "0";
    r["check_mulpage"] = "0";
    r["check_morepage"] = "0";
    r["check_morepageindex"] = "";
    r["check_repeat"] = "0";
    r["radio_1"] = "-1";
    r["radio_2"] = "0";
    r["radio_3"] = "0";
    r["radio_1_content"] = {"", ""};
    r["radio_2_content"] = {"", ""};
    r["radio_3_content"] = {"0", ""};
    r["radio_3_content_Radio1"] = "0";
    r["radio_3_content_Radio2"] = "0";
    r["radio_3_content_Radio3"] = "0";
    r["radio_3_content_richtext1"] = "";
    r["radio_3_content_min"] = "0";
    r["radio_3_content_max"] = "0";
    r["radio_4"] = "0";
    r["radio_4_content"] = "正文";
    r["txt_strips"] = FieldRuleJson::array();
    r["file_save"] = {"0", "/d/file/{dd:日期yyyymmdd}/{dd:MD5}.gif", "-1", "0"};
    r["file_save_diy"] = "请选择";
    r["pic_referer_check"] = "0";
    r["pic_blank_check"] = "0";
    r["pic_waterpic_check"] = "0";
    r["pic_waterstring_check"] = "0";
    r["pic_water_filepath"] = "";
    r["pic_water_string"] = "";
    r["pic_transparent"] = "70";
    r["pic_quality"] = "70";
    r["pic_water_color"] = "#000000";
    r["pic_water_fontsize"] = "20";
    r["pic_smallpic_check"] = "0";
    r["pic_smallpic_width"] = "70";
    r["pic_smallpic_height"] = "70";
    r["pic_smallpic_newname"] = "/d/file/{dd:日期yyyymmdd}/min_{dd:MD5}.gif";
    r["pic_waterpictype_check"] = "0";
    r["pic_waterpic_origin"] = "9";
    r["pic_waterpic_x"] = "0";
    r["pic_waterpic_y"] = "0";
    r["filter_open_check"] = "0";
    r["filter_isempty_check"] = "0";
    r["filter_minnum_check"] = "0";
    r["filter_minnum_num"] = "100";
    r["filter_maxnum_check"] = "0";
    r["filter_maxnum_num"] = "10000";
    r["filter_include_check"] = "0";
    r["filter_include"] = "";
    r["filter_exclude_check"] = "0";
    r["filter_exclude"] = "";
    r["filter_maxpic_check"] = "0";
    r["filter_maxpic_num"] = "6";
    r["filter_add_check"] = "0";
    return r;
}

std::string NormalizeFieldName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == ' ' || name[i] == ',') continue;
        if (name.substr(i, 3) == "\xE3\x80\x80") {  // U+3000 ideographic space
            i += 2;
            continue;
        }
        out.push_back(name[i]);
    }
    return TrimText(out);
}

bool IsFixedColumnName(std::string_view name) {
    const std::string l = platform::utf8::lowerAscii(name);
    return l == "id" || l == "url" || l == "geturl" || l == "getc" || l == "postc" || l.rfind("postc_", 0) == 0;
}

namespace {
// C0 controls, DEL, and the C1 controls U+0080–U+009F (C2 80 – C2 9F in UTF-8).
bool hasControlCharacter(std::string_view name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F) return true;
        if (c == 0xC2 && i + 1 < name.size()) {
            const auto n = static_cast<unsigned char>(name[i + 1]);
            if (n >= 0x80 && n <= 0x9F) return true;
        }
    }
    return false;
}

}  // namespace

std::string ShownFieldName(std::string_view name) {
    std::string out;
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out;
}

std::optional<std::string> FieldNameCharacterProblem(std::string_view name) {
    if (name.find('"') != std::string_view::npos) return "字段名称<" + ShownFieldName(name) + ">不能包含双引号";
    if (hasControlCharacter(name)) return "字段名称<" + ShownFieldName(name) + ">不能包含控制字符(如换行、制表符)";
    return std::nullopt;
}

std::optional<std::string> FieldNameRefusal(std::string_view name, const FieldSaveContext& context) {
    const std::string lower = platform::utf8::lowerAscii(name);
    if (lower == "url" || lower == "id") return "字段名称不能是url或id";
    // The content table already has these columns; a field of that name could never be stored.
    if (IsFixedColumnName(name))
        return "字段名称<" + std::string(name) +
               ">与数据库固定字段重名(id,url,geturl,getc,postc,postc_开头)，请修改字段名称后再保存";
    for (const auto& other : context.otherFieldNames) {
        if (platform::utf8::lowerAscii(NormalizeFieldName(other)) != lower) continue;
        return context.isNew ? "新建字段名称不能重复" : "修改字段的名称不能与其他字段重复！";
    }
    if (auto problem = FieldNameCharacterProblem(name)) return *problem + "，请修改字段名称后再保存";
    return std::nullopt;
}

std::optional<std::string> CheckFieldRule(const FieldRuleJson& rule, const FieldSaveContext& context) {
    FieldRule r = ReadFieldRule(rule);
    if (auto refusal = FieldNameRefusal(NormalizeFieldName(r.title), context)) return refusal;
    std::string front = TrimText(r.front), back = TrimText(r.back);
    std::string pattern = TrimText(r.pattern), output = TrimText(r.output);
    if (r.byFrontBack && (front.empty() || back.empty())) return "前边字符或后边字符不能为空";
    if (r.byRegex) {
        if (pattern.empty()) return "正则规则不能为空";
        if (!output.empty() && !contains(pattern, "{参数1}") && !contains(output, "{参数1}"))
            return "纯正则提取，合果结果必须包含“{参数1}”";
        for (const char* param : {"{参数1}", "{参数2}", "{参数3}"}) {
            std::size_t at = pattern.find(param);
            if (at != std::string::npos && at > 0 && !contains(output, param))
                return std::string("合果结果缺少“") + param + "”";
        }
    }
    if (r.madeUp) {
        if (!r.fixedText && !r.randomLine && !r.randomNumber) return "请选择一个[固定字符串,随机字符串,随机数]选项";
        if ((r.fixedText || r.randomLine) && TrimText(r.madeUpText).empty()) return "固定字符串不能为空";
        if (r.randomNumber && !r.fixedText && !r.randomLine) {
            if (TrimText(r.minText).empty() || TrimText(r.maxText).empty()) return "最小值与最大值不能为空！";
            auto lo = ParseInteger(r.minText), hi = ParseInteger(r.maxText);
            if (lo && hi && *hi < *lo) return "最小值 不能大于 最大值";
        }
    }
    if (r.checkMorepage && r.morepageIndex.empty()) return "并没有选择多页，请取消多级页面的按扭";
    if (outside(rule, "pic_transparent", 1, 100)) return "透明度设置在1-100之间";
    if (outside(rule, "pic_quality", 1, 100)) return "压缩质量设置在1-100之间";
    if (outside(rule, "pic_smallpic_width", 1, 500) || outside(rule, "pic_smallpic_height", 1, 500))
        return "缩略图大小在1-500之间";
    if (JsonFlag(rule, "filter_open_check")) {
        bool any = false;
        for (const char* key : {"filter_isempty_check", "filter_minnum_check", "filter_maxnum_check",
                                "filter_include_check", "filter_exclude_check", "filter_maxpic_check"})
            any = any || JsonFlag(rule, key);
        if (!any) return "您已开启过滤功能，至少选择一项功能";
    }
    if (JsonFlag(rule, "pic_smallpic_check") && TrimText(JsonText(rule, "pic_smallpic_newname")).empty())
        return "您已选择生成缩略图，但未设置新文件全名";
    auto fileSave = JsonTextArray(rule, "file_save");
    if (FlagOn(element(fileSave, 0)) && fileSave.size() == 4 && FlagOn(fileSave[3]))
        return "图片下载与附件下载(直接下载) 只能选择一项";
    return std::nullopt;
}

}  // namespace tarvex::engine

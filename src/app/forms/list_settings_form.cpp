#include "app/forms/list_settings_form.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

#include "app/tasks/settings_document.h"
#include "app/workspace/workspace.h"
#include "platform/json_text.h"
#include "platform/utf8.h"

namespace tarvex::app {

namespace {
using Json = nlohmann::ordered_json;

Json parse(const std::string& text) {
    auto j = platform::parseJson<Json>(text);
    return j.is_object() ? j : Json::object();
}

std::string str(const Json& j, const char* key, const std::string& fallback = "") {
    if (!j.contains(key)) return fallback;
    const auto& v = j[key];
    if (v.is_string()) return v.get<std::string>();
    if (v.is_null()) return fallback;
    return v.dump();
}

bool flag(const Json& j, const char* key) {
    return FlagOf(str(j, key));
}

bool isInteger(const std::string& s) {
    if (s.empty()) return false;
    std::size_t i = (s[0] == '-') ? 1 : 0;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}
}  // namespace

PaginationForm PaginationForm::fromJson(const std::string& text) {
    PaginationForm f;
    Json j = parse(text);
    f.begin = str(j, "Mul_begin");
    f.end = str(j, "Mul_end");
    f.include = str(j, "Mul_include");
    f.exclude = str(j, "Mul_exclude");
    f.maxPages = IntOf(str(j, "Mul_max", "0"));
    f.time = str(j, "Mul_time", "0");
    if (flag(j, "Mul_radio_2")) f.mode = 2;
    if (flag(j, "Mul_radio_3")) f.mode = 3;
    f.regex = str(j, "Mul_regex");
    f.rewriteFrom = str(j, "Mul_regex_begin");
    f.rewriteTo = str(j, "Mul_regex_end");
    return f;
}

std::string PaginationForm::toJson() const {
    Json j;
    j["Mul_begin"] = begin;
    j["Mul_end"] = end;
    j["Mul_include"] = include;
    j["Mul_exclude"] = exclude;
    j["Mul_max"] = maxPages;
    j["Mul_time"] = time;
    j["Mul_radio_1"] = FlagText(mode == 1);
    j["Mul_radio_2"] = FlagText(mode == 2);
    j["Mul_radio_3"] = FlagText(mode == 3);
    j["Mul_regex"] = regex;
    j["Mul_regex_begin"] = rewriteFrom;
    j["Mul_regex_end"] = rewriteTo;
    return DumpJson(j);
}

std::optional<std::string> PaginationForm::validate() const {
    if (begin.empty() || end.empty()) return "分页区间开始与结束不能为空";
    if (maxPages < 0) return "最大分页数不能小于0";
    if (!isInteger(time) || IntOf(time) < 0) return "间隔(ms)必须是不小于0的整数";
    return std::nullopt;
}

ListSettingsForm ListSettingsForm::fromJson(const std::string& text) {
    ListSettingsForm f;
    Json j = parse(text);
    f.begin = str(j, "More_begin");
    f.end = str(j, "More_end");
    f.rewriteFrom = str(j, "More_begin_regex1");
    f.rewriteTo = str(j, "More_begin_regex2");
    f.linkPattern = str(j, "More_url_regex");
    f.include = str(j, "More_include", j.empty() ? "html" : "");
    f.exclude = str(j, "More_exclude");
    f.noReferer = flag(j, "More_check_referer");
    f.readTimeout = str(j, "More_readtimeout", "20");
    f.uniqueTitles = flag(j, "More_check_repeat_title");
    f.sort = static_cast<int>(std::clamp(IntOf(str(j, "More_sort", "0")), 0LL, 2LL));
    f.pagination = str(j, "More_mulpage");
    if (j.contains("More_urls") && j["More_urls"].is_array())
        for (const auto& e : j["More_urls"])
            if (e.is_string()) f.sources.push_back(e.get<std::string>());
    return f;
}

std::string ListSettingsForm::toJson() const {
    Json j;
    j["More_begin"] = begin;
    j["More_end"] = end;
    j["More_begin_regex1"] = rewriteFrom;
    j["More_begin_regex2"] = rewriteTo;
    j["More_url_regex"] = linkPattern;
    j["More_include"] = include;
    j["More_exclude"] = exclude;
    j["More_check_referer"] = FlagText(noReferer);
    j["More_readtimeout"] = readTimeout;
    j["More_check_repeat_title"] = FlagText(uniqueTitles);
    j["More_sort"] = std::to_string(sort);
    j["More_mulpage"] = pagination;
    j["More_urls"] = sources;
    return DumpJson(j);
}

std::vector<std::string> listFieldNames(const std::string& pattern) {
    static const std::string open = "{DD:字段=";
    std::vector<std::string> names;
    std::size_t pos = 0;
    while ((pos = pattern.find(open, pos)) != std::string::npos) {
        std::size_t start = pos + open.size();
        std::size_t close = pattern.find_first_of("} ", start);
        if (close != std::string::npos && pattern[close] == '}') names.push_back(pattern.substr(start, close - start));
        pos = start;
    }
    return names;
}

std::optional<std::string> ListSettingsForm::validate(const std::vector<std::string>& contentFields) const {
    if (!isInteger(readTimeout) || IntOf(readTimeout) <= 0) return "超时时间必须是大于0的整数（秒）";
    std::set<std::string> seen;
    for (const auto& name : listFieldNames(linkPattern)) {
        if (platform::utf8::length(name) > 7) return "字段长度暂时仅支持7个字,以下字段名太长：" + name;
        if (!seen.insert(name).second) return "列表采集的内容字段{DD:字段=" + name + "}不能重复";
        if (std::find(contentFields.begin(), contentFields.end(), name) != contentFields.end())
            return "列表采集的内容字段{DD:字段=" + name + "}不能与内容页采集字段重复";
    }
    if (!pagination.empty()) {
        auto p = PaginationForm::fromJson(pagination);
        if (auto r = p.validate()) return *r;
    }
    return std::nullopt;
}

SourceEntry composeEntry(const std::string& tmpl, const std::string& first, const std::string& last,
                         const std::string& step) {
    if (tmpl.rfind("http", 0) != 0) return {std::nullopt, "网址应以HTTP开始"};
    if (tmpl.find("{参数}") == std::string::npos) return {std::nullopt, "未设置可变  {参数} "};
    if (!isInteger(first) || !isInteger(last) || !isInteger(step)) return {std::nullopt, "首项、尾项和间隔必须是整数"};
    // A step of 0 or less would never end the composition.
    if (IntOf(step) <= 0) return {std::nullopt, "间隔必须大于0"};
    return {"列表合成=" + tmpl + "[,]" + first + "," + last + "," + step, {}};
}

SourceEntry importEntry(const std::string& path, const std::string& programFolder) {
    if (path.empty()) return {std::nullopt, path + " , 文本路径不能为空！"};
    std::string full = path[0] == '/' ? path : programFolder + path;
    if (!pathExists(full) || isDirectory(full)) return {std::nullopt, "文本路径不存在！"};
    return {"文本导入=" + path, {}};
}

SourceEntry addressEntry(const std::string& address) {
    std::string a = TrimText(address);
    if (a.rfind("http", 0) != 0) return {std::nullopt, "网址应以HTTP开始"};
    return {a, {}};
}

bool addSource(std::vector<std::string>& sources, const std::string& entry) {
    if (std::find(sources.begin(), sources.end(), entry) != sources.end()) return false;
    sources.push_back(entry);
    return true;
}

}  // namespace tarvex::app

#include "app/field_names.h"

#include <cctype>
#include <cstdio>
#include <unordered_map>

#include "collect/task_db.h"

namespace tarvex::app {

namespace {
std::string lowerAscii(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool isFixedColumn(const std::string& name) {
    const std::string l = lowerAscii(name);
    return l == "id" || l == "url" || l == "geturl" || l == "getc" || l == "postc" || l.rfind("postc_", 0) == 0;
}

// C0 controls, DEL, and the C1 controls U+0080–U+009F (C2 80 – C2 9F in UTF-8).
bool hasControlCharacter(const std::string& name) {
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

// The name as a message can show it: control characters written as \uXXXX escapes.
std::string shown(const std::string& name) {
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
}  // namespace

std::optional<std::string> FieldNameProblem(const std::string& name) {
    if (name.empty()) return std::string("字段名称不能为空");
    if (name.find('"') != std::string::npos) return "字段名称<" + shown(name) + ">不能包含双引号";
    if (hasControlCharacter(name)) return "字段名称<" + shown(name) + ">不能包含控制字符(如换行、制表符)";
    if (isFixedColumn(name)) return "字段名称<" + name + ">与数据库固定字段重名(id,url,geturl,getc,postc,postc_开头)";
    return std::nullopt;
}

std::optional<std::string> RepeatedFieldName(const std::vector<std::string>& names) {
    std::unordered_map<std::string, std::size_t> first;
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto [it, added] = first.emplace(collect::ColumnKey(names[i]), i);
        if (added) continue;
        const std::string& earlier = names[it->second];
        return names[i] == earlier ? "字段名称<" + shown(names[i]) + ">重复"
                                   : "字段名称<" + shown(names[i]) + ">与<" + shown(earlier) +
                                         ">只有英文大小写不同，数据库视为同一字段";
    }
    return std::nullopt;
}

std::optional<std::string> FieldColumnsProblem(const std::string& settingsJson) {
    const auto titles = collect::FieldTitlesOf(settingsJson);
    const auto listFields = collect::ListPageFieldsOf(settingsJson);
    for (const auto& name : titles)
        if (auto problem = FieldNameProblem(name)) return problem;
    for (const auto& name : listFields)
        if (auto problem = FieldNameProblem(name)) return "列表页" + *problem;
    if (auto repeat = RepeatedFieldName(titles)) return repeat;
    // A list-page field that is also a content field shares its column; only near misses clash.
    std::vector<std::string> columns = titles;
    for (const auto& name : listFields) {
        bool same = false;
        for (const auto& t : titles) same = same || t == name;
        if (!same) columns.push_back(name);
    }
    if (auto repeat = RepeatedFieldName(columns)) return "列表页" + *repeat;
    return std::nullopt;
}

std::optional<std::string> FixedColumnClash(const std::string& settingsJson) {
    for (const auto& name : collect::FieldColumnsOf(settingsJson))
        if (isFixedColumn(name)) return name;
    return std::nullopt;
}

}  // namespace tarvex::app

#include "app/tasks/field_names.h"

#include <unordered_map>

#include "collect/task_db.h"
#include "engine/field_rule.h"

namespace tarvex::app {

std::optional<std::string> FieldNameProblem(const std::string& name) {
    if (name.empty()) return std::string("字段名称不能为空");
    if (auto problem = engine::FieldNameCharacterProblem(name)) return problem;
    if (engine::IsFixedColumnName(name))
        return "字段名称<" + name + ">与数据库固定字段重名(id,url,geturl,getc,postc,postc_开头)";
    return std::nullopt;
}

std::optional<std::string> RepeatedFieldName(const std::vector<std::string>& names) {
    std::unordered_map<std::string, std::size_t> first;
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto [it, added] = first.emplace(collect::ColumnKey(names[i]), i);
        if (added) continue;
        const std::string& earlier = names[it->second];
        return names[i] == earlier ? "字段名称<" + engine::ShownFieldName(names[i]) + ">重复"
                                   : "字段名称<" + engine::ShownFieldName(names[i]) + ">与<" +
                                         engine::ShownFieldName(earlier) + ">只有英文大小写不同，数据库视为同一字段";
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
        if (engine::IsFixedColumnName(name)) return name;
    return std::nullopt;
}

}  // namespace tarvex::app

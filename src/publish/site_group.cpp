#include "publish/site_group.h"

#include <algorithm>
#include <cctype>

#include "collect/task_db.h"
#include "engine/field_rule.h"
#include "engine/rule_json.h"

namespace tarvex::publish {
SiteGroup ParseSiteGroup(const std::string& text) {
    SiteGroup g;
    auto doc = engine::ParseRuleJson(text);
    if (!doc) return g;
    g.enabled = engine::RuleFlag(*doc, "check1");
    for (const auto& s : engine::RuleTextArray(*doc, "MorePostAll")) {
        std::vector<std::string> parts;
        std::size_t start = 0;
        for (;;) {
            auto c = s.find(',', start);
            parts.push_back(s.substr(start, c == std::string::npos ? std::string::npos : c - start));
            if (c == std::string::npos) break;
            start = c + 1;
        }
        parts.resize(std::max<std::size_t>(parts.size(), 5));
        g.sites.push_back({parts[0], parts[1], parts[2], parts[3], parts[4]});
    }
    return g;
}

std::string ComposeSiteGroup(const SiteGroup& group) {
    if (group.sites.empty()) return {};
    engine::RuleJson o = engine::RuleJson::object();
    o["check1"] = group.enabled ? "-1" : "0";
    engine::RuleJson all = engine::RuleJson::array();
    for (const auto& s : group.sites)
        all.push_back(s.name + "," + s.mark + "," + s.module + "," + s.columnId + "," + s.remark);
    o["MorePostAll"] = all;
    return o.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool IsValidMark(const std::string& mark) {
    return mark.size() <= 4 && collect::IsValidSiteMark(mark);
}

std::string PublishTarget::entryText() const {
    return siteName + "@!@" + mark + "@!@" + module + "@!@" + columnId;
}

std::vector<PublishTarget> PublishTargets(const std::string& settingsJson) {
    std::vector<PublishTarget> targets;
    auto doc = engine::ParseRuleJson(settingsJson).value_or(engine::RuleJson::object());
    std::string column = engine::RuleText(doc, "post_class_selected");
    targets.push_back({"主站", "", engine::RuleText(doc, "PostRuleName"), column.empty() ? "0" : column});
    // An unticked "启用多站发布" switches the group off: its flag columns may not exist.
    SiteGroup group = ParseSiteGroup(engine::RuleText(doc, "post_morepost"));
    if (group.enabled)
        for (const auto& s : group.sites) targets.push_back({s.name, s.mark, s.module, s.columnId});
    return targets;
}

std::optional<std::string> CheckSiteEntry(SiteEntry& e, const std::vector<SiteEntry>& sites, int editing,
                                          bool moduleExists, const std::string& modulePath) {
    e.name = engine::TrimText(e.name);
    e.mark = engine::TrimText(e.mark);
    e.module = engine::TrimText(e.module);
    e.columnId = engine::TrimText(e.columnId);
    e.remark = engine::TrimText(e.remark);
    if (e.name.empty()) return "标题不能为空！";
    for (const std::string* part : {&e.name, &e.mark, &e.module, &e.columnId, &e.remark})
        if (part->find(',') != std::string::npos) return "各项内容不能包含英文逗号\",\"";
    if (!IsValidMark(e.mark)) return "标记只能由1到4个英文字母、数字或下划线组成！";
    if (e.columnId.empty() ||
        !std::all_of(e.columnId.begin(), e.columnId.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return "栏目id只能是数字！";
    for (std::size_t i = 0; i < sites.size(); ++i) {
        if (static_cast<int>(i) == editing) continue;
        if (sites[i].name == e.name) return editing < 0 ? "标题不能重复！" : "修改发布站点的名称不能与其他字段重复！";
        // Two sites with one mark would share one flag column; SQLite compares column names
        // without regard to case, so the marks are compared that way too.
        if (collect::SameColumnName(sites[i].mark, e.mark)) return "标记不能重复！";
    }
    if (!moduleExists) return "发布规则文件不存在！文件路径:" + modulePath;
    return std::nullopt;
}

}  // namespace tarvex::publish

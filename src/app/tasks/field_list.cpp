#include "app/tasks/field_list.h"

#include "app/tasks/rules_file.h"

namespace tarvex::app {

namespace {
bool validIndex(const std::vector<std::string>& fields, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < fields.size();
}

std::optional<std::string> fieldFromClipboard(ClipboardPort& clipboard, platform::Dialogs& dialogs) {
    std::string problem;
    auto rule = CopiedField(clipboard.text(), &problem);
    if (!rule)
        dialogs.message("剪贴板里存在的字段 格式有误！" + (problem.empty() ? "" : "(" + problem + ")"),
                        platform::kAppTitle);
    return rule;
}
}  // namespace

std::string FieldTitle(const std::string& ruleJson) {
    auto rule = ParseSettings(ruleJson);
    return rule ? SettingText(*rule, "title") : std::string();
}

std::optional<int> MoveField(std::vector<std::string>& fields, int index, int delta, platform::Dialogs& dialogs) {
    if (!validIndex(fields, index)) {
        dialogs.message("请先选择一个字段，再使用上移下移功能！", platform::kAppTitle);
        return std::nullopt;
    }
    const int target = index + delta;
    if (!validIndex(fields, target)) return index;
    std::swap(fields[static_cast<std::size_t>(index)], fields[static_cast<std::size_t>(target)]);
    return target;
}

bool DeleteField(std::vector<std::string>& fields, int index, platform::Dialogs& dialogs) {
    if (!validIndex(fields, index)) {
        dialogs.message("请先选择一个字段", platform::kAppTitle);
        return false;
    }
    if (!dialogs.confirm("确认删除字段吗？", "删除字段")) return false;
    fields.erase(fields.begin() + index);
    return true;
}

bool CopyFieldToClipboard(const std::vector<std::string>& fields, int index, ClipboardPort& clipboard,
                          platform::Dialogs& dialogs) {
    if (!validIndex(fields, index)) {
        dialogs.message("请选择一个字段再复制", platform::kAppTitle);
        return false;
    }
    clipboard.setText(CopiedFieldText(fields[static_cast<std::size_t>(index)]));
    dialogs.message("复制单字段完成！", platform::kAppTitle);
    return true;
}

std::optional<int> PasteFieldOverwrite(std::vector<std::string>& fields, ClipboardPort& clipboard,
                                       platform::Dialogs& dialogs) {
    auto rule = fieldFromClipboard(clipboard, dialogs);
    if (!rule) return std::nullopt;
    const std::string title = FieldTitle(*rule);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (FieldTitle(fields[i]) == title) {
            fields[i] = *rule;
            return static_cast<int>(i);
        }
    }
    fields.push_back(*rule);
    return static_cast<int>(fields.size() - 1);
}

std::optional<int> PasteFieldAsNew(std::vector<std::string>& fields, ClipboardPort& clipboard,
                                   platform::Dialogs& dialogs) {
    auto rule = fieldFromClipboard(clipboard, dialogs);
    if (!rule) return std::nullopt;
    auto doc = *ParseSettings(*rule);
    doc["title"] = SettingText(doc, "title") + "2";
    fields.push_back(DumpJson(doc));
    return static_cast<int>(fields.size() - 1);
}

bool ImportRulesInto(SettingsForm& form, const std::string& path, platform::Dialogs& dialogs) {
    RulesFileContent content;
    if (ReadRulesFile(path, content, dialogs) != RulesFileStatus::Ok) return false;
    form.fields = std::move(content.fields);
    form.mulpage = std::move(content.mulpage);
    form.morepage = std::move(content.morepage);
    form.morepage2 = std::move(content.morepage2);
    return true;
}

bool ExportRulesFrom(const SettingsForm& form, const std::string& path, platform::Dialogs& dialogs) {
    return WriteRulesFile(path, {form.fields, form.mulpage, form.morepage, form.morepage2}, dialogs);
}

}  // namespace tarvex::app

#include "app/forms/module_editor_form.h"

#include "app/tasks/settings_document.h"
#include "publish/publish_module.h"

namespace tarvex::app {

ModuleEditorForm::ModuleEditorForm(std::string publishFolder) : m_folder(std::move(publishFolder)) {}

std::vector<std::string> ModuleEditorForm::modules() const {
    return publish::ListModules(m_folder);
}

std::string ModuleEditorForm::open(const std::string& name) {
    auto module = publish::ReadModuleFile(publish::ModulePath(m_folder, name));
    if (!module) return publish::MissingModuleText(name);
    address = module->address();
    utf8 = module->utf8();
    rows.clear();
    for (const auto& [fieldName, content] : module->fields())
        if (!fieldName.empty()) rows.push_back({fieldName, content});
    m_name = name;
    m_editing = true;
    return {};
}

std::string ModuleEditorForm::caption() const {
    return "发布接口配置  " + m_name;
}

void ModuleEditorForm::addField() {
    rows.push_back({"NewName" + std::to_string(rows.size() + 1), ""});
}

bool ModuleEditorForm::deleteField(int row) {
    if (row < 0 || row >= static_cast<int>(rows.size())) return false;
    rows.erase(rows.begin() + row);
    return true;
}

bool ModuleEditorForm::setCell(int row, int column, const std::string& text) {
    if (row < 0 || row >= static_cast<int>(rows.size()) || (column != 1 && column != 2)) return false;
    (column == 1 ? rows[static_cast<std::size_t>(row)].name : rows[static_cast<std::size_t>(row)].content) =
        TrimText(text);
    return true;
}

bool ModuleEditorForm::appendTag(int row, const std::string& tag) {
    if (row < 0 || row >= static_cast<int>(rows.size())) return false;
    rows[static_cast<std::size_t>(row)].content += tag;
    return true;
}

std::string ModuleEditorForm::saveRefusal() const {
    if (!m_editing) return "请先选中一个规则 编辑后再保存！";
    if (TrimText(address).rfind("http", 0) != 0) return "接口网址必须以http开头！";
    return {};
}

std::string ModuleEditorForm::saveTo(const std::string& path) {
    if (auto refusal = saveRefusal(); !refusal.empty()) return refusal;
    std::vector<std::pair<std::string, std::string>> fields;
    // A row whose name was emptied in the list is not a field: written, it would come back as
    // a nameless line the editor hides.
    for (const auto& r : rows)
        if (!r.name.empty()) fields.emplace_back(r.name, r.content);
    if (!publish::SaveModule(path, TrimText(address), utf8, fields)) return "保存失败：" + path;
    cancel();
    return {};
}

void ModuleEditorForm::cancel() {
    rows.clear();
    address.clear();
    utf8 = false;
    m_editing = false;
}

const std::vector<std::pair<std::string, std::string>>& ModuleTagEntries() {
    static const std::vector<std::pair<std::string, std::string>> entries = {
        {"自动缩略图", "{dd:自动缩略图}"},
        {"来源网址", "{dd:网址}"},
        {"栏目ID", "{dd:栏目id}"},
        {"内置语法/日期时间/20170529 15:00:00", "{dd:日期yyyymmdd hh:mm:ss}"},
        {"内置语法/{dd:随机数[1,50]}", "{dd:随机数[1,50]}"},
    };
    return entries;
}

std::string FieldNameTag(const std::string& name) {
    return "{采集字段:" + name + "}";
}

}  // namespace tarvex::app

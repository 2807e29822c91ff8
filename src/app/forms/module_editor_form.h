#pragma once
// The publish module editor "发布规则配置" as a form model: the module list, the module being
// edited (interface address, charset, field rows numbered from 1), the row commands, the tags
// of the field list's context menu and the save checks. Files are read and written through
// publish::ReadModuleFile / SaveModule. Caller's thread; no window.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvex::app {

struct ModuleRow {
    std::string name;
    std::string content;
};

class ModuleEditorForm {
public:
    explicit ModuleEditorForm(std::string publishFolder);

    const std::string& publishFolder() const { return m_folder; }
    // The module names of the folder.
    std::vector<std::string> modules() const;

    // Opens "<name>.p": the address is line 1's value, UTF-8 when line 2's value is "1", and one
    // row per later line whose name is not empty. "" on success, else the message.
    std::string open(const std::string& name);
    bool editing() const { return m_editing; }
    const std::string& moduleName() const { return m_name; }
    // "发布接口配置  " + name
    std::string caption() const;

    std::string address;
    bool utf8 = false;
    std::vector<ModuleRow> rows;

    // "添加发布字段": a row "NewName" + its number with empty content.
    void addField();
    // "删除发布字段" after the confirmation; the rows after it move up. False for no row.
    bool deleteField(int row);
    // An edited cell (column 1 name, 2 content), trimmed. False when there is no such cell.
    bool setCell(int row, int column, const std::string& text);
    // Appends a tag to a row's content. False for no row.
    bool appendTag(int row, const std::string& tag);

    // Why "保存" is refused ("" when it may save).
    std::string saveRefusal() const;
    // Writes the module to `path` (the address trimmed) and leaves editing mode. "" on success,
    // else the message.
    std::string saveTo(const std::string& path);
    // "取消": empties the rows and leaves editing mode without saving.
    void cancel();

private:
    std::string m_folder;
    std::string m_name;
    bool m_editing = false;
};

// The fixed entries of the field list's context menu: menu path (submenus joined by "/") and
// the tag appended.
const std::vector<std::pair<std::string, std::string>>& ModuleTagEntries();
// The tag of "复制内容字段名称" / name: "{采集字段:" + name + "}".
std::string FieldNameTag(const std::string& name);

}  // namespace tarvex::app

#pragma once
// The field list of the settings area as values: the commands on a list of field-rule JSON
// texts (move, delete, copy and paste through the clipboard, import and export of rules files).
// They change only the form; nothing is stored before the settings are saved. UI thread.
#include <optional>
#include <string>
#include <vector>

#include "app/clipboard_port.h"
#include "app/tasks/settings_document.h"
#include "platform/ports.h"

namespace tarvex::app {

// The "title" of a field rule; "" when the text is not a rule.
std::string FieldTitle(const std::string& ruleJson);

// "↑"/"↓": swaps the field at `index` (-1 = none selected) with its neighbour. Returns the new
// index of the moved field; the first field up or the last down stays where it is.
std::optional<int> MoveField(std::vector<std::string>& fields, int index, int delta, platform::Dialogs& dialogs);

// "删除": after confirmation removes the field. True when removed.
bool DeleteField(std::vector<std::string>& fields, int index, platform::Dialogs& dialogs);

// "导出字段到剪贴板": puts the selected rule on the clipboard as a copied field rule.
bool CopyFieldToClipboard(const std::vector<std::string>& fields, int index, ClipboardPort& clipboard,
                          platform::Dialogs& dialogs);

// "从剪贴板粘贴字段（覆盖）": the rule replaces the field with the same title, or is appended.
// Returns the index of the changed field.
std::optional<int> PasteFieldOverwrite(std::vector<std::string>& fields, ClipboardPort& clipboard,
                                       platform::Dialogs& dialogs);
// "从剪贴板粘贴字段（新建）": "2" is appended to the rule's title and the rule is appended.
std::optional<int> PasteFieldAsNew(std::vector<std::string>& fields, ClipboardPort& clipboard,
                                   platform::Dialogs& dialogs);

// "导入规则": replaces the field list and the three page sections from a rules file. True when
// the form changed.
bool ImportRulesInto(SettingsForm& form, const std::string& path, platform::Dialogs& dialogs);
// "导出规则": writes the field list and the page sections to a rules file.
bool ExportRulesFrom(const SettingsForm& form, const std::string& path, platform::Dialogs& dialogs);

}  // namespace tarvex::app

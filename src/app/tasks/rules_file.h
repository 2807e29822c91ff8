#pragma once
// The texts tasks and field rules travel in outside the catalogue: rules files (".g": UTF-8
// with a byte-order mark, one line enciphered with the program key) and the clipboard texts of
// a copied task and a copied field rule. Pure functions except the file reads and writes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ports.h"

namespace tarvex::app {

inline constexpr const char* kCopiedTaskPrefix = "Tarvex复制任务|";
inline constexpr const char* kCopiedFieldPrefix = "Tarvex复制单字段|";
// The file dialog filter and the extension of rules files.
inline constexpr const char* kRulesFileFilter = "Tarvex采集规则|*.g";

// What a rules file carries: the field rules and the three page sections ("" = absent).
struct RulesFileContent {
    std::vector<std::string> fields;
    std::string mulpage, morepage, morepage2;
};

// The file's whole text: BOM + the enciphered JSON object ("fieldsAll", then the non-empty
// sections).
std::string RulesFileText(const RulesFileContent& content);
// Writes a rules file; false (message shown) when it cannot be written.
bool WriteRulesFile(const std::string& path, const RulesFileContent& content, platform::Dialogs& dialogs);

enum class RulesFileStatus { Ok, Empty, Invalid };
// Reads a rules file text (trimmed, BOM removed, deciphered). Empty: it deciphers to nothing.
// Invalid: unreadable, not cipher text, or a document SettingsDocumentProblem refuses (then
// `problem`, when given, says why).
RulesFileStatus ParseRulesFileText(const std::string& fileText, RulesFileContent& out, std::string* problem = nullptr);
// Reads a file; Invalid shows "规则文件内容有误，无法导入！" with the reason when there is one
// (unreadable files say so too).
RulesFileStatus ReadRulesFile(const std::string& path, RulesFileContent& out, platform::Dialogs& dialogs);

// "Tarvex复制任务|" + id.
std::string CopiedTaskText(std::int64_t taskId);
// The id of a clipboard text that holds a copied task; nullopt when it holds none.
std::optional<std::int64_t> CopiedTaskId(const std::string& clipboardText);

// "Tarvex复制单字段|" + the rule enciphered with the program key.
std::string CopiedFieldText(const std::string& ruleJson);
// The rule of a clipboard text that holds a copied field rule FieldRuleProblem accepts; nullopt
// for anything else (with the reason in `problem` when the rule itself is at fault).
std::optional<std::string> CopiedField(const std::string& clipboardText, std::string* problem = nullptr);

}  // namespace tarvex::app

#include "app/tasks/rules_file.h"

#include <fstream>
#include <sstream>

#include "app/tasks/settings_document.h"
#include "platform/json_text.h"
#include "publish/text_cipher.h"

namespace tarvex::app {

namespace {
constexpr const char* kBom = "\xEF\xBB\xBF";

bool isHexText(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}
}  // namespace

std::string RulesFileText(const RulesFileContent& content) {
    SettingsJson doc = SettingsJson::object();
    SettingsJson fields = SettingsJson::array();
    for (const auto& f : content.fields) fields.push_back(f);
    doc["fieldsAll"] = fields;
    if (!content.mulpage.empty()) doc["mulpage"] = content.mulpage;
    if (!content.morepage.empty()) doc["Morepage"] = content.morepage;
    if (!content.morepage2.empty()) doc["Morepage2"] = content.morepage2;
    return std::string(kBom) + publish::enCryptText(DumpJson(doc), publish::kProgramKey);
}

bool WriteRulesFile(const std::string& path, const RulesFileContent& content, platform::Dialogs& dialogs) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << RulesFileText(content);
    out.close();
    if (!out) {
        dialogs.message("规则文件写入失败：" + path, platform::kAppTitle);
        return false;
    }
    return true;
}

RulesFileStatus ParseRulesFileText(const std::string& fileText, RulesFileContent& out, std::string* problem) {
    std::string text = fileText;
    if (text.rfind(kBom, 0) == 0) text.erase(0, 3);
    text = TrimText(text);
    if (!isHexText(text)) return RulesFileStatus::Invalid;
    const std::string plain = publish::deCryptText(text, publish::kProgramKey);
    if (plain.empty()) return RulesFileStatus::Empty;
    auto doc = ParseSettings(plain);
    if (!doc) {
        if (problem && !platform::JsonNestingWithinLimit(plain)) *problem = platform::JsonTooDeepMessage();
        return RulesFileStatus::Invalid;
    }
    // The file holds a settings document with the page sections only; it is checked like one.
    if (auto why = SettingsDocumentProblem(plain)) {
        if (problem) *problem = *why;
        return RulesFileStatus::Invalid;
    }
    RulesFileContent c;
    if (auto it = doc->find("fieldsAll"); it != doc->end() && it->is_array())
        for (const auto& f : *it) c.fields.push_back(f.is_string() ? f.get<std::string>() : DumpJson(f));
    c.mulpage = SettingText(*doc, "mulpage");
    c.morepage = SettingText(*doc, "Morepage");
    c.morepage2 = SettingText(*doc, "Morepage2");
    out = std::move(c);
    return RulesFileStatus::Ok;
}

RulesFileStatus ReadRulesFile(const std::string& path, RulesFileContent& out, platform::Dialogs& dialogs) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        dialogs.message("规则文件无法读取：" + path, platform::kAppTitle);
        return RulesFileStatus::Invalid;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    std::string problem;
    auto status = ParseRulesFileText(ss.str(), out, &problem);
    if (status == RulesFileStatus::Invalid)
        dialogs.message("规则文件内容有误，无法导入！" + (problem.empty() ? "" : "(" + problem + ")"),
                        platform::kAppTitle);
    return status;
}

std::string CopiedTaskText(std::int64_t taskId) {
    return kCopiedTaskPrefix + std::to_string(taskId);
}

std::optional<std::int64_t> CopiedTaskId(const std::string& clipboardText) {
    const std::string prefix = kCopiedTaskPrefix;
    auto pos = clipboardText.find(prefix);
    if (pos == std::string::npos) return std::nullopt;
    const std::string rest = TrimText(clipboardText.substr(pos + prefix.size()));
    std::size_t n = 0;
    while (n < rest.size() && std::isdigit(static_cast<unsigned char>(rest[n]))) ++n;
    if (n == 0 || n > 18) return std::nullopt;
    return std::stoll(rest.substr(0, n));
}

std::string CopiedFieldText(const std::string& ruleJson) {
    return kCopiedFieldPrefix + publish::enCryptText(ruleJson, publish::kProgramKey);
}

std::optional<std::string> CopiedField(const std::string& clipboardText, std::string* problem) {
    const std::string prefix = kCopiedFieldPrefix;
    auto pos = clipboardText.find(prefix);
    if (pos == std::string::npos) return std::nullopt;
    const std::string cipher = TrimText(clipboardText.substr(pos + prefix.size()));
    if (!isHexText(cipher)) return std::nullopt;
    std::string rule = publish::deCryptText(cipher, publish::kProgramKey);
    if (!ParseSettings(rule)) {
        if (problem && !platform::JsonNestingWithinLimit(rule)) *problem = platform::JsonTooDeepMessage();
        return std::nullopt;
    }
    if (auto why = FieldRuleProblem(rule)) {
        if (problem) *problem = *why;
        return std::nullopt;
    }
    return rule;
}

}  // namespace tarvex::app

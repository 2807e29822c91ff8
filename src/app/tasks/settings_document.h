#pragma once
// The task settings document: one JSON object per task, every value a JSON string except
// "fieldsAll" (an array of field-rule JSON texts). This file holds the three accessors with
// the system's value conventions, the document of a new task, and the settings area as a form
// model: LoadSettings fills a SettingsForm from a document, SaveSettings validates, composes and
// stores it. Everything runs on the caller's thread; nothing here opens a window.
#include <atomic>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/tasks/field_names.h"
#include "app/workspace/workspace.h"
#include "platform/ports.h"

namespace tarvex::app {

using SettingsJson = nlohmann::ordered_json;

// A JSON object parsed from text; nullopt when the text is not a JSON object.
std::optional<SettingsJson> ParseSettings(const std::string& text);
// Compact JSON text with non-ASCII characters written as they are; invalid UTF-8 inside
// strings is replaced rather than thrown on.
std::string DumpJson(const SettingsJson& value);

// Text of a key: the string value; a number or other JSON value as its JSON text; absent or
// null as "".
std::string SettingText(const SettingsJson& doc, const std::string& key);
// Flag of a key: a non-zero integer or "true" (any case) is on; absent, empty, "0", "false"
// and anything unreadable are off.
bool SettingFlag(const SettingsJson& doc, const std::string& key);
// Integer of a key: the text as a decimal integer; 0 when empty or unreadable.
long long SettingInt(const SettingsJson& doc, const std::string& key);
// The same conventions over a bare text.
bool FlagOf(const std::string& text);
long long IntOf(const std::string& text);
// How check boxes are written: "-1" (on) and "0" (off).
inline const char* FlagText(bool on) {
    return on ? "-1" : "0";
}
// Removes leading and trailing characters up to and including the blank (control characters).
std::string TrimText(const std::string& text);

// The user agent of a new task (it has no closing parenthesis).
inline constexpr const char* kDefaultUserAgent =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 5.1; SV1; Maxthon; .NET CLR 1.1.4322";

// The two field rules of a new task ("标题", "内容") as JSON texts.
std::vector<std::string> NewTaskFieldRules();
// The settings document of a new task: the keys that have a new-task value, in table order.
std::string NewTaskDocument();

// The keys the editor writes, in the order it writes them.
const std::vector<std::string>& EditorKeys();

// The settings area as values: one member per control. Field rules are JSON texts.
struct SettingsForm {
    std::vector<std::string> fields;             // "fieldsAll"
    std::string mulpage, morepage, morepage2;    // "mulpage", "Morepage", "Morepage2"
    std::string uploadSet;                       // "other_UploadSet"
    std::vector<std::string> publishInterfaces;  // names offered by "发布接口"
    std::string postRuleName;                    // "" = none chosen
    std::string postClassTree;                   // column list text
    std::string postClassSelected;               // id of the selected column, "" = none
    std::string postMorepost;
    std::string time1 = "300", time2 = "300", time3 = "300";
    bool checkTitle = false, checkUrl = false;
    std::string cookie, userAgent = kDefaultUserAgent, savePath;
    std::string joinPage = "<!--分页符-->";
    std::string testUrl;
    std::string joinRepeat = "<!--重复连接符-->";
    bool autoUpload = false;
    std::string minIdGet = "0", minIdPost = "0";
    std::string charset;  // "", "GBK" or "UTF-8"
    std::string urlMax = "0", postMax = "0";
    bool gzip = false, manualReview = false, closeEditForm = false, noClassNeeded = false, collectAgain = false;
};

// Names (without extension) of the publish modules: files of `publishFolder` whose extension
// is ".p" in any letter case, sorted.
std::vector<std::string> PublishInterfaces(const std::string& publishFolder);

// The form a task without a document shows. The address box keeps `form.testUrl`.
void ResetForm(SettingsForm& form, const Workspace& ws, std::int64_t taskId);

// Fills the form from a document ("" resets it). False, with the form unchanged and a message
// in `error`, when the document is not a JSON object.
bool LoadSettings(const std::string& document, const Workspace& ws, std::int64_t taskId, SettingsForm& form,
                  std::string* error = nullptr);

// The document the editor writes for a form: every key in table order, booleans "-1"/"0",
// the omitted-when-empty keys left out, address and repeat joiner trimmed.
std::string ComposeSettings(const SettingsForm& form);

// What a save needs besides the form.
struct SaveRequest {
    std::int64_t taskId = 0;  // the current task id; 0 = none
    std::string taskName;     // the name shown in the settings area
    // State text of the task's run-list row, "" when the task is not in the run list.
    std::function<std::string(const std::string& name)> runListState;
};

enum class SaveOutcome {
    Refused,            // nothing stored; the area stays open
    RefusedEnableTree,  // nothing stored; the area stays open and the tree is enabled again
    Stored,             // stored and the task database is up to date
};

// The "保存" of the settings area: refuses with the system's messages, composes and checks the
// document, adds the database columns it needs and then stores it with a fresh prefix. A save
// that fails at any step (a column that cannot be added, a catalogue that cannot be written)
// shows the error and leaves the stored settings as they were. Rebuilding the tree and closing
// the area are the caller's.
SaveOutcome SaveSettings(const Workspace& ws, platform::Dialogs& dialogs, const SaveRequest& request,
                         const SettingsForm& form);

// Stores a whole document for a task as it is (tarvex-cli): the same refusals and order as a save
// (a document SettingsDocumentProblem refuses, a missing task or database, a missing attachment
// folder, manual review without its field), the columns, then the document.
SaveOutcome StoreSettingsDocument(const Workspace& ws, platform::Dialogs& dialogs, std::int64_t taskId,
                                  const std::string& document);

// What keeps a document from being stored, as a message naming the key at fault; nullopt when it
// may be stored. The document must be a JSON object nested no deeper than the JSON limit;
// "fieldsAll" an array of texts each holding a field rule (FieldRuleProblem); "mulpage",
// "Morepage", "Morepage2", "other_UploadSet" and "post_morepost" texts that are empty or hold an
// object (SectionTextProblem); and every field column must be possible (FieldColumnsProblem).
// Keys the program does not know are allowed, and values of other keys are not looked at.
std::optional<std::string> SettingsDocumentProblem(const std::string& document);
// A section text as it enters on its own (a dialog, a rules file): "" or a JSON object within the
// nesting limit; for "Morepage2" its "MorePageAll" an array of texts each holding an object, for
// "post_morepost" its "MorePostAll" an array of texts.
std::optional<std::string> SectionTextProblem(const std::string& key, const std::string& text);
// A field rule text: a JSON object within the nesting limit with a "title" text that
// FieldNameProblem accepts.
std::optional<std::string> FieldRuleProblem(const std::string& ruleJson);

}  // namespace tarvex::app

#pragma once
// app/single_page: one address collected and one record published with the settings area's rules.
// Uses app/tasks, app/workspace and the core layers.
//
// Single-page mode: one address of the open task collected with the rules of the settings area
// (saved or not) and shown on the main window's run log page, its values corrected in the
// visual editor, and that one record published with the area's publish settings. Nothing is
// written to the task database or the catalogue. The job runs on its own thread and reports
// through a SlotView on slot 0 (the run log page).
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/tasks/settings_document.h"
#include "app/workspace/workspace.h"
#include "engine/field_extract.h"
#include "platform/ports.h"
#include "publish/attachment_upload.h"

namespace tarvex::app {

// The run log page as a slot of the SlotView port.
inline constexpr int kRunLogSlot = 0;

// The settings document of a single-page collection (`publish` false) or publication, built
// from the settings area's controls so that unsaved changes can be tried.
std::string SinglePageDocument(const SettingsForm& form, bool publish);

using FieldValues = std::vector<std::pair<std::string, std::string>>;

// The files a single-page collection downloaded, for its publication.
struct SinglePageFiles {
    std::vector<publish::Attachment> attachments;
    std::string thumbnail;  // the thumbnail's address on the site, "" when none
};

// The process-wide single-page state: the last result list and what it was collected for.
// Thread-safe.
class SinglePageState {
public:
    enum class Status { Running = 0, Failed = 1, Collected = 2 };

    // A new collection starts: the results are dropped, the status is Running.
    void start(std::int64_t taskId, const std::string& url);
    void finish(Status status, FieldValues values = {});
    // The visual editor's corrected values (same task and address).
    void setValues(FieldValues values);
    void setFiles(SinglePageFiles files);
    SinglePageFiles files() const;

    Status status() const { return m_status.load(); }
    FieldValues values() const;
    std::int64_t taskId() const;
    std::string url() const;  // the address last collected

    // Whether the results may be published for this task and address: "" when they may, else
    // the message to show.
    std::string publishRefusal(std::int64_t taskId, const std::string& url) const;

private:
    mutable std::mutex m_lock;
    std::atomic<Status> m_status{Status::Running};
    FieldValues m_values;
    SinglePageFiles m_files;
    std::int64_t m_taskId = 0;
    std::string m_url;
};

// "请先指定一个任务再开始"
inline constexpr const char* kNoTaskOpenText = "请先指定一个任务再开始";
// Refusal of "单页发布" when the results were not collected for the task and address in the area.
inline constexpr const char* kNotCollectedHereText =
    "没有本任务当前网址的采集结果，请先对当前网址单页采集成功后再单页发布";

// The checks of "单页发布" on the user-interface side: "" when it may start, else the message.
std::string SinglePublishRefusal(const Workspace& ws, std::int64_t taskId, const SettingsForm& form,
                                 const SinglePageState& state);

// `SinglePageJob`: one collection or publication. The caller fills the fields and runs it on
// a thread of its own; reports go to `view` slot 0 in order. Never throws.
struct SinglePageJob {
    enum class Kind { Collect, Publish };
    Kind kind = Kind::Collect;
    std::int64_t taskId = 0;
    std::string settingsJson;  // SinglePageDocument
    std::string url;           // the address box, trimmed by the job
    Workspace workspace;
    SinglePageState* state = nullptr;      // not owned
    platform::SlotView* view = nullptr;    // not owned
    platform::Dialogs* dialogs = nullptr;  // not owned; may be null
    std::function<bool()> closing;         // the program is ending; may be empty

    void run();

private:
    void collect();
    void publish();
    void line(const std::string& text) const;
};

// The collection part without state or thread: the values of every field of the document for
// one address, in field order, as the single-page mode shows them (empty values included, no
// filter rejects the record). `show` receives each run log page line; `error` the fetch failure
// text. Attachments are downloaded when `downloadAttachments` is set; `files` receives them.
// One field of a test or single-page collection as the windows mark it.
struct FieldCheck {
    std::string name, value;
    std::string reason;  // why the value is empty; "" when it is not
    std::string filter;  // the "筛选过滤" rejection this value would cause; "" when none
};
struct SinglePageCollect {
    bool ok = false;
    FieldValues values;
    std::vector<FieldCheck> checks;  // every field in order, empty ones with their reason
};
SinglePageCollect CollectSinglePage(const Workspace& ws, std::int64_t taskId, const std::string& settingsJson,
                                    const std::string& url, const std::function<void(const std::string&)>& show,
                                    bool downloadAttachments = true, SinglePageFiles* files = nullptr);

// The checks of a collected record: each field's value with the reason it is empty and the
// filter rejection it would cause. `settings` is the document, `pages` the content page list.
std::vector<FieldCheck> CheckFieldValues(const engine::SettingsJson& settings, const engine::PageList& pages,
                                         const std::string& url, const FieldValues& values);

// The publication part: the values published as one record with the module and column of the
// document. `show` receives the run log page lines. True when the interface answered success.
bool PublishSinglePage(const Workspace& ws, std::int64_t taskId, const std::string& settingsJson,
                       const std::string& url, const FieldValues& values, platform::SlotView* view,
                       platform::Dialogs* dialogs, const std::function<bool()>& closing = {},
                       const SinglePageFiles& files = {});

// The visual editor's page: the elements of every value placed into "index.html" at "{dd:内容}".
// Values are written as HTML text (every "&", "<" and ">" escaped), so the page reads them back
// exactly, entities and closing tags included.
std::string VisualEditorElement(const std::string& name, const std::string& value);
std::string VisualEditorPage(const std::string& indexHtml, const FieldValues& values);
// A value read back from the page: the value as given when the page's text equals it apart from
// line ends (a text area keeps LF only and drops a leading line break); otherwise the page's
// text, with CR LF line ends when the value had them.
std::string ValueFromEditor(const std::string& given, const std::string& fromPage);

// "Plugin/kindeditor/index.html" and "…/index2.html" of a workspace.
std::string VisualEditorTemplatePath(const Workspace& ws);
std::string VisualEditorPagePath(const Workspace& ws);
// Writes index2.html from index.html; "" on success, else the error text.
std::string WriteVisualEditorPage(const Workspace& ws, const FieldValues& values);

}  // namespace tarvex::app

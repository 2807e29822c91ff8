#pragma once
// app/tasks: the task catalogue, settings documents, rules files, stored rules, field lists and
// names, the column tree. Uses app/workspace and the core layers; knows nothing of runs or windows.
//
// The task catalogue: the table `vorn_task` of config/config.db3 (id, fuid, name, description,
// rules), the task tree built from it, and the catalogue commands (create, rename, copy and
// paste, delete, import of field rules into sub-tasks, the bulk state commands on a task's
// content database). Names and stored settings are bound as SQL parameters, so any name works.
// All commands run on the caller's (UI) thread and ask through the Dialogs and clipboard ports.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/clipboard_port.h"
#include "app/workspace/process_state.h"
#include "app/workspace/workspace.h"
#include "platform/ports.h"

namespace tarvex::app {

// One node of the task tree (`TtreeItemCtrl`).
struct TaskNode {
    std::int64_t taskid = -2;  // -2 for the root
    std::int64_t fuid = -2;    // parent id from the table; -2 for the root
    std::string name;          // the root's is "本地任务"
    std::string settingsJson;  // the deciphered settings document
    bool is_local_task = true;
    bool rulesReadable = true;  // false when the stored `rules` is not a stored document
    std::vector<TaskNode> children;
};

struct TaskTree {
    TaskNode root;
    // Nodes shown, the root included.
    std::size_t nodeCount() const;
    // The node with this task id (-2 = the root); nullptr when not shown.
    const TaskNode* find(std::int64_t taskId) const;
    // Ids of shown tasks whose stored settings could not be read.
    std::vector<std::int64_t> unreadable;
};

// One row of `vorn_task` as stored.
struct TaskRow {
    std::int64_t id = 0;
    std::int64_t fuid = 0;
    std::string name;
    std::string rules;
};

// All rows in table order. Throws platform::SqliteError.
std::vector<TaskRow> ReadTaskRows(const Workspace& ws);
// The tree of a list of rows: root "本地任务", below it the rows with fuid 0, below each row its
// sub-tasks, in row order; rows whose parent is not shown are hidden.
TaskTree BuildTaskTree(const std::vector<TaskRow>& rows);
// Reads the table and builds the tree; a database error is shown and yields the bare root.
TaskTree BuildTaskTree(const Workspace& ws, platform::Dialogs& dialogs);

// Whether a task row exists. Throws platform::SqliteError.
bool TaskRowExists(const Workspace& ws, std::int64_t taskId);
// "update vorn_task set rules=… where id=…" with the document stored under a fresh prefix.
// Throws platform::SqliteError.
void StoreTaskRules(const Workspace& ws, std::int64_t taskId, const std::string& document);
// Inserts a task row (empty description) and returns its id; logs "菜单|新建本地任务newid:".
// Throws platform::SqliteError.
std::int64_t InsertTaskRow(const Workspace& ws, std::int64_t fuid, const std::string& name,
                           const std::string& storedRules);

// Creates a task without asking: the row with `document` stored, the database and the task
// folder. The new-task document gets the new-task tables, any other document the tables a
// pasted task gets. A document SettingsDocumentProblem refuses is not stored; when the database
// or its tables cannot be made the row is taken back. Errors are shown; nullopt when no task was
// made.
std::optional<std::int64_t> CreateTaskWithSettings(const Workspace& ws, platform::Dialogs& dialogs, std::int64_t fuid,
                                                   const std::string& name, const std::string& document);
// Creates the database file at `path` and its tables in one transaction: the new-task statements,
// or those of a pasted task (CreateContentTables) for `document`. On failure the error is shown,
// a file made here is removed again (an existing one is left alone) and the result is false.
bool CreateTaskTables(const std::string& path, const std::string& document, platform::Dialogs& dialogs,
                      bool newTaskStatements);

// Whether a task runs in one of the process's run slots (its slot's run state is not "0").
bool TaskRunningInSlots(ProcessState& state, std::int64_t taskId);

// Where the task's attachments go: its "other_savepath", else program folder + "data/" + id.
std::string AttachmentFolderOf(const Workspace& ws, const TaskNode& node);

// The bulk state commands of the "批量设置" submenu, in menu order.
enum class BulkCommand {
    ClearUrls,             // 清空已采网址库
    AllNotCollected,       // 设置全部内容为未采集
    AllNotPublished,       // 设置全部内容为未发布
    ClearDatabase,         // 清空数据库所有内容
    AllCollected,          // 设置全部内容为已采集
    AllPublished,          // 设置全部内容为已发布
    CollectedToPublished,  // 仅已采集批量设置为已发布
};
struct BulkCommandInfo {
    BulkCommand command;
    const char* menuText;
    const char* confirmText;
    const char* confirmTitle;
    const char* successMessage;  // "" = none
};
const std::vector<BulkCommandInfo>& BulkCommands();

inline constexpr std::size_t kMaxTreeNodes = 500;
inline constexpr const char* kTooManyTasks = "任务太多，空间太窄，放不下啦^_^!";

class Catalogue {
public:
    // The references must outlive the catalogue. `currentTaskId` is the process-wide current
    // task id; the tree is built at once.
    Catalogue(Workspace ws, platform::Dialogs& dialogs, ClipboardPort& clipboard,
              std::atomic<std::int64_t>& currentTaskId,
              const platform::Clock& clock = platform::SystemClock::instance());

    const TaskTree& tree() const { return m_tree; }
    const Workspace& workspace() const { return m_ws; }
    // `BuildTaskTree`: reads the table again.
    const TaskTree& rebuild();
    // Parent of a new task from the node the mouse last pressed (nullopt = empty space).
    std::int64_t parentFor(std::optional<std::int64_t> pressedNode) const;

    // Commands. `selected` is the selected node's task id (nullopt = nothing selected, -2 = root),
    // `pressed` the node of the last mouse press. Those that change the table rebuild the tree
    // and return the id of the node to select; nullopt when nothing changed.
    std::optional<std::int64_t> CreateTask(std::optional<std::int64_t> pressed);
    std::optional<std::int64_t> RenameTask(std::optional<std::int64_t> selected);
    bool CopyTask(std::optional<std::int64_t> selected);
    std::optional<std::int64_t> PasteTask(std::optional<std::int64_t> pressed);
    std::optional<std::int64_t> PasteTasks(std::optional<std::int64_t> pressed);
    bool DeleteTask(std::optional<std::int64_t> selected);
    // `pickFile` asks for the rules file once the selection has been checked; nullopt = cancel.
    bool ImportFieldsToChildren(std::optional<std::int64_t> selected,
                                const std::function<std::optional<std::string>()>& pickFile);
    // True when the statements ran.
    bool RunBulkCommand(BulkCommand command, std::optional<std::int64_t> selected);

    // Tells delete and "清空数据库所有内容" which tasks this process is running (their databases
    // are in use); without it only locks held on the database file are seen.
    void setInUseCheck(std::function<bool(std::int64_t)> inUse);

private:
    struct PasteSource {
        const TaskNode* node = nullptr;
    };
    std::optional<PasteSource> pasteSource();
    // Creates data/<id>.db3 with tables for the settings and the task folder, with the paste log.
    // On failure the error is shown and the row `id` is taken back; false.
    bool createPastedDb(std::int64_t id, const std::string& settings);
    // Why the task's database may not be deleted now (run by this process, or locked by another
    // connection), ending with `consequence`; nullopt when it may.
    std::optional<std::string> inUseRefusal(std::int64_t taskId, const std::string& consequence);
    bool clearDatabase(std::int64_t id);
    void showDbError(const std::exception& e, const std::string& prefix = "");
    std::int64_t insertOrThrow(std::int64_t fuid, const std::string& name, const std::string& stored);

    Workspace m_ws;
    platform::Dialogs& m_dialogs;
    ClipboardPort& m_clipboard;
    std::atomic<std::int64_t>& m_currentTaskId;
    const platform::Clock& m_clock;
    TaskTree m_tree;
    std::function<bool(std::int64_t)> m_inUse;
};

}  // namespace tarvex::app

#include "app/tasks/catalogue.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <set>

#include "app/tasks/field_list.h"
#include "app/tasks/rules_file.h"
#include "app/tasks/settings_document.h"
#include "app/tasks/stored_rules.h"
#include "collect/task_db.h"
#include "platform/run_log.h"
#include "platform/sqlite_db.h"

namespace tarvex::app {

using platform::SqliteConnection;
using platform::SqliteError;
using platform::SqliteStatement;

namespace {
constexpr const char* kSelectFirst = "请先选定任务，再编辑";
constexpr const char* kNotOnRoot = "根目录无法执行此操作";

std::size_t countNodes(const TaskNode& node) {
    std::size_t n = 1;
    for (const auto& c : node.children) n += countNodes(c);
    return n;
}

const TaskNode* findNode(const TaskNode& node, std::int64_t id) {
    if (node.taskid == id) return &node;
    for (const auto& c : node.children)
        if (auto* f = findNode(c, id)) return f;
    return nullptr;
}

void collectUnreadable(const TaskNode& node, std::vector<std::int64_t>& out) {
    if (!node.rulesReadable) out.push_back(node.taskid);
    for (const auto& c : node.children) collectUnreadable(c, out);
}

std::string unreadableMessage(const TaskNode& node) {
    return "任务<" + node.name + ">的设置已损坏(无法解密)，不能执行此操作";
}

void removeDbFiles(const std::string& path) {
    ::unlink(path.c_str());
    ::unlink((path + "-journal").c_str());
    ::unlink((path + "-wal").c_str());
    ::unlink((path + "-shm").c_str());
}

// Whether another connection holds the database: an exclusive transaction cannot begin.
bool databaseHeld(const std::string& path) {
    if (!pathExists(path)) return false;
    try {
        SqliteConnection db(path, SqliteConnection::Mode::ReadWrite, 200);
        db.exec("BEGIN EXCLUSIVE");
        db.exec("ROLLBACK");
        return false;
    } catch (const SqliteError& e) {
        return e.isBusy();
    }
}

void removeTaskRow(const Workspace& ws, std::int64_t id) {
    SqliteConnection db(ws.configDb, SqliteConnection::Mode::ReadWrite);
    SqliteStatement st(db, "delete from vorn_task where id=?");
    st.bind(1, id);
    st.run();
}

// Takes back a task row whose database could not be made, so no task is left without its
// tables; a failure to delete the row is shown as well.
void undoTaskRow(const Workspace& ws, platform::Dialogs& dialogs, std::int64_t id) {
    try {
        removeTaskRow(ws, id);
    } catch (const SqliteError& e) {
        dialogs.message(collect::DbErrorText(e.what()), platform::kAppTitle);
    }
}

// The settings stored for a task ("" for no row or no document); nullopt when unreadable.
std::optional<std::string> storedSettingsOf(const Workspace& ws, std::int64_t id) {
    SqliteConnection db(ws.configDb, SqliteConnection::Mode::ReadWrite);
    auto row = platform::queryAll(db, "select * from vorn_task where id=?", {platform::SqlValue::of(id)});
    return ReadStoredRules(row.text(0, "rules"));
}

std::string hhnn(const platform::Clock& clock) {
    std::time_t t = std::chrono::system_clock::to_time_t(clock.now());
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d%02d", tm.tm_hour, tm.tm_min);
    return buf;
}
}  // namespace

std::size_t TaskTree::nodeCount() const {
    return countNodes(root);
}

const TaskNode* TaskTree::find(std::int64_t taskId) const {
    return findNode(root, taskId);
}

std::vector<TaskRow> ReadTaskRows(const Workspace& ws) {
    SqliteConnection db(ws.configDb, SqliteConnection::Mode::ReadWrite);
    auto table = platform::queryAll(db, "select * from vorn_task");
    std::vector<TaskRow> rows;
    const int id = table.columnIndex("id"), fuid = table.columnIndex("fuid");
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        TaskRow row;
        row.id = id >= 0 ? table.rows[r][static_cast<std::size_t>(id)].integer : 0;
        row.fuid = fuid >= 0 ? table.rows[r][static_cast<std::size_t>(fuid)].integer : 0;
        row.name = table.text(r, "name");
        row.rules = table.text(r, "rules");
        rows.push_back(std::move(row));
    }
    return rows;
}

TaskTree BuildTaskTree(const std::vector<TaskRow>& rows) {
    TaskTree tree;
    tree.root.name = "本地任务";
    std::map<std::int64_t, std::vector<const TaskRow*>> byParent;
    for (const auto& row : rows) byParent[row.fuid].push_back(&row);
    // Each row is placed once, so rows whose parents loop back cannot recurse without end.
    std::set<std::int64_t> placed;
    std::function<void(TaskNode&, std::int64_t)> addChildren = [&](TaskNode& parent, std::int64_t parentId) {
        auto it = byParent.find(parentId);
        if (it == byParent.end()) return;
        for (const TaskRow* row : it->second) {
            if (!placed.insert(row->id).second) continue;
            TaskNode node;
            node.taskid = row->id;
            node.fuid = row->fuid;
            node.name = row->name;
            auto doc = ReadStoredRules(row->rules);
            node.rulesReadable = doc.has_value();
            node.settingsJson = doc.value_or("");
            parent.children.push_back(std::move(node));
        }
        for (auto& child : parent.children) addChildren(child, child.taskid);
    };
    addChildren(tree.root, 0);
    collectUnreadable(tree.root, tree.unreadable);
    return tree;
}

TaskTree BuildTaskTree(const Workspace& ws, platform::Dialogs& dialogs) {
    try {
        return BuildTaskTree(ReadTaskRows(ws));
    } catch (const SqliteError& e) {
        dialogs.message(collect::DbErrorText(e.what()), platform::kAppTitle);
        return BuildTaskTree(std::vector<TaskRow>{});
    }
}

bool TaskRowExists(const Workspace& ws, std::int64_t taskId) {
    SqliteConnection db(ws.configDb, SqliteConnection::Mode::ReadWrite);
    SqliteStatement st(db, "select id from vorn_task where id=?");
    st.bind(1, taskId);
    return st.step();
}

void StoreTaskRules(const Workspace& ws, std::int64_t taskId, const std::string& document) {
    SqliteConnection db(ws.configDb, SqliteConnection::Mode::ReadWrite);
    SqliteStatement st(db, "update vorn_task set rules=? where id=?");
    st.bind(1, StoreRules(document));
    st.bind(2, taskId);
    st.run();
}

std::int64_t InsertTaskRow(const Workspace& ws, std::int64_t fuid, const std::string& name,
                           const std::string& storedRules) {
    SqliteConnection db(ws.configDb, SqliteConnection::Mode::ReadWrite);
    SqliteStatement st(db, "INSERT INTO vorn_task (id,fuid,name,description,rules)  VALUES (null, ?, ?, '', ?)");
    st.bind(1, fuid);
    st.bind(2, name);
    st.bind(3, storedRules);
    st.run();
    const std::int64_t id = db.lastInsertRowId();
    platform::WriteLog("菜单|新建本地任务newid:" + std::to_string(id), 0);
    return id;
}

bool CreateTaskTables(const std::string& path, const std::string& document, platform::Dialogs& dialogs,
                      bool newTaskStatements) {
    if (!collect::CreateTaskDb(path, dialogs)) return false;
    try {
        if (newTaskStatements) {
            SqliteConnection db(path, SqliteConnection::Mode::ReadWrite);
            platform::SqliteTransaction tx(db);
            db.exec(collect::kNewTaskContentSql);
            db.exec(collect::kDownloadTableSql);
            db.exec(collect::kDownloadIndexSql);
            tx.commit();
        } else {
            collect::CreateContentTables(path, document);
        }
    } catch (const SqliteError& e) {
        dialogs.message("执行错误：" + collect::DbErrorText(e.what()), platform::kAppTitle);
        removeDbFiles(path);
        return false;
    }
    return true;
}

std::optional<std::int64_t> CreateTaskWithSettings(const Workspace& ws, platform::Dialogs& dialogs, std::int64_t fuid,
                                                   const std::string& name, const std::string& document) {
    if (auto problem = SettingsDocumentProblem(document)) {
        dialogs.message(*problem + "，不能新建任务", platform::kAppTitle);
        return std::nullopt;
    }
    std::int64_t id = 0;
    try {
        id = InsertTaskRow(ws, fuid, name, StoreRules(document));
    } catch (const SqliteError& e) {
        dialogs.message(collect::DbErrorText(e.what()), platform::kAppTitle);
        return std::nullopt;
    }
    if (!CreateTaskTables(ws.taskDbPath(id), document, dialogs, document == NewTaskDocument())) {
        undoTaskRow(ws, dialogs, id);
        return std::nullopt;
    }
    ::mkdir(ws.taskFolder(id).c_str(), 0755);
    return id;
}

bool TaskRunningInSlots(ProcessState& state, std::int64_t taskId) {
    const std::string id = std::to_string(taskId);
    for (int slot = 1; slot <= ProcessState::kSlots; ++slot)
        if (state.GetSlotField(slot, 0) == id && state.GetSlotField(slot, 4) != "0") return true;
    return false;
}

std::string AttachmentFolderOf(const Workspace& ws, const TaskNode& node) {
    if (auto doc = ParseSettings(node.settingsJson)) {
        std::string path = SettingText(*doc, "other_savepath");
        if (!path.empty()) return path;
    }
    return ws.programFolder + "data/" + std::to_string(node.taskid);
}

const std::vector<BulkCommandInfo>& BulkCommands() {
    static const std::vector<BulkCommandInfo> commands = {
        {BulkCommand::ClearUrls, "清空已采网址库", "确认清空该任务网址库吗？", "清空已采集网址", "该任务网址库已清空"},
        {BulkCommand::AllNotCollected, "设置全部内容为未采集", "确认标记全部内容为未采集吗？", "标记全部内容为未采集？",
         "执行完成"},
        {BulkCommand::AllNotPublished, "设置全部内容为未发布", "确认标记全部内容为未发布吗？", "标记全部内容为未发布？",
         "执行完成"},
        {BulkCommand::ClearDatabase, "清空数据库所有内容", "清空数据库所有内容？", "清空数据库所有内容？", ""},
        {BulkCommand::AllCollected, "设置全部内容为已采集", "确认标记全部内容为已采集吗？", "标记全部内容为已采集？",
         "执行完成"},
        {BulkCommand::AllPublished, "设置全部内容为已发布", "确认标记全部内容为已发布吗？", "标记全部内容为已发布？",
         "执行完成"},
        {BulkCommand::CollectedToPublished, "仅已采集批量设置为已发布", "确认标记已采集内容为已发布吗？",
         "标记已采集内容内容为已发布？", "执行完成"},
    };
    return commands;
}

Catalogue::Catalogue(Workspace ws, platform::Dialogs& dialogs, ClipboardPort& clipboard,
                     std::atomic<std::int64_t>& currentTaskId, const platform::Clock& clock)
    : m_ws(std::move(ws)), m_dialogs(dialogs), m_clipboard(clipboard), m_currentTaskId(currentTaskId), m_clock(clock) {
    rebuild();
}

const TaskTree& Catalogue::rebuild() {
    m_tree = BuildTaskTree(m_ws, m_dialogs);
    return m_tree;
}

std::int64_t Catalogue::parentFor(std::optional<std::int64_t> pressedNode) const {
    if (!pressedNode || *pressedNode == 0 || *pressedNode == -2) return 0;
    return *pressedNode;
}

void Catalogue::showDbError(const std::exception& e, const std::string& prefix) {
    m_dialogs.message(prefix + collect::DbErrorText(e.what()), platform::kAppTitle);
}

std::int64_t Catalogue::insertOrThrow(std::int64_t fuid, const std::string& name, const std::string& stored) {
    return InsertTaskRow(m_ws, fuid, name, stored);
}

std::optional<std::int64_t> Catalogue::CreateTask(std::optional<std::int64_t> pressed) {
    auto name = m_dialogs.askText("新建任务", "任务名称：", "新建任务" + hhnn(m_clock));
    if (!name) return std::nullopt;
    auto id = CreateTaskWithSettings(m_ws, m_dialogs, parentFor(pressed), *name, NewTaskDocument());
    if (!id) return std::nullopt;
    m_currentTaskId = *id;
    rebuild();
    m_currentTaskId = 0;
    return id;
}

std::optional<std::int64_t> Catalogue::RenameTask(std::optional<std::int64_t> selected) {
    if (!selected) {
        m_dialogs.message(kSelectFirst, platform::kAppTitle);
        return std::nullopt;
    }
    const TaskNode* node = m_tree.find(*selected);
    if (*selected == -2 || !node) {
        m_dialogs.message(kNotOnRoot, platform::kAppTitle);
        return std::nullopt;
    }
    const std::string current = node->name;
    auto answer = m_dialogs.askText("任务重命名", "请输入新的任务名称", current);
    if (!answer || answer->empty() || *answer == current) return std::nullopt;
    try {
        SqliteConnection db(m_ws.configDb, SqliteConnection::Mode::ReadWrite);
        SqliteStatement st(db, "update vorn_task set name=? where id=?");
        st.bind(1, *answer);
        st.bind(2, *selected);
        st.run();
    } catch (const SqliteError& e) {
        showDbError(e);
        return std::nullopt;
    }
    rebuild();
    return *selected;
}

bool Catalogue::CopyTask(std::optional<std::int64_t> selected) {
    if (!selected) {
        m_dialogs.message(kSelectFirst, platform::kAppTitle);
        return false;
    }
    if (*selected == -2) {
        m_dialogs.message(kNotOnRoot, platform::kAppTitle);
        return false;
    }
    if (m_tree.nodeCount() >= kMaxTreeNodes) {
        m_dialogs.message(kTooManyTasks, platform::kAppTitle);
        return false;
    }
    m_clipboard.setText(CopiedTaskText(*selected));
    return true;
}

std::optional<Catalogue::PasteSource> Catalogue::pasteSource() {
    if (m_tree.nodeCount() > kMaxTreeNodes - 1) {
        m_dialogs.message(kTooManyTasks, platform::kAppTitle);
        return std::nullopt;
    }
    const std::string clip = m_clipboard.text();
    if (clip.find(kCopiedTaskPrefix) == std::string::npos) {
        m_dialogs.message("请先复制一个任务，才能粘贴！", platform::kAppTitle);
        return std::nullopt;
    }
    auto id = CopiedTaskId(clip);
    const TaskNode* node = id && *id != -2 ? m_tree.find(*id) : nullptr;
    if (!node) {
        m_dialogs.message("复制任务文本有误！", platform::kAppTitle);
        return std::nullopt;
    }
    // Pasting an unreadable task would store an empty document in place of its settings.
    if (!node->rulesReadable) {
        m_dialogs.message(unreadableMessage(*node), platform::kAppTitle);
        return std::nullopt;
    }
    // Settings stored before fields were checked may name columns the new database cannot hold.
    if (auto problem = FieldColumnsProblem(node->settingsJson)) {
        m_dialogs.message("任务<" + node->name + ">的" + *problem + "，不能粘贴", platform::kAppTitle);
        return std::nullopt;
    }
    return PasteSource{node};
}

bool Catalogue::createPastedDb(std::int64_t id, const std::string& settings) {
    const std::string path = m_ws.taskDbPath(id);
    if (!collect::CreateTaskDb(path, m_dialogs)) {
        undoTaskRow(m_ws, m_dialogs, id);
        return false;
    }
    platform::WriteLog("菜单|粘贴任务 成功创建数据库：" + path, 0);
    try {
        collect::CreateContentTables(path, settings);
    } catch (const SqliteError& e) {
        showDbError(e, "执行错误：");
        removeDbFiles(path);
        undoTaskRow(m_ws, m_dialogs, id);
        return false;
    }
    platform::WriteLog("菜单|粘贴任务 数据库字段添加成功", 0);
    ::mkdir(m_ws.taskFolder(id).c_str(), 0755);
    return true;
}

std::optional<std::int64_t> Catalogue::PasteTask(std::optional<std::int64_t> pressed) {
    auto source = pasteSource();
    if (!source) return std::nullopt;
    const std::string name = source->node->name + "2";
    const std::string settings = source->node->settingsJson;
    std::int64_t id = 0;
    try {
        id = insertOrThrow(parentFor(pressed), name, StoreRules(settings));
    } catch (const SqliteError& e) {
        showDbError(e);
        return std::nullopt;
    }
    if (!createPastedDb(id, settings)) {
        rebuild();
        return std::nullopt;
    }
    rebuild();
    return id;
}

std::optional<std::int64_t> Catalogue::PasteTasks(std::optional<std::int64_t> pressed) {
    auto source = pasteSource();
    if (!source) return std::nullopt;
    auto answer = m_dialogs.askText("批量粘贴任务", "请输入新增任务数量：", "");
    if (!answer) return std::nullopt;
    const std::string text = TrimText(*answer);
    long long count = 0;
    {
        bool digits = !text.empty();
        for (char c : text) digits = digits && std::isdigit(static_cast<unsigned char>(c));
        if (!digits) {
            m_dialogs.message("仅能输入数字!", platform::kAppTitle);
            return std::nullopt;
        }
        // Any run of digits is a number; one too long for an integer is simply too many.
        const std::size_t first = std::min(text.find_first_not_of('0'), text.size());
        count = text.size() - first > 3 ? 1000 : std::stoll("0" + text.substr(first));
    }
    if (count <= 0 || count > 20) {
        m_dialogs.message("单次批量新增任务不能大于20", platform::kAppTitle);
        return std::nullopt;
    }
    const std::string baseName = source->node->name;
    const std::string settings = source->node->settingsJson;
    const std::string stored = StoreRules(settings);  // one stored text for every copy
    const std::int64_t parent = parentFor(pressed);
    std::optional<std::int64_t> last;
    for (long long k = 0; k < count; ++k) {
        std::int64_t id = 0;
        try {
            id = insertOrThrow(parent, baseName + "-" + std::to_string(k + 2), stored);
        } catch (const SqliteError& e) {
            showDbError(e);
            break;
        }
        if (!createPastedDb(id, settings)) break;
        last = id;
    }
    rebuild();
    return last;
}

bool Catalogue::DeleteTask(std::optional<std::int64_t> selected) {
    if (!selected) {
        m_dialogs.message(kSelectFirst, platform::kAppTitle);
        return false;
    }
    if (*selected == -2) {
        m_dialogs.message("根节点不能删除", platform::kAppTitle);
        return false;
    }
    const TaskNode* node = m_tree.find(*selected);
    if (!node) return false;
    if (!m_dialogs.confirm("确认删除任务吗？", "删除任务")) return false;
    if (!node->children.empty()) {
        m_dialogs.message("为防止误删除，请先删除本任务下的子目录", platform::kAppTitle);
        return false;
    }
    // Deleting the database under a run (or another program's open transaction) would lose rows.
    if (auto refusal = inUseRefusal(*selected, "不能删除任务")) {
        m_dialogs.message(*refusal, platform::kAppTitle);
        return false;
    }
    try {
        SqliteConnection db(m_ws.configDb, SqliteConnection::Mode::ReadWrite);
        SqliteStatement st(db, "delete from vorn_task where id=?");
        st.bind(1, *selected);
        st.run();
    } catch (const SqliteError& e) {
        showDbError(e);
        return false;
    }
    removeDbFiles(m_ws.taskDbPath(*selected));
    rebuild();
    return true;
}

bool Catalogue::ImportFieldsToChildren(std::optional<std::int64_t> selected,
                                       const std::function<std::optional<std::string>()>& pickFile) {
    if (!selected) {
        m_dialogs.message("请先选择一个父目录", platform::kAppTitle);
        return false;
    }
    if (*selected == -2) {
        m_dialogs.message(kNotOnRoot, platform::kAppTitle);
        return false;
    }
    const TaskNode* parent = m_tree.find(*selected);
    if (!parent || parent->children.empty()) {
        m_dialogs.message("该任务需包含子任务", platform::kAppTitle);
        return false;
    }
    auto path = pickFile();
    if (!path) return false;
    RulesFileContent content;
    if (ReadRulesFile(*path, content, m_dialogs) != RulesFileStatus::Ok) return false;
    SettingsJson fields = SettingsJson::array();
    for (const auto& f : content.fields) fields.push_back(f);
    {
        SettingsJson probe = SettingsJson::object();
        probe["fieldsAll"] = fields;
        if (auto problem = SettingsDocumentProblem(DumpJson(probe))) {
            m_dialogs.message("规则文件的" + *problem + "，不能导入", platform::kAppTitle);
            return false;
        }
    }
    // Copy the children first: the tree is rebuilt at the end only.
    const std::vector<TaskNode> children = parent->children;
    bool changed = false;
    for (const auto& child : children) {
        m_dialogs.message(child.name, platform::kAppTitle);
        auto doc = child.settingsJson.empty() ? std::optional<SettingsJson>(SettingsJson::object())
                                              : ParseSettings(child.settingsJson);
        if (!child.rulesReadable || !doc) {
            m_dialogs.message(unreadableMessage(child), platform::kAppTitle);
            continue;
        }
        (*doc)["fieldsAll"] = fields;
        const std::string document = DumpJson(*doc);
        // The sub-task's own list-page fields must still fit beside the imported ones.
        if (auto problem = FieldColumnsProblem(document)) {
            m_dialogs.message("任务<" + child.name + ">：" + *problem + "，不能导入", platform::kAppTitle);
            continue;
        }
        try {
            // Columns first: a sub-task is never left with settings its database cannot store.
            collect::AddMissingColumns(m_ws.taskDbPath(child.taskid), document);
            StoreTaskRules(m_ws, child.taskid, document);
            changed = true;
        } catch (const SqliteError& e) {
            showDbError(e, "执行错误：");
        }
    }
    rebuild();
    return changed;
}

void Catalogue::setInUseCheck(std::function<bool(std::int64_t)> inUse) {
    m_inUse = std::move(inUse);
}

std::optional<std::string> Catalogue::inUseRefusal(std::int64_t taskId, const std::string& consequence) {
    if (m_inUse && m_inUse(taskId)) return "当前任务正在使用中,请移除任务队列后再使用！";
    if (databaseHeld(m_ws.taskDbPath(taskId))) return "任务数据库正被其它程序使用(数据库被锁定)，" + consequence;
    return std::nullopt;
}

bool Catalogue::clearDatabase(std::int64_t id) {
    const std::string path = m_ws.taskDbPath(id);
    auto settings = storedSettingsOf(m_ws, id);
    if (!settings) {
        m_dialogs.message("任务设置已损坏(无法解密)，不能清空数据库", platform::kAppTitle);
        return false;
    }
    if (auto problem = FieldColumnsProblem(*settings)) {
        m_dialogs.message("任务设置的" + *problem + "，不能清空数据库", platform::kAppTitle);
        return false;
    }
    if (m_inUse && m_inUse(id)) {
        m_dialogs.message("当前任务正在使用中,请移除任务队列后再使用！", platform::kAppTitle);
        return false;
    }
    if (databaseHeld(path)) {
        m_dialogs.message("数据库文件被锁，无法清空数据库，请重启下软件！", platform::kAppTitle);
        return false;
    }
    // The new database is made beside the old one and only then put in its place, so a failure
    // keeps the old database and its rows.
    const std::string fresh = path + ".new";
    removeDbFiles(fresh);
    if (!CreateTaskTables(fresh, *settings, m_dialogs, false)) {
        removeDbFiles(fresh);
        return false;
    }
    removeDbFiles(path);
    if (std::rename(fresh.c_str(), path.c_str()) != 0) {
        m_dialogs.message("数据库创建失败", platform::kAppTitle);
        removeDbFiles(fresh);
        return false;
    }
    platform::WriteLog("菜单|粘贴任务 成功创建数据库：" + path, 0);
    platform::WriteLog("菜单|粘贴任务 数据库字段添加成功", 0);
    return true;
}

bool Catalogue::RunBulkCommand(BulkCommand command, std::optional<std::int64_t> selected) {
    const BulkCommandInfo* info = nullptr;
    for (const auto& c : BulkCommands())
        if (c.command == command) info = &c;
    if (!selected) {
        m_dialogs.message(command == BulkCommand::ClearUrls ? "请先选定任务，再操作" : kSelectFirst,
                          platform::kAppTitle);
        return false;
    }
    if (*selected == -2) {
        m_dialogs.message(kNotOnRoot, platform::kAppTitle);
        return false;
    }
    if (!m_dialogs.confirm(info->confirmText, info->confirmTitle)) return false;
    const std::int64_t id = *selected;
    const std::string path = m_ws.taskDbPath(id);
    m_currentTaskId = id;
    bool ok = false;
    try {
        switch (command) {
            case BulkCommand::ClearUrls:
                collect::execScript(path, "update content set url='',geturl=0");
                break;
            case BulkCommand::AllNotCollected:
                collect::execScript(
                    path,
                    "update content set getc=0;DELETE FROM download;UPDATE sqlite_sequence set seq=0 where "
                    "name=\"download\"");
                break;
            case BulkCommand::AllNotPublished: {
                const std::string settings = storedSettingsOf(m_ws, id).value_or("");
                std::string sql = "update content set postc=0";
                for (const auto& key : collect::SiteKeysOf(settings))
                    sql += " , " + platform::quoteIdentifier("postc_" + key) + "=0";
                collect::execScript(path, sql);
                break;
            }
            case BulkCommand::ClearDatabase:
                ok = clearDatabase(id);
                break;
            case BulkCommand::AllCollected:
                collect::execScript(path, "update content set getc=1");
                break;
            case BulkCommand::AllPublished:
                collect::execScript(path, "update content set postc=1");
                break;
            case BulkCommand::CollectedToPublished:
                collect::execScript(path, "update content set postc=1 where getc=1");
                break;
        }
        if (command != BulkCommand::ClearDatabase) {
            ok = true;
            m_dialogs.message(info->successMessage, platform::kAppTitle);
        }
    } catch (const SqliteError& e) {
        showDbError(e, "执行错误：");
    }
    m_currentTaskId = 0;
    return ok;
}

}  // namespace tarvex::app

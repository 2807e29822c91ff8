#include "app/schedule/schedule_forms.h"

#include <algorithm>
#include <sstream>

#include "engine/field_rule.h"
#include "platform/run_log.h"

namespace tarvex::app {

using platform::kAppTitle;

namespace {
bool beginsWith(const std::string& s, const std::string& prefix) {
    return s.rfind(prefix, 0) == 0;
}
}  // namespace

bool AddToWaitingQueue(ProcessState& state, platform::Dialogs& dialogs, std::int64_t taskId, const std::string& name,
                       const std::array<bool, 3>& stages) {
    if (!stages[0] && !stages[1] && !stages[2]) {
        dialogs.message("至少勾选一个操作步聚", kAppTitle);
        return false;
    }
    const std::string entry = QueueEntryText(taskId, name, stages);
    // The entry's own "|" ends the name, so task "ab" is not taken for a queued "abc".
    const std::string key = ScheduleLine::parse(entry).key() + "|";
    {
        std::lock_guard<std::mutex> g(state.slotRecordLock());
        auto& q = state.waitingQueue;
        if (std::none_of(q.begin(), q.end(), [&](const std::string& e) { return beginsWith(e, key); })) {
            q.push_back(entry);
            return true;
        }
    }
    dialogs.message("已在任务队例！", kAppTitle);
    return false;
}

std::vector<std::string> WaitingTasks(ProcessState& state) {
    std::lock_guard<std::mutex> g(state.slotRecordLock());
    std::vector<std::string> out;
    for (const auto& e : state.waitingQueue) out.push_back(ScheduleLine::parse(e).key());
    return out;
}

std::vector<std::string> RanTasks(ProcessState& state) {
    std::lock_guard<std::mutex> g(state.slotRecordLock());
    return state.ranList;
}

int MoveQueueEntry(ProcessState& state, int index, int delta) {
    std::lock_guard<std::mutex> g(state.slotRecordLock());
    auto& q = state.waitingQueue;
    const int to = index + delta;
    if (index < 0 || to < 0 || index >= static_cast<int>(q.size()) || to >= static_cast<int>(q.size())) return index;
    std::swap(q[static_cast<std::size_t>(index)], q[static_cast<std::size_t>(to)]);
    return to;
}

int DeleteQueueEntries(ProcessState& state, const std::string& field0) {
    if (field0.empty()) return 0;
    std::lock_guard<std::mutex> g(state.slotRecordLock());
    auto& q = state.waitingQueue;
    const auto before = q.size();
    q.erase(std::remove_if(q.begin(), q.end(), [&](const std::string& e) { return beginsWith(e, field0 + "|"); }),
            q.end());
    return static_cast<int>(before - q.size());
}

// ---------------------------------------------------------------------------------------------

ScheduleForm::ScheduleForm(Workspace ws, ProcessState& state, platform::Dialogs& dialogs)
    : m_ws(std::move(ws)), m_state(state), m_dialogs(dialogs) {
    reload();
}

void ScheduleForm::reload() {
    m_rows.clear();
    for (const auto& l : ReadScheduleFile(m_ws.autotaskFile).value_or(std::vector<std::string>{}))
        m_rows.push_back(ScheduleLine::parse(l));
}

std::vector<std::string> ScheduleForm::rowCells(std::size_t row) const {
    const auto& f = m_rows.at(row).fields;
    return {std::to_string(row + 1), f[0], f[2], f[3], f[4], f[5], "", f[1]};
}

void ScheduleForm::newSchedule() {
    m_editor = ScheduleEditor{};
    m_editedRow.reset();
    m_editorOpen = true;
}

void ScheduleForm::openRow(std::size_t row) {
    if (row >= m_rows.size()) return;
    const auto& f = m_rows[row].fields;
    m_editor = ScheduleEditor{};
    m_editor.taskName = f[0];
    m_editor.stages = ParseStageFlags(f[1]);
    std::istringstream in(f[2]);
    for (std::string part; std::getline(in, part, ',');) {
        auto n = engine::ParseInteger(part);
        if (n && *n >= 0 && *n <= 59 &&
            std::find(m_editor.minutes.begin(), m_editor.minutes.end(), *n) == m_editor.minutes.end())
            m_editor.minutes.push_back(static_cast<int>(*n));
    }
    std::sort(m_editor.minutes.begin(), m_editor.minutes.end());
    m_editor.days = f[3];
    m_editor.weekdays = f[4];
    m_editor.hours = f[5];
    m_editedRow = row;
    m_editorOpen = true;
}

void ScheduleForm::cancelEdit() {
    m_editorOpen = false;
    m_editedRow.reset();
}

void ScheduleForm::takeTask(std::optional<std::pair<std::int64_t, std::string>> selected) {
    if (!selected || selected->first <= 0) {
        m_dialogs.message("请先选定一个任务", kAppTitle);
        return;
    }
    m_editor.taskName = std::to_string(selected->first) + "," + selected->second;
}

bool ScheduleForm::write(const std::vector<std::string>& lines) {
    if (WriteScheduleFile(m_ws.autotaskFile, lines)) return true;
    m_dialogs.message("计划任务文件无法写入：" + m_ws.autotaskFile, kAppTitle);
    return false;
}

bool ScheduleForm::save() {
    auto& e = m_editor;
    // 1.
    if (e.taskName.empty()) {
        m_dialogs.message("任务名不能为空！", kAppTitle);
        return false;
    }
    // 2. Each list is written back normalised; the first one that is not numbers refuses.
    for (std::string* field : {&e.days, &e.weekdays, &e.hours}) {
        auto r = NormaliseNumberList(*field);
        if (!r.error.empty()) {
            m_dialogs.message(r.error, kAppTitle);
            return false;
        }
        *field = r.text;
    }
    // 3.
    if (!e.stages[0] && !e.stages[1] && !e.stages[2]) {
        m_dialogs.message("列表采集、内容采集、发布内容不能全部为空", kAppTitle);
        return false;
    }
    // 4.
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        if (m_editedRow && *m_editedRow == r) continue;
        if (m_rows[r].key() == e.taskName) {
            m_dialogs.message("任务名不能重复", kAppTitle);
            return false;
        }
    }
    // 5.
    if (e.minutes.empty()) {
        m_dialogs.message("分钟数不能为空", kAppTitle);
        return false;
    }
    // 6.
    std::string minutes;
    for (std::size_t i = 0; i < e.minutes.size(); ++i) minutes += (i ? "," : "") + std::to_string(e.minutes[i]);
    const std::string line =
        e.taskName + "|" + StageFlagsText(e.stages) + "|" + minutes + "|" + e.days + "|" + e.weekdays + "|" + e.hours;
    std::vector<std::string> lines;
    for (const auto& r : m_rows) lines.push_back(r.text);
    if (m_editedRow && *m_editedRow < m_rows.size()) {
        const std::string opened = m_rows[*m_editedRow].key();
        auto it = std::find_if(m_rows.begin(), m_rows.end(), [&](const ScheduleLine& l) { return l.key() == opened; });
        lines[static_cast<std::size_t>(it - m_rows.begin())] = line;
    } else {
        lines.push_back(line);
    }
    // 7.
    if (!write(lines)) return false;
    reload();
    cancelEdit();
    return true;
}

bool ScheduleForm::deleteRow(std::optional<std::size_t> row) {
    if (!row || *row >= m_rows.size()) {
        m_dialogs.message("请选选中一个任务后，再删除！", kAppTitle);
        return false;
    }
    const std::string key = m_rows[*row].key();
    std::vector<std::string> lines;
    bool removed = false;
    for (const auto& r : m_rows) {
        if (!removed && r.key() == key) {
            removed = true;
            continue;
        }
        lines.push_back(r.text);
    }
    if (!write(lines)) return false;
    reload();
    cancelEdit();
    return true;
}

void ScheduleForm::setScheduling(bool on) {
    m_state.scheduling = on;
    platform::WriteLog(on ? "计划任务|开始任务" : "计划任务|停止任务", 0);
}

}  // namespace tarvex::app

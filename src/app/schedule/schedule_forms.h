#pragma once
// The models behind the schedule dialog ("计划任务设置") and the waiting-queue commands
// ("添加到任务队列", the "等待运行的任务" window). The windows show their state and forward
// clicks; every message goes through the Dialogs port. UI thread.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/schedule/schedule.h"
#include "app/workspace/process_state.h"
#include "app/workspace/workspace.h"
#include "platform/ports.h"

namespace tarvex::app {

// ---- waiting queue (every call takes the slot-record lock) ----

// "确定" of "添加到任务队列": refuses no ticked stage ("至少勾选一个操作步聚") and a task that is
// already queued ("已在任务队例！"); otherwise appends the entry. True when appended.
bool AddToWaitingQueue(ProcessState& state, platform::Dialogs& dialogs, std::int64_t taskId, const std::string& name,
                       const std::array<bool, 3>& stages);
// Field 0 of every queue entry, in queue order, and the ran list.
std::vector<std::string> WaitingTasks(ProcessState& state);
std::vector<std::string> RanTasks(ProcessState& state);
// "↑" (delta −1) and "↓" (+1): swaps entry `index` with its neighbour; the new index of the
// entry, or `index` when it could not move.
int MoveQueueEntry(ProcessState& state, int index, int delta);
// "X": deletes every entry that begins with `field0` + "|"; the number deleted.
int DeleteQueueEntries(ProcessState& state, const std::string& field0);

// ---- schedule dialog ----

struct ScheduleEditor {
    std::string taskName;  // field 0, "任务名称："; filled only by takeTask
    std::array<bool, 3> stages{true, true, true};
    std::vector<int> minutes;  // selected minutes, ascending (the list's order)
    std::string days;
    std::string weekdays;
    std::string hours = "8,12,23";
};

class ScheduleForm {
public:
    static constexpr const char* kColumns[] = {"序号", "任务名称", "分钟",         "日",
                                               "星期", "小时",     "最后执行时间", "状态"};

    ScheduleForm(Workspace ws, ProcessState& state, platform::Dialogs& dialogs);

    // The lines of the file, one row each (an unreadable file is no rows).
    const std::vector<ScheduleLine>& rows() const { return m_rows; }
    void reload();
    // The cells of a row for the columns above.
    std::vector<std::string> rowCells(std::size_t row) const;

    bool editorOpen() const { return m_editorOpen; }
    ScheduleEditor& editor() { return m_editor; }
    // The row the editor was opened with; nullopt for a new schedule.
    std::optional<std::size_t> editedRow() const { return m_editedRow; }

    void newSchedule();             // "新建任务"
    void openRow(std::size_t row);  // a row was selected
    void cancelEdit();              // "取消编辑"
    // "获取任务" with the task selected in the dialog's tree (nullopt = none selected).
    void takeTask(std::optional<std::pair<std::int64_t, std::string>> selected);
    bool save();                                     // "保存任务"
    bool deleteRow(std::optional<std::size_t> row);  // "删除任务"

    // "开始任务" / "停止任务": the scheduling switch. Only the button that changes it is enabled.
    void setScheduling(bool on);
    bool startEnabled() const { return !m_state.scheduling.load(); }
    bool stopEnabled() const { return m_state.scheduling.load(); }

private:
    bool write(const std::vector<std::string>& lines);

    Workspace m_ws;
    ProcessState& m_state;
    platform::Dialogs& m_dialogs;
    std::vector<ScheduleLine> m_rows;
    ScheduleEditor m_editor;
    bool m_editorOpen = false;
    std::optional<std::size_t> m_editedRow;
};

}  // namespace tarvex::app

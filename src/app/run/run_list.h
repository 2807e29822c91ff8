#pragma once
// The run list and the five run slots as a model: rows (number, task name, state text, the
// three stage boxes), the slot pages (caption, shown), the commands add/start/pause/stop/
// remove/close page, and the button states. Commands run on the UI thread (or the CLI's main
// thread); runners report back through RunListPort from their own threads.
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/run/runner.h"
#include "app/run/slot_view_model.h"

namespace tarvex::app {

inline constexpr const char* kStateWaiting = "等待运行";
inline constexpr const char* kStateRunning = "正在运行";
inline constexpr const char* kStatePaused = "暂停运行";
inline constexpr const char* kStateStopped = "停止运行";

struct RunRow {
    std::string name;
    std::string state = kStateWaiting;
    std::array<bool, 3> stages{true, true, true};  // 列表, 内容, 发布
    int slot = 0;
    std::int64_t taskId = 0;
};

struct RunButtons {
    std::string startCaption = "开始运行";
    bool start = false, pause = false, stop = false;
};

struct SlotPageState {
    std::string caption = "任务名";
    bool shown = false;
};

// The settings document and name of a task, looked up when a run starts.
struct TaskToRun {
    std::string name;
    std::string settings;
};
using TaskLookup = std::function<std::optional<TaskToRun>(std::int64_t taskId)>;

class RunList final : public RunListPort {
public:
    // `slots` receives the page resets; all references must outlive the model.
    RunList(RunnerServices services, SlotViewModel& slots, TaskLookup lookup);
    ~RunList() override;

    // Called after every change, from the thread that made it.
    void setOnChanged(std::function<void()> fn);

    bool AddToRunList(std::int64_t taskId, const std::string& name);
    // `logPrefix` starts the log line of the start: a user's start, or the scheduler's.
    bool StartRun(int row, const std::string& logPrefix = "批量采集 线程开始");
    // "开始运行" pressed by a person: asks first (through the dialogs) when the run would end in
    // a refusal the user can mend now, such as publishing without a publish module; then
    // StartRun. False when the user declined or the run did not start.
    bool StartRunAsked(int row);
    void PauseRun(int row);
    void StopRun(int row);
    bool RemoveFromRunList(int row);
    bool CloseSlotPage(int slot);
    void setStage(int row, int stage, bool on);

    RunButtons RefreshRunButtons(std::optional<int> selectedRow) const;
    std::vector<RunRow> rows() const;
    // Whether a row is running or paused.
    bool anyRunning() const;
    SlotPageState page(int slot) const;
    // Index of the row named `name`, or -1.
    int rowOf(const std::string& name) const;

    // RunListPort
    std::array<bool, 3> stagesOf(const std::string& name) override;
    void runEnded(const std::string& name) override;

    // The runner last started in each slot (kept so its late workers are known).
    std::shared_ptr<collect::RunCounters> lastRunCounters(int slot) const;

private:
    void changed();
    void message(const std::string& text);
    // Gives a slot back; the caller holds m_lock.
    void freeSlot(int slot);

    RunnerServices m_s;
    SlotViewModel& m_slots;
    TaskLookup m_lookup;
    mutable std::mutex m_lock;
    std::vector<RunRow> m_rows;
    std::array<SlotPageState, 6> m_pages{};
    std::array<std::shared_ptr<collect::RunCounters>, 6> m_lastRun{};
    std::function<void()> m_onChanged;
};

// The question asked before a run whose publish stage is ticked while the task names no publish
// module (it would end with "发布规则没有设置！"); "" when there is nothing to ask.
std::string PublishWithoutModuleQuestion(const std::string& settingsJson, const std::array<bool, 3>& stages);

// The task's name and deciphered settings from the catalogue; nullopt with the reason in `error`,
// worded to follow "task N ": a catalogue that cannot be read (with the database's error), a
// missing task, or stored settings that cannot be read.
std::optional<TaskToRun> LookupTaskToRun(const Workspace& ws, std::int64_t taskId, std::string* error = nullptr);
// A lookup over the catalogue of a workspace (the task's name and deciphered settings).
TaskLookup catalogueLookup(const Workspace& ws);

}  // namespace tarvex::app

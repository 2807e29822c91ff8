#pragma once
// app/schedule: the timetable file, the scheduler and the waiting queue, with their window models.
// Uses app/run and app/workspace.
//
// The scheduler: every 500 ms it reads the timetable "config/autotask.txt"
// (while the scheduling switch is on) and the waiting queue, and starts each due entry the way
// a user would with "添加到启动栏" and "开始". Run-list changes go through SchedulerPort, which
// the desktop answers on its UI thread while the scheduler waits.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/run/run_list.h"
#include "app/schedule/schedule.h"
#include "app/workspace/process_state.h"
#include "app/workspace/thread_registry.h"
#include "app/workspace/workspace.h"
#include "platform/ports.h"

namespace tarvex::app {

// What the scheduler asks of the run list. Each call is one hand-over (the desktop runs it on
// the UI thread and the scheduler waits for it).
class SchedulerPort {
public:
    virtual ~SchedulerPort() = default;
    // `removeStoppedRow`: removes the first row in "停止运行" and frees its slot; its name, or
    // nullopt when no row has stopped. `entryName` is only logged.
    virtual std::optional<std::string> removeStoppedRow(const std::string& entryName) = 0;
    // `canStart`: false when the run list is full, a slot page carries the name, or a row of
    // the run list already holds the task (whatever name it has there): one run per task.
    virtual bool canStart(std::int64_t taskId, const std::string& name) = 0;
    // `addToRunList`: a row for the task with these stage boxes and the first free slot.
    virtual bool addToRunList(std::int64_t taskId, const std::string& name, const std::array<bool, 3>& stages) = 0;
    // `startRow`: starts the row of that name; logs "计划任务 线程开始" + name + "," + id.
    virtual bool startRow(std::int64_t taskId, const std::string& name) = 0;
};

// Runs a hand-over on the thread that owns the run list and waits for it. False when it was
// abandoned (the process is closing); the default runs it at once on the calling thread.
using UiInvoker = std::function<bool(const std::function<void()>&)>;

// The port over the run list model, each call handed over through `invoke`.
class RunListSchedulerPort final : public SchedulerPort {
public:
    explicit RunListSchedulerPort(RunList& list, UiInvoker invoke = {});
    std::optional<std::string> removeStoppedRow(const std::string& entryName) override;
    bool canStart(std::int64_t taskId, const std::string& name) override;
    bool addToRunList(std::int64_t taskId, const std::string& name, const std::array<bool, 3>& stages) override;
    bool startRow(std::int64_t taskId, const std::string& name) override;

private:
    bool onUi(const std::function<void()>& fn);
    RunList& m_list;
    UiInvoker m_invoke;
    std::set<std::string> m_skipLogged;  // entries whose skip was logged; touched on the UI thread
};

struct SchedulerServices {
    Workspace workspace;
    ProcessState* state = nullptr;
    SchedulerPort* port = nullptr;
    const platform::Clock* clock = &platform::SystemClock::instance();
    // Ids of the tasks in the catalogue; nullopt when it cannot be read (then nothing is
    // skipped for it). Default: read from the workspace's catalogue.
    std::function<std::optional<std::set<std::int64_t>>()> taskIds;
    // A queue file that other processes append entries to (`tarvex-cli queue add`); "" = none.
    std::string queueFile;
    int pollMs = 500;
};

class Scheduler {
public:
    explicit Scheduler(SchedulerServices services);

    // One look at the timetable and the queue (steps 2–6); returns the number of entries started.
    int pass();
    // The loop: a pass every pollMs until stop() or the process's closing flag.
    void run();
    void stop() { m_stop = true; }
    bool stopped() const { return m_stop.load(); }

    // Starts the loop on a registry thread; the scheduler lives until the loop ends.
    static void Start(std::shared_ptr<Scheduler> scheduler, ThreadRegistry& threads);

private:
    struct Entry {
        std::string text;
        enum class Source { Timetable, Queue, QueueFile } source = Source::Timetable;
    };
    std::vector<Entry> workList();
    bool startEntry(std::size_t i, const Entry& entry, const std::tm& now,
                    const std::optional<std::set<std::int64_t>>& ids);
    void dropEntry(const Entry& entry);
    void finishQueueEntry(const Entry& entry, const std::tm& now);
    bool closing() const;

    SchedulerServices m_s;
    std::map<std::string, std::string> m_lastStartMinute;  // field 0 → "yyyy-mm-dd-hh-nn"
    std::atomic<bool> m_stop{false};
};

// Task ids of a workspace's catalogue (nullopt when it cannot be read).
std::optional<std::set<std::int64_t>> CatalogueTaskIds(const Workspace& ws);

// The queue file shared by `tarvex-cli queue add` and `tarvex-cli schedule`: one entry per
// line, changed under an advisory file lock.
struct QueueFile {
    std::string path;
    // Appends an entry unless one with the same id + "," + name is there; false when it was.
    // Throws std::runtime_error when the file cannot be written.
    bool add(const std::string& entry) const;
    std::vector<std::string> entries() const;
    // Removes the first line equal to `entry`.
    void remove(const std::string& entry) const;
};
std::string QueueFilePath(const Workspace& ws);

}  // namespace tarvex::app

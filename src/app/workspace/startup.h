#pragma once
// Process start: refuse a second copy on the same workspace, check the configuration
// database, fix the workspace paths, switch the run log on when "log" exists and create the
// process-wide state. Shared by the GUI and tarvex-cli.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/workspace/process_state.h"
#include "app/workspace/thread_registry.h"
#include "app/workspace/workspace.h"
#include "platform/instance_lock.h"
#include "platform/ports.h"

namespace tarvex::app {

// A started process: owns the single-instance lock and the process-wide state.
struct Session {
    Workspace workspace;
    std::unique_ptr<platform::InstanceLock> instanceLock;
    // The locks of the tasks this process works on alone (StartOptions::ownTasks).
    std::vector<std::unique_ptr<platform::InstanceLock>> taskLocks;
    std::unique_ptr<ProcessState> state;
    bool logOn = false;
};

// TaskInUse: another process works on one of the tasks named in StartOptions::ownTasks.
enum class StartStatus { Started, AlreadyRunning, ConfigMissing, TaskInUse };

struct StartResult {
    StartStatus status = StartStatus::Started;
    std::unique_ptr<Session> session;  // set when Started
};

struct StartOptions {
    // The GUI refuses a second copy; tarvex-cli commands that only read may share a
    // workspace with a running program and pass false.
    bool singleInstance = true;
    // With singleInstance: the workspace is held shared instead of whole, together with a lock
    // of each task named here, so programs that work on different tasks (tarvex-cli run, task
    // set-settings) run side by side on one workspace. They are refused while a program holds
    // the workspace whole (the desktop program, the scheduler) and it is refused while they run;
    // two of them never hold the same task. Unset: the workspace is held whole.
    std::optional<std::vector<std::int64_t>> ownTasks;
};

// Runs the start steps that need no window. Messages go through `dialogs`: "该程序正在运行！"
// (caption "提示") for a second copy, "config配置文件丢失,软件即将退出！" for a missing
// configuration database; in both cases nothing else is touched and no log file is written.
// A task of ownTasks that another process holds: "任务" + id + "正在另一个程序中运行！" (caption
// "提示") and TaskInUse, likewise touching nothing.
StartResult startProcess(const std::string& programFolder, platform::Dialogs& dialogs, StartOptions options = {});

// Writes the start-complete line; called by the front end once its window (or console) is ready.
void logStartComplete();

// How long the end of the program waits for runs and workers to stop.
inline constexpr std::chrono::seconds kCloseWait{10};

// Ends the background work of a process before its state is destroyed: sets the closing flag,
// which every runner, content worker and the scheduler reads as a stop (a fetch in progress is
// cancelled), and waits up to `timeout` for the threads of `threads`. True when they all
// ended and the state (and the windows they report to) may be destroyed; false when some still
// run and use them, in which case the caller must leave them alone (the program then exits without running
// destructors).
bool CloseBackgroundWork(ProcessState& state, ThreadRegistry& threads, std::chrono::milliseconds timeout = kCloseWait);

// Path of the single-instance lock file of a workspace: ".tarvex.lock" in the program folder, or
// fallbackLockPath when that file cannot be opened.
std::string instanceLockPath(const Workspace& ws);
// The lock file in /tmp for a program folder, named by the folder's device and inode, so every
// path that reaches the same folder (a symlink included) names the same lock.
std::string fallbackLockPath(const std::string& programFolder);
// Path of the lock of one task: ".tarvex-locks/task-<id>.lock" in the program folder, or a file
// in /tmp named like fallbackLockPath when that one cannot be opened.
std::string taskLockPath(const Workspace& ws, std::int64_t taskId);
// The refusal shown when another process holds a task's lock.
std::string taskInUseMessage(std::int64_t taskId);

}  // namespace tarvex::app

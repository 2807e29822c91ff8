#pragma once
// What one run of a task carries through its stages: the task, its slot, its settings, the
// known-address set, the slot database lock, and the ways to report to the slot's page and
// to read the slot's run state. Shared by the list stage, the content workers and the
// publisher; owned by the runner for the length of a run.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "collect/content_summary.h"
#include "collect/known_urls.h"
#include "platform/ports.h"
#include "platform/sqlite_db.h"

namespace tarvex::collect {

// How long a run keeps trying a task database that another connection holds (a data browser,
// a backup, another program) before it gives up on the operation.
inline constexpr std::chrono::milliseconds kBusyRetryTime{30000};

// Run states of a slot: "0" idle or ended, "1" running, "2" paused, "3" stop requested.
enum class RunState { Idle = 0, Running = 1, Paused = 2, Stopping = 3 };
RunState parseRunState(const std::string& field);

// What one run counts and how it ended. Workers hold it beyond the runner's life, so a worker
// that ends late counts down its own run, never the next run of the slot.
class RunCounters {
public:
    std::atomic<int> workers{0};    // running content workers (the slot's `runningWorkers`)
    std::atomic<int> succeeded{0};  // rows stored in this run (the slot's `succeededRows`)
    // Addresses the list stage stored, and those whose insert failed.
    std::atomic<long long> listInserted{0};
    std::atomic<long long> listFailed{0};
    // Records the publish stage sent with success, and those it tried and failed to send.
    std::atomic<long long> published{0};
    std::atomic<long long> publishFailed{0};
    // Of those, records held back because their attachments did not all reach the site.
    std::atomic<long long> attachmentsMissing{0};
    // Content rows that could not be stored here (their files or their row could not be
    // written), and rows whose workers were ended by the end of the stage (see cancelWorkers;
    // workers still running are unfinished as well).
    std::atomic<long long> rowsFailed{0};
    std::atomic<long long> rowsUnfinished{0};
    // Set when the stage has waited long enough: the workers still running end their transfers
    // (removing their partial files) and leave their rows queued.
    std::atomic<bool> cancelWorkers{false};

    // Fields empty in (nearly) every row the content stage stored, set at the stage's end.
    void setMostlyEmptyFields(std::vector<std::string> fields);
    std::vector<std::string> mostlyEmptyFields() const;

    // Records why a stage or the run ended early; the first reason is kept.
    void fail(const std::string& reason);
    // "" when nothing ended early.
    std::string failure() const;

private:
    mutable std::mutex m_lock;
    std::string m_failure;
    std::vector<std::string> m_mostlyEmpty;
};

struct RunContext {
    std::int64_t taskId = 0;
    int slot = 1;
    std::string taskName;
    std::string settingsJson;
    std::string fetchOptions;   // the fetch option block
    std::string dbPath;         // data/<id>.db3
    std::string programFolder;  // workspace root, ends with "/"
    KnownUrls known;            // addresses already in the task database
    std::shared_ptr<RunCounters> counters = std::make_shared<RunCounters>();
    // What the content workers of this run stored and rejected, for the stage's summary.
    std::shared_ptr<ContentTally> tally = std::make_shared<ContentTally>();

    // Keeps the task database open while the run and its workers last (see HoldOpenForRun).
    std::unique_ptr<platform::SqliteConnection> dbHold;

    // The slot's database lock: the process state's, or ownDbLock when there is none. Workers
    // keep the run alive, so they can always reach ownDbLock.
    std::mutex* slotDbLock = nullptr;
    std::mutex ownDbLock;
    platform::SlotView* view = nullptr;         // not owned
    platform::Dialogs* dialogs = nullptr;       // not owned
    std::function<std::string()> readRunState;  // the slot record's run state field
    // True once the program is closing; every stop check of the run then sees a stop, so
    // runners and workers end and the program can wait for them before it lets go of its state.
    std::function<bool()> processClosing;
    // Sleeps are cut into steps of this many ms so pause and stop are seen quickly.
    int sleepStepMs = 10;
    // How long a read or write waits for a task database held by another connection.
    std::chrono::milliseconds busyRetryTime = kBusyRetryTime;

    // The slot's run state; Stopping while the program closes.
    RunState runState() const;
    bool stopRequested() const { return runState() == RunState::Stopping; }
    bool closing() const { return processClosing && processClosing(); }

    void pane(const std::string& line) const;  // "" empties the pane
    void label(int which, const std::string& text) const;
    void progressRange(int bar, int min, int max) const;
    void progress(int bar, int value) const;
    // A message box; while the program closes it goes to the run log instead, since no one
    // is left to answer it.
    void message(const std::string& text) const;

    // Loops while the run is paused, writing `logLine` and the pane's "任务暂停" line once;
    // returns false when a stop was requested (before or during the pause).
    bool pauseCheck(const std::string& logLine) const;
    // Sleeps ms in small steps; returns early (false) when a stop is requested.
    bool sleepFor(int ms) const;
};

// Local time as "yy-mm-dd hh:nn:ss", the prefix of the pane's pause and finish lines.
std::string paneTime();

}  // namespace tarvex::collect

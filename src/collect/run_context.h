#pragma once
// What one run of a task carries through its stages: the task, its slot, its settings, the
// known-address set, the slot database lock, and the ways to report to the slot's page and
// to read the slot's run state. Shared by the list stage, the content workers and the
// publisher; owned by the runner for the length of a run.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "collect/content_summary.h"
#include "platform/ports.h"

namespace tarvex::collect {

// Run states of a slot: "0" idle or ended, "1" running, "2" paused, "3" stop requested.
enum class RunState { Idle = 0, Running = 1, Paused = 2, Stopping = 3 };
RunState parseRunState(const std::string& field);

// The addresses already in the task database or queued in this run. A hash set: lookups stay
// constant-time with millions of rows, and an address containing "," cannot match falsely.
class KnownUrls {
public:
    bool contains(const std::string& url) const { return m_urls.count(url) != 0; }
    // Adds the address; false when it was already known.
    bool add(const std::string& url) { return m_urls.insert(url).second; }
    std::size_t size() const { return m_urls.size(); }
    void clear() { m_urls.clear(); }
    void reserve(std::size_t n) { m_urls.reserve(n); }

private:
    std::unordered_set<std::string> m_urls;
};

// Content workers of one run. Workers hold it beyond the runner's life, so a worker that ends
// late counts down its own run, never the next run of the slot.
struct RunCounters {
    std::atomic<int> workers{0};    // running content workers (the slot's `runningWorkers`)
    std::atomic<int> succeeded{0};  // rows stored in this run (the slot's `succeededRows`)
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

    std::mutex* slotDbLock = nullptr;           // not owned
    platform::SlotView* view = nullptr;         // not owned
    platform::Dialogs* dialogs = nullptr;       // not owned
    std::function<std::string()> readRunState;  // the slot record's run state field
    // Sleeps are cut into steps of this many ms so pause and stop are seen quickly.
    int sleepStepMs = 10;

    RunState runState() const;
    bool stopRequested() const { return runState() == RunState::Stopping; }

    void pane(const std::string& line) const;  // "" empties the pane
    void label(int which, const std::string& text) const;
    void progressRange(int bar, int min, int max) const;
    void progress(int bar, int value) const;
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

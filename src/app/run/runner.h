#pragma once
// app/run: the run of a task (runner, stage hooks), the run list and slots, the slot view model.
// Uses app/tasks, app/workspace and the core layers; app/schedule and app/data build on it.
//
// One run of one task (`TaskRunner`): list stage, content stage with a pool of at most three
// content workers, publish stage, then the end of the run. Runs on a registry thread; reports
// through the slot view; obeys the slot's run state (pause "2", stop "3").
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/workspace/process_state.h"
#include "app/workspace/thread_registry.h"
#include "app/workspace/workspace.h"
#include "collect/content_job.h"
#include "collect/run_context.h"
#include "platform/ports.h"

namespace tarvex::app {

// The stages' work, so the runner can be driven with the parts that exist. An empty function
// means the stage has nothing to do.
struct StageHooks {
    // Builds the fetch option block (`fetchOptions`) from the settings document.
    std::function<std::string(const std::string& settingsJson)> buildFetchOptions;
    // `collectListPages`: list-link extraction over the list pages; returns at the end or on stop.
    std::function<void(collect::RunContext&, const std::vector<std::string>& listUrls)> listPages;
    // `ContentWorker`: collects one content row.
    collect::ContentWorker contentWorker;
    // `publishRecords`: the publish stage; gets the content table's column names and whether publishing
    // was ticked.
    std::function<void(collect::RunContext&, const std::vector<std::string>& columns, bool publishTicked)> publish;
};

// The hooks of the stages built into this program.
StageHooks defaultStageHooks();

// What a runner reports back to the run list.
class RunListPort {
public:
    virtual ~RunListPort() = default;
    // `readStages`: the three stage boxes of the row named `name`; all false when there is none.
    virtual std::array<bool, 3> stagesOf(const std::string& name) = 0;
    // `DecTh`: the row named `name` shows "停止运行" and the buttons are refreshed.
    virtual void runEnded(const std::string& name) = 0;
};

struct RunnerServices {
    Workspace workspace;
    ProcessState* state = nullptr;
    platform::SlotView* view = nullptr;
    platform::Dialogs* dialogs = nullptr;
    RunListPort* runList = nullptr;
    ThreadRegistry* threads = nullptr;
    StageHooks hooks;
    int sleepStepMs = 10;  // tests shorten nothing else; sleeps are polled in these steps
    // How long the run waits for a task database held by another connection.
    std::chrono::milliseconds busyRetryTime = collect::kBusyRetryTime;
    // How long the end of the content stage waits for its workers, and then, once they have been
    // told to end their transfers, how long more for them to let go of their rows.
    std::chrono::milliseconds workerWait{30000};
    std::chrono::milliseconds workerCancelWait{10000};
};

class TaskRunner {
public:
    explicit TaskRunner(RunnerServices services);

    std::int64_t taskId = 0;
    int slot = 1;
    std::string taskName;
    std::string settingsJson;

    // Starts the run on a registry thread. The object lives until the run ends.
    static void Start(std::shared_ptr<TaskRunner> runner);
    // The run itself (public so the CLI and tests can run it on their own thread). However it
    // ends — finished, stopped, or by an error thrown inside a stage — the slot's run state
    // returns to "0" and the run list hears of the end; an error is kept in counters().
    // Reads the process state's closing flag as a stop.
    void run();

    // Counters of the run, shared with its workers; after the run they tell whether a stage
    // ended early and why (RunCounters::failure).
    std::shared_ptr<collect::RunCounters> counters() const { return m_run->counters; }

    // Number of runners running in the process.
    static int runningRunners();

private:
    // Steps 1–8 of the run; may throw, run() ends the run whatever happens.
    void runStages();
    void listStage();
    void contentStage();
    bool contentPauseCheck();
    void showRunningLabel(int current, int total);

    RunnerServices m_s;
    std::shared_ptr<collect::RunContext> m_run;
    std::array<bool, 3> m_stages{};
};

}  // namespace tarvex::app

// "run": runs one task in a run slot without a display, printing the slot's pane lines and a
// progress bar; Ctrl-C asks the run to stop the way the stop button does.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/run_list.h"
#include "app/startup.h"
#include "app/stored_rules.h"
#include "cli/cli_command.h"
#include "cli/progress_line.h"

namespace tarvex::cli {
namespace {

std::atomic<bool> g_interrupted{false};
void onInterrupt(int) {
    g_interrupted = true;
}

// Pane lines go to standard output as they come; bar 1 with its label is the progress line
// on standard error (redrawn on a terminal, plain lines when piped).
class ConsoleSlotView final : public platform::SlotView {
public:
    ConsoleSlotView(std::ostream& out, std::ostream& err)
        : m_out(out), m_progress(err, ProgressLine::stderrIsTerminal()) {}
    void appendPane(int, const std::string& line) override {
        if (line.empty()) return;
        const std::string text = paneText(line);
        std::lock_guard<std::mutex> g(m_lock);
        m_progress.printLine(m_out, text);
    }
    void setLabel(int, int which, const std::string& text) override {
        if (which != 1) return;
        std::lock_guard<std::mutex> g(m_lock);
        m_label = text;
        m_progress.setLabel(text);
    }
    void setProgressRange(int, int bar, int min, int max) override {
        if (bar != 1) return;
        std::lock_guard<std::mutex> g(m_lock);
        m_progress.setRange(min, max);
    }
    void setProgress(int, int bar, int value) override {
        if (bar != 1) return;
        std::lock_guard<std::mutex> g(m_lock);
        m_progress.update(value, m_label);
    }
    void finish() {
        std::lock_guard<std::mutex> g(m_lock);
        m_progress.finish();
    }

private:
    std::mutex m_lock;
    std::ostream& m_out;
    ProgressLine m_progress;
    std::string m_label;
};

// 0 for a run that did its work (or was stopped, which it says); 1 with the reason when a stage
// ended early on an error, the list stage stored nothing because every insert failed, or the
// publish stage published nothing because every record it tried failed.
int runExitCode(const std::shared_ptr<collect::RunCounters>& counters, bool stopped, std::ostream& err) {
    if (stopped) err << "tarvex-cli: 运行已被中断，未完成的内容下次运行时继续\n";
    if (!counters) return 0;
    const std::string failure = counters->failure();
    if (!failure.empty()) {
        err << "tarvex-cli: " << failure << "\n";
        return 1;
    }
    if (counters->listFailed > 0 && counters->listInserted == 0) {
        err << "tarvex-cli: 列表采集没有存入任何网址，" << counters->listFailed << "个网址存入数据库失败\n";
        return 1;
    }
    // A dead or refusing publish target: the records stay unpublished, which a script must see.
    if (counters->publishFailed > 0 && counters->published == 0) {
        err << "tarvex-cli: 内容发布没有成功发布任何内容，" << counters->publishFailed << "条发布失败\n";
        return 1;
    }
    return 0;
}

int runTask(CliContext& ctx) {
    std::string stagesText = takeOption(ctx.args, "--stages");
    if (ctx.args.size() != 1) {
        ctx.err << "usage: tarvex-cli run TASK_ID [--stages list,content,publish]\n";
        return 2;
    }
    const auto id = parseTaskId(ctx.args[0], ctx.err);
    const auto stageBoxes = parseStages(stagesText, ctx.err);
    if (!id || !stageBoxes) return 2;
    const std::int64_t taskId = *id;
    const std::array<bool, 3> stages = *stageBoxes;

    ConsoleDialogs dialogs(ctx.err, false);
    // A run writes its task's database alone: runs of other tasks may go on beside it, from
    // other processes, but not the desktop program or a scheduler, which run any task.
    auto started = app::startProcess(ctx.workspace, dialogs, {.ownTasks = std::vector<std::int64_t>{taskId}});
    if (started.status == app::StartStatus::TaskInUse)
        ctx.err << "tarvex-cli: task " << taskId
                << " is already being run (or changed) by another tarvex-cli on this workspace; wait until it ends\n";
    if (started.status != app::StartStatus::Started) return 1;
    app::logStartComplete();
    auto& session = *started.session;

    auto lookup = app::catalogueLookup(session.workspace);
    std::string lookupError;
    auto task = app::LookupTaskToRun(session.workspace, taskId, &lookupError);
    if (!task) {
        printNoSuchTask(ctx.err, taskId, lookupError);
        return 1;
    }

    ConsoleSlotView console(ctx.out, ctx.err);
    app::SlotViewModel slots(&console);
    app::RunnerServices services;
    services.workspace = session.workspace;
    services.state = session.state.get();
    services.view = &slots;
    services.dialogs = &dialogs;
    services.threads = &app::ThreadRegistry::global();
    services.hooks = app::defaultStageHooks();
    app::RunList list(services, slots, lookup);
    if (!list.AddToRunList(taskId, task->name)) return 1;
    for (int s = 0; s < 3; ++s) list.setStage(0, s, stages[static_cast<std::size_t>(s)]);

    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    if (!list.StartRun(0)) return 1;
    bool stopAsked = false;
    while (list.rows().at(0).state != app::kStateStopped) {
        if (g_interrupted && !stopAsked) {
            ctx.err << "\n停止运行…\n";
            list.StopRun(0);
            stopAsked = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // Workers that outlived the run's own wait get a last chance to store their rows.
    app::ThreadRegistry::global().waitAll(std::chrono::seconds(30));
    console.finish();
    const int code = runExitCode(list.lastRunCounters(list.rows().at(0).slot), stopAsked, ctx.err);
    ctx.err << std::flush;
    // The last line is the run-list row's state.
    ctx.out << app::kStateStopped << std::endl;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return code;
}

const CliCommandRegistrar reg({"run", "run TASK_ID [--stages list,content,publish]",
                               "run a task in a run slot, printing its progress; Ctrl-C stops it", runTask});

}  // namespace
}  // namespace tarvex::cli

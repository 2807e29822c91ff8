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

#include "app/run/run_list.h"
#include "app/tasks/stored_rules.h"
#include "app/workspace/startup.h"
#include "cli/cli_command.h"
#include "cli/progress_line.h"

namespace tarvex::cli {
namespace {

// The signal that asked the run to stop (SIGINT, SIGTERM), 0 for none.
std::atomic<int> g_signal{0};
void onInterrupt(int sig) {
    g_signal = sig;
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

// The exit code of a run, decided here alone: 128 + the signal for a run stopped by SIGINT (130)
// or SIGTERM (143), so cron and systemd tell a stopped run from a finished one; 1 with the
// reason when a stage ended early on an error, a content row could not be stored (its files or
// its row could not be written) or was left unfinished, the list stage stored nothing because
// every insert failed, or the publish stage published nothing because every record it tried
// failed; else 0.
int runExitCode(const std::shared_ptr<collect::RunCounters>& counters, int stopSignal, std::ostream& err) {
    if (stopSignal) {
        err << "tarvex-cli: 运行已被中断，未完成的内容下次运行时继续\n";
        return 128 + stopSignal;
    }
    if (!counters) return 0;
    // Workers still running now never finished their rows either.
    const long long unfinished = counters->rowsUnfinished.load() + counters->workers.load();
    if (counters->rowsFailed > 0 || unfinished > 0) {
        err << "tarvex-cli: 内容采集有" << counters->rowsFailed.load() << "条未能存入数据库";
        if (unfinished > 0) err << "，" << unfinished << "条未采集完成";
        err << "，这些内容留待下次运行采集\n";
        return 1;
    }
    const std::string failure = counters->failure();
    if (!failure.empty()) {
        err << "tarvex-cli: " << failure << "\n";
        return 1;
    }
    if (counters->listFailed > 0 && counters->listInserted == 0) {
        err << "tarvex-cli: 列表采集没有存入任何网址，" << counters->listFailed << "个网址存入数据库失败\n";
        return 1;
    }
    // A record whose files did not reach the site is held back: the site is missing something.
    if (counters->attachmentsMissing > 0) {
        err << "tarvex-cli: " << counters->attachmentsMissing
            << "条内容的附件未能全部上传，这些内容未发布，下次运行时重试\n";
        return 1;
    }
    // A dead or refusing publish target: the records stay unpublished, which a script must see.
    if (counters->publishFailed > 0 && counters->published == 0) {
        err << "tarvex-cli: 内容发布没有成功发布任何内容，" << counters->publishFailed << "条发布失败\n";
        return 1;
    }
    return 0;
}

// `--strict`: a run that did its work but left a field empty in (nearly) every row it stored
// exits 3, so a cron job notices a site whose markup changed. Failures keep their own status.
constexpr int kMostlyEmptyStatus = 3;

int strictExitCode(const std::shared_ptr<collect::RunCounters>& counters, std::ostream& err) {
    if (!counters) return 0;
    const auto fields = counters->mostlyEmptyFields();
    if (fields.empty()) return 0;
    std::string names;
    for (const auto& f : fields) names += (names.empty() ? "[" : "、[") + f + "]";
    err << "tarvex-cli: 字段" << names << "在本次采集中几乎全部为空，规则可能已失效\n";
    return kMostlyEmptyStatus;
}

int runTask(CliContext& ctx) {
    std::string stagesText = takeOption(ctx.args, "--stages");
    const bool strict = takeFlag(ctx.args, "--strict");
    if (ctx.args.size() != 1) {
        ctx.err << "usage: tarvex-cli run TASK_ID [--stages list,content,publish] [--strict]\n";
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
        if (g_signal && !stopAsked) {
            ctx.err << "\n停止运行…\n";
            list.StopRun(0);
            stopAsked = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // Workers that outlived the run's own wait get a last chance to store their rows.
    app::ThreadRegistry::global().waitAll(std::chrono::seconds(30));
    console.finish();
    const auto counters = list.lastRunCounters(list.rows().at(0).slot);
    const int stopSignal = g_signal.load();
    int code = runExitCode(counters, stopSignal, ctx.err);
    if (code == 0 && strict && !stopSignal) code = strictExitCode(counters, ctx.err);
    ctx.err << std::flush;
    // The last line is the run-list row's state.
    ctx.out << app::kStateStopped << std::endl;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return code;
}

const CliCommandRegistrar reg({"run", "run TASK_ID [--stages list,content,publish] [--strict]",
                               "run a task in a run slot, printing its progress; Ctrl-C stops it; with --strict "
                               "exits 3 when a field stayed empty in (nearly) every row",
                               runTask});

}  // namespace
}  // namespace tarvex::cli

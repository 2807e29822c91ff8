// "schedule": the scheduler without a display, for a systemd service or a container. The
// timetable switch is on; due tasks and queued tasks ("queue add") start as runs in this
// process, at most three at a time. Ctrl-C or SIGTERM stops new starts and stops the running
// tasks the way the stop button does.
// "queue add": puts a task into the queue file that a running "schedule" serves.
#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <thread>

#include "app/run/run_list.h"
#include "app/schedule/scheduler.h"
#include "app/workspace/startup.h"
#include "cli/cli_command.h"

namespace tarvex::cli {
namespace {

std::atomic<bool> g_stop{false};
void onSignal(int) {
    g_stop = true;
}

// Says on standard output what the scheduler starts.
class ReportingPort final : public app::SchedulerPort {
public:
    ReportingPort(app::SchedulerPort& inner, std::ostream& out) : m_inner(inner), m_out(out) {}
    std::optional<std::string> removeStoppedRow(const std::string& n) override { return m_inner.removeStoppedRow(n); }
    bool canStart(std::int64_t id, const std::string& n) override { return m_inner.canStart(id, n); }
    bool addToRunList(std::int64_t id, const std::string& n, const std::array<bool, 3>& s) override {
        return m_inner.addToRunList(id, n, s);
    }
    bool startRow(std::int64_t id, const std::string& n) override {
        const bool ok = m_inner.startRow(id, n);
        if (ok) m_out << "计划任务 线程开始" << n << "," << id << std::endl;
        return ok;
    }

private:
    app::SchedulerPort& m_inner;
    std::ostream& m_out;
};

int runSchedule(CliContext& ctx) {
    const bool once = takeFlag(ctx.args, "--once");
    if (!ctx.args.empty()) {
        ctx.err << "usage: tarvex-cli schedule [--once]\n";
        return 2;
    }
    ConsoleDialogs dialogs(ctx.err, false);
    // The scheduler runs tasks: one program per workspace.
    auto started = app::startProcess(ctx.workspace, dialogs);
    if (started.status != app::StartStatus::Started) return 1;
    app::logStartComplete();
    auto& session = *started.session;
    // Without a display nobody switches the timetable on: it starts on.
    session.state->scheduling = true;

    // Pane lines of every slot, prefixed with the task in it.
    app::RunList* listRef = nullptr;
    PaneLinesView console(
        ctx.out, [&listRef](int slot) { return "[" + (listRef ? listRef->page(slot).caption : std::string()) + "] "; });
    app::SlotViewModel slots(&console);
    app::RunnerServices services;
    services.workspace = session.workspace;
    services.state = session.state.get();
    services.view = &slots;
    services.dialogs = &dialogs;
    services.threads = &app::ThreadRegistry::global();
    services.hooks = app::defaultStageHooks();
    app::RunList list(services, slots, app::catalogueLookup(session.workspace));
    listRef = &list;
    app::RunListSchedulerPort direct(list);
    ReportingPort port(direct, ctx.out);

    app::SchedulerServices s;
    s.workspace = session.workspace;
    s.state = session.state.get();
    s.port = &port;
    s.queueFile = app::QueueFilePath(session.workspace);
    auto scheduler = std::make_shared<app::Scheduler>(s);

    g_stop = false;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    ctx.out << (once ? "计划任务: 检查一次" : "计划任务: 已开始 (Ctrl-C 或 SIGTERM 停止)") << std::endl;
    if (once)
        scheduler->pass();
    else
        app::Scheduler::Start(scheduler, app::ThreadRegistry::global());

    // Without --once the scheduler goes on until a signal; with it, until the started runs end.
    while (!g_stop && (!once || list.anyRunning())) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    scheduler->stop();
    if (g_stop) ctx.out << "停止运行…" << std::endl;
    while (list.anyRunning()) {
        // Asked again each time: the scheduler may have been starting a task as it was stopped.
        if (g_stop)
            for (std::size_t i = 0; i < list.rows().size(); ++i) list.StopRun(static_cast<int>(i));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // Workers that outlive their run's own wait get a last chance to store their rows.
    app::ThreadRegistry::global().waitAll(std::chrono::seconds(30));
    session.state->closing = true;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    ctx.out << "计划任务: 已停止" << std::endl;
    return 0;
}

int runQueue(CliContext& ctx) {
    const std::string stagesText = takeOption(ctx.args, "--stages");
    if (ctx.args.size() != 2 || ctx.args[0] != "add") {
        ctx.err << "usage: tarvex-cli queue add TASK_ID [--stages list,content,publish]\n";
        return 2;
    }
    const auto id = parseTaskId(ctx.args[1], ctx.err);
    const auto stages = parseStages(stagesText, ctx.err);
    if (!id || !stages) return 2;
    ConsoleDialogs dialogs(ctx.err, false);
    // Adding to the queue may happen while "schedule" runs on the same workspace.
    auto started = app::startProcess(ctx.workspace, dialogs, {.singleInstance = false});
    if (started.status != app::StartStatus::Started) return 1;
    const auto& ws = started.session->workspace;
    auto task = app::catalogueLookup(ws)(*id);
    if (!task) {
        printNoSuchTask(ctx.err, *id);
        return 1;
    }
    const std::string entry = app::QueueEntryText(*id, task->name, *stages);
    try {
        if (!app::QueueFile{app::QueueFilePath(ws)}.add(entry)) {
            ctx.err << "已在任务队例！\n";
            return 1;
        }
    } catch (const std::exception& e) {
        ctx.err << "tarvex-cli: " << e.what() << "\n";
        return 1;
    }
    ctx.out << entry << "\n";
    return 0;
}

const CliCommandRegistrar regSchedule({"schedule", "schedule [--once]",
                                       "run the scheduler without a display: start due and queued tasks, up to "
                                       "three at once; --once looks once and waits for what it started; "
                                       "Ctrl-C or SIGTERM stops",
                                       runSchedule});
const CliCommandRegistrar regQueue({"queue", "queue add TASK_ID [--stages list,content,publish]",
                                    "queue a task for a running \"schedule\" (config/queue.txt)", runQueue});

}  // namespace
}  // namespace tarvex::cli

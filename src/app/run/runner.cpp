#include "app/run/runner.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/tasks/settings_document.h"
#include "collect/attachment_paths.h"
#include "collect/list_sources.h"
#include "collect/partial_files.h"
#include "collect/task_db.h"
#include "engine/keyword_dictionary.h"
#include "platform/run_log.h"

namespace tarvex::app {

using collect::RunState;
using platform::WriteLog;

namespace {
std::atomic<int> g_runners{0};

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string joinLines(const std::vector<std::string>& v, const std::string& sep) {
    std::string s;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (i) s += sep;
        s += v[i];
    }
    return s;
}
}  // namespace

TaskRunner::TaskRunner(RunnerServices services)
    : m_s(std::move(services)), m_run(std::make_shared<collect::RunContext>()) {}

int TaskRunner::runningRunners() {
    return g_runners.load();
}

void TaskRunner::Start(std::shared_ptr<TaskRunner> runner) {
    ThreadRegistry* threads = runner->m_s.threads ? runner->m_s.threads : &ThreadRegistry::global();
    threads->spawn("TMyThread", [runner] { runner->run(); });
}

void TaskRunner::showRunningLabel(int current, int total) {
    m_run->label(1, "内容采集:当前/内容总数/成功：" + std::to_string(current) + "/" + std::to_string(total) + "/" +
                        std::to_string(m_run->counters->succeeded.load()));
    m_run->progress(1, current);
}

namespace {
// The run's questions to a person, which nobody is left to answer once the program closes:
// then they are logged and refused.
class RunDialogs final : public platform::Dialogs {
public:
    RunDialogs(platform::Dialogs* inner, const collect::RunContext& run) : m_inner(inner), m_run(run) {}
    void message(const std::string& text, const std::string& caption) override {
        if (m_run.closing() || !m_inner)
            WriteLog("TMyThread:" + text, 0);
        else
            m_inner->message(text, caption);
    }
    bool confirm(const std::string& text, const std::string& title) override {
        return !m_run.closing() && m_inner && m_inner->confirm(text, title);
    }
    std::optional<std::string> askText(const std::string& title, const std::string& prompt,
                                       const std::string& initial) override {
        if (m_run.closing() || !m_inner) return std::nullopt;
        return m_inner->askText(title, prompt, initial);
    }

private:
    platform::Dialogs* m_inner;
    const collect::RunContext& m_run;
};
}  // namespace

void TaskRunner::run() {
    auto& run = *m_run;
    run.taskId = taskId;
    run.slot = slot;
    run.taskName = taskName;
    run.settingsJson = settingsJson;
    run.dbPath = m_s.workspace.taskDbPath(taskId);
    run.programFolder = m_s.workspace.programFolder;
    run.slotDbLock = m_s.state ? &m_s.state->slotDbLock(slot) : &run.ownDbLock;
    run.view = m_s.view;
    run.dialogs = m_s.dialogs;
    run.sleepStepMs = m_s.sleepStepMs;
    run.busyRetryTime = m_s.busyRetryTime;
    ProcessState* state = m_s.state;
    run.readRunState = [state, slot = slot] { return state ? state->GetSlotField(slot, 4) : std::string("1"); };
    run.processClosing = [state] { return state && state->closing.load(); };

    ++g_runners;
    std::string error;
    try {
        // Readers go on reading while the run writes, and a stored row costs no disk sync.
        if (collect::UseWriteAheadLog(run.dbPath)) run.dbHold = collect::HoldOpenForRun(run.dbPath);
        runStages();
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "unknown error";
    }
    // 9. The run gives its slot back, whichever way it ended. Nothing here may throw.
    try {
        // The last connection to close writes the log back into the database file, so after a
        // run the file alone holds everything (a copy of it is a whole backup).
        run.dbHold.reset();
        if (!error.empty()) {
            run.counters->fail("运行出错：" + error);
            WriteLog("TMyThread:运行出错：" + error, 0);
            run.pane("运行出错：" + error);
        }
        if (state) state->SetSlotField(slot, 4, "0");
        run.pane(collect::paneTime() + "任务已完成");
    } catch (...) {
        if (state) state->SetSlotField(slot, 4, "0");
    }
    --g_runners;
    try {
        if (m_s.runList) m_s.runList->runEnded(taskName);
    } catch (...) {
        WriteLog("TMyThread:运行列表未能更新:" + taskName, 0);
    }
}

void TaskRunner::runStages() {
    auto& run = *m_run;
    // 1. AddTh, readStages, a short pause, an empty pane.
    const int runners = g_runners.load();
    m_stages = m_s.runList ? m_s.runList->stagesOf(taskName) : std::array<bool, 3>{true, true, true};
    sleepMs(100);
    run.pane("");

    // 2.
    WriteLog("TMyThread新建线程：当前任务ID:" + std::to_string(runners), 0);
    WriteLog("当前线程ID:" + std::to_string(static_cast<long>(::syscall(SYS_gettid))) +
                 ",Fworkid:" + std::to_string(taskId) + ",Fsheetid:" + std::to_string(slot) + ",Ftaskname:" + taskName,
             0);
    run.pane("新建线程：当前任务ID:" + std::to_string(slot));

    // 3.
    run.fetchOptions = m_s.hooks.buildFetchOptions ? m_s.hooks.buildFetchOptions(settingsJson) : std::string();
    WriteLog("TMyThread配置HEADER头信息结束:" + run.fetchOptions, 0);

    // 4.
    // The publisher fills records by these names: without them every record would go out empty
    // and be marked published, so publishing waits for a database another connection holds and
    // is left out when the names cannot be read.
    RunDialogs dialogs(m_s.dialogs, run);
    std::vector<std::string> columns;
    std::string columnsError;
    try {
        columns = collect::RetryWhileBusy([&] { return collect::ReadTableColumns(run.dbPath, "content"); },
                                          [&run] { return run.stopRequested(); }, run.busyRetryTime);
    } catch (const std::exception& e) {
        dialogs.message("发生错误：数据库读取字段错误：" + std::string(e.what()), platform::kAppTitle);
        columnsError = collect::DbErrorText(e.what());
    }
    WriteLog("TMyThread:读取content表中所有字段:" + joinLines(columns, "\r\n"), 0);
    if (m_stages[1] || m_stages[2]) {
        std::lock_guard<std::mutex> g(*run.slotDbLock);
        collect::EnsureDownloadIndexes(run.dbPath);
    }

    // 5.–8.
    bool stopped = false;
    if (run.runState() == RunState::Running) {
        if (m_stages[0]) {
            listStage();
            stopped = run.stopRequested();
        }
        if (!stopped) {
            WriteLog("TMyThread: 列表采集结束===========\r\r", 0);
            if (m_stages[1] && !run.stopRequested()) {
                // Without a content worker in this build the rows stay queued for a later run.
                if (m_s.hooks.contentWorker)
                    contentStage();
                else
                    run.pane("本程序未提供内容采集，跳过[内容采集]步骤");
            }
            if (!columnsError.empty() && m_stages[2] && !run.stopRequested()) {
                const std::string message = "读取数据库字段出错，跳过[内容发布]步骤：" + columnsError;
                run.pane(message);
                WriteLog("TMyThread:发布内容|" + message, 0);
                run.counters->fail(message);
            } else if (m_s.hooks.publish) {
                m_s.hooks.publish(run, columns, m_stages[2]);
            }
        }
    }
}

void TaskRunner::listStage() {
    auto& run = *m_run;
    if (!run.stopRequested()) run.pane("==================开始采集列表==================");
    auto settings = ParseSettings(settingsJson).value_or(SettingsJson::object());
    const std::string listSettings = SettingText(settings, "Morepage");
    std::vector<std::string> warnings;
    auto addresses = collect::SplitLines(collect::ListSources(listSettings, run.programFolder, &warnings));
    for (const auto& w : warnings) {
        run.pane(w);
        WriteLog("TMyThread:列表采集|" + w, 0);
    }
    const std::size_t n = addresses.size();
    run.progressRange(1, 0, static_cast<int>(n));
    WriteLog("TMyThread:初次提取列表网址个数:" + std::to_string(n), 0);
    if (n == 0) {
        run.pane("需要采集的列表网址总共0个");
    } else if (n < 5) {
        run.pane("需要采集的列表网址总共" + std::to_string(n) + "个,全部网址如下：\r" + joinLines(addresses, "\r"));
    } else {
        std::string first5;
        for (std::size_t i = 0; i < 5; ++i) first5 += addresses[i] + "\r";
        run.pane("需要采集的列表网址总共" + std::to_string(n) + "个,前5个网址如下：\r" + first5);
    }

    // Without the known addresses every address would be stored again: a database that stays
    // locked (a data browser, a backup) or cannot be read ends the stage.
    std::size_t known = 0;
    try {
        known = collect::RetryWhileBusy([&] { return collect::LoadKnownUrls(run); },
                                        [&run] { return run.stopRequested(); }, run.busyRetryTime);
    } catch (const std::exception& e) {
        const std::string message = "读取已采网址出错，列表采集未进行：" + collect::DbErrorText(e.what());
        run.pane(message);
        WriteLog("TMyThread:列表采集|读取已采网址出错:" + std::string(e.what()), 0);
        run.counters->fail(message);
        run.known.clear();
        return;
    }
    WriteLog("TMyThread:已存在于url字段中的列表的个数:" + std::to_string(known), 0);

    if (!run.pauseCheck("TMyThread:列表采集|线程内已暂停:")) {
        WriteLog("TMyThread:列表采集|线程内 外部强制停止", 0);
        return;
    }
    if (collect::IsDirectMode(listSettings)) {
        collect::InsertDirectAddresses(run, addresses, static_cast<int>(SettingInt(settings, "other_time1")));
    } else if (m_s.hooks.listPages) {
        m_s.hooks.listPages(run, addresses);
    }
    run.known.clear();
}

bool TaskRunner::contentPauseCheck() {
    auto& run = *m_run;
    if (run.pauseCheck("TMyThread:内容采集|线程内已暂停:")) return true;
    // A stop lets the running workers finish first, up to 20 s.
    for (int i = 1; i <= 200 && run.counters->workers.load() != 0; ++i) {
        sleepMs(100);
        if (i == 200) WriteLog("TMyThread:内容采集|线程停止 20秒到了:", 0);
    }
    return false;
}

void TaskRunner::contentStage() {
    auto& run = *m_run;
    auto settings = ParseSettings(settingsJson).value_or(SettingsJson::object());
    if (!run.stopRequested()) run.pane("==================开始采集内容==================");
    // Transfers of an earlier run that never ended (the program was killed) left their partial
    // files; a file this old belongs to no transfer that is still under way.
    const std::string attachmentFolder =
        collect::AttachmentFolder(SettingText(settings, "other_savepath"), run.programFolder, run.taskId);
    if (int removed = collect::RemoveStalePartFiles(attachmentFolder, std::filesystem::file_time_type::clock::now()))
        WriteLog("TMyThread:内容采集|删除上次运行残留的未完成文件" + std::to_string(removed) + "个", 0);
    run.counters->cancelWorkers = false;
    if (m_s.state) m_s.state->setRunningWorkers(run.slot, 0);
    WriteLog("TMyThread: 内容采集开始===========\r\r", 0);

    std::int64_t startId = SettingInt(settings, "other_minid_get");
    const int pauseMs = static_cast<int>(SettingInt(settings, "other_time2"));
    run.counters->succeeded = 0;
    run.tally = std::make_shared<collect::ContentTally>();
    if (m_s.state) m_s.state->setSucceededRows(run.slot, 0);
    long long rowsStarted = 0;
    int current = 0;
    bool claimedAny = false;
    bool dictionaryChecked = false;

    if (SettingFlag(settings, "other_check_repeatget")) {
        WriteLog("TMyThread: other_check_repeatget=1 内容重复采集", 0);
        std::lock_guard<std::mutex> g(*run.slotDbLock);
        std::string r;
        try {
            r = collect::tryExecScript(run.dbPath, collect::sql::CollectAgain());
        } catch (const std::exception& e) {
            r = std::string("fail|") + e.what();
        }
        if (r != "succ|") WriteLog("TMyThread: 内容重复采集update修改为0错误:" + r.substr(5), 0);
    }

    // Reads wait for a database another connection holds; one that stays locked ends the stage
    // as a failure, never as a stage with nothing to do.
    auto readWork = [&run](const std::string& sql) {
        return collect::RetryWhileBusy([&] { return collect::query(run.dbPath, sql); },
                                       [&run] { return run.stopRequested(); }, run.busyRetryTime);
    };
    auto readFailed = [&run](const std::exception& e) {
        const std::string message = "查询数据出错：" + collect::DbErrorText(e.what());
        WriteLog("TMyThread:内容采集|get查询数据出错" + std::string(e.what()), 0);
        run.counters->fail("内容采集未完成，" + message);
        return message;
    };
    long long total = 0;
    bool countFailed = false;
    try {
        total = IntOf(readWork(collect::sql::CountWork(startId)).text(0, "total"));
    } catch (const std::exception& e) {
        run.pane(readFailed(e));
        countFailed = true;
    }
    if (countFailed) {
        // Nothing claimed; the rows stay queued for the next run.
    } else if (total == 0) {
        run.pane("没有内容需要采集，跳过[内容采集]步骤");
    } else {
        showRunningLabel(0, static_cast<int>(total));
        run.progressRange(1, 0, static_cast<int>(total));
        // The pool: "gettnum" when present, clamped to 1..3 so a 0 or garbage cannot stall it.
        int poolLimit = 3;
        if (settings.contains("gettnum"))
            poolLimit = static_cast<int>(std::clamp(SettingInt(settings, "gettnum"), 1LL, 3LL));

        while (startId >= 0) {
            // a. the pause between rows, cut short by a pause or stop request
            for (int waited = 0; waited < pauseMs; waited += 10) {
                if (run.runState() == RunState::Paused || run.stopRequested()) break;
                sleepMs(std::min(10, pauseMs - waited));
            }
            // b.
            if (!contentPauseCheck()) {
                WriteLog("TMyThread:内容采集|线程内 外部强制停止", 0);
                break;
            }
            // c.–d.
            const int running = run.counters->workers.load();
            if (m_s.state) m_s.state->setRunningWorkers(run.slot, running);
            WriteLog("TMyThread:内容采集|gettnum[Fsheetid]=" + std::to_string(running), 0);
            if (running >= poolLimit) {
                // Up to 100 ms, but the next row starts as soon as a worker has ended.
                for (int waited = 0; waited < 100 && run.counters->workers.load() >= poolLimit; ++waited) sleepMs(1);
                WriteLog("TMyThread:内容采集|采集线程数等于3 让线程体息下", 0);
                continue;
            }
            // e. claim the next row under the slot lock
            collect::SqlTable row;
            try {
                // A database another connection holds is waited for between tries, never while
                // holding the slot lock: the slot's workers must be able to store meanwhile. The
                // row is claimed as a writer: no worker starts on a row whose record could not be
                // stored.
                row = collect::RetryWhileBusy(
                    [&] {
                        std::lock_guard<std::mutex> g(*run.slotDbLock);
                        return collect::queryForUpdate(run.dbPath, collect::sql::ClaimNext(startId), 0);
                    },
                    [&run] { return run.stopRequested(); }, run.busyRetryTime);
            } catch (const std::exception& e) {
                run.message(readFailed(e));
                break;
            }
            // f.
            if (row.empty()) {
                if (!claimedAny) run.pane("没有网址需要采集内容,跳过[内容采集]步骤 ");
                WriteLog("TMyThread:内容采集|geturl=1，getc=0读取到的数据数为0", 0);
                startId = -1;
                continue;
            }
            // g.
            claimedAny = true;
            startId = IntOf(row.text(0, "id"));
            WriteLog("TMyThread:内容采集|miniid=" + std::to_string(startId), 0);
            // h. the keyword dictionary, once per run, when the rules segment keywords
            if (!dictionaryChecked) {
                dictionaryChecked = true;
                if (auto problem = engine::PrepareKeywordDictionary(settingsJson, run.programFolder))
                    run.message(*problem);
            }
            // i.
            ++current;
            showRunningLabel(current, static_cast<int>(total));
            // j. a long rest after very many rows, as sites expect of a polite client
            ++rowsStarted;
            if (rowsStarted % 120 == 0 && rowsStarted > 1199999) {
                run.pane("当前采集数：" + std::to_string(rowsStarted) + ",休息180000毫秒");
                run.sleepFor(180000);
            }
            // k. a worker for the row; counted before it starts so it can never count below zero
            collect::ContentJob job;
            job.run = m_run;
            job.id = startId;
            job.url = row.text(0, "url");
            job.idRow = collect::RowToText(row);
            auto counters = run.counters;
            counters->workers.fetch_add(1);
            if (m_s.state) m_s.state->setRunningWorkers(run.slot, counters->workers.load());
            auto worker = m_s.hooks.contentWorker;
            ProcessState* state = m_s.state;
            const int slot = run.slot;
            ThreadRegistry* threads = m_s.threads ? m_s.threads : &ThreadRegistry::global();
            threads->spawn("TGetThread", [worker, job, counters, state, slot] {
                bool stored = false;
                try {
                    stored = worker ? worker(job) : false;
                } catch (...) {
                    stored = false;
                }
                if (stored) {
                    counters->succeeded.fetch_add(1);
                    if (state) state->addSuccess(slot, 1);
                }
                counters->workers.fetch_sub(1);
            });
            WriteLog("TMyThread:内容采集|新建TGetThread线程开始，iD:" + std::to_string(startId), 0);
        }
    }

    // 7. wait up to 30 s for the workers
    WriteLog("TMyThread:内容采集|minid为0，采集结束" + std::to_string(startId), 0);
    const int checks = static_cast<int>(std::max<long long>(1, m_s.workerWait.count() / 100));
    for (int i = 0; i < checks; ++i) {
        const int running = run.counters->workers.load();
        if (m_s.state) m_s.state->setRunningWorkers(run.slot, running);
        if (running == 0) break;
        sleepMs(100);
        WriteLog("TMyThread:内容采集|判断采集线程数 gettnum[Fsheetid]：" + std::to_string(running), 0);
        showRunningLabel(current, static_cast<int>(total));
    }
    // Workers still busy are told to end their transfers and leave their rows queued, and are
    // waited for once more, so no row is left half collected and no partial file stays behind.
    if (const int busy = run.counters->workers.load(); busy > 0) {
        WriteLog("TMyThread:内容采集|等待" + std::to_string(m_s.workerWait.count() / 1000) + "秒后仍有" +
                     std::to_string(busy) + "个采集线程未结束，停止其下载，最多再等" +
                     std::to_string(m_s.workerCancelWait.count() / 1000) + "秒",
                 0);
        run.counters->cancelWorkers = true;
        const auto until = std::chrono::steady_clock::now() + m_s.workerCancelWait;
        while (run.counters->workers.load() > 0 && std::chrono::steady_clock::now() < until) sleepMs(20);
        const int left = run.counters->workers.load();
        if (m_s.state) m_s.state->setRunningWorkers(run.slot, left);
        WriteLog("TMyThread:内容采集|采集线程等待结束，仍在运行的线程数：" + std::to_string(left), 0);
        const long long unfinished = run.counters->rowsUnfinished.load() + left;
        const std::string line = "内容采集未完成" + std::to_string(unfinished) + "条（采集线程超时），下次运行继续采集";
        if (unfinished > 0) run.pane(line);
        WriteLog("TMyThread:内容采集|" + line, 0);
    }
    showRunningLabel(current, static_cast<int>(total));

    // The stage's account: rows stored, rows rejected and why, fields that went empty.
    if (claimedAny) {
        for (const auto& line :
             collect::FinishContentSummary(*run.tally, collect::FieldStatsPath(run.programFolder, run.taskId))) {
            run.pane(line);
            WriteLog("TMyThread:内容采集|" + line, 0);
        }
        run.counters->setMostlyEmptyFields(collect::MostlyEmptyFields(run.tally->fields()));
    }
}

}  // namespace tarvex::app

#include "app/schedule/scheduler.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "engine/field_rule.h"
#include "platform/run_log.h"
#include "platform/sqlite_db.h"
#include "platform/utf8.h"

namespace tarvex::app {

using platform::WriteLog;

// ---------------------------------------------------------------------------------------------
// The port over the run list

RunListSchedulerPort::RunListSchedulerPort(RunList& list, UiInvoker invoke)
    : m_list(list), m_invoke(std::move(invoke)) {}

bool RunListSchedulerPort::onUi(const std::function<void()>& fn) {
    if (!m_invoke) {
        fn();
        return true;
    }
    return m_invoke(fn);
}

std::optional<std::string> RunListSchedulerPort::removeStoppedRow(const std::string& entryName) {
    std::optional<std::string> removed;
    onUi([&] {
        const auto rows = m_list.rows();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            WriteLog("TAutoThread|tasklist_delete_check:停止运行i:" + std::to_string(i) + ",任务名：" + rows[i].name +
                         ",Fthis_taskname：" + entryName,
                     1);
            if (rows[i].state != kStateStopped) continue;
            WriteLog("TAutoThread|tasklist_delete_check:停止运行" + rows[i].name, 0);
            if (m_list.RemoveFromRunList(static_cast<int>(i))) removed = rows[i].name;
            break;
        }
    });
    return removed;
}

bool RunListSchedulerPort::canStart(std::int64_t taskId, const std::string& name) {
    bool ok = false;
    onUi([&] {
        const auto rows = m_list.rows();
        const std::string entry = std::to_string(taskId) + "," + name;
        for (const auto& row : rows) {
            if (row.taskId != taskId) continue;
            // Said once while the task holds its row, not at every pass.
            if (m_skipLogged.insert(entry).second)
                WriteLog("TAutoThread|任务已在运行列表，跳过:" + entry + " (" + row.name + "," + row.state + ")", 0);
            return;
        }
        m_skipLogged.erase(entry);
        if (rows.size() >= static_cast<std::size_t>(ProcessState::kMaxRunRows)) return;
        for (int s = 1; s <= ProcessState::kSlots; ++s)
            if (m_list.page(s).caption == name) return;
        ok = true;
    });
    return ok;
}

bool RunListSchedulerPort::addToRunList(std::int64_t taskId, const std::string& name,
                                        const std::array<bool, 3>& stages) {
    bool ok = false;
    onUi([&] {
        WriteLog("AutoThread|tasklist_add:" + std::to_string(taskId) + "," + name + "|" + StageFlagsText(stages), 0);
        if (!m_list.AddToRunList(taskId, name)) {
            WriteLog("AutoThread|tasklist_add:运行列表未能加入" + name, 0);
            return;
        }
        const int row = m_list.rowOf(name);
        for (int s = 0; s < 3; ++s) m_list.setStage(row, s, stages[static_cast<std::size_t>(s)]);
        WriteLog("AutoThread|tasklist_add:已加入运行列表,slot:" +
                     std::to_string(m_list.rows().at(static_cast<std::size_t>(row)).slot),
                 0);
        ok = true;
    });
    return ok;
}

bool RunListSchedulerPort::startRow(std::int64_t, const std::string& name) {
    bool ok = false;
    onUi([&] {
        const int row = m_list.rowOf(name);
        ok = row >= 0 && m_list.StartRun(row, "计划任务 线程开始");
    });
    return ok;
}

// ---------------------------------------------------------------------------------------------
// The scheduler

Scheduler::Scheduler(SchedulerServices services) : m_s(std::move(services)) {
    if (!m_s.taskIds) {
        Workspace ws = m_s.workspace;
        m_s.taskIds = [ws] { return CatalogueTaskIds(ws); };
    }
    if (!m_s.clock) m_s.clock = &platform::SystemClock::instance();
}

bool Scheduler::closing() const {
    return m_stop.load() || (m_s.state && m_s.state->closing.load());
}

void Scheduler::Start(std::shared_ptr<Scheduler> scheduler, ThreadRegistry& threads) {
    threads.spawn("TAutoThread", [scheduler] { scheduler->run(); });
}

void Scheduler::run() {
    using namespace std::chrono;
    while (!closing()) {
        // 1. The pause between passes, looked through often so a closing process is not held up.
        const auto until = steady_clock::now() + milliseconds(m_s.pollMs);
        while (!closing() && steady_clock::now() < until) std::this_thread::sleep_for(milliseconds(20));
        if (closing()) break;
        try {
            pass();
        } catch (const std::exception& e) {
            WriteLog(std::string("TAutoThread|计划任务出错:") + e.what(), 0);
        }
    }
}

std::vector<Scheduler::Entry> Scheduler::workList() {
    std::vector<Entry> work;
    // 3. The timetable, while scheduling is on. A missing file is a timetable without lines:
    // the waiting queue is still served.
    if (m_s.state->scheduling.load()) {
        if (auto lines = ReadScheduleFile(m_s.workspace.autotaskFile)) {
            for (auto& l : *lines) work.push_back({l, Entry::Source::Timetable});
        } else {
            WriteLog("TAutoThread|计划任务文件不存在:" + m_s.workspace.autotaskFile, 1);
        }
    }
    // 4. The waiting queue.
    {
        std::lock_guard<std::mutex> g(m_s.state->slotRecordLock());
        for (const auto& q : m_s.state->waitingQueue) work.push_back({q, Entry::Source::Queue});
    }
    if (!m_s.queueFile.empty()) {
        try {
            for (auto& q : QueueFile{m_s.queueFile}.entries()) work.push_back({q, Entry::Source::QueueFile});
        } catch (const std::exception& e) {
            WriteLog(std::string("TAutoThread|读取队列文件出错:") + e.what(), 0);
        }
    }
    return work;
}

int Scheduler::pass() {
    // 2.
    bool queued = false;
    {
        std::lock_guard<std::mutex> g(m_s.state->slotRecordLock());
        queued = !m_s.state->waitingQueue.empty();
    }
    const bool fileQueued = !m_s.queueFile.empty() && pathExists(m_s.queueFile);
    if (!m_s.state->scheduling.load() && !queued && !fileQueued) return 0;

    const std::vector<Entry> work = workList();
    if (work.empty()) return 0;
    const std::tm now = LocalTime(m_s.clock->now());
    // The catalogue is read once per pass so lines of deleted tasks are found.
    const std::optional<std::set<std::int64_t>> ids = m_s.taskIds ? m_s.taskIds() : std::nullopt;

    int started = 0;
    for (std::size_t i = 0; i < work.size(); ++i) {
        if (closing()) break;
        if (startEntry(i, work[i], now, ids)) ++started;
    }
    // 6.
    WriteLog("TAutoThread|判断有没有计划任务结束", 1);
    return started;
}

bool Scheduler::startEntry(std::size_t index, const Entry& entry, const std::tm& now,
                           const std::optional<std::set<std::int64_t>>& ids) {
    const std::string i = std::to_string(index);
    // a.
    WriteLog("当前循环st.count,i:" + i, 1);
    if (engine::TrimText(entry.text).empty()) return false;
    const ScheduleLine line = ScheduleLine::parse(entry.text);
    const bool queueEntry = entry.source != Entry::Source::Timetable;
    if (!queueEntry) {
        // Lines edited by hand: a number field that is not a list of integers is skipped, every pass.
        const std::string problem = ScheduleLineProblem(line);
        if (!problem.empty()) {
            WriteLog("TAutoThread|计划任务格式错误，跳过:" + entry.text + " (" + problem + ")", 0);
            return false;
        }
    }
    if (!IsScheduleDue(line, now)) return false;
    // b. once per calendar minute
    const std::string minute = MinuteStamp(now);
    auto last = m_lastStartMinute.find(line.key());
    if (!queueEntry && last != m_lastStartMinute.end() && last->second == minute) return false;

    // c.
    const std::array<bool, 3> stages = ParseStageFlags(line.fields[1]);
    WriteLog("当前循环st.count,i:" + i + "任务名：" + line.key() +
                 "lasttimest:" + (last != m_lastStartMinute.end() ? last->second : std::string()),
             0);
    WriteLog("执行任务:" + line.key() + ",最后执行时间" + TimeStamp(now), 0);
    WriteLog("当前循环st.count,i:" + i + "开始判断任务", 0);
    const auto key = ParseTaskKey(line.key());
    if (!key) {
        WriteLog("TAutoThread|Fthis_taskid_taskname配置出错", 0);
        if (queueEntry) dropEntry(entry);
        return false;
    }
    if (ids && !ids->count(key->id)) {
        if (queueEntry) {
            WriteLog("TAutoThread|任务ID不存在，移出等待队列:" + line.key(), 0);
            dropEntry(entry);
        } else {
            WriteLog("TAutoThread|任务ID不存在，跳过计划任务:" + line.key(), 0);
        }
        return false;
    }

    // d. a stopped row gives its place back first; the entry waits for the next pass.
    auto removed = m_s.port->removeStoppedRow(key->name);
    WriteLog(std::string("TAutoThread|tasklist_delete_check检测任务已停止Fcheck_thistask：") + (removed ? "0" : "-1"),
             0);
    if (removed) return false;
    // e.
    const bool free = m_s.port->canStart(key->id, key->name);
    WriteLog("TAutoThread|Fcheck_thistask是否正在运行，或超出运行最大数", 0);
    if (!free) return false;
    // f.
    WriteLog("TAutoThread|开始tasklist_add", 0);
    if (!queueEntry) m_lastStartMinute[line.key()] = minute;
    // g.
    if (!m_s.port->addToRunList(key->id, key->name, stages)) return false;
    // h.
    WriteLog("TAutoThread|tasklist_do", 0);
    const bool started = m_s.port->startRow(key->id, key->name);
    // i.
    if (queueEntry && started) finishQueueEntry(entry, now);
    // j.
    WriteLog("当前循环st.count,i:" + i + "任务结束", 0);
    return started;
}

void Scheduler::dropEntry(const Entry& entry) {
    if (entry.source == Entry::Source::QueueFile) {
        try {
            QueueFile{m_s.queueFile}.remove(entry.text);
        } catch (const std::exception& e) {
            WriteLog(std::string("TAutoThread|队列文件写入出错:") + e.what(), 0);
        }
        return;
    }
    std::lock_guard<std::mutex> g(m_s.state->slotRecordLock());
    auto& q = m_s.state->waitingQueue;
    auto it = std::find(q.begin(), q.end(), entry.text);
    if (it != q.end()) q.erase(it);
}

void Scheduler::finishQueueEntry(const Entry& entry, const std::tm& now) {
    WriteLog("TAutoThread|临时任务进入临界区", 0);
    dropEntry(entry);
    std::lock_guard<std::mutex> g(m_s.state->slotRecordLock());
    m_s.state->ranList.push_back(TimeStamp(now) + " " + ScheduleLine::parse(entry.text).key());
}

// ---------------------------------------------------------------------------------------------

std::optional<std::set<std::int64_t>> CatalogueTaskIds(const Workspace& ws) {
    try {
        platform::SqliteConnection db(ws.configDb, platform::SqliteConnection::Mode::ReadOnly);
        platform::SqliteStatement st(db, "select id from vorn_task");
        std::set<std::int64_t> ids;
        while (st.step()) ids.insert(st.columnInt(0));
        return ids;
    } catch (const std::exception& e) {
        WriteLog(std::string("TAutoThread|读取任务列表出错:") + e.what(), 0);
        return std::nullopt;
    }
}

std::string QueueFilePath(const Workspace& ws) {
    return ws.programFolder + "config/queue.txt";
}

namespace {
// The queue file's lines under an exclusive advisory lock; `change` may edit them, and they
// are written back when it returns true.
std::vector<std::string> withQueueFile(const std::string& path, bool create,
                                       const std::function<bool(std::vector<std::string>&)>& change) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    if (fd < 0) {
        if (!create && errno == ENOENT) return {};
        throw std::runtime_error("无法打开队列文件 " + path + ": " + std::strerror(errno));
    }
    ::flock(fd, LOCK_EX);
    std::string content;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) content.append(buf, static_cast<std::size_t>(n));
    std::vector<std::string> lines;
    std::istringstream in{std::string(platform::utf8::stripBom(content))};
    for (std::string l; std::getline(in, l);) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        if (!l.empty()) lines.push_back(l);
    }
    if (change && change(lines)) {
        std::string out;
        for (const auto& l : lines) out += l + "\n";
        bool ok = ::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0;
        for (std::size_t done = 0; ok && done < out.size();) {
            ssize_t w = ::write(fd, out.data() + done, out.size() - done);
            if (w <= 0)
                ok = false;
            else
                done += static_cast<std::size_t>(w);
        }
        if (!ok) {
            const std::string err = std::strerror(errno);
            ::close(fd);
            throw std::runtime_error("无法写入队列文件 " + path + ": " + err);
        }
    }
    ::close(fd);  // also releases the lock
    return lines;
}
}  // namespace

bool QueueFile::add(const std::string& entry) const {
    const std::string prefix = ScheduleLine::parse(entry).key() + "|";
    bool added = false;
    withQueueFile(path, true, [&](std::vector<std::string>& lines) {
        for (const auto& l : lines)
            if (l.rfind(prefix, 0) == 0) return false;
        lines.push_back(entry);
        added = true;
        return true;
    });
    return added;
}

std::vector<std::string> QueueFile::entries() const {
    return withQueueFile(path, false, {});
}

void QueueFile::remove(const std::string& entry) const {
    withQueueFile(path, false, [&](std::vector<std::string>& lines) {
        auto it = std::find(lines.begin(), lines.end(), entry);
        if (it == lines.end()) return false;
        lines.erase(it);
        return true;
    });
}

}  // namespace tarvex::app

#include "platform/run_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/utf8.h"

namespace tarvex::platform {

namespace {
std::tm localTime(std::chrono::system_clock::time_point tp) {
    std::time_t t = std::chrono::system_clock::to_time_t(tp);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

std::string format(const Clock& clock, const char* fmt) {
    std::tm tm = localTime(clock.now());
    char buf[64];
    std::strftime(buf, sizeof buf, fmt, &tm);
    return buf;
}
}  // namespace

std::string joinPath(const std::string& folder, const std::string& rel) {
    if (folder.empty()) return rel;
    if (folder.back() == '/' || folder.back() == '\\') return folder + rel;
    return folder + "/" + rel;
}

RunLog& RunLog::global() {
    static RunLog log;
    return log;
}

RunLog::~RunLog() {
    if (!m_pending.empty() && m_logOn) {
        std::string error;
        appendLocked(m_pending, false, error);
    }
    closeFileLocked();
}

void RunLog::setClock(const Clock* clock) {
    std::lock_guard<std::mutex> g(m_lock);
    m_clock = clock;
    m_stampSecond = -1;
}

void RunLog::init(const std::string& programFolder, bool logOn, bool detailOn, const Clock& clock) {
    std::lock_guard<std::mutex> g(m_lock);
    if (!m_pending.empty() && m_logOn) {
        std::string error;
        appendLocked(m_pending, false, error);
    }
    m_pending.clear();
    closeFileLocked();
    m_programFolder = programFolder;
    m_clock = &clock;
    m_stampSecond = -1;
    m_logOn = logOn;
    m_detailOn = detailOn;
    m_filePath.clear();
    if (logOn) m_filePath = joinPath(programFolder, "log/" + format(clock, "%m-%d-%H-%M-%S") + ".log");
}

void RunLog::closeFileLocked() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

int RunLog::fileLocked(bool look, std::string& error) {
    if (m_fd >= 0) {
        // A file deleted while the program runs is created again at its name. Looked at when
        // the second of the time stamp changes, which keeps the check out of the cost of a line.
        if (!look) return m_fd;
        struct stat st {};
        if (::fstat(m_fd, &st) == 0 && st.st_nlink > 0) return m_fd;
        closeFileLocked();
    }
    m_fd = ::open(m_filePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) == 0 && !S_ISREG(st.st_mode)) {
        error = std::strerror(EISDIR);
        closeFileLocked();
        return -1;
    }
    return m_fd;
}

bool RunLog::stampLocked() {
    const std::time_t now = std::chrono::system_clock::to_time_t(m_clock->now());
    const bool changed = now != m_stampSecond;
    if (changed) {
        m_stampSecond = now;
        std::tm tm{};
        localtime_r(&now, &tm);
        char buf[32];
        std::strftime(buf, sizeof buf, "%m%d %H:%M:%S", &tm);
        m_stamp = buf;
    }
    return changed;
}

void RunLog::appendLocked(const std::string& text, bool look, std::string& error) {
    int fd = fileLocked(look, error);
    if (fd < 0) return;
    // One write: with O_APPEND the lines land whole at the end of the file.
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = std::strerror(n < 0 ? errno : EIO);
            // The next line opens the file again.
            closeFileLocked();
            return;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

void RunLog::write(const std::string& text, int level) {
    if (!enabled(level)) return;
    // The kernel's thread id, as the lines of the system carry it; looked up once per thread.
    thread_local const std::string threadId = std::to_string(static_cast<long>(::syscall(SYS_gettid)));
    constexpr std::size_t kBatchBytes = 64 * 1024;
    std::string error;
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (!m_logOn) return;  // closed meanwhile
        const bool newSecond = stampLocked();
        if (level != 0 && m_batches > 0) {
            m_pending.append(m_stamp).append(",").append(threadId).append(", ").append(text).append("\n");
            if (m_pending.size() < kBatchBytes && !newSecond) return;
            appendLocked(m_pending, newSecond, error);
            m_pending.clear();
        } else if (!m_pending.empty()) {
            m_pending.append(m_stamp).append(",").append(threadId).append(", ").append(text).append("\n");
            appendLocked(m_pending, newSecond, error);
            m_pending.clear();
        } else {
            m_line.clear();
            m_line.append(m_stamp).append(",").append(threadId).append(", ").append(text).append("\n");
            appendLocked(m_line, newSecond, error);
        }
    }
    // Reported outside the lock: the dialog may block until a person answers it.
    if (!error.empty()) reportFailure(error);
}

void RunLog::beginBatch() {
    std::lock_guard<std::mutex> g(m_lock);
    ++m_batches;
}

void RunLog::endBatch() {
    std::string error;
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_batches > 0) --m_batches;
        if (m_batches > 0 || m_pending.empty()) return;
        if (m_logOn) appendLocked(m_pending, false, error);
        m_pending.clear();
    }
    if (!error.empty()) reportFailure(error);
}

void RunLog::close() {
    std::lock_guard<std::mutex> g(m_lock);
    if (!m_pending.empty() && m_logOn) {
        std::string error;
        appendLocked(m_pending, false, error);
        m_pending.clear();
    }
    m_logOn = false;
    m_detailOn = false;
    closeFileLocked();
}

std::string RunLog::accessLogPath() const {
    return joinPath(m_programFolder, kAccessLogName);
}

void RunLog::writeAccess(const std::string& text) {
    std::string error;
    {
        // Under the lock: two pages written at once would otherwise both read the old file and
        // one entry would be lost.
        std::lock_guard<std::mutex> g(m_lock);
        // Before init there is no program folder: writing would drop the file into whatever
        // folder the process happens to run in.
        if (m_programFolder.empty()) return;
        const std::string path = accessLogPath();
        std::string existing;
        {
            std::ifstream in(path, std::ios::binary);
            if (in) {
                std::ostringstream ss;
                ss << in.rdbuf();
                existing = std::string(utf8::stripBom(ss.str()));
            }
        }
        std::string entry = format(*m_clock, "%m-%d %H:%M:%S") + ", " + text;
        std::string all = std::string(utf8::kBom) + existing;
        if (!existing.empty() && existing.back() != '\n') all += "\r\n";
        all += entry + "\r\n";
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = std::strerror(errno);
        } else {
            out.write(all.data(), static_cast<std::streamsize>(all.size()));
            if (!out) error = "write failed";
        }
    }
    // Reported outside the lock: the dialog may block until a person answers it.
    if (!error.empty()) reportFailure(error);
}

void RunLog::reportFailure(const std::string& error) {
    if (Dialogs* d = m_dialogs.load()) d->message("日志写入错误" + error, kAppTitle);
}

void InitLog(const std::string& programFolder, bool logOn, bool detailOn) {
    RunLog::global().init(programFolder, logOn, detailOn);
}
void WriteLog(const std::string& text, int level) {
    RunLog::global().write(text, level);
}
void CloseLog() {
    RunLog::global().close();
}
void WriteAccessLog(const std::string& text) {
    RunLog::global().writeAccess(text);
}

}  // namespace tarvex::platform

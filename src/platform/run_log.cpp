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
    closeFileLocked();
}

void RunLog::setClock(const Clock* clock) {
    std::lock_guard<std::mutex> g(m_lock);
    m_clock = clock;
    m_stampSecond = -1;
}

void RunLog::init(const std::string& programFolder, bool logOn, bool detailOn, const Clock& clock) {
    std::lock_guard<std::mutex> g(m_lock);
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

void RunLog::write(const std::string& text, int level) {
    if (!enabled(level)) return;
    // The kernel's thread id, as the lines of the system carry it; looked up once per thread.
    thread_local const std::string threadId = std::to_string(static_cast<long>(::syscall(SYS_gettid)));
    std::string error;
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (!m_logOn) return;  // closed meanwhile
        const bool newSecond = stampLocked();
        int fd = fileLocked(newSecond, error);
        if (fd >= 0) {
            m_line.clear();
            m_line.append(m_stamp).append(",").append(threadId).append(", ").append(text).append("\n");
            // One write per line: with O_APPEND the line lands whole at the end of the file.
            const char* p = m_line.data();
            std::size_t left = m_line.size();
            while (left > 0) {
                ssize_t n = ::write(fd, p, left);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    error = std::strerror(n < 0 ? errno : EIO);
                    // The next line opens the file again.
                    closeFileLocked();
                    break;
                }
                p += n;
                left -= static_cast<std::size_t>(n);
            }
        }
    }
    // Reported outside the lock: the dialog may block until a person answers it.
    if (!error.empty()) reportFailure(error);
}

void RunLog::close() {
    std::lock_guard<std::mutex> g(m_lock);
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

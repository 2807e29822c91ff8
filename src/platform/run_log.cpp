#include "platform/run_log.h"

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

void RunLog::init(const std::string& programFolder, bool logOn, bool detailOn, const Clock& clock) {
    std::lock_guard<std::mutex> g(m_lock);
    m_programFolder = programFolder;
    m_clock = &clock;
    m_logOn = logOn;
    m_detailOn = detailOn;
    m_filePath.clear();
    if (m_logOn) m_filePath = joinPath(programFolder, "log/" + format(clock, "%m-%d-%H-%M-%S") + ".log");
}

void RunLog::write(const std::string& text, int level) {
    if (!m_logOn) return;
    if (level != 0 && !m_detailOn) return;
    std::string error;
    {
        std::lock_guard<std::mutex> g(m_lock);
        std::FILE* f = std::fopen(m_filePath.c_str(), "ab");
        if (!f) {
            error = std::strerror(errno);
        } else {
            std::ostringstream line;
            line << format(*m_clock, "%m%d %H:%M:%S") << "," << static_cast<long>(::syscall(SYS_gettid)) << ", " << text
                 << "\n";
            std::string s = line.str();
            if (std::fwrite(s.data(), 1, s.size(), f) != s.size()) error = std::strerror(errno);
            if (std::fclose(f) != 0 && error.empty()) error = std::strerror(errno);
        }
    }
    // Reported outside the lock: the dialog may block until a person answers it.
    if (!error.empty()) reportFailure(error);
}

void RunLog::close() {
    std::lock_guard<std::mutex> g(m_lock);
    m_logOn = false;
    m_detailOn = false;
}

std::string RunLog::accessLogPath() const {
    return joinPath(m_programFolder, kAccessLogName);
}

void RunLog::writeAccess(const std::string& text) {
    std::string path = accessLogPath();
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
        reportFailure(std::strerror(errno));
        return;
    }
    out.write(all.data(), static_cast<std::streamsize>(all.size()));
    if (!out) reportFailure("write failed");
}

void RunLog::reportFailure(const std::string& error) {
    if (m_dialogs) m_dialogs->message("日志写入错误" + error, kAppTitle);
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

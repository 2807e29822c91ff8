#pragma once
// The run log: one plain text file per process start under "log/", one line per event,
// written by every thread through one lock, the file opened and closed per line so it stays
// readable while the program runs. Also the access log, a single UTF-8 file with a BOM that
// keeps the page sources of interactive test fetches.
#include <mutex>
#include <string>

#include "platform/ports.h"

namespace tarvex::platform {

class RunLog {
public:
    // The instance WriteLog and friends use. Lives for the whole process.
    static RunLog& global();

    // Stores the switches; when logging is on fixes the file name from the clock.
    void init(const std::string& programFolder, bool logOn, bool detailOn,
              const Clock& clock = SystemClock::instance());
    // Writes one line when the level is switched on. Safe from any thread. A failed write is
    // reported through the dialogs port as "日志写入错误" + the error, and the caller goes on.
    void write(const std::string& text, int level);
    void close();
    // Appends one entry to the access log file in the program folder.
    void writeAccess(const std::string& text);

    // Where failures are reported; by default nowhere. Not owned.
    void setDialogs(Dialogs* dialogs) { m_dialogs = dialogs; }
    void setClock(const Clock* clock) { m_clock = clock; }

    bool logOn() const { return m_logOn; }
    bool detailOn() const { return m_detailOn; }
    // Full path of this start's log file, "" when logging is off.
    const std::string& filePath() const { return m_filePath; }
    std::string accessLogPath() const;

private:
    void reportFailure(const std::string& error);

    std::mutex m_lock;
    std::string m_programFolder;
    std::string m_filePath;
    bool m_logOn = false;
    bool m_detailOn = false;
    const Clock* m_clock = &SystemClock::instance();
    Dialogs* m_dialogs = nullptr;
};

// The system's run log entry points, over RunLog::global().
void InitLog(const std::string& programFolder, bool logOn, bool detailOn);
void WriteLog(const std::string& text, int level = 0);
void CloseLog();
void WriteAccessLog(const std::string& text);

// The file name of the access log, inside the program folder.
inline constexpr const char* kAccessLogName = "访问日志(乱码的话使用自带记事本打开).txt";

// Joins a folder and a relative path with exactly one "/" between them.
std::string joinPath(const std::string& folder, const std::string& rel);

}  // namespace tarvex::platform

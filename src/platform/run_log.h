#pragma once
// The run log: one plain text file per process start under "log/", one line per event,
// written by every thread through one lock. The file stays open in append mode between lines
// and each line goes out in one write, so a crash loses nothing already written and other
// programs can read the file while it grows; a deleted file is created again. Also the access
// log, a single UTF-8 file with a BOM that keeps the page sources of interactive test fetches.
// Inside a LogBatch the detail lines are written together with the next normal line, at the
// batch's end, or when 64 KB or a new second have gathered, in the order they were written.
#include <atomic>
#include <ctime>
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
    // Switches logging off and closes the file.
    void close();
    // True when a line of this level would be written; lets hot loops skip building the text.
    bool enabled(int level) const {
        return m_logOn.load(std::memory_order_relaxed) && (level == 0 || m_detailOn.load(std::memory_order_relaxed));
    }
    // Opens and ends a batch (see LogBatch); batches of several threads may be open at once.
    void beginBatch();
    void endBatch();
    // Appends one entry to the access log file in the program folder.
    void writeAccess(const std::string& text);

    // Where failures are reported; by default nowhere. Not owned.
    void setDialogs(Dialogs* dialogs) { m_dialogs = dialogs; }
    void setClock(const Clock* clock);

    bool logOn() const { return m_logOn; }
    bool detailOn() const { return m_detailOn; }
    // Full path of this start's log file, "" when logging is off.
    const std::string& filePath() const { return m_filePath; }
    std::string accessLogPath() const;

    ~RunLog();

private:
    void reportFailure(const std::string& error);
    // The open file, opened (again) when needed, and when `look` checked for having been
    // deleted; -1 and `error` set when it cannot be opened. Caller holds m_lock.
    int fileLocked(bool look, std::string& error);
    void closeFileLocked();
    // Sets m_stamp to "mmdd hh:nn:ss" of now, formatted once per second; true when the second
    // changed. Caller holds m_lock.
    bool stampLocked();
    // Writes `text` at the end of the file in one write; `look` as for fileLocked. Caller holds
    // m_lock; a failure sets `error`.
    void appendLocked(const std::string& text, bool look, std::string& error);

    std::mutex m_lock;
    std::string m_programFolder;
    std::string m_filePath;
    // Read by every writer before it takes the lock; written under it.
    std::atomic<bool> m_logOn{false};
    std::atomic<bool> m_detailOn{false};
    const Clock* m_clock = &SystemClock::instance();
    std::atomic<Dialogs*> m_dialogs{nullptr};
    int m_fd = -1;
    std::time_t m_stampSecond = -1;
    std::string m_stamp;
    std::string m_line;     // reused for every line
    int m_batches = 0;      // open LogBatch scopes
    std::string m_pending;  // detail lines gathered while a batch is open
};

// A stretch of work that writes many detail lines (one list page, one content row): while it
// lasts, detail lines go out in batches rather than one write each, which is what makes the
// detail trace affordable. Normal lines are never held back, and a line that was written is
// never reordered; a crash of the program can lose the detail lines since the last normal line.
class LogBatch {
public:
    explicit LogBatch(RunLog& log = RunLog::global()) : m_log(log) { m_log.beginBatch(); }
    ~LogBatch() { m_log.endBatch(); }
    LogBatch(const LogBatch&) = delete;
    LogBatch& operator=(const LogBatch&) = delete;

private:
    RunLog& m_log;
};

// The system's run log entry points, over RunLog::global().
void InitLog(const std::string& programFolder, bool logOn, bool detailOn);
void WriteLog(const std::string& text, int level = 0);
// True when WriteLog would write a line of this level.
inline bool LogEnabled(int level) {
    return RunLog::global().enabled(level);
}
void CloseLog();
void WriteAccessLog(const std::string& text);

// The file name of the access log, inside the program folder.
inline constexpr const char* kAccessLogName = "访问日志(乱码的话使用自带记事本打开).txt";

// Joins a folder and a relative path with exactly one "/" between them.
std::string joinPath(const std::string& folder, const std::string& rel);

}  // namespace tarvex::platform

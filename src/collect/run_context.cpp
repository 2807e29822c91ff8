#include "collect/run_context.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "platform/run_log.h"

namespace tarvex::collect {

RunState parseRunState(const std::string& field) {
    if (field == "1") return RunState::Running;
    if (field == "2") return RunState::Paused;
    if (field == "3") return RunState::Stopping;
    return RunState::Idle;
}

void RunCounters::fail(const std::string& reason) {
    std::lock_guard<std::mutex> g(m_lock);
    if (m_failure.empty()) m_failure = reason;
}

std::string RunCounters::failure() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_failure;
}

void RunCounters::setMostlyEmptyFields(std::vector<std::string> fields) {
    std::lock_guard<std::mutex> g(m_lock);
    m_mostlyEmpty = std::move(fields);
}

std::vector<std::string> RunCounters::mostlyEmptyFields() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_mostlyEmpty;
}

RunState RunContext::runState() const {
    if (closing()) return RunState::Stopping;
    return readRunState ? parseRunState(readRunState()) : RunState::Running;
}

void RunContext::pane(const std::string& line) const {
    if (view) view->appendPane(slot, line);
}
void RunContext::label(int which, const std::string& text) const {
    if (view) view->setLabel(slot, which, text);
}
void RunContext::progressRange(int bar, int min, int max) const {
    if (view) view->setProgressRange(slot, bar, min, max);
}
void RunContext::progress(int bar, int value) const {
    if (view) view->setProgress(slot, bar, value);
}
void RunContext::message(const std::string& text) const {
    if (closing()) {
        platform::WriteLog("TMyThread:" + text, 0);
        return;
    }
    if (dialogs) dialogs->message(text, platform::kAppTitle);
}

bool RunContext::pauseCheck(const std::string& logLine) const {
    bool noted = false;
    for (;;) {
        RunState s = runState();
        if (s == RunState::Stopping) return false;
        if (s != RunState::Paused) return true;
        if (!noted) {
            platform::WriteLog(logLine, 0);
            pane(paneTime() + "任务暂停");
            noted = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool RunContext::sleepFor(int ms) const {
    const int step = sleepStepMs > 0 ? sleepStepMs : 10;
    for (int done = 0; done < ms; done += step) {
        if (stopRequested()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(step, ms - done)));
    }
    return !stopRequested();
}

std::string paneTime() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%y-%m-%d %H:%M:%S", &tm);
    return buf;
}

}  // namespace tarvex::collect

#include "support/fakes.h"

#include <ctime>
#include <thread>

namespace tarvex::test {

void ScriptedDialogs::message(const std::string& text, const std::string& caption) {
    std::lock_guard<std::mutex> g(m_lock);
    m_shown.push_back({"message", text, caption});
}

bool ScriptedDialogs::confirm(const std::string& text, const std::string& title) {
    std::lock_guard<std::mutex> g(m_lock);
    m_shown.push_back({"confirm", text, title});
    if (m_confirms.empty()) return true;
    bool a = m_confirms.front();
    m_confirms.pop_front();
    return a;
}

std::optional<std::string> ScriptedDialogs::askText(const std::string& title, const std::string& prompt,
                                                    const std::string&) {
    std::lock_guard<std::mutex> g(m_lock);
    m_shown.push_back({"ask", prompt, title});
    if (m_answers.empty()) return std::nullopt;
    auto a = m_answers.front();
    m_answers.pop_front();
    return a;
}

void ScriptedDialogs::queueConfirm(bool answer) {
    std::lock_guard<std::mutex> g(m_lock);
    m_confirms.push_back(answer);
}

void ScriptedDialogs::queueAnswer(std::optional<std::string> answer) {
    std::lock_guard<std::mutex> g(m_lock);
    m_answers.push_back(std::move(answer));
}

std::vector<ScriptedDialogs::Shown> ScriptedDialogs::shown() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_shown;
}

std::vector<std::string> ScriptedDialogs::messages() const {
    std::lock_guard<std::mutex> g(m_lock);
    std::vector<std::string> out;
    for (const auto& s : m_shown)
        if (s.kind == "message") out.push_back(s.text);
    return out;
}

bool ScriptedDialogs::sawMessage(const std::string& text) const {
    for (const auto& m : messages())
        if (m == text) return true;
    return false;
}

void ScriptedDialogs::clear() {
    std::lock_guard<std::mutex> g(m_lock);
    m_shown.clear();
}

void RecordingSlotView::appendPane(int slot, const std::string& line) {
    std::lock_guard<std::mutex> g(m_lock);
    m_calls.push_back({"pane", slot, 0, 0, 0, line});
}

void RecordingSlotView::setLabel(int slot, int which, const std::string& text) {
    std::lock_guard<std::mutex> g(m_lock);
    m_calls.push_back({"label", slot, which, 0, 0, text});
}

void RecordingSlotView::setProgressRange(int slot, int bar, int min, int max) {
    std::lock_guard<std::mutex> g(m_lock);
    m_calls.push_back({"range", slot, bar, min, max, {}});
}

void RecordingSlotView::setProgress(int slot, int bar, int value) {
    std::lock_guard<std::mutex> g(m_lock);
    m_calls.push_back({"progress", slot, bar, value, 0, {}});
}

std::vector<RecordingSlotView::Call> RecordingSlotView::calls() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_calls;
}

std::vector<std::string> RecordingSlotView::paneLines(int slot) const {
    std::lock_guard<std::mutex> g(m_lock);
    std::vector<std::string> out;
    for (const auto& c : m_calls) {
        if (c.kind != "pane" || c.slot != slot) continue;
        if (c.text.empty())
            out.clear();
        else
            out.push_back(c.text);
    }
    return out;
}

std::chrono::system_clock::time_point ManualClock::now() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_now;
}

void ManualClock::set(std::chrono::system_clock::time_point t) {
    std::lock_guard<std::mutex> g(m_lock);
    m_now = t;
}

void ManualClock::advance(std::chrono::milliseconds d) {
    std::lock_guard<std::mutex> g(m_lock);
    m_now += d;
}

std::chrono::system_clock::time_point ManualClock::local(int year, int month, int day, int hour, int min, int sec) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = min;
    tm.tm_sec = sec;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pred();
}

}  // namespace tarvex::test

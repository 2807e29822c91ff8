#pragma once
// Scripted and recording answers to the core's ports, a clock tests set by hand, and a
// bounded wait for a condition that another thread makes true.
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ports.h"

namespace tarvex::test {

// Answers confirmations and questions from queues (default: confirm yes, questions cancelled)
// and records every message and prompt.
class ScriptedDialogs final : public platform::Dialogs {
public:
    struct Shown {
        std::string kind;  // "message", "confirm", "ask"
        std::string text;
        std::string caption;
    };
    void message(const std::string& text, const std::string& caption) override;
    bool confirm(const std::string& text, const std::string& title) override;
    std::optional<std::string> askText(const std::string& title, const std::string& prompt,
                                       const std::string& initial) override;

    void queueConfirm(bool answer);
    void queueAnswer(std::optional<std::string> answer);

    std::vector<Shown> shown() const;
    std::vector<std::string> messages() const;  // texts of message boxes only
    bool sawMessage(const std::string& text) const;
    void clear();

private:
    mutable std::mutex m_lock;
    std::vector<Shown> m_shown;
    std::deque<bool> m_confirms;
    std::deque<std::optional<std::string>> m_answers;
};

// Records every slot status call in order.
class RecordingSlotView final : public platform::SlotView {
public:
    struct Call {
        std::string kind;  // "pane", "label", "range", "progress"
        int slot = 0, which = 0, a = 0, b = 0;
        std::string text;
    };
    void appendPane(int slot, const std::string& line) override;
    void setLabel(int slot, int which, const std::string& text) override;
    void setProgressRange(int slot, int bar, int min, int max) override;
    void setProgress(int slot, int bar, int value) override;

    std::vector<Call> calls() const;
    std::vector<std::string> paneLines(int slot) const;

private:
    mutable std::mutex m_lock;
    std::vector<Call> m_calls;
};

class ManualClock final : public platform::Clock {
public:
    explicit ManualClock(std::chrono::system_clock::time_point t = {}) : m_now(t) {}
    std::chrono::system_clock::time_point now() const override;
    void set(std::chrono::system_clock::time_point t);
    void advance(std::chrono::milliseconds d);
    // A local time, interpreted in the process's time zone.
    static std::chrono::system_clock::time_point local(int year, int month, int day, int hour, int min, int sec);

private:
    mutable std::mutex m_lock;
    std::chrono::system_clock::time_point m_now;
};

// Polls `pred` until it holds or `timeout` passes; returns its last value.
bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace tarvex::test

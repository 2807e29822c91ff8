#pragma once
// The ports through which the core talks to a person. The GUI answers them with widgets on
// the UI thread, tarvex-cli prints, tests script and record.
#include <chrono>
#include <optional>
#include <string>

namespace tarvex::platform {

// Everything the core asks of a person. The GUI answers with dialogs on the UI thread (a
// background caller blocks until the dialog closes); tests script it.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void message(const std::string& text, const std::string& caption) = 0;
    virtual bool confirm(const std::string& text, const std::string& title) = 0;
    virtual std::optional<std::string> askText(const std::string& title, const std::string& prompt,
                                               const std::string& initial) = 0;
};

// What a run slot's page shows. Called from runner and worker threads, in order.
class SlotView {
public:
    virtual ~SlotView() = default;
    virtual void appendPane(int slot, const std::string& line) = 0;  // "" empties it
    virtual void setLabel(int slot, int which, const std::string& text) = 0;
    virtual void setProgressRange(int slot, int bar, int min, int max) = 0;
    virtual void setProgress(int slot, int bar, int value) = 0;
};

// Wall-clock time, injected wherever time decides behaviour so tests can fix it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::system_clock::time_point now() const = 0;
};

class SystemClock final : public Clock {
public:
    std::chrono::system_clock::time_point now() const override { return std::chrono::system_clock::now(); }
    static const SystemClock& instance() {
        static const SystemClock clock;
        return clock;
    }
};

// Dialogs that answer nothing: messages are dropped, confirmations refused, questions
// cancelled. For headless callers that have no person to ask.
class SilentDialogs final : public Dialogs {
public:
    void message(const std::string&, const std::string&) override {}
    bool confirm(const std::string&, const std::string&) override { return false; }
    std::optional<std::string> askText(const std::string&, const std::string&, const std::string&) override {
        return std::nullopt;
    }
};

// The caption every message box carries unless a caller names another.
inline constexpr const char* kAppTitle = "Tarvex采集器";

}  // namespace tarvex::platform

#pragma once
// What each run slot's page shows (pane lines, two labels, two progress bars), kept in the
// core so every front end applies the same rules: a pane holds at most 1000 lines and is
// emptied when an added line makes it longer; an empty text empties it at once.
// Thread-safe; every change is forwarded, in order, to an optional listener (the widgets).
#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ports.h"

namespace tarvex::app {

class SlotViewModel final : public platform::SlotView {
public:
    static constexpr std::size_t kMaxPaneLines = 1000;
    static constexpr int kSlots = 5;  // slots 1..5; slot 0 is the main run log page

    struct Bar {
        int min = 0, max = 100, value = 0;
    };
    struct Slot {
        std::vector<std::string> pane;
        std::array<std::string, 3> labels{"", "运行状态：", "附件状态："};
        std::array<Bar, 3> bars{};
    };

    // Listener not owned; it sees every change after the model applied it.
    explicit SlotViewModel(platform::SlotView* listener = nullptr) : m_listener(listener) {}
    void setListener(platform::SlotView* listener);

    void appendPane(int slot, const std::string& line) override;
    void setLabel(int slot, int which, const std::string& text) override;
    void setProgressRange(int slot, int bar, int min, int max) override;
    void setProgress(int slot, int bar, int value) override;

    // A copy of one slot's state.
    Slot snapshot(int slot) const;
    // Back to the state of a freshly opened page.
    void reset(int slot);

private:
    Slot& at(int slot);

    mutable std::mutex m_lock;
    std::array<Slot, kSlots + 1> m_slots{};
    platform::SlotView* m_listener;
};

}  // namespace tarvex::app

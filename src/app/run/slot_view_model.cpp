#include "app/run/slot_view_model.h"

#include <algorithm>

namespace tarvex::app {

SlotViewModel::Slot& SlotViewModel::at(int slot) {
    return m_slots.at(static_cast<std::size_t>(std::clamp(slot, 0, kSlots)));
}

void SlotViewModel::setListener(platform::SlotView* listener) {
    std::lock_guard<std::mutex> g(m_lock);
    m_listener = listener;
}

// The listener is called while the model's lock is held, so two threads' updates reach the
// widgets in the same order as they reached the model.
void SlotViewModel::appendPane(int slot, const std::string& line) {
    std::lock_guard<std::mutex> g(m_lock);
    auto& pane = at(slot).pane;
    if (line.empty()) {
        pane.clear();
    } else {
        pane.push_back(line);
        if (pane.size() > kMaxPaneLines) {
            pane.clear();
            if (m_listener) m_listener->appendPane(slot, "");
            return;
        }
    }
    if (m_listener) m_listener->appendPane(slot, line);
}

void SlotViewModel::setLabel(int slot, int which, const std::string& text) {
    std::lock_guard<std::mutex> g(m_lock);
    at(slot).labels.at(static_cast<std::size_t>(std::clamp(which, 0, 2))) = text;
    if (m_listener) m_listener->setLabel(slot, which, text);
}

void SlotViewModel::setProgressRange(int slot, int bar, int min, int max) {
    std::lock_guard<std::mutex> g(m_lock);
    auto& b = at(slot).bars.at(static_cast<std::size_t>(std::clamp(bar, 0, 2)));
    b.min = min;
    b.max = max;
    if (m_listener) m_listener->setProgressRange(slot, bar, min, max);
}

void SlotViewModel::setProgress(int slot, int bar, int value) {
    std::lock_guard<std::mutex> g(m_lock);
    at(slot).bars.at(static_cast<std::size_t>(std::clamp(bar, 0, 2))).value = value;
    if (m_listener) m_listener->setProgress(slot, bar, value);
}

SlotViewModel::Slot SlotViewModel::snapshot(int slot) const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_slots.at(static_cast<std::size_t>(std::clamp(slot, 0, kSlots)));
}

void SlotViewModel::reset(int slot) {
    std::lock_guard<std::mutex> g(m_lock);
    at(slot) = Slot{};
}

}  // namespace tarvex::app

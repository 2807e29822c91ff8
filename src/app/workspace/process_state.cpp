#include "app/workspace/process_state.h"

#include <sstream>

namespace tarvex::app {

namespace {
std::vector<std::string> splitComma(const std::string& s) {
    std::vector<std::string> out;
    std::string item;
    std::istringstream in(s);
    while (std::getline(in, item, ',')) out.push_back(item);
    if (!s.empty() && s.back() == ',') out.emplace_back();
    return out;
}

std::string joinComma(const std::vector<std::string>& v) {
    std::string s;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (i) s += ',';
        s += v[i];
    }
    return s;
}

// Replaces field `field` of a comma record; field -1 replaces the whole record.
void setField(std::string& rec, int field, const std::string& value) {
    if (field < 0) {
        rec = value;
        return;
    }
    auto parts = splitComma(rec);
    if (static_cast<std::size_t>(field) >= parts.size()) parts.resize(static_cast<std::size_t>(field) + 1);
    parts[static_cast<std::size_t>(field)] = value;
    rec = joinComma(parts);
}

std::string fieldOf(const std::string& rec, int field) {
    if (field < 0) return rec;
    auto parts = splitComma(rec);
    return static_cast<std::size_t>(field) < parts.size() ? parts[static_cast<std::size_t>(field)] : std::string();
}
}  // namespace

std::string initialSlotRecord(int slot) {
    return "0,任务名,0,GetSheet" + std::to_string(slot) + ",0";
}

ProcessState::ProcessState(platform::Dialogs* dialogs) : m_dialogs(dialogs) {
    m_slotRecords[0] = "任务1";
    for (int i = 1; i <= kSlots; ++i) m_slotRecords[static_cast<std::size_t>(i)] = initialSlotRecord(i);
}

bool ProcessState::validSlot(int slot) {
    if (slot > kSlots) {
        if (m_dialogs) m_dialogs->message("tabstring最大数为5，当前为：" + std::to_string(slot), platform::kAppTitle);
        return false;
    }
    return slot >= 0;
}

std::string ProcessState::GetSlotField(int slot, int field) {
    if (!validSlot(slot)) return {};
    std::lock_guard<std::mutex> g(m_slotRecordLock);
    return fieldOf(m_slotRecords[static_cast<std::size_t>(slot)], field);
}

std::string ProcessState::SetSlotField(int slot, int field, const std::string& value) {
    if (!validSlot(slot)) return {};
    std::lock_guard<std::mutex> g(m_slotRecordLock);
    std::string& rec = m_slotRecords[static_cast<std::size_t>(slot)];
    setField(rec, field, value);
    return rec;
}

bool ProcessState::ChangeSlotField(int slot, int field, std::initializer_list<const char*> expected,
                                   const std::string& value) {
    if (!validSlot(slot)) return false;
    std::lock_guard<std::mutex> g(m_slotRecordLock);
    std::string& rec = m_slotRecords[static_cast<std::size_t>(slot)];
    const std::string current = fieldOf(rec, field);
    for (const char* e : expected) {
        if (current == e) {
            setField(rec, field, value);
            return true;
        }
    }
    return false;
}

int ProcessState::runningWorkers(int slot) {
    std::lock_guard<std::mutex> g(m_workerLock);
    return m_runningWorkers.at(static_cast<std::size_t>(slot));
}

int ProcessState::addWorkers(int slot, int delta) {
    std::lock_guard<std::mutex> g(m_workerLock);
    return m_runningWorkers.at(static_cast<std::size_t>(slot)) += delta;
}

void ProcessState::setRunningWorkers(int slot, int value) {
    std::lock_guard<std::mutex> g(m_workerLock);
    m_runningWorkers.at(static_cast<std::size_t>(slot)) = value;
}

int ProcessState::succeededRows(int slot) {
    std::lock_guard<std::mutex> g(m_successLock);
    return m_succeededRows.at(static_cast<std::size_t>(slot));
}

int ProcessState::addSuccess(int slot, int delta) {
    std::lock_guard<std::mutex> g(m_successLock);
    return m_succeededRows.at(static_cast<std::size_t>(slot)) += delta;
}

void ProcessState::setSucceededRows(int slot, int value) {
    std::lock_guard<std::mutex> g(m_successLock);
    m_succeededRows.at(static_cast<std::size_t>(slot)) = value;
}

std::mutex& ProcessState::slotDbLock(int slot) {
    return m_slotDbLocks.at(static_cast<std::size_t>(slot));
}

}  // namespace tarvex::app

#pragma once
// Process-wide state shared by the windows, runners, workers and the scheduler: the five
// slot records, the per-slot worker and success counters, the waiting queue and ran list,
// the switches, and the locks that guard them. Created once at start.
#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ports.h"

namespace tarvex::app {

class ProcessState {
public:
    static constexpr int kSlots = 5;
    static constexpr int kMaxRunRows = 3;

    explicit ProcessState(platform::Dialogs* dialogs = nullptr);

    // Slot record access under the slot-record lock. Field -1 is the whole record. A slot
    // number above 5 shows "tabstring最大数为5，当前为：" + number and yields "".
    std::string GetSlotField(int slot, int field);
    std::string SetSlotField(int slot, int field, const std::string& value);
    // Sets the field to `value` only when it holds one of `expected`, in one step under the
    // slot-record lock, so a runner that ends meanwhile is never overwritten. True when set.
    bool ChangeSlotField(int slot, int field, std::initializer_list<const char*> expected, const std::string& value);

    // Worker counters (`runningWorkers`), under the worker-counter lock.
    int runningWorkers(int slot);
    int addWorkers(int slot, int delta);
    void setRunningWorkers(int slot, int value);
    // Success counters (`succeededRows`), under the success-counter lock.
    int succeededRows(int slot);
    int addSuccess(int slot, int delta);
    void setSucceededRows(int slot, int value);

    // The lock that serialises writes to the task database of the task running in a slot.
    std::mutex& slotDbLock(int slot);
    std::mutex& slotRecordLock() { return m_slotRecordLock; }
    std::mutex& workerCounterLock() { return m_workerLock; }
    std::mutex& successCounterLock() { return m_successLock; }

    // Guarded by slotRecordLock().
    std::vector<std::string> waitingQueue;
    std::vector<std::string> ranList;

    // Set when the user ends the program; runners, workers and the scheduler read it as a stop.
    std::atomic<bool> closing{false};
    std::atomic<bool> scheduling{false};
    std::atomic<std::int64_t> currentTaskId{0};

private:
    bool validSlot(int slot);

    platform::Dialogs* m_dialogs;
    std::mutex m_slotRecordLock;
    std::mutex m_workerLock;
    std::mutex m_successLock;
    std::array<std::mutex, kSlots + 1> m_slotDbLocks;
    std::array<std::string, kSlots + 1> m_slotRecords;
    std::array<int, kSlots + 1> m_runningWorkers{};
    std::array<int, kSlots + 1> m_succeededRows{};
};

// The initial record of slot N: "0,任务名,0,GetSheet" + N + ",0".
std::string initialSlotRecord(int slot);

}  // namespace tarvex::app

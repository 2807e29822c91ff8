#include "support/stop_runs.h"

namespace tarvex::test {

void stopAllRuns(app::ProcessState& state, app::ThreadRegistry& threads, std::chrono::milliseconds timeout) {
    for (int s = 1; s <= 5; ++s)
        if (state.GetSlotField(s, 4) != "0") state.SetSlotField(s, 4, "3");
    threads.waitAll(timeout);
}

}  // namespace tarvex::test

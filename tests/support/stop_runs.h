#pragma once
// The end of a test that started runs: every slot still running or paused is asked to stop, as
// the stop button does, and the run threads are waited for.
#include <chrono>

#include "app/workspace/process_state.h"
#include "app/workspace/thread_registry.h"

namespace tarvex::test {

void stopAllRuns(app::ProcessState& state, app::ThreadRegistry& threads,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30));

}  // namespace tarvex::test

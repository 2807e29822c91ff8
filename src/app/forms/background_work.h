#pragma once
// Work a window waits for without freezing: the work runs on a thread of its own while the
// caller keeps its event loop turning. Called on the user-interface thread.
#include <atomic>
#include <functional>

namespace tarvex::app {

// Runs `work` on its own thread and checks every `pollMs` whether it has finished, calling
// `keepResponsive` between checks, for at most `maxChecks` checks (0: no limit). When the
// checks run out, `work` is asked to stop through the flag it gets and is waited for, so no
// thread outlives the call. True when `work` finished within the checks.
bool RunResponsive(const std::function<void(const std::atomic<bool>& cancel)>& work,
                   const std::function<void()>& keepResponsive, int pollMs = 100, int maxChecks = 0);

}  // namespace tarvex::app

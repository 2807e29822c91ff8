#pragma once
// The hand-over from the runner to one content worker (`ContentWorker`): the row to collect and
// the run it belongs to. The worker runs on its own thread; the run context is shared so it
// stays valid when the runner has moved on.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "collect/run_context.h"

namespace tarvex::collect {

struct ContentJob {
    std::shared_ptr<const RunContext> run;  // taskId, slot, settingsJson, fetchOptions and the ports
    std::int64_t id = 0;                    // content row id
    std::string url;                        // the row's address
    std::string idRow;                      // the whole row, RowToText
};

// Collects one row; true when the row was stored. Must not throw.
using ContentWorker = std::function<bool(const ContentJob&)>;

}  // namespace tarvex::collect

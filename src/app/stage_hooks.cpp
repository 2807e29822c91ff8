#include "app/runner.h"
#include "collect/http_fetch.h"

namespace tarvex::app {

// The stages this build carries out. A stage whose work is not part of the build stays empty:
// the runner then passes over it and the rows it would have handled stay queued.
StageHooks defaultStageHooks() {
    StageHooks hooks;
    hooks.buildHeader = collect::BuildFetchOptions;
    return hooks;
}

}  // namespace tarvex::app

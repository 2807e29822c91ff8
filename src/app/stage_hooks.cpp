#include "app/runner.h"

namespace tarvex::app {

// The stages this build carries out. A stage whose work is not part of the build stays empty:
// the runner then passes over it and the rows it would have handled stay queued.
StageHooks defaultStageHooks() {
    StageHooks hooks;
    return hooks;
}

}  // namespace tarvex::app

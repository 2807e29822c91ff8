#include "app/run/runner.h"
#include "collect/content_worker.h"
#include "collect/http_fetch.h"
#include "collect/list_links.h"
#include "publish/publisher.h"

namespace tarvex::app {

// The stages this build carries out. A stage whose work is not part of the build stays empty:
// the runner then passes over it and the rows it would have handled stay queued.
StageHooks defaultStageHooks() {
    StageHooks hooks;
    hooks.buildFetchOptions = collect::BuildFetchOptions;
    hooks.listPages = [](collect::RunContext& run, const std::vector<std::string>& listUrls) {
        collect::collectListPages(run, listUrls);
    };
    hooks.contentWorker = collect::collectContentRow;
    hooks.publish = publish::publishRecords;
    return hooks;
}

}  // namespace tarvex::app

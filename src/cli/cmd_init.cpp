// "init": makes the workspace folder a workspace (config/config.db3 with an empty catalogue,
// data/, 发布规则/, and the installed template's files), for servers that keep their workspace
// on a volume. A folder that already is a workspace is left as it is.
#include <ostream>

#include "app/workspace/user_workspace.h"
#include "app/workspace/workspace.h"
#include "cli/cli_command.h"

namespace tarvex::cli {
namespace {
int runInit(CliContext& ctx) {
    if (!ctx.args.empty()) {
        ctx.err << "usage: tarvex-cli --workspace DIR init\n";
        return 2;
    }
    const bool existed = app::pathExists(ctx.workspace + "config/config.db3");
    if (auto error = app::PrepareWorkspace(ctx.workspace, app::InstalledTemplateFolder(app::executableFolder()));
        !error.empty()) {
        ctx.err << "tarvex-cli: " << error << "\n";
        return 1;
    }
    ctx.out << (existed ? "workspace already there: " : "new workspace: ") << ctx.workspace << "\n";
    return 0;
}
const CliCommandRegistrar reg({"init", "init", "make the workspace folder a new, empty workspace (kept when it is one)",
                               runInit});
}  // namespace
}  // namespace tarvex::cli

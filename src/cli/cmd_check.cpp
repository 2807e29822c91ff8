// "check": starts the process on a workspace the way the program does and reports it.
#include <ostream>

#include "app/workspace/startup.h"
#include "cli/cli_command.h"

namespace tarvex::cli {
namespace {
int runCheck(CliContext& ctx) {
    ConsoleDialogs dialogs(ctx.err, false);
    auto started = app::startProcess(ctx.workspace, dialogs, {.singleInstance = false});
    if (started.status != app::StartStatus::Started) return 1;
    app::logStartComplete();
    const auto& ws = started.session->workspace;
    ctx.out << "workspace: " << ws.programFolder << "\n"
            << "config: " << ws.configDb << "\n"
            << "data: " << ws.dataFolder << "\n"
            << "run log: " << (started.session->logOn ? "on" : "off") << "\n";
    return 0;
}
const CliCommandRegistrar reg({"check", "check", "start on the workspace as the program does and print its paths",
                               runCheck});
}  // namespace
}  // namespace tarvex::cli

// "tasks": the task tree with ids, one task per line, indented by level.
#include <ostream>

#include "app/tasks/catalogue.h"
#include "app/workspace/startup.h"
#include "cli/cli_command.h"

namespace tarvex::cli {
namespace {
void printNode(std::ostream& out, const app::TaskNode& node, int depth) {
    out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << node.taskid << "  " << node.name;
    if (!node.rulesReadable) out << "  [settings unreadable]";
    out << "\n";
    for (const auto& child : node.children) printNode(out, child, depth + 1);
}

int runTasks(CliContext& ctx) {
    ConsoleDialogs dialogs(ctx.err, false);
    auto started = app::startProcess(ctx.workspace, dialogs, {.singleInstance = false});
    if (started.status != app::StartStatus::Started) return 1;
    try {
        auto tree = app::BuildTaskTree(app::ReadTaskRows(started.session->workspace));
        printNode(ctx.out, tree.root, 0);
    } catch (const std::exception& e) {
        ctx.err << "tarvex-cli: cannot read the catalogue: " << e.what()
                << " (tarvex-cli check shows which workspace and config/config.db3 are in use)\n";
        return 1;
    }
    return 0;
}
const CliCommandRegistrar reg({"tasks", "tasks", "print the task tree with task ids", runTasks});
}  // namespace
}  // namespace tarvex::cli

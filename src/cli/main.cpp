// tarvex-cli: the system's operations without a display, for servers, cron and tests.
#include <algorithm>
#include <iostream>

#include "app/workspace/user_workspace.h"
#include "app/workspace/workspace.h"
#include "cli/cli_command.h"

using namespace tarvex;

namespace {
void usage(std::ostream& out) {
    out << "usage: tarvex-cli [--workspace DIR] COMMAND [ARGS]\n\ncommands:\n";
    for (const auto& [name, cmd] : cli::cliCommands()) out << "  " << cmd.usage << "\n      " << cmd.summary << "\n";
    out << "\nworkspace: --workspace DIR when given; else the program's own folder when it holds\n"
           "config/config.db3 (a portable copy); else $XDG_DATA_HOME/tarvex (~/.local/share/tarvex),\n"
           "made from the installed template on first use.\n";
}
}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool workspaceGiven = std::find(args.begin(), args.end(), "--workspace") != args.end();
    std::string given = cli::takeOption(args, "--workspace");
    if (workspaceGiven && given.empty()) {
        std::cerr << "tarvex-cli: --workspace needs a folder: tarvex-cli --workspace DIR COMMAND\n";
        return 2;
    }
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        usage(args.empty() ? std::cerr : std::cout);
        return args.empty() ? 2 : 0;
    }
    auto it = cli::cliCommands().find(args[0]);
    if (it == cli::cliCommands().end()) {
        std::cerr << "tarvex-cli: unknown command \"" << args[0] << "\" (tarvex-cli --help lists the commands)\n";
        return 2;
    }
    const auto choice = app::ChooseWorkspace(app::WorkspaceSourcesFromEnvironment(given));
    if (!choice.error.empty()) {
        std::cerr << "tarvex-cli: " << choice.error << "\n";
        return 1;
    }
    const std::string configDb = choice.folder + "config/config.db3";
    if (choice.kind == app::WorkspaceKind::User && it->first != "init" && !app::pathExists(configDb)) {
        if (auto error = app::PrepareWorkspace(choice.folder, choice.templateFolder); !error.empty()) {
            std::cerr << "tarvex-cli: " << error << "\n";
            return 1;
        }
        std::cerr << "tarvex-cli: new workspace " << choice.folder << "\n";
    }
    cli::CliContext ctx{choice.folder, std::vector<std::string>(args.begin() + 1, args.end()), std::cout, std::cerr};
    int rc = 1;
    try {
        rc = it->second.run(ctx);
    } catch (const std::exception& e) {
        std::cerr << "tarvex-cli: " << e.what() << "\n";
    }
    if (rc != 0 && it->first != "init" && !app::pathExists(configDb))
        std::cerr << "tarvex-cli: " << choice.folder << " holds no workspace (no config/config.db3). Check the "
                  << "folder, or make a new workspace there with: tarvex-cli --workspace " << choice.folder
                  << " init\n";
    return rc;
}

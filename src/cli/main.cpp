// tarvex-cli: the system's operations without a display, for servers, cron and tests.
#include <iostream>

#include "app/workspace.h"
#include "cli/cli_command.h"

using namespace tarvex;

namespace {
void usage(std::ostream& out) {
    out << "usage: tarvex-cli [--workspace DIR] COMMAND [ARGS]\n\ncommands:\n";
    for (const auto& [name, cmd] : cli::cliCommands()) out << "  " << cmd.usage << "\n      " << cmd.summary << "\n";
}
}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string workspace = cli::takeOption(args, "--workspace");
    if (workspace.empty()) workspace = app::executableFolder();
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        usage(args.empty() ? std::cerr : std::cout);
        return args.empty() ? 2 : 0;
    }
    auto it = cli::cliCommands().find(args[0]);
    if (it == cli::cliCommands().end()) {
        std::cerr << "tarvex-cli: unknown command \"" << args[0] << "\"\n";
        usage(std::cerr);
        return 2;
    }
    cli::CliContext ctx{workspace, std::vector<std::string>(args.begin() + 1, args.end()), std::cout, std::cerr};
    try {
        return it->second.run(ctx);
    } catch (const std::exception& e) {
        std::cerr << "tarvex-cli: " << e.what() << "\n";
        return 1;
    }
}

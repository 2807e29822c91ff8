#include "cli/cli_command.h"

#include <algorithm>
#include <ostream>

namespace tarvex::cli {

std::map<std::string, CliCommand>& cliCommands() {
    static std::map<std::string, CliCommand> commands;
    return commands;
}

CliCommandRegistrar::CliCommandRegistrar(CliCommand cmd) {
    auto name = cmd.name;
    cliCommands()[name] = std::move(cmd);
}

void ConsoleDialogs::message(const std::string& text, const std::string& caption) {
    m_messages.push_back(text);
    m_err << caption << ": " << text << std::endl;
}

bool ConsoleDialogs::confirm(const std::string& text, const std::string& title) {
    m_err << title << ": " << text << (m_yes ? " [--yes]" : " [refused; pass --yes]") << std::endl;
    return m_yes;
}

std::optional<std::string> ConsoleDialogs::askText(const std::string&, const std::string&, const std::string& initial) {
    return initial;
}

std::string takeOption(std::vector<std::string>& args, const std::string& name) {
    auto it = std::find(args.begin(), args.end(), name);
    if (it == args.end() || it + 1 == args.end()) return {};
    std::string v = *(it + 1);
    args.erase(it, it + 2);
    return v;
}

bool takeFlag(std::vector<std::string>& args, const std::string& name) {
    auto it = std::find(args.begin(), args.end(), name);
    if (it == args.end()) return false;
    args.erase(it);
    return true;
}

}  // namespace tarvex::cli

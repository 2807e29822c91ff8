#include "cli/cli_command.h"

#include <algorithm>
#include <ostream>

#include "platform/error_hints.h"

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
    // A failure a person can mend (an address that does not answer, a locked database, …)
    // is followed by what to check.
    if (const std::string hint = platform::PaneHintFor(text); !hint.empty()) m_err << hint << std::endl;
    // The program's own message stays as it is; a person at a terminal also gets what to do.
    if (text == "该程序正在运行！")
        m_err << "tarvex-cli: another tarvex or tarvex-cli (run, schedule) is using this workspace. Wait until it "
                 "ends, or hand the task to a running scheduler with: tarvex-cli queue add TASK_ID"
              << std::endl;
}

bool ConsoleDialogs::confirm(const std::string& text, const std::string& title) {
    m_err << title << ": " << text << (m_yes ? " [--yes]" : " [refused; pass --yes]") << std::endl;
    return m_yes;
}

std::optional<std::string> ConsoleDialogs::askText(const std::string&, const std::string&, const std::string& initial) {
    return initial;
}

std::string paneText(const std::string& line) {
    std::string text = line;
    for (auto& c : text)
        if (c == '\r') c = '\n';
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

void PaneLinesView::appendPane(int slot, const std::string& line) {
    if (line.empty()) return;
    const std::string text = paneText(line);
    const std::string prefix = m_prefix ? m_prefix(slot) : std::string();
    std::lock_guard<std::mutex> g(m_lock);
    m_out << prefix << text << std::endl;
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

std::optional<std::int64_t> parseTaskId(const std::string& text, std::ostream& err) {
    try {
        std::size_t used = 0;
        const long long id = std::stoll(text, &used);
        if (used == text.size() && id > 0) return id;
    } catch (...) {
    }
    err << "tarvex-cli: not a task id: " << text << " (the numbers that tarvex-cli tasks prints)\n";
    return std::nullopt;
}

void printNoSuchTask(std::ostream& err, std::int64_t id, const std::string& reason) {
    err << "tarvex-cli: task " << id << " " << reason << ". tarvex-cli tasks lists the "
        << "tasks; one marked [settings unreadable] gets new settings with: tarvex-cli task set-settings " << id
        << " FILE\n";
}

std::optional<std::array<bool, 3>> parseStages(const std::string& text, std::ostream& err) {
    if (text.empty()) return std::array<bool, 3>{true, true, true};
    std::array<bool, 3> stages{false, false, false};
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string s = text.substr(start, comma - start);
        if (s == "list")
            stages[0] = true;
        else if (s == "content")
            stages[1] = true;
        else if (s == "publish")
            stages[2] = true;
        else {
            err << "tarvex-cli: unknown stage \"" << s << "\" (list, content, publish)\n";
            return std::nullopt;
        }
        start = comma + 1;
    }
    return stages;
}

}  // namespace tarvex::cli

#pragma once
// tarvex-cli's command table. Each command lives in its own cmd_*.cpp and registers itself
// with a static CliCommandRegistrar, so adding a command touches no shared file.
#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ports.h"

namespace tarvex::cli {

struct CliContext {
    std::string workspace;          // program folder ("--workspace", else the executable's folder)
    std::vector<std::string> args;  // arguments after the command name
    std::ostream& out;
    std::ostream& err;
};

struct CliCommand {
    std::string name;
    std::string usage;    // one line: "tasks", "task show ID", …
    std::string summary;  // what it does
    std::function<int(CliContext&)> run;
};

std::map<std::string, CliCommand>& cliCommands();

struct CliCommandRegistrar {
    explicit CliCommandRegistrar(CliCommand cmd);
};

// Dialogs for a terminal: messages go to standard error, confirmations are refused unless
// `--yes` was given, questions are answered with their initial text.
class ConsoleDialogs final : public platform::Dialogs {
public:
    ConsoleDialogs(std::ostream& err, bool assumeYes) : m_err(err), m_yes(assumeYes) {}
    void message(const std::string& text, const std::string& caption) override;
    bool confirm(const std::string& text, const std::string& title) override;
    std::optional<std::string> askText(const std::string& title, const std::string& prompt,
                                       const std::string& initial) override;
    const std::vector<std::string>& messages() const { return m_messages; }

private:
    std::ostream& m_err;
    bool m_yes;
    std::vector<std::string> m_messages;
};

// A run log pane line as terminal text: its CR line breaks as LF, without trailing breaks.
std::string paneText(const std::string& line);

// Pane lines of the run log on a stream, one per line, each after the text `prefix` gives for
// its slot (none when empty); bars and labels are not shown.
class PaneLinesView final : public platform::SlotView {
public:
    using Prefix = std::function<std::string(int slot)>;
    explicit PaneLinesView(std::ostream& out, Prefix prefix = {}) : m_out(out), m_prefix(std::move(prefix)) {}
    void appendPane(int slot, const std::string& line) override;
    void setLabel(int, int, const std::string&) override {}
    void setProgressRange(int, int, int, int) override {}
    void setProgress(int, int, int) override {}

private:
    std::mutex m_lock;
    std::ostream& m_out;
    Prefix m_prefix;
};

// Value of "--name VALUE" in args (removed from args), or "".
std::string takeOption(std::vector<std::string>& args, const std::string& name);
// Whether "--name" is in args (removed from args).
bool takeFlag(std::vector<std::string>& args, const std::string& name);
// A task id given on the command line (a positive decimal number); prints the error otherwise.
std::optional<std::int64_t> parseTaskId(const std::string& text, std::ostream& err);
// The error for a task id that names no readable task (`reason` says why), with where to look.
void printNoSuchTask(std::ostream& err, std::int64_t id,
                     const std::string& reason = "does not exist or its settings cannot be read");
// "--stages list,content,publish" as the three stage boxes (all on when empty); prints the error
// for an unknown stage.
std::optional<std::array<bool, 3>> parseStages(const std::string& text, std::ostream& err);

}  // namespace tarvex::cli

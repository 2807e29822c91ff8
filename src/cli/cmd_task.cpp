// "task": show, create, set-settings and delete one task of the catalogue.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>

#include "app/tasks/catalogue.h"
#include "app/tasks/settings_document.h"
#include "app/tasks/stored_rules.h"
#include "app/workspace/startup.h"
#include "cli/cli_command.h"
#include "platform/json_text.h"

namespace tarvex::cli {
namespace {

constexpr const char* kUsage =
    "usage: tarvex-cli task show ID\n"
    "       tarvex-cli task create NAME [--parent ID] [--settings FILE]\n"
    "       tarvex-cli task set-settings ID FILE\n"
    "       tarvex-cli task delete ID [--yes]\n";

std::optional<std::int64_t> parseId(const std::string& text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return std::nullopt;
    for (; i < text.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    return std::stoll(text);
}

std::optional<std::string> readFile(const std::string& path, std::ostream& err) {
    std::ifstream in(path, std::ios::binary);
    if (!in || app::isDirectory(path)) {
        err << "tarvex-cli: cannot read \"" << path
            << "\": " << (app::isDirectory(path) ? "it is a folder" : std::strerror(errno))
            << ". Give the path of a settings file.\n";
        return std::nullopt;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) {
        err << "tarvex-cli: cannot read \"" << path << "\"\n";
        return std::nullopt;
    }
    return ss.str();
}

// The settings in a file: a JSON object, a UTF-8 BOM allowed.
std::optional<std::string> readSettingsFile(const std::string& path, std::ostream& err) {
    auto text = readFile(path, err);
    if (!text) return std::nullopt;
    if (text->rfind("\xEF\xBB\xBF", 0) == 0) text->erase(0, 3);
    *text = app::TrimText(*text);
    if (!platform::JsonNestingWithinLimit(*text)) {
        err << "tarvex-cli: \"" << path << "\": " << platform::JsonTooDeepMessage() << "\n";
        return std::nullopt;
    }
    if (!app::ParseSettings(*text)) {
        err << "tarvex-cli: \"" << path
            << "\" does not hold a JSON object (tarvex-cli task show ID prints the settings "
               "of a task to start from)\n";
        return std::nullopt;
    }
    return text;
}

std::optional<app::TaskRow> findRow(const app::Workspace& ws, std::int64_t id, std::ostream& err) {
    for (auto& row : app::ReadTaskRows(ws))
        if (row.id == id) return row;
    err << "tarvex-cli: no task with id " << id << " (tarvex-cli tasks lists the ids)\n";
    return std::nullopt;
}

std::optional<std::int64_t> idArgument(const std::vector<std::string>& args, std::size_t index, std::ostream& err) {
    if (args.size() <= index) {
        err << kUsage;
        return std::nullopt;
    }
    auto id = parseId(args[index]);
    if (!id)
        err << "tarvex-cli: \"" << args[index] << "\" is not a task id (the numbers that tarvex-cli tasks prints)\n";
    return id;
}

int showTask(CliContext& ctx, const app::Workspace& ws) {
    auto id = idArgument(ctx.args, 1, ctx.err);
    if (!id) return 2;
    auto row = findRow(ws, *id, ctx.err);
    if (!row) return 1;
    auto doc = app::ReadStoredRules(row->rules);
    if (!doc) {
        ctx.err << "tarvex-cli: the stored settings of task " << *id
                << " are not valid cipher text; store new ones with: tarvex-cli task set-settings " << *id << " FILE\n";
        return 1;
    }
    ctx.out << *doc << "\n";
    return 0;
}

int createTask(CliContext& ctx, const app::Workspace& ws, platform::Dialogs& dialogs) {
    const std::string parentText = takeOption(ctx.args, "--parent");
    const std::string settingsPath = takeOption(ctx.args, "--settings");
    if (ctx.args.size() != 2) {
        ctx.err << kUsage;
        return 2;
    }
    // "task create --help" or a misspelt option must not become a task of that name.
    if (ctx.args[1].rfind("--", 0) == 0) {
        ctx.err << "tarvex-cli: unknown option \"" << ctx.args[1] << "\" for task create\n" << kUsage;
        return 2;
    }
    std::int64_t parent = 0;
    if (!parentText.empty()) {
        auto id = parseId(parentText);
        if (!id) {
            ctx.err << "tarvex-cli: \"" << parentText << "\" is not a task id\n";
            return 2;
        }
        if (*id != 0 && *id != -2 && !findRow(ws, *id, ctx.err)) return 1;
        parent = *id == -2 ? 0 : *id;
    }
    std::string document = app::NewTaskDocument();
    if (!settingsPath.empty()) {
        auto text = readSettingsFile(settingsPath, ctx.err);
        if (!text) return 1;
        document = *text;
    }
    auto id = app::CreateTaskWithSettings(ws, dialogs, parent, ctx.args[1], document);
    if (!id) return 1;
    ctx.out << *id << "\n";
    return 0;
}

int setSettings(CliContext& ctx, const app::Workspace& ws, platform::Dialogs& dialogs) {
    auto id = idArgument(ctx.args, 1, ctx.err);
    if (!id) return 2;
    if (ctx.args.size() != 3) {
        ctx.err << kUsage;
        return 2;
    }
    if (!findRow(ws, *id, ctx.err)) return 1;
    auto text = readSettingsFile(ctx.args[2], ctx.err);
    if (!text) return 1;
    return app::StoreSettingsDocument(ws, dialogs, *id, *text) == app::SaveOutcome::Stored ? 0 : 1;
}

int deleteTask(CliContext& ctx, const app::Workspace& ws, platform::Dialogs& dialogs,
               std::atomic<std::int64_t>& currentId) {
    auto id = idArgument(ctx.args, 1, ctx.err);
    if (!id) return 2;
    app::MemoryClipboard clipboard;
    app::Catalogue catalogue(ws, dialogs, clipboard, currentId);
    if (*id != -2 && !catalogue.tree().find(*id)) {
        ctx.err << "tarvex-cli: no task with id " << *id << " in the task tree (tarvex-cli tasks lists the ids)\n";
        return 1;
    }
    return catalogue.DeleteTask(*id) ? 0 : 1;
}

int runTask(CliContext& ctx) {
    const bool yes = takeFlag(ctx.args, "--yes");
    if (ctx.args.empty()) {
        ctx.err << kUsage;
        return 2;
    }
    ConsoleDialogs dialogs(ctx.err, yes);
    const std::string& sub = ctx.args[0];
    // Commands that change the catalogue or delete a database take the workspace's lock, so
    // they never rewrite or delete a task under a running program or run. A new task and new
    // settings of one task go beside runs of other tasks (each catalogue write is one statement,
    // which SQLite keeps whole between processes); deleting (a task, or a group with its
    // sub-tasks) waits for a workspace that no one else uses.
    const bool changes = sub == "create" || sub == "set-settings" || sub == "delete";
    app::StartOptions options{.singleInstance = changes};
    if (sub == "create") options.ownTasks = std::vector<std::int64_t>{};
    if (sub == "set-settings") {
        auto id = idArgument(ctx.args, 1, ctx.err);
        if (!id) return 2;
        options.ownTasks = std::vector<std::int64_t>{*id};
    }
    auto started = app::startProcess(ctx.workspace, dialogs, options);
    if (started.status == app::StartStatus::AlreadyRunning)
        ctx.err << "tarvex-cli: another Tarvex program is using this workspace; \"task " << sub
                << "\" is refused while it runs\n";
    if (started.status == app::StartStatus::TaskInUse)
        ctx.err << "tarvex-cli: the task is being run by another tarvex-cli; \"task " << sub
                << "\" is refused until that run ends\n";
    if (started.status != app::StartStatus::Started) return 1;
    const app::Workspace& ws = started.session->workspace;
    if (sub == "show") return showTask(ctx, ws);
    if (sub == "create") return createTask(ctx, ws, dialogs);
    if (sub == "set-settings") return setSettings(ctx, ws, dialogs);
    if (sub == "delete") return deleteTask(ctx, ws, dialogs, started.session->state->currentTaskId);
    ctx.err << "tarvex-cli: unknown task command \"" << sub << "\"\n" << kUsage;
    return 2;
}

const CliCommandRegistrar reg({"task", "task show|create|set-settings|delete …",
                               "show a task's settings, create a task, replace its settings, delete it", runTask});
}  // namespace
}  // namespace tarvex::cli

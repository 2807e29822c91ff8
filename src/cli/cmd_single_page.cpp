// "collect-one" and "publish-one": the single-page mode without a display. "collect-one" prints
// the field values the settings area's "单页采集" would show for one address (one
// "{采集字段:name}：value" line per field, or a JSON object), with the task's settings or a
// settings file; "publish-one" publishes one record given as name=value lines or JSON with the
// task's publish settings. Neither writes to the task database or the catalogue; attachments
// of a collection are downloaded into the task's attachment folder as the window does.
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>

#include "app/run/run_list.h"
#include "app/single_page/single_page.h"
#include "app/workspace/startup.h"
#include "cli/cli_command.h"
#include "platform/json_text.h"
#include "platform/utf8.h"

namespace tarvex::cli {
namespace {

std::optional<std::string> readText(const std::string& path, std::ostream& err) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        err << "tarvex-cli: cannot read " << path << "\n";
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return std::string(platform::utf8::stripBom(text.str()));
}

// The task's settings area as the window would show it: its stored document, or a file.
std::optional<app::SettingsForm> taskForm(const app::Workspace& ws, std::int64_t id, const std::string& settingsPath,
                                          std::ostream& err) {
    std::string document;
    if (!settingsPath.empty()) {
        auto text = readText(settingsPath, err);
        if (!text) return std::nullopt;
        document = *text;
    } else {
        std::string why;
        auto task = app::LookupTaskToRun(ws, id, &why);
        if (!task) {
            printNoSuchTask(err, id, why);
            return std::nullopt;
        }
        document = task->settings;
    }
    app::SettingsForm form;
    std::string error;
    if (!app::LoadSettings(document, ws, id, form, &error)) {
        err << "tarvex-cli: " << error << "\n";
        return std::nullopt;
    }
    return form;
}

// The started process (its messages on standard error), the task id of the first argument and
// its settings area.
struct OpenTask {
    explicit OpenTask(std::ostream& err) : dialogs(err, false) {}
    ConsoleDialogs dialogs;
    std::unique_ptr<app::Session> session;
    std::int64_t id = 0;
    app::SettingsForm form;
};

// 0 when the task is open, else the exit status (the error printed).
int openTask(CliContext& ctx, const std::string& settingsPath, OpenTask& task) {
    auto id = parseTaskId(ctx.args[0], ctx.err);
    if (!id) return 2;
    auto started = app::startProcess(ctx.workspace, task.dialogs, {.singleInstance = false});
    if (!started.session) return 1;
    task.session = std::move(started.session);
    task.id = *id;
    auto form = taskForm(task.session->workspace, *id, settingsPath, ctx.err);
    if (!form) return 1;
    task.form = std::move(*form);
    return 0;
}

int runCollectOne(CliContext& ctx) {
    const std::string settingsPath = takeOption(ctx.args, "--settings");
    const bool json = takeFlag(ctx.args, "--json");
    if (ctx.args.size() != 2) {
        ctx.err << "usage: tarvex-cli collect-one ID URL [--settings FILE] [--json]\n";
        return 2;
    }
    OpenTask task(ctx.err);
    if (int status = openTask(ctx, settingsPath, task); status != 0) return status;
    const app::Workspace& ws = task.session->workspace;
    auto& form = task.form;
    form.testUrl = ctx.args[1];
    std::vector<std::string> shown;
    auto result = app::CollectSinglePage(ws, task.id, app::SinglePageDocument(form, false), app::TrimText(ctx.args[1]),
                                         [&shown](const std::string& line) { shown.push_back(line); });
    if (!result.ok) {
        // The last line says why (the fetch error, or why the fields could not be read).
        ctx.err << "tarvex-cli: " << (shown.empty() ? std::string("采集失败") : shown.back()) << "\n";
        return 1;
    }
    if (json) {
        app::SettingsJson out = app::SettingsJson::object();
        for (const auto& [name, value] : result.values) out[name] = value;
        ctx.out << out.dump(2, ' ', false, app::SettingsJson::error_handler_t::replace) << "\n";
    } else {
        for (const auto& [name, value] : result.values) ctx.out << "{采集字段:" << name << "}：" << value << "\n";
    }
    return 0;
}

// name=value lines (line breaks in values as the two placeholders) or one JSON object.
std::optional<app::FieldValues> parseValues(const std::string& text, std::ostream& err) {
    app::FieldValues values;
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && text[first] == '{') {
        auto doc = platform::parseJson<app::SettingsJson>(text);
        if (doc.is_discarded() || !doc.is_object()) {
            err << "tarvex-cli: the values file is not a JSON object\n";
            return std::nullopt;
        }
        for (const auto& [name, value] : doc.items())
            values.emplace_back(name, value.is_string() ? value.get<std::string>() : value.dump());
        return values;
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos || eq == 0) {
            err << "tarvex-cli: not a name=value line: " << line << "\n";
            return std::nullopt;
        }
        std::string value = line.substr(eq + 1);
        platform::utf8::replaceAll(value, "<临时换行替换换行>", "\r");
        platform::utf8::replaceAll(value, "<临时换行2替换换行2>", "\n");
        values.emplace_back(line.substr(0, eq), value);
    }
    return values;
}

int runPublishOne(CliContext& ctx) {
    const std::string valuesPath = takeOption(ctx.args, "--values");
    const std::string settingsPath = takeOption(ctx.args, "--settings");
    std::string url = takeOption(ctx.args, "--url");
    if (ctx.args.size() != 1 || valuesPath.empty()) {
        ctx.err << "usage: tarvex-cli publish-one ID --values FILE [--url URL] [--settings FILE]\n";
        return 2;
    }
    OpenTask task(ctx.err);
    if (int status = openTask(ctx, settingsPath, task); status != 0) return status;
    const app::Workspace& ws = task.session->workspace;
    auto& form = task.form;
    auto text = readText(valuesPath, ctx.err);
    if (!text) return 1;
    auto values = parseValues(*text, ctx.err);
    if (!values) return 1;
    if (values->empty()) {
        ctx.err << "tarvex-cli: the values file holds no field\n";
        return 1;
    }
    if (url.empty()) url = form.testUrl;
    // The column is the one the task chose; the window's other checks apply as they are.
    app::SinglePageState state;
    state.start(task.id, app::TrimText(url));
    state.finish(app::SinglePageState::Status::Collected, *values);
    form.testUrl = url;
    if (auto refusal = app::SinglePublishRefusal(ws, task.id, form, state); !refusal.empty()) {
        ctx.err << "tarvex-cli: " << refusal << "\n";
        return 1;
    }
    PaneLinesView pane(ctx.out);
    const bool ok = app::PublishSinglePage(ws, task.id, app::SinglePageDocument(form, true), app::TrimText(url),
                                           *values, &pane, &task.dialogs);
    return ok ? 0 : 1;
}

const CliCommandRegistrar collectReg({"collect-one", "collect-one ID URL [--settings FILE] [--json]",
                                      "show the field values single-page collection gives for one address",
                                      runCollectOne});
const CliCommandRegistrar publishReg({"publish-one", "publish-one ID --values FILE [--url URL] [--settings FILE]",
                                      "publish one record (name=value lines or JSON) with the task's publish settings",
                                      runPublishOne});

}  // namespace
}  // namespace tarvex::cli

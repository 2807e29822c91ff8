// "test": what the rule windows' tests show, without a display: the list stage's first page (its
// area, the links it yields with their list-page fields, warnings) and the fields of the first
// content page (values, and every empty field with the reason). Nothing is stored.
#include <ostream>

#include "app/forms/rule_test.h"
#include "app/run/run_list.h"
#include "app/workspace/startup.h"
#include "cli/cli_command.h"

namespace tarvex::cli {
namespace {

// Exit status of a test whose pages were had but where a field came out empty, the same as
// `run --strict` gives for a field that stayed empty over a run.
constexpr int kEmptyFieldStatus = 3;

int runTest(CliContext& ctx) {
    const std::string url = takeOption(ctx.args, "--url");
    const bool json = takeFlag(ctx.args, "--json");
    if (ctx.args.size() != 1) {
        ctx.err << "usage: tarvex-cli test ID [--url URL] [--json]\n";
        return 2;
    }
    const auto id = parseTaskId(ctx.args[0], ctx.err);
    if (!id) return 2;
    ConsoleDialogs dialogs(ctx.err, false);
    auto started = app::startProcess(ctx.workspace, dialogs, {.singleInstance = false});
    if (!started.session) return 1;
    const app::Workspace& ws = started.session->workspace;
    std::string why;
    auto task = app::LookupTaskToRun(ws, *id, &why);
    if (!task) {
        printNoSuchTask(ctx.err, *id, why);
        return 1;
    }
    const app::TaskTest test = app::TestTask(ws, *id, task->settings, url);
    if (json) {
        ctx.out << app::TaskTestJson(test) << "\n";
    } else {
        for (const auto& line : app::ListTestLines(test.list)) ctx.out << line << "\n";
        ctx.out << "\n";
        for (const auto& line : app::FieldTestLines(test.content)) ctx.out << line << "\n";
    }
    if (!test.content.error.empty()) {
        ctx.err << "tarvex-cli: " << test.content.error << "\n";
        return 1;
    }
    return app::EmptyFieldNames(test.content).empty() ? 0 : kEmptyFieldStatus;
}

const CliCommandRegistrar reg({"test", "test ID [--url URL] [--json]",
                               "try the task's rules on its first list page and first content page (or URL); "
                               "stores nothing; exits 3 when a field comes out empty",
                               runTest});

}  // namespace
}  // namespace tarvex::cli

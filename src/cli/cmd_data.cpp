// The data browser's commands without a display: "rows" (a page of a task's rows), "export"
// (CSV or one text file per row) and "import" (rows from an .xlsx or .xls file).
#include <map>
#include <memory>
#include <optional>
#include <ostream>

#include "app/data/data_browser.h"
#include "app/data/data_export.h"
#include "app/run/run_list.h"
#include "app/tasks/catalogue.h"
#include "app/workspace/startup.h"
#include "cli/cli_command.h"
#include "cli/progress_line.h"

namespace tarvex::cli {
namespace {

// The task's id, name and database, or an error printed. Reading commands share the workspace
// with a running program.
struct OpenTask {
    std::unique_ptr<app::Session> session;
    std::int64_t id = 0;
    std::string name;
    std::string db;
};

std::optional<OpenTask> openTask(CliContext& ctx, platform::Dialogs& dialogs, std::optional<std::int64_t> id) {
    auto started = app::startProcess(ctx.workspace, dialogs, {.singleInstance = false});
    if (started.status != app::StartStatus::Started) return std::nullopt;
    OpenTask t;
    t.session = std::move(started.session);
    t.id = *id;
    auto task = app::catalogueLookup(t.session->workspace)(*id);
    if (!task) {
        printNoSuchTask(ctx.err, *id);
        return std::nullopt;
    }
    t.name = task->name;
    t.db = t.session->workspace.taskDbPath(*id);
    if (!app::pathExists(t.db)) {
        ctx.err << "当前任务数据库不存在！ " << t.db << "\n"
                << "tarvex-cli: a task's database is made when the task is created. Put back data/" << t.id
                << ".db3 from a backup, or create the task again from its settings: tarvex-cli task show " << t.id
                << " > task.json; tarvex-cli task create NAME --settings task.json\n";
        return std::nullopt;
    }
    return t;
}

// Checks a --where condition against the database; the " where …" text, or nullopt (printed).
std::optional<std::string> whereOf(CliContext& ctx, const OpenTask& t, const std::string& condition) {
    if (condition.find("select ") != std::string::npos) {
        ctx.err << "tarvex-cli: --where may not hold a select; give only the condition, such as: --where \"getc=1 and "
                   "postc=0\"\n";
        return std::nullopt;
    }
    const std::string where = app::ExportWhere(condition);
    try {
        app::CountRows(t.db, where);
    } catch (const std::exception& e) {
        ctx.err << "tarvex-cli: bad condition \"" << condition << "\": " << e.what()
                << " (an SQL condition over the task's columns: id, url, geturl, getc, postc and the field names)\n";
        return std::nullopt;
    }
    return where;
}

std::string oneLine(std::string v) {
    std::string out;
    for (char c : v) {
        if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

int runRows(CliContext& ctx) {
    const std::string filter = takeOption(ctx.args, "--filter");
    const std::string pageText = takeOption(ctx.args, "--page");
    if (ctx.args.size() != 1) {
        ctx.err << "usage: tarvex-cli rows TASK_ID [--filter collected|uncollected|unpublished|published] [--page N]\n";
        return 2;
    }
    static const std::map<std::string, int> filters = {
        {"", 0}, {"uncollected", 1}, {"collected", 2}, {"unpublished", 3}, {"published", 4}};
    auto f = filters.find(filter);
    if (f == filters.end()) {
        ctx.err << "tarvex-cli: unknown filter \"" << filter << "\" (collected, uncollected, unpublished, published)\n";
        return 2;
    }
    const auto id = parseTaskId(ctx.args[0], ctx.err);
    if (!id) return 2;
    ConsoleDialogs dialogs(ctx.err, false);
    auto t = openTask(ctx, dialogs, id);
    if (!t) return 1;
    app::DataBrowser browser(t->session->workspace, t->id, t->name, dialogs);
    if (!browser.open()) return 1;
    if (f->second) browser.setFilter(f->second);
    if (!pageText.empty()) {
        const int last = std::max(browser.pageCount(), 1);
        if (pageText != std::to_string(browser.currentPage()) && !browser.pageBoxLeft(pageText)) {
            ctx.err << "tarvex-cli: no page " << pageText << " (pages 1 to " << last << ")\n";
            return 2;
        }
    }
    std::string line;
    for (const auto& c : browser.columns()) line += (line.empty() ? "" : "\t") + c.caption;
    ctx.out << line << "\n";
    for (const auto& row : browser.rows()) {
        line.clear();
        for (std::size_t i = 0; i < row.size(); ++i) line += (i ? "\t" : "") + oneLine(row[i]);
        ctx.out << line << "\n";
    }
    ctx.out << browser.countLabel() << " 当前页:" << browser.currentPage() << "\n";
    return 0;
}

int runExport(CliContext& ctx) {
    const std::string out = takeOption(ctx.args, "--out");
    const std::string condition = takeOption(ctx.args, "--where");
    if (ctx.args.size() != 2 || (ctx.args[0] != "csv" && ctx.args[0] != "txt")) {
        ctx.err << "usage: tarvex-cli export csv|txt TASK_ID [--out PATH] [--where COND]\n";
        return 2;
    }
    const auto id = parseTaskId(ctx.args[1], ctx.err);
    if (!id) return 2;
    ConsoleDialogs dialogs(ctx.err, false);
    auto t = openTask(ctx, dialogs, id);
    if (!t) return 1;
    auto where = whereOf(ctx, *t, condition);
    if (!where) return 2;
    const auto& ws = t->session->workspace;
    const auto fields = app::ShownFieldColumns(ws, t->id, dialogs);
    app::ExportOutcome r;
    ProgressLine line(ctx.err, ProgressLine::stderrIsTerminal());
    const auto progress = [&](long long current, long long total) {
        line.setRange(0, total);
        line.update(current, "导出");
    };
    if (ctx.args[0] == "csv") {
        if (app::CountRows(t->db, *where) == 0) {
            ctx.err << "当前无有效数据！\n";
            return 0;
        }
        const std::string path = out.empty() ? ws.programFolder + "Tarvex.csv" : out;
        r = app::ExportCsv(t->db, fields, path, *where, progress);
        if (r.ok) r.message = path;
    } else {
        app::TextExportOptions options;
        options.condition = condition;
        const std::string folder = out.empty() ? ws.taskFolder(t->id) + "/" : out;
        r = app::ExportText(t->db, fields, options, folder, progress);
        if (r.ok) r.message += " " + folder;
    }
    if (r.ok) line.update(r.rows, "导出");
    line.finish();
    (r.ok ? ctx.out : ctx.err) << r.message << "\n";
    if (r.ok) ctx.out << r.rows << " rows, " << r.files << " files\n";
    // No matching row is an empty export, as for the CSV: not a failure.
    return r.ok || r.nothingFound ? 0 : 1;
}

int runImport(CliContext& ctx) {
    if (ctx.args.size() != 2) {
        ctx.err << "usage: tarvex-cli import TASK_ID FILE.xlsx|FILE.xls\n";
        return 2;
    }
    const auto id = parseTaskId(ctx.args[0], ctx.err);
    if (!id) return 2;
    ConsoleDialogs dialogs(ctx.err, false);
    auto t = openTask(ctx, dialogs, id);
    if (!t) return 1;
    const auto fields = app::ShownFieldColumns(t->session->workspace, t->id, dialogs);
    ProgressLine line(ctx.err, ProgressLine::stderrIsTerminal());
    auto r = app::ImportSpreadsheet(t->db, fields, ctx.args[1],
                                    [&](long long current, long long) { line.update(current, "导入"); });
    line.finish();
    (r.ok ? ctx.out : ctx.err) << r.message << "\n";
    if (r.ok) ctx.out << r.inserted << " rows, " << r.skipped << " skipped, " << r.overLimit << " over the limit\n";
    return r.ok ? 0 : 1;
}

const CliCommandRegistrar regRows({"rows",
                                   "rows TASK_ID [--filter collected|uncollected|unpublished|published] [--page N]",
                                   "print a page of 20 rows of a task's database", runRows});
const CliCommandRegistrar regExport({"export", "export csv|txt TASK_ID [--out PATH] [--where COND]",
                                     "export a task's rows to a CSV file or one text file per row", runExport});
const CliCommandRegistrar regImport({"import", "import TASK_ID FILE.xlsx|FILE.xls",
                                     "import rows from the first worksheet of a spreadsheet", runImport});

}  // namespace
}  // namespace tarvex::cli

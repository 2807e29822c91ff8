// The data browser's bulk work over a task database of N rows (default 100,000): the CSV export,
// the text export (one file per row) and the import of an N-row .xlsx written by openpyxl. Each
// runs in its own child process so its peak memory is its own. Prints rows/s and peak RSS.
// Usage: bench_data_export [rows] [workdir]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/data/data_export.h"
#include "collect/task_db.h"
#include "platform/ports.h"
#include "platform/sqlite_db.h"

using namespace tarvex;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* kSettings = R"({"fieldsAll":["{\"title\":\"标题\"}","{\"title\":\"内容\"}"]})";

// An article body of about 2 KB with the characters the CSV must quote and escape.
std::string body(int i) {
    std::string s = "<p>第" + std::to_string(i) + "篇文章，包含\"引号\"、逗号,和换行。</p>\r\n";
    while (s.size() < 2000) s += "<p>正文段落：采集器把列表页的链接切出来，再把内容页的字段逐个切出。</p>\r\n";
    return s;
}

void makeDb(const std::string& path, int rows) {
    platform::SilentDialogs dialogs;
    collect::CreateTaskDb(path, dialogs);
    collect::CreateContentTables(path, kSettings);
    platform::SqliteConnection db(path, platform::SqliteConnection::Mode::ReadWrite);
    platform::SqliteTransaction tx(db);
    platform::SqliteStatement st(db, "insert into content(url,geturl,getc,postc,标题,内容) values (?,1,1,0,?,?)");
    for (int i = 0; i < rows; ++i) {
        st.reset();
        st.bind(1, "http://bench.test/a/" + std::to_string(i) + ".html")
            .bind(2, "文章标题 " + std::to_string(i))
            .bind(3, body(i));
        st.run();
    }
    tx.commit();
}

struct Figures {
    double seconds = 0;
    long peakKb = 0;
    int status = 0;
};

// Runs `work` in a child process; its wall time and peak resident memory.
Figures inChild(const std::function<bool()>& work) {
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) _exit(work() ? 0 : 1);
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    return {std::chrono::duration<double>(Clock::now() - t0).count(), ru.ru_maxrss, status};
}

void report(const char* what, long long rows, const Figures& f) {
    std::printf("%-28s %8lld rows  %7.2f s  %9.0f rows/s  peak RSS %6.1f MB%s\n", what, rows, f.seconds,
                rows / f.seconds, f.peakKb / 1024.0, f.status == 0 ? "" : "  (FAILED)");
}

}  // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    const fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "tarvex-bench-export";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string db = (dir / "1.db3").string();
    std::printf("preparing %d rows of about 2 KB …\n", rows);
    makeDb(db, rows);
    const std::vector<std::string> fields = {"标题", "内容"};

    // What a process that only opens the database holds, for comparison.
    report("baseline (open, count)", rows, inChild([&] { return app::CountRows(db, "") == rows; }));

    report("ExportCsv", rows,
           inChild([&] { return app::ExportCsv(db, fields, (dir / "out.csv").string()).rows == rows; }));
    std::printf("  csv size %.1f MB\n", fs::file_size(dir / "out.csv") / 1048576.0);

    app::TextExportOptions options;
    options.condition = "";
    report("ExportText (file per row)", rows,
           inChild([&] { return app::ExportText(db, fields, options, (dir / "txt").string() + "/").files == rows; }));

    // The sheet is written by a real spreadsheet writer (openpyxl, write-only mode).
    const std::string xlsx = (dir / "import.xlsx").string();
    const std::string script = (dir / "make.py").string();
    std::ofstream(script) << "import openpyxl, sys\n"
                             "wb = openpyxl.Workbook(write_only=True); ws = wb.create_sheet()\n"
                             "ws.append(['标题', 'url', '内容'])\n"
                             "for i in range(int(sys.argv[2])):\n"
                             "    ws.append(['标题%d' % i, 'http://bench.test/x/%d' % i,\n"
                             "               '<p>第%d行，带\"引号\"和逗号,</p>' % i * 20])\n"
                             "wb.save(sys.argv[1])\n";
    std::printf("writing %s with openpyxl …\n", xlsx.c_str());
    if (std::system(("/usr/bin/python3 " + script + " " + xlsx + " " + std::to_string(rows)).c_str()) != 0) {
        std::fprintf(stderr, "openpyxl failed\n");
        return 1;
    }
    std::printf("  xlsx size %.1f MB\n", fs::file_size(xlsx) / 1048576.0);
    const std::string target = (dir / "2.db3").string();
    {
        platform::SilentDialogs dialogs;
        collect::CreateTaskDb(target, dialogs);
        collect::CreateContentTables(target, kSettings);
    }
    report("ImportSpreadsheet (.xlsx)", rows,
           inChild([&] { return app::ImportSpreadsheet(target, fields, xlsx).inserted == std::min(rows, 99999); }));
    fs::remove_all(dir);
    return 0;
}

// Task database throughput: direct-address insert scripts of 1000 statements, then the
// content stage's claim-and-store loop over every row. Prints rows/s.
// Usage: bench_task_db [rows]   (default 100000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "collect/task_db.h"
#include "platform/ports.h"

using namespace tarvex;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    auto dir = std::filesystem::temp_directory_path() / "tarvex-bench-taskdb";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "1.db3").string();
    platform::SilentDialogs dialogs;
    collect::CreateTaskDb(path, dialogs);
    collect::CreateContentTables(path, R"({"fieldsAll":["{\"title\":\"标题\"}","{\"title\":\"内容\"}"]})");

    auto t0 = Clock::now();
    std::string script;
    int inScript = 0;
    for (int i = 0; i < rows; ++i) {
        script += collect::sql::InsertDirectAddress("http://bench.test/article/" + std::to_string(i) + ".html");
        if (++inScript == 1000 || i + 1 == rows) {
            std::string r = collect::tryExecScript(path, "BEGIN;" + script + "COMMIT;");
            if (r != "succ|") {
                std::fprintf(stderr, "insert failed: %s\n", r.c_str());
                return 1;
            }
            script.clear();
            inScript = 0;
        }
    }
    double insertSecs = std::chrono::duration<double>(Clock::now() - t0).count();

    const std::string body(2000, 'x');
    auto t1 = Clock::now();
    std::int64_t last = 0;
    int stored = 0;
    for (;;) {
        auto row = collect::query(path, collect::sql::ClaimNext(last));
        if (row.empty()) break;
        last = std::stoll(row.text(0, "id"));
        std::string r = collect::tryExecScript(
            path, collect::sql::StoreRow(last, {{"标题", "title " + std::to_string(last)}, {"内容", body}}));
        if (r != "succ|") {
            std::fprintf(stderr, "store failed: %s\n", r.c_str());
            return 1;
        }
        ++stored;
    }
    double claimSecs = std::chrono::duration<double>(Clock::now() - t1).count();

    std::printf("direct insert: %d rows in %.2f s = %.0f rows/s (scripts of 1000 statements)\n", rows, insertSecs,
                rows / insertSecs);
    std::printf("claim and store: %d rows in %.2f s = %.0f rows/s (one connection per statement)\n", stored, claimSecs,
                stored / claimSecs);
    std::filesystem::remove_all(dir);
    return stored == rows ? 0 : 1;
}

// List stage throughput: a task database that already holds `known` addresses, and list pages
// (held in memory, so the network does not count) that name `fresh` new addresses mixed with
// as many known ones. Measures loading the known addresses, then the list stage's link
// extraction, dedupe and insert. Prints rows/s and the peak resident set (VmHWM).
// Usage: bench_list_stage [known] [fresh] [links-per-page]   (default 1000000 100000 200)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "collect/list_links.h"
#include "collect/list_sources.h"
#include "collect/task_db.h"
#include "platform/ports.h"
#include "platform/run_log.h"
#include "platform/sqlite_db.h"

using namespace tarvex;
using Clock = std::chrono::steady_clock;

namespace {
std::string peakRss() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return line.substr(6);
    return " ?";
}

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Processor time of the calling thread (user + system): on a busy machine it says more about
// the work than the wall time.
double threadCpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::string address(long long i) {
    return "http://bench.test/news/2019/05/" + std::to_string(i) + ".html";
}
}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> numbers;
    bool withLog = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--log")
            withLog = true;
        else
            numbers.push_back(argv[i]);
    }
    const long long known = numbers.size() > 0 ? std::atoll(numbers[0].c_str()) : 1000000;
    const long long fresh = numbers.size() > 1 ? std::atoll(numbers[1].c_str()) : 100000;
    const long long perPage = numbers.size() > 2 ? std::atoll(numbers[2].c_str()) : 200;

    auto dir = std::filesystem::temp_directory_path() / "tarvex-bench-list-stage";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    if (withLog) {
        std::filesystem::create_directories(dir / "log");
        platform::InitLog(dir.string() + "/", true, true);
    }
    const std::string path = (dir / "1.db3").string();
    platform::SilentDialogs dialogs;
    nlohmann::json list{{"More_begin", "<ul class=\"list\">"},
                        {"More_end", "</ul>"},
                        {"More_include", "html"},
                        {"More_url_regex", "<a href=\"{DD:采集网址}\" title=\"{DD:字段=列表标题}\""}};
    nlohmann::json doc{{"Morepage", list.dump()},
                       {"other_time1", "0"},
                       {"fieldsAll", nlohmann::json::array({R"({"title":"标题"})", R"({"title":"内容"})"})}};
    collect::CreateTaskDb(path, dialogs);
    collect::CreateContentTables(path, doc.dump());

    auto t0 = Clock::now();
    {
        platform::SqliteConnection db(path);
        platform::SqliteTransaction tx(db);
        platform::SqliteStatement st(db, "insert into content(id,url,geturl,getc,postc) values (null,?,1,1,1)");
        for (long long i = 0; i < known; ++i) {
            st.bind(1, address(i));
            st.run();
            st.reset();
        }
        tx.commit();
    }
    std::printf("setup: %lld known rows written in %.2f s\n", known, secondsSince(t0));

    // Pages alternate new and known links; the known ones are spread over the whole table.
    std::vector<std::string> pages;
    std::string page;
    long long onPage = 0, made = 0, step = known > 0 ? std::max(1LL, known / std::max(1LL, fresh)) : 1;
    for (long long i = 0; i < fresh; ++i) {
        page +=
            "<li><a href=\"" + address(known + i) + "\" title=\"标题" + std::to_string(known + i) + "\">x</a></li>\n";
        if (known > 0) page += "<li><a href=\"" + address((i * step) % known) + "\" title=\"旧\">x</a></li>\n";
        onPage += known > 0 ? 2 : 1;
        ++made;
        if (onPage >= perPage || made == fresh) {
            pages.push_back("succ:<html><body><ul class=\"list\">\n" + page + "</ul></body></html>");
            page.clear();
            onPage = 0;
        }
    }
    std::vector<std::string> urls;
    for (std::size_t i = 0; i < pages.size(); ++i)
        urls.push_back("http://bench.test/list_" + std::to_string(i) + ".html");
    std::size_t next = 0;
    collect::PageFetcher fetch = [&](const std::string&, const std::string&) { return pages[next++]; };

    std::mutex lock;
    collect::RunContext run;
    run.settingsJson = doc.dump();
    run.dbPath = path;
    run.slotDbLock = &lock;
    run.dialogs = &dialogs;

    auto t1 = Clock::now();
    std::size_t loaded = collect::LoadKnownUrls(run);
    const double loadSecs = secondsSince(t1);
    std::printf("load known: %zu addresses in %.2f s = %.0f rows/s, table %.1f MB, peak RSS%s\n", loaded, loadSecs,
                loaded / loadSecs, static_cast<double>(run.known.memoryBytes()) / (1024.0 * 1024.0), peakRss().c_str());

    auto t2 = Clock::now();
    const double cpu0 = threadCpuSeconds();
    collect::collectListPages(run, urls, fetch);
    const double stageSecs = secondsSince(t2);
    const double stageCpu = threadCpuSeconds() - cpu0;
    auto count = collect::query(path, "select count(*) as n from content").text(0, "n");
    const long long links = fresh + (known > 0 ? fresh : 0);
    std::printf(
        "list stage: %zu pages, %lld links (%lld new) in %.2f s (processor %.2f s) = %.0f links/s, %.0f new rows/s, "
        "%.1f us processor per link\n",
        pages.size(), links, fresh, stageSecs, stageCpu, links / stageSecs, fresh / stageSecs, stageCpu * 1e6 / links);
    std::printf("rows now %s (expected %lld), peak RSS%s\n", count.c_str(), known + fresh, peakRss().c_str());
    if (withLog) {
        std::error_code ec;
        std::printf("run log: %.1f MB\n",
                    static_cast<double>(std::filesystem::file_size(platform::RunLog::global().filePath(), ec)) /
                        (1024.0 * 1024.0));
        platform::CloseLog();
    }
    std::filesystem::remove_all(dir);
    return std::stoll(count) == known + fresh ? 0 : 1;
}

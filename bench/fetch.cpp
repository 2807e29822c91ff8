// HttpGet throughput over loopback: pages/s with 3 and with 9 threads fetching at once (the
// runner plus up to three content workers per slot, one and three busy slots), for a small
// UTF-8 page and a 136 KB GBK article that has to be decoded. Each fetch opens and closes its
// own connection, as HttpGet always does.
// Usage: bench_fetch [seconds per run]   (default 3)
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

#include "collect/http_fetch.h"
#include "support/local_http_server.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using Clock = std::chrono::steady_clock;

namespace {

struct Result {
    long pages = 0;
    long failures = 0;
    double seconds = 0;
};

Result run(const std::string& url, const std::string& block, int threads, double seconds) {
    std::atomic<long> pages{0}, failures{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> workers;
    auto t0 = Clock::now();
    for (int i = 0; i < threads; ++i)
        workers.emplace_back([&] {
            while (!stop.load()) {
                std::string r = collect::HttpGet(url, block);
                (r.compare(0, 5, "succ:") == 0 ? pages : failures)++;
            }
        });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& w : workers) w.join();
    return {pages.load(), failures.load(), std::chrono::duration<double>(Clock::now() - t0).count()};
}

// Compressed once here, so the server's own work stays out of the figures.
std::string gzipOf(const std::string& data) {
    z_stream zs{};
    deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, static_cast<uLong>(data.size())), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const std::string sites = std::string(TARVEX_TEST_DATA_DIR) + "/sites/";
    test::LocalHttpServer small(test::LocalHttpServer::Options{sites + "plain-article-utf8", 24, false});
    test::LocalHttpServer gbk(test::LocalHttpServer::Options{sites + "gbk-declared-in-meta", 24, false});
    test::Reply packed = test::Reply::html(gzipOf(test::readWholeFile(sites + "gbk-declared-in-meta/index.html")));
    packed.headers = {{"Content-Encoding", "gzip"}};
    gbk.on("/packed.html", packed);

    struct Case {
        const char* name;
        std::string url;
        std::string block;
    } cases[] = {
        {"small UTF-8 page (431 B)", small.url("/index.html"), ""},
        {"GBK article (136 KB, meta charset)", gbk.url("/index.html"), ""},
        {"GBK article, gzip=1 (gzip body)", gbk.url("/packed.html"), "gzip=1"},
    };
    int status = 0;
    for (const auto& c : cases) {
        for (int threads : {3, 9}) {
            Result r = run(c.url, c.block, threads, seconds);
            std::printf("%-36s %d threads: %6ld pages in %.2f s = %7.0f pages/s%s\n", c.name, threads, r.pages,
                        r.seconds, r.pages / r.seconds,
                        r.failures ? (" (" + std::to_string(r.failures) + " failures)").c_str() : "");
            if (r.failures) status = 1;
        }
    }
    return status;
}

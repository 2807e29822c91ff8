// The publish stage against the loopback receiving double: records/s with 3 attachments of
// 20 KB each, per upload mode (inline, one by one first, as a batch first, in pieces first, by
// FTP first), and the peak memory above the baseline while one 100 MB attachment goes up in
// pieces of 1 MB. The receiver runs in a child process, so its recordings stay out of the
// figures.
// Usage: bench_publish [records per mode]   (default 100)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "collect/task_db.h"
#include "platform/ports.h"
#include "platform/sqlite_db.h"
#include "publish/publish_module.h"
#include "publish/publisher.h"
#include "support/ftp_fixture.h"
#include "support/publish_receiver.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

namespace {

class QuietView final : public platform::SlotView {
public:
    void appendPane(int, const std::string& line) override {
        if (line.find("失败") != std::string::npos || line.find("错误") != std::string::npos) ++failures;
    }
    void setLabel(int, int, const std::string&) override {}
    void setProgressRange(int, int, int, int) override {}
    void setProgress(int, int, int) override {}
    int failures = 0;
};

// The receiver in a child process; its port comes back through a pipe, and closing the other
// pipe ends it.
struct ReceiverProcess {
    pid_t pid = -1;
    int port = 0;
    int stopFd = -1;

    ReceiverProcess() {
        int portPipe[2], stopPipe[2];
        if (::pipe(portPipe) != 0 || ::pipe(stopPipe) != 0) std::exit(1);
        pid = ::fork();
        if (pid == 0) {
            ::close(portPipe[0]);
            ::close(stopPipe[1]);
            test::PublishReceiver site;
            const int p = site.server().port();
            if (::write(portPipe[1], &p, sizeof p) != sizeof p) ::_exit(1);
            char c;
            while (::read(stopPipe[0], &c, 1) > 0) {
            }
            ::_exit(0);
        }
        ::close(portPipe[1]);
        ::close(stopPipe[0]);
        if (::read(portPipe[0], &port, sizeof port) != sizeof port) std::exit(1);
        ::close(portPipe[0]);
        stopFd = stopPipe[1];
    }
    ~ReceiverProcess() {
        ::close(stopFd);
        ::waitpid(pid, nullptr, 0);
    }
};

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long statusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::string(key).size());
    return -1;
}

struct Stage {
    test::SandboxWorkspace& sandbox;
    std::string db;
    std::mutex lock;

    explicit Stage(test::SandboxWorkspace& s) : sandbox(s), db(s.path("data/1.db3")) {
        platform::SilentDialogs quiet;
        collect::CreateTaskDb(db, quiet);
        collect::execScript(db, collect::kNewTaskContentSql);
        collect::execScript(db, collect::kDownloadTableSql);
    }
    void records(int n, const std::vector<std::string>& files) {
        collect::execScript(db, "delete from content; delete from download");
        platform::SqliteConnection c(db);
        c.exec("BEGIN");
        for (int i = 1; i <= n; ++i) {
            c.exec("insert into content(id,url,geturl,getc,postc,标题,内容) values (" + std::to_string(i) +
                   ",'http://src.example/" + std::to_string(i) + "',1,1,0,'标题" + std::to_string(i) +
                   "','<p>正文</p>')");
            int k = 0;
            for (const auto& f : files)
                c.exec(collect::sql::InsertDownload(i, "http://src.example/p", f,
                                                    "/up/" + std::to_string(i) + "/" + std::to_string(++k) + ".jpg"));
        }
        c.exec("COMMIT");
    }
    // Seconds for one publish stage and the failures it showed.
    std::pair<double, int> publish(const json& settings) {
        QuietView view;
        platform::SilentDialogs quiet;
        collect::RunContext run;
        run.taskId = 1;
        run.settingsJson = settings.dump();
        run.dbPath = db;
        run.programFolder = sandbox.folder();
        run.slotDbLock = &lock;
        run.view = &view;
        run.dialogs = &quiet;
        run.readRunState = [] { return std::string("1"); };
        platform::SilentDialogs d;
        const auto columns = collect::TableColumns(db, "content", d);
        const auto t0 = Clock::now();
        publish::publishRecords(run, columns, true);
        return {std::chrono::duration<double>(Clock::now() - t0).count(), view.failures};
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    ReceiverProcess receiver;
    test::SandboxWorkspace sandbox;
    const std::string address = "http://127.0.0.1:" + std::to_string(receiver.port) + "/tarvex.php";
    publish::SaveModule(publish::ModulePath(sandbox.path("发布规则"), "site"), address, true,
                        {{"title", "{采集字段:标题}"}, {"content", "{采集字段:内容}"}, {"source", "{dd:网址}"}});
    std::vector<std::string> files;
    for (int k = 1; k <= 3; ++k) {
        std::string bytes(20 * 1024, static_cast<char>('a' + k));
        sandbox.writeFile("files/" + std::to_string(k) + ".jpg", bytes);
        files.push_back(sandbox.path("files/" + std::to_string(k) + ".jpg"));
    }
    test::LocalFtpServer ftp(sandbox.path("ftproot"));

    Stage stage(sandbox);
    const json base = {{"PostRuleName", "site"}, {"other_time3", "1"}, {"other_autoupload", "-1"}};
    auto web = [](json extra) {
        extra["web_check"] = "-1";
        extra["web_partsize"] = "8";
        return extra;
    };
    struct Mode {
        const char* name;
        json upload;
    } modes[] = {
        {"inline (in the record's request)", json::object()},
        {"web, one by one first (upsingle)", web({{"web_check2", "-1"}})},
        {"web, as a batch first (upall)", web({{"web_check3", "-1"}})},
        {"web, in 8 KB pieces first", web({{"web_check2", "-1"}, {"web_checkpart", "-1"}})},
        {"FTP first (passive)", json{{"web_check", "0"},
                                     {"ftp_check", "-1"},
                                     {"ftp_ip", "127.0.0.1"},
                                     {"ftp_port", std::to_string(ftp.port())},
                                     {"ftp_user", ftp.user()},
                                     {"ftp_pass", ftp.password()},
                                     {"ftp_dir", "/"},
                                     {"ftp_Passive", "-1"}}},
    };
    std::printf("publish stage, %d records with 3 attachments of 20 KB each\n", n);
    for (const auto& m : modes) {
        stage.records(n, files);
        json settings = base;
        if (!m.upload.empty()) settings["other_UploadSet"] = m.upload.dump();
        const double cpu0 = cpuSeconds();
        auto [seconds, failures] = stage.publish(settings);
        const double cpu = cpuSeconds() - cpu0;
        std::printf("  %-36s %8.1f records/s  (%.2f s, client CPU %.1f ms per record%s)\n", m.name, n / seconds,
                    seconds, 1000 * cpu / n, failures ? ", with failures" : "");
    }

    // One 100 MB attachment in pieces of 1 MB: the pieces are read from disk as they are sent.
    {
        std::ofstream big(sandbox.path("files/big.bin"), std::ios::binary);
        std::string mb(1024 * 1024, 'x');
        for (int i = 0; i < 100; ++i) big << mb;
    }
    stage.records(1, {sandbox.path("files/big.bin")});
    json settings = base;
    settings["other_UploadSet"] =
        json{{"web_check", "-1"}, {"web_check2", "-1"}, {"web_checkpart", "-1"}, {"web_partsize", "1024"}}.dump();
    const long baseline = statusKb("VmRSS:");
    { std::ofstream("/proc/self/clear_refs") << "5"; }  // the peak starts again from here
    auto [seconds, failures] = stage.publish(settings);
    const long peak = statusKb("VmHWM:");
    std::printf(
        "100 MB attachment in 1 MB pieces: %.2f s%s; peak RSS %ld MB, %ld MB above the baseline of %ld MB "
        "(goal: under 64 MB above)\n",
        seconds, failures ? " with failures" : "", peak / 1024, (peak - baseline) / 1024, baseline / 1024);
    return 0;
}

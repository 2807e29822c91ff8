#pragma once
// Runs the built tarvex-cli as a separate process, the way a user or a cron job does.
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvex::test {

struct CliResult {
    int status = -1;  // exit code; -1 when the process did not exit normally
    std::string out;  // standard output and standard error together
};

// `args` are appended to the tarvex-cli path as shell words.
CliResult runCli(const std::string& args);

// `s` as one shell word (single-quoted).
std::string shellQuote(const std::string& s);

}  // namespace tarvex::test

namespace tarvex::test {

// tarvex-cli running in the background (a service such as "schedule"): its output is collected
// as it comes, and it can be sent signals and waited for.
class CliProcess {
public:
    explicit CliProcess(const std::vector<std::string>& args);
    ~CliProcess();  // kills the process if it still runs
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    int pid() const { return m_pid; }
    void signal(int sig) const;
    // Waits for the exit; the exit code, or -1 when it did not exit in time (or was killed).
    int wait(std::chrono::milliseconds timeout);
    std::string output() const;  // standard output and standard error so far

private:
    int m_pid = -1;
    int m_fd = -1;
    bool m_reaped = false;
    int m_status = -1;
    mutable std::mutex m_lock;
    std::string m_out;
    std::thread m_reader;
};

}  // namespace tarvex::test

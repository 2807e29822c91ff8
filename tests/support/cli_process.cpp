#include "support/cli_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace tarvex::test {

std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

CliResult runCli(const std::string& args) {
    CliResult r;
    const std::string cmd = std::string(TARVEX_BIN_DIR) + "/tarvex-cli " + args + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

}  // namespace tarvex::test

namespace tarvex::test {

CliProcess::CliProcess(const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        ::close(fds[0]);
        ::close(fds[1]);
        const std::string exe = std::string(TARVEX_BIN_DIR) + "/tarvex-cli";
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    m_fd = fds[0];
    m_reader = std::thread([this] {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(m_fd, buf, sizeof buf)) > 0) {
            std::lock_guard<std::mutex> g(m_lock);
            m_out.append(buf, static_cast<std::size_t>(n));
        }
    });
}

CliProcess::~CliProcess() {
    if (m_pid > 0 && !m_reaped) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_reader.joinable()) m_reader.join();
    if (m_fd >= 0) ::close(m_fd);
}

void CliProcess::signal(int sig) const {
    if (m_pid > 0 && !m_reaped) ::kill(m_pid, sig);
}

int CliProcess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!m_reaped && m_pid > 0) {
        int st = 0;
        const pid_t r = ::waitpid(m_pid, &st, WNOHANG);
        if (r == m_pid) {
            m_reaped = true;
            m_status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (m_reader.joinable()) m_reader.join();
    return m_status;
}

std::string CliProcess::output() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_out;
}

}  // namespace tarvex::test

#include "support/ftp_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace tarvex::test {
namespace {

void closeFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

LocalFtpServer::LocalFtpServer(Options options) : m_options(std::move(options)) {
    if (m_options.root.empty()) throw std::runtime_error("LocalFtpServer: no root folder");
    std::filesystem::create_directories(m_options.root);

    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("LocalFtpServer: pipe failed");
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        throw std::runtime_error("LocalFtpServer: pipe failed");
    }
    // The pipes are close-on-exec, so the child keeps only what dup2 puts on 0 and 1; other
    // tests' descriptors (sockets, databases) never leak into the server process.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);

    std::vector<std::string> args = {TARVEX_PYTHON3, TARVEX_FTP_SERVER_SCRIPT,
                                     "--host",       "127.0.0.1",
                                     "--port",       "0",
                                     "--user",       m_options.user,
                                     "--password",   m_options.password,
                                     "--root",       m_options.root,
                                     "--perm",       m_options.perm};
    if (!m_options.refuseStore.empty()) {
        args.push_back("--refuse-stor");
        args.push_back(m_options.refuseStore);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&m_pid, TARVEX_PYTHON3, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    m_stdinFd = in[1];
    m_stdoutFd = out[0];
    if (rc != 0) {
        m_pid = -1;
        closeFd(m_stdinFd);
        closeFd(m_stdoutFd);
        throw std::runtime_error(std::string("LocalFtpServer: cannot start " TARVEX_PYTHON3 ": ") + std::strerror(rc));
    }

    // Read "PORT <n>" from the script; python and pyftpdlib start in well under a second,
    // the generous limit is for a loaded CI machine.
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (got.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{m_stdoutFd, POLLIN, 0};
        int n = poll(&p, 1, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        char buf[256];
        ssize_t r = read(m_stdoutFd, buf, sizeof(buf));
        if (r <= 0) break;
        got.append(buf, static_cast<std::size_t>(r));
    }
    if (got.rfind("PORT ", 0) == 0) m_port = std::atoi(got.c_str() + 5);
    if (m_port <= 0) {
        stop();
        throw std::runtime_error("LocalFtpServer: the FTP server did not start (output: \"" + got + "\")");
    }
}

LocalFtpServer::~LocalFtpServer() {
    stop();
}

void LocalFtpServer::stop() {
    closeFd(m_stdinFd);
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    closeFd(m_stdoutFd);
}

std::string LocalFtpServer::url(const std::string& path) const {
    return "ftp://127.0.0.1:" + std::to_string(m_port) + path;
}

}  // namespace tarvex::test

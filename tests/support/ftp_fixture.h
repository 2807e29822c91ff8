#pragma once
// A loopback FTP server for one test: runs tests/support/ftp_server.py (pyftpdlib under
// /usr/bin/python3) on 127.0.0.1 with a port the OS picks, one user with full rights in a
// root folder. The constructor returns once the server accepts connections (or throws
// std::runtime_error); the destructor stops the process and reaps it.
#include <sys/types.h>

#include <string>
#include <utility>

namespace tarvex::test {

class LocalFtpServer {
public:
    struct Options {
        std::string root;  // created when missing
        std::string user = "tarvex";
        std::string password = "secret";
        // pyftpdlib's permission letters; "elr" lists, changes folder and reads but refuses
        // every folder made and every file stored.
        std::string perm = "elradfmwMT";
        // STOR of a file whose name holds this text is answered "553 Could not create file.".
        std::string refuseStore;
    };

    explicit LocalFtpServer(Options options);
    explicit LocalFtpServer(std::string root) : LocalFtpServer(Options{std::move(root)}) {}
    ~LocalFtpServer();
    LocalFtpServer(const LocalFtpServer&) = delete;
    LocalFtpServer& operator=(const LocalFtpServer&) = delete;

    int port() const { return m_port; }
    const std::string& root() const { return m_options.root; }
    const std::string& user() const { return m_options.user; }
    const std::string& password() const { return m_options.password; }
    // "ftp://127.0.0.1:PORT" + path, without credentials.
    std::string url(const std::string& path = "/") const;

private:
    void stop();

    Options m_options;
    pid_t m_pid = -1;
    int m_stdinFd = -1;  // closing it tells the script to exit
    int m_stdoutFd = -1;
    int m_port = 0;
};

}  // namespace tarvex::test

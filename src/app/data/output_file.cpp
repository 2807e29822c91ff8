#include "app/data/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarvex::app {

OutputFile::OutputFile(std::string path) : m_path(std::move(path)) {}

OutputFile::~OutputFile() {
    if (m_fd >= 0) ::close(m_fd);
    if (!m_temp.empty()) ::unlink(m_temp.c_str());
}

void OutputFile::fail(int code) {
    if (m_error.empty()) m_error = std::strerror(code);
}

bool OutputFile::open() {
    std::string temp = m_path + ".tmp.XXXXXX";
    m_fd = ::mkstemp(temp.data());
    if (m_fd < 0) {
        fail(errno);
        return false;
    }
    m_temp = temp;
    return true;
}

bool OutputFile::write(std::string_view bytes) {
    if (m_fd < 0 || !m_error.empty()) return false;
    while (!bytes.empty()) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool OutputFile::commit(bool sync) {
    if (m_fd < 0 || !m_error.empty()) return false;
    // mkstemp makes the file private; an export is an ordinary file of the user's.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(m_fd, 0666 & ~mask);
    if (sync && ::fsync(m_fd) != 0) fail(errno);
    if (::close(m_fd) != 0) fail(errno);
    m_fd = -1;
    if (m_error.empty() && std::rename(m_temp.c_str(), m_path.c_str()) != 0) fail(errno);
    if (!m_error.empty()) return false;
    m_temp.clear();
    return true;
}

}  // namespace tarvex::app

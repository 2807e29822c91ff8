#include "platform/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvex::platform {

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

FileRead readRegularFile(const std::string& path, std::size_t maxBytes) {
    FileRead out;
    // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for one.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        out.error = errno == ENOENT ? FileReadError::Missing : FileReadError::Unreadable;
        out.reason = std::strerror(errno);
        return out;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        out.error = FileReadError::NotRegular;
        return out;
    }
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        ::close(fd);
        out.error = FileReadError::TooLarge;
        return out;
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    while (bytes.size() < maxBytes) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (bytes.size() > maxBytes) bytes.resize(maxBytes);
    out.bytes = std::move(bytes);
    return out;
}

}  // namespace tarvex::platform

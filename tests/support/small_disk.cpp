#include "support/small_disk.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tarvex::test {

SmallDisk::SmallDisk(std::size_t bytes) {
    std::string dir = "/tmp/tarvex-disk-XXXXXX";
    if (!::mkdtemp(dir.data())) {
        m_why = std::strerror(errno);
        return;
    }
    m_path = dir;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", m_path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        m_why = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
        return;
    }
    m_mounted = true;
}

SmallDisk::~SmallDisk() {
    if (m_mounted) ::umount2(m_path.c_str(), MNT_DETACH);
    if (!m_path.empty()) ::rmdir(m_path.c_str());
}

void SmallDisk::fill(std::size_t leave) {
    const std::string filler = m_path + "/.filler";
    int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return;
    std::vector<char> block(4096, 'x');
    for (;;) {
        struct statvfs st {};
        if (::statvfs(m_path.c_str(), &st) != 0) break;
        const std::size_t free = static_cast<std::size_t>(st.f_bavail) * st.f_frsize;
        if (free <= leave) break;
        const std::size_t n = std::min(block.size(), free - leave);
        if (::write(fd, block.data(), n) <= 0) break;
    }
    ::close(fd);
}

void SmallDisk::freeUp() {
    ::unlink((m_path + "/.filler").c_str());
}

}  // namespace tarvex::test

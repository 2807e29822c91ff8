#pragma once
// A small real file system for tests of a full disk: a tmpfs of a few MB mounted on a fresh
// folder (needs the right to mount, as root in the build container has), filled on demand so
// that the next write fails with "No space left on device". Unmounted when it goes.
#include <cstddef>
#include <string>

namespace tarvex::test {

class SmallDisk {
public:
    explicit SmallDisk(std::size_t bytes = 2 * 1024 * 1024);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    // False when the file system could not be mounted (why() says why); tests then skip.
    bool mounted() const { return m_mounted; }
    const std::string& why() const { return m_why; }
    // The mounted folder, without a trailing "/".
    const std::string& path() const { return m_path; }
    // Writes a filler file until the disk is full (leaving `leave` bytes, rounded to pages).
    void fill(std::size_t leave = 0);
    // Removes the filler again.
    void freeUp();

private:
    std::string m_path, m_why;
    bool m_mounted = false;
};

}  // namespace tarvex::test

#pragma once
// Refuses a second copy of the program on the same workspace: an exclusive advisory lock
// on a file in the workspace, held for the life of the process and released by the kernel
// when the process ends, even after a crash.
#include <string>

namespace tarvex::platform {

class InstanceLock {
public:
    explicit InstanceLock(const std::string& lockFilePath);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process (or another InstanceLock in this one) holds the lock.
    bool acquired() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

}  // namespace tarvex::platform

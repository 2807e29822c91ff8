#pragma once
// Refuses a second copy of the program on the same workspace: an exclusive advisory lock
// on a file in the workspace, held for the life of the process and released by the kernel
// when the process ends, even after a crash.
#include <string>

namespace tarvex::platform {

class InstanceLock {
public:
    // Exclusive: no other holder at all. Shared: any number of shared holders, no exclusive one
    // (programs that each work on tasks of their own share a workspace this way).
    enum class Mode { Exclusive, Shared };
    explicit InstanceLock(const std::string& lockFilePath, Mode mode = Mode::Exclusive);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process (or another InstanceLock in this one) holds the lock in a
    // mode that excludes this one.
    bool acquired() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

}  // namespace tarvex::platform

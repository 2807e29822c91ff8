#pragma once
// Reading a whole file that a user named: only a regular file, only up to a size, and never
// blocking on a FIFO or a device (which would hold the caller and ignore its stop). Safe on any
// thread.
#include <cstddef>
#include <optional>
#include <string>

namespace tarvex::platform {

enum class FileReadError { None, Missing, NotRegular, TooLarge, Unreadable };

struct [[nodiscard]] FileRead {
    std::optional<std::string> bytes;  // set on success
    FileReadError error = FileReadError::None;
    std::string reason;  // the system's text for Unreadable
};

// True when `path` names a regular file (after symbolic links); false for a folder, a device,
// a FIFO or nothing at all.
bool isRegularFile(const std::string& path);

// The bytes of the regular file at `path` when it holds at most `maxBytes`. A file that grows
// while it is read is cut at `maxBytes`; a read error keeps the bytes read so far.
FileRead readRegularFile(const std::string& path, std::size_t maxBytes);

}  // namespace tarvex::platform

#pragma once
// Partial files of attachment downloads ("<name>.part.XXXXXX", written beside the target and
// renamed when complete). A transfer removes its own on any failure; only a process that was
// killed mid-transfer leaves one, which the next content stage removes. Any thread.
#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarvex::collect {

// Whether a file name is that of a download's partial file.
bool IsPartFileName(std::string_view name);

// A partial file last written this long before a run began belongs to no live transfer: every
// transfer writes at least once per idle time-out (at most 40 s).
inline constexpr std::chrono::minutes kStalePartAge{2};

// Removes the partial files under `folder` (and its sub-folders) last written more than
// kStalePartAge before `runStart`. Returns how many were removed; a missing folder is none.
int RemoveStalePartFiles(const std::string& folder, std::filesystem::file_time_type runStart);

}  // namespace tarvex::collect

#pragma once
// Where a downloaded attachment goes on disk. Folder and file names are made from templates
// that may hold values taken from collected pages, so every part is cleaned and the result is
// checked to lie inside the task's attachment folder. Pure functions; any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex::collect {

// One folder or file name made safe: "/" and "\" cannot occur (callers split at them),
// control characters are dropped, and "." or ".." (or a name of dots only) becomes "_".
// "" stays "".
std::string CleanPathSegment(std::string_view segment);

// A relative folder template result ("a/b/../c") as a clean relative path: every segment
// cleaned, empty segments dropped, joined by "/". "" for no folder.
std::string CleanRelativeFolder(std::string_view folder);

// The text after the last "/" (or "\") of an address or name.
std::string LastPathPart(std::string_view text);

// The task's attachment folder, ending with "/": "other_savepath" when set, else the program
// folder's "data/<task id>/".
std::string AttachmentFolder(const std::string& savePath, const std::string& programFolder, std::int64_t taskId);

// base + (folder + "/" when there is one) + the cleaned last part of `newName`; nullopt when
// the name has no usable last part or the result would not lie inside `base`.
std::optional<std::string> AttachmentPath(const std::string& base, std::string_view folder, std::string_view newName);

// Whether `path` lies inside the folder `base` (lexically, after resolving "." and ".."
// segments of both).
bool IsInsideFolder(const std::string& base, const std::string& path);

// `path` with "-n" put before its extension ("a/1.jpg", 2 -> "a/1-2.jpg").
std::string WithNumberSuffix(const std::string& path, int n);

// Creates a folder and its parents; true when it exists afterwards.
bool MakeFolders(const std::string& folder);

}  // namespace tarvex::collect

#include "collect/attachment_paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <vector>

namespace tarvex::collect {

namespace {

std::vector<std::string> splitSegments(std::string_view text) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == '/' || c == '\\') {
            out.push_back(std::move(cur));
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(std::move(cur));
    return out;
}

// "." and ".." resolved, empty segments dropped; a leading "/" kept.
std::string normalise(const std::string& path) {
    std::vector<std::string> kept;
    for (auto& seg : splitSegments(path)) {
        if (seg.empty() || seg == ".") continue;
        if (seg == "..") {
            if (!kept.empty()) kept.pop_back();
            continue;
        }
        kept.push_back(std::move(seg));
    }
    std::string out = !path.empty() && path[0] == '/' ? "/" : "";
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i) out += '/';
        out += kept[i];
    }
    return out;
}

}  // namespace

std::string CleanPathSegment(std::string_view segment) {
    std::string out;
    out.reserve(segment.size());
    for (char c : segment) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '/' || c == '\\') continue;
        out += c;
    }
    if (!out.empty() && out.find_first_not_of('.') == std::string::npos) return "_";
    return out;
}

std::string CleanRelativeFolder(std::string_view folder) {
    std::string out;
    for (const auto& seg : splitSegments(folder)) {
        std::string clean = CleanPathSegment(seg);
        if (clean.empty()) continue;
        if (!out.empty()) out += '/';
        out += clean;
    }
    return out;
}

std::string LastPathPart(std::string_view text) {
    std::size_t slash = text.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? text : text.substr(slash + 1));
}

std::string AttachmentFolder(const std::string& savePath, const std::string& programFolder, std::int64_t taskId) {
    if (!savePath.empty()) return savePath.back() == '/' ? savePath : savePath + "/";
    std::string base = programFolder;
    if (!base.empty() && base.back() != '/') base += '/';
    return base + "data/" + std::to_string(taskId) + "/";
}

std::optional<std::string> AttachmentPath(const std::string& base, std::string_view folder, std::string_view newName) {
    std::string name = CleanPathSegment(LastPathPart(newName));
    if (name.empty()) return std::nullopt;
    std::string path = base;
    if (!path.empty() && path.back() != '/') path += '/';
    std::string cleanFolder = CleanRelativeFolder(folder);
    if (!cleanFolder.empty()) path += cleanFolder + "/";
    path += name;
    if (!IsInsideFolder(base, path)) return std::nullopt;
    return path;
}

bool IsInsideFolder(const std::string& base, const std::string& path) {
    std::string b = normalise(base);
    std::string p = normalise(path);
    if (b.empty() || p.size() <= b.size()) return false;
    if (b == "/") return p[0] == '/';
    return p.compare(0, b.size(), b) == 0 && p[b.size()] == '/';
}

std::string WithNumberSuffix(const std::string& path, int n) {
    std::size_t slash = path.find_last_of('/');
    std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = path.find_last_of('.');
    const std::string suffix = "-" + std::to_string(n);
    if (dot == std::string::npos || dot <= nameStart) return path + suffix;
    return path.substr(0, dot) + suffix + path.substr(dot);
}

bool MakeFolders(const std::string& folder) {
    std::string cur;
    for (std::size_t i = 0; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == '/') {
            if (!cur.empty() && cur != "/") {
                if (::mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
            }
        }
        if (i < folder.size()) cur += folder[i];
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace tarvex::collect

#include "collect/partial_files.h"

#include <cctype>

namespace tarvex::collect {

bool IsPartFileName(std::string_view name) {
    // mkstemp's six characters after ".part.".
    constexpr std::string_view marker = ".part.";
    constexpr std::size_t kRandom = 6;
    if (name.size() <= marker.size() + kRandom) return false;
    const std::size_t at = name.size() - kRandom - marker.size();
    if (name.substr(at, marker.size()) != marker) return false;
    for (char c : name.substr(at + marker.size()))
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

int RemoveStalePartFiles(const std::string& folder, std::filesystem::file_time_type runStart) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) return 0;
    const auto before = runStart - kStalePartAge;
    int removed = 0;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec) || !IsPartFileName(it->path().filename().string())) continue;
        const auto written = fs::last_write_time(it->path(), ec);
        if (ec || written >= before) {
            ec.clear();
            continue;
        }
        if (fs::remove(it->path(), ec)) ++removed;
        ec.clear();
    }
    return removed;
}

}  // namespace tarvex::collect

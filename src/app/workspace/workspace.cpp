#include "app/workspace/workspace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "collect/task_db.h"
#include "platform/run_log.h"

namespace tarvex::app {

Workspace Workspace::at(std::string folder) {
    std::replace(folder.begin(), folder.end(), '\\', '/');
    if (folder.empty() || folder.back() != '/') folder += '/';
    Workspace w;
    w.programFolder = folder;
    w.configDb = folder + "config/config.db3";
    w.autotaskFile = folder + "config/autotask.txt";
    w.dataFolder = folder + "data";
    w.publishFolder = folder + "发布规则";
    w.logFolder = folder + "log";
    w.rulesFolder = folder + "rules";
    w.pluginFolder = folder + "Plugin";
    w.accessLogFile = folder + platform::kAccessLogName;
    return w;
}

std::string Workspace::taskDbPath(std::int64_t taskId) const {
    return collect::TaskDbPath(dataFolder, taskId);
}
std::string Workspace::taskFolder(std::int64_t taskId) const {
    return dataFolder + "/" + std::to_string(taskId);
}

std::string executableFolder() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    std::string p(buf, static_cast<std::size_t>(n));
    auto slash = p.rfind('/');
    return slash == std::string::npos ? "./" : p.substr(0, slash + 1);
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace tarvex::app

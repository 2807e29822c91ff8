#pragma once
// app/workspace: start-up, the workspace folder (portable or XDG), process-wide state and the
// thread registry. Uses platform, engine and collect only; every other app/ folder may use it.
//
// The workspace: the program folder and the fixed files and folders below it. Every path of
// the system is formed here from the program folder, which the caller passes in (the
// executable's folder for the program, a temporary folder for tests).
#include <cstdint>
#include <string>

namespace tarvex::app {

struct Workspace {
    std::string programFolder;  // always ends with "/"
    std::string configDb;       // config/config.db3
    std::string autotaskFile;   // config/autotask.txt
    std::string dataFolder;     // data (no trailing separator)
    std::string publishFolder;  // 发布规则
    std::string logFolder;      // log
    std::string rulesFolder;    // rules
    std::string pluginFolder;   // Plugin
    std::string accessLogFile;  // 访问日志(…).txt

    static Workspace at(std::string programFolder);

    std::string taskDbPath(std::int64_t taskId) const;  // data/<id>.db3
    std::string taskFolder(std::int64_t taskId) const;  // data/<id>
};

// Folder that holds the running executable, ending with "/".
std::string executableFolder();

bool pathExists(const std::string& path);
bool isDirectory(const std::string& path);

}  // namespace tarvex::app

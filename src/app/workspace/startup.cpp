#include "app/workspace/startup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <functional>

#include "collect/http_fetch.h"
#include "engine/post_process.h"
#include "platform/run_log.h"

namespace tarvex::app {

std::string instanceLockPath(const Workspace& ws) {
    std::string inside = ws.programFolder + ".tarvex.lock";
    int fd = ::open(inside.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ::close(fd);
        return inside;
    }
    return fallbackLockPath(ws.programFolder);
}

std::string fallbackLockPath(const std::string& programFolder) {
    // A read-only program folder still gets one lock per workspace, named by the folder itself
    // (device and inode) rather than by the path used to reach it: a symlink or "a/../a" must
    // find the same lock.
    struct stat st {};
    if (::stat(programFolder.c_str(), &st) == 0)
        return "/tmp/tarvex-" + std::to_string(static_cast<unsigned long long>(st.st_dev)) + "-" +
               std::to_string(static_cast<unsigned long long>(st.st_ino)) + ".lock";
    char resolved[PATH_MAX];
    const std::string path = ::realpath(programFolder.c_str(), resolved) ? resolved : programFolder;
    return "/tmp/tarvex-" + std::to_string(std::hash<std::string>{}(path)) + ".lock";
}

std::string taskLockPath(const Workspace& ws, std::int64_t taskId) {
    const std::string folder = ws.programFolder + ".tarvex-locks";
    ::mkdir(folder.c_str(), 0755);
    std::string inside = folder + "/task-" + std::to_string(taskId) + ".lock";
    int fd = ::open(inside.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ::close(fd);
        return inside;
    }
    std::string fallback = fallbackLockPath(ws.programFolder);
    fallback.insert(fallback.size() - 5, "-task-" + std::to_string(taskId));
    return fallback;
}

std::string taskInUseMessage(std::int64_t taskId) {
    return "任务" + std::to_string(taskId) + "正在另一个程序中运行！";
}

StartResult startProcess(const std::string& programFolder, platform::Dialogs& dialogs, StartOptions options) {
    StartResult result;
    auto session = std::make_unique<Session>();
    session->workspace = Workspace::at(programFolder);
    const Workspace& ws = session->workspace;

    if (options.singleInstance) {
        // Programs that work on tasks of their own share the workspace; a program that works
        // on all of them (runs any task, edits any) holds it whole.
        const auto mode =
            options.ownTasks ? platform::InstanceLock::Mode::Shared : platform::InstanceLock::Mode::Exclusive;
        session->instanceLock = std::make_unique<platform::InstanceLock>(instanceLockPath(ws), mode);
        if (!session->instanceLock->acquired()) {
            dialogs.message("该程序正在运行！", "提示");
            result.status = StartStatus::AlreadyRunning;
            return result;
        }
        if (options.ownTasks) {
            for (const std::int64_t id : *options.ownTasks) {
                auto lock = std::make_unique<platform::InstanceLock>(taskLockPath(ws, id));
                if (!lock->acquired()) {
                    dialogs.message(taskInUseMessage(id), "提示");
                    result.status = StartStatus::TaskInUse;
                    return result;
                }
                session->taskLocks.push_back(std::move(lock));
            }
        }
    }
    if (!pathExists(ws.configDb)) {
        dialogs.message("config配置文件丢失,软件即将退出！", platform::kAppTitle);
        result.status = StartStatus::ConfigMissing;
        return result;
    }
    session->logOn = isDirectory(ws.logFolder);
    platform::RunLog::global().setDialogs(&dialogs);
    platform::InitLog(ws.programFolder, session->logOn, session->logOn);
    session->state = std::make_unique<ProcessState>(&dialogs);
    // Post-processing rules read word lists below the workspace and fetch pages over HTTP.
    engine::ChainEnv chain;
    chain.programFolder = ws.programFolder;
    chain.fetch = [](const std::string& address, const std::string& block) { return collect::HttpGet(address, block); };
    engine::SetChainEnv(std::move(chain));
    result.session = std::move(session);
    return result;
}

bool CloseBackgroundWork(ProcessState& state, ThreadRegistry& threads, std::chrono::milliseconds timeout) {
    state.closing = true;
    const bool ended = threads.waitAll(timeout);
    if (!ended)
        platform::WriteLog("关闭程序|" + std::to_string(threads.running()) + "个后台线程未在" +
                               std::to_string(timeout.count() / 1000) + "秒内结束",
                           0);
    return ended;
}

void logStartComplete() {
    platform::WriteLog("窗口初始化完成", 0);
}

}  // namespace tarvex::app

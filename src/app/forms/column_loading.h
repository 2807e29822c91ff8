#pragma once
// "加载栏目": asks the target site for its column list through a publish module, on a thread of
// its own while the window stays responsive, and checks the reply. Messages go through the
// Dialogs port after the request has ended. Called on the user-interface thread.
#include <functional>
#include <optional>
#include <string>

#include "app/workspace/workspace.h"
#include "platform/ports.h"

namespace tarvex::app {

struct ColumnLoadOptions {
    std::function<void()> keepResponsive;  // called about every `pollMs` while waiting
    int pollMs = 100;
    int maxChecks = 301;  // about 30 s
};

// The column list text to keep ("post_class_tree"), or nullopt when there is none: no module
// chosen ("请先选择一个发布接口！"), its file missing, the request failed ("POST提交URL:…") or the
// reply is not a column list ("返回错误，请检查接口文件:" + reply). Writes the "[刷新栏目按扭]"
// log lines, with cookies and secrets of the module hidden.
std::optional<std::string> LoadColumns(const Workspace& ws, const std::string& moduleName, platform::Dialogs& dialogs,
                                       const ColumnLoadOptions& options = {});

}  // namespace tarvex::app

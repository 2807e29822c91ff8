#include "app/forms/column_loading.h"

#include <mutex>

#include "app/forms/background_work.h"
#include "app/tasks/column_tree.h"
#include "platform/run_log.h"
#include "publish/column_request.h"
#include "publish/publish_module.h"

namespace tarvex::app {

using platform::WriteLog;

std::optional<std::string> LoadColumns(const Workspace& ws, const std::string& moduleName, platform::Dialogs& dialogs,
                                       const ColumnLoadOptions& options) {
    if (moduleName.empty()) {
        dialogs.message("请先选择一个发布接口！", platform::kAppTitle);
        WriteLog("[刷新栏目按扭]combobox4为空，没有选择接口", 0);
        return std::nullopt;
    }
    std::string missing;
    auto module = publish::LoadModule(ws.publishFolder, moduleName, &missing);
    if (!module) {
        dialogs.message(missing, platform::kAppTitle);
        WriteLog("[刷新栏目按扭] " + missing, 0);
        return std::nullopt;
    }
    WriteLog("[刷新栏目按扭]读取" + publish::ModulePath(ws.publishFolder, moduleName) + ",得到发布规则内容：" +
                 publish::RedactForLog(module->text()),
             0);
    if (module->lines.empty() || module->lines[0].find("tarvex") == std::string::npos)
        WriteLog("[刷新栏目按扭]发布网址没有tarvex文字", 0);
    WriteLog("[刷新栏目按扭] 发布编码是：" + module->charsetFlag(), 0);

    WriteLog("[刷新栏目按扭] 新建线程，访问发布接口 ", 0);
    std::mutex lock;
    publish::ColumnReply reply;
    RunResponsive(
        [&](const std::atomic<bool>& cancel) {
            auto r = publish::RequestColumnList(*module, [&cancel] { return cancel.load(); });
            WriteLog("[刷新栏目按扭] 返回列表内容：" + r.text, 0);
            std::lock_guard<std::mutex> g(lock);
            reply = std::move(r);
        },
        options.keepResponsive, options.pollMs, options.maxChecks);

    std::lock_guard<std::mutex> g(lock);
    if (!reply.error.empty()) dialogs.message(reply.error, platform::kAppTitle);
    auto entries = reply.text.empty() ? std::nullopt : ParseColumnList(reply.text);
    if (!entries) {
        WriteLog("[刷新栏目按扭] 返回列表内容为空", 0);
        dialogs.message("返回错误，请检查接口文件:" + reply.text, platform::kAppTitle);
        return std::nullopt;
    }
    std::string pieces;
    for (const auto& e : *entries) pieces += (pieces.empty() ? "" : "\r") + e.piece;
    WriteLog("[刷新栏目按扭] 栏目去首尾得：" + pieces, 0);
    return reply.text;
}

}  // namespace tarvex::app

#include "platform/plugin_loader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "support/sandbox_workspace.h"

namespace tarvex::platform {
namespace {

const std::string kExamplePlugin = std::string(TARVEX_BIN_DIR) + "/../lib/example_plugin.so";

TEST(PluginLoader, CallsTheNamedFunctionWithTheArgumentsInOrder) {
    ASSERT_TRUE(std::filesystem::exists(kExamplePlugin)) << kExamplePlugin;
    auto call = CallPluginFunction(kExamplePlugin, "Describe", "当前", "http://h/a", "页面", "正文", "值");
    EXPECT_EQ(call.status, PluginCallStatus::Called);
    EXPECT_EQ(call.text, "field=正文;url=http://h/a;page=页面;value=值;text=当前");

    call = CallPluginFunction(kExamplePlugin, "default", "正文", "http://h/a", "", "f", "正文");
    EXPECT_EQ(call.status, PluginCallStatus::Called);
    EXPECT_EQ(call.text, "正文\n来源：http://h/a");

    call = CallPluginFunction(kExamplePlugin, "Fix", "\u3000 text \r\n", "", "", "", "");
    EXPECT_EQ(call.text, "text");
}

TEST(PluginLoader, FailuresKeepTheText) {
    auto failed = CallPluginFunction(kExamplePlugin, "Fail", "原值", "", "", "", "");
    EXPECT_EQ(failed.status, PluginCallStatus::Failed);
    EXPECT_EQ(failed.text, "原值");

    auto missingFn = CallPluginFunction(kExamplePlugin, "NoSuchFunction", "原值", "", "", "", "");
    EXPECT_EQ(missingFn.status, PluginCallStatus::FunctionMissing);
    EXPECT_EQ(missingFn.text, "原值");

    test::SandboxWorkspace ws;
    ws.writeFile("Plugin/not_a_library.so", "text");
    for (const std::string& lib : {ws.path("Plugin/missing.so"), ws.path("Plugin/not_a_library.so")}) {
        auto call = CallPluginFunction(lib, "default", "原值", "", "", "", "");
        EXPECT_EQ(call.status, PluginCallStatus::LoadFailed) << lib;
        EXPECT_EQ(call.text, "原值");
        EXPECT_FALSE(call.error.empty());
    }
}

TEST(PluginLoader, ABareNameIsNotSearchedInSystemFolders) {
    // "libc.so.6" would be found by the dynamic loader's search; a plug-in name never is.
    auto call = CallPluginFunction("libc.so.6", "getpid", "v", "", "", "", "");
    EXPECT_EQ(call.status, PluginCallStatus::LoadFailed);
}

TEST(PluginLoader, ConcurrentCallsLoadAndUnloadIndependently) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                const std::string v = std::to_string(t) + "-" + std::to_string(i);
                auto call = CallPluginFunction(kExamplePlugin, "default", v, "u", "", "", v);
                if (call.status != PluginCallStatus::Called || call.text != v + "\n来源：u") ++wrong;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace tarvex::platform

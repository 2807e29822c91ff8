// tarvex-cli's module command, run as a process on a sandbox workspace: a plain module text is
// installed enciphered, read back by the publisher's own reader and printed again.
#include <gtest/gtest.h>

#include "publish/publish_module.h"
#include "support/cli_process.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;

TEST(ModuleCli, SaveEnciphersWhatShowAndThePublisherReadBack) {
    test::SandboxWorkspace sandbox;
    const std::string ws = " --workspace '" + sandbox.folder() + "' ";
    const std::string plain =
        "posturl=http://127.0.0.1:8080/tarvex.php?secret=s\r\ncharset=0\r\ntitle={采集字段:标题}\r\n"
        "thumb={dd:自动缩略图}\r\n";
    sandbox.writeFile("wp.txt", plain);
    auto saved = test::runCli("module" + ws + "save wordpress '" + sandbox.path("wp.txt") + "'");
    ASSERT_EQ(saved.status, 0) << saved.out;

    // The file is cipher text, and the publisher's reader gets the lines back.
    EXPECT_EQ(sandbox.readFile("发布规则/wordpress.p").find("posturl"), std::string::npos);
    auto module = publish::LoadModule(sandbox.path("发布规则"), "wordpress");
    ASSERT_TRUE(module);
    EXPECT_FALSE(module->utf8());
    EXPECT_EQ(module->fields().at(1).second, "{dd:自动缩略图}");

    auto shown = test::runCli("module" + ws + "show wordpress");
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out, plain);
    EXPECT_EQ(test::runCli("module" + ws + "list").out, "wordpress\n");

    // What is no module is refused and nothing is written.
    sandbox.writeFile("bad.txt", "title=x\r\n");
    struct Case {
        std::string args;
        int status;
    } cases[] = {
        {"save bad '" + sandbox.path("bad.txt") + "'", 1},
        {"save ../evil '" + sandbox.path("wp.txt") + "'", 2},
        {"show absent", 1},
        {"show", 2},
    };
    for (const auto& c : cases) EXPECT_EQ(test::runCli("module" + ws + c.args).status, c.status) << c.args;
    EXPECT_EQ(test::runCli("module" + ws + "list").out, "wordpress\n");
}

// Partial download files: which names are theirs, and which of them a stage start removes.
#include "collect/partial_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/sandbox_workspace.h"

namespace tarvex::collect {
namespace {

TEST(PartialFiles, OnlyTheDownloadsOwnNamesAreTaken) {
    struct Case {
        const char* name;
        bool part;
    };
    for (const auto& c :
         {Case{"1.png.part.a1B2c3", true}, Case{"x.part.000000", true}, Case{"1.png", false}, Case{"1.png.part", false},
          Case{"1.png.part.abc", false}, Case{"1.png.part.a1B2c3d", false}, Case{"my.part.2024-1.jpg", false},
          Case{".part.abcdef", false}, Case{"a.part.ab-def", false}}) {
        EXPECT_EQ(IsPartFileName(c.name), c.part) << c.name;
    }
}

TEST(PartialFiles, AStageStartRemovesOnlyThoseOlderThanTheRun) {
    namespace fs = std::filesystem;
    test::SandboxWorkspace ws;
    ws.writeFile("data/5/2024/old.jpg.part.AAAAAA", "x");
    ws.writeFile("data/5/fresh.jpg.part.BBBBBB", "x");
    ws.writeFile("data/5/2024/old.jpg", "kept");
    const std::string folder = ws.folder() + "data/5";
    const auto now = fs::file_time_type::clock::now();
    fs::last_write_time(folder + "/2024/old.jpg.part.AAAAAA", now - std::chrono::hours(2));
    fs::last_write_time(folder + "/2024/old.jpg", now - std::chrono::hours(2));
    EXPECT_EQ(RemoveStalePartFiles(folder, now), 1);
    EXPECT_FALSE(fs::exists(folder + "/2024/old.jpg.part.AAAAAA"));
    EXPECT_TRUE(fs::exists(folder + "/fresh.jpg.part.BBBBBB"));
    EXPECT_TRUE(fs::exists(folder + "/2024/old.jpg"));
    EXPECT_EQ(RemoveStalePartFiles(ws.folder() + "data/none", now), 0);
}

}  // namespace
}  // namespace tarvex::collect

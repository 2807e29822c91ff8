#include "platform/run_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "platform/utf8.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
namespace fs = std::filesystem;

namespace {
std::vector<std::string> logFiles(const std::string& folder) {
    std::vector<std::string> out;
    if (!fs::exists(folder)) return out;
    for (auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
    return out;
}
}  // namespace

TEST(RunLog, FileNameAndLineFormatFollowTheStartTime) {
    test::SandboxWorkspace ws({.withLog = true});
    test::ManualClock clock(test::ManualClock::local(2026, 1, 9, 14, 3, 22));
    platform::RunLog log;
    log.init(ws.folder(), true, true, clock);
    log.write("窗口初始化完成", 0);
    log.write("TMyThread: 列表采集结束===========\r\r", 1);
    EXPECT_EQ(log.filePath(), ws.path("log/01-09-14-03-22.log"));
    std::string text = ws.readFile("log/01-09-14-03-22.log");
    std::string tid = std::to_string(::gettid());
    EXPECT_EQ(text, "0109 14:03:22," + tid + ", 窗口初始化完成\n0109 14:03:22," + tid +
                        ", TMyThread: 列表采集结束===========\r\r\n");

    // A second start in the same second appends to the same file.
    platform::RunLog again;
    again.init(ws.folder(), true, true, clock);
    again.write("second", 0);
    EXPECT_NE(ws.readFile("log/01-09-14-03-22.log").find(", second\n"), std::string::npos);
}

TEST(RunLog, SwitchesDecideWhatIsWritten) {
    test::SandboxWorkspace ws({.withLog = true});
    test::ManualClock clock(test::ManualClock::local(2026, 3, 1, 8, 0, 0));
    platform::RunLog off;
    off.init(ws.folder(), false, false, clock);
    off.write("nothing", 0);
    off.write("nothing", 1);
    EXPECT_TRUE(logFiles(ws.path("log")).empty());

    platform::RunLog normalOnly;
    normalOnly.init(ws.folder(), true, false, clock);
    normalOnly.write("normal", 0);
    normalOnly.write("detail", 1);
    std::string text = ws.readFile("log/03-01-08-00-00.log");
    EXPECT_NE(text.find("normal"), std::string::npos);
    EXPECT_EQ(text.find("detail"), std::string::npos);
}

TEST(RunLog, LinesOfManyThreadsNeverInterleave) {
    test::SandboxWorkspace ws({.withLog = true});
    platform::RunLog log;
    log.init(ws.folder(), true, true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) log.write("T" + std::to_string(t) + "|" + std::string(100, 'a' + t), 0);
        });
    for (auto& th : threads) th.join();
    std::istringstream in(test::readWholeFile(log.filePath()));
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        ++n;
        auto bar = line.find('|');
        ASSERT_NE(bar, std::string::npos) << line;
        char c = line[bar + 1];
        EXPECT_EQ(line.substr(bar + 1), std::string(100, c)) << line;
    }
    EXPECT_EQ(n, 800);
}

TEST(RunLog, AFileDeletedWhileTheProgramRunsIsCreatedAgain) {
    test::SandboxWorkspace ws({.withLog = true});
    test::ManualClock clock(test::ManualClock::local(2026, 2, 2, 9, 0, 0));
    platform::RunLog log;
    log.init(ws.folder(), true, true, clock);
    log.write("first", 0);
    ASSERT_NE(test::readWholeFile(log.filePath()).find(", first\n"), std::string::npos);
    fs::remove(log.filePath());
    // Looked at once a second: the next second's first line creates the file again.
    clock.advance(std::chrono::seconds(1));
    log.write("second", 0);
    std::string text = test::readWholeFile(log.filePath());
    EXPECT_EQ(text.find("first"), std::string::npos);
    EXPECT_NE(text.find(", second\n"), std::string::npos);
    // Lines written while another program appends keep their order and stay whole.
    { std::ofstream(log.filePath(), std::ios::app) << "外部\n"; }
    log.write("third", 0);
    text = test::readWholeFile(log.filePath());
    EXPECT_LT(text.find("外部\n"), text.find(", third\n"));
}

TEST(RunLog, ClosingWhileOtherThreadsWriteLosesNoHalfLines) {
    // Writers check the switches without the lock; close() flips them under it (checked for
    // data races by the thread-sanitizer build).
    test::SandboxWorkspace ws({.withLog = true});
    platform::RunLog log;
    log.init(ws.folder(), true, true);
    std::atomic<bool> go{true};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; go && i < 5000; ++i) log.write("W" + std::to_string(t) + "|" + std::string(50, 'x'), i % 2);
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    log.close();
    go = false;
    for (auto& w : writers) w.join();
    log.write("after close", 0);
    std::istringstream in(test::readWholeFile(log.filePath()));
    std::string line;
    while (std::getline(in, line)) ASSERT_EQ(line.substr(line.find('|') + 1), std::string(50, 'x')) << line;
    EXPECT_EQ(test::readWholeFile(log.filePath()).find("after close"), std::string::npos);
}

TEST(RunLog, FailedWriteIsReportedAndTheNextWriteTriesAgain) {
    if (::geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
    test::SandboxWorkspace ws({.withLog = true});
    test::ScriptedDialogs dialogs;
    platform::RunLog log;
    log.setDialogs(&dialogs);
    log.init(ws.folder(), true, true);
    ::chmod(ws.path("log").c_str(), 0555);
    log.write("lost", 0);
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].rfind("日志写入错误", 0), 0u);
    ::chmod(ws.path("log").c_str(), 0755);
    log.write("kept", 0);
    EXPECT_NE(test::readWholeFile(log.filePath()).find("kept"), std::string::npos);
}

TEST(RunLog, UnwritableLogFileIsReportedNotFatal) {
    // Works as root too: a folder where the log file should be cannot be opened as a file.
    test::SandboxWorkspace ws({.withLog = true});
    test::ScriptedDialogs dialogs;
    test::ManualClock clock(test::ManualClock::local(2026, 5, 5, 5, 5, 5));
    platform::RunLog log;
    log.setDialogs(&dialogs);
    log.init(ws.folder(), true, true, clock);
    ws.makeDir("log/05-05-05-05-05.log");
    log.write("lost", 0);
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].rfind("日志写入错误", 0), 0u);
}

// Inside a batch detail lines wait for the next normal line, a new second, 64 KB or the end of
// the last open batch; normal lines and lines outside a batch go out at once; nothing is lost
// or reordered.
TEST(RunLog, ABatchWritesDetailLinesTogetherAndInOrder) {
    test::SandboxWorkspace ws({.withLog = true});
    test::ManualClock clock(test::ManualClock::local(2026, 4, 1, 10, 0, 0));
    platform::RunLog log;
    log.init(ws.folder(), true, true, clock);
    auto text = [&] { return fs::exists(log.filePath()) ? test::readWholeFile(log.filePath()) : std::string(); };
    auto order = [&](const std::vector<std::string>& words) {
        const std::string t = text();
        std::size_t at = 0;
        for (const auto& w : words) {
            const std::size_t next = t.find(", " + w + "\n", at);
            if (next == std::string::npos) return false;
            at = next;
        }
        return true;
    };
    log.write("start", 0);
    {
        platform::LogBatch batch(log);
        log.write("d1", 1);
        log.write("d2", 1);
        EXPECT_EQ(text().find("d1"), std::string::npos);
        log.write("n1", 0);
        EXPECT_TRUE(order({"start", "d1", "d2", "n1"})) << text();
        log.write("d3", 1);
        {
            platform::LogBatch inner(log);
            log.write("d4", 1);
        }
        EXPECT_EQ(text().find("d3"), std::string::npos) << "the outer batch is still open";
        clock.advance(std::chrono::seconds(1));
        log.write("d5", 1);
        EXPECT_TRUE(order({"n1", "d3", "d4", "d5"})) << text();
        const std::string long100(100, 'x');
        for (int i = 0; i < 700; ++i) log.write(long100, 1);
        EXPECT_GT(text().size(), 64u * 1024) << "64 KB go out without waiting";
        log.write("d6", 1);
    }
    EXPECT_TRUE(order({"d5", "d6"})) << "the batch's end writes the rest";
    log.write("d7", 1);
    EXPECT_TRUE(order({"d6", "d7"})) << "outside a batch a detail line goes out at once";
    {
        platform::LogBatch batch(log);
        log.write("d8", 1);
        log.close();
        EXPECT_TRUE(order({"d7", "d8"})) << "closing the log writes what a batch holds";
    }
}

TEST(RunLog, BatchesOfManyThreadsKeepEveryLineWholeAndInItsOrder) {
    test::SandboxWorkspace ws({.withLog = true});
    platform::RunLog log;
    log.init(ws.folder(), true, true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int row = 0; row < 20; ++row) {
                platform::LogBatch batch(log);
                for (int i = 0; i < 50; ++i)
                    log.write(
                        "T" + std::to_string(t) + "|" + std::to_string(row * 50 + i) + "|" + std::string(80, 'a' + t),
                        i % 10 == 0 ? 0 : 1);
            }
        });
    for (auto& th : threads) th.join();
    std::istringstream in(test::readWholeFile(log.filePath()));
    std::string line;
    std::map<char, int> last{{'0', -1}, {'1', -1}, {'2', -1}, {'3', -1}};
    int n = 0;
    while (std::getline(in, line)) {
        ++n;
        const auto bar = line.find('|');
        ASSERT_NE(bar, std::string::npos) << line;
        const char thread = line[bar - 1];
        const auto second = line.find('|', bar + 1);
        ASSERT_NE(second, std::string::npos) << line;
        const int seq = std::stoi(line.substr(bar + 1, second - bar - 1));
        EXPECT_EQ(seq, last[thread] + 1) << line;
        last[thread] = seq;
        EXPECT_EQ(line.substr(second + 1), std::string(80, 'a' + (thread - '0'))) << line;
    }
    EXPECT_EQ(n, 4000);
}

TEST(AccessLog, EntriesAppendUnderOneByteOrderMark) {
    test::SandboxWorkspace ws;
    test::ManualClock clock(test::ManualClock::local(2026, 12, 9, 22, 1, 2));
    platform::RunLog log;
    log.init(ws.folder(), false, false, clock);
    log.writeAccess("测试页面\r\n=====\r\n<html>一</html>");
    clock.advance(std::chrono::seconds(1));
    log.writeAccess("second");
    std::string text = ws.readFile(platform::kAccessLogName);
    ASSERT_EQ(text.substr(0, 3), std::string(platform::utf8::kBom));
    EXPECT_EQ(text.find(platform::utf8::kBom, 3), std::string::npos);
    EXPECT_EQ(text.substr(3), "12-09 22:01:02, 测试页面\r\n=====\r\n<html>一</html>\r\n12-09 22:01:03, second\r\n");
}

// A log that was never given a program folder writes no access log into the current folder.
TEST(AccessLog, NothingIsWrittenBeforeTheProgramFolderIsKnown) {
    test::SandboxWorkspace ws;
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(ws.folder());
    platform::RunLog log;
    log.writeAccess("page");
    std::filesystem::current_path(before);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(ws.folder()) / platform::kAccessLogName));
}

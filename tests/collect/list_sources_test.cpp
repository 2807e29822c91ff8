#include "collect/list_sources.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <future>
#include <nlohmann/json.hpp>

#include "collect/task_db.h"
#include "support/fakes.h"
#include "support/sandbox_workspace.h"

using namespace tarvex;
using namespace tarvex::collect;

namespace {
std::string listSettings(const std::vector<std::string>& entries, const std::string& begin = "",
                         const std::string& end = "") {
    nlohmann::json j{{"More_urls", entries}, {"More_begin", begin}, {"More_end", end}};
    return j.dump();
}
std::vector<std::string> expand(const std::vector<std::string>& entries, const std::string& folder = "/",
                                std::vector<std::string>* warnings = nullptr) {
    return SplitLines(ListSources(listSettings(entries), folder, warnings));
}
}  // namespace

TEST(ListSources, ComposesRangesInBothDirections) {
    const std::string t = "列表合成=http://h/list_{参数}.html[,]";
    struct Case {
        std::string range;
        std::vector<std::string> numbers;
    } cases[] = {
        {"1,5,2", {"1", "3", "5"}}, {"5,1,2", {"5", "3", "1"}},    {"7,7,1", {"7"}},
        {"1,4,3", {"1", "4"}},      {"-2,0,1", {"-2", "-1", "0"}}, {"1,6,2", {"1", "3", "5"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> want;
        for (const auto& n : c.numbers) want.push_back("http://h/list_" + n + ".html");
        EXPECT_EQ(expand({t + c.range}), want) << c.range;
    }
}

TEST(ListSources, CommasInsideTheTemplateDoNoHarm) {
    EXPECT_EQ(expand({"列表合成=http://h/a,b?p={参数}[,]1,2,1"}),
              (std::vector<std::string>{"http://h/a,b?p=1", "http://h/a,b?p=2"}));
}

TEST(ListSources, BadStepsAndNumbersNeverLoopOrCrash) {
    std::vector<std::string> warnings;
    auto zero = expand({"列表合成=http://h/{参数}[,]1,3,0"}, "/", &warnings);
    EXPECT_EQ(zero, (std::vector<std::string>{"http://h/1", "http://h/2", "http://h/3"}));
    EXPECT_FALSE(warnings.empty());
    auto negative = expand({"列表合成=http://h/{参数}[,]3,1,-1"});
    EXPECT_EQ(negative, (std::vector<std::string>{"http://h/3", "http://h/2", "http://h/1"}));
    EXPECT_TRUE(expand({"列表合成=http://h/{参数}[,]a,3,1"}).empty());
    EXPECT_TRUE(expand({"列表合成=http://h/{参数}1,3,1"}).empty());  // no "[,]"
    warnings.clear();
    auto huge = expand({"列表合成=http://h/{参数}[,]1,999999999999,1"}, "/", &warnings);
    EXPECT_EQ(huge.size(), static_cast<std::size_t>(kMaxComposedAddresses));
    EXPECT_FALSE(warnings.empty());
}

TEST(ListSources, ComposingNearTheLimitsOfItsNumbersStopsBeforeOverflow) {
    const std::string t = "列表合成=http://h/{参数}[,]";
    struct Case {
        std::string range;
        std::vector<std::string> numbers;  // empty: the entry is skipped with a message
    } cases[] = {
        {"9223372036854775805,9223372036854775807,1",
         {"9223372036854775805", "9223372036854775806", "9223372036854775807"}},
        {"9223372036854775805,9223372036854775807,2", {"9223372036854775805", "9223372036854775807"}},
        {"9223372036854775800,9223372036854775807,5", {"9223372036854775800", "9223372036854775805"}},
        {"0,9223372036854775807,9223372036854775807", {"0", "9223372036854775807"}},
        {"-9223372036854775806,-9223372036854775808,1",
         {"-9223372036854775806", "-9223372036854775807", "-9223372036854775808"}},
        {"-9223372036854775806,-9223372036854775808,5", {"-9223372036854775806"}},
        {"9223372036854775808,9223372036854775809,1", {}},
        {"1,3,99999999999999999999", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range);
        std::vector<std::string> warnings;
        std::vector<std::string> want;
        for (const auto& n : c.numbers) want.push_back("http://h/" + n);
        EXPECT_EQ(expand({t + c.range}, "/", &warnings), want);
        if (c.numbers.empty()) EXPECT_EQ(warnings, std::vector<std::string>{"列表合成数值错误：" + t + c.range});
    }
}

TEST(ListSources, ImportsOnlyRegularFilesOfBoundedSizeAndNeverBlocks) {
    test::SandboxWorkspace ws;
    ws.makeDir("lists");
    ASSERT_EQ(::mkfifo(ws.path("lists/fifo.txt").c_str(), 0644), 0);
    std::vector<std::string> warnings;
    auto expanded = std::async(std::launch::async, [&] {
        return expand({"文本导入=lists/fifo.txt", "文本导入=/dev/zero", "文本导入=lists", "http://h/ok"}, ws.folder(),
                      &warnings);
    });
    if (expanded.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Unblock a reader stuck in open() so the test can end, then fail.
        int fd = ::open(ws.path("lists/fifo.txt").c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        FAIL() << "reading a FIFO blocked";
    }
    EXPECT_EQ(expanded.get(), std::vector<std::string>{"http://h/ok"});
    EXPECT_EQ(warnings, (std::vector<std::string>{"文本导入不是普通文件，已跳过：" + ws.path("lists/fifo.txt"),
                                                  "文本导入不是普通文件，已跳过：/dev/zero",
                                                  "文本导入不是普通文件，已跳过：" + ws.path("lists")}));

    ws.writeFile("lists/big.txt", "http://h/1\nhttp://h/2\n");
    auto big = ReadListFile(ws.path("lists/big.txt"), 10);
    EXPECT_FALSE(big);
    EXPECT_EQ(big.error(), "文本导入文件超过10字节，已跳过：" + ws.path("lists/big.txt"));
    auto fits = ReadListFile(ws.path("lists/big.txt"), 22);
    ASSERT_TRUE(fits);
    EXPECT_EQ(*fits, "http://h/1\nhttp://h/2\n");
}

TEST(ListSources, ImportsCleanedLinesAndRemovesDuplicatesInOrder) {
    test::SandboxWorkspace ws;
    ws.writeFile("lists/列表网址.txt",
                 "\xEF\xBB\xBF  http://h/b  \r\n\r\n\thttp://h/\tc\r\n   \nnot-an-address\nhttp://h/a\n");
    auto got = expand({"http://h/a", "文本导入=lists/列表网址.txt", "http://h/a", "文本导入=" + ws.path("missing.txt"),
                       "ftp://ignored", "列表合成=http://h/x[,]1,3,1"},
                      ws.folder());
    EXPECT_EQ(got,
              (std::vector<std::string>{"http://h/a", "http://h/b", "http://h/c", "not-an-address", "http://h/x"}));
    EXPECT_EQ(ListSources("not json", "/"), "");
    EXPECT_EQ(ListSources("", "/"), "");
    EXPECT_EQ(ListSources(R"({"More_urls":"x"})", "/"), "");
}

TEST(ListSources, DirectModeWhenTheListAreaIsIncomplete) {
    EXPECT_TRUE(IsDirectMode(""));
    EXPECT_TRUE(IsDirectMode(listSettings({}, "<ul>", "")));
    EXPECT_TRUE(IsDirectMode(listSettings({}, "", "</ul>")));
    EXPECT_FALSE(IsDirectMode(listSettings({}, "<ul>", "</ul>")));
}

TEST(DirectInsert, BatchesOfAThousandSkipKnownAddresses) {
    test::SandboxWorkspace ws;
    test::ScriptedDialogs dialogs;
    test::RecordingSlotView view;
    RunContext run;
    run.dbPath = ws.path("data/3.db3");
    run.slot = 2;
    run.view = &view;
    std::mutex lock;
    run.slotDbLock = &lock;
    ASSERT_TRUE(CreateTaskDb(run.dbPath, dialogs));
    CreateContentTables(run.dbPath, "{}");
    execScript(run.dbPath, sql::InsertDirectAddress("http://h/7"));
    EXPECT_EQ(LoadKnownUrls(run), 1u);

    std::vector<std::string> urls;
    for (int i = 0; i < 2500; ++i) urls.push_back("http://h/" + std::to_string(i));
    urls.push_back("http://h/0");         // a duplicate within the list
    urls.push_back("http://h/it's,odd");  // quote and comma in an address
    int inserted = InsertDirectAddresses(run, urls, 0);
    EXPECT_EQ(inserted, 2500);  // 2500 + odd - already known 7
    auto count = query(run.dbPath, "select count(*) as n from content").text(0, "n");
    EXPECT_EQ(count, "2501");
    EXPECT_EQ(query(run.dbPath, "select count(*) as n from content where url='http://h/it''s,odd'").text(0, "n"), "1");
    auto lines = view.paneLines(2);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "采集列表进度：(1000/2502),成功采集网址数999");
    EXPECT_EQ(lines[2], "采集列表进度：(2502/2502),成功采集网址数2500");

    // A second run inserts nothing.
    RunContext again;
    again.dbPath = run.dbPath;
    LoadKnownUrls(again);
    EXPECT_EQ(InsertDirectAddresses(again, urls, 0), 0);
}

TEST(DirectInsert, RefusedAddressesAreFailuresNotInsertions) {
    test::SandboxWorkspace ws;
    test::ScriptedDialogs dialogs;
    test::RecordingSlotView view;
    RunContext run;
    run.dbPath = ws.path("data/5.db3");
    run.view = &view;
    ASSERT_TRUE(CreateTaskDb(run.dbPath, dialogs));
    execScript(run.dbPath,
               "CREATE TABLE content(id INTEGER PRIMARY KEY, url TEXT CHECK(url NOT LIKE '%bad%'), geturl INTEGER, "
               "getc INTEGER, postc INTEGER)");
    LoadKnownUrls(run);
    EXPECT_EQ(InsertDirectAddresses(run, {"http://h/1", "http://h/bad", "http://h/2"}, 0), 2);
    EXPECT_EQ(query(run.dbPath, "select group_concat(url) as u from content").text(0, "u"), "http://h/1,http://h/2");
    EXPECT_EQ(run.counters->listInserted.load(), 2);
    EXPECT_EQ(run.counters->listFailed.load(), 1);
    EXPECT_EQ(view.paneLines(1).back(), "采集列表进度：(3/3),成功采集网址数2");
    // The refused address stays known for the rest of the run.
    EXPECT_EQ(InsertDirectAddresses(run, {"http://h/bad"}, 0), 0);
    EXPECT_EQ(run.counters->listFailed.load(), 1);
}

TEST(DirectInsert, StopEndsBeforeTheNextBatch) {
    test::SandboxWorkspace ws;
    test::ScriptedDialogs dialogs;
    RunContext run;
    run.dbPath = ws.path("data/4.db3");
    ASSERT_TRUE(CreateTaskDb(run.dbPath, dialogs));
    CreateContentTables(run.dbPath, "{}");
    run.readRunState = [] { return std::string("3"); };
    EXPECT_EQ(InsertDirectAddresses(run, {"http://h/1"}, 0), 0);
    EXPECT_EQ(query(run.dbPath, "select count(*) as n from content").text(0, "n"), "0");
}

// Stores committed together: every worker learns its own outcome, and a record whose
// statements fail is undone alone, whatever else shares its commit.
#include "collect/group_commit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "collect/task_db.h"
#include "platform/sqlite_db.h"
#include "support/sandbox_workspace.h"

namespace tarvex::collect {
namespace {

TEST(GroupCommit, EachRecordIsStoredOrUndoneOnItsOwn) {
    test::SandboxWorkspace ws;
    const std::string db = ws.path("data/1.db3");
    platform::SqliteConnection(db).exec("create table t(id integer primary key, v text not null)");
    std::mutex slot;
    constexpr int kWorkers = 12;
    std::vector<std::string> results(kWorkers);
    std::vector<std::thread> workers;
    for (int i = 0; i < kWorkers; ++i) {
        workers.emplace_back([&, i] {
            // Every third record has a second statement that fails: its first must not stay.
            std::string statements = "insert into t values (" + std::to_string(i) + ",'ok')";
            if (i % 3 == 2) statements += ";insert into t values (" + std::to_string(100 + i) + ",null)";
            results[static_cast<std::size_t>(i)] = GroupCommit::forDatabase(db).run(statements, &slot).result;
        });
    }
    for (auto& w : workers) w.join();
    std::size_t failed = 0;
    for (int i = 0; i < kWorkers; ++i) {
        const bool bad = i % 3 == 2;
        EXPECT_EQ(results[static_cast<std::size_t>(i)].rfind(bad ? "fail|" : "succ|", 0), 0u) << i;
        failed += bad;
        EXPECT_EQ(query(db, "select count(*) as n from t where id=" + std::to_string(i)).text(0, "n"), bad ? "0" : "1");
    }
    EXPECT_EQ(query(db, "select count(*) as n from t").text(0, "n"), std::to_string(kWorkers - failed));
}

TEST(GroupCommit, ALockedDatabaseIsWaitedForWithoutTheSlotLock) {
    test::SandboxWorkspace ws;
    const std::string db = ws.path("data/2.db3");
    platform::SqliteConnection(db).exec("create table t(id integer primary key, v text)");
    platform::SqliteConnection other(db);
    other.exec("BEGIN EXCLUSIVE");
    std::mutex slot;
    std::atomic<bool> done{false};
    GroupCommit::Outcome outcome;
    std::thread worker([&] {
        outcome = GroupCommit::forDatabase(db).run(
            "", {BoundSql{"insert into t values (1, ?)", {platform::SqlValue::of("x")}}}, &slot);
        done = true;
    });
    // While the store waits for the database, the slot's runner and other workers get the lock.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_FALSE(done.load());
    const auto asked = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> g(slot);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(500));
    }
    other.exec("ROLLBACK");
    worker.join();
    EXPECT_EQ(outcome.result, "succ|");
    EXPECT_EQ(query(db, "select v from t where id=1").text(0, "v"), "x");
}

TEST(GroupCommit, AFileThatCannotBeOpenedIsToldApart) {
    test::SandboxWorkspace ws;
    auto outcome = GroupCommit::forDatabase(ws.path("data/none.db3")).run("select 1", nullptr);
    EXPECT_FALSE(outcome.opened);
    EXPECT_FALSE(outcome.result.empty());
}

}  // namespace
}  // namespace tarvex::collect

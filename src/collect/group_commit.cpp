#include "collect/group_commit.h"

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <thread>
#include <vector>

#include "collect/task_db.h"
#include "platform/sqlite_db.h"

namespace tarvex::collect {

struct GroupCommit::Pending {
    std::string statements;
    std::vector<BoundSql> bound;
    Outcome outcome;
    bool done = false;
};

struct GroupCommit::State {
    std::condition_variable changed;
    std::vector<std::shared_ptr<Pending>> waiting;
    bool committing = false;
};

GroupCommit::GroupCommit(std::string path) : m_path(std::move(path)), m_state(std::make_unique<State>()) {}

GroupCommit& GroupCommit::forDatabase(const std::string& path) {
    static std::mutex lock;
    static std::map<std::string, std::unique_ptr<GroupCommit>> all;
    std::lock_guard<std::mutex> g(lock);
    auto& slot = all[path];
    if (!slot) slot.reset(new GroupCommit(path));
    return *slot;
}

GroupCommit::Outcome GroupCommit::run(const std::string& statements, std::mutex* slotLock) {
    return run(statements, {}, slotLock);
}

GroupCommit::Outcome GroupCommit::run(const std::string& script, const std::vector<BoundSql>& bound,
                                      std::mutex* slotLock) {
    auto mine = std::make_shared<Pending>();
    mine->statements = script;
    mine->bound = bound;
    std::unique_lock<std::mutex> g(m_lock);
    m_state->waiting.push_back(mine);
    while (!mine->done) {
        if (m_state->committing) {
            m_state->changed.wait(g);
            continue;
        }
        m_state->committing = true;
        auto batch = std::move(m_state->waiting);
        m_state->waiting.clear();
        g.unlock();
        commit(batch, slotLock);
        g.lock();
        m_state->committing = false;
        m_state->changed.notify_all();
    }
    return mine->outcome;
}

void GroupCommit::commit(std::vector<std::shared_ptr<Pending>>& batch, std::mutex* slotLock) {
    auto finish = [&](bool opened, const std::string& result) {
        for (auto& p : batch) {
            if (p->done) continue;
            p->outcome = {opened, result};
            p->done = true;
        }
    };
    std::unique_ptr<platform::SqliteConnection> db;
    try {
        // No busy wait of its own: the write lock is waited for below, without the slot lock.
        db = std::make_unique<platform::SqliteConnection>(m_path, platform::SqliteConnection::Mode::ReadWrite, 0);
        RelaxCommitSync(*db);
    } catch (const std::exception& e) {
        finish(false, e.what());
        return;
    }
    // Taking the write lock first makes a busy database fail the batch at once, not once per
    // record. While another connection holds the file the slot lock is let go between tries.
    std::unique_lock<std::mutex> slot;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyWaitMs);
    for (;;) {
        if (slotLock) slot = std::unique_lock<std::mutex>(*slotLock);
        try {
            db->exec("BEGIN IMMEDIATE");
            break;
        } catch (const platform::SqliteError& e) {
            if (slot.owns_lock()) slot.unlock();
            if (!e.isBusy() || std::chrono::steady_clock::now() >= until) {
                finish(true, std::string("fail|") + e.what());
                return;
            }
        } catch (const std::exception& e) {
            finish(true, std::string("fail|") + e.what());
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Readers may still hold the file for a moment when the commit needs it alone.
    sqlite3_busy_timeout(db->handle(), kBusyWaitMs);
    std::vector<std::shared_ptr<Pending>> stored;
    for (auto& p : batch) {
        try {
            db->exec("SAVEPOINT record");
        } catch (const std::exception& e) {
            p->outcome = {true, std::string("fail|") + e.what()};
            p->done = true;
            continue;
        }
        try {
            if (!p->statements.empty()) db->exec(p->statements);
            for (const auto& b : p->bound) runBound(*db, b);
            db->exec("RELEASE record");
            stored.push_back(p);
        } catch (const std::exception& e) {
            p->outcome = {true, std::string("fail|") + e.what()};
            p->done = true;
            try {
                db->exec("ROLLBACK TO record");
                db->exec("RELEASE record");
            } catch (...) {
            }
        }
    }
    try {
        db->exec("COMMIT");
        for (auto& p : stored) {
            p->outcome = {true, "succ|"};
            p->done = true;
        }
    } catch (const std::exception& e) {
        // Nothing of the batch was stored; the connection's end rolls it back.
        finish(true, std::string("fail|") + e.what());
    }
}

}  // namespace tarvex::collect

#include "collect/group_commit.h"

#include <condition_variable>
#include <map>
#include <vector>

#include "collect/task_db.h"
#include "platform/sqlite_db.h"

namespace tarvex::collect {

struct GroupCommit::Pending {
    std::string statements;
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
    auto mine = std::make_shared<Pending>();
    mine->statements = statements;
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
    std::unique_lock<std::mutex> slot;
    if (slotLock) slot = std::unique_lock<std::mutex>(*slotLock);
    std::unique_ptr<platform::SqliteConnection> db;
    try {
        db = std::make_unique<platform::SqliteConnection>(m_path, platform::SqliteConnection::Mode::ReadWrite);
        RelaxCommitSync(*db);
    } catch (const std::exception& e) {
        finish(false, e.what());
        return;
    }
    try {
        // Taking the write lock first makes a busy database fail the batch at once, not once
        // per record after each has waited its busy time-out.
        db->exec("BEGIN IMMEDIATE");
    } catch (const std::exception& e) {
        finish(true, std::string("fail|") + e.what());
        return;
    }
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
            db->exec(p->statements);
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

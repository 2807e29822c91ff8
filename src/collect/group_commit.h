#pragma once
// Stores of the content workers of one task database committed together. A worker hands its
// statements in and waits; whoever finds no commit under way commits everything waiting at
// that moment in one transaction, each worker's statements in a savepoint of their own. So a
// disk that takes tens of milliseconds per sync syncs once for several records, and one
// record whose statements fail is undone alone. Thread-safe; one instance per database file.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "collect/task_db.h"

namespace tarvex::collect {

class GroupCommit {
public:
    // The instance of a database file (by its path as given); lives as long as the process.
    static GroupCommit& forDatabase(const std::string& path);

    struct [[nodiscard]] Outcome {
        bool opened = true;  // false: the file could not be opened (`result` holds the message)
        std::string result;  // "succ|", or "fail|" + SQLite's message, as tryExecScript answers
    };
    // Runs `statements` (one or more, separated by ";", no transaction of their own) and
    // returns once they are committed or undone. `slotLock` (may be null) is held around the
    // commit, as around every write of a run.
    Outcome run(const std::string& statements, std::mutex* slotLock);
    // The same for statements with bound values, run in order after `script` (may be "").
    Outcome run(const std::string& script, const std::vector<BoundSql>& bound, std::mutex* slotLock);

    // How long a commit waits for a database another connection holds. The wait happens
    // without the slot lock, so the slot's other workers and its runner go on meanwhile.
    static constexpr int kBusyWaitMs = 2000;

private:
    explicit GroupCommit(std::string path);
    struct Pending;
    void commit(std::vector<std::shared_ptr<Pending>>& batch, std::mutex* slotLock);

    std::string m_path;
    std::mutex m_lock;
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace tarvex::collect

#pragma once
// Owner of the program's background threads (runners, content workers, the scheduler, the
// single-page thread). A thread body never lets an exception out: the registry catches, logs
// and goes on. Tests and tarvex-cli wait for all threads to end; the GUI does not wait at exit.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>

namespace tarvex::app {

class ThreadRegistry {
public:
    static ThreadRegistry& global();
    ThreadRegistry() = default;
    ~ThreadRegistry();  // joins what has ended, detaches the rest (exit does not wait for runs)
    ThreadRegistry(const ThreadRegistry&) = delete;
    ThreadRegistry& operator=(const ThreadRegistry&) = delete;

    // Starts fn on a new thread; `name` appears in the log if fn throws.
    void spawn(const std::string& name, std::function<void()> fn);
    std::size_t running() const;
    // Waits until no thread runs or the time-out passes; true when all ended.
    bool waitAll(std::chrono::milliseconds timeout);

private:
    struct Entry {
        std::thread thread;
        bool done = false;
    };
    void reapLocked();

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::list<Entry> m_threads;
};

}  // namespace tarvex::app

#include "app/workspace/thread_registry.h"

#include "platform/run_log.h"

namespace tarvex::app {

ThreadRegistry& ThreadRegistry::global() {
    // Never destroyed: threads still running at exit must not find their registry gone.
    static auto* registry = new ThreadRegistry;
    return *registry;
}

ThreadRegistry::~ThreadRegistry() {
    std::lock_guard<std::mutex> g(m_lock);
    for (auto& e : m_threads) {
        if (!e.thread.joinable()) continue;
        if (e.done)
            e.thread.join();
        else
            e.thread.detach();
    }
}

void ThreadRegistry::reapLocked() {
    for (auto it = m_threads.begin(); it != m_threads.end();) {
        if (it->done) {
            if (it->thread.joinable()) it->thread.join();
            it = m_threads.erase(it);
        } else {
            ++it;
        }
    }
}

void ThreadRegistry::spawn(const std::string& name, std::function<void()> fn) {
    std::lock_guard<std::mutex> g(m_lock);
    reapLocked();
    m_threads.emplace_back();
    Entry* entry = &m_threads.back();
    entry->thread = std::thread([this, entry, name, fn = std::move(fn)] {
        try {
            fn();
        } catch (const std::exception& e) {
            platform::WriteLog(name + "|线程异常结束:" + e.what(), 0);
        } catch (...) {
            platform::WriteLog(name + "|线程异常结束", 0);
        }
        std::lock_guard<std::mutex> g2(m_lock);
        entry->done = true;
        m_changed.notify_all();
    });
}

std::size_t ThreadRegistry::running() const {
    std::lock_guard<std::mutex> g(m_lock);
    std::size_t n = 0;
    for (const auto& e : m_threads)
        if (!e.done) ++n;
    return n;
}

bool ThreadRegistry::waitAll(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> g(m_lock);
    bool all = m_changed.wait_for(g, timeout, [this] {
        for (const auto& e : m_threads)
            if (!e.done) return false;
        return true;
    });
    reapLocked();
    return all;
}

}  // namespace tarvex::app

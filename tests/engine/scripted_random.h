#pragma once
// A random source that answers from a script, for tests that need fixed draws.
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/random_source.h"

namespace tarvex::test {

// Returns the scripted values in turn (cycling), clamped into the asked range, and records
// every range it was asked for.
class ScriptedRandom final : public engine::RandomSource {
public:
    explicit ScriptedRandom(std::vector<std::int64_t> values) : m_values(std::move(values)) {}
    std::int64_t uniform(std::int64_t lo, std::int64_t hi) override {
        std::lock_guard lock(m_lock);
        m_asked.emplace_back(lo, hi);
        std::int64_t v = m_values.empty() ? lo : m_values[m_next++ % m_values.size()];
        return v < lo ? lo : (v > hi ? hi : v);
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> asked() const {
        std::lock_guard lock(m_lock);
        return m_asked;
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::int64_t> m_values;
    std::size_t m_next = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> m_asked;
};

}  // namespace tarvex::test

#include "engine/random_source.h"

#include <random>

namespace tarvex::engine {
namespace {

class ThreadLocalRandom final : public RandomSource {
public:
    std::int64_t uniform(std::int64_t lo, std::int64_t hi) override {
        // One generator per thread: workers draw at the same time without a lock.
        thread_local std::mt19937_64 engine{[] {
            std::random_device device;
            std::seed_seq seq{device(), device(), device(), device()};
            return std::mt19937_64(seq);
        }()};
        if (hi <= lo) return lo;
        return std::uniform_int_distribution<std::int64_t>(lo, hi)(engine);
    }
};

}  // namespace

RandomSource& DefaultRandom() {
    static ThreadLocalRandom random;
    return random;
}

}  // namespace tarvex::engine

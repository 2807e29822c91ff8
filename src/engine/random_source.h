#pragma once
// The source of random numbers behind random tokens, shuffled lines and random names. Injected
// so tests can fix the draws; the default one is safe to share between threads.
#include <cstdint>

namespace tarvex::engine {

class RandomSource {
public:
    virtual ~RandomSource() = default;
    // A uniformly drawn integer from lo to hi, both inclusive. Callers pass lo <= hi.
    virtual std::int64_t uniform(std::int64_t lo, std::int64_t hi) = 0;
};

// The process-wide default: each thread draws from its own generator, seeded from the
// operating system's entropy on first use, so concurrent callers need no lock.
RandomSource& DefaultRandom();

}  // namespace tarvex::engine

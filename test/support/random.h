// Seeded randomness for tests. Every random test draws from a generator
// seeded with test_seed(): a fixed default, or KLARVEX_TEST_SEED from the
// environment to replay or vary a run. The seed is printed so that a failure
// can be replayed.

#ifndef KLARVEX_TEST_RANDOM_H
#define KLARVEX_TEST_RANDOM_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>

namespace klarvex::test {

inline constexpr std::uint64_t kDefaultSeed = 0x6b6c617276657821ULL;  // "klarvex!"

inline std::uint64_t test_seed() {
    static const std::uint64_t seed = [] {
        std::uint64_t s = kDefaultSeed;
        if (const char* env = std::getenv("KLARVEX_TEST_SEED")) s = std::strtoull(env, nullptr, 0);
        return s;
    }();
    return seed;
}

// A generator for one test, seeded from test_seed() and a per-test salt so
// that tests do not share streams. Prints the seed and records it in the
// test's XML properties.
class Rng {
  public:
    explicit Rng(std::uint64_t salt = 0) : gen_(test_seed() ^ (salt * 0x9e3779b97f4a7c15ULL)) {
        std::printf("[ seed     ] KLARVEX_TEST_SEED=0x%016llx (salt %llu)\n",
                    static_cast<unsigned long long>(test_seed()),
                    static_cast<unsigned long long>(salt));
        ::testing::Test::RecordProperty("seed", std::to_string(test_seed()));
    }
    std::uint32_t u32() { return static_cast<std::uint32_t>(gen_()); }
    std::uint64_t u64() { return gen_(); }
    // Uniform in [0, bound).
    std::uint64_t below(std::uint64_t bound) { return gen_() % bound; }
    std::mt19937_64& engine() { return gen_; }

  private:
    std::mt19937_64 gen_;
};

}  // namespace klarvex::test

#endif  // KLARVEX_TEST_RANDOM_H

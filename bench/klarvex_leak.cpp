// Does the time of a signature depend on secrets? A timing-leak test in the
// manner of dudect (Reparaz, Balasch and Verbauwhede, "Dude, is my code
// constant time?", DATE 2017): signatures of two classes of inputs, the
// classes interleaved at random, each signature timed, and Welch's
// t-statistic of the two classes' times. |t| above 4.5 says that the mean
// times differ: a leak. Below it no leak was detected.
//
// Two pairs of classes, each for ecdsa_sign and for the variable-time
// signing it replaced (test/support/nonce.h), on one fixed 32-byte message:
// - key: a fixed key and srand() seed (so a fixed nonce) against random ones;
// - nibble: nonces whose top four bits (of 128) are zero against the rest,
//   the key and seed drawn at random until the nonce falls in the class.
// The inputs of each class are drawn before the timing starts, a pool of
// them, from which each measurement picks one at random.
// t is computed on all the times and on those below the 50th and 90th
// percentiles of both classes together, as dudect does: the cut drops the
// long times of interrupts and of other processes.
//
//     klarvex_leak [MEASUREMENTS]   (per pair and signer; default 1000000)

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "ecdsa.h"
#include "support/nonce.h"

namespace {

using klarvex::NUM_DIGITS;
using Sign = void (*)(const std::uint8_t*, std::uint16_t, std::uint32_t*, std::uint32_t*,
                      const std::uint32_t*);

struct Input {
    std::uint32_t d[NUM_DIGITS];
    unsigned seed;
};

struct Sample {
    double ns;
    int cls;
};

std::mt19937_64 rng(0x6b6c617276657821ULL);
const std::uint8_t kMsg[32] = "a fixed message of 32 bytes ...";
constexpr std::uint32_t kN[NUM_DIGITS] = {0x0613B5A3, 0xBE002472, 0x7FFFFFFF, 0x3FFFFFFF, 0};

// A key uniform in [1, n - 1] and a seed.
Input random_input() {
    Input in{};
    do {
        for (int i = 0; i < 4; ++i)
            in.d[i] = static_cast<std::uint32_t>(rng());
        in.d[3] &= 0x3FFFFFFF;
    } while (klarvex::NN_Zero(in.d, NUM_DIGITS) || klarvex::NN_Cmp(in.d, kN, NUM_DIGITS) >= 0);
    in.seed = static_cast<unsigned>(rng());
    return in;
}

// kPool inputs of each class of the pair named, drawn before anything is
// timed, so that the work between two signatures is the same for both.
constexpr std::size_t kPool = 1 << 14;

std::vector<Input> make_pool(bool nibble, int cls) {
    static const Input fixed = random_input();
    std::vector<Input> pool;
    while (pool.size() < kPool) {
        const Input in = nibble || cls == 1 ? random_input() : fixed;
        if (nibble) {
            std::uint32_t k[NUM_DIGITS];
            klarvex::test::first_nonce(k, in.seed, in.d, kMsg, sizeof kMsg);
            if ((k[3] >> 28 == 0) != (cls == 0)) continue;
        }
        pool.push_back(in);
    }
    return pool;
}

// Welch's t of the samples below cut.
double welch_t(const std::vector<Sample>& s, double cut) {
    double n[2] = {}, mean[2] = {}, m2[2] = {};
    for (const Sample& x : s) {
        if (x.ns > cut) continue;
        const int c = x.cls;
        n[c] += 1;
        const double delta = x.ns - mean[c];
        mean[c] += delta / n[c];
        m2[c] += delta * (x.ns - mean[c]);
    }
    if (n[0] < 2 || n[1] < 2) return 0;
    const double v0 = m2[0] / (n[0] - 1), v1 = m2[1] / (n[1] - 1);
    return (mean[0] - mean[1]) / std::sqrt(v0 / n[0] + v1 / n[1]);
}

void run(const char* signer, Sign sign, bool nibble, long count) {
    const std::vector<Input> pools[2] = {make_pool(nibble, 0), make_pool(nibble, 1)};
    std::vector<Sample> samples;
    samples.reserve(static_cast<std::size_t>(count));
    std::uint32_t r[NUM_DIGITS], s[NUM_DIGITS];
    for (long i = -count / 100; i < count; ++i) {  // the first 1% warms up
        const auto x = rng();
        const int cls = static_cast<int>(x & 1);
        const Input& in = pools[cls][(x >> 1) % kPool];
        std::srand(in.seed);
        const auto t0 = std::chrono::steady_clock::now();
        sign(kMsg, sizeof kMsg, r, s, in.d);
        const auto t1 = std::chrono::steady_clock::now();
        if (i >= 0)
            samples.push_back({std::chrono::duration<double, std::nano>(t1 - t0).count(), cls});
    }
    std::vector<double> sorted(samples.size());
    std::transform(samples.begin(), samples.end(), sorted.begin(),
                   [](const Sample& x) { return x.ns; });
    std::sort(sorted.begin(), sorted.end());
    const double p50 = sorted[sorted.size() / 2], p90 = sorted[sorted.size() * 9 / 10];
    const double t_all = welch_t(samples, sorted.back()), t_50 = welch_t(samples, p50),
                 t_90 = welch_t(samples, p90);
    const double worst = std::max({std::fabs(t_all), std::fabs(t_50), std::fabs(t_90)});
    std::printf("%-14s %-7s %9ld %9.0f %9.2f %9.2f %9.2f   %s\n", signer, nibble ? "nibble" : "key",
                count, p50, t_all, t_50, t_90, worst > 4.5 ? "LEAK" : "no leak detected");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 1000000;
    if (count < 100) {
        std::fprintf(stderr, "usage: klarvex_leak [MEASUREMENTS >= 100]\n");
        return 2;
    }
    std::printf("%-14s %-7s %9s %9s %9s %9s %9s\n", "signer", "classes", "samples", "median ns",
                "t", "t (p50)", "t (p90)");
    for (const bool nibble : {false, true}) {
        run("constant-time", klarvex::ecdsa_sign, nibble, count);
        run("variable-time", klarvex::test::sign_variable_time, nibble, count);
    }
    return 0;
}

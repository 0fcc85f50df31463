// Shared by the curve and ECDSA tests: the scale of the random case counts,
// numbers of NUM_DIGITS digits, k*G, and random field elements and scalars.

#ifndef KLARVEX_TEST_CURVE_H
#define KLARVEX_TEST_CURVE_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "ecc.h"
#include "random.h"

namespace klarvex::test {

// Release builds run kScale times the random cases of the sanitized debug build.
#ifdef NDEBUG
inline constexpr int kScale = 5;
#else
inline constexpr int kScale = 1;
#endif

using Num = std::array<std::uint32_t, NUM_DIGITS>;

inline Num num(std::uint64_t v) {
    return {static_cast<std::uint32_t>(v), static_cast<std::uint32_t>(v >> 32)};
}

// a in hex, most significant digit first: 32 hex digits, 40 when digit 4 is
// not zero.
inline std::string hex(const Num& a) {
    char buf[48];
    if (a[4] != 0)
        std::snprintf(buf, sizeof buf, "%08x%08x%08x%08x%08x", a[4], a[3], a[2], a[1], a[0]);
    else
        std::snprintf(buf, sizeof buf, "%08x%08x%08x%08x", a[3], a[2], a[1], a[0]);
    return buf;
}

inline const CurveParams& curve_params() {
    static const CurveParams c = [] {
        CurveParams t{};
        get_curve_param(&t);
        return t;
    }();
    return c;
}

inline Point mul_base(const Num& k) {
    Point r;
    ecc_win_mul_base(&r, k.data());
    return r;
}

// Uniform in [1, p - 1].
inline Num random_fe(Rng& rng) {
    for (;;) {
        Num r{rng.u32(), rng.u32(), rng.u32(), rng.u32(), 0};
        if (NN_Cmp(r.data(), curve_params().p, NUM_DIGITS) < 0 && r != Num{}) return r;
    }
}

// Uniform in [0, n).
inline Num random_below_n(Rng& rng) {
    for (;;) {
        Num k{rng.u32(), rng.u32(), rng.u32(), rng.u32() & 0x3FFFFFFF, 0};
        if (NN_Cmp(k.data(), curve_params().order, NUM_DIGITS) < 0) return k;
    }
}

}  // namespace klarvex::test

#endif  // KLARVEX_TEST_CURVE_H

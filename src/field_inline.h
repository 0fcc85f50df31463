// Internal to the library, not part of its interface (not installed): the
// multiplication and squaring modulo p = 2^128 - 2^97 - 1 of secp128r2 on
// 64-bit limbs, shared by the fast path of NN_ModMultOpt / NN_ModSqrOpt in nn
// and the field helpers of ecc, which inline them.
//
// fp_mul and fp_sqr return exactly what NN_ModMultOpt and NN_ModSqrOpt return
// for that p, its omega = 2^97 + 1 and NUM_DIGITS digits. The fold loop of
// those operations leaves 0 for a zero product c and otherwise the value in
// [1, p] congruent to c (each pass of a c >= 2^128 leaves at least omega, so
// a nonzero multiple of p comes out as p); that value is fully determined by
// c, and fp_mul computes it directly.

#ifndef KLARVEX_FIELD_INLINE_H
#define KLARVEX_FIELD_INLINE_H

#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__x86_64__)
#include <x86intrin.h>
#endif

#include "nn.h"

namespace klarvex::field {

using u32 = std::uint32_t;
using u64 = std::uint64_t;
__extension__ typedef unsigned __int128 u128;

// p = 2^128 - 2^97 - 1
inline constexpr u128 kP = (static_cast<u128>(0xFFFFFFFDFFFFFFFF) << 64) | 0xFFFFFFFFFFFFFFFF;

// Digits 2*i and 2*i + 1 of a as one 64-bit word (one load on a
// little-endian machine), and back.
inline u64 ld64(const u32* a) {
    if constexpr (std::endian::native == std::endian::little) {
        u64 v;
        std::memcpy(&v, a, sizeof v);
        return v;
    } else {
        return static_cast<u64>(a[1]) << 32 | a[0];
    }
}
inline void st64(u32* a, u64 v) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(a, &v, sizeof v);
    } else {
        a[0] = static_cast<u32>(v);
        a[1] = static_cast<u32>(v >> 32);
    }
}

// Digits 0..3 of a as one 128-bit word, and back with digit 4 = top.
inline u128 ld128(const u32* a) {
    return static_cast<u128>(ld64(a + 2)) << 64 | ld64(a);
}
inline void st128(u32* a, u128 v, u32 top) {
    st64(a, static_cast<u64>(v));
    st64(a + 2, static_cast<u64>(v >> 64));
    a[4] = top;
}

// r = a + b + c for a carry c of 0 or 1; returns the carry out. An explicit
// carry chain: sums of 128-bit words and zero-extended 64-bit ones compile
// to spills of the zero halves with some compilers.
[[gnu::always_inline]] inline unsigned char adc(unsigned char c, u64 a, u64 b, u64* r) {
#if defined(__x86_64__)
    unsigned long long t;
    c = _addcarry_u64(c, a, b, &t);
    *r = t;
    return c;
#else
    const u64 s = a + c;
    *r = s + b;
    return static_cast<unsigned char>((s < c) | (*r < b));
#endif
}

/*
 * The value in [0, p] congruent to c = c3*2^192 + c2*2^128 + c1*2^64 + c0,
 * 0 only for c = 0. With 2^128 = 2^97 + 1 and 2^192 = 2^99 + 2^64 + 2^33 + 4
 * (mod p), and the parts of c2*2^97 and c3*2^99 at or above 2^128 folded once
 * more, c is congruent to
 *   S = c0 + c2 + (c2 >> 31) + (c3 >> 29) + c3*(2^33 + 4) + (c1 + c3)*2^64 + k*2^97,
 *   k = (c2 mod 2^31) + (c2 >> 31) + 4*(c3 mod 2^29) + (c3 >> 29) < 2^36,
 * a sum of nonnegative terms, below 2^134 and 0 only for c = 0. Its top bits
 * t fold once more: V = s + t*omega (s the low 128 bits) lies in [1, 2^129)
 * for c != 0. The result is V - p when V > p, else V; with W = V + 2^97,
 * V > p exactly when W carries out of 128 bits, and then V - p = W + 1
 * modulo 2^128; otherwise it is W - 2^97.
 */
[[gnu::always_inline]] inline u128 reduce(u64 c0, u64 c1, u64 c2, u64 c3) {
    const u64 c2h = c2 >> 31, c3h = c3 >> 29;
    const u64 k = (c2 & 0x7FFFFFFF) + c2h + ((c3 & 0x1FFFFFFF) << 2) + c3h;
    const u128 m = static_cast<u128>(c3) * 0x200000004;  // c3*(2^33 + 4)
    // S = t*2^128 + s1*2^64 + s0
    u64 s0, s1;
    unsigned char cf = adc(0, c0, c2, &s0);
    cf = adc(cf, c1, c3, &s1);
    u64 t = cf;
    cf = adc(0, s0, static_cast<u64>(m), &s0);
    cf = adc(cf, s1, static_cast<u64>(m >> 64), &s1);
    t += cf;
    cf = adc(0, s0, c2h + c3h, &s0);
    cf = adc(cf, s1, k << 33, &s1);
    t += cf + (k >> 31);
    // W = s + t + (t + 1)*2^97
    u64 w0, w1;
    cf = adc(0, s0, t, &w0);
    cf = adc(cf, s1, (t + 1) << 33, &w1);
    if (cf) {
        cf = adc(0, w0, 1, &w0);
        w1 += cf;
    } else {
        w1 -= u64{1} << 33;
    }
    return static_cast<u128>(w1) << 64 | w0;
}

// fp_mul: r = a*b mod p in [0, p] from digits 0..3 of a and b; r gets
// NUM_DIGITS digits. r MAY equal a and/or b.
[[gnu::always_inline]] inline void fp_mul(u32* r, const u32* a, const u32* b) {
    const u64 a0 = ld64(a), a1 = ld64(a + 2), b0 = ld64(b), b1 = ld64(b + 2);
    const u128 t00 = static_cast<u128>(a0) * b0;
    const u128 t01 = static_cast<u128>(a0) * b1;
    const u128 t10 = static_cast<u128>(a1) * b0;
    const u128 t11 = static_cast<u128>(a1) * b1;
    // c = t11*2^128 + t00 + (t01 + t10)*2^64
    u64 c1, c2, c3;
    unsigned char cf = adc(0, static_cast<u64>(t00 >> 64), static_cast<u64>(t01), &c1);
    cf = adc(cf, static_cast<u64>(t11), static_cast<u64>(t01 >> 64), &c2);
    c3 = static_cast<u64>(t11 >> 64) + cf;
    cf = adc(0, c1, static_cast<u64>(t10), &c1);
    cf = adc(cf, c2, static_cast<u64>(t10 >> 64), &c2);
    c3 += cf;
    st128(r, reduce(static_cast<u64>(t00), c1, c2, c3), 0);
}

// fp_sqr: r = a^2 mod p in [0, p], as fp_mul(r, a, a).
[[gnu::always_inline]] inline void fp_sqr(u32* r, const u32* a) {
    const u64 a0 = ld64(a), a1 = ld64(a + 2);
    const u128 t00 = static_cast<u128>(a0) * a0;
    const u128 t01 = static_cast<u128>(a0) * a1;
    const u128 t11 = static_cast<u128>(a1) * a1;
    // 2*t01 = [d0, d1, d2]
    const auto d0 = static_cast<u64>(t01) << 1;
    const auto d1 = static_cast<u64>(t01 >> 63);
    const auto d2 = static_cast<u64>(t01 >> 127);
    u64 c1, c2;
    unsigned char cf = adc(0, static_cast<u64>(t00 >> 64), d0, &c1);
    cf = adc(cf, static_cast<u64>(t11), d1, &c2);
    const u64 c3 = static_cast<u64>(t11 >> 64) + d2 + cf;
    st128(r, reduce(static_cast<u64>(t00), c1, c2, c3), 0);
}

}  // namespace klarvex::field

#endif  // KLARVEX_FIELD_INLINE_H

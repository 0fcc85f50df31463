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
    const u128 a0 = static_cast<u128>(c0) + c2 + c2h + c3h + static_cast<u64>(m);
    const u128 a1 = static_cast<u128>(c1) + c3 + static_cast<u64>(m >> 64) +
                    static_cast<u64>(k << 33) + static_cast<u64>(a0 >> 64);
    const u64 t = static_cast<u64>(a1 >> 64) + (k >> 31);
    const u128 s = static_cast<u128>(a1) << 64 | static_cast<u64>(a0);
    // W = s + t + (t + 1)*2^97
    const u128 f = static_cast<u128>(t + 1) << 97 | t;
    const u128 w = s + f;
    return w < f ? w + 1 : w - (static_cast<u128>(1) << 97);
}

// fp_mul: r = a*b mod p in [0, p] from digits 0..3 of a and b; r gets
// NUM_DIGITS digits. r MAY equal a and/or b.
[[gnu::always_inline]] inline void fp_mul(u32* r, const u32* a, const u32* b) {
    const u64 a0 = ld64(a), a1 = ld64(a + 2), b0 = ld64(b), b1 = ld64(b + 2);
    const u128 t00 = static_cast<u128>(a0) * b0;
    const u128 t01 = static_cast<u128>(a0) * b1;
    const u128 t10 = static_cast<u128>(a1) * b0;
    const u128 t11 = static_cast<u128>(a1) * b1;
    const u128 m = (t00 >> 64) + static_cast<u64>(t01) + static_cast<u64>(t10);
    const u128 h = (m >> 64) + (t01 >> 64) + (t10 >> 64) + static_cast<u64>(t11);
    st128(r,
          reduce(static_cast<u64>(t00), static_cast<u64>(m), static_cast<u64>(h),
                 static_cast<u64>((h >> 64) + (t11 >> 64))),
          0);
}

// fp_sqr: r = a^2 mod p in [0, p], as fp_mul(r, a, a).
[[gnu::always_inline]] inline void fp_sqr(u32* r, const u32* a) {
    const u64 a0 = ld64(a), a1 = ld64(a + 2);
    const u128 t00 = static_cast<u128>(a0) * a0;
    const u128 t01 = static_cast<u128>(a0) * a1;
    const u128 t11 = static_cast<u128>(a1) * a1;
    // 2*t01 = d2*2^128 + d
    const u128 d = t01 << 1;
    const u64 d2 = static_cast<u64>(t01 >> 127);
    const u128 m = (t00 >> 64) + static_cast<u64>(d);
    const u128 h = (m >> 64) + (d >> 64) + static_cast<u64>(t11);
    st128(r,
          reduce(static_cast<u64>(t00), static_cast<u64>(m), static_cast<u64>(h),
                 static_cast<u64>((h >> 64) + (t11 >> 64) + d2)),
          0);
}

}  // namespace klarvex::field

#endif  // KLARVEX_FIELD_INLINE_H

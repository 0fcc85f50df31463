// Arithmetic modulo p = 2^128 - 2^97 - 1, the field of secp128r2: every
// operation mod p that the curve module uses. Internal to the library, not
// installed.
//
// A field element is a number of NUM_DIGITS digits whose value lies in [0, p]
// and whose digit 4 is zero. The value p stands for zero: products and small
// multiples may leave it, and a caller may write zero that way. Every
// operation here
// - requires each input to be a field element (checked with assert() in
//   debug builds only);
// - writes a field element into r;
// - reads all of its inputs before it writes r, so r MAY be the very same
//   array as any input (arrays that overlap in part are never allowed);
// - gives exactly the value that the digit-by-digit operation named in its
//   contract gives for the modulus p, omega = 2^97 + 1 and NUM_DIGITS digits
//   (the tests compare them), on 64- and 128-bit words instead of digits;
// - runs in constant time, unless its contract says otherwise: no branch and
//   no memory address depends on the values of its operands. Conditions on
//   them become masks (ct.h), and every step runs for every value.
// The inversions are out of line (field.cpp); the rest inline into the point
// formulas. Debug builds check the contracts with KLARVEX_ASSERT_SECRET,
// which branches.

#ifndef KLARVEX_FIELD_H
#define KLARVEX_FIELD_H

#include <cassert>
#include <cstdint>
#if defined(__x86_64__)
#include <x86intrin.h>
#endif

#include "ct.h"
#include "nn.h"
#include "secp128r2_data.h"
#include "words.h"

// Inlined into every caller when optimising: the point formulas are built on
// it. Without optimisation they stay calls, where forced inlining would only
// swell the frames of the callers and count coverage per copy.
#if defined(__OPTIMIZE__)
#define KLARVEX_FE_INLINE [[gnu::always_inline]] inline
#else
#define KLARVEX_FE_INLINE inline
#endif

namespace klarvex {

namespace fe_detail {

using words::u128;
using words::u64;

inline constexpr u128 kP = words::value128(kSecp128r2.p);
// reduce() below is derived for this p and no other.
static_assert(kP == ~u128{0} - (u128{1} << 97), "p = 2^128 - 2^97 - 1");

// Contract checks branch on the value: see KLARVEX_ASSERT_SECRET.
inline bool is_field_element(const std::uint32_t* a) {
    return a[4] == 0 && words::ld128(a) <= kP;
}

// r = a + b + c for a carry c of 0 or 1; returns the carry out. An explicit
// carry chain: sums of 128-bit words and zero-extended 64-bit ones compile
// to spills of the zero halves with some compilers.
KLARVEX_FE_INLINE unsigned char adc(unsigned char c, u64 a, u64 b, u64* r) {
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
 * modulo 2^128; otherwise it is W - 2^97. Both are formed, and a mask keeps one.
 */
KLARVEX_FE_INLINE u128 reduce(u64 c0, u64 c1, u64 c2, u64 c3) {
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
    // W = s + t + (t + 1)*2^97; then W + 1 if it carried, else W - 2^97
    u64 w0, w1;
    cf = adc(0, s0, t, &w0);
    cf = adc(cf, s1, (t + 1) << 33, &w1);
    const u64 carried = ct_mask(cf);
    cf = adc(0, w0, carried & 1, &w0);
    w1 = w1 + cf - (~carried & u64{1} << 33);
    return static_cast<u128>(w1) << 64 | w0;
}

// a*b and a^2 mod p on 128-bit values in [0, p], by reduce(): what fe_mul
// and fe_sqr compute, for chains of products that stay in registers.
KLARVEX_FE_INLINE u128 mul(u128 a, u128 b) {
    const auto a0 = static_cast<u64>(a), a1 = static_cast<u64>(a >> 64);
    const auto b0 = static_cast<u64>(b), b1 = static_cast<u64>(b >> 64);
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
    return reduce(static_cast<u64>(t00), c1, c2, c3);
}

KLARVEX_FE_INLINE u128 sqr(u128 a) {
    const auto a0 = static_cast<u64>(a), a1 = static_cast<u64>(a >> 64);
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
    return reduce(static_cast<u64>(t00), c1, c2, c3);
}

}  // namespace fe_detail

/*
 * r = a*b mod p, as NN_ModMultOpt. The fold loop of NN_ModMultOpt leaves 0
 * for a zero product c and otherwise the value in [1, p] congruent to c
 * (each pass of a c >= 2^128 leaves at least omega, so a nonzero multiple of
 * p comes out as p); that value is fully determined by c, and fe_mul
 * computes it directly with reduce().
 */
KLARVEX_FE_INLINE void fe_mul(std::uint32_t* r, const std::uint32_t* a, const std::uint32_t* b) {
    KLARVEX_ASSERT_SECRET(fe_detail::is_field_element(a) && fe_detail::is_field_element(b));
    words::st128(r, fe_detail::mul(words::ld128(a), words::ld128(b)), 0);
}

// r = a^2 mod p, as NN_ModSqrOpt (and fe_mul(r, a, a)).
KLARVEX_FE_INLINE void fe_sqr(std::uint32_t* r, const std::uint32_t* a) {
    KLARVEX_ASSERT_SECRET(fe_detail::is_field_element(a));
    words::st128(r, fe_detail::sqr(words::ld128(a)), 0);
}

// r = a + b mod p, as NN_ModAdd: t = a + b, less p when t >= p.
inline void fe_add(std::uint32_t* r, const std::uint32_t* a, const std::uint32_t* b) {
    using namespace fe_detail;
    KLARVEX_ASSERT_SECRET(is_field_element(a) && is_field_element(b));
    const u128 x = words::ld128(a);
    const u128 t = x + words::ld128(b);
    // a + b <= 2p < 2^129: t - p fits 128 bits again
    const u64 m = ct_mask(static_cast<u64>(t < x) | static_cast<u64>(t >= kP));
    words::st128(r, t - (kP & ct_mask128(m)), 0);
}

// r = a - b mod p, as NN_ModSub: t = a - b, plus p when it borrows.
inline void fe_sub(std::uint32_t* r, const std::uint32_t* a, const std::uint32_t* b) {
    using namespace fe_detail;
    KLARVEX_ASSERT_SECRET(is_field_element(a) && is_field_element(b));
    const u128 x = words::ld128(a), y = words::ld128(b);
    // b - a <= p: the sum is p - (b - a) in [0, p)
    const u64 m = ct_mask(static_cast<u64>(x < y));
    words::st128(r, x - y + (kP & ct_mask128(m)), 0);
}

/*
 * r = 2^s * a mod p for s = 1, 2 or 3, as NN_LShift by s bits followed by
 * NN_ModSmall: p is subtracted while the value v exceeds p, which leaves 0
 * for v = 0 and otherwise the value in [1, p] congruent to v. With
 * v = h*2^128 + l, h < 8, the sum l + h*omega is congruent, positive for
 * v != 0 and below 2p: one subtraction at most.
 */
inline void fe_shl(std::uint32_t* r, const std::uint32_t* a, unsigned s) {
    using namespace fe_detail;
    KLARVEX_ASSERT_SECRET(is_field_element(a));
    assert(s >= 1 && s <= 3);
    const u128 x = words::ld128(a);
    const u128 h = x >> (128 - s);
    const u128 f = h << 97 | h;  // h*omega
    const u128 t = (x << s) + f;
    const u64 m = ct_mask(static_cast<u64>(t < f) | static_cast<u64>(t > kP));
    words::st128(r, t - (kP & ct_mask128(m)), 0);
}

// r = a / 2 mod p: a / 2 for even a, (a + p) / 2 for odd a, as NN_Add of p
// (the carry into digit 4) and NN_RShift by one bit.
inline void fe_half(std::uint32_t* r, const std::uint32_t* a) {
    using namespace fe_detail;
    KLARVEX_ASSERT_SECRET(is_field_element(a));
    const u128 x = words::ld128(a);
    const u128 t = x + (kP & ct_mask128(ct_mask(static_cast<u64>(x) & 1)));
    words::st128(r, t >> 1 | static_cast<u128>(t < x) << 127, 0);
}

// ~0 if a is zero (0 or p), else 0.
inline std::uint64_t fe_zero_mask(const std::uint32_t* a) {
    using namespace fe_detail;
    KLARVEX_ASSERT_SECRET(is_field_element(a));
    const u64 x0 = words::ld64(a), x1 = words::ld64(a + 2);
    const u64 p0 = static_cast<u64>(kP), p1 = static_cast<u64>(kP >> 64);
    return ct_zero_mask(x0 | x1) | ct_zero_mask((x0 ^ p0) | (x1 ^ p1));
}

// Whether a is zero: 0 or p. For public values: the caller branches on it.
inline bool fe_is_zero(const std::uint32_t* a) {
    return fe_zero_mask(a) != 0;
}

// r = a where mask is ~0; r unchanged where it is 0. r MAY equal a.
inline void fe_cmov(std::uint32_t* r, const std::uint32_t* a, std::uint64_t mask) {
    ct_cmov(r, a, NUM_DIGITS, mask);
}

// r = 1/a mod p in [1, p - 1], as NN_ModInv modulo p; a zero a (0 or p) has
// no inverse and gives p, which is zero. Variable time (Euclid's algorithm):
// for public values.
void fe_inv(std::uint32_t* r, const std::uint32_t* a);

// r = a^(p-2) mod p: 1/a in [1, p - 1], the value fe_inv gives, for a
// nonzero a; a zero a (0 or p) comes back as it was. Fermat's little theorem
// with a fixed chain of 127 squarings and 11 multiplications.
void fe_inv_ct(std::uint32_t* r, const std::uint32_t* a);

}  // namespace klarvex

#undef KLARVEX_FE_INLINE

#endif  // KLARVEX_FIELD_H

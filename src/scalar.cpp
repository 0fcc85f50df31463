// Arithmetic modulo the group order n in constant time, by Montgomery
// multiplication on two 64-bit words.

#include "scalar.h"

#include "ct.h"
#include "nn.h"
#include "secp128r2_data.h"
#include "words.h"

namespace klarvex {
namespace {

using words::u128;
using words::u64;

constexpr u128 kN = words::value128(kSecp128r2.order);
static_assert(kN >> 126 == 0 && (kN & 1) == 1, "n is odd and below 2^126");

// -1/n mod 2^64, by Newton's iteration x <- x*(2 - n*x), which doubles the
// number of correct low bits from the 3 that x = n gives for an odd n.
constexpr u64 kNegInvN = [] {
    const auto n0 = static_cast<u64>(kN);
    u64 x = n0;
    for (int i = 0; i < 5; ++i)
        x *= 2 - n0 * x;
    return 0 - x;
}();
static_assert(static_cast<u64>(kN) * kNegInvN == ~u64{0}, "n * (-1/n) = -1 mod 2^64");

// 2^e mod n, by doubling (n < 2^126, so 2*(n - 1) fits).
constexpr u128 pow2_mod_n(int e) {
    u128 v = 1;
    for (int i = 0; i < e; ++i) {
        v <<= 1;
        if (v >= kN) v -= kN;
    }
    return v;
}
constexpr u128 kR1 = pow2_mod_n(128);  // R mod n: 1 in Montgomery form
constexpr u128 kR2 = pow2_mod_n(256);  // R^2 mod n: turns a into a*R

// The exponent of Fermat's inversion.
constexpr u128 kNMinus2 = kN - 2;

// u - n if u >= n, else u; for u < 2n.
u128 sub_n_if_above(u128 u) {
    const u128 v = u - kN;
    return v + (kN & ct_mask128(ct_mask(static_cast<u64>(u < kN))));
}

/*
 * t*R^-1 mod n, plus 0 or n, for t = t3*2^192 + t2*2^128 + t1*2^64 + t0 below
 * n*R (Montgomery reduction, word by word): adding m*n with m = t0*(-1/n)
 * mod 2^64 clears the low word, and again for the next one; the sum, below
 * n*R + R*n, divided by R, is below 2n.
 */
[[gnu::always_inline]] inline u128 redc_2n(u64 t0, u64 t1, u64 t2, u64 t3) {
    const auto n0 = static_cast<u64>(kN), n1 = static_cast<u64>(kN >> 64);
    u64 m = t0 * kNegInvN;
    u128 c = (static_cast<u128>(m) * n0 + t0) >> 64;  // the low word is 0
    c += static_cast<u128>(m) * n1 + t1;
    t1 = static_cast<u64>(c);
    c = (c >> 64) + t2;
    t2 = static_cast<u64>(c);
    t3 += static_cast<u64>(c >> 64);
    m = t1 * kNegInvN;
    c = (static_cast<u128>(m) * n0 + t1) >> 64;
    c += static_cast<u128>(m) * n1 + t2;
    t2 = static_cast<u64>(c);
    t3 += static_cast<u64>(c >> 64);
    return static_cast<u128>(t3) << 64 | t2;
}

// t*R^-1 mod n for t below n*R: redc_2n and one subtraction of n by mask.
u128 redc(u64 t0, u64 t1, u64 t2, u64 t3) {
    return sub_n_if_above(redc_2n(t0, t1, t2, t3));
}

/*
 * a*b*R^-1 mod n, plus 0 or n, for a and b below 2n: their product is below
 * 4n^2 < n*R (4n < R = 2^128), so redc_2n applies, and its result is below
 * 2n again. Chains of products stay below 2n without a subtraction a step.
 */
[[gnu::always_inline]] inline u128 mont_mul_2n(u128 a, u128 b) {
    const auto a0 = static_cast<u64>(a), a1 = static_cast<u64>(a >> 64);
    const auto b0 = static_cast<u64>(b), b1 = static_cast<u64>(b >> 64);
    const u128 t00 = static_cast<u128>(a0) * b0, t11 = static_cast<u128>(a1) * b1;
    // a0*b1 + a1*b0 < 2^128 for a1, b1 < 2^63
    const u128 mid = static_cast<u128>(a0) * b1;
    const u128 mid2 = static_cast<u128>(a1) * b0;
    const u128 lo = (t00 >> 64) + static_cast<u64>(mid) + static_cast<u64>(mid2);
    const u128 hi = t11 + (mid >> 64) + (mid2 >> 64) + (lo >> 64);
    return redc_2n(static_cast<u64>(t00), static_cast<u64>(lo), static_cast<u64>(hi),
                   static_cast<u64>(hi >> 64));
}

// a*b*R^-1 mod n for a, b below n.
u128 mont_mul(u128 a, u128 b) {
    return sub_n_if_above(mont_mul_2n(a, b));
}

u128 load(const std::uint32_t* a) {
    KLARVEX_ASSERT_SECRET(a[4] == 0 && words::ld128(a) < kN);
    return words::ld128(a);
}

}  // namespace

void sc_reduce(std::uint32_t* r, const std::uint32_t* a) {
    // a*R^-1, then times R^2 and R^-1 again
    const u128 t = redc(words::ld64(a), words::ld64(a + 2), a[4], 0);
    words::st128(r, mont_mul(t, kR2), 0);
}

void sc_add(std::uint32_t* r, const std::uint32_t* a, const std::uint32_t* b) {
    words::st128(r, sub_n_if_above(load(a) + load(b)), 0);  // below 2n < 2^127
}

void sc_mul(std::uint32_t* r, const std::uint32_t* a, const std::uint32_t* b) {
    // a*b*R^-1, then times R^2 and R^-1 again
    words::st128(r, mont_mul(mont_mul(load(a), load(b)), kR2), 0);
}

/*
 * a^(n-2) in Montgomery form (x*R stands for x), left to right over the
 * exponent's bits with sliding windows of up to four bits that end in a one
 * (Menezes, van Oorschot and Vanstone, "Handbook of Applied Cryptography"
 * (1996), Algorithm 14.85): a table of the odd powers a, a^3, ..., a^15,
 * then one squaring per bit and one multiplication per window. The exponent
 * is the constant n - 2, so the windows, and with them the branches and the
 * table entries read, are the same for every a: 126 squarings (the first
 * four of 1) and 27 multiplications, after the table's 1 squaring and 7
 * multiplications. The values stay below 2n (mont_mul_2n) until the last
 * reduction.
 */
void sc_inv(std::uint32_t* r, const std::uint32_t* a) {
    u128 odd[8];
    odd[0] = mont_mul_2n(load(a), kR2);
    const u128 sq = mont_mul_2n(odd[0], odd[0]);
    for (int i = 1; i < 8; ++i)
        odd[i] = mont_mul_2n(odd[i - 1], sq);

    u128 y = kR1;
    for (int i = 125; i >= 0;) {
        if (!(kNMinus2 >> i & 1)) {
            y = mont_mul_2n(y, y);
            --i;
            continue;
        }
        int j = i < 3 ? 0 : i - 3;  // the window i..j ends in a one
        while (!(kNMinus2 >> j & 1))
            ++j;
        for (int b = i; b >= j; --b)
            y = mont_mul_2n(y, y);
        y = mont_mul_2n(y,
                        odd[static_cast<int>(kNMinus2 >> j & ((u128{1} << (i - j + 1)) - 1)) / 2]);
        i = j - 1;
    }
    words::st128(r, redc(static_cast<u64>(y), static_cast<u64>(y >> 64), 0, 0), 0);
}

std::uint32_t sc_is_zero(const std::uint32_t* a) {
    return static_cast<std::uint32_t>(ct_zero_mask(words::ld64(a) | words::ld64(a + 2) | a[4]) & 1);
}

std::uint32_t sc_below_n(const std::uint32_t* a) {
    const u64 lt = static_cast<u64>(words::ld128(a) < kN);
    return static_cast<std::uint32_t>(lt & ct_zero_mask(a[4]));
}

}  // namespace klarvex

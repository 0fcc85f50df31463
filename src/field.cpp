// Arithmetic modulo p of secp128r2: the operations that are not inlined.

#include "field.h"

namespace klarvex {

namespace {

// r = a^(2^n) * b, n >= 1: n squarings and a multiplication. r MAY equal a,
// not b.
void sqr_mul(std::uint32_t* r, const std::uint32_t* a, int n, const std::uint32_t* b) {
    fe_sqr(r, a);
    for (int i = 1; i < n; ++i)
        fe_sqr(r, r);
    fe_mul(r, r, b);
}

}  // namespace

void fe_inv(std::uint32_t* r, const std::uint32_t* a) {
    KLARVEX_ASSERT_SECRET(fe_detail::is_field_element(a));
    NN_ModInv(r, a, kSecp128r2.p, NUM_DIGITS);
}

/*
 * p - 2 = 2^128 - 2^97 - 3 is, from the top, 30 ones, a zero, 95 ones, a
 * zero and a one. With xk = a^(2^k - 1), a run of k ones, the chain builds
 * x95 from x30 and x5, then p - 2 as (x30 shifted past 96 bits) * x95,
 * shifted two bits more, times a.
 */
void fe_inv_ct(std::uint32_t* r, const std::uint32_t* a) {
    std::uint32_t x2[NUM_DIGITS], x5[NUM_DIGITS], x30[NUM_DIGITS], t[NUM_DIGITS], u[NUM_DIGITS];

    KLARVEX_ASSERT_SECRET(fe_detail::is_field_element(a));
    sqr_mul(x2, a, 1, a);      // x2 = a^2 * a: 1S + 1M
    sqr_mul(t, x2, 1, a);      // x3 = x2^2 * a: 1S + 1M
    sqr_mul(x5, t, 2, x2);     // x5 = x3^(2^2) * x2: 2S + 1M
    sqr_mul(t, x5, 5, x5);     // x10 = x5^(2^5) * x5: 5S + 1M
    sqr_mul(t, t, 5, x5);      // x15 = x10^(2^5) * x5: 5S + 1M
    sqr_mul(x30, t, 15, t);    // x30 = x15^(2^15) * x15: 15S + 1M
    sqr_mul(t, x30, 30, x30);  // x60 = x30^(2^30) * x30: 30S + 1M
    sqr_mul(t, t, 30, x30);    // x90 = x60^(2^30) * x30: 30S + 1M
    sqr_mul(u, t, 5, x5);      // x95 = x90^(2^5) * x5: 5S + 1M
    sqr_mul(t, x30, 96, u);    // x30^(2^96) * x95: 96S + 1M
    sqr_mul(t, t, 2, a);       // a^(p - 2), into t: r may be a: 2S + 1M
    NN_Assign(r, t, NUM_DIGITS);
}

}  // namespace klarvex

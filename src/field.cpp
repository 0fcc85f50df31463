// Arithmetic modulo p of secp128r2: the operations that are not inlined.

#include "field.h"

namespace klarvex {

namespace {

// r = a^(2^n): n squarings. r MAY equal a.
void sqr_n(std::uint32_t* r, const std::uint32_t* a, int n) {
    fe_sqr(r, a);
    for (int i = 1; i < n; ++i)
        fe_sqr(r, r);
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
    fe_sqr(x2, a);
    fe_mul(x2, x2, a);  // x2 = a^(2^2 - 1): 1S + 1M
    fe_sqr(t, x2);
    fe_mul(t, t, a);  // x3 = x2^2 * a: 1S + 1M
    sqr_n(x5, t, 2);
    fe_mul(x5, x5, x2);  // x5 = x3^(2^2) * x2: 2S + 1M
    sqr_n(t, x5, 5);
    fe_mul(t, t, x5);  // x10 = x5^(2^5) * x5: 5S + 1M
    sqr_n(t, t, 5);
    fe_mul(t, t, x5);  // x15 = x10^(2^5) * x5: 5S + 1M
    sqr_n(x30, t, 15);
    fe_mul(x30, x30, t);  // x30 = x15^(2^15) * x15: 15S + 1M
    sqr_n(t, x30, 30);
    fe_mul(t, t, x30);  // x60 = x30^(2^30) * x30: 30S + 1M
    sqr_n(t, t, 30);
    fe_mul(t, t, x30);  // x90 = x60^(2^30) * x30: 30S + 1M
    sqr_n(t, t, 5);
    fe_mul(u, t, x5);  // x95 = x90^(2^5) * x5: 5S + 1M
    sqr_n(t, x30, 96);
    fe_mul(t, t, u);  // a^((2^30 - 1)*2^96 + 2^95 - 1): 96S + 1M
    sqr_n(t, t, 2);
    fe_mul(r, t, a);  // a^(p - 2): 2S + 1M
}

}  // namespace klarvex

// Arithmetic modulo p of secp128r2: the operations that are not inlined.

#include "field.h"

namespace klarvex {

namespace {

using fe_detail::u128;

// a^(2^n) * b, n >= 1: n squarings and a multiplication, in registers.
u128 sqr_mul(u128 a, int n, u128 b) {
    for (int i = 0; i < n; ++i)
        a = fe_detail::sqr(a);
    return fe_detail::mul(a, b);
}

}  // namespace

void fe_inv(std::uint32_t* r, const std::uint32_t* a) {
    KLARVEX_ASSERT_SECRET(fe_detail::is_field_element(a));
    NN_ModInv(r, a, kSecp128r2.p, NUM_DIGITS);
}

/*
 * p - 2 = 2^128 - 2^97 - 3 is, from the top, 30 ones, a zero, 95 ones, a
 * zero and a one. With xk = a^(2^k - 1), a run of k ones, the chain builds
 * x30 from x15, x5 and x2, then appends the zero and 95 ones as x30, x30,
 * x30 and x5, then the zero and the one.
 */
void fe_inv_ct(std::uint32_t* r, const std::uint32_t* a) {
    KLARVEX_ASSERT_SECRET(fe_detail::is_field_element(a));
    const u128 x1 = words::ld128(a);
    const u128 x2 = sqr_mul(x1, 1, x1);      // 1S + 1M
    const u128 x3 = sqr_mul(x2, 1, x1);      // 1S + 1M
    const u128 x5 = sqr_mul(x3, 2, x2);      // 2S + 1M
    const u128 x10 = sqr_mul(x5, 5, x5);     // 5S + 1M
    const u128 x15 = sqr_mul(x10, 5, x5);    // 5S + 1M
    const u128 x30 = sqr_mul(x15, 15, x15);  // 15S + 1M
    u128 t = sqr_mul(x30, 31, x30);          // 30 ones, 0, 30 ones: 31S + 1M
    t = sqr_mul(t, 30, x30);                 // ... 60 ones: 30S + 1M
    t = sqr_mul(t, 30, x30);                 // ... 90 ones: 30S + 1M
    t = sqr_mul(t, 5, x5);                   // ... 95 ones: 5S + 1M
    t = sqr_mul(t, 2, x1);                   // ... 0, 1: 2S + 1M
    words::st128(r, t, 0);
}

}  // namespace klarvex

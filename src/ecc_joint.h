// Internal to the library, not installed: u1*G + u2*Q in one pass, the
// product that ECDSA verification checks, on public values and in variable
// time. It gives the point that ecc_add of ecc_win_mul_base(u1) and
// ecc_win_mul(u2) over Q's window table gives, for a Q on the curve.
//
// u2*Q runs on the width-5 NAF of u2 cut into JOINT_CHUNKS chunks of
// JOINT_SPAN digits, chunk j over the odd multiples of 2^(JOINT_SPAN*j)*Q,
// interleaved (Strauss; Hankerson, Menezes and Vanstone, "Guide to Elliptic
// Curve Cryptography" (2004), Algorithm 3.51 with wNAF): JOINT_SPAN
// doublings for the whole of u2. u1*G adds one entry of each row of G's comb
// (ecc_comb_table.h) after the doublings.

#ifndef KLARVEX_ECC_JOINT_H
#define KLARVEX_ECC_JOINT_H

#include <cstdint>

#include "ecc.h"

namespace klarvex {

inline constexpr int JOINT_CHUNKS = 4;
inline constexpr int JOINT_SPAN = 32;    // JOINT_CHUNKS * JOINT_SPAN >= 127
inline constexpr int JOINT_ENTRIES = 8;  // the odd multiples 1, 3, ..., 15

// The tables of the chunks after the first, from the window table of Q
// (ecc_win_precompute), whose odd entries serve the first chunk:
// shifted[j - 1][i] = (2i + 1) * 2^(JOINT_SPAN*j) * Q, affine, for j = 1 ..
// JOINT_CHUNKS - 1. A window table of (0, 0) gives tables of (0, 0). shifted
// must not overlap window.
void joint_precompute(const Point* window, Point shifted[][JOINT_ENTRIES]);

// (P0, Z0) = u1*G + u2*Q, Jacobian, for u1 and u2 below n (digit 4 zero),
// over Q's tables: window from ecc_win_precompute and shifted from
// joint_precompute. Z0 zero is the point at infinity. P0 and Z0 must not
// overlap the inputs.
void joint_mul(Point* P0, std::uint32_t* Z0, const std::uint32_t* u1, const std::uint32_t* u2,
               const Point* window, const Point shifted[][JOINT_ENTRIES]);

// Whether the affine x of the Jacobian (P, Z), as a value in [0, p), is r
// modulo n, for r in [1, n - 1]: false for the point at infinity. With no
// inversion: x = r + j*n for some j >= 0 with r + j*n < p exactly when
// X = (r + j*n)*Z^2 mod p.
bool joint_x_mod_n_is(const Point* P, const std::uint32_t* Z, const std::uint32_t* r);

}  // namespace klarvex

#endif  // KLARVEX_ECC_JOINT_H

// Internal to the library, not installed: the scalar multiplication k*G that
// signing runs on its secret nonce, and the point operations it is built
// from, in constant time: no branch and no memory address depends on the
// scalar, on the coordinates or on which case of an addition arises (ct.h).
//
// Points follow the conventions of ecc.h: a Jacobian (X, Y, Z) is a Point
// with Z held apart, Z zero (0 or p) is the point at infinity, and an affine
// (0, 0) is the point at infinity. Every coordinate and Z given must be a
// field element (checked in debug builds), and every one written is one.
// They give the points that their variable-time counterparts in ecc.h give.

#ifndef KLARVEX_ECC_CT_H
#define KLARVEX_ECC_CT_H

#include <cstdint>

#include "ecc.h"

namespace klarvex {

/*
 * (P3, Z3) = (P1, Z1) + P2 for a projective P1 and an affine P2, in every
 * case: P1 at infinity gives (P2, 1); P2 = (0, 0) gives (P1, Z1); P1 = P2
 * gives the double of P2; P1 = -P2 gives Z3 zero; otherwise the chord's sum.
 * Each call forms both the chord's sum and the double of P2 (6S + 10M) and
 * keeps the right result by masks. P3 and Z3 MAY be the arrays of P1 and Z1;
 * P2 must not share an array with P3.
 */
void ct_add_mix(Point* P3, std::uint32_t* Z3, const Point* P1, const std::uint32_t* Z1,
                const Point* P2);

// (X, Y, Z) -> (X/Z^2, Y/Z^3) with fe_inv_ct, using up Z; the point at
// infinity gives (0, 0). The coordinates come out in [0, p - 1].
void ct_to_affine(Point* P, std::uint32_t* Z);

// P0 = k*G for k below n (digit 4 zero), affine, coordinates in [0, p - 1]:
// ecc_win_mul_base's point, a coordinate of p written as 0; (0, 0) for k = 0.
// A sum of one entry of each row of the comb of G (ecc_comb_table.h), with no
// doublings: the same additions and table reads for every k. P0 must not
// overlap k.
void ct_mul_base(Point* P0, const std::uint32_t* k);

}  // namespace klarvex

#endif  // KLARVEX_ECC_CT_H

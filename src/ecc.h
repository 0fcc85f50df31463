// Point arithmetic on secp128r2 in Jacobian coordinates.
//
// A projective point (X, Y, Z) stands for the affine point (X/Z^2, Y/Z^3) mod
// p; it is held as a Point carrying X and Y plus a separate Z of NUM_DIGITS
// digits. Z = 0 is the point at infinity (X and Y then mean nothing); Z = 1
// means X and Y are the affine coordinates. In affine form the point at
// infinity is (0, 0). Zero tests on field values accept p as well as 0, so
// Z = p and an affine (p, 0), (0, p) or (p, p) are the point at infinity too.
//
// Every coordinate and Z given to these operations must be a field element,
// a value in [0, p] with digit 4 zero (checked with assert() in debug builds),
// and every one they write is one. The value p stands for zero: compare
// coordinates reduced mod p, not digit by digit.
//
// The module keeps no state that changes: the curve parameters and the window
// table of G are constant data of the library, so every operation works from
// the start, and the operations may run on several threads at once on
// distinct arrays. Nothing is allocated. The operations here run in variable
// time, for public values: signing computes k*G with a constant-time
// multiplication of its own, internal to the library.

#ifndef KLARVEX_ECC_H
#define KLARVEX_ECC_H

#include <cstdint>

#include "nn.h"
#include "secp128r2.h"

namespace klarvex {

// Number of entries of a window table: entry j-1 holds j*P for j = 1..15.
inline constexpr int WINDOW_TABLE_SIZE = 15;

// Does nothing: the curve parameters and the window table of G that it once
// filled are constant data now. Kept for callers that set the module up
// first; harmless to call, any number of times, at any point.
void ecc_init();

// order = n, the group order of G (NUM_DIGITS digits, digit 4 zero).
void ecc_get_order(std::uint32_t* order);

// The base point G, for reading; the same address on every call.
const Point* ecc_get_base_p();

// (P0, Z0) = 2*(P1, Z1). A point of order two (Y1 = 0) and the point at
// infinity double to Z0 = 0; for Z1 = 0, P0 is not written.
// P0 MAY equal P1 and Z0 MAY equal Z1 (doubling in place).
void ecc_dbl_proj(Point* P0, std::uint32_t* Z0, const Point* P1, const std::uint32_t* Z1);

// (P0, Z0) = 2^m * (P0, Z0), in place. For Z0 = 0 nothing changes; m = 0
// leaves P0 and Z0 as they are.
void ecc_m_dbl_projective(Point* P0, std::uint32_t* Z0, std::uint8_t m);

// P0 = P1 + P2 for affine points, affine result; (0, 0) as P1 or P2 is the
// point at infinity, and a sum at infinity comes out as exactly (0, 0).
// P0 must be distinct from P1 and P2 (it is cleared before they are read).
void ecc_add(Point* P0, const Point* P1, const Point* P2);

// (P0, Z0) = (P1, Z1) + (P2, Z2), projective. Handles Z1 or Z2 = 0, and equal
// and opposite operands in any Jacobian representation. P0 and Z0 MAY be the
// arrays of either operand.
void ecc_add_proj(Point* P0, std::uint32_t* Z0, const Point* P1, const std::uint32_t* Z1,
                  const Point* P2, const std::uint32_t* Z2);

// pointArray[j-1] = j*baseP for j = 1..15, affine: the window table of baseP
// for ecc_win_mul. baseP must be a finite point of the curve; pointArray must
// not overlap it.
void ecc_win_precompute(const Point* baseP, Point* pointArray);

// P0 = n*P (affine), P being the point whose table ecc_win_precompute wrote
// into pointArray; 4-bit fixed window, any n below 2^160. n = 0 and every
// multiple of the order of P give exactly (0, 0). P0 must be distinct from n
// and from pointArray.
void ecc_win_mul(Point* P0, const std::uint32_t* n, const Point* pointArray);

// P0 = n*G over the window table of G; as ecc_win_mul.
void ecc_win_mul_base(Point* P0, const std::uint32_t* n);

// P0 = n*P1 (affine) by left-to-right double-and-add, with no table. The same
// results as ecc_win_mul; P0 must be distinct from P1 and from n.
void ecc_mul(Point* P0, const Point* P1, const std::uint32_t* n);

}  // namespace klarvex

#endif  // KLARVEX_ECC_H

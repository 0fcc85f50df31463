// Point arithmetic on secp128r2 in Jacobian coordinates.
//
// A projective point (X, Y, Z) stands for the affine point (X/Z^2, Y/Z^3) mod
// p; it is held as a Point carrying X and Y plus a separate Z of NUM_DIGITS
// digits. Z = 0 is the point at infinity (X and Y then mean nothing); Z = 1
// means X and Y are the affine coordinates. In affine form the point at
// infinity is (0, 0). Zero tests on field values accept p as well as 0, so
// Z = p and an affine (p, 0), (0, p) or (p, p) are the point at infinity too.
//
// Field elements are in [0, p] with digit 4 zero between operations; the value
// p stands for zero. Compare coordinates reduced mod p, not digit by digit.
//
// The module keeps no state that changes: the curve parameters and the window
// table of G are constant data of the library, so every operation works from
// the start, and the operations may run on several threads at once on
// distinct arrays. Nothing is allocated and nothing runs in constant time.

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

// order = n, the group order (NUM_DIGITS digits, digit 4 zero).
void ecc_get_order(std::uint32_t* order);

// The base point G, for reading; the same address on every call.
const Point* ecc_get_base_p();

// (P0, Z0) = 2*(P1, Z1). A point of order two (y = 0) and the point at
// infinity double to Z0 = 0; for Z1 = 0, P0 is left as it was.
// P0 MAY equal P1 and Z0 MAY equal Z1 (doubling in place).
void ecc_dbl_proj(Point* P0, std::uint32_t* Z0, const Point* P1, const std::uint32_t* Z1);

// (P0, Z0) = 2^m * (P0, Z0), in place. For Z0 = 0 nothing changes; m = 0
// leaves the point as it is.
void ecc_m_dbl_projective(Point* P0, std::uint32_t* Z0, std::uint8_t m);

// P0 = P1 + P2 for affine points, affine result; (0, 0) in either operand is
// the point at infinity, and a sum at infinity comes out as exactly (0, 0).
// P0 must be distinct from P1 and P2 (it is cleared before they are read).
void ecc_add(Point* P0, const Point* P1, const Point* P2);

// (P0, Z0) = (P1, Z1) + (P2, Z2), projective. Handles Z = 0, equal and
// opposite operands (in any Jacobian representation). The result MAY share
// its arrays with either operand.
void ecc_add_proj(Point* P0, std::uint32_t* Z0, const Point* P1, const std::uint32_t* Z1,
                  const Point* P2, const std::uint32_t* Z2);

// table[j-1] = j*P for j = 1..15, affine.
// P must be a finite point of the curve. table must not overlap P.
void ecc_win_precompute(const Point* baseP, Point* pointArray);

// P0 = k*P (affine) over a table built by ecc_win_precompute, 4-bit fixed
// window; any k below 2^160. k = 0 and every multiple of P's order give
// exactly (0, 0). P0 must be distinct from k
// and from the table.
void ecc_win_mul(Point* P0, const std::uint32_t* n, const Point* pointArray);

// P0 = k*G over the window table of G.
void ecc_win_mul_base(Point* P0, const std::uint32_t* n);

// P0 = k*P by left-to-right double-and-add; no table. Same results and the
// same aliasing rules as ecc_win_mul (P0 distinct from P1 and k).
void ecc_mul(Point* P0, const Point* P1, const std::uint32_t* n);

}  // namespace klarvex

#endif  // KLARVEX_ECC_H

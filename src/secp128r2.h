// The SEC 2 curve secp128r2: y^2 = x^3 + a*x + b over the prime field of
// p = 2^128 - 2^97 - 1, with a base point G of prime order n (126 bits) and
// cofactor 4. a is not -3, so point doubling takes the general slope formula.
//
// Also the multiplication by omega = 2^128 - p = 2^97 + 1 on which the fast
// field reduction rests.

#ifndef KLARVEX_SECP128R2_H
#define KLARVEX_SECP128R2_H

#include <cstdint>

#include "nn.h"

namespace klarvex {

// An affine point (x, y), or the X and Y of a Jacobian point (X, Y, Z) whose
// Z is held apart. Coordinates are field elements in [0, p], digit 4 zero
// between operations. The affine point at infinity is written (0, 0), which
// is not on the curve since b != 0.
struct Point {
    std::uint32_t x[NUM_DIGITS];
    std::uint32_t y[NUM_DIGITS];
};

// Domain parameters. Every number is below 2^128 (digit 4 is 0).
struct CurveParams {
    std::uint32_t p[NUM_DIGITS];      // field prime
    std::uint32_t omega[NUM_DIGITS];  // 2^128 - p
    std::uint32_t a[NUM_DIGITS];      // curve coefficient a
    std::uint32_t b[NUM_DIGITS];      // curve coefficient b
    std::uint8_t a_minus3;            // nonzero when a = -3 (mod p)
    std::uint8_t a_zero;              // nonzero when a = 0
    Point G;                          // base point, affine
    std::uint32_t order[NUM_DIGITS];  // order n of G
};

// Fills every field of *para (all five digits of each number, both flags)
// with the secp128r2 parameters.
void get_curve_param(CurveParams* para);

// a[0..digits+4) = b * omega for omega = w*2^96 + 1; only digit 3 (w) of omega
// is read. The caller must have cleared a[digits..digits+4) beforehand: the
// product is added into those digits. a has room for digits + 4 digits and
// must not overlap b. Returns digits + 4 (mod 256), the product's length.
std::uint8_t omega_mul(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* omega,
                       std::uint8_t digits);

}  // namespace klarvex

#endif  // KLARVEX_SECP128R2_H

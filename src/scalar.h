// Arithmetic modulo n, the order of G on secp128r2, in constant time: what
// signing computes from the private key and the nonce. Internal to the
// library, not installed.
//
// A scalar is a number of NUM_DIGITS digits. Every operation here
// - runs in constant time: no branch and no memory address depends on the
//   values of its operands (ct.h);
// - writes a value below n into r, digit 4 zero (a 1/0 flag for the tests);
// - reads all of its inputs before it writes r, so r MAY be the very same
//   array as any input (arrays that overlap in part are never allowed);
// - works on two 64-bit words by Montgomery multiplication with R = 2^128
//   (Montgomery, "Modular multiplication without trial division", Math.
//   Comp. 44 (1985)); values enter and leave in ordinary form.
// Debug builds check the input ranges with KLARVEX_ASSERT_SECRET.
//
// The general operations of nn (NN_Mod, NN_ModMult, NN_ModInv, ...) give the
// same values in variable time; verification, whose values are public, uses
// those.

#ifndef KLARVEX_SCALAR_H
#define KLARVEX_SCALAR_H

#include <cstdint>

namespace klarvex {

// r = a mod n, for any a (below 2^160).
void sc_reduce(std::uint32_t* r, const std::uint32_t* a);

// r = a + b mod n, for a and b below n.
void sc_add(std::uint32_t* r, const std::uint32_t* a, const std::uint32_t* b);

// r = a * b mod n, for a and b below n.
void sc_mul(std::uint32_t* r, const std::uint32_t* a, const std::uint32_t* b);

// r = 1/a mod n for a in [1, n - 1], the value NN_ModInv gives; 0 for a = 0.
// Fermat's little theorem: a^(n-2), with the exponent's bits (public) in
// windows of up to four.
void sc_inv(std::uint32_t* r, const std::uint32_t* a);

// 1 if a is zero, else 0.
std::uint32_t sc_is_zero(const std::uint32_t* a);

// 1 if a < n, else 0, for any a (below 2^160).
std::uint32_t sc_below_n(const std::uint32_t* a);

}  // namespace klarvex

#endif  // KLARVEX_SCALAR_H

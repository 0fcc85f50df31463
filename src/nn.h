// Multi-precision unsigned integers of 32-bit digits.
//
// A number is an array of std::uint32_t digits, least significant digit
// first, with no stored length and no normal form: every operation is given
// the digit count of each number (an std::uint8_t, 0 to 255) and reads and
// writes exactly that many digits. Leading zero digits carry no meaning.
//
// Byte strings are big-endian octet arrays with an std::uint8_t length.
//
// Aliasing: an output MAY be the very same array as an input only where the
// contract below says so. Arrays that overlap in part (one starting inside
// the other) are never allowed.
//
// Temporaries live on the stack and are sized for NUM_DIGITS digits; the
// counts that the multiplication, division and modular operations accept are
// bounded accordingly (stated per function). Nothing here allocates, keeps a
// pointer after returning, or runs in constant time: the running time depends
// on the number of significant digits and on zero multiplier digits.
//
// Contracts are checked with assert() in debug builds only.

#ifndef KLARVEX_NN_H
#define KLARVEX_NN_H

#include <cstdint>

namespace klarvex {

// Digit count of every number the curve and ECDSA layers pass around: a
// 128-bit value plus a spare top digit that takes carries (160 bits).
inline constexpr std::uint8_t NUM_DIGITS = 5;
// Digit count of the 128-bit field size, used by the fast reduction.
inline constexpr std::uint8_t KEY_DIGITS = 4;

// ---------------------------------------------------------------------------
// Representation, conversion and comparison. These keep no temporaries and
// accept any count or length from 0 to 255.
// ---------------------------------------------------------------------------

// a = the value of the big-endian byte string b[0..len), truncated to its
// last 4*digits bytes or zero-filled up to `digits` digits.
void NN_Decode(std::uint32_t* a, std::uint8_t digits, const std::uint8_t* b, std::uint8_t len);

// a[0..len) = b mod 256^len, big-endian; leading bytes beyond the number's
// digits are zero. A length of 0 writes nothing.
void NN_Encode(std::uint8_t* a, std::uint8_t len, const std::uint32_t* b, std::uint8_t digits);

// a = b. a MAY equal b.
void NN_Assign(std::uint32_t* a, const std::uint32_t* b, std::uint8_t digits);

// a = 0.
void NN_AssignZero(std::uint32_t* a, std::uint8_t digits);

// a = 2^b, or 0 when b >= 32*digits.
void NN_Assign2Exp(std::uint32_t* a, std::uint16_t b, std::uint8_t digits);

// a = b (one digit), all higher digits cleared. digits >= 1.
void NN_AssignDigit(std::uint32_t* a, std::uint32_t b, std::uint8_t digits);

// Returns 1 if a > b, -1 if a < b, 0 if equal (0 for digits == 0).
int NN_Cmp(const std::uint32_t* a, const std::uint32_t* b, std::uint8_t digits);

// Returns 1 if a == b, else 0.
int NN_Equal(const std::uint32_t* a, const std::uint32_t* b, std::uint8_t digits);

// Returns 1 if every digit of a is zero (also for digits == 0), else 0.
int NN_Zero(const std::uint32_t* a, std::uint8_t digits);

// Returns 1 if a == 1, else 0 (0 for digits == 0).
int NN_One(const std::uint32_t* a, std::uint8_t digits);

// Number of significant bits of a, 0 for zero (at most 8160).
unsigned int NN_Bits(const std::uint32_t* a, std::uint8_t digits);

// Number of significant digits of a (index of the top nonzero digit + 1), 0 for zero.
unsigned int NN_Digits(const std::uint32_t* a, std::uint8_t digits);

// Number of significant bits of one digit, 0 to 32.
unsigned int NN_DigitBits(std::uint32_t a);

// ---------------------------------------------------------------------------
// Digit arithmetic (non-modular).
// ---------------------------------------------------------------------------

// a = (b + c) mod 2^(32*digits); returns the carry out, 0 or 1.
// a MAY equal b and/or c. digits == 0 writes nothing and returns 0.
std::uint32_t NN_Add(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
                     std::uint8_t digits);

// a = (b - c) mod 2^(32*digits); returns the borrow out, 1 exactly when b < c.
// a MAY equal b and/or c.
std::uint32_t NN_Sub(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
                     std::uint8_t digits);

// a[0..2*digits) = b * c. digits <= NUM_DIGITS. a MAY equal b or c when that
// array has room for 2*digits digits.
void NN_Mult(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c, std::uint8_t digits);

// a[0..2*digits) = b * b. digits <= NUM_DIGITS. a MAY equal b when it has
// room for 2*digits digits.
void NN_Sqr(std::uint32_t* a, const std::uint32_t* b, std::uint8_t digits);

// a = (b * 2^c) mod 2^(32*digits) for c < 32; returns the bits shifted out at
// the top in its low-order bits. c >= 32 writes nothing and returns 0.
// a MAY equal b.
std::uint32_t NN_LShift(std::uint32_t* a, const std::uint32_t* b, std::uint8_t c,
                        std::uint8_t digits);

// a = floor(b / 2^c) for c < 32; returns the bits shifted out at the bottom
// in its high-order bits. c >= 32 writes nothing and returns 0. a MAY equal b.
std::uint32_t NN_RShift(std::uint32_t* a, const std::uint32_t* b, std::uint8_t c,
                        std::uint8_t digits);

// a = (b + c*d) mod 2^(32*digits); returns the carry digit out. c == 0 writes
// nothing and returns 0. a MAY equal b (the form the callers use); a must not
// overlap d.
std::uint32_t NN_AddDigitMult(std::uint32_t* a, const std::uint32_t* b, std::uint32_t c,
                              const std::uint32_t* d, std::uint8_t digits);

// a = (b - c*d) mod 2^(32*digits); returns the borrow digit out (what is still
// to be taken from the digit above). c == 0 writes nothing and returns 0.
// a MAY equal b; a must not overlap d.
std::uint32_t NN_SubDigitMult(std::uint32_t* a, const std::uint32_t* b, std::uint32_t c,
                              const std::uint32_t* d, std::uint8_t digits);

// Long division: a[0..cDigits) = floor(c / d) when a is not null, and
// b[0..dDigits) = c mod d. cDigits <= 2*NUM_DIGITS; d has at most NUM_DIGITS
// significant digits. A zero divisor returns at once and writes neither
// output. Either output MAY equal c or d; a and b must be distinct.
void NN_Div(std::uint32_t* a, std::uint32_t* b, const std::uint32_t* c, std::uint8_t cDigits,
            const std::uint32_t* d, std::uint8_t dDigits);

// a[0] = low 32 bits of (b[1]*2^32 + b[0]) / c. c != 0.
void NN_DigitDiv(std::uint32_t* a, const std::uint32_t b[2], std::uint32_t c);

// ---------------------------------------------------------------------------
// General modular arithmetic. Every count is at most NUM_DIGITS unless said
// otherwise; "reduced" means below the modulus. Every output MAY be the same
// array as any input.
// ---------------------------------------------------------------------------

// a[0..dDigits) = b mod d. bDigits <= 2*NUM_DIGITS. A zero modulus leaves a untouched.
void NN_Mod(std::uint32_t* a, const std::uint32_t* b, std::uint8_t bDigits, const std::uint32_t* d,
            std::uint8_t dDigits);

// a = (b + c) mod d for reduced b and c (one conditional subtraction).
void NN_ModAdd(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
               const std::uint32_t* d, std::uint8_t digits);

// a = (b - c) mod d for reduced b and c.
void NN_ModSub(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
               const std::uint32_t* d, std::uint8_t digits);

// a = b * c mod d; b and c need not be reduced. A zero modulus leaves a untouched.
void NN_ModMult(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
                const std::uint32_t* d, std::uint8_t digits);

// a = b^c mod d, with b and a of dDigits digits and the exponent c of cDigits
// digits (any count up to 255). d != 0. An exponent of 0 gives 1.
void NN_ModExp(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
               std::uint8_t cDigits, const std::uint32_t* d, std::uint8_t dDigits);

// a = b^-1 mod c for gcd(b, c) = 1; b need not be reduced. Not checked: for b
// sharing a factor with c the result is meaningless, and b = 0 gives c itself.
void NN_ModInv(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
               std::uint8_t digits);

// a = gcd(b, c); gcd(x, 0) = x, gcd(0, 0) = 0.
void NN_Gcd(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c, std::uint8_t digits);

// a is reduced in place by repeated subtraction of b while a > b, into
// [0, b] (a value equal to b is left as it is). b != 0; each multiple of b in
// a costs one subtraction, so a should be a small multiple of b.
void NN_ModSmall(std::uint32_t* a, const std::uint32_t* b, std::uint8_t digits);

// ---------------------------------------------------------------------------
// Multiplication with fast reduction modulo d = 2^128 - omega: the product is
// folded with omega_mul of the secp128r2 layer, the one call of nn to a layer
// above it. The curve module multiplies with the field module instead
// (field.h, for secp128r2's p only), which gives the same values and is
// tested against these.
// ---------------------------------------------------------------------------

// a = b * c mod d, in [0, d]: the value d may come out and stands for zero.
// Only digits 0..3 of b and c are read (each taken as below 2^128).
// d must be 2^128 - omega, omega of the form w*2^96 + 1.
// KEY_DIGITS <= digits <= 2*NUM_DIGITS; callers pass NUM_DIGITS.
// a MAY equal b and/or c.
void NN_ModMultOpt(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
                   const std::uint32_t* d, const std::uint32_t* omega, std::uint8_t digits);

// a = b * b mod d, in [0, d]; same contract as NN_ModMultOpt. a MAY equal b.
void NN_ModSqrOpt(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* d,
                  const std::uint32_t* omega, std::uint8_t digits);

// Binary modular division: a = b / c mod d, the r in [0, d-1] with
// r*c = b (mod d). d odd and below 2^(32*digits - 1); c in [1, d-1] coprime to
// d; b in [0, d-1]; digits <= NUM_DIGITS. A divisor of 0 has no quotient:
// a is set to 0. a MAY equal any input.
void NN_ModDivOpt(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
                  const std::uint32_t* d, std::uint8_t digits);

}  // namespace klarvex

#endif  // KLARVEX_NN_H

// Multi-precision unsigned integers of 32-bit digits.

#include "nn.h"

#include <bit>
#include <cassert>
#include <cstring>

#include "secp128r2.h"
#include "words.h"

namespace klarvex {
namespace {

using u32 = std::uint32_t;
using u64 = std::uint64_t;

constexpr u32 kDigitMax = 0xFFFFFFFF;

// t[i..i+yd] += x[i] * y[0..yd) for each i < xd, i.e. t += x * y over the
// significant digits. t must be cleared over xd + yd digits and must not
// overlap x or y. A zero digit of x adds nothing.
inline void mul_rows(u32* t, const u32* x, unsigned xd, const u32* y, unsigned yd) {
    for (unsigned i = 0; i < xd; ++i) {
        const u64 m = x[i];
        if (m == 0) continue;
        u64 c = 0;
        for (unsigned j = 0; j < yd; ++j) {
            c += m * y[j] + t[i + j];
            t[i + j] = static_cast<u32>(c);
            c >>= 32;
        }
        t[i + yd] += static_cast<u32>(c);
    }
}

inline bool is_even(const u32* a, std::uint8_t digits) {
    return digits == 0 || (a[0] & 1) == 0;
}

// x = x / 2 mod m for x in [0, m), m odd: (x + m) / 2 when x is odd, the
// carry of the addition dropped.
inline void halve_mod(u32* x, const u32* m, std::uint8_t digits) {
    if (!is_even(x, digits)) NN_Add(x, x, m, digits);
    NN_RShift(x, x, 1, digits);
}

}  // namespace

// ---------------------------------------------------------------------------
// Representation, conversion and comparison.
// ---------------------------------------------------------------------------

void NN_Decode(std::uint32_t* a, std::uint8_t digits, const std::uint8_t* b, std::uint8_t len) {
    int i = len - 1;
    unsigned j = 0;
    for (; j < digits && i >= 0; ++j) {
        u32 t = 0;
        for (unsigned s = 0; s < 32 && i >= 0; s += 8, --i)
            t |= static_cast<u32>(b[i]) << s;
        a[j] = t;
    }
    for (; j < digits; ++j)
        a[j] = 0;
}

void NN_Encode(std::uint8_t* a, std::uint8_t len, const std::uint32_t* b, std::uint8_t digits) {
    int i = len - 1;
    for (unsigned j = 0; j < digits && i >= 0; ++j) {
        const u32 t = b[j];
        for (unsigned s = 0; s < 32 && i >= 0; s += 8, --i)
            a[i] = static_cast<std::uint8_t>(t >> s);
    }
    for (; i >= 0; --i)
        a[i] = 0;
}

void NN_Assign(std::uint32_t* a, const std::uint32_t* b, std::uint8_t digits) {
    for (unsigned i = 0; i < digits; ++i)
        a[i] = b[i];
}

void NN_AssignZero(std::uint32_t* a, std::uint8_t digits) {
    for (unsigned i = 0; i < digits; ++i)
        a[i] = 0;
}

void NN_Assign2Exp(std::uint32_t* a, std::uint16_t b, std::uint8_t digits) {
    NN_AssignZero(a, digits);
    if (b < 32u * digits) a[b / 32] = u32{1} << (b % 32);
}

void NN_AssignDigit(std::uint32_t* a, std::uint32_t b, std::uint8_t digits) {
    assert(digits >= 1);
    NN_AssignZero(a, digits);
    a[0] = b;
}

int NN_Cmp(const std::uint32_t* a, const std::uint32_t* b, std::uint8_t digits) {
    for (int i = digits - 1; i >= 0; --i) {
        if (a[i] > b[i]) return 1;
        if (a[i] < b[i]) return -1;
    }
    return 0;
}

int NN_Equal(const std::uint32_t* a, const std::uint32_t* b, std::uint8_t digits) {
    return NN_Cmp(a, b, digits) == 0;
}

int NN_Zero(const std::uint32_t* a, std::uint8_t digits) {
    for (unsigned i = 0; i < digits; ++i) {
        if (a[i] != 0) return 0;
    }
    return 1;
}

int NN_One(const std::uint32_t* a, std::uint8_t digits) {
    if (digits == 0 || a[0] != 1) return 0;
    return NN_Zero(a + 1, static_cast<std::uint8_t>(digits - 1));
}

unsigned int NN_Bits(const std::uint32_t* a, std::uint8_t digits) {
    const unsigned d = NN_Digits(a, digits);
    return d == 0 ? 0 : 32 * (d - 1) + NN_DigitBits(a[d - 1]);
}

unsigned int NN_Digits(const std::uint32_t* a, std::uint8_t digits) {
    unsigned d = digits;
    while (d > 0 && a[d - 1] == 0)
        --d;
    return d;
}

unsigned int NN_DigitBits(std::uint32_t a) {
    return static_cast<unsigned>(std::bit_width(a));
}

// ---------------------------------------------------------------------------
// Digit arithmetic.
// ---------------------------------------------------------------------------

std::uint32_t NN_Add(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
                     std::uint8_t digits) {
    u64 s = 0;
    for (unsigned i = 0; i < digits; ++i) {
        s += static_cast<u64>(b[i]) + c[i];
        a[i] = static_cast<u32>(s);
        s >>= 32;
    }
    return static_cast<u32>(s);
}

std::uint32_t NN_Sub(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
                     std::uint8_t digits) {
    u64 d = 0;
    for (unsigned i = 0; i < digits; ++i) {
        d = static_cast<u64>(b[i]) - c[i] - d;
        a[i] = static_cast<u32>(d);
        d = (d >> 32) & 1;
    }
    return static_cast<u32>(d);
}

void NN_Mult(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
             std::uint8_t digits) {
    assert(digits <= NUM_DIGITS);
    u32 t[2 * NUM_DIGITS] = {};
    mul_rows(t, b, NN_Digits(b, digits), c, NN_Digits(c, digits));
    NN_Assign(a, t, static_cast<std::uint8_t>(2 * digits));
}

void NN_Sqr(std::uint32_t* a, const std::uint32_t* b, std::uint8_t digits) {
    assert(digits <= NUM_DIGITS);
    u32 t[2 * NUM_DIGITS] = {};
    const unsigned bd = NN_Digits(b, digits);
    mul_rows(t, b, bd, b, bd);
    NN_Assign(a, t, static_cast<std::uint8_t>(2 * digits));
}

std::uint32_t NN_LShift(std::uint32_t* a, const std::uint32_t* b, std::uint8_t c,
                        std::uint8_t digits) {
    if (c >= 32) return 0;
    if (c == 0) {
        NN_Assign(a, b, digits);
        return 0;
    }
    const unsigned t = 32 - c;
    u32 carry = 0;
    for (unsigned i = 0; i < digits; ++i) {
        const u32 x = b[i];
        a[i] = (x << c) | carry;
        carry = x >> t;
    }
    return carry;
}

std::uint32_t NN_RShift(std::uint32_t* a, const std::uint32_t* b, std::uint8_t c,
                        std::uint8_t digits) {
    if (c >= 32) return 0;
    if (c == 0) {
        NN_Assign(a, b, digits);
        return 0;
    }
    const unsigned t = 32 - c;
    u32 carry = 0;
    for (int i = digits - 1; i >= 0; --i) {
        const u32 x = b[i];
        a[i] = (x >> c) | carry;
        carry = x << t;
    }
    return carry;
}

std::uint32_t NN_AddDigitMult(std::uint32_t* a, const std::uint32_t* b, std::uint32_t c,
                              const std::uint32_t* d, std::uint8_t digits) {
    if (c == 0) return 0;
    // b[i] + c*d[i] + carry <= 2^64 - 1, so the carry stays one digit.
    u64 t = 0;
    for (unsigned i = 0; i < digits; ++i) {
        t += static_cast<u64>(c) * d[i] + b[i];
        a[i] = static_cast<u32>(t);
        t >>= 32;
    }
    return static_cast<u32>(t);
}

std::uint32_t NN_SubDigitMult(std::uint32_t* a, const std::uint32_t* b, std::uint32_t c,
                              const std::uint32_t* d, std::uint8_t digits) {
    if (c == 0) return 0;
    // c*d[i] + borrow <= 2^64 - 2^32, so the borrow stays one digit.
    u32 borrow = 0;
    for (unsigned i = 0; i < digits; ++i) {
        const u64 p = static_cast<u64>(c) * d[i] + borrow;
        const u32 lo = static_cast<u32>(p);
        const u32 x = b[i];
        a[i] = x - lo;
        borrow = static_cast<u32>(p >> 32) + (x < lo);
    }
    return borrow;
}

void NN_Div(std::uint32_t* a, std::uint32_t* b, const std::uint32_t* c, std::uint8_t cDigits,
            const std::uint32_t* d, std::uint8_t dDigits) {
    assert(a != b);
    assert(cDigits <= 2 * NUM_DIGITS);
    const unsigned dd = NN_Digits(d, dDigits);
    if (dd == 0) return;
    assert(dd <= NUM_DIGITS);

    // Normalise: shift both so that the divisor's top digit has bit 31 set.
    const auto shift = static_cast<std::uint8_t>(32 - NN_DigitBits(d[dd - 1]));
    u32 r[2 * NUM_DIGITS + 1];
    u32 dn[NUM_DIGITS] = {};
    NN_AssignZero(r, static_cast<std::uint8_t>(dd));
    r[cDigits] = NN_LShift(r, c, shift, cDigits);
    NN_LShift(dn, d, shift, static_cast<std::uint8_t>(dd));
    const u32 t = dn[dd - 1];

    if (a != nullptr) NN_AssignZero(a, cDigits);
    for (int i = static_cast<int>(cDigits) - static_cast<int>(dd); i >= 0; --i) {
        u32* w = r + i;
        // q = floor(w[dd..dd-1] / (t + 1)) never exceeds the true quotient digit
        // and, with t >= 2^31, falls short of it by at most three.
        u32 q;
        if (t == kDigitMax) {
            q = w[dd];
        } else {
            const u32 top[2] = {w[dd - 1], w[dd]};
            NN_DigitDiv(&q, top, t + 1);
        }
        w[dd] -= NN_SubDigitMult(w, w, q, dn, static_cast<std::uint8_t>(dd));
        while (w[dd] != 0 || NN_Cmp(w, dn, static_cast<std::uint8_t>(dd)) >= 0) {
            ++q;
            w[dd] -= NN_Sub(w, w, dn, static_cast<std::uint8_t>(dd));
        }
        if (a != nullptr) a[i] = q;
    }

    NN_AssignZero(b, dDigits);
    NN_RShift(b, r, shift, static_cast<std::uint8_t>(dd));
}

void NN_DigitDiv(std::uint32_t* a, const std::uint32_t b[2], std::uint32_t c) {
    assert(c != 0);
    *a = static_cast<u32>(((static_cast<u64>(b[1]) << 32) | b[0]) / c);
}

// ---------------------------------------------------------------------------
// General modular arithmetic.
// ---------------------------------------------------------------------------

void NN_Mod(std::uint32_t* a, const std::uint32_t* b, std::uint8_t bDigits, const std::uint32_t* d,
            std::uint8_t dDigits) {
    NN_Div(nullptr, a, b, bDigits, d, dDigits);
}

void NN_ModAdd(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
               const std::uint32_t* d, std::uint8_t digits) {
    assert(digits <= NUM_DIGITS);
    u32 t[NUM_DIGITS];
    const u32 carry = NN_Add(t, b, c, digits);
    if (carry != 0 || NN_Cmp(t, d, digits) >= 0) {
        NN_Sub(a, t, d, digits);
    } else {
        NN_Assign(a, t, digits);
    }
}

void NN_ModSub(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
               const std::uint32_t* d, std::uint8_t digits) {
    assert(digits <= NUM_DIGITS);
    u32 t[NUM_DIGITS];
    if (NN_Sub(t, b, c, digits) != 0) {
        NN_Add(a, t, d, digits);
    } else {
        NN_Assign(a, t, digits);
    }
}

void NN_ModMult(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
                const std::uint32_t* d, std::uint8_t digits) {
    assert(digits <= NUM_DIGITS);
    u32 t[2 * NUM_DIGITS] = {};
    mul_rows(t, b, NN_Digits(b, digits), c, NN_Digits(c, digits));
    NN_Mod(a, t, static_cast<std::uint8_t>(2 * digits), d, digits);
}

void NN_ModExp(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
               std::uint8_t cDigits, const std::uint32_t* d, std::uint8_t dDigits) {
    assert(dDigits >= 1 && dDigits <= NUM_DIGITS);
    // pw[s - 1] = b^s for s = 1, 2, 3; b^1 is b itself, unreduced (a is
    // written only at the end, so b stays intact).
    u32 b2[NUM_DIGITS], b3[NUM_DIGITS];
    u32 t[NUM_DIGITS];
    NN_ModMult(b2, b, b, d, dDigits);
    NN_ModMult(b3, b2, b, d, dDigits);
    const u32* const pw[3] = {b, b2, b3};
    NN_AssignDigit(t, 1, dDigits);

    // Left to right, two exponent bits at a time, from the top nonzero pair.
    const int e = static_cast<int>(NN_Digits(c, cDigits));
    for (int i = e - 1; i >= 0; --i) {
        u32 ci = c[i];
        unsigned bits = 32;
        if (i == e - 1) {
            while ((ci & 0xC0000000) == 0) {
                ci <<= 2;
                bits -= 2;
            }
        }
        for (; bits > 0; bits -= 2, ci <<= 2) {
            NN_ModMult(t, t, t, d, dDigits);
            NN_ModMult(t, t, t, d, dDigits);
            const unsigned s = ci >> 30;
            if (s != 0) NN_ModMult(t, t, pw[s - 1], d, dDigits);
        }
    }
    NN_Assign(a, t, dDigits);
}

namespace {

using words::u128;

// q = a / b, r = a mod b for b != 0. Quotients of 1 to 3, the common ones in
// Euclid's algorithm, come by subtraction.
inline void divmod128(u128 a, u128 b, u128* q, u128* r) {
    u128 t = a;
    for (unsigned i = 0; i < 4; ++i) {
        if (t < b) {
            *q = i;
            *r = t;
            return;
        }
        t -= b;
    }
    if ((a >> 64) == 0) {
        const auto x = static_cast<u64>(a), y = static_cast<u64>(b);
        *q = x / y;
        *r = x % y;
        return;
    }
    *q = a / b;
    *r = a - *q * b;
}

/*
 * NN_ModInv over NUM_DIGITS digits for x and m below 2^128: the same steps
 * on 128-bit words, with the same result for every input. The coefficient
 * magnitudes never exceed m (|s_i| <= m / r_(i-1) in the extended Euclidean
 * algorithm, and the last one is m / gcd(x, m)), so no sum or product wraps
 * and m - c_old never borrows.
 */
void mod_inv128(u32* a, const u32* x, const u32* mod) {
    const u128 m = words::ld128(mod);
    u128 c_old = 1, c_new = 0, r_old = words::ld128(x), r_new = m;
    bool negative = false;
    while (r_new != 0) {
        // q = r_old / r_new, r = r_old mod r_new; c = c_old + q*c_new
        u128 q, r, c;
        divmod128(r_old, r_new, &q, &r);
        if (q == 1) {
            c = c_old + c_new;
        } else if ((q >> 64) == 0 && (c_new >> 64) == 0) {
            c = c_old + static_cast<u128>(static_cast<u64>(q)) * static_cast<u64>(c_new);
        } else {
            c = c_old + q * c_new;
        }
        assert(c >= c_old && c <= m && (c_new == 0 || (c - c_old) / c_new == q));
        c_old = c_new;
        c_new = c;
        r_old = r_new;
        r_new = r;
        negative = !negative;
    }
    words::st128(a, negative ? m - c_old : c_old, 0);
}

}  // namespace

void NN_ModInv(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
               std::uint8_t digits) {
    assert(digits >= 1 && digits <= NUM_DIGITS);
    if (digits == NUM_DIGITS && b[4] == 0 && c[4] == 0) {
        mod_inv128(a, b, c);
        return;
    }
    // Extended Euclid on (b, c), tracking only the coefficients of b. Their
    // signs alternate, so magnitudes are kept and the sign of the last one
    // is the parity of the step count.
    u32 cbuf[3][NUM_DIGITS];
    u32 rbuf[3][NUM_DIGITS];
    u32 q[NUM_DIGITS];
    u32 w[2 * NUM_DIGITS];
    u32* c_old = cbuf[0];
    u32* c_new = cbuf[1];
    u32* c_next = cbuf[2];
    u32* r_old = rbuf[0];
    u32* r_new = rbuf[1];
    u32* r_next = rbuf[2];
    NN_AssignDigit(c_old, 1, digits);
    NN_AssignZero(c_new, digits);
    NN_Assign(r_old, b, digits);
    NN_Assign(r_new, c, digits);
    bool negative = false;

    while (!NN_Zero(r_new, digits)) {
        // q = r_old / r_new, r_next = r_old mod r_new; c_next = c_old + q*c_new
        NN_Div(q, r_next, r_old, digits, r_new, digits);
        NN_Mult(w, q, c_new, digits);
        NN_Add(c_next, c_old, w, digits);
        u32* s = c_old;
        c_old = c_new;
        c_new = c_next;
        c_next = s;
        s = r_old;
        r_old = r_new;
        r_new = r_next;
        r_next = s;
        negative = !negative;
    }

    if (negative) {
        NN_Sub(a, c, c_old, digits);
    } else {
        NN_Assign(a, c_old, digits);
    }
}

void NN_Gcd(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c, std::uint8_t digits) {
    assert(digits <= NUM_DIGITS);
    u32 buf[3][NUM_DIGITS];
    u32* u = buf[0];
    u32* v = buf[1];
    u32* t = buf[2];
    NN_Assign(u, b, digits);
    NN_Assign(v, c, digits);
    while (!NN_Zero(v, digits)) {
        NN_Mod(t, u, digits, v, digits);
        u32* s = u;
        u = v;
        v = t;
        t = s;
    }
    NN_Assign(a, u, digits);
}

void NN_ModSmall(std::uint32_t* a, const std::uint32_t* b, std::uint8_t digits) {
    assert(!NN_Zero(b, digits));
    while (NN_Cmp(a, b, digits) > 0)
        NN_Sub(a, a, b, digits);
}

// ---------------------------------------------------------------------------
// Multiplication with fast reduction modulo d = 2^128 - omega.
// ---------------------------------------------------------------------------

namespace {

// a = c mod d in [0, d] for c = the product in c[0..8), c[8] = c[9] = 0.
// Writing c = h*2^128 + l, each pass replaces c by l + h*omega, which is
// congruent mod d = 2^128 - omega and smaller while h != 0; at most six passes
// bring a product of two numbers below 2^128 under 2^128 < 2d, after which one
// subtraction at most is needed. A c equal to d is left as it is. Every pass
// folds four digits of h into an eight-digit t and adds it over nine digits;
// the ninth takes the carry, and c stays below 2^226.
void fold_reduce(u32* a, u32* c, const u32* d, const u32* omega, std::uint8_t digits) {
    constexpr std::uint8_t kLen = 2 * KEY_DIGITS;
    u32 t[2 * NUM_DIGITS];
    t[kLen] = t[kLen + 1] = 0;
    while (!NN_Zero(c + KEY_DIGITS, KEY_DIGITS)) {
        // t = h*omega; c = l + t
        for (unsigned i = 0; i < kLen; ++i)
            t[i] = 0;
        [[maybe_unused]] const std::uint8_t len = omega_mul(t, c + KEY_DIGITS, omega, KEY_DIGITS);
        assert(len == kLen);
        for (unsigned i = KEY_DIGITS; i < kLen; ++i)
            c[i] = 0;
        NN_Add(c, c, t, kLen + 1);
    }
    while (NN_Cmp(c, d, digits) > 0)
        NN_Sub(c, c, d, digits);
    NN_Assign(a, c, digits);
}

}  // namespace

void NN_ModMultOpt(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
                   const std::uint32_t* d, const std::uint32_t* omega, std::uint8_t digits) {
    assert(digits >= KEY_DIGITS && digits <= 2 * NUM_DIGITS);
    u32 t[2 * NUM_DIGITS] = {};
    mul_rows(t, b, NN_Digits(b, KEY_DIGITS), c, NN_Digits(c, KEY_DIGITS));
    fold_reduce(a, t, d, omega, digits);
}

void NN_ModSqrOpt(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* d,
                  const std::uint32_t* omega, std::uint8_t digits) {
    assert(digits >= KEY_DIGITS && digits <= 2 * NUM_DIGITS);
    u32 t[2 * NUM_DIGITS] = {};
    const unsigned bd = NN_Digits(b, KEY_DIGITS);
    mul_rows(t, b, bd, b, bd);
    fold_reduce(a, t, d, omega, digits);
}

void NN_ModDivOpt(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* c,
                  const std::uint32_t* d, std::uint8_t digits) {
    assert(digits <= NUM_DIGITS);
    assert(!is_even(d, digits));
    // u and v never meet when c = 0; there is no quotient to give.
    if (NN_Zero(c, digits)) {
        NN_AssignZero(a, digits);
        return;
    }

    // Invariants: xu*c = u*b and xv*c = v*b (mod d); xu, xv in [0, d).
    u32 u[NUM_DIGITS], v[NUM_DIGITS], xu[NUM_DIGITS], xv[NUM_DIGITS];
    NN_Assign(u, c, digits);
    NN_Assign(v, d, digits);
    NN_Assign(xu, b, digits);
    NN_AssignZero(xv, digits);

    for (int cmp; (cmp = NN_Cmp(u, v, digits)) != 0;) {
        if (is_even(u, digits)) {
            NN_RShift(u, u, 1, digits);
            halve_mod(xu, d, digits);
        } else if (is_even(v, digits)) {
            NN_RShift(v, v, 1, digits);
            halve_mod(xv, d, digits);
        } else if (cmp > 0) {
            // u = (u - v)/2, xu = (xu - xv)/2 mod d
            NN_Sub(u, u, v, digits);
            NN_RShift(u, u, 1, digits);
            if (NN_Cmp(xu, xv, digits) < 0) NN_Add(xu, xu, d, digits);
            NN_Sub(xu, xu, xv, digits);
            halve_mod(xu, d, digits);
        } else {
            // v = (v - u)/2, xv = (xv - xu)/2 mod d
            NN_Sub(v, v, u, digits);
            NN_RShift(v, v, 1, digits);
            if (NN_Cmp(xv, xu, digits) < 0) NN_Add(xv, xv, d, digits);
            NN_Sub(xv, xv, xu, digits);
            halve_mod(xv, d, digits);
        }
    }
    NN_Assign(a, xu, digits);
}

}  // namespace klarvex

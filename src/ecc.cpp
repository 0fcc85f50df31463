// Point arithmetic on secp128r2: Jacobian doubling and addition, fixed-window
// scalar multiplication over affine tables.

#include "ecc.h"

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "field_inline.h"

namespace klarvex {

namespace {

CurveParams param;
Point pBaseArray[WINDOW_TABLE_SIZE];
std::uint32_t mask[8];

constexpr std::uint32_t kOne[NUM_DIGITS] = {1, 0, 0, 0, 0};

using field::kP;
using field::ld128;
using field::st128;
using field::u128;
using u32 = std::uint32_t;

/* Field operations modulo p. Inputs and outputs lie in [0, p], digit 4 zero.
 * Each computes exactly what the NN operation named beside it computes over
 * NUM_DIGITS digits, on 128-bit words; an operand with a nonzero digit 4
 * (never a field element) is handed to that NN operation itself. */

// NN_ModMultOpt and NN_ModSqrOpt modulo p with omega.
inline void f_mul(u32* r, const u32* a, const u32* b) {
    field::fp_mul(r, a, b);
}
inline void f_sqr(u32* r, const u32* a) {
    field::fp_sqr(r, a);
}
// NN_ModAdd: t = a + b, less p when t >= p.
inline void f_add(u32* r, const u32* a, const u32* b) {
    if ((a[4] | b[4]) != 0) {
        NN_ModAdd(r, a, b, param.p, NUM_DIGITS);
        return;
    }
    const u128 x = ld128(a);
    u128 t = x + ld128(b);
    u32 top = t < x;
    if (top != 0 || t >= kP) {
        top -= t < kP;
        t -= kP;
    }
    st128(r, t, top);
}
// NN_ModSub: t = a - b mod 2^160, plus p (mod 2^160) when it borrowed.
inline void f_sub(u32* r, const u32* a, const u32* b) {
    if ((a[4] | b[4]) != 0) {
        NN_ModSub(r, a, b, param.p, NUM_DIGITS);
        return;
    }
    const u128 x = ld128(a), y = ld128(b);
    u128 t = x - y;
    u32 top = 0;
    if (x < y) {
        const u128 u = t + kP;
        top = u < t ? 0 : 0xFFFFFFFF;
        t = u;
    }
    st128(r, t, top);
}
/* r = 2^s * a for s = 1..3: NN_LShift, then NN_ModSmall subtracts p while the
 * value v exceeds p. That leaves 0 for v = 0 and otherwise the value in
 * [1, p] congruent to v. With v = h*2^128 + l, h < 8, the sum l + h*omega is
 * congruent, positive for v != 0 and below 2p: one subtraction at most. */
inline void f_shl(u32* r, const u32* a, std::uint8_t s) {
    assert(s >= 1 && s <= 3);
    if (a[4] != 0) {
        NN_LShift(r, a, s, NUM_DIGITS);
        NN_ModSmall(r, param.p, NUM_DIGITS);
        return;
    }
    const u128 x = ld128(a);
    const u128 h = x >> (128 - s);
    const u128 f = h << 97 | h;  // h*omega
    u128 t = (x << s) + f;
    if (t < f || t > kP) t -= kP;
    st128(r, t, 0);
}
// r = a / 2: (a + p) / 2 for odd a, the sum carrying into digit 4.
inline void f_half(u32* r, const u32* a) {
    if (a[4] != 0) {
        if (a[0] & 1) {
            NN_Add(r, a, param.p, NUM_DIGITS);
            NN_RShift(r, r, 1, NUM_DIGITS);
        } else {
            NN_RShift(r, a, 1, NUM_DIGITS);
        }
        return;
    }
    u128 x = ld128(a);
    if (x & 1) {
        const u128 t = x + kP;
        x = (t >> 1) | static_cast<u128>(t < x) << 127;
    } else {
        x >>= 1;
    }
    st128(r, x, 0);
}
// A field element is zero when it is 0 or p: the multiplications and the
// small multiples may leave p, and a coordinate given as p is zero as well.
inline bool f_iszero(const u32* a) {
    if (a[4] != 0) return false;
    const u128 x = ld128(a);
    return x == 0 || x == kP;
}

void p_clear(Point* P) {
    NN_AssignZero(P->x, NUM_DIGITS);
    NN_AssignZero(P->y, NUM_DIGITS);
}

void p_copy(Point* dst, const Point* src) {
    NN_Assign(dst->x, src->x, NUM_DIGITS);
    NN_Assign(dst->y, src->y, NUM_DIGITS);
}

// The affine point at infinity, (0, 0).
int p_iszero(const Point* P) {
    return f_iszero(P->x) && f_iszero(P->y);
}

int p_equal(const Point* P, const Point* Q) {
    return NN_Equal(P->x, Q->x, NUM_DIGITS) && NN_Equal(P->y, Q->y, NUM_DIGITS);
}

int Z_is_one(const std::uint32_t* Z) {
    for (int i = 1; i < NUM_DIGITS; ++i) {
        if (Z[i] != 0) return 0;
    }
    return Z[0] == 1;
}

std::uint32_t b_testbit(const std::uint32_t* a, std::int16_t i) {
    assert(i >= 0 && i < 32 * NUM_DIGITS);
    return a[i / 32] & (std::uint32_t{1} << (i % 32));
}

[[maybe_unused]] bool disjoint(const void* a, std::size_t na, const void* b, std::size_t nb) {
    const auto pa = reinterpret_cast<std::uintptr_t>(a);
    const auto pb = reinterpret_cast<std::uintptr_t>(b);
    return pa + na <= pb || pb + nb <= pa;
}

// (X, Y, Z) -> (X/Z^2, Y/Z^3), using up Z. The point at infinity comes
// out as exactly (0, 0).
void to_affine(Point* P, std::uint32_t* Z) {
    std::uint32_t I[NUM_DIGITS];
    if (Z_is_one(Z)) return;
    if (f_iszero(Z)) {
        p_clear(P);
        return;
    }
    NN_ModInv(I, Z, param.p, NUM_DIGITS);  // I = 1/Z
    f_sqr(Z, I);                           // Z = 1/Z^2
    f_mul(P->x, P->x, Z);                  // x = X/Z^2
    f_mul(Z, Z, I);                        // Z = 1/Z^3
    f_mul(P->y, P->y, Z);                  // y = Y/Z^3
}

// (X3, Y3, Z3) = (X1, Y1, Z1) + (x2, y2). The result may be the projective
// operand's arrays, not the affine operand's.
void c_add_mix(Point* P3, std::uint32_t* Z3, const Point* P1, const std::uint32_t* Z1,
               const Point* P2) {
    std::uint32_t A[NUM_DIGITS], B[NUM_DIGITS], C[NUM_DIGITS], D[NUM_DIGITS];
    std::uint32_t H[NUM_DIGITS], R[NUM_DIGITS];

    assert(P3 != P2);
    /* An affine (0, 0) is the point at infinity and leaves the projective
     * operand as it is, infinite or not; only then an infinite projective
     * operand gives the affine one with Z = 1. */
    if (p_iszero(P2)) {
        p_copy(P3, P1);
        NN_Assign(Z3, Z1, NUM_DIGITS);
        return;
    }
    if (f_iszero(Z1)) {
        p_copy(P3, P2);
        NN_AssignDigit(Z3, 1, NUM_DIGITS);
        return;
    }
    f_sqr(A, Z1);        // A = Z1^2
    f_mul(B, A, Z1);     // B = Z1^3
    f_mul(A, A, P2->x);  // A = x2*Z1^2
    f_mul(B, B, P2->y);  // B = y2*Z1^3
    f_sub(H, A, P1->x);  // H = x2*Z1^2 - X1
    f_sub(R, B, P1->y);  // R = y2*Z1^3 - Y1
    /* H = 0: both operands have the same x. Equal y makes them the same
     * point, to be doubled (the slope is the tangent's, not the chord's);
     * otherwise they are each other's negatives and the sum is infinity. */
    if (f_iszero(H)) {
        if (f_iszero(R)) {
            ecc_dbl_proj(P3, Z3, P2, kOne);
        } else {
            NN_AssignZero(Z3, NUM_DIGITS);
        }
        return;
    }
    f_mul(Z3, Z1, H);        // Z3 = Z1*H
    f_sqr(C, H);             // C = H^2
    f_mul(D, C, H);          // D = H^3
    f_mul(C, C, P1->x);      // C = X1*H^2
    f_shl(A, C, 1);          // A = 2*X1*H^2
    f_sqr(P3->x, R);         // X3 = R^2
    f_sub(P3->x, P3->x, A);  // X3 = R^2 - 2*X1*H^2
    f_sub(P3->x, P3->x, D);  // X3 = R^2 - 2*X1*H^2 - H^3
    f_sub(C, C, P3->x);      // C = X1*H^2 - X3
    f_mul(C, C, R);          // C = R*(X1*H^2 - X3)
    f_mul(D, D, P1->y);      // D = Y1*H^3
    f_sub(P3->y, C, D);      // Y3 = R*(X1*H^2 - X3) - Y1*H^3
}

}  // namespace

void ecc_get_order(std::uint32_t* order) {
    NN_Assign(order, param.order, NUM_DIGITS);
}

const Point* ecc_get_base_p() {
    return &param.G;
}

void ecc_dbl_proj(Point* P0, std::uint32_t* Z0, const Point* P1, const std::uint32_t* Z1) {
    std::uint32_t A[NUM_DIGITS], B[NUM_DIGITS], M[NUM_DIGITS], S[NUM_DIGITS], T[NUM_DIGITS];

    if (f_iszero(Z1)) {
        NN_AssignZero(Z0, NUM_DIGITS);
        return;
    }
    const bool z1_one = Z_is_one(Z1);
    if (z1_one) {
        f_sqr(A, P1->x);       // A = X1^2
        f_shl(B, A, 1);        // B = 2*X1^2
        f_add(A, A, B);        // A = 3*X1^2
        f_add(M, A, param.a);  // M = 3*X1^2 + a
    } else if (param.a_minus3) {
        std::uint32_t C[NUM_DIGITS];
        f_sqr(B, Z1);        // B = Z1^2
        f_add(A, P1->x, B);  // A = X1 + Z1^2
        f_sub(C, P1->x, B);  // C = X1 - Z1^2
        f_mul(B, A, C);      // B = X1^2 - Z1^4
        f_shl(A, B, 1);      // A = 2*(X1^2 - Z1^4)
        f_add(M, A, B);      // M = 3*(X1^2 - Z1^4)
    } else if (param.a_zero) {
        f_sqr(A, P1->x);  // A = X1^2
        f_shl(B, A, 1);   // B = 2*X1^2
        f_add(M, A, B);   // M = 3*X1^2
    } else {
        f_sqr(A, P1->x);       // A = X1^2
        f_shl(B, A, 1);        // B = 2*X1^2
        f_add(A, A, B);        // A = 3*X1^2
        f_sqr(B, Z1);          // B = Z1^2
        f_sqr(B, B);           // B = Z1^4
        f_mul(B, B, param.a);  // B = a*Z1^4
        f_add(M, B, A);        // M = 3*X1^2 + a*Z1^4
    }
    /* A point with y = 0 has a vertical tangent: Z3 = 2*Y1*Z1 = 0 makes its
     * double the point at infinity without a test. */
    if (z1_one) {
        f_shl(Z0, P1->y, 1);  // Z3 = 2*Y1
    } else {
        f_mul(A, P1->y, Z1);  // A = Y1*Z1
        f_shl(Z0, A, 1);      // Z3 = 2*Y1*Z1
    }
    f_sqr(T, P1->y);         // T = Y1^2
    f_mul(S, P1->x, T);      // S = X1*Y1^2
    f_shl(S, S, 2);          // S = 4*X1*Y1^2
    f_shl(A, S, 1);          // A = 2*S
    f_sqr(P0->x, M);         // X3 = M^2
    f_sub(P0->x, P0->x, A);  // X3 = M^2 - 2*S
    f_sqr(A, T);             // A = Y1^4
    f_shl(T, A, 3);          // T = 8*Y1^4
    f_sub(A, S, P0->x);      // A = S - X3
    f_mul(A, M, A);          // A = M*(S - X3)
    f_sub(P0->y, A, T);      // Y3 = M*(S - X3) - 8*Y1^4
}

void ecc_m_dbl_projective(Point* P0, std::uint32_t* Z0, std::uint8_t m) {
    std::uint32_t A[NUM_DIGITS], B[NUM_DIGITS], M[NUM_DIGITS], S[NUM_DIGITS], T[NUM_DIGITS];
    std::uint32_t W[NUM_DIGITS];
    std::uint32_t* X = P0->x;
    std::uint32_t* Y = P0->y;

    if (f_iszero(Z0)) return;
    /* Y holds 2*y until the final halving. A pass is one doubling; one that
     * reaches y = 0 sets Z = 0, and Z stays 0 through the passes left. */
    f_shl(Y, Y, 1);  // Y = 2*y
    f_sqr(W, Z0);    // W = Z^2
    f_sqr(W, W);     // W = Z^4
    for (std::uint8_t i = 0; i < m; ++i) {
        if (param.a_minus3) {
            f_sqr(A, X);     // A = X^2
            f_sub(A, A, W);  // A = X^2 - Z^4
            f_shl(B, A, 1);  // B = 2*(X^2 - Z^4)
            f_add(M, A, B);  // M = 3*(X^2 - Z^4)
        } else if (param.a_zero) {
            f_sqr(B, X);     // B = X^2
            f_shl(A, B, 1);  // A = 2*X^2
            f_add(M, A, B);  // M = 3*X^2
        } else {
            f_sqr(B, X);           // B = X^2
            f_shl(A, B, 1);        // A = 2*X^2
            f_add(A, A, B);        // A = 3*X^2
            f_mul(B, param.a, W);  // B = a*Z^4
            f_add(M, A, B);        // M = 3*X^2 + a*Z^4
        }
        f_sqr(T, Y);       // T = 4*y^2
        f_mul(S, X, T);    // S = 4*X*y^2
        f_sqr(X, M);       // X' = M^2
        f_shl(A, S, 1);    // A = 2*S
        f_sub(X, X, A);    // X' = M^2 - 2*S
        f_mul(Z0, Z0, Y);  // Z' = 2*y*Z
        f_sqr(T, T);       // T = 16*y^4
        if (i < m - 1) {
            f_mul(W, W, T);  // W = 16*y^4*Z^4 = Z'^4
        }
        f_shl(M, M, 1);  // M = 2*M
        f_sub(S, S, X);  // S = S - X'
        f_mul(M, M, S);  // M = 2*M*(S - X')
        f_sub(Y, M, T);  // Y' = 2*(M*(S - X') - 8*y^4)
    }
    f_half(Y, Y);  // y = Y/2
}

void ecc_add(Point* P0, const Point* P1, const Point* P2) {
    std::uint32_t Z[NUM_DIGITS], Z1[NUM_DIGITS];

    assert(P0 != P1 && P0 != P2);
    p_clear(P0);
    NN_AssignZero(Z, NUM_DIGITS);
    /* (0, 0) as first operand is the point at infinity too: entering it with
     * Z = 0 makes the sum the second operand. */
    if (p_iszero(P1)) {
        NN_AssignZero(Z1, NUM_DIGITS);
    } else {
        NN_AssignDigit(Z1, 1, NUM_DIGITS);
    }
    c_add_mix(P0, Z, P1, Z1, P2);
    to_affine(P0, Z);
}

void ecc_add_proj(Point* P0, std::uint32_t* Z0, const Point* P1, const std::uint32_t* Z1,
                  const Point* P2, const std::uint32_t* Z2) {
    std::uint32_t A[NUM_DIGITS], C[NUM_DIGITS], D[NUM_DIGITS], E[NUM_DIGITS];
    std::uint32_t H[NUM_DIGITS], R[NUM_DIGITS], T[NUM_DIGITS], M[NUM_DIGITS];
    std::uint32_t U1b[NUM_DIGITS], S1b[NUM_DIGITS], U2b[NUM_DIGITS], S2b[NUM_DIGITS];

    if (f_iszero(Z1)) {
        p_copy(P0, P2);
        NN_Assign(Z0, Z2, NUM_DIGITS);
        return;
    }
    if (f_iszero(Z2)) {
        p_copy(P0, P1);
        NN_Assign(Z0, Z1, NUM_DIGITS);
        return;
    }
    /* Identical triples are the same point. Equal X and Y under different Z
     * are different points, e.g. (X, Y, -Z) = -(X, Y, Z): those go through
     * the general formulas, which sort out equal and opposite points. */
    if (p_equal(P1, P2) && NN_Equal(Z1, Z2, NUM_DIGITS)) {
        ecc_dbl_proj(P0, Z0, P1, Z1);
        return;
    }
    const bool z1_one = Z_is_one(Z1);
    const bool z2_one = Z_is_one(Z2);
    const std::uint32_t* U1 = P1->x;
    const std::uint32_t* S1 = P1->y;
    const std::uint32_t* U2 = P2->x;
    const std::uint32_t* S2 = P2->y;
    if (!z2_one) {
        f_sqr(A, Z2);          // A = Z2^2
        f_mul(U1b, P1->x, A);  // U1 = X1*Z2^2
        f_mul(A, A, Z2);       // A = Z2^3
        f_mul(S1b, P1->y, A);  // S1 = Y1*Z2^3
        U1 = U1b;
        S1 = S1b;
    }
    if (!z1_one) {
        f_sqr(A, Z1);          // A = Z1^2
        f_mul(U2b, P2->x, A);  // U2 = X2*Z1^2
        f_mul(A, A, Z1);       // A = Z1^3
        f_mul(S2b, P2->y, A);  // S2 = Y2*Z1^3
        U2 = U2b;
        S2 = S2b;
    }
    f_sub(H, U1, U2);  // H = U1 - U2
    f_sub(R, S1, S2);  // R = S1 - S2
    /* Same x: the same point (R = 0), doubled, or opposite points. */
    if (f_iszero(H)) {
        if (f_iszero(R)) {
            ecc_dbl_proj(P0, Z0, P1, Z1);
        } else {
            NN_AssignZero(Z0, NUM_DIGITS);
        }
        return;
    }
    f_add(T, U1, U2);  // T = U1 + U2
    f_add(M, S1, S2);  // M = S1 + S2
    if (z1_one && z2_one) {
        NN_Assign(Z0, H, NUM_DIGITS);  // Z3 = H
    } else if (z1_one) {
        f_mul(Z0, Z2, H);  // Z3 = Z2*H
    } else if (z2_one) {
        f_mul(Z0, Z1, H);  // Z3 = Z1*H
    } else {
        f_mul(A, Z1, Z2);  // A = Z1*Z2
        f_mul(Z0, A, H);   // Z3 = Z1*Z2*H
    }
    f_sqr(A, R);         // A = R^2
    f_sqr(C, H);         // C = H^2
    f_mul(D, T, C);      // D = T*H^2
    f_sub(P0->x, A, D);  // X3 = R^2 - T*H^2
    f_shl(A, P0->x, 1);  // A = 2*X3
    f_sub(A, D, A);      // A = T*H^2 - 2*X3
    f_mul(A, A, R);      // A = R*(T*H^2 - 2*X3)
    f_mul(H, C, H);      // H = H^3
    f_mul(E, M, H);      // E = M*H^3
    f_sub(A, A, E);      // A = R*(T*H^2 - 2*X3) - M*H^3 = 2*Y3
    f_half(P0->y, A);    // Y3 = A/2
}

void ecc_win_precompute(const Point* baseP, Point* pointArray) {
    assert(disjoint(baseP, sizeof(Point), pointArray, sizeof(Point) * WINDOW_TABLE_SIZE));
    p_copy(&pointArray[0], baseP);
    for (int i = 1; i < WINDOW_TABLE_SIZE; ++i) {
        ecc_add(&pointArray[i], &pointArray[i - 1], baseP);  // (i+1)*P = i*P + P
    }
    for (int i = 0; i < 8; ++i) {
        mask[i] = std::uint32_t{0xF} << (4 * i);
    }
}

void ecc_win_mul(Point* P0, const std::uint32_t* n, const Point* pointArray) {
    std::uint32_t Z[NUM_DIGITS];

    assert(disjoint(P0, sizeof(Point), n, sizeof(std::uint32_t) * NUM_DIGITS));
    assert(disjoint(P0, sizeof(Point), pointArray, sizeof(Point) * WINDOW_TABLE_SIZE));
    p_clear(P0);
    NN_AssignZero(Z, NUM_DIGITS);
    /* Nibbles from the top of the top nonzero digit down; the accumulator
     * stays at infinity (Z = 0, doubling skipped) until the first nonzero
     * nibble loads its table entry with Z = 1. */
    const auto d = static_cast<std::int16_t>(NN_Digits(n, NUM_DIGITS));
    for (std::int16_t i = static_cast<std::int16_t>(d - 1); i >= 0; --i) {
        for (std::int8_t j = 7; j >= 0; --j) {
            ecc_m_dbl_projective(P0, Z, 4);
            std::uint32_t w = mask[j] & n[i];
            if (w != 0) {
                w >>= 4 * j;
                c_add_mix(P0, Z, P0, Z, &pointArray[w - 1]);
            }
        }
    }
    to_affine(P0, Z);
}

void ecc_win_mul_base(Point* P0, const std::uint32_t* n) {
    ecc_win_mul(P0, n, pBaseArray);
}

void ecc_mul(Point* P0, const Point* P1, const std::uint32_t* n) {
    std::uint32_t Z[NUM_DIGITS];

    assert(disjoint(P0, sizeof(Point), n, sizeof(std::uint32_t) * NUM_DIGITS));
    assert(P0 != P1);
    p_clear(P0);
    NN_AssignZero(Z, NUM_DIGITS);
    const auto b = static_cast<std::int16_t>(NN_Bits(n, NUM_DIGITS));
    for (std::int16_t i = static_cast<std::int16_t>(b - 1); i >= 0; --i) {
        ecc_dbl_proj(P0, Z, P0, Z);
        if (b_testbit(n, i)) {
            c_add_mix(P0, Z, P0, Z, P1);
        }
    }
    to_affine(P0, Z);
}

void ecc_init() {
    get_curve_param(&param);
    ecc_win_precompute(&param.G, pBaseArray);
}

}  // namespace klarvex

// Point arithmetic on secp128r2: Jacobian doubling and addition, fixed-window
// scalar multiplication over affine tables, and the constant-time k*G of
// signing (ecc_ct.h).
//
// Costs are counted in field squarings (S) and multiplications (M), a
// multiplication by the curve coefficient a included; additions,
// subtractions, small multiples and halvings are not counted.

#include "ecc.h"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ct.h"
#include "ecc_base_table.h"
#include "ecc_comb_table.h"
#include "ecc_ct.h"
#include "ecc_joint.h"
#include "field.h"
#include "secp128r2_data.h"
#include "words.h"

namespace klarvex {

namespace {

constexpr std::uint32_t kOne[NUM_DIGITS] = {1, 0, 0, 0, 0};
constexpr const CurveParams& kCurve = kSecp128r2;

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
    return fe_is_zero(P->x) && fe_is_zero(P->y);
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

// (X, Y, Z) -> (X/Z^2, Y/Z^3), using up Z: one inversion, 1S + 3M. The point
// at infinity comes out as exactly (0, 0).
void to_affine(Point* P, std::uint32_t* Z) {
    std::uint32_t I[NUM_DIGITS];
    if (Z_is_one(Z)) return;
    if (fe_is_zero(Z)) {
        p_clear(P);
        return;
    }
    fe_inv(I, Z);           // I = 1/Z
    fe_sqr(Z, I);           // Z = 1/Z^2
    fe_mul(P->x, P->x, Z);  // x = X/Z^2
    fe_mul(Z, Z, I);        // Z = 1/Z^3
    fe_mul(P->y, P->y, Z);  // y = Y/Z^3
}

/*
 * The mixed addition (X3, Y3, Z3) = (X1, Y1, Z1) + (x2, y2), Jacobian plus
 * affine, for two finite points with x2 != X1/Z1^2: 3S + 8M. madd-2004-hmv
 * of the Explicit-Formulas Database, which is Algorithm 3.22 of Hankerson,
 * Menezes and Vanstone, "Guide to Elliptic Curve Cryptography" (2004),
 * section 3.2.2 (stated there for a = -3; the addition does not use a). In
 * two parts: mix_hr gives H and R, whose zeros tell the degenerate cases
 * apart, and mix_finish the sum from them. The result may be the projective
 * operand's arrays, not the affine operand's.
 */
void mix_hr(std::uint32_t* H, std::uint32_t* R, const Point* P1, const std::uint32_t* Z1,
            const Point* P2) {
    std::uint32_t A[NUM_DIGITS], B[NUM_DIGITS];
    fe_sqr(A, Z1);        // A = Z1^2
    fe_mul(B, A, Z1);     // B = Z1^3
    fe_mul(A, A, P2->x);  // A = x2*Z1^2
    fe_mul(B, B, P2->y);  // B = y2*Z1^3
    fe_sub(H, A, P1->x);  // H = x2*Z1^2 - X1
    fe_sub(R, B, P1->y);  // R = y2*Z1^3 - Y1
}

void mix_finish(Point* P3, std::uint32_t* Z3, const Point* P1, const std::uint32_t* Z1,
                const std::uint32_t* H, const std::uint32_t* R) {
    std::uint32_t A[NUM_DIGITS], C[NUM_DIGITS], D[NUM_DIGITS];
    fe_mul(Z3, Z1, H);        // Z3 = Z1*H
    fe_sqr(C, H);             // C = H^2
    fe_mul(D, C, H);          // D = H^3
    fe_mul(C, C, P1->x);      // C = X1*H^2
    fe_shl(A, C, 1);          // A = 2*X1*H^2
    fe_sqr(P3->x, R);         // X3 = R^2
    fe_sub(P3->x, P3->x, A);  // X3 = R^2 - 2*X1*H^2
    fe_sub(P3->x, P3->x, D);  // X3 = R^2 - 2*X1*H^2 - H^3
    fe_sub(C, C, P3->x);      // C = X1*H^2 - X3
    fe_mul(C, C, R);          // C = R*(X1*H^2 - X3)
    fe_mul(D, D, P1->y);      // D = Y1*H^3
    fe_sub(P3->y, C, D);      // Y3 = R*(X1*H^2 - X3) - Y1*H^3
}

// The mixed addition for any operands, in variable time.
void c_add_mix(Point* P3, std::uint32_t* Z3, const Point* P1, const std::uint32_t* Z1,
               const Point* P2) {
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
    if (fe_is_zero(Z1)) {
        p_copy(P3, P2);
        NN_AssignDigit(Z3, 1, NUM_DIGITS);
        return;
    }
    mix_hr(H, R, P1, Z1, P2);
    /* H = 0: both operands have the same x. Equal y makes them the same
     * point, to be doubled (the slope is the tangent's, not the chord's);
     * otherwise they are each other's negatives and the sum is infinity. */
    if (fe_is_zero(H)) {
        if (fe_is_zero(R)) {
            ecc_dbl_proj(P3, Z3, P2, kOne);
        } else {
            NN_AssignZero(Z3, NUM_DIGITS);
        }
        return;
    }
    mix_finish(P3, Z3, P1, Z1, H, R);
}

}  // namespace

void ecc_init() {}

void ecc_get_order(std::uint32_t* order) {
    NN_Assign(order, kCurve.order, NUM_DIGITS);
}

const Point* ecc_get_base_p() {
    return &kCurve.G;
}

/*
 * Jacobian doubling as in IEEE Std 1363-2000, annex A.10.4, with its three
 * forms of the slope numerator M, tested in its order: Z1 = 1, then a = -3,
 * then the general form. With the general M it is dbl-1998-cmo-2 of the
 * Explicit-Formulas Database (Cohen, Miyaji and Ono, "Efficient elliptic
 * curve exponentiation using mixed coordinates", ASIACRYPT 1998). Costs:
 * general 6S + 4M (the form secp128r2 takes), Z1 = 1 4S + 2M, a = -3 4S + 4M,
 * a = 0 4S + 3M.
 */
void ecc_dbl_proj(Point* P0, std::uint32_t* Z0, const Point* P1, const std::uint32_t* Z1) {
    std::uint32_t A[NUM_DIGITS], B[NUM_DIGITS], M[NUM_DIGITS], S[NUM_DIGITS], T[NUM_DIGITS];

    if (fe_is_zero(Z1)) {
        NN_AssignZero(Z0, NUM_DIGITS);
        return;
    }
    const bool z1_one = Z_is_one(Z1);
    if (z1_one) {
        fe_sqr(A, P1->x);        // A = X1^2
        fe_shl(B, A, 1);         // B = 2*X1^2
        fe_add(A, A, B);         // A = 3*X1^2
        fe_add(M, A, kCurve.a);  // M = 3*X1^2 + a
    } else if (kCurve.a_minus3) {
        // M as in Algorithm 3.21 of Hankerson, Menezes and Vanstone
        std::uint32_t C[NUM_DIGITS];
        fe_sqr(B, Z1);        // B = Z1^2
        fe_add(A, P1->x, B);  // A = X1 + Z1^2
        fe_sub(C, P1->x, B);  // C = X1 - Z1^2
        fe_mul(B, A, C);      // B = X1^2 - Z1^4
        fe_shl(A, B, 1);      // A = 2*(X1^2 - Z1^4)
        fe_add(M, A, B);      // M = 3*(X1^2 - Z1^4)
    } else if (kCurve.a_zero) {
        fe_sqr(A, P1->x);  // A = X1^2
        fe_shl(B, A, 1);   // B = 2*X1^2
        fe_add(M, A, B);   // M = 3*X1^2
    } else {
        fe_sqr(A, P1->x);        // A = X1^2
        fe_shl(B, A, 1);         // B = 2*X1^2
        fe_add(A, A, B);         // A = 3*X1^2
        fe_sqr(B, Z1);           // B = Z1^2
        fe_sqr(B, B);            // B = Z1^4
        fe_mul(B, B, kCurve.a);  // B = a*Z1^4
        fe_add(M, B, A);         // M = 3*X1^2 + a*Z1^4
    }
    /* A point with y = 0 has a vertical tangent: Z3 = 2*Y1*Z1 = 0 makes its
     * double the point at infinity without a test. */
    if (z1_one) {
        fe_shl(Z0, P1->y, 1);  // Z3 = 2*Y1
    } else {
        fe_mul(A, P1->y, Z1);  // A = Y1*Z1
        fe_shl(Z0, A, 1);      // Z3 = 2*Y1*Z1
    }
    fe_sqr(T, P1->y);         // T = Y1^2
    fe_mul(S, P1->x, T);      // S = X1*Y1^2
    fe_shl(S, S, 2);          // S = 4*X1*Y1^2
    fe_shl(A, S, 1);          // A = 2*S
    fe_sqr(P0->x, M);         // X3 = M^2
    fe_sub(P0->x, P0->x, A);  // X3 = M^2 - 2*S
    fe_sqr(A, T);             // A = Y1^4
    fe_shl(T, A, 3);          // T = 8*Y1^4
    fe_sub(A, S, P0->x);      // A = S - X3
    fe_mul(A, M, A);          // A = M*(S - X3)
    fe_sub(P0->y, A, T);      // Y3 = M*(S - X3) - 8*Y1^4
}

/*
 * m doublings in a row: Algorithm 3.23 (repeated doubling) of Hankerson,
 * Menezes and Vanstone, "Guide to Elliptic Curve Cryptography" (2004),
 * section 3.2.2, stated there for a = -3 and here with the same three forms
 * of M as ecc_dbl_proj. W = Z^4 is carried from pass to pass (one
 * multiplication by the new 16*y^4 instead of two squarings of Z) and Y is
 * kept doubled (three shift-doublings a pass instead of five, for one
 * doubling before the passes and one halving after them). Costs: 2S once,
 * then per pass 4S + 5M in the general form (4S + 4M for a = -3 or a = 0),
 * one M less in the last pass.
 */
void ecc_m_dbl_projective(Point* P0, std::uint32_t* Z0, std::uint8_t m) {
    std::uint32_t A[NUM_DIGITS], B[NUM_DIGITS], M[NUM_DIGITS], S[NUM_DIGITS], T[NUM_DIGITS];
    std::uint32_t W[NUM_DIGITS];
    std::uint32_t* X = P0->x;
    std::uint32_t* Y = P0->y;

    if (fe_is_zero(Z0)) return;
    /* Y holds 2*y until the final halving. A pass is one doubling; one that
     * reaches y = 0 sets Z = 0, and Z stays 0 through the passes left. */
    fe_shl(Y, Y, 1);  // Y = 2*y
    fe_sqr(W, Z0);    // W = Z^2
    fe_sqr(W, W);     // W = Z^4
    for (std::uint8_t i = 0; i < m; ++i) {
        if (kCurve.a_minus3) {
            fe_sqr(A, X);     // A = X^2
            fe_sub(A, A, W);  // A = X^2 - Z^4
            fe_shl(B, A, 1);  // B = 2*(X^2 - Z^4)
            fe_add(M, A, B);  // M = 3*(X^2 - Z^4)
        } else if (kCurve.a_zero) {
            fe_sqr(B, X);     // B = X^2
            fe_shl(A, B, 1);  // A = 2*X^2
            fe_add(M, A, B);  // M = 3*X^2
        } else {
            fe_sqr(B, X);            // B = X^2
            fe_shl(A, B, 1);         // A = 2*X^2
            fe_add(A, A, B);         // A = 3*X^2
            fe_mul(B, kCurve.a, W);  // B = a*Z^4
            fe_add(M, A, B);         // M = 3*X^2 + a*Z^4
        }
        fe_sqr(T, Y);       // T = 4*y^2
        fe_mul(S, X, T);    // S = 4*X*y^2
        fe_sqr(X, M);       // X' = M^2
        fe_shl(A, S, 1);    // A = 2*S
        fe_sub(X, X, A);    // X' = M^2 - 2*S
        fe_mul(Z0, Z0, Y);  // Z' = 2*y*Z
        fe_sqr(T, T);       // T = 16*y^4
        if (i < m - 1) {
            fe_mul(W, W, T);  // W = 16*y^4*Z^4 = Z'^4
        }
        fe_shl(M, M, 1);  // M = 2*M
        fe_sub(S, S, X);  // S = S - X'
        fe_mul(M, M, S);  // M = 2*M*(S - X')
        fe_sub(Y, M, T);  // Y' = 2*(M*(S - X') - 8*y^4)
    }
    fe_half(Y, Y);  // y = Y/2
}

// The mixed addition of the first operand, entered with Z = 1, and the
// second, then the conversion to affine coordinates unless Z is still 1.
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

/*
 * Jacobian plus Jacobian as in IEEE Std 1363-2000, annex A.10.5: with the
 * sums T = U1 + U2 and M = S1 + S2, X3 = R^2 - T*H^2 and
 * 2*Y3 = (T*H^2 - 2*X3)*R - M*H^3, halved at the end. Costs: 4S + 12M for
 * Z1, Z2 != 1; 3S + 8M when one of them is 1; 2S + 4M when both are.
 */
void ecc_add_proj(Point* P0, std::uint32_t* Z0, const Point* P1, const std::uint32_t* Z1,
                  const Point* P2, const std::uint32_t* Z2) {
    std::uint32_t A[NUM_DIGITS], C[NUM_DIGITS], D[NUM_DIGITS], E[NUM_DIGITS];
    std::uint32_t H[NUM_DIGITS], R[NUM_DIGITS], T[NUM_DIGITS], M[NUM_DIGITS];
    std::uint32_t U1b[NUM_DIGITS], S1b[NUM_DIGITS], U2b[NUM_DIGITS], S2b[NUM_DIGITS];

    if (fe_is_zero(Z1)) {
        p_copy(P0, P2);
        NN_Assign(Z0, Z2, NUM_DIGITS);
        return;
    }
    if (fe_is_zero(Z2)) {
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
        fe_sqr(A, Z2);          // A = Z2^2
        fe_mul(U1b, P1->x, A);  // U1 = X1*Z2^2
        fe_mul(A, A, Z2);       // A = Z2^3
        fe_mul(S1b, P1->y, A);  // S1 = Y1*Z2^3
        U1 = U1b;
        S1 = S1b;
    }
    if (!z1_one) {
        fe_sqr(A, Z1);          // A = Z1^2
        fe_mul(U2b, P2->x, A);  // U2 = X2*Z1^2
        fe_mul(A, A, Z1);       // A = Z1^3
        fe_mul(S2b, P2->y, A);  // S2 = Y2*Z1^3
        U2 = U2b;
        S2 = S2b;
    }
    fe_sub(H, U1, U2);  // H = U1 - U2
    fe_sub(R, S1, S2);  // R = S1 - S2
    /* Same x: the same point (R = 0), doubled, or opposite points. */
    if (fe_is_zero(H)) {
        if (fe_is_zero(R)) {
            ecc_dbl_proj(P0, Z0, P1, Z1);
        } else {
            NN_AssignZero(Z0, NUM_DIGITS);
        }
        return;
    }
    fe_add(T, U1, U2);  // T = U1 + U2
    fe_add(M, S1, S2);  // M = S1 + S2
    if (z1_one && z2_one) {
        NN_Assign(Z0, H, NUM_DIGITS);  // Z3 = H
    } else if (z1_one) {
        fe_mul(Z0, Z2, H);  // Z3 = Z2*H
    } else if (z2_one) {
        fe_mul(Z0, Z1, H);  // Z3 = Z1*H
    } else {
        fe_mul(A, Z1, Z2);  // A = Z1*Z2
        fe_mul(Z0, A, H);   // Z3 = Z1*Z2*H
    }
    fe_sqr(A, R);         // A = R^2
    fe_sqr(C, H);         // C = H^2
    fe_mul(D, T, C);      // D = T*H^2
    fe_sub(P0->x, A, D);  // X3 = R^2 - T*H^2
    fe_shl(A, P0->x, 1);  // A = 2*X3
    fe_sub(A, D, A);      // A = T*H^2 - 2*X3
    fe_mul(A, A, R);      // A = R*(T*H^2 - 2*X3)
    fe_mul(H, C, H);      // H = H^3
    fe_mul(E, M, H);      // E = M*H^3
    fe_sub(A, A, E);      // A = R*(T*H^2 - 2*X3) - M*H^3 = 2*Y3
    fe_half(P0->y, A);    // Y3 = A/2
}

// Fourteen affine additions, each with its own inversion.
void ecc_win_precompute(const Point* baseP, Point* pointArray) {
    assert(disjoint(baseP, sizeof(Point), pointArray, sizeof(Point) * WINDOW_TABLE_SIZE));
    p_copy(&pointArray[0], baseP);
    for (int i = 1; i < WINDOW_TABLE_SIZE; ++i) {
        ecc_add(&pointArray[i], &pointArray[i - 1], baseP);  // (i+1)*P = i*P + P
    }
}

/*
 * The left-to-right 2^4-ary method (Menezes, van Oorschot and Vanstone,
 * "Handbook of Applied Cryptography" (1996), Algorithm 14.82, written
 * additively): per nibble of n from the top, four doublings and at most one
 * mixed addition of a table entry; then one conversion to affine
 * coordinates.
 */
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
            const std::uint32_t w = (n[i] >> (4 * j)) & 0xF;  // nibble j of digit i
            if (w != 0) {
                c_add_mix(P0, Z, P0, Z, &pointArray[w - 1]);
            }
        }
    }
    to_affine(P0, Z);
}

void ecc_win_mul_base(Point* P0, const std::uint32_t* n) {
    ecc_win_mul(P0, n, kBaseTable);
}

// Left-to-right double-and-add (Algorithm 14.79 of the Handbook, written
// additively): one doubling per bit of n, one mixed addition per set bit.
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

void ct_add_mix(Point* P3, std::uint32_t* Z3, const Point* P1, const std::uint32_t* Z1,
                const Point* P2) {
    std::uint32_t H[NUM_DIGITS], R[NUM_DIGITS], Zs[NUM_DIGITS], Zd[NUM_DIGITS];
    Point S, D;

    assert(P3 != P2);
    mix_hr(H, R, P1, Z1, P2);
    const std::uint64_t same = fe_zero_mask(H) & fe_zero_mask(R);
    const std::uint64_t p1_inf = fe_zero_mask(Z1);
    const std::uint64_t p2_inf = fe_zero_mask(P2->x) & fe_zero_mask(P2->y);
    mix_finish(&S, Zs, P1, Z1, H, R);
    /* Z1 = 1 takes the public branches of the doubling that are the same for
     * every point: 4S + 2M. */
    ecc_dbl_proj(&D, Zd, P2, kOne);
    /* Masks, in the order of the variable-time c_add_mix's tests, the last
     * one taking precedence: P1 = -P2 needs none, since H = 0 makes Z1*H
     * zero. With P1 at infinity H and R mean nothing, and with P2 at infinity
     * neither do the double and the sum. */
    fe_cmov(S.x, D.x, same);
    fe_cmov(S.y, D.y, same);
    fe_cmov(Zs, Zd, same);
    fe_cmov(S.x, P2->x, p1_inf);
    fe_cmov(S.y, P2->y, p1_inf);
    fe_cmov(Zs, kOne, p1_inf);
    fe_cmov(S.x, P1->x, p2_inf);
    fe_cmov(S.y, P1->y, p2_inf);
    fe_cmov(Zs, Z1, p2_inf);
    p_copy(P3, &S);
    NN_Assign(Z3, Zs, NUM_DIGITS);
}

// One inversion by Fermat, 1S + 3M, and zero written as 0.
void ct_to_affine(Point* P, std::uint32_t* Z) {
    static constexpr std::uint32_t kZero[NUM_DIGITS] = {};
    std::uint32_t I[NUM_DIGITS];
    fe_inv_ct(I, Z);        // I = 1/Z, 0 for Z zero
    fe_sqr(Z, I);           // Z = 1/Z^2
    fe_mul(P->x, P->x, Z);  // x = X/Z^2
    fe_mul(Z, Z, I);        // Z = 1/Z^3
    fe_mul(P->y, P->y, Z);  // y = Y/Z^3
    fe_cmov(P->x, kZero, fe_zero_mask(P->x));
    fe_cmov(P->y, kZero, fe_zero_mask(P->y));
}

namespace {

using words::u128;
using words::u64;

constexpr u128 kN = words::value128(kCurve.order);

// An entry of the comb as a point: x, then y, from its four words.
void comb_point(Point* R, const std::uint64_t* e) {
    words::st128(R->x, static_cast<u128>(e[1]) << 64 | e[0], 0);
    words::st128(R->y, static_cast<u128>(e[3]) << 64 | e[2], 0);
}

// The digit of comb row i for an odd s_i = (k' >> COMB_WIDTH*i) | 1: odd, in
// (-2^COMB_WIDTH, 2^COMB_WIDTH). Below the top row it is s_i mod
// 2^(COMB_WIDTH+1) less 2^COMB_WIDTH; the top row takes the rest of s_i,
// which is below 2^COMB_WIDTH for k' < 2^127.
std::int64_t comb_digit(u128 s, int row) {
    constexpr u64 kHalf = u64{1} << COMB_WIDTH;
    if (row == COMB_ROWS - 1) return static_cast<std::int64_t>(s);
    return static_cast<std::int64_t>((static_cast<u64>(s) & (2 * kHalf - 1)) - kHalf);
}

// The odd scalar that the comb adds up for a scalar below n: k itself when
// odd, else k + n; below 2n < 2^127, and k'*G = k*G. (k + n for even k is
// odd: n is.) The choice by mask, for secret k.
u128 comb_scalar(const std::uint32_t* k) {
    const u128 s = words::ld128(k);
    return s + (kN & ct_mask128(ct_mask((static_cast<u64>(s) & 1) ^ 1)));
}

// R = d * 2^(COMB_WIDTH*row) * G for an odd digit d of comb_digit, from comb
// row `row`, in constant time: every entry of the row is read and the one at
// (|d| - 1)/2 kept by a mask; its y is negated by a mask for d < 0.
void comb_lookup_ct(Point* R, int row, std::int64_t d) {
    static constexpr std::uint32_t kZero[NUM_DIGITS] = {};
    const u64 neg = ct_mask(static_cast<u64>(d) >> 63);
    const u64 index = ((static_cast<u64>(d) ^ neg) - neg) >> 1;
    u64 acc[4] = {};
    for (int j = 0; j < COMB_ENTRIES; ++j) {
        const u64 hit = ct_zero_mask(index ^ static_cast<u64>(j));
        for (int w = 0; w < 4; ++w)
            acc[w] |= kCombTable[row][j][w] & hit;
    }
    comb_point(R, acc);
    std::uint32_t y[NUM_DIGITS];
    fe_sub(y, kZero, R->y);  // -y
    fe_cmov(R->y, y, neg);
}

// The first row whose addition may meet its own operand or its negative
// (see ct_mul_base): below it 2^(COMB_WIDTH*(i+1)) <= 2^125 < n.
constexpr int kCombComplete = 125 / COMB_WIDTH;
static_assert(kN >> 125 == 1 && kCombComplete >= 1 && kCombComplete < COMB_ROWS);
static_assert(COMB_WIDTH * COMB_ROWS >= 127 && COMB_WIDTH * (COMB_ROWS - 1) < 127,
              "the rows cover 127 bits, the top one in part");

}  // namespace

/*
 * k*G as a sum of one entry from each row of the comb of G, with no
 * doublings: the fixed-base comb of Lim and Lee ("More flexible
 * exponentiation with precomputation", CRYPTO 1994) taken to one row per
 * window, over digits that are all odd. The scalar is k' = k or k + n, odd
 * and below 2^127 (comb_scalar). Its digits d_i (comb_digit) satisfy
 * k' = sum d_i * 2^(W*i), W = COMB_WIDTH, each odd with |d_i| < 2^W: with
 * s_0 = k' and s_(i+1) = (s_i >> W) | 1, s_i = d_i + 2^W * s_(i+1), every
 * s_i odd (the regular recoding of Joye and Tunstall, "Exponent recoding and
 * regular exponentiation algorithms", AFRICACRYPT 2009). Row 0 loads the
 * accumulator (Z = 1); each later row costs one lookup and one mixed
 * addition, and the same rows, lookups and additions run for every k.
 *
 * Which cases of the addition arise: before row i >= 1 the accumulator is
 * S_i*G, S_i = sum_(l<i) d_l * 2^(W*l), odd, |S_i| <= 2^(W*i) - 1; the entry
 * is d_i * 2^(W*i) * G with 2^(W*i) <= |d_i * 2^(W*i)| < 2^(W*(i+1)). The
 * operands are equal or opposite when S_i -+ d_i * 2^(W*i) = 0 mod n; that
 * value is nonzero (the entry's multiplier is the larger) and below
 * 2^(W*(i+1)) in size, so for 2^(W*(i+1)) <= n it is not a multiple of n,
 * and S_i, odd and below n in size, is not 0 mod n: a general sum. That
 * covers every row below kCombComplete; no entry is the point at infinity
 * (n is a prime above its multiplier). The rows from kCombComplete on use
 * ct_add_mix, which handles every case by masks: there the accumulator can be the
 * entry (k = 2^126 - n makes it so in the top row), S_i can be +-n (the
 * accumulator at infinity), and k = 0 ends at infinity.
 */
void ct_mul_base(Point* P0, const std::uint32_t* k) {
    std::uint32_t H[NUM_DIGITS], R[NUM_DIGITS], Z[NUM_DIGITS];
    Point T;

    assert(disjoint(P0, sizeof(Point), k, sizeof(std::uint32_t) * NUM_DIGITS));
    KLARVEX_ASSERT_SECRET(k[4] == 0 && NN_Cmp(k, kCurve.order, NUM_DIGITS) < 0);
    const u128 s = comb_scalar(k);

    comb_lookup_ct(P0, 0, comb_digit(s, 0));
    NN_AssignDigit(Z, 1, NUM_DIGITS);
    for (int i = 1; i < COMB_ROWS; ++i) {
        comb_lookup_ct(&T, i, comb_digit(s >> (COMB_WIDTH * i) | 1, i));
        if (i < kCombComplete) {
            mix_hr(H, R, P0, Z, &T);
            mix_finish(P0, Z, P0, Z, H, R);
        } else {
            ct_add_mix(P0, Z, P0, Z, &T);
        }
    }
    ct_to_affine(P0, Z);
}

void joint_precompute(const Point* window, Point shifted[][JOINT_ENTRIES]) {
    std::uint32_t Z[NUM_DIGITS];
    Point B = window[0], twice;

    assert(disjoint(window, sizeof(Point) * WINDOW_TABLE_SIZE, shifted,
                    sizeof(Point) * JOINT_ENTRIES * (JOINT_CHUNKS - 1)));
    for (int j = 1; j < JOINT_CHUNKS; ++j) {
        // B = 2^JOINT_SPAN * B, affine; (0, 0) enters as Z = 0
        NN_AssignDigit(Z, p_iszero(&B) ? 0 : 1, NUM_DIGITS);
        ecc_m_dbl_projective(&B, Z, JOINT_SPAN);
        to_affine(&B, Z);
        Point* row = shifted[j - 1];
        p_copy(&row[0], &B);
        ecc_add(&twice, &B, &B);
        for (int i = 1; i < JOINT_ENTRIES; ++i)
            ecc_add(&row[i], &row[i - 1], &twice);  // (2i + 1)*B = (2i - 1)*B + 2*B
    }
}

namespace {

// The width-5 NAF of u below 2^126: naf[i] odd in [-15, 15] or 0, u =
// sum naf[i] * 2^i, no two nonzero digits within five places (Guide to ECC,
// Algorithm 3.35). Its length is at most 127.
void naf5(std::int8_t naf[JOINT_CHUNKS * JOINT_SPAN], const std::uint32_t* u) {
    u128 k = words::ld128(u);
    for (int i = 0; i < JOINT_CHUNKS * JOINT_SPAN; ++i, k >>= 1) {
        int d = 0;
        if (k & 1) {
            d = static_cast<int>(k & 31);
            if (d > 15) d -= 32;
            k -= static_cast<u128>(static_cast<std::int64_t>(d));  // modulo 2^128: k - d
        }
        naf[i] = static_cast<std::int8_t>(d);
    }
    assert(k == 0);
}

// (P0, Z0) += E for d > 0, -E for d < 0, in variable time.
void add_signed(Point* P0, std::uint32_t* Z0, const Point* E, bool negative) {
    static constexpr std::uint32_t kZero[NUM_DIGITS] = {};
    if (!negative) {
        c_add_mix(P0, Z0, P0, Z0, E);
        return;
    }
    Point M;
    NN_Assign(M.x, E->x, NUM_DIGITS);
    fe_sub(M.y, kZero, E->y);
    c_add_mix(P0, Z0, P0, Z0, &M);
}

}  // namespace

void joint_mul(Point* P0, std::uint32_t* Z0, const std::uint32_t* u1, const std::uint32_t* u2,
               const Point* window, const Point shifted[][JOINT_ENTRIES]) {
    std::int8_t naf[JOINT_CHUNKS * JOINT_SPAN];
    Point T;

    assert(u1[4] == 0 && NN_Cmp(u1, kCurve.order, NUM_DIGITS) < 0);
    assert(u2[4] == 0 && NN_Cmp(u2, kCurve.order, NUM_DIGITS) < 0);
    naf5(naf, u2);
    p_clear(P0);
    NN_AssignZero(Z0, NUM_DIGITS);
    for (int t = JOINT_SPAN - 1; t >= 0; --t) {
        ecc_dbl_proj(P0, Z0, P0, Z0);
        for (int j = 0; j < JOINT_CHUNKS; ++j) {
            const int d = naf[JOINT_SPAN * j + t];
            if (d == 0) continue;
            const int m = d < 0 ? -d : d;
            add_signed(P0, Z0, j == 0 ? &window[m - 1] : &shifted[j - 1][m / 2], d < 0);
        }
    }
    // u1*G: one entry of each comb row, for u1 or u1 + n (see ct_mul_base)
    const u128 s = words::ld128(u1) + (words::ld128(u1) & 1 ? 0 : kN);
    for (int i = 0; i < COMB_ROWS; ++i) {
        const std::int64_t d = comb_digit(i ? s >> (COMB_WIDTH * i) | 1 : s, i);
        comb_point(&T, kCombTable[i][(d < 0 ? -d : d) / 2]);
        add_signed(P0, Z0, &T, d < 0);
    }
}

bool joint_x_mod_n_is(const Point* P, const std::uint32_t* Z, const std::uint32_t* r) {
    std::uint32_t Z2[NUM_DIGITS], c[NUM_DIGITS], t[NUM_DIGITS];
    assert(r[4] == 0 && !NN_Zero(r, NUM_DIGITS) && NN_Cmp(r, kCurve.order, NUM_DIGITS) < 0);
    if (fe_is_zero(Z)) return false;
    fe_sqr(Z2, Z);  // Z2 = Z^2
    for (u128 v = words::ld128(r);; v += kN) {
        words::st128(c, v, 0);
        fe_mul(t, c, Z2);    // t = (r + j*n)*Z^2
        fe_sub(t, t, P->x);  // t = (r + j*n)*Z^2 - X
        if (fe_is_zero(t)) return true;
        if (v >= fe_detail::kP - kN) return false;  // r + (j + 1)*n >= p
    }
}

}  // namespace klarvex

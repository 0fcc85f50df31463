// Curve arithmetic checked against itself: the point at infinity, equal and
// opposite operands, aliasing, zero written as p, the window edges, the
// window multiplication against double-and-add, and the constant-time
// operations against the variable-time ones.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "ecc.h"
#include "ecc_base_table.h"
#include "ecc_comb_table.h"
#include "ecc_ct.h"
#include "ecc_joint.h"
#include "support/curve.h"
#include "support/random.h"
#include "words.h"

namespace klarvex {
namespace {

using test::kScale;
using test::mul_base;
using test::num;
using test::Num;
using test::random_below_n;
using test::random_fe;

struct Jac {
    Point P;
    Num Z;
};

const CurveParams& curve() {
    return test::curve_params();
}
const std::uint32_t* prime() {
    return curve().p;
}

// Up to 40 hex digits, most significant first.
Num hex(std::string_view s) {
    Num r{};
    int bit = 0;
    for (auto it = s.rbegin(); it != s.rend(); ++it, bit += 4) {
        const char c = *it;
        const std::uint32_t v = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        r[bit / 32] |= v << (bit % 32);
    }
    return r;
}

// a mod p for a field element in [0, p].
Num red(const std::uint32_t* a) {
    Num r;
    std::memcpy(r.data(), a, sizeof r);
    if (NN_Equal(r.data(), prime(), NUM_DIGITS)) r = {};
    return r;
}

bool feq(const std::uint32_t* a, const std::uint32_t* b) {
    return red(a) == red(b);
}
bool same(const Point& a, const Point& b) {
    return feq(a.x, b.x) && feq(a.y, b.y);
}
bool exact(const Point& a, const Point& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void fmul(std::uint32_t* r, const std::uint32_t* a, const std::uint32_t* b) {
    NN_ModMultOpt(r, a, b, prime(), curve().omega, NUM_DIGITS);
}

// (x*Z^2, y*Z^3, Z).
Jac jac(const Point& a, const Num& Z) {
    Jac j{a, Z};
    Num t;
    fmul(t.data(), Z.data(), Z.data());
    fmul(j.P.x, a.x, t.data());
    fmul(t.data(), t.data(), Z.data());
    fmul(j.P.y, a.y, t.data());
    return j;
}

// (X/Z^2, Y/Z^3); the point at infinity as (0, 0).
Point affine(const Jac& j) {
    Point r{};
    if (red(j.Z.data()) == Num{}) return r;
    Num I, t;
    NN_ModInv(I.data(), j.Z.data(), prime(), NUM_DIGITS);
    fmul(t.data(), I.data(), I.data());
    fmul(r.x, j.P.x, t.data());
    fmul(t.data(), t.data(), I.data());
    fmul(r.y, j.P.y, t.data());
    return r;
}

Point neg(const Point& a) {
    Point r = a;
    const Num y = red(a.y);
    if (y != Num{}) NN_Sub(r.y, prime(), y.data(), NUM_DIGITS);
    return r;
}

Point mul_plain(const Point& a, const Num& k) {
    Point r;
    ecc_mul(&r, &a, k.data());
    return r;
}
Point add(const Point& a, const Point& b) {
    Point r;
    ecc_add(&r, &a, &b);
    return r;
}
Jac dbl(const Jac& a) {
    Jac r;
    ecc_dbl_proj(&r.P, r.Z.data(), &a.P, a.Z.data());
    return r;
}
Jac add_proj(const Jac& a, const Jac& b) {
    Jac r;
    ecc_add_proj(&r.P, r.Z.data(), &a.P, a.Z.data(), &b.P, b.Z.data());
    return r;
}

const Num kOne = num(1);

// The one point of order two, (x0, 0): x0 is the root of x^3 + a*x + b mod p
// (gen/known_answers.py finds it with a polynomial gcd against x^p - x; the
// cubic has only this root, and b is not a square, so no point has x = 0).
Point pt(std::string_view x, std::string_view y) {
    Point r;
    const Num a = hex(x), b = hex(y);
    std::memcpy(r.x, a.data(), sizeof a);
    std::memcpy(r.y, b.data(), sizeof b);
    return r;
}
Point order_two() {
    return pt("EA1E91CC9229E872D1E910CE3EDCB319", "0");
}

// The constant table of G is ecc_win_precompute of G, digit for digit, and
// the accessors give the curve's n and G.
TEST(EccContext, BaseTableIsTheWindowTableOfG) {
    const Point* G = ecc_get_base_p();
    EXPECT_TRUE(exact(*G, curve().G));
    Num order;
    ecc_get_order(order.data());
    EXPECT_EQ(std::memcmp(order.data(), curve().order, sizeof order), 0);

    Point table[WINDOW_TABLE_SIZE];
    ecc_win_precompute(G, table);
    EXPECT_EQ(std::memcmp(table, kBaseTable, sizeof table), 0);
}

// Row i of the comb of G holds (2j + 1) * 2^(COMB_WIDTH*i) * G, coordinates
// below p: the first entry from ecc_win_mul_base, each next one ecc_add of
// twice the first.
TEST(EccContext, CombTableHoldsTheOddMultiples) {
    for (int i = 0; i < COMB_ROWS; ++i) {
        Num k{};
        k[COMB_WIDTH * i / 32] = 1u << (COMB_WIDTH * i % 32);
        Point want = mul_base(k), twice = add(want, want);
        for (int j = 0; j < COMB_ENTRIES; ++j) {
            const std::uint64_t* e = kCombTable[i][j];
            Point got{};
            words::st64(got.x, e[0]);
            words::st64(got.x + 2, e[1]);
            words::st64(got.y, e[2]);
            words::st64(got.y + 2, e[3]);
            EXPECT_TRUE(exact(got, want)) << "row " << i << ", entry " << j;
            want = add(want, twice);
        }
    }
}

TEST(EccDouble, InfinityAliasingAndRepresentations) {
    test::Rng rng(31);
    const Point& G = *ecc_get_base_p();
    const Point G2 = mul_base(num(2));

    // Z1 = 0 (and Z1 = p, zero too): Z3 = 0, X3 and Y3 untouched.
    Num pp;
    std::memcpy(pp.data(), prime(), sizeof pp);
    for (const Num& z : {Num{}, pp}) {
        Jac in{G, z}, out;
        std::memset(&out, 0xA5, sizeof out);
        const Point junk = out.P;
        ecc_dbl_proj(&out.P, out.Z.data(), &in.P, in.Z.data());
        EXPECT_EQ(out.Z, Num{});
        EXPECT_TRUE(exact(out.P, junk));
    }

    // Z = 1 and random Z, separate and in place: all give 2G.
    for (int i = 0; i < 20; ++i) {
        const Jac in = i == 0 ? Jac{G, kOne} : jac(G, random_fe(rng));
        const Jac out = dbl(in);
        Jac inplace = in;
        ecc_dbl_proj(&inplace.P, inplace.Z.data(), &inplace.P, inplace.Z.data());
        EXPECT_TRUE(exact(inplace.P, out.P) && inplace.Z == out.Z) << i;
        EXPECT_TRUE(same(affine(out), G2)) << i;
    }

    // y = 0: the vertical tangent gives infinity, also with y written as p.
    Point t = order_two();
    EXPECT_EQ(red(dbl(Jac{t, kOne}).Z.data()), Num{});
    EXPECT_EQ(red(dbl(jac(t, random_fe(rng))).Z.data()), Num{});
    std::memcpy(t.y, prime(), sizeof t.y);
    EXPECT_EQ(red(dbl(Jac{t, kOne}).Z.data()), Num{});
}

TEST(EccDouble, RepeatedDoubling) {
    test::Rng rng(32);
    const Point& G = *ecc_get_base_p();

    // m = 0 doubles Y and halves it back; the values exercise both halving
    // paths: (p+1)/2 doubles to 1, which halves to (1 + p)/2; p and p - 1 carry
    // into digit 4.
    const Num half = hex("7FFFFFFF000000000000000000000000");  // (p + 1) / 2
    Num pp;
    std::memcpy(pp.data(), prime(), sizeof pp);
    Num pm1 = pp;
    pm1[0] -= 1;
    for (const Num& y : {Num{}, kOne, num(2), half, pm1, pp, random_fe(rng)}) {
        Jac j{G, random_fe(rng)};
        std::memcpy(j.P.y, y.data(), sizeof y);
        const Jac before = j;
        ecc_m_dbl_projective(&j.P, j.Z.data(), 0);
        EXPECT_TRUE(exact(j.P, before.P) && j.Z == before.Z);
    }

    // Z = 0 or p: nothing changes for any m.
    for (int m = 0; m <= 5; ++m) {
        for (const Num& z : {Num{}, pp}) {
            Jac j{G, z};
            j.P.y[0] ^= 1;
            const Jac before = j;
            ecc_m_dbl_projective(&j.P, j.Z.data(), static_cast<std::uint8_t>(m));
            EXPECT_TRUE(exact(j.P, before.P) && j.Z == before.Z) << m;
        }
    }

    // m passes = m single doublings, coordinate by coordinate mod p.
    for (int i = 0; i < 4 * kScale; ++i) {
        const Point P = mul_base(random_below_n(rng));
        for (int m = 1; m <= 8; ++m) {
            const Jac start = i == 0 ? Jac{P, kOne} : jac(P, random_fe(rng));
            Jac multi = start, single = start;
            ecc_m_dbl_projective(&multi.P, multi.Z.data(), static_cast<std::uint8_t>(m));
            for (int k = 0; k < m; ++k)
                single = dbl(single);
            EXPECT_TRUE(same(multi.P, single.P) && feq(multi.Z.data(), single.Z.data()))
                << "i = " << i << ", m = " << m;
        }
    }
    Jac g{G, kOne};
    ecc_m_dbl_projective(&g.P, g.Z.data(), 4);
    EXPECT_TRUE(same(affine(g), mul_base(num(16))));

    // Passes after reaching y = 0 keep Z = 0.
    Jac t = jac(order_two(), random_fe(rng));
    ecc_m_dbl_projective(&t.P, t.Z.data(), 3);
    EXPECT_EQ(red(t.Z.data()), Num{});
}

TEST(EccAdd, AffineEdgeCases) {
    test::Rng rng(33);
    const Point& G = *ecc_get_base_p();
    const Point O{};

    // The doubling branch of the mixed addition, and the table's first steps.
    EXPECT_TRUE(same(add(G, G), mul_base(num(2))));
    EXPECT_TRUE(same(add(G, mul_base(num(2))), mul_base(num(3))));
    EXPECT_TRUE(same(add(G, G), affine(dbl(Jac{G, kOne}))));

    const Point P = mul_base(random_below_n(rng));
    EXPECT_TRUE(exact(add(P, O), P));
    EXPECT_TRUE(exact(add(O, P), P));  // (0, 0) first is infinity too
    EXPECT_TRUE(exact(add(O, O), O));
    EXPECT_TRUE(exact(add(P, neg(P)), O));
    EXPECT_TRUE(exact(add(neg(P), P), O));
    const Point T = order_two();
    EXPECT_TRUE(exact(add(T, T), O));
    EXPECT_TRUE(same(add(T, O), T));

    // Commutative, and (P + Q) - Q = P.
    for (int i = 0; i < 10 * kScale; ++i) {
        const Point A = mul_base(random_below_n(rng)), B = mul_base(random_below_n(rng));
        const Point S = add(A, B);
        EXPECT_TRUE(same(S, add(B, A))) << i;
        EXPECT_TRUE(same(add(S, neg(B)), A)) << i;
    }
}

TEST(EccAddProj, InfinityEqualOppositeAndAliasing) {
    test::Rng rng(34);
    const Point& G = *ecc_get_base_p();

    const Jac A = jac(mul_base(random_below_n(rng)), random_fe(rng));
    const Jac inf{G, Num{}};
    Jac r = add_proj(inf, A);
    EXPECT_TRUE(exact(r.P, A.P) && r.Z == A.Z);
    r = add_proj(A, inf);
    EXPECT_TRUE(exact(r.P, A.P) && r.Z == A.Z);
    EXPECT_EQ(add_proj(inf, inf).Z, Num{});

    // Identical triples double; the same point in another representation too.
    r = add_proj(A, A);
    const Jac d = dbl(A);
    EXPECT_TRUE(exact(r.P, d.P) && r.Z == d.Z);
    const Point a = affine(A);
    const Jac A2 = jac(a, random_fe(rng));
    EXPECT_TRUE(same(affine(add_proj(A, A2)), affine(d)));
    EXPECT_TRUE(same(affine(add_proj(A2, Jac{a, kOne})), affine(d)));

    // Opposite points: -(X, Y, Z) = (X, -Y, Z) = (X, Y, -Z). The last has the
    // stored X and Y of A itself and must not be taken for A.
    Jac minus = A;
    NN_Sub(minus.P.y, prime(), A.P.y, NUM_DIGITS);
    EXPECT_EQ(red(add_proj(A, minus).Z.data()), Num{});
    EXPECT_EQ(red(add_proj(A, jac(neg(a), random_fe(rng))).Z.data()), Num{});
    Jac flipped = A;
    NN_Sub(flipped.Z.data(), prime(), A.Z.data(), NUM_DIGITS);
    EXPECT_EQ(red(add_proj(A, flipped).Z.data()), Num{});
    EXPECT_EQ(red(add_proj(flipped, A).Z.data()), Num{});

    // Zero written as p: doubling (x0, p) gives Z = p, which is infinity.
    Point t = order_two();
    std::memcpy(t.y, prime(), sizeof t.y);
    const Jac tt = dbl(Jac{t, kOne});
    EXPECT_TRUE(same(affine(add_proj(tt, Jac{G, kOne})), G));
    EXPECT_TRUE(same(affine(add_proj(Jac{G, kOne}, tt)), G));

    // Distinct points, every combination of Z = 1 and Z != 1, against the
    // affine sum; results written over either operand match.
    for (int i = 0; i < 10 * kScale; ++i) {
        const Point p1 = mul_base(random_below_n(rng)), p2 = mul_base(random_below_n(rng));
        const Point want = add(p1, p2);
        const Jac j1 = (i & 1) ? Jac{p1, kOne} : jac(p1, random_fe(rng));
        const Jac j2 = (i & 2) ? Jac{p2, kOne} : jac(p2, random_fe(rng));
        const Jac sep = add_proj(j1, j2);
        EXPECT_TRUE(same(affine(sep), want)) << i;
        Jac over1 = j1, over2 = j2;
        ecc_add_proj(&over1.P, over1.Z.data(), &over1.P, over1.Z.data(), &j2.P, j2.Z.data());
        ecc_add_proj(&over2.P, over2.Z.data(), &j1.P, j1.Z.data(), &over2.P, over2.Z.data());
        EXPECT_TRUE(exact(over1.P, sep.P) && over1.Z == sep.Z) << i;
        EXPECT_TRUE(exact(over2.P, sep.P) && over2.Z == sep.Z) << i;
    }
    // In place through the doubling branch.
    Jac self = A;
    ecc_add_proj(&self.P, self.Z.data(), &self.P, self.Z.data(), &self.P, self.Z.data());
    EXPECT_TRUE(exact(self.P, d.P) && self.Z == d.Z);
}

TEST(EccScalar, WindowEdges) {
    const Point& G = *ecc_get_base_p();
    Num n;
    ecc_get_order(n.data());
    const Point O{};

    EXPECT_TRUE(exact(mul_base(Num{}), O));
    EXPECT_TRUE(exact(mul_plain(G, Num{}), O));
    Point table[WINDOW_TABLE_SIZE];
    ecc_win_precompute(&G, table);
    for (int k = 1; k <= WINDOW_TABLE_SIZE; ++k) {
        Point r;
        ecc_win_mul(&r, num(k).data(), table);
        EXPECT_TRUE(exact(r, table[k - 1])) << k;  // no inversion for one window
        EXPECT_TRUE(exact(mul_base(num(k)), table[k - 1])) << k;
    }
    EXPECT_TRUE(same(mul_base(num(16)), add(table[14], G)));
    const Num k16 = num((std::uint64_t{1} << 32) + 15);  // two digits, sixteen windows
    EXPECT_TRUE(same(mul_base(k16), mul_plain(G, k16)));
    EXPECT_TRUE(same(mul_base(k16), add(mul_base(num(std::uint64_t{1} << 32)), table[14])));

    // n*G is infinity, (n-1)*G = -G, (n+1)*G = G, and so on for 2n, 3n.
    Num k = n;
    for (int mult = 1; mult <= 3; ++mult) {
        EXPECT_TRUE(exact(mul_base(k), O)) << mult;
        EXPECT_TRUE(exact(mul_plain(G, k), O)) << mult;
        Num km = k, kp = k;
        NN_Sub(km.data(), k.data(), kOne.data(), NUM_DIGITS);
        NN_Add(kp.data(), k.data(), kOne.data(), NUM_DIGITS);
        EXPECT_TRUE(same(mul_base(km), neg(G))) << mult;
        EXPECT_TRUE(same(mul_plain(G, km), neg(G))) << mult;
        EXPECT_TRUE(same(mul_base(kp), G)) << mult;
        NN_Add(k.data(), k.data(), n.data(), NUM_DIGITS);
    }
    Num top;
    top.fill(0xFFFFFFFF);  // 2^160 - 1
    EXPECT_TRUE(same(mul_base(top), mul_plain(G, top)));

    // The point of order two: its table alternates T and infinity, so
    // building it adds (0, 0) as the first operand; k*T is T for odd k.
    const Point T = order_two();
    ecc_win_precompute(&T, table);
    for (int j = 1; j <= WINDOW_TABLE_SIZE; ++j) {
        EXPECT_TRUE(same(table[j - 1], j % 2 ? T : O)) << j;
    }
    for (std::uint64_t s : {2ull, 3ull, 16ull, 17ull, 0x123456789ull, 0x123456788ull}) {
        Point r;
        ecc_win_mul(&r, num(s).data(), table);
        EXPECT_TRUE(same(r, s % 2 ? T : O)) << s;
        EXPECT_TRUE(same(mul_plain(T, num(s)), s % 2 ? T : O)) << s;
    }
    Point tp = T;
    std::memcpy(tp.y, prime(), sizeof tp.y);  // y = 0 written as p
    EXPECT_TRUE(same(mul_plain(tp, num(3)), T));
    EXPECT_TRUE(exact(mul_plain(tp, num(4)), O));
}

TEST(EccScalar, WindowMatchesDoubleAndAdd) {
    test::Rng rng(35);
    const Point& G = *ecc_get_base_p();
    int cases = 0;
    for (int i = 0; i < 20 * kScale; ++i, ++cases) {
        Num k = random_below_n(rng);
        if (i % 2) k[4] = rng.u32() | 1;  // five significant digits
        EXPECT_TRUE(same(mul_base(k), mul_plain(G, k))) << i;
    }
    // A random point's table holds j*P; its window multiplication matches.
    for (int i = 0; i < 2 * kScale; ++i) {
        const Point P = mul_base(random_below_n(rng));
        Point table[WINDOW_TABLE_SIZE];
        ecc_win_precompute(&P, table);
        for (int j = 1; j <= WINDOW_TABLE_SIZE; ++j, ++cases) {
            EXPECT_TRUE(same(table[j - 1], mul_plain(P, num(j)))) << j;
        }
        for (int t = 0; t < 5; ++t, ++cases) {
            Num k = random_below_n(rng);
            if (t % 2) k[4] = rng.u32() | 1;
            Point r;
            ecc_win_mul(&r, k.data(), table);
            EXPECT_TRUE(same(r, mul_plain(P, k))) << i << "/" << t;
        }
    }
    std::printf("[ cases    ] %d window / double-and-add comparisons\n", cases);
}

// ct_add_mix in each of its cases, in place too; and ct_mul_base, whose
// coordinates are reduced, at k = 0, small k, k = 2^126 - n and twice it
// (whose additions in the top rows of the comb double, or start from
// infinity, for some comb widths), either side of them, the top of the
// range and random k (every digit of every row).
TEST(EccConstantTime, SamePointsAsTheVariableTimeOperations) {
    test::Rng rng(37);
    Num n, low;
    ecc_get_order(n.data());
    NN_Sub(low.data(), Num{0, 0, 0, 0x40000000, 0}.data(), n.data(), NUM_DIGITS);  // 2^126 - n
    auto minus = [](Num a, std::uint64_t b) {
        NN_Sub(a.data(), a.data(), num(b).data(), NUM_DIGITS);
        return a;
    };

    const struct {
        std::uint64_t a;  // P1 = a*G, with a random Z; at infinity for 0
        Num b;            // P2 = b*G, (0, 0) for 0
        const char* what;
    } adds[] = {{5, num(7), "general"},        {7, num(7), "equal"},
                {7, minus(n, 7), "opposite"},  {0, num(7), "P1 at infinity"},
                {5, num(0), "P2 at infinity"}, {0, num(0), "both at infinity"}};
    for (const auto& c : adds) {
        const Jac p1 = c.a ? jac(mul_base(num(c.a)), random_fe(rng)) : Jac{};
        const Point p2 = mul_base(c.b);
        const Jac want = add_proj(p1, Jac{p2, c.b == Num{} ? Num{} : kOne});
        Jac got, in_place = p1;
        ct_add_mix(&got.P, got.Z.data(), &p1.P, p1.Z.data(), &p2);
        ct_add_mix(&in_place.P, in_place.Z.data(), &in_place.P, in_place.Z.data(), &p2);
        EXPECT_TRUE(same(affine(got), affine(want))) << c.what;
        EXPECT_TRUE(same(affine(in_place), affine(want))) << c.what << ", in place";
    }

    Num low2;
    NN_Add(low2.data(), low.data(), low.data(), NUM_DIGITS);
    std::vector<Num> ks = {num(0), num(1), num(2),        num(15),        num(16),     num(20),
                           low,    low2,   minus(low, 1), minus(low2, 1), minus(n, 2), minus(n, 1)};
    for (int i = 0; i < 50 * kScale; ++i)
        ks.push_back(random_below_n(rng));
    for (const Num& k : ks) {
        Point got, want = mul_base(k);
        ct_mul_base(&got, k.data());
        const Num x = red(want.x), y = red(want.y);
        std::memcpy(want.x, x.data(), sizeof want.x);
        std::memcpy(want.y, y.data(), sizeof want.y);
        EXPECT_TRUE(exact(got, want)) << k[3] << ":" << k[2] << ":" << k[1] << ":" << k[0];
    }
    std::printf("[ cases    ] %zu constant-time k*G against ecc_win_mul_base\n", ks.size());
}

// joint_mul against ecc_add of ecc_win_mul_base(u1) and ecc_win_mul(u2)
// over Q's window table, and joint_x_mod_n_is against x mod n of that point:
// u1 or u2 zero, u1*G = u2*Q and u1*G = -u2*Q, Q = G, Q of order two, the
// top of the range, then random u1, u2 and Q.
TEST(EccJoint, SamePointsAsTheWindowMultiplications) {
    test::Rng rng(38);
    Num n;
    ecc_get_order(n.data());
    auto mul_n = [&](const Num& a, const Num& b) {
        Num r;
        NN_ModMult(r.data(), a.data(), b.data(), n.data(), NUM_DIGITS);
        return r;
    };
    const Num c = random_below_n(rng), u = random_below_n(rng), m1 = {n[0] - 1, n[1], n[2], n[3]};
    Num minus_cu;
    NN_ModSub(minus_cu.data(), Num{}.data(), mul_n(c, u).data(), n.data(), NUM_DIGITS);
    struct Case {
        Num u1, u2, c;  // Q = c*G; c = 0: the point of order two
    };
    std::vector<Case> cases = {{Num{}, u, c},        {u, Num{}, c},    {Num{}, Num{}, c},
                               {mul_n(c, u), u, c},  {minus_cu, u, c}, {u, u, num(1)},
                               {m1, num(1), num(1)}, {m1, m1, c},      {u, num(3), Num{}},
                               {u, num(6), Num{}}};
    for (int i = 0; i < 20 * kScale; ++i)
        cases.push_back({random_below_n(rng), random_below_n(rng), random_below_n(rng)});
    for (const auto& t : cases) {
        const Point Q = t.c == Num{} ? order_two() : mul_base(t.c);
        Point window[WINDOW_TABLE_SIZE], shifted[JOINT_CHUNKS - 1][JOINT_ENTRIES], p1, p2, want;
        ecc_win_precompute(&Q, window);
        joint_precompute(window, shifted);
        ecc_win_mul_base(&p1, t.u1.data());
        ecc_win_mul(&p2, t.u2.data(), window);
        ecc_add(&want, &p1, &p2);
        Jac got;
        joint_mul(&got.P, got.Z.data(), t.u1.data(), t.u2.data(), window, shifted);
        EXPECT_TRUE(same(affine(got), want)) << t.u1[0] << " " << t.u2[0] << " " << t.c[0];

        Num v;  // x mod n, and v + 1 mod n, as r
        NN_Mod(v.data(), want.x, NUM_DIGITS, n.data(), NUM_DIGITS);
        for (const bool match : {true, false}) {
            if (!match) NN_ModAdd(v.data(), v.data(), kOne.data(), n.data(), NUM_DIGITS);
            if (v == Num{}) continue;
            EXPECT_EQ(joint_x_mod_n_is(&got.P, got.Z.data(), v.data()), match && !exact(want, {}));
        }
    }
    std::printf("[ cases    ] %zu joint multiplications against the window method\n", cases.size());
}

}  // namespace
}  // namespace klarvex

// Curve arithmetic against OpenSSL's EC_POINT on secp128r2: scalar
// multiplications, additions and doublings over random, adversarial and
// degenerate inputs, on the subgroup of G and on the whole group (order 4n,
// with its points of order two and four).

#include "support/openssl.h"

#if KLARVEX_HAVE_OPENSSL

#include <gtest/gtest.h>

#include <openssl/err.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "ecc.h"
#include "support/curve.h"
#include "support/random.h"

namespace klarvex {
namespace {

using test::Bn;
using test::EcPoint;
using test::hex;
using test::kScale;
using test::num;
using test::Num;
using test::random_below_n;
using test::random_fe;

class Oracle {
  public:
    Oracle() : group_(test::secp128r2_group()), ctx_(test::new_ctx()) {
        ecc_init();
        EXPECT_TRUE(group_ != nullptr);
        p_ = test::new_bn();
        n_ = test::new_bn();
        card_ = test::new_bn();
        Bn h = test::new_bn();
        EC_GROUP_get_curve(group_.get(), p_.get(), nullptr, nullptr, ctx_.get());
        EC_GROUP_get_order(group_.get(), n_.get(), ctx_.get());
        EC_GROUP_get_cofactor(group_.get(), h.get(), ctx_.get());
        BN_mul(card_.get(), n_.get(), h.get(), ctx_.get());
    }

    const EC_GROUP* group() const { return group_.get(); }
    BN_CTX* ctx() const { return ctx_.get(); }
    const BIGNUM* p() const { return p_.get(); }

    EcPoint new_point() const { return EcPoint(EC_POINT_new(group_.get())); }

    // The finite affine point a (coordinates taken mod p).
    EcPoint from(const Point& a) const {
        Bn x = red(a.x), y = red(a.y);
        EcPoint r = new_point();
        EXPECT_EQ(
            EC_POINT_set_affine_coordinates(group_.get(), r.get(), x.get(), y.get(), ctx_.get()),
            1);
        return r;
    }

    // The affine coordinates of a finite point; (0, 0) for infinity.
    Point to(const EC_POINT* q) const {
        Point r{};
        if (EC_POINT_is_at_infinity(group_.get(), q)) return r;
        Bn x = test::new_bn(), y = test::new_bn();
        EC_POINT_get_affine_coordinates(group_.get(), q, x.get(), y.get(), ctx_.get());
        test::from_bn(r.x, NUM_DIGITS, x.get());
        test::from_bn(r.y, NUM_DIGITS, y.get());
        return r;
    }

    // k*q, k reduced mod the group's cardinality 4n.
    EcPoint mul(const EC_POINT* q, const Num& k) const {
        Bn kb = test::to_bn(k.data(), NUM_DIGITS);
        BN_nnmod(kb.get(), kb.get(), card_.get(), ctx_.get());
        EcPoint r = new_point();
        EC_POINT_mul(group_.get(), r.get(), nullptr, q, kb.get(), ctx_.get());
        return r;
    }

    EcPoint add(const EC_POINT* a, const EC_POINT* b) const {
        EcPoint r = new_point();
        EC_POINT_add(group_.get(), r.get(), a, b, ctx_.get());
        return r;
    }

    EcPoint dbl(const EC_POINT* a) const {
        EcPoint r = new_point();
        EC_POINT_dbl(group_.get(), r.get(), a, ctx_.get());
        return r;
    }

    EcPoint invert(const EC_POINT* a) const {
        EcPoint r(EC_POINT_dup(a, group_.get()));
        EC_POINT_invert(group_.get(), r.get(), ctx_.get());
        return r;
    }

    // An affine point equals q: coordinates equal mod p, or both congruent
    // to 0 when q is at infinity.
    bool same(const Point& got, const EC_POINT* q) const {
        Bn x = red(got.x), y = red(got.y);
        if (EC_POINT_is_at_infinity(group_.get(), q))
            return BN_is_zero(x.get()) && BN_is_zero(y.get());
        Bn wx = test::new_bn(), wy = test::new_bn();
        EC_POINT_get_affine_coordinates(group_.get(), q, wx.get(), wy.get(), ctx_.get());
        return BN_cmp(x.get(), wx.get()) == 0 && BN_cmp(y.get(), wy.get()) == 0;
    }

    // A Jacobian (X, Y, Z) equals q.
    bool same(const Point& got, const std::uint32_t* Z, const EC_POINT* q) const {
        Bn z = red(Z);
        if (BN_is_zero(z.get())) return EC_POINT_is_at_infinity(group_.get(), q) == 1;
        BN_mod_inverse(z.get(), z.get(), p_.get(), ctx_.get());
        return same(scale(got, z.get()), q);
    }

    // (x*z^2, y*z^3) mod p.
    Point scale(const Point& a, const BIGNUM* z) const {
        Bn x = red(a.x), y = red(a.y), t = test::new_bn();
        BN_mod_sqr(t.get(), z, p_.get(), ctx_.get());
        BN_mod_mul(x.get(), x.get(), t.get(), p_.get(), ctx_.get());
        BN_mod_mul(t.get(), t.get(), z, p_.get(), ctx_.get());
        BN_mod_mul(y.get(), y.get(), t.get(), p_.get(), ctx_.get());
        Point r{};
        test::from_bn(r.x, NUM_DIGITS, x.get());
        test::from_bn(r.y, NUM_DIGITS, y.get());
        return r;
    }
    Point scale(const Point& a, const Num& Z) const {
        return scale(a, test::to_bn(Z.data(), NUM_DIGITS).get());
    }

    // A random point of the subgroup of G.
    EcPoint random_subgroup(test::Rng& rng) const {
        Num k = random_below_n(rng);
        k[0] |= 1;
        return mul(EC_GROUP_get0_generator(group_.get()), k);
    }

    // A random point of the whole group (of order 4n for half of them).
    EcPoint random_any(test::Rng& rng) const {
        EcPoint r = new_point();
        for (;;) {
            Num x{rng.u32(), rng.u32(), rng.u32(), rng.u32(), 0};
            Bn xb = red(x.data());
            if (EC_POINT_set_compressed_coordinates(group_.get(), r.get(), xb.get(),
                                                    static_cast<int>(rng.u32() & 1),
                                                    ctx_.get()) == 1)
                return r;
            ERR_clear_error();
        }
    }

    // Z values with digit 0 equal to 1 (not 1 all the same), small or large.
    Num edge_z(test::Rng& rng) const {
        static const Num edges[] = {
            {2, 0, 0, 0, 0},
            {1, 1, 0, 0, 0},
            {1, 0, 0, 1, 0},
            {1, 0, 0, 0xFFFFFFFD, 0},
            {0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFD, 0},
            {0, 0, 0, 0x7FFFFFFF, 0},
        };
        return edges[rng.below(std::size(edges))];
    }

  private:
    Bn red(const std::uint32_t* a) const {
        Bn r = test::to_bn(a, NUM_DIGITS);
        BN_nnmod(r.get(), r.get(), p_.get(), ctx_.get());
        return r;
    }

    test::Group group_;
    test::BnCtx ctx_;
    Bn p_, n_, card_;
};

// Scalars that stress the window edges and the group order: small values,
// single and full nibbles in every position, multiples of n near 2^128 and
// 2^160, and their neighbours.
std::vector<Num> adversarial_scalars() {
    std::vector<Num> ks;
    Num n;
    ecc_get_order(n.data());
    for (std::uint64_t v : {0ull, 1ull, 2ull, 3ull, 14ull, 15ull, 16ull, 17ull, 31ull, 255ull,
                            256ull, 0xFFFFFFFFull, 0x100000000ull, 0x10000000Full, 0xF0000000Full})
        ks.push_back(num(v));
    for (int i = 0; i < 40; ++i) {
        Num a{}, b{};
        a[i / 8] = std::uint32_t{1} << (4 * (i % 8));
        b[i / 8] = std::uint32_t{0xF} << (4 * (i % 8));
        ks.push_back(a);
        ks.push_back(b);
    }
    Num all;
    all.fill(0xFFFFFFFF);
    ks.push_back(all);  // 2^160 - 1
    all.fill(0x5A5A5A5A);
    ks.push_back(all);
    const Num one = num(1);
    Num m = n;
    for (int mult = 1; mult <= 8; ++mult) {  // m = mult * n
        Num lo = m, hi = m;
        NN_Sub(lo.data(), m.data(), one.data(), NUM_DIGITS);
        NN_Add(hi.data(), m.data(), one.data(), NUM_DIGITS);
        ks.insert(ks.end(), {lo, m, hi});
        NN_Add(m.data(), m.data(), n.data(), NUM_DIGITS);
    }
    // The largest multiple of n below 2^160, and 2^128 (+-1).
    Num q{}, big{};
    big.fill(0xFFFFFFFF);
    NN_Div(q.data(), m.data(), big.data(), NUM_DIGITS, n.data(), NUM_DIGITS);
    std::uint32_t prod[2 * NUM_DIGITS];
    NN_Mult(prod, q.data(), n.data(), NUM_DIGITS);
    Num top;
    std::memcpy(top.data(), prod, sizeof top);
    ks.push_back(top);
    Num two128{0, 0, 0, 0, 1}, two128m1{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0};
    ks.insert(ks.end(), {two128, two128m1, Num{1, 0, 0, 0, 1}});
    return ks;
}

void report(const char* what, int count) {
    std::printf("[ cases    ] %-22s %6d against OpenSSL\n", what, count);
    ::testing::Test::RecordProperty(what, count);
}

// mul(&r, k) against OpenSSL's k*q for `random` scalars below n, `wide` odd
// ones of five random digits, and the adversarial ones; returns the count.
template <class Mul>
int check_mul(const Oracle& o, test::Rng& rng, const EC_POINT* q,
              const std::vector<Num>& adversarial, int random, int wide, const std::string& where,
              Mul mul) {
    int count = 0;
    auto check = [&](const Num& k) {
        Point r;
        mul(&r, k);
        EcPoint want = o.mul(q, k);
        EXPECT_TRUE(o.same(r, want.get())) << where << "k = " << hex(k);
        ++count;
    };
    for (int i = 0; i < random; ++i)
        check(random_below_n(rng));
    for (int i = 0; i < wide; ++i)
        check(Num{rng.u32(), rng.u32(), rng.u32(), rng.u32(), rng.u32() | 1});
    for (const Num& k : adversarial)
        check(k);
    return count;
}

TEST(EccOpenSsl, WinMulBase) {
    test::Rng rng(41);
    const Oracle o;
    const int count =
        check_mul(o, rng, EC_GROUP_get0_generator(o.group()), adversarial_scalars(), 300 * kScale,
                  60 * kScale, "", [](Point* r, const Num& k) { ecc_win_mul_base(r, k.data()); });
    report("ecc_win_mul_base", count);
}

TEST(EccOpenSsl, WinMulOverTables) {
    test::Rng rng(42);
    const Oracle o;
    const std::vector<Num> adversarial = adversarial_scalars();
    int count = 0;
    for (int pt = 0; pt < 8; ++pt) {
        EcPoint q = pt % 2 ? o.random_any(rng) : o.random_subgroup(rng);
        const Point P = o.to(q.get());
        Point table[WINDOW_TABLE_SIZE];
        ecc_win_precompute(&P, table);
        for (int j = 1; j <= WINDOW_TABLE_SIZE; ++j, ++count) {
            EcPoint want = o.mul(q.get(), num(j));
            EXPECT_TRUE(o.same(table[j - 1], want.get())) << "entry " << j;
        }
        count += check_mul(o, rng, q.get(), adversarial, 20 * kScale, 5 * kScale,
                           "point " + std::to_string(pt) + ", ",
                           [&](Point* r, const Num& k) { ecc_win_mul(r, k.data(), table); });
    }
    report("ecc_win_mul", count);
}

TEST(EccOpenSsl, MulDoubleAndAdd) {
    test::Rng rng(43);
    const Oracle o;
    const std::vector<Num> adversarial = adversarial_scalars();
    int count = 0;
    for (int pt = 0; pt < 6; ++pt) {
        EcPoint q = pt == 0  ? EcPoint(EC_POINT_dup(EC_GROUP_get0_generator(o.group()), o.group()))
                    : pt % 2 ? o.random_any(rng)
                             : o.random_subgroup(rng);
        const Point P = o.to(q.get());
        count += check_mul(o, rng, q.get(), adversarial, 30 * kScale, 5 * kScale,
                           "point " + std::to_string(pt) + ", ",
                           [&](Point* r, const Num& k) { ecc_mul(r, &P, k.data()); });
    }
    report("ecc_mul", count);
}

// Operand pairs for the additions: random, equal, opposite, and the points of
// order two and four, from a pool of subgroup and whole-group points.
struct Pool {
    std::vector<EcPoint> pts;
    Pool(const Oracle& o, test::Rng& rng, int size) {
        Num n;
        ecc_get_order(n.data());
        for (int i = 0; i < size; ++i)
            pts.push_back(i % 2 ? o.random_any(rng) : o.random_subgroup(rng));
        for (;;) {  // n*P has order four when P has order 4n
            EcPoint four = o.mul(o.random_any(rng).get(), n);
            EcPoint two = o.dbl(four.get());
            if (EC_POINT_is_at_infinity(o.group(), two.get())) continue;
            pts.push_back(std::move(two));
            pts.push_back(std::move(four));
            break;
        }
    }
    // Pair i: the second operand is random, the same, or the opposite point.
    std::pair<const EC_POINT*, EcPoint> pair(const Oracle& o, test::Rng& rng, int i) const {
        const EC_POINT* a = pts[rng.below(pts.size())].get();
        switch (i % 4) {
            case 0:
                return {a, EcPoint(EC_POINT_dup(a, o.group()))};
            case 1:
                return {a, o.invert(a)};
            default:
                return {a, EcPoint(EC_POINT_dup(pts[rng.below(pts.size())].get(), o.group()))};
        }
    }
};

TEST(EccOpenSsl, AffineAddition) {
    test::Rng rng(44);
    const Oracle o;
    const Pool pool(o, rng, 40);
    const Point O{};
    int count = 0;
    for (int i = 0; i < 300 * kScale; ++i, ++count) {
        auto [a, b] = pool.pair(o, rng, i);
        const Point P1 = o.to(a), P2 = o.to(b.get());
        Point r;
        ecc_add(&r, &P1, &P2);
        EcPoint want = o.add(a, b.get());
        EXPECT_TRUE(o.same(r, want.get())) << i;
    }
    for (const EcPoint& q : pool.pts) {  // infinity on either side
        const Point P = o.to(q.get());
        Point r;
        ecc_add(&r, &P, &O);
        EXPECT_TRUE(o.same(r, q.get()));
        ecc_add(&r, &O, &P);
        EXPECT_TRUE(o.same(r, q.get()));
        count += 2;
    }
    report("ecc_add", count);
}

TEST(EccOpenSsl, ProjectiveAddition) {
    test::Rng rng(45);
    const Oracle o;
    const Pool pool(o, rng, 40);
    const Num one{1, 0, 0, 0, 0};
    int count = 0;
    for (int i = 0; i < 300 * kScale; ++i, ++count) {
        auto [a, b] = pool.pair(o, rng, i);
        const Point P1 = o.to(a), P2 = o.to(b.get());
        // Z = 1, random Z, or (for equal points half the time) the same Z.
        const int mode = static_cast<int>(rng.below(4));
        const Num Z1 = mode == 0 ? one : i % 8 == 7 ? o.edge_z(rng) : random_fe(rng);
        const Num Z2 = mode == 1    ? one
                       : mode == 3  ? Z1
                       : i % 8 == 5 ? o.edge_z(rng)
                                    : random_fe(rng);
        const Point J1 = o.scale(P1, Z1), J2 = o.scale(P2, Z2);
        Point r;
        Num Z3;
        ecc_add_proj(&r, Z3.data(), &J1, Z1.data(), &J2, Z2.data());
        EcPoint want = o.add(a, b.get());
        EXPECT_TRUE(o.same(r, Z3.data(), want.get())) << i << " mode " << mode;
    }
    for (int i = 0; i < 10 * kScale; ++i, count += 2) {  // Z = 0 on either side
        const EC_POINT* a = pool.pts[rng.below(pool.pts.size())].get();
        const Num Z = random_fe(rng);
        const Point J = o.scale(o.to(a), Z), junk = o.to(pool.pts[0].get());
        const Num zero{};
        Point r;
        Num Z3;
        ecc_add_proj(&r, Z3.data(), &J, Z.data(), &junk, zero.data());
        EXPECT_TRUE(o.same(r, Z3.data(), a));
        ecc_add_proj(&r, Z3.data(), &junk, zero.data(), &J, Z.data());
        EXPECT_TRUE(o.same(r, Z3.data(), a));
    }
    report("ecc_add_proj", count);
}

TEST(EccOpenSsl, Doubling) {
    test::Rng rng(46);
    const Oracle o;
    const Pool pool(o, rng, 20);
    const Num one{1, 0, 0, 0, 0};
    int dbl_count = 0, mdbl_count = 0;
    for (int i = 0; i < 100 * kScale; ++i) {
        const EC_POINT* q = pool.pts[rng.below(pool.pts.size())].get();
        const Num Z = i % 5 == 0 ? one : i % 5 == 1 ? o.edge_z(rng) : random_fe(rng);
        const Point J = o.scale(o.to(q), Z);

        Point r;
        Num Zr;
        ecc_dbl_proj(&r, Zr.data(), &J, Z.data());
        EcPoint want = o.dbl(q);
        EXPECT_TRUE(o.same(r, Zr.data(), want.get())) << i;
        ++dbl_count;

        EcPoint w(EC_POINT_dup(q, o.group()));
        for (std::uint8_t m = 0; m <= 8; ++m, ++mdbl_count) {
            Point x = J;
            Num Zx = Z;
            ecc_m_dbl_projective(&x, Zx.data(), m);
            EXPECT_TRUE(o.same(x, Zx.data(), w.get())) << i << " m = " << int(m);
            w = o.dbl(w.get());
        }
    }
    report("ecc_dbl_proj", dbl_count);
    report("ecc_m_dbl_projective", mdbl_count);
}

}  // namespace
}  // namespace klarvex

#else
KLARVEX_OPENSSL_SKIPPED(EccOpenSsl)
#endif

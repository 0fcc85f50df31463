// Differential tests of the multi-precision layer against OpenSSL's BIGNUM,
// over seeded random and adversarial inputs (0, 1, all-ones digits, p and n
// and their neighbours, powers of two, top digits of all ones, digits drawn
// from 0 / 1 / all ones / 2^31, every digit count).

#include "support/openssl.h"

#if KLARVEX_HAVE_OPENSSL

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "nn.h"
#include "secp128r2.h"
#include "support/random.h"

namespace klarvex {
namespace {

using test::Bn;
using test::bn_hex;
using test::from_bn;
using test::new_bn;
using test::to_bn;

constexpr int kCases = 10000;
constexpr std::uint32_t M = 0xFFFFFFFF;
constexpr std::uint32_t kP[NUM_DIGITS] = {M, M, M, 0xFFFFFFFD, 0};
constexpr std::uint32_t kOmega[NUM_DIGITS] = {1, 0, 0, 2, 0};
constexpr std::uint32_t kN[NUM_DIGITS] = {0x0613B5A3, 0xBE002472, 0x7FFFFFFF, 0x3FFFFFFF, 0};

void record(const char* op, int cases) {
    std::printf("[ cases    ] %s: %d\n", op, cases);
    std::string key = std::string("cases_") + op;
    std::replace(key.begin(), key.end(), ' ', '_');
    ::testing::Test::RecordProperty(key, cases);
}

std::string hex(const std::uint32_t* a, int digits) {
    return bn_hex(to_bn(a, digits).get());
}

::testing::AssertionResult same(const std::uint32_t* a, int digits, const BIGNUM* want) {
    const Bn got = to_bn(a, digits);
    if (BN_cmp(got.get(), want) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got " << bn_hex(got.get()) << ", want " << bn_hex(want);
}

// 2^bits as a BIGNUM.
Bn pow2(int bits) {
    Bn r = new_bn();
    BN_set_bit(r.get(), bits);
    return r;
}

// Random and adversarial numbers.
class Gen {
  public:
    explicit Gen(std::uint64_t salt) : rng_(salt) {}

    unsigned below(unsigned n) { return static_cast<unsigned>(rng_.below(n)); }
    std::uint32_t u32() { return rng_.u32(); }

    void fill(std::uint32_t* a, int digits) {
        std::fill_n(a, digits, 0u);
        if (digits == 0) return;
        const int sig = 1 + static_cast<int>(below(static_cast<unsigned>(digits)));
        switch (below(14)) {
            case 0:  // zero
                return;
            case 1:
                a[0] = 1;
                return;
            case 2:  // 2^(32*sig) - 1, e.g. 2^128 - 1
                std::fill_n(a, sig, M);
                return;
            case 3:
                near(a, digits, kP);
                return;
            case 4:
                near(a, digits, kN);
                return;
            case 5: {
                const unsigned k = below(32u * static_cast<unsigned>(digits));
                a[k / 32] = std::uint32_t{1} << (k % 32);
                return;
            }
            case 6:  // top digit all ones
                random(a, sig);
                a[sig - 1] = M;
                return;
            case 7: {
                static constexpr std::uint32_t kDigits[] = {0, 1, M, M - 1, 0x80000000, 0x7FFFFFFF};
                for (int i = 0; i < sig; ++i)
                    a[i] = i % 3 == 2 ? u32() : kDigits[below(6)];
                return;
            }
            case 8:
            case 9:
                random(a, sig);
                return;
            default:
                random(a, digits);
                return;
        }
    }

    // A nonzero value.
    void fill_nonzero(std::uint32_t* a, int digits) {
        do
            fill(a, digits);
        while (NN_Zero(a, static_cast<std::uint8_t>(digits)));
    }

    // A value below the nonzero modulus m (m - 1 more often than by chance).
    void fill_below(std::uint32_t* a, const std::uint32_t* m, int digits, BN_CTX* ctx) {
        if (below(8) == 0) {
            const std::uint32_t one[NUM_DIGITS] = {1};
            NN_Sub(a, m, one, static_cast<std::uint8_t>(digits));
            return;
        }
        fill(a, digits);
        Bn x = to_bn(a, digits), mm = to_bn(m, digits);
        BN_nnmod(x.get(), x.get(), mm.get(), ctx);
        from_bn(a, digits, x.get());
    }

  private:
    void random(std::uint32_t* a, int n) {
        for (int i = 0; i < n; ++i)
            a[i] = u32();
    }
    // m - 1, m or m + 1, truncated to the count.
    void near(std::uint32_t* a, int digits, const std::uint32_t* m) {
        const int k = std::min(digits, static_cast<int>(NUM_DIGITS));
        std::copy_n(m, k, a);
        const std::uint32_t one[10] = {1};
        const unsigned d = below(3);
        if (d == 0) NN_Sub(a, a, one, static_cast<std::uint8_t>(digits));
        if (d == 2) NN_Add(a, a, one, static_cast<std::uint8_t>(digits));
    }

    test::Rng rng_;
};

class NnOpenSsl : public ::testing::Test {
  protected:
    test::BnCtx ctx_ = test::new_ctx();
    BN_CTX* ctx() { return ctx_.get(); }
};

TEST_F(NnOpenSsl, AddAndSubWithCarryAndBorrow) {
    Gen g(101);
    for (int i = 0; i < kCases; ++i) {
        const int n = 1 + static_cast<int>(g.below(10));
        const auto n8 = static_cast<std::uint8_t>(n);
        std::uint32_t x[10], y[10], s[10], d[10];
        g.fill(x, n);
        g.fill(y, n);
        const std::uint32_t carry = NN_Add(s, x, y, n8);
        const std::uint32_t borrow = NN_Sub(d, x, y, n8);

        Bn bx = to_bn(x, n), by = to_bn(y, n), want = new_bn(), top = pow2(32 * n);
        BN_add(want.get(), bx.get(), by.get());
        const std::uint32_t want_carry = BN_cmp(want.get(), top.get()) >= 0;
        if (want_carry) BN_sub(want.get(), want.get(), top.get());
        ASSERT_TRUE(same(s, n, want.get())) << hex(x, n) << " + " << hex(y, n);
        ASSERT_EQ(carry, want_carry) << hex(x, n) << " + " << hex(y, n);

        BN_sub(want.get(), bx.get(), by.get());
        const std::uint32_t want_borrow = BN_is_negative(want.get());
        if (want_borrow) BN_add(want.get(), want.get(), top.get());
        ASSERT_TRUE(same(d, n, want.get())) << hex(x, n) << " - " << hex(y, n);
        ASSERT_EQ(borrow, want_borrow) << hex(x, n) << " - " << hex(y, n);
    }
    record("NN_Add", kCases);
    record("NN_Sub", kCases);
}

TEST_F(NnOpenSsl, MultAndSqr) {
    Gen g(102);
    for (int i = 0; i < kCases; ++i) {
        const int n = 1 + static_cast<int>(g.below(NUM_DIGITS));
        const auto n8 = static_cast<std::uint8_t>(n);
        std::uint32_t x[NUM_DIGITS], y[NUM_DIGITS], p[2 * NUM_DIGITS], s[2 * NUM_DIGITS];
        g.fill(x, n);
        g.fill(y, n);
        NN_Mult(p, x, y, n8);
        NN_Sqr(s, x, n8);
        Bn bx = to_bn(x, n), by = to_bn(y, n), want = new_bn();
        BN_mul(want.get(), bx.get(), by.get(), ctx());
        ASSERT_TRUE(same(p, 2 * n, want.get())) << hex(x, n) << " * " << hex(y, n);
        BN_sqr(want.get(), bx.get(), ctx());
        ASSERT_TRUE(same(s, 2 * n, want.get())) << hex(x, n) << "^2";
    }
    record("NN_Mult", kCases);
    record("NN_Sqr", kCases);
}

TEST_F(NnOpenSsl, Shifts) {
    Gen g(103);
    for (int i = 0; i < kCases; ++i) {
        const int n = 1 + static_cast<int>(g.below(10));
        const auto n8 = static_cast<std::uint8_t>(n);
        const auto sh = static_cast<std::uint8_t>(i % 4 == 0 ? (i / 4) % 32 : g.below(32));
        std::uint32_t x[10], l[10], r[10], bits[1];
        g.fill(x, n);
        const std::uint32_t lout = NN_LShift(l, x, sh, n8);
        const std::uint32_t rout = NN_RShift(r, x, sh, n8);

        Bn bx = to_bn(x, n), want = new_bn(), low = new_bn();
        BN_lshift(want.get(), bx.get(), sh);
        BN_rshift(low.get(), want.get(), 32 * n);  // the bits moved out
        BN_mask_bits(want.get(), 32 * n);
        ASSERT_TRUE(same(l, n, want.get())) << hex(x, n) << " << " << int(sh);
        bits[0] = lout;
        ASSERT_TRUE(same(bits, 1, low.get())) << hex(x, n) << " << " << int(sh);

        BN_rshift(want.get(), bx.get(), sh);
        ASSERT_TRUE(same(r, n, want.get())) << hex(x, n) << " >> " << int(sh);
        BN_copy(low.get(), bx.get());
        BN_mask_bits(low.get(), sh);
        if (sh != 0) BN_lshift(low.get(), low.get(), 32 - sh);
        bits[0] = rout;
        ASSERT_TRUE(same(bits, 1, low.get())) << hex(x, n) << " >> " << int(sh);
    }
    record("NN_LShift", kCases);
    record("NN_RShift", kCases);
}

TEST_F(NnOpenSsl, DivQuotientAndRemainder) {
    Gen g(104);
    for (int i = 0; i < kCases; ++i) {
        const int cn = i % 2 ? 10 : 1 + static_cast<int>(g.below(10));
        const int dn = 1 + static_cast<int>(g.below(NUM_DIGITS));
        std::uint32_t c[10], d[NUM_DIGITS], q[10], r[NUM_DIGITS];
        g.fill(c, cn);
        g.fill_nonzero(d, dn);
        const bool with_q = i % 4 != 3;
        NN_Div(with_q ? q : nullptr, r, c, static_cast<std::uint8_t>(cn), d,
               static_cast<std::uint8_t>(dn));
        Bn bc = to_bn(c, cn), bd = to_bn(d, dn), wq = new_bn(), wr = new_bn();
        BN_div(wq.get(), wr.get(), bc.get(), bd.get(), ctx());
        if (with_q) {
            ASSERT_TRUE(same(q, cn, wq.get())) << hex(c, cn) << " / " << hex(d, dn);
        }
        ASSERT_TRUE(same(r, dn, wr.get())) << hex(c, cn) << " % " << hex(d, dn);
    }
    record("NN_Div", kCases);
}

TEST_F(NnOpenSsl, Mod) {
    Gen g(105);
    for (int i = 0; i < kCases; ++i) {
        const int cn = i % 2 ? 2 * NUM_DIGITS : 1 + static_cast<int>(g.below(10));
        const int dn = 1 + static_cast<int>(g.below(NUM_DIGITS));
        std::uint32_t c[10], d[NUM_DIGITS], r[NUM_DIGITS];
        g.fill(c, cn);
        g.fill_nonzero(d, dn);
        NN_Mod(r, c, static_cast<std::uint8_t>(cn), d, static_cast<std::uint8_t>(dn));
        Bn bc = to_bn(c, cn), bd = to_bn(d, dn), want = new_bn();
        BN_nnmod(want.get(), bc.get(), bd.get(), ctx());
        ASSERT_TRUE(same(r, dn, want.get())) << hex(c, cn) << " % " << hex(d, dn);
    }
    record("NN_Mod", kCases);
}

TEST_F(NnOpenSsl, ModAddAndModSub) {
    Gen g(106);
    for (int i = 0; i < kCases; ++i) {
        const int n = 1 + static_cast<int>(g.below(NUM_DIGITS));
        const auto n8 = static_cast<std::uint8_t>(n);
        std::uint32_t m[NUM_DIGITS], x[NUM_DIGITS], y[NUM_DIGITS], s[NUM_DIGITS], d[NUM_DIGITS];
        g.fill_nonzero(m, n);
        g.fill_below(x, m, n, ctx());
        g.fill_below(y, m, n, ctx());
        NN_ModAdd(s, x, y, m, n8);
        NN_ModSub(d, x, y, m, n8);
        Bn bx = to_bn(x, n), by = to_bn(y, n), bm = to_bn(m, n), want = new_bn();
        BN_mod_add(want.get(), bx.get(), by.get(), bm.get(), ctx());
        ASSERT_TRUE(same(s, n, want.get()))
            << hex(x, n) << " + " << hex(y, n) << " mod " << hex(m, n);
        BN_mod_sub(want.get(), bx.get(), by.get(), bm.get(), ctx());
        ASSERT_TRUE(same(d, n, want.get()))
            << hex(x, n) << " - " << hex(y, n) << " mod " << hex(m, n);
    }
    record("NN_ModAdd", kCases);
    record("NN_ModSub", kCases);
}

TEST_F(NnOpenSsl, ModMult) {
    Gen g(107);
    for (int i = 0; i < kCases; ++i) {
        const int n = 1 + static_cast<int>(g.below(NUM_DIGITS));
        std::uint32_t m[NUM_DIGITS], x[NUM_DIGITS], y[NUM_DIGITS], r[NUM_DIGITS];
        g.fill_nonzero(m, n);
        g.fill(x, n);  // not reduced
        g.fill(y, n);
        NN_ModMult(r, x, y, m, static_cast<std::uint8_t>(n));
        Bn bx = to_bn(x, n), by = to_bn(y, n), bm = to_bn(m, n), want = new_bn();
        BN_mod_mul(want.get(), bx.get(), by.get(), bm.get(), ctx());
        ASSERT_TRUE(same(r, n, want.get()))
            << hex(x, n) << " * " << hex(y, n) << " mod " << hex(m, n);
    }
    record("NN_ModMult", kCases);
}

TEST_F(NnOpenSsl, ModExp) {
    Gen g(108);
    for (int i = 0; i < kCases; ++i) {
        const int n = 1 + static_cast<int>(g.below(NUM_DIGITS));
        const int en = 1 + static_cast<int>(g.below(6));
        std::uint32_t m[NUM_DIGITS], b[NUM_DIGITS], e[6], r[NUM_DIGITS];
        g.fill_nonzero(m, n);
        g.fill(b, n);  // not reduced
        g.fill(e, en);
        NN_ModExp(r, b, e, static_cast<std::uint8_t>(en), m, static_cast<std::uint8_t>(n));
        Bn bb = to_bn(b, n), be = to_bn(e, en), bm = to_bn(m, n), want = new_bn();
        // An exponent of 0 gives 1 without any reduction, also modulo 1.
        if (BN_is_zero(be.get())) {
            BN_one(want.get());
        } else {
            BN_mod_exp(want.get(), bb.get(), be.get(), bm.get(), ctx());
        }
        ASSERT_TRUE(same(r, n, want.get()))
            << hex(b, n) << " ^ " << hex(e, en) << " mod " << hex(m, n);
    }
    record("NN_ModExp", kCases);
}

TEST_F(NnOpenSsl, ModInv) {
    Gen g(109);
    int cases = 0;
    Bn gcd = new_bn(), want = new_bn();
    while (cases < kCases) {
        const int n = 1 + static_cast<int>(g.below(NUM_DIGITS));
        std::uint32_t m[NUM_DIGITS], x[NUM_DIGITS], r[NUM_DIGITS];
        const unsigned kind = g.below(4);
        if (kind == 0 && n >= KEY_DIGITS) {
            std::copy_n(g.below(2) ? kP : kN, n, m);
        } else {
            g.fill_nonzero(m, n);
        }
        g.fill(x, n);  // not reduced
        Bn bx = to_bn(x, n), bm = to_bn(m, n);
        // Only x coprime to m has an inverse; m = 1 has none worth the name.
        if (BN_is_one(bm.get())) continue;
        BN_gcd(gcd.get(), bx.get(), bm.get(), ctx());
        if (!BN_is_one(gcd.get())) continue;
        NN_ModInv(r, x, m, static_cast<std::uint8_t>(n));
        ASSERT_NE(BN_mod_inverse(want.get(), bx.get(), bm.get(), ctx()), nullptr);
        ASSERT_TRUE(same(r, n, want.get())) << hex(x, n) << " ^ -1 mod " << hex(m, n);
        ++cases;
    }
    record("NN_ModInv", cases);
}

TEST_F(NnOpenSsl, Gcd) {
    Gen g(110);
    for (int i = 0; i < kCases; ++i) {
        const int n = 1 + static_cast<int>(g.below(NUM_DIGITS));
        std::uint32_t x[NUM_DIGITS], y[NUM_DIGITS], r[NUM_DIGITS], f[NUM_DIGITS];
        g.fill(x, n);
        g.fill(y, n);
        // Give a third of the pairs a common factor.
        if (i % 3 == 0) {
            g.fill_nonzero(f, 2);
            std::uint32_t t[2 * NUM_DIGITS];
            NN_Mult(t, x, f, 2);
            std::copy_n(t, std::min(n, 4), x);
            NN_Mult(t, y, f, 2);
            std::copy_n(t, std::min(n, 4), y);
        }
        NN_Gcd(r, x, y, static_cast<std::uint8_t>(n));
        Bn bx = to_bn(x, n), by = to_bn(y, n), want = new_bn();
        BN_gcd(want.get(), bx.get(), by.get(), ctx());
        ASSERT_TRUE(same(r, n, want.get())) << "gcd(" << hex(x, n) << ", " << hex(y, n) << ")";
    }
    record("NN_Gcd", kCases);
}

// The fast reduction leaves c = product mod p, except that a nonzero product
// that is a multiple of p comes out as p: each fold of c >= 2^128 leaves a
// value of at least omega, so the folded value is 0 only for a zero product.
TEST_F(NnOpenSsl, ModMultOptAndModSqrOpt) {
    Gen g(111);
    Bn bp = to_bn(kP, NUM_DIGITS);
    for (int i = 0; i < kCases; ++i) {
        std::uint32_t x[NUM_DIGITS], y[NUM_DIGITS], r[NUM_DIGITS], s[NUM_DIGITS];
        g.fill(x, KEY_DIGITS);
        g.fill(y, KEY_DIGITS);
        if (i % 16 == 0) std::copy_n(kP, KEY_DIGITS, g.below(2) ? x : y);
        x[4] = g.below(2) ? g.u32() : 0;  // digit 4 is not read
        y[4] = g.below(2) ? g.u32() : 0;
        NN_ModMultOpt(r, x, y, kP, kOmega, NUM_DIGITS);
        NN_ModSqrOpt(s, x, kP, kOmega, NUM_DIGITS);

        Bn bx = to_bn(x, KEY_DIGITS), by = to_bn(y, KEY_DIGITS), prod = new_bn(), want = new_bn();
        BN_mul(prod.get(), bx.get(), by.get(), ctx());
        BN_nnmod(want.get(), prod.get(), bp.get(), ctx());
        if (BN_is_zero(want.get()) && !BN_is_zero(prod.get())) BN_copy(want.get(), bp.get());
        ASSERT_TRUE(same(r, NUM_DIGITS, want.get()))
            << hex(x, KEY_DIGITS) << " * " << hex(y, KEY_DIGITS);

        BN_sqr(prod.get(), bx.get(), ctx());
        BN_nnmod(want.get(), prod.get(), bp.get(), ctx());
        if (BN_is_zero(want.get()) && !BN_is_zero(prod.get())) BN_copy(want.get(), bp.get());
        ASSERT_TRUE(same(s, NUM_DIGITS, want.get())) << hex(x, KEY_DIGITS) << "^2";
    }
    record("NN_ModMultOpt", kCases);
    record("NN_ModSqrOpt", kCases);
}

TEST_F(NnOpenSsl, ModDivOptModuloPAndN) {
    Gen g(112);
    for (const std::uint32_t* m : {kP, kN}) {
        Bn bm = to_bn(m, NUM_DIGITS), inv = new_bn(), want = new_bn();
        for (int i = 0; i < kCases; ++i) {
            std::uint32_t b[NUM_DIGITS], c[NUM_DIGITS], r[NUM_DIGITS];
            g.fill_below(b, m, NUM_DIGITS, ctx());
            do
                g.fill_below(c, m, NUM_DIGITS, ctx());
            while (NN_Zero(c, NUM_DIGITS));
            NN_ModDivOpt(r, b, c, m, NUM_DIGITS);
            Bn bb = to_bn(b, NUM_DIGITS), bc = to_bn(c, NUM_DIGITS);
            ASSERT_NE(BN_mod_inverse(inv.get(), bc.get(), bm.get(), ctx()), nullptr);
            BN_mod_mul(want.get(), bb.get(), inv.get(), bm.get(), ctx());
            ASSERT_TRUE(same(r, NUM_DIGITS, want.get()))
                << hex(b, NUM_DIGITS) << " / " << hex(c, NUM_DIGITS) << " mod "
                << hex(m, NUM_DIGITS);
        }
        record(m == kP ? "NN_ModDivOpt mod p" : "NN_ModDivOpt mod n", kCases);
    }
}

// The compiled-in parameters against OpenSSL's own secp128r2 group.
TEST_F(NnOpenSsl, CurveParamsMatchOpenSslSecp128r2) {
    test::Group group = test::secp128r2_group();
    ASSERT_TRUE(group);
    Bn p = new_bn(), a = new_bn(), b = new_bn(), gx = new_bn(), gy = new_bn();
    ASSERT_EQ(EC_GROUP_get_curve(group.get(), p.get(), a.get(), b.get(), ctx()), 1);
    ASSERT_EQ(EC_POINT_get_affine_coordinates(group.get(), EC_GROUP_get0_generator(group.get()),
                                              gx.get(), gy.get(), ctx()),
              1);
    CurveParams c;
    get_curve_param(&c);
    EXPECT_TRUE(same(c.p, NUM_DIGITS, p.get()));
    EXPECT_TRUE(same(c.a, NUM_DIGITS, a.get()));
    EXPECT_TRUE(same(c.b, NUM_DIGITS, b.get()));
    EXPECT_TRUE(same(c.G.x, NUM_DIGITS, gx.get()));
    EXPECT_TRUE(same(c.G.y, NUM_DIGITS, gy.get()));
    EXPECT_TRUE(same(c.order, NUM_DIGITS, EC_GROUP_get0_order(group.get())));
}

}  // namespace
}  // namespace klarvex

#else
KLARVEX_OPENSSL_SKIPPED(NnOpenSsl)
#endif

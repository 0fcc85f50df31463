// Tests of the secp128r2 domain parameters and of the multiplication by omega.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "nn.h"
#include "secp128r2.h"
#include "support/random.h"

namespace klarvex {
namespace {

using N5 = std::array<std::uint32_t, NUM_DIGITS>;

constexpr std::uint32_t kJunk = 0xA5A5A5A5;

// The value of 32 hex digits (most significant first) in five digits.
N5 hex128(const char* hex) {
    std::uint8_t bytes[16];
    for (int i = 0; i < 16; ++i) {
        unsigned v = 0;
        std::sscanf(hex + 2 * i, "%2x", &v);
        bytes[i] = static_cast<std::uint8_t>(v);
    }
    N5 a;
    NN_Decode(a.data(), NUM_DIGITS, bytes, 16);
    return a;
}

N5 as_n5(const std::uint32_t* a) {
    N5 r;
    std::memcpy(r.data(), a, sizeof r);
    return r;
}

TEST(Secp128r2, ParametersAreThoseOfSec2) {
    CurveParams c;
    std::memset(&c, 0xA5, sizeof c);
    get_curve_param(&c);
    // SEC 2: Recommended Elliptic Curve Domain Parameters, version 1.0 (2000),
    // section 2.3.2, secp128r2.
    EXPECT_EQ(as_n5(c.p), hex128("FFFFFFFDFFFFFFFFFFFFFFFFFFFFFFFF"));
    EXPECT_EQ(as_n5(c.a), hex128("D6031998D1B3BBFEBF59CC9BBFF9AEE1"));
    EXPECT_EQ(as_n5(c.b), hex128("5EEEFCA380D02919DC2C6558BB6D8A5D"));
    EXPECT_EQ(as_n5(c.G.x), hex128("7B6AA5D85E572983E6FB32A7CDEBC140"));
    EXPECT_EQ(as_n5(c.G.y), hex128("27B6916A894D3AEE7106FE805FC34B44"));
    EXPECT_EQ(as_n5(c.order), hex128("3FFFFFFF7FFFFFFFBE0024720613B5A3"));
    // omega = 2^128 - p = 2^97 + 1.
    EXPECT_EQ(as_n5(c.omega), (N5{1, 0, 0, 2, 0}));
    N5 sum;
    NN_Add(sum.data(), c.p, c.omega, NUM_DIGITS);
    EXPECT_EQ(sum, (N5{0, 0, 0, 0, 1}));
    // a is neither -3 nor 0.
    EXPECT_EQ(c.a_minus3, 0);
    EXPECT_EQ(c.a_zero, 0);
    EXPECT_EQ(NN_Bits(c.p, NUM_DIGITS), 128u);
    EXPECT_EQ(NN_Bits(c.order, NUM_DIGITS), 126u);
}

TEST(Secp128r2, BasePointIsOnTheCurve) {
    CurveParams c;
    get_curve_param(&c);
    // y^2 = x^3 + a*x + b (mod p), with the general and the fast multiplication.
    N5 lhs, rhs, t;
    NN_ModMult(lhs.data(), c.G.y, c.G.y, c.p, NUM_DIGITS);
    NN_ModMult(t.data(), c.G.x, c.G.x, c.p, NUM_DIGITS);
    NN_ModAdd(t.data(), t.data(), c.a, c.p, NUM_DIGITS);
    NN_ModMult(rhs.data(), t.data(), c.G.x, c.p, NUM_DIGITS);
    NN_ModAdd(rhs.data(), rhs.data(), c.b, c.p, NUM_DIGITS);
    EXPECT_EQ(lhs, rhs);

    NN_ModSqrOpt(lhs.data(), c.G.y, c.p, c.omega, NUM_DIGITS);
    NN_ModSqrOpt(t.data(), c.G.x, c.p, c.omega, NUM_DIGITS);
    NN_ModAdd(t.data(), t.data(), c.a, c.p, NUM_DIGITS);
    NN_ModMultOpt(t.data(), t.data(), c.G.x, c.p, c.omega, NUM_DIGITS);
    NN_ModAdd(t.data(), t.data(), c.b, c.p, NUM_DIGITS);
    EXPECT_EQ(lhs, t);

    // p and n are prime: 2^(m-1) = 1 (mod m).
    const N5 two = {2, 0, 0, 0, 0}, one = {1, 0, 0, 0, 0};
    for (const std::uint32_t* m : {c.p, c.order}) {
        N5 m1, r;
        NN_Sub(m1.data(), m, one.data(), NUM_DIGITS);
        NN_ModExp(r.data(), two.data(), m1.data(), NUM_DIGITS, m, NUM_DIGITS);
        EXPECT_EQ(r, one);
    }
}

TEST(Secp128r2, OmegaMul) {
    const N5 omega = {1, 0, 0, 2, 0};
    // (2^128 - 1)(2^97 + 1) = 2^225 + p in eight digits.
    const std::uint32_t x[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    std::uint32_t a[9] = {kJunk, kJunk, kJunk, kJunk, 0, 0, 0, 0, kJunk};
    EXPECT_EQ(omega_mul(a, x, omega.data(), 4), 8);
    const std::uint32_t want[9] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFD, 0,
                                   0,          0,          2,          kJunk};
    EXPECT_EQ(std::memcmp(a, want, sizeof a), 0);

    // x = 0: all n + 4 digits zero; the length is returned all the same.
    const std::uint32_t zero[4] = {};
    std::uint32_t z[8] = {kJunk, kJunk, kJunk, kJunk, 0, 0, 0, 0};
    EXPECT_EQ(omega_mul(z, zero, omega.data(), 4), 8);
    for (std::uint32_t d : z)
        EXPECT_EQ(d, 0u);

    // Only digit 3 of omega is read; w = 0 gives x itself; the length wraps at 256.
    const N5 noisy = {0xDEAD, 0xBEEF, 0xF00D, 2, 0xCAFE};
    const N5 w0 = {1, 0, 0, 0, 0};
    std::uint32_t b[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    omega_mul(b, x, noisy.data(), 4);
    EXPECT_EQ(std::memcmp(a, b, sizeof b), 0);
    std::uint32_t c[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    omega_mul(c, x, w0.data(), 4);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(c[i], i < 4 ? 0xFFFFFFFFu : 0u) << i;
    std::array<std::uint32_t, 252> big{};
    std::array<std::uint32_t, 256> out{};
    EXPECT_EQ(omega_mul(out.data(), big.data(), omega.data(), 252), 0);

    // Random x of one to six digits against the general product x * omega.
    test::Rng rng(11);
    for (int i = 0; i < 200; ++i) {
        const auto n = static_cast<std::uint8_t>(1 + rng.below(5));
        std::uint32_t xs[NUM_DIGITS] = {}, r[NUM_DIGITS + 4] = {}, want2[2 * NUM_DIGITS];
        for (int j = 0; j < n; ++j)
            xs[j] = rng.u32();
        const std::uint32_t w = i % 4 == 0 ? 0xFFFFFFFF : rng.u32();
        const N5 om = {1, 0, 0, w, 0};
        EXPECT_EQ(omega_mul(r, xs, om.data(), n), n + 4);
        NN_Mult(want2, xs, om.data(), NUM_DIGITS);
        ASSERT_EQ(std::memcmp(r, want2, (n + 4) * sizeof(std::uint32_t)), 0) << int(n);
    }
}

}  // namespace
}  // namespace klarvex

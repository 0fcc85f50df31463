// Known-answer, edge-case and aliasing tests of the multi-precision layer.
//
// Unless marked otherwise, expected values are worked out by hand from the
// definitions; values marked "known_answers.py" are printed by
// gen/known_answers.py (Python's integers).

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "nn.h"
#include "secp128r2.h"
#include "support/random.h"

namespace klarvex {
namespace {

template <std::size_t N>
using D = std::array<std::uint32_t, N>;
using N5 = D<NUM_DIGITS>;

constexpr std::uint32_t M = 0xFFFFFFFF;
constexpr std::uint32_t kJunk = 0xA5A5A5A5;

// p = 2^128 - 2^97 - 1 and n, the order of the secp128r2 base point (SEC 2).
constexpr N5 kP = {M, M, M, 0xFFFFFFFD, 0};
constexpr N5 kOmega = {1, 0, 0, 2, 0};
constexpr N5 kN = {0x0613B5A3, 0xBE002472, 0x7FFFFFFF, 0x3FFFFFFF, 0};

template <std::size_t N>
D<N> filled(std::uint32_t v) {
    D<N> a;
    a.fill(v);
    return a;
}

N5 minus(const N5& a, std::uint32_t k) {
    N5 r;
    const N5 kk = {k, 0, 0, 0, 0};
    NN_Sub(r.data(), a.data(), kk.data(), NUM_DIGITS);
    return r;
}

N5 plus(const N5& a, std::uint32_t k) {
    N5 r;
    const N5 kk = {k, 0, 0, 0, 0};
    NN_Add(r.data(), a.data(), kk.data(), NUM_DIGITS);
    return r;
}

// A random value below 2^(32*sig), in N digits.
template <std::size_t N>
D<N> random_num(test::Rng& rng, std::size_t sig = N) {
    D<N> a{};
    for (std::size_t i = 0; i < sig && i < N; ++i)
        a[i] = rng.u32();
    return a;
}

// A random value in [0, m) for m = p or n (both above 2^125).
N5 random_below(test::Rng& rng, const N5& m) {
    for (;;) {
        N5 a = random_num<NUM_DIGITS>(rng, KEY_DIGITS);
        if (NN_Cmp(a.data(), m.data(), NUM_DIGITS) < 0) return a;
    }
}

// ---------------------------------------------------------------------------
// Representation, conversion and comparison.
// ---------------------------------------------------------------------------

TEST(NnConvert, DecodeLayoutsTruncationAndZeroFill) {
    std::uint8_t bytes[24];
    for (int i = 0; i < 24; ++i)
        bytes[i] = static_cast<std::uint8_t>(i + 1);

    // 16 bytes: byte 15 is the low byte of digit 0, byte 0 the high byte of digit 3.
    N5 a = filled<5>(kJunk);
    NN_Decode(a.data(), 5, bytes, 16);
    EXPECT_EQ(a, (N5{0x0D0E0F10, 0x090A0B0C, 0x05060708, 0x01020304, 0}));
    // 20 bytes fill all five digits.
    NN_Decode(a.data(), 5, bytes, 20);
    EXPECT_EQ(a, (N5{0x11121314, 0x0D0E0F10, 0x090A0B0C, 0x05060708, 0x01020304}));
    // 24 bytes: the leading four are dropped.
    NN_Decode(a.data(), 5, bytes, 24);
    EXPECT_EQ(a, (N5{0x15161718, 0x11121314, 0x0D0E0F10, 0x090A0B0C, 0x05060708}));
    // 5 bytes: the leading byte ends up alone in the low byte of digit 1.
    a = filled<5>(kJunk);
    NN_Decode(a.data(), 5, bytes, 5);
    EXPECT_EQ(a, (N5{0x02030405, 0x00000001, 0, 0, 0}));
    // 0 bytes decode to zero over the whole count.
    a = filled<5>(kJunk);
    NN_Decode(a.data(), 5, bytes, 0);
    EXPECT_EQ(a, (N5{}));
    // A count of 0 writes nothing.
    a = filled<5>(kJunk);
    NN_Decode(a.data(), 0, bytes, 16);
    EXPECT_EQ(a, filled<5>(kJunk));
}

TEST(NnConvert, EncodeLayoutsTruncationAndZeroFill) {
    const N5 a = {0x0D0E0F10, 0x090A0B0C, 0x05060708, 0x01020304, 0xEEEEEEEE};
    std::uint8_t out[24];

    // 16 bytes: digits 3..0, digit 4 dropped.
    std::memset(out, 0xCC, sizeof out);
    NN_Encode(out, 16, a.data(), 5);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(out[i], i + 1) << i;
    EXPECT_EQ(out[16], 0xCC);
    // 24 bytes: the value of all five digits after four leading zero bytes.
    NN_Encode(out, 24, a.data(), 5);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(out[i], 0) << i;
    for (int i = 4; i < 8; ++i)
        EXPECT_EQ(out[i], 0xEE) << i;
    for (int i = 8; i < 24; ++i)
        EXPECT_EQ(out[i], i - 7) << i;
    // 5 bytes: value mod 256^5.
    NN_Encode(out, 5, a.data(), 5);
    const std::uint8_t five[5] = {0x0C, 0x0D, 0x0E, 0x0F, 0x10};
    EXPECT_EQ(std::memcmp(out, five, 5), 0);
    // A count of 0 encodes zero; a length of 0 writes nothing.
    std::memset(out, 0xCC, sizeof out);
    NN_Encode(out, 8, a.data(), 0);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out[i], 0) << i;
    EXPECT_EQ(out[8], 0xCC);
    std::memset(out, 0xCC, sizeof out);
    NN_Encode(out, 0, a.data(), 5);
    EXPECT_EQ(out[0], 0xCC);

    // Decode then encode at the same length gives the bytes back when they fit.
    test::Rng rng(1);
    for (int len = 0; len <= 20; ++len) {
        std::uint8_t in[20], back[20];
        for (auto& b : in)
            b = static_cast<std::uint8_t>(rng.u32());
        N5 x;
        NN_Decode(x.data(), 5, in, static_cast<std::uint8_t>(len));
        NN_Encode(back, static_cast<std::uint8_t>(len), x.data(), 5);
        EXPECT_EQ(std::memcmp(in, back, static_cast<std::size_t>(len)), 0) << len;
    }
}

TEST(NnCompare, AssignCmpEqualZeroOne) {
    N5 a = filled<5>(kJunk);
    NN_Assign2Exp(a.data(), 0, 5);
    EXPECT_EQ(a, (N5{1, 0, 0, 0, 0}));
    NN_Assign2Exp(a.data(), 31, 5);
    EXPECT_EQ(a, (N5{0x80000000, 0, 0, 0, 0}));
    NN_Assign2Exp(a.data(), 32, 5);
    EXPECT_EQ(a, (N5{0, 1, 0, 0, 0}));
    NN_Assign2Exp(a.data(), 159, 5);
    EXPECT_EQ(a, (N5{0, 0, 0, 0, 0x80000000}));
    NN_Assign2Exp(a.data(), 160, 5);
    EXPECT_EQ(a, (N5{}));
    a = filled<5>(kJunk);
    NN_AssignDigit(a.data(), 7, 5);
    EXPECT_EQ(a, (N5{7, 0, 0, 0, 0}));
    a = filled<5>(kJunk);
    NN_AssignZero(a.data(), 4);
    EXPECT_EQ(a, (N5{0, 0, 0, 0, kJunk}));

    // The top differing digit decides, whatever the lower digits say.
    const N5 x = {0, 0, 0, 1, 0}, y = {M, M, M, 0, 0};
    EXPECT_EQ(NN_Cmp(x.data(), y.data(), 5), 1);
    EXPECT_EQ(NN_Cmp(y.data(), x.data(), 5), -1);
    EXPECT_EQ(NN_Cmp(x.data(), x.data(), 5), 0);
    EXPECT_EQ(NN_Cmp(x.data(), y.data(), 3), -1);
    EXPECT_EQ(NN_Cmp(x.data(), y.data(), 0), 0);
    EXPECT_EQ(NN_Equal(x.data(), y.data(), 5), 0);
    EXPECT_EQ(NN_Equal(x.data(), y.data(), 0), 1);
    EXPECT_EQ(NN_Equal(kP.data(), kP.data(), 5), 1);

    const N5 zero{}, one = {1, 0, 0, 0, 0}, one_high = {1, 0, 5, 0, 0}, high = {0, 0, 0, 0, 1};
    EXPECT_EQ(NN_Zero(zero.data(), 5), 1);
    EXPECT_EQ(NN_Zero(high.data(), 5), 0);
    EXPECT_EQ(NN_Zero(high.data(), 4), 1);
    EXPECT_EQ(NN_Zero(high.data(), 0), 1);
    EXPECT_EQ(NN_One(one.data(), 5), 1);
    EXPECT_EQ(NN_One(one.data(), 1), 1);
    EXPECT_EQ(NN_One(one_high.data(), 5), 0);
    EXPECT_EQ(NN_One(zero.data(), 5), 0);
    EXPECT_EQ(NN_One(one.data(), 0), 0);
}

TEST(NnCompare, DigitsAndBits) {
    EXPECT_EQ(NN_DigitBits(0), 0u);
    EXPECT_EQ(NN_DigitBits(1), 1u);
    EXPECT_EQ(NN_DigitBits(0x00010000), 17u);
    EXPECT_EQ(NN_DigitBits(0x80000000), 32u);
    EXPECT_EQ(NN_DigitBits(M), 32u);

    const N5 zero{}, two32 = {0, 1, 0, 0, 0}, top = {0, 0, 0, 0, 1};
    EXPECT_EQ(NN_Bits(zero.data(), 5), 0u);
    EXPECT_EQ(NN_Bits(two32.data(), 5), 33u);
    EXPECT_EQ(NN_Bits(top.data(), 5), 129u);
    EXPECT_EQ(NN_Bits(kP.data(), 5), 128u);
    EXPECT_EQ(NN_Bits(kN.data(), 5), 126u);
    EXPECT_EQ(NN_Digits(two32.data(), 5), 2u);
    EXPECT_EQ(NN_Digits(top.data(), 5), 5u);
    EXPECT_EQ(NN_Digits(top.data(), 4), 0u);
    D<255> big{};
    EXPECT_EQ(NN_Digits(big.data(), 255), 0u);
    EXPECT_EQ(NN_Bits(big.data(), 255), 0u);
    big[254] = M;
    EXPECT_EQ(NN_Digits(big.data(), 255), 255u);
    EXPECT_EQ(NN_Bits(big.data(), 255), 8160u);
}

// ---------------------------------------------------------------------------
// Digit arithmetic.
// ---------------------------------------------------------------------------

TEST(NnAddSub, CarryAndBorrowOutOfTheTopDigit) {
    const N5 ones = filled<5>(M), one = {1, 0, 0, 0, 0}, zero{};
    N5 a;
    EXPECT_EQ(NN_Add(a.data(), ones.data(), one.data(), 5), 1u);
    EXPECT_EQ(a, zero);
    EXPECT_EQ(NN_Add(a.data(), ones.data(), ones.data(), 5), 1u);
    EXPECT_EQ(a, (N5{0xFFFFFFFE, M, M, M, M}));
    EXPECT_EQ(NN_Sub(a.data(), zero.data(), one.data(), 5), 1u);
    EXPECT_EQ(a, ones);
    EXPECT_EQ(NN_Sub(a.data(), kP.data(), kP.data(), 5), 0u);
    EXPECT_EQ(a, zero);
    // A carry rippling through the middle and stopping below the top.
    const N5 mid = {M, M, 7, 0, 0};
    EXPECT_EQ(NN_Add(a.data(), mid.data(), one.data(), 5), 0u);
    EXPECT_EQ(a, (N5{0, 0, 8, 0, 0}));
    EXPECT_EQ(NN_Sub(a.data(), a.data(), one.data(), 5), 0u);
    EXPECT_EQ(a, mid);
    // A borrow that only the top digit absorbs, and one that it cannot.
    const N5 top = {0, 0, 0, 0, 1};
    EXPECT_EQ(NN_Sub(a.data(), top.data(), one.data(), 5), 0u);
    EXPECT_EQ(a, (N5{M, M, M, M, 0}));
    EXPECT_EQ(NN_Sub(a.data(), top.data(), one.data(), 4), 1u);
    // Count 0 writes nothing and returns 0.
    a = filled<5>(kJunk);
    EXPECT_EQ(NN_Add(a.data(), ones.data(), ones.data(), 0), 0u);
    EXPECT_EQ(NN_Sub(a.data(), zero.data(), ones.data(), 0), 0u);
    EXPECT_EQ(a, filled<5>(kJunk));
}

TEST(NnShift, CountsZeroThirtyOneAndThirtyTwo) {
    const N5 x = {0x80000001, 0x12345678, 0, M, 0xE0000005};
    N5 a;
    EXPECT_EQ(NN_LShift(a.data(), x.data(), 3, 5), 7u);  // top 3 bits of digit 4
    EXPECT_EQ(a, (N5{0x00000008, 0x91A2B3C4, 0, 0xFFFFFFF8, 0x0000002F}));
    EXPECT_EQ(NN_LShift(a.data(), x.data(), 0, 5), 0u);
    EXPECT_EQ(a, x);
    EXPECT_EQ(NN_LShift(a.data(), x.data(), 31, 5), 0x70000002u);
    EXPECT_EQ(a, (N5{0x80000000, 0x40000000, 0x091A2B3C, 0x80000000, 0xFFFFFFFF}));
    a = filled<5>(kJunk);
    EXPECT_EQ(NN_LShift(a.data(), x.data(), 32, 5), 0u);
    EXPECT_EQ(NN_LShift(a.data(), x.data(), 255, 5), 0u);
    EXPECT_EQ(a, filled<5>(kJunk));

    const D<1> one = {1};
    D<1> r;
    EXPECT_EQ(NN_RShift(r.data(), one.data(), 1, 1), 0x80000000u);
    EXPECT_EQ(r[0], 0u);
    EXPECT_EQ(NN_RShift(a.data(), x.data(), 0, 5), 0u);
    EXPECT_EQ(a, x);
    EXPECT_EQ(NN_RShift(a.data(), x.data(), 31, 5), 0x00000002u);
    EXPECT_EQ(a, (N5{0x2468ACF1, 0x00000000, 0xFFFFFFFE, 0xC000000B, 0x00000001}));
    EXPECT_EQ(NN_RShift(a.data(), x.data(), 4, 5), 0x10000000u);
    EXPECT_EQ(a, (N5{0x88000000, 0x01234567, 0xF0000000, 0x5FFFFFFF, 0x0E000000}));
    a = filled<5>(kJunk);
    EXPECT_EQ(NN_RShift(a.data(), x.data(), 32, 5), 0u);
    EXPECT_EQ(a, filled<5>(kJunk));
}

TEST(NnDigitMult, RowsCarriesBorrowsAndZeroMultiplier) {
    // b + M*d with b = d = 2^160 - 1 is 2^192 - 2^32: low digits {0, M, M, M, M}, carry M.
    const N5 ones = filled<5>(M), zero{};
    N5 a;
    EXPECT_EQ(NN_AddDigitMult(a.data(), ones.data(), M, ones.data(), 5), M);
    EXPECT_EQ(a, (N5{0, M, M, M, M}));
    // 0 - M*(2^160 - 1) = M - M*2^160: low digits {M, 0, 0, 0, 0}, borrow M.
    EXPECT_EQ(NN_SubDigitMult(a.data(), zero.data(), M, ones.data(), 5), M);
    EXPECT_EQ(a, (N5{M, 0, 0, 0, 0}));
    // Exact subtraction leaves no borrow.
    const N5 six = {6, 0, 0, 0, 0}, two = {2, 0, 0, 0, 0};
    EXPECT_EQ(NN_SubDigitMult(a.data(), six.data(), 3, two.data(), 5), 0u);
    EXPECT_EQ(a, zero);
    // m = 0 writes nothing, also when out is not the addend.
    a = filled<5>(kJunk);
    EXPECT_EQ(NN_AddDigitMult(a.data(), ones.data(), 0, ones.data(), 5), 0u);
    EXPECT_EQ(NN_SubDigitMult(a.data(), ones.data(), 0, ones.data(), 5), 0u);
    EXPECT_EQ(a, filled<5>(kJunk));

    std::uint32_t q;
    const std::uint32_t b[2] = {0, 1};
    NN_DigitDiv(&q, b, 2);
    EXPECT_EQ(q, 0x80000000u);
    const std::uint32_t c[2] = {M, 0xFFFFFFFE};
    NN_DigitDiv(&q, c, M);
    EXPECT_EQ(q, M);
}

TEST(NnMult, KnownProductsAndSquares) {
    const N5 ones = filled<5>(M), zero{};
    D<10> a = filled<10>(kJunk);
    NN_Mult(a.data(), ones.data(), ones.data(), 5);
    EXPECT_EQ(a, (D<10>{1, 0, 0, 0, 0, 0xFFFFFFFE, M, M, M, M}));
    a = filled<10>(kJunk);
    NN_Sqr(a.data(), ones.data(), 5);
    EXPECT_EQ(a, (D<10>{1, 0, 0, 0, 0, 0xFFFFFFFE, M, M, M, M}));
    a = filled<10>(kJunk);
    NN_Mult(a.data(), ones.data(), zero.data(), 5);
    EXPECT_EQ(a, D<10>{});
    // Short operands: (2^32 + 1)(2^64 - 1) = 2^96 + 2^64 - 2^32 - 1.
    const N5 x = {1, 1, 0, 0, 0}, y = {M, M, 0, 0, 0};
    a = filled<10>(kJunk);
    NN_Mult(a.data(), x.data(), y.data(), 5);
    EXPECT_EQ(a, (D<10>{M, 0xFFFFFFFE, 0, 1, 0, 0, 0, 0, 0, 0}));

    test::Rng rng(2);
    for (int i = 0; i < 200; ++i) {
        const N5 z = random_num<5>(rng, 1 + rng.below(5));
        D<10> m, s;
        NN_Mult(m.data(), z.data(), z.data(), 5);
        NN_Sqr(s.data(), z.data(), 5);
        ASSERT_EQ(m, s);
    }
}

// Divides c by d and checks q*d + r = c with r < d.
void check_division(const D<10>& c, const N5& d) {
    D<10> q = filled<10>(kJunk);
    N5 r = filled<5>(kJunk);
    NN_Div(q.data(), r.data(), c.data(), 10, d.data(), 5);
    ASSERT_LT(NN_Cmp(r.data(), d.data(), 5), 0);
    // q*d in 15 digits from the two halves of q.
    std::array<std::uint32_t, 15> qd{};
    D<10> hi;
    NN_Mult(qd.data(), q.data(), d.data(), 5);
    NN_Mult(hi.data(), q.data() + 5, d.data(), 5);
    ASSERT_EQ(NN_Add(qd.data() + 5, qd.data() + 5, hi.data(), 10), 0u);
    ASSERT_EQ(NN_Zero(qd.data() + 10, 5), 1);
    D<10> r10{};
    std::copy_n(r.begin(), 5, r10.begin());
    ASSERT_EQ(NN_Add(qd.data(), qd.data(), r10.data(), 10), 0u);
    ASSERT_TRUE(std::equal(c.begin(), c.end(), qd.begin()));
}

TEST(NnDiv, NormalisationExtremesAndShortDividends) {
    test::Rng rng(3);
    const D<10> ones10 = filled<10>(M);
    // Divisors with top digit M (no normalising shift; the estimate is the top
    // digit), one-digit divisors (shifts 31 and 30, and none), divisors with a
    // divisor count above their significant digits.
    std::vector<N5> divisors = {filled<5>(M),
                                {1, 0, 0, 0, 0},
                                {3, 0, 0, 0, 0},
                                {0x80000001, 0, 0, 0, 0},
                                {M, 0, 0, 0, 0},
                                {0x12345, 0x10, 0, 0, 0},
                                {0, 0, 0, 0, 1},
                                kP,
                                kN};
    for (int i = 0; i < 20; ++i)
        divisors.push_back({rng.u32(), rng.u32(), rng.u32(), rng.u32(), M});
    for (const N5& d : divisors) {
        check_division(ones10, d);
        for (int i = 0; i < 20; ++i)
            check_division(random_num<10>(rng, 1 + rng.below(10)), d);
        if (HasFatalFailure()) return;
    }
    // Quotient and remainder of a small case.
    const D<10> hundred = {100};
    const N5 seven = {7, 0, 0, 0, 0};
    D<10> q = filled<10>(kJunk);
    N5 r;
    NN_Div(q.data(), r.data(), hundred.data(), 10, seven.data(), 5);
    EXPECT_EQ(q, (D<10>{14}));
    EXPECT_EQ(r, (N5{2, 0, 0, 0, 0}));

    // A dividend of fewer digits than the divisor: quotient 0, remainder the
    // dividend zero-filled to the divisor count.
    const D<2> c = {0xDEADBEEF, 0xCAFEF00D};
    D<2> q2 = filled<2>(kJunk);
    r = filled<5>(kJunk);
    NN_Div(q2.data(), r.data(), c.data(), 2, kP.data(), 5);
    EXPECT_EQ(q2, D<2>{});
    EXPECT_EQ(r, (N5{0xDEADBEEF, 0xCAFEF00D, 0, 0, 0}));
    // A dividend of count 0.
    r = filled<5>(kJunk);
    NN_Div(nullptr, r.data(), c.data(), 0, kP.data(), 5);
    EXPECT_EQ(r, N5{});

    // No quotient array: only the remainder is written.
    const N5 ten = {10, 0, 0, 0, 0}, three = {3, 0, 0, 0, 0};
    NN_Div(nullptr, r.data(), ten.data(), 5, three.data(), 5);
    EXPECT_EQ(r, (N5{1, 0, 0, 0, 0}));

    // A zero divisor leaves both outputs untouched; so does NN_Mod.
    const N5 zero{};
    N5 q5 = filled<5>(kJunk);
    r = filled<5>(kJunk);
    NN_Div(q5.data(), r.data(), ten.data(), 5, zero.data(), 5);
    NN_Mod(r.data(), ten.data(), 5, zero.data(), 5);
    NN_ModMult(r.data(), ten.data(), ten.data(), zero.data(), 5);
    EXPECT_EQ(q5, filled<5>(kJunk));
    EXPECT_EQ(r, filled<5>(kJunk));
}

// ---------------------------------------------------------------------------
// General modular arithmetic.
// ---------------------------------------------------------------------------

TEST(NnModArith, AddSubAtTheModulusBoundary) {
    const N5 one = {1, 0, 0, 0, 0}, zero{};
    N5 a;
    for (const N5& m : {kP, kN}) {
        const N5 m1 = minus(m, 1);
        NN_ModAdd(a.data(), m1.data(), one.data(), m.data(), 5);
        EXPECT_EQ(a, zero);
        NN_ModAdd(a.data(), m1.data(), m1.data(), m.data(), 5);
        EXPECT_EQ(a, minus(m, 2));
        NN_ModSub(a.data(), zero.data(), one.data(), m.data(), 5);
        EXPECT_EQ(a, m1);
        NN_ModSub(a.data(), m1.data(), m1.data(), m.data(), 5);
        EXPECT_EQ(a, zero);
    }
    // A sum that carries out of the top digit is still reduced by one subtraction.
    const N5 big = {5, 0, 0, 0, 0xF0000000};
    const N5 x = minus(big, 1), y = minus(big, 2);
    NN_ModAdd(a.data(), x.data(), y.data(), big.data(), 5);
    EXPECT_EQ(a, minus(big, 3));
}

TEST(NnModArith, ModMultTakesUnreducedOperands) {
    // (2^160 - 1)^2 mod p, known_answers.py.
    const N5 ones = filled<5>(M);
    N5 a;
    NN_ModMult(a.data(), ones.data(), ones.data(), kP.data(), 5);
    EXPECT_EQ(a, (N5{0x49, 0x22, 0x11, 0x98, 0}));
    // (p + 1)(p + 2) = 2 mod p.
    const N5 p1 = plus(kP, 1), p2 = plus(kP, 2);
    NN_ModMult(a.data(), p1.data(), p2.data(), kP.data(), 5);
    EXPECT_EQ(a, (N5{2, 0, 0, 0, 0}));
}

TEST(NnModArith, ModExpExponentLayouts) {
    const N5 three = {3, 0, 0, 0, 0}, one = {1, 0, 0, 0, 0};
    N5 a = filled<5>(kJunk);
    const std::uint32_t e0[3] = {0, 0, 0};
    NN_ModExp(a.data(), three.data(), e0, 3, kP.data(), 5);
    EXPECT_EQ(a, one);
    // Exponent 0 gives 1 even modulo 1 (no reduction is made).
    NN_ModExp(a.data(), three.data(), e0, 0, one.data(), 5);
    EXPECT_EQ(a, one);
    // Exponent 1 reduces the base.
    const std::uint32_t e1[1] = {1};
    const N5 p3 = plus(kP, 3);
    NN_ModExp(a.data(), p3.data(), e1, 1, kP.data(), 5);
    EXPECT_EQ(a, three);
    // Top digit 0x80000000 (sixteen bit pairs): 3^(2^31) mod p, known_answers.py.
    const std::uint32_t e31[1] = {0x80000000};
    NN_ModExp(a.data(), three.data(), e31, 1, kP.data(), 5);
    EXPECT_EQ(a, (N5{0xD7A4780A, 0x121DB2CD, 0x5F6F1DF8, 0x635C1165, 0}));
    // Top digit 1 above a full digit, leading zero digits in the count:
    // Gx^(2^33 - 1) mod n, known_answers.py.
    const N5 gx = {0xCDEBC140, 0xE6FB32A7, 0x5E572983, 0x7B6AA5D8, 0};
    const std::uint32_t e33[4] = {M, 1, 0, 0};
    NN_ModExp(a.data(), gx.data(), e33, 4, kN.data(), 5);
    EXPECT_EQ(a, (N5{0x5E55C321, 0x513BE27C, 0x94E2BF8C, 0x2D0AB8FA, 0}));
    // Fermat: x^(p-1) = 1 and x^p = x for the primes p and n.
    for (const N5& m : {kP, kN}) {
        const N5 m1 = minus(m, 1);
        NN_ModExp(a.data(), gx.data(), m1.data(), 5, m.data(), 5);
        EXPECT_EQ(a, one);
        N5 gr;
        NN_Mod(gr.data(), gx.data(), 5, m.data(), 5);
        NN_ModExp(a.data(), gx.data(), m.data(), 5, m.data(), 5);
        EXPECT_EQ(a, gr);
    }
}

TEST(NnModArith, ModInvAndGcd) {
    const N5 one = {1, 0, 0, 0, 0}, zero{};
    N5 a;
    test::Rng rng(4);
    for (const N5& m : {kP, kN}) {
        NN_ModInv(a.data(), one.data(), m.data(), 5);
        EXPECT_EQ(a, one);
        const N5 m1 = minus(m, 1);
        NN_ModInv(a.data(), m1.data(), m.data(), 5);
        EXPECT_EQ(a, m1);
        // No inverse of 0: the modulus itself comes out.
        NN_ModInv(a.data(), zero.data(), m.data(), 5);
        EXPECT_EQ(a, m);
        for (int i = 0; i < 100; ++i) {
            // Unreduced inputs up to 2^160 as well as reduced ones.
            N5 x = random_num<5>(rng, i % 2 ? 5 : 4), t;
            NN_Mod(t.data(), x.data(), 5, m.data(), 5);
            if (NN_Zero(t.data(), 5)) continue;
            NN_ModInv(a.data(), x.data(), m.data(), 5);
            ASSERT_LT(NN_Cmp(a.data(), m.data(), 5), 0);
            NN_ModMult(t.data(), x.data(), a.data(), m.data(), 5);
            ASSERT_EQ(t, one);
        }
    }
    // An even modulus: 3^-1 mod 2^32 = 0xAAAAAAAB.
    const N5 three = {3, 0, 0, 0, 0}, two32 = {0, 1, 0, 0, 0};
    NN_ModInv(a.data(), three.data(), two32.data(), 5);
    EXPECT_EQ(a, (N5{0xAAAAAAAB, 0, 0, 0, 0}));

    const N5 y = {0, 9, 0, 0, 0}, x = {0, 0, 3, 0, 0};  // 9*2^32, 3*2^64
    NN_Gcd(a.data(), x.data(), y.data(), 5);
    EXPECT_EQ(a, (N5{0, 3, 0, 0, 0}));
    NN_Gcd(a.data(), zero.data(), y.data(), 5);
    EXPECT_EQ(a, y);
    NN_Gcd(a.data(), x.data(), zero.data(), 5);
    EXPECT_EQ(a, x);
    a = filled<5>(kJunk);
    NN_Gcd(a.data(), zero.data(), zero.data(), 5);
    EXPECT_EQ(a, zero);
    NN_Gcd(a.data(), kP.data(), kN.data(), 5);
    EXPECT_EQ(a, one);
}

TEST(NnModArith, ModSmallKeepsTheModulus) {
    N5 a = kP;
    NN_ModSmall(a.data(), kP.data(), 5);
    EXPECT_EQ(a, kP);
    a = plus(kP, 1);
    NN_ModSmall(a.data(), kP.data(), 5);
    EXPECT_EQ(a, (N5{1, 0, 0, 0, 0}));
    // 8p - 1 -> p - 1 after seven subtractions.
    NN_LShift(a.data(), kP.data(), 3, 5);
    a = minus(a, 1);
    NN_ModSmall(a.data(), kP.data(), 5);
    EXPECT_EQ(a, minus(kP, 1));
    // 8p -> p, not 0.
    NN_LShift(a.data(), kP.data(), 3, 5);
    NN_ModSmall(a.data(), kP.data(), 5);
    EXPECT_EQ(a, kP);
    a = {5, 0, 0, 0, 0};
    NN_ModSmall(a.data(), kP.data(), 5);
    EXPECT_EQ(a, (N5{5, 0, 0, 0, 0}));
}

// ---------------------------------------------------------------------------
// Fast reduction modulo p and binary division.
// ---------------------------------------------------------------------------

N5 mul_opt(const N5& x, const N5& y) {
    N5 a = filled<5>(kJunk);
    NN_ModMultOpt(a.data(), x.data(), y.data(), kP.data(), kOmega.data(), NUM_DIGITS);
    return a;
}

N5 sqr_opt(const N5& x) {
    N5 a = filled<5>(kJunk);
    NN_ModSqrOpt(a.data(), x.data(), kP.data(), kOmega.data(), NUM_DIGITS);
    return a;
}

TEST(NnFastReduction, FoldCountsAndTheValueP) {
    const N5 one = {1, 0, 0, 0, 0}, five = {5, 0, 0, 0, 0}, zero{};
    // p*1 needs no fold and is not reduced; p*5 folds once and comes out as p.
    EXPECT_EQ(mul_opt(kP, one), kP);
    EXPECT_EQ(mul_opt(five, kP), kP);
    EXPECT_EQ(sqr_opt(kP), kP);
    EXPECT_EQ(mul_opt(zero, kP), zero);
    EXPECT_EQ(sqr_opt(zero), zero);
    // (p-1)^2 = 1: five folds, then one subtraction.
    const N5 pm1 = minus(kP, 1);
    EXPECT_EQ(mul_opt(pm1, pm1), one);
    EXPECT_EQ(sqr_opt(pm1), one);
    // (2^64-1)^2 = 2^128 - 2^65 + 1 needs no fold but one subtraction: 2^97 - 2^65 + 2.
    const N5 m64 = {M, M, 0, 0, 0};
    EXPECT_EQ(mul_opt(m64, m64), (N5{2, 0, 0xFFFFFFFE, 1, 0}));
    // (2^128-1)^2 takes six folds; (2^128-1)^2 mod p, known_answers.py.
    const N5 m128 = {M, M, M, M, 0};
    EXPECT_EQ(mul_opt(m128, m128), (N5{0x10, 0x08, 0x04, 0x20, 0}));
    EXPECT_EQ(sqr_opt(m128), (N5{0x10, 0x08, 0x04, 0x20, 0}));
    // Digit 4 of a factor is not read.
    const N5 junk5 = {5, 0, 0, 0, 7}, three = {3, 0, 0, 0, 0xFFFFFFFF};
    EXPECT_EQ(mul_opt(junk5, three), (N5{15, 0, 0, 0, 0}));
    EXPECT_EQ(sqr_opt(three), (N5{9, 0, 0, 0, 0}));

    // Results agree with the general product and lie in [0, p]; a count of 4
    // or 10 gives the same value.
    test::Rng rng(5);
    for (int i = 0; i < 500; ++i) {
        const N5 x = random_num<5>(rng, KEY_DIGITS), y = random_num<5>(rng, KEY_DIGITS);
        const N5 r = mul_opt(x, y);
        ASSERT_LE(NN_Cmp(r.data(), kP.data(), 5), 0);
        N5 g;
        NN_ModMult(g.data(), x.data(), y.data(), kP.data(), 5);
        ASSERT_EQ(r, g);
        ASSERT_EQ(mul_opt(x, x), sqr_opt(x));
        D<10> p10{}, r10 = filled<10>(kJunk);
        std::copy_n(kP.begin(), 5, p10.begin());
        NN_ModMultOpt(r10.data(), x.data(), y.data(), p10.data(), kOmega.data(), 10);
        ASSERT_TRUE(std::equal(r.begin(), r.end(), r10.begin()));
        ASSERT_EQ(NN_Zero(r10.data() + 5, 5), 1);
        D<4> r4;
        NN_ModMultOpt(r4.data(), x.data(), y.data(), kP.data(), kOmega.data(), 4);
        ASSERT_TRUE(std::equal(r4.begin(), r4.end(), r.begin()));
    }
}

TEST(NnModDivOpt, QuotientsAndTheZeroDivisor) {
    const N5 one = {1, 0, 0, 0, 0}, seven = {7, 0, 0, 0, 0}, zero{};
    test::Rng rng(6);
    for (const N5& m : {kP, kN}) {
        N5 a;
        const N5 b = random_below(rng, m);
        NN_ModDivOpt(a.data(), b.data(), one.data(), m.data(), 5);
        EXPECT_EQ(a, b);
        NN_ModDivOpt(a.data(), zero.data(), b.data(), m.data(), 5);
        EXPECT_EQ(a, zero);
        const N5 m1 = minus(m, 1);
        NN_ModDivOpt(a.data(), seven.data(), m1.data(), m.data(), 5);
        EXPECT_EQ(a, minus(m, 7));
        // A zero divisor has no quotient: 0 is written at once.
        a = filled<5>(kJunk);
        NN_ModDivOpt(a.data(), b.data(), zero.data(), m.data(), 5);
        EXPECT_EQ(a, zero);
        for (int i = 0; i < 100; ++i) {
            const N5 x = random_below(rng, m), c = random_below(rng, m);
            if (NN_Zero(c.data(), 5)) continue;
            N5 t;
            NN_ModDivOpt(a.data(), x.data(), c.data(), m.data(), 5);
            ASSERT_LT(NN_Cmp(a.data(), m.data(), 5), 0);
            NN_ModMult(t.data(), a.data(), c.data(), m.data(), 5);
            ASSERT_EQ(t, x);
        }
    }
    // A small odd modulus of one digit: 1/2 mod 9 = 5.
    const D<1> two = {2}, nine = {9}, onek = {1};
    D<1> q;
    NN_ModDivOpt(q.data(), onek.data(), two.data(), nine.data(), 1);
    EXPECT_EQ(q[0], 5u);
}

// ---------------------------------------------------------------------------
// Aliasing: each operation that allows out == in gives the same result as
// with separate buffers.
// ---------------------------------------------------------------------------

using Buf = D<10>;
using Ptrs = std::array<std::uint32_t*, 4>;
using Op = std::function<std::uint32_t(std::uint32_t*, const Ptrs&)>;

// Runs f(out, inputs) with a separate out, then again with out being each
// input listed in `slots`, and compares the `len` written digits and the
// returned value.
void expect_alias(const char* what, int len, std::initializer_list<int> slots,
                  const std::array<Buf, 4>& in, const Op& f) {
    std::array<Buf, 4> sep = in;
    Buf ref = filled<10>(kJunk);
    Ptrs ptrs;
    for (int k = 0; k < 4; ++k)
        ptrs[k] = sep[k].data();
    const std::uint32_t ret = f(ref.data(), ptrs);
    for (int slot : slots) {
        std::array<Buf, 4> al = in;
        for (int k = 0; k < 4; ++k)
            ptrs[k] = al[k].data();
        EXPECT_EQ(f(al[slot].data(), ptrs), ret) << what << ", out == input " << slot;
        EXPECT_TRUE(std::equal(ref.begin(), ref.begin() + len, al[slot].begin()))
            << what << ", out == input " << slot;
    }
}

TEST(NnAliasing, OutputMayBeAnInput) {
    test::Rng rng(7);
    for (int iter = 0; iter < 50; ++iter) {
        std::array<Buf, 4> in;
        for (auto& b : in)
            b = random_num<10>(rng, 1 + rng.below(10));
        // fm: slots 0 and 1 reduced mod p (slot 1 nonzero), slot 2 = p.
        std::array<Buf, 4> fm = in;
        for (auto& b : fm) {
            std::fill(b.begin() + 4, b.end(), 0);
            if (NN_Cmp(b.data(), kP.data(), 5) >= 0) b[3] = 0;
        }
        if (NN_Zero(fm[1].data(), 5)) fm[1][0] = 1;
        std::copy_n(kP.begin(), 5, fm[2].begin());
        // dv: slot 1 a nonzero divisor of five digits.
        std::array<Buf, 4> dv = in;
        dv[1][0] |= 1;
        std::fill(dv[1].begin() + 5, dv[1].end(), 0);
        const std::uint32_t m = rng.u32() | 1;

        expect_alias("NN_Assign", 5, {0}, in, [](auto* a, auto& x) {
            NN_Assign(a, x[0], 5);
            return 0u;
        });
        expect_alias("NN_Add", 5, {0, 1}, in,
                     [](auto* a, auto& x) { return NN_Add(a, x[0], x[1], 5); });
        expect_alias("NN_Add x+x", 5, {0}, in,
                     [](auto* a, auto& x) { return NN_Add(a, x[0], x[0], 5); });
        expect_alias("NN_Sub", 5, {0, 1}, in,
                     [](auto* a, auto& x) { return NN_Sub(a, x[0], x[1], 5); });
        expect_alias("NN_Sub x-x", 5, {0}, in,
                     [](auto* a, auto& x) { return NN_Sub(a, x[0], x[0], 5); });
        expect_alias("NN_Mult", 10, {0, 1}, in, [](auto* a, auto& x) {
            NN_Mult(a, x[0], x[1], 5);
            return 0u;
        });
        expect_alias("NN_Sqr", 10, {0}, in, [](auto* a, auto& x) {
            NN_Sqr(a, x[0], 5);
            return 0u;
        });
        expect_alias("NN_LShift", 5, {0}, in,
                     [](auto* a, auto& x) { return NN_LShift(a, x[0], 13, 5); });
        expect_alias("NN_RShift", 5, {0}, in,
                     [](auto* a, auto& x) { return NN_RShift(a, x[0], 13, 5); });
        expect_alias("NN_AddDigitMult", 5, {0}, in,
                     [m](auto* a, auto& x) { return NN_AddDigitMult(a, x[0], m, x[1], 5); });
        expect_alias("NN_SubDigitMult", 5, {0}, in,
                     [m](auto* a, auto& x) { return NN_SubDigitMult(a, x[0], m, x[1], 5); });
        // NN_Div with the quotient, then the remainder, in the dividend or divisor.
        expect_alias("NN_Div quotient", 10, {0, 1}, dv, [](auto* a, auto& x) {
            NN_Div(a, x[3], x[0], 10, x[1], 5);
            return x[3][0] ^ x[3][4];
        });
        expect_alias("NN_Div remainder", 5, {0, 1}, dv, [](auto* a, auto& x) {
            NN_Div(x[3], a, x[0], 10, x[1], 5);
            return x[3][0] ^ x[3][9];
        });
        expect_alias("NN_Mod", 5, {0, 1}, dv, [](auto* a, auto& x) {
            NN_Mod(a, x[0], 10, x[1], 5);
            return 0u;
        });
        expect_alias("NN_ModAdd", 5, {0, 1, 2}, fm, [](auto* a, auto& x) {
            NN_ModAdd(a, x[0], x[1], x[2], 5);
            return 0u;
        });
        expect_alias("NN_ModSub", 5, {0, 1, 2}, fm, [](auto* a, auto& x) {
            NN_ModSub(a, x[0], x[1], x[2], 5);
            return 0u;
        });
        expect_alias("NN_ModMult", 5, {0, 1, 2}, fm, [](auto* a, auto& x) {
            NN_ModMult(a, x[0], x[1], x[2], 5);
            return 0u;
        });
        expect_alias("NN_ModExp", 5, {0, 1, 2}, fm, [](auto* a, auto& x) {
            NN_ModExp(a, x[0], x[1], 3, x[2], 5);
            return 0u;
        });
        expect_alias("NN_ModInv", 5, {1, 2}, fm, [](auto* a, auto& x) {
            NN_ModInv(a, x[1], x[2], 5);
            return 0u;
        });
        expect_alias("NN_Gcd", 5, {0, 1}, in, [](auto* a, auto& x) {
            NN_Gcd(a, x[0], x[1], 5);
            return 0u;
        });
        expect_alias("NN_ModMultOpt", 5, {0, 1}, fm, [](auto* a, auto& x) {
            NN_ModMultOpt(a, x[0], x[1], x[2], kOmega.data(), 5);
            return 0u;
        });
        expect_alias("NN_ModMultOpt x*x", 5, {0}, fm, [](auto* a, auto& x) {
            NN_ModMultOpt(a, x[0], x[0], x[2], kOmega.data(), 5);
            return 0u;
        });
        expect_alias("NN_ModSqrOpt", 5, {0}, fm, [](auto* a, auto& x) {
            NN_ModSqrOpt(a, x[0], x[2], kOmega.data(), 5);
            return 0u;
        });
        expect_alias("NN_ModDivOpt", 5, {0, 1, 2}, fm, [](auto* a, auto& x) {
            NN_ModDivOpt(a, x[0], x[1], x[2], 5);
            return 0u;
        });
        if (HasFailure()) return;
    }
}

}  // namespace
}  // namespace klarvex

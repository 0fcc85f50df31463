// The field module against the digit-by-digit operations it stands for:
// NN_ModMultOpt and NN_ModSqrOpt (the fold), NN_ModAdd, NN_ModSub, NN_LShift
// with NN_ModSmall, NN_Add of p with NN_RShift, NN_ModInv, over edge and
// random field elements, with the result in a separate array and in each
// input's; and the scalar module against NN_Mod, NN_ModAdd, NN_ModMult and
// NN_ModInv modulo n.

#include "field.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "scalar.h"
#include "support/curve.h"
#include "support/random.h"

namespace klarvex {
namespace {

using test::hex;
using test::Num;
using u32 = std::uint32_t;

const u32* prime() {
    return test::curve_params().p;
}
const u32* omega() {
    return test::curve_params().omega;
}
const u32* order() {
    return test::curve_params().order;
}

Num from128(words::u128 v) {
    Num r;
    words::st128(r.data(), v, 0);
    return r;
}

using Op = void (*)(u32* r, const u32* a, const u32* b);
struct Pair {
    const char* name;
    Op field, digits;
};

template <unsigned s>
void shl_digits(u32* r, const u32* a, const u32*) {
    NN_LShift(r, a, s, NUM_DIGITS);
    NN_ModSmall(r, prime(), NUM_DIGITS);
}

const Pair kOps[] = {
    {"mul", [](u32* r, const u32* a, const u32* b) { fe_mul(r, a, b); },
     [](u32* r, const u32* a, const u32* b) {
         NN_ModMultOpt(r, a, b, prime(), omega(), NUM_DIGITS);
     }},
    {"sqr", [](u32* r, const u32* a, const u32*) { fe_sqr(r, a); },
     [](u32* r, const u32* a, const u32*) { NN_ModSqrOpt(r, a, prime(), omega(), NUM_DIGITS); }},
    {"add", [](u32* r, const u32* a, const u32* b) { fe_add(r, a, b); },
     [](u32* r, const u32* a, const u32* b) { NN_ModAdd(r, a, b, prime(), NUM_DIGITS); }},
    {"sub", [](u32* r, const u32* a, const u32* b) { fe_sub(r, a, b); },
     [](u32* r, const u32* a, const u32* b) { NN_ModSub(r, a, b, prime(), NUM_DIGITS); }},
    {"shl 1", [](u32* r, const u32* a, const u32*) { fe_shl(r, a, 1); }, shl_digits<1>},
    {"shl 2", [](u32* r, const u32* a, const u32*) { fe_shl(r, a, 2); }, shl_digits<2>},
    {"shl 3", [](u32* r, const u32* a, const u32*) { fe_shl(r, a, 3); }, shl_digits<3>},
    {"half", [](u32* r, const u32* a, const u32*) { fe_half(r, a); },
     [](u32* r, const u32* a, const u32*) {
         NN_Assign(r, a, NUM_DIGITS);
         if (a[0] & 1) NN_Add(r, r, prime(), NUM_DIGITS);
         NN_RShift(r, r, 1, NUM_DIGITS);
     }},
    {"inverse by Fermat", [](u32* r, const u32* a, const u32*) { fe_inv_ct(r, a); },
     [](u32* r, const u32* a, const u32*) {  // zero (0 or p) unchanged
         if (fe_is_zero(a)) return NN_Assign(r, a, NUM_DIGITS);
         NN_ModInv(r, a, prime(), NUM_DIGITS);
     }},
    {"is zero",
     [](u32* r, const u32* a, const u32*) { NN_AssignDigit(r, fe_is_zero(a), NUM_DIGITS); },
     [](u32* r, const u32* a, const u32*) {
         NN_AssignDigit(r, NN_Zero(a, NUM_DIGITS) || NN_Equal(a, prime(), NUM_DIGITS), NUM_DIGITS);
     }},
};

// op.field gives what op.digits gives, into a separate array and into each
// input's.
::testing::AssertionResult agrees(const Pair& op, const Num& a, const Num& b) {
    Num want, got, in_a = a, in_b = b;
    want.fill(0xA5A5A5A5);
    got = want;
    op.digits(want.data(), a.data(), b.data());
    op.field(got.data(), a.data(), b.data());
    op.field(in_a.data(), in_a.data(), b.data());
    op.field(in_b.data(), a.data(), in_b.data());
    if (got == want && in_a == want && in_b == want) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << op.name << " of " << hex(a) << ", " << hex(b) << ": " << hex(got) << ", into a "
           << hex(in_a) << ", into b " << hex(in_b) << "; want " << hex(want);
}

TEST(Field, MatchesTheDigitOperations) {
    using words::u128;
    const u128 p = words::ld128(prime());
    // 2^127 - 1: 4*a + omega carries out of 128 bits inside fe_shl.
    std::vector<Num> edge;
    for (u128 v : {u128{0}, u128{1}, u128{2}, u128{3}, p - 2, p - 1, p, (p + 1) / 2, (p - 1) / 2,
                   u128{~0ULL}, u128{1} << 64, u128{1} << 96, u128{1} << 97, u128{1} << 127,
                   (u128{1} << 127) - 1, p - (u128{1} << 96)})
        edge.push_back(from128(v));

    std::vector<std::pair<Num, Num>> pairs;
    for (const Num& a : edge)
        for (const Num& b : edge)
            pairs.emplace_back(a, b);
    test::Rng rng(51);
    for (int i = 0; i < 2000 * test::kScale; ++i) {
        // A product in (p, 2^128): no fold, then the final subtraction of p.
        const u128 x = (u128{1} << 63) | rng.u64();
        const u128 y = ~u128{0} / x;
        ASSERT_GT(x * y, p);
        pairs.emplace_back(from128(x), from128(y));
        pairs.emplace_back(test::random_fe(rng), test::random_fe(rng));
    }

    int cases = 0;
    for (const auto& [a, b] : pairs) {
        for (const Pair& op : kOps) {
            ASSERT_TRUE(agrees(op, a, b));
            ++cases;
        }
    }
    std::printf("[ cases    ] %d field operations against the digit operations\n", cases);
}

// The scalar operations over values at the ends of their ranges and random
// ones, with each input's array as the result too.
TEST(Scalar, MatchesTheModularOperations) {
    const u32* n = order();
    const Pair ops[] = {
        {"reduce", [](u32* r, const u32* a, const u32*) { sc_reduce(r, a); },
         [](u32* r, const u32* a, const u32*) { NN_Mod(r, a, NUM_DIGITS, order(), NUM_DIGITS); }},
        {"below n", [](u32* r, const u32* a, const u32*) { NN_AssignDigit(r, sc_below_n(a), 5); },
         [](u32* r, const u32* a, const u32*) {
             NN_AssignDigit(r, NN_Cmp(a, order(), NUM_DIGITS) < 0, 5);
         }},
        {"is zero", [](u32* r, const u32* a, const u32*) { NN_AssignDigit(r, sc_is_zero(a), 5); },
         [](u32* r, const u32* a, const u32*) { NN_AssignDigit(r, NN_Zero(a, 5), 5); }},
        {"add", [](u32* r, const u32* a, const u32* b) { sc_add(r, a, b); },
         [](u32* r, const u32* a, const u32* b) { NN_ModAdd(r, a, b, order(), NUM_DIGITS); }},
        {"mul", [](u32* r, const u32* a, const u32* b) { sc_mul(r, a, b); },
         [](u32* r, const u32* a, const u32* b) { NN_ModMult(r, a, b, order(), NUM_DIGITS); }},
        {"inverse", [](u32* r, const u32* a, const u32*) { sc_inv(r, a); },
         [](u32* r, const u32* a, const u32*) {  // 0 to 0
             if (NN_Zero(a, NUM_DIGITS)) return NN_AssignZero(r, NUM_DIGITS);
             NN_ModInv(r, a, order(), NUM_DIGITS);
         }},
    };
    constexpr int kAnyValue = 3;  // ops[0..3) take any value below 2^160
    Num m1, m2;
    NN_Sub(m1.data(), n, test::num(1).data(), NUM_DIGITS);
    NN_Sub(m2.data(), n, test::num(2).data(), NUM_DIGITS);
    std::vector<Num> below = {test::num(0), test::num(1), test::num(2), m2, m1};
    std::vector<Num> any = {Num{n[0], n[1], n[2], n[3], 0}, Num{~0u, ~0u, ~0u, ~0u, 0},
                            Num{~0u, ~0u, ~0u, ~0u, ~0u}, Num{0, 0, 0, 0, 1}};
    test::Rng rng(52);
    for (int i = 0; i < 500 * test::kScale; ++i) {
        below.push_back(test::random_below_n(rng));
        any.push_back(Num{rng.u32(), rng.u32(), rng.u32(), rng.u32(),
                          static_cast<u32>(rng.u64() >> (32 + i % 32))});
    }
    any.insert(any.end(), below.begin(), below.end());

    int cases = 0;
    for (int o = 0; o < static_cast<int>(std::size(ops)); ++o) {
        const auto& inputs = o < kAnyValue ? any : below;
        for (std::size_t i = 0; i < inputs.size(); ++i, ++cases)
            ASSERT_TRUE(agrees(ops[o], inputs[i], below[(i * 7 + 3) % below.size()]));
    }
    std::printf("[ cases    ] %d scalar operations against the modular operations\n", cases);
}

}  // namespace
}  // namespace klarvex

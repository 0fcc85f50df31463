// ECDSA signing and verification: known answers, nonce draws, result codes and
// degenerate verification sums.

#include "ecdsa.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ecc.h"
#include "ecc_ct.h"
#include "scalar.h"
#include "support/curve.h"
#include "support/nonce.h"
#include "support/random.h"

namespace klarvex {
namespace {

using test::hex;
using test::mul_base;
using test::Num;
using test::sha1;

// The number written as up to 40 hex digits, most significant first.
Num num(const std::string& hex) {
    std::vector<std::uint8_t> be(hex.size() / 2);
    for (std::size_t i = 0; i < be.size(); ++i)
        be[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    Num a{};
    NN_Decode(a.data(), NUM_DIGITS, be.data(), static_cast<std::uint8_t>(be.size()));
    return a;
}

const std::uint8_t* bytes(const char* s) {
    return reinterpret_cast<const std::uint8_t*>(s);
}

const Num N = num("3fffffff7fffffffbe0024720613b5a3");
const Num E_ABC = num("1a38fdda6923cd0658401ee79a176d43");  // SHA-1("abc") mod n
const Num P = num("fffffffdffffffffffffffffffffffff");

// Known-answer key Q = d*G. This and the answers below that no standard gives
// are printed by gen/known_answers.py.
const Num KAT_D = num("0123456789abcdef0fedcba987654321");
const Point KAT_Q = [] {
    Point q;
    Num x = num("2715dcf9e74280a3e60b3d263ef4526c"), y = num("725c4dc0c4cc3a2498b1d9073820a50e");
    std::memcpy(q.x, x.data(), sizeof q.x);
    std::memcpy(q.y, y.data(), sizeof q.y);
    return q;
}();

Num x_of(const Point& p) {
    Num x;
    std::memcpy(x.data(), p.x, sizeof p.x);
    return x;
}

Num mod_n(const Num& a) {
    Num r;
    NN_Mod(r.data(), a.data(), NUM_DIGITS, N.data(), NUM_DIGITS);
    return r;
}
Num mul_n(const Num& a, const Num& b) {
    Num r;
    NN_ModMult(r.data(), a.data(), b.data(), N.data(), NUM_DIGITS);
    return r;
}
Num inv_n(const Num& a) {
    Num r;
    NN_ModInv(r.data(), a.data(), N.data(), NUM_DIGITS);
    return r;
}
Num sub_n(const Num& a, const Num& b) {
    Num r;
    NN_ModSub(r.data(), a.data(), b.data(), N.data(), NUM_DIGITS);
    return r;
}

Num random_scalar(test::Rng& rng) {  // in [1, n - 1]
    for (;;) {
        const Num a = test::random_below_n(rng);
        if (!NN_Zero(a.data(), NUM_DIGITS)) return a;
    }
}

Num first_nonce(unsigned seed, const Num& d, const std::uint8_t* msg, std::uint16_t len) {
    Num k;
    test::first_nonce(k.data(), seed, d.data(), msg, len);
    return k;
}

class Ecdsa : public ::testing::Test {
  protected:
    void SetUp() override {
        ecc_init();
        ecdsa_init(&KAT_Q);
    }
    void sign(unsigned seed, const std::uint8_t* msg, std::uint16_t len, Num& r, Num& s,
              const Num& d = KAT_D) {
        std::srand(seed);
        ecdsa_sign(msg, len, r.data(), s.data(), d.data());
    }
};

TEST_F(Ecdsa, KnownAnswers) {
    // Public key of KAT_D.
    Point q = mul_base(KAT_D);
    EXPECT_EQ(hex(x_of(q)), "2715dcf9e74280a3e60b3d263ef4526c");
    EXPECT_EQ(NN_Equal(q.y, KAT_Q.y, NUM_DIGITS), 1);

    // RFC 6979 section 3.2 nonce with HMAC-SHA1, qlen = 126, h1 = SHA-1("abc"),
    // additional data 00 01 .. 13.
    std::uint8_t h1[SHA1_HASH_SIZE], extra[SHA1_HASH_SIZE];
    sha1(h1, bytes("abc"), 3);
    for (int i = 0; i < SHA1_HASH_SIZE; ++i)
        extra[i] = static_cast<std::uint8_t>(i);
    Num k;
    ecdsa_nonce(k.data(), KAT_D.data(), h1, extra);
    EXPECT_EQ(hex(k), "264bac1fe252b4ff7bdce217157eb3c6");
    // The same with h1 whose leading 126 bits are 2^126 - 1, n and n - 1: both
    // sides of the reduction mod n in bits2octets.
    struct {
        Num lead;
        const char* k;
    } reduced[] = {{num("3fffffffffffffffffffffffffffffff"), "05233b74274ed73185e935e378c48c4d"},
                   {N, "029e9172c7ed243c3376f995b8d6fdc5"},
                   {num("3fffffff7fffffffbe0024720613b5a2"), "3a34061c04e14ac60960fa4f9a2ccc48"}};
    for (const auto& c : reduced) {
        Num h = c.lead;  // h1 = lead * 2^34 in 20 bytes
        NN_LShift(h.data(), h.data(), 2, NUM_DIGITS);
        NN_Encode(h1, 16, h.data(), NUM_DIGITS);
        std::memset(h1 + 16, 0, 4);
        ecdsa_nonce(k.data(), KAT_D.data(), h1, extra);
        EXPECT_EQ(hex(k), c.k) << hex(c.lead);
    }
}

// What rand() draws after srand(12345) is glibc's: these answers hold with
// glibc only (gen/known_answers.py reproduces its generator).
TEST_F(Ecdsa, KnownAnswersAfterGlibcSrand) {
#ifndef __GLIBC__
    GTEST_SKIP() << "not glibc: rand() after srand(12345) draws other values than these answers";
#endif
    std::uint32_t digits[NUM_DIGITS];
    std::srand(12345);
    gen_random(digits, NUM_DIGITS);
    const std::uint32_t expect[NUM_DIGITS] = {0x9b6fa195, 0x00cbcf3b, 0x848f61d0, 0x07dde8ce,
                                              0xbf70eff8};
    for (int i = 0; i < NUM_DIGITS; ++i)
        EXPECT_EQ(digits[i], expect[i]) << "digit " << i;

    // Bytes after len must not count: "abc" is signed out of "abcdef".
    Num r, s;
    sign(12345, bytes("abcdef"), 3, r, s);
    EXPECT_EQ(hex(r) + hex(s), "24a36751181e72255700d8bf612f11a312fc474411aaefebda5e8dec567b0621");
    EXPECT_EQ(ecdsa_verify(bytes("abc"), 3, r.data(), s.data()), ECDSA_VALID);
    sign(12345, bytes("x"), 0, r, s);
    EXPECT_EQ(hex(r) + hex(s), "20c4a57ecc2ee5bfeaa100ad5b1fc81c2494cd1b29d88fcaf4f121b7b25916e5");
    EXPECT_EQ(ecdsa_verify(nullptr, 0, r.data(), s.data()), ECDSA_VALID);
}

// e is the whole 160-bit digest mod n, not its leading 126 bits: recover it
// from s*k - d*r with the nonce of the attempt.
TEST_F(Ecdsa, DigestIsReducedWhole) {
    struct {
        const char* msg;
        const char* e;  // SHA-1 (FIPS 180) of msg, mod n (known_answers.py)
    } cases[] = {{"", "12de92ee1360b4b9ddc4793eb627bfc9"},
                 {"abc", "1a38fdda6923cd0658401ee79a176d43"}};
    for (const auto& c : cases) {
        auto len = static_cast<std::uint16_t>(std::strlen(c.msg));
        Num r, s;
        sign(777, bytes(c.msg), len, r, s);
        Num k = first_nonce(777, KAT_D, bytes(c.msg), len);
        EXPECT_EQ(hex(sub_n(mul_n(s, k), mul_n(KAT_D, r))), c.e) << '"' << c.msg << '"';
    }
}

TEST_F(Ecdsa, DrawsFromTheGenerator) {
    // gen_random(0) draws nothing and writes nothing.
    std::srand(99);
    int first = std::rand();
    std::srand(99);
    std::uint32_t a[NUM_DIGITS + 1] = {1, 2, 3, 4, 5, 6};
    gen_random(a, 0);
    EXPECT_EQ(std::rand(), first);
    EXPECT_EQ(a[0], 1u);

    // gen_random(5): ten draws, digit i = (draw 2i << 16) ^ draw 2i+1; a[5] untouched.
    std::srand(99);
    int draws[11];
    for (int& d : draws)
        d = std::rand();
    std::srand(99);
    gen_random(a, NUM_DIGITS);
    EXPECT_EQ(std::rand(), draws[10]);
    for (int i = 0; i < NUM_DIGITS; ++i) {
        EXPECT_EQ(a[i], (static_cast<std::uint32_t>(draws[2 * i]) << 16) ^
                            static_cast<std::uint32_t>(draws[2 * i + 1]));
    }
    EXPECT_EQ(a[5], 6u);

    // A signature (one attempt) draws exactly ten values.
    Num r, s;
    sign(99, bytes("abc"), 3, r, s);
    EXPECT_EQ(std::rand(), draws[10]);
}

TEST_F(Ecdsa, SeedDeterminesSignature) {
    Num r1, s1, r2, s2;
    sign(4242, bytes("message"), 7, r1, s1);
    sign(4242, bytes("message"), 7, r2, s2);
    EXPECT_EQ(hex(r1) + hex(s1), hex(r2) + hex(s2));

    // Same seed, different messages: the digest enters the nonce, so r differs.
    sign(4242, bytes("messagf"), 7, r2, s2);
    EXPECT_NE(hex(r1), hex(r2));
    sign(4242, bytes("message"), 6, r2, s2);
    EXPECT_NE(hex(r1), hex(r2));
}

TEST_F(Ecdsa, RandomKeysSignAndVerify) {
    test::Rng rng(1);
    int x_above_n = 0;
    for (int iter = 0; iter < 200; ++iter) {
        Num d = random_scalar(rng);
        Point q = mul_base(d);
        ecdsa_init(&q);
        std::vector<std::uint8_t> msg(rng.below(130) + 1);
        for (auto& b : msg)
            b = static_cast<std::uint8_t>(rng.u32());
        auto len = static_cast<std::uint16_t>(msg.size());
        auto seed = rng.u32();

        Num r, s;
        sign(seed, msg.data(), len, r, s, d);
        ASSERT_EQ(r[4] | s[4], 0u);
        EXPECT_FALSE(NN_Zero(r.data(), NUM_DIGITS) || NN_Zero(s.data(), NUM_DIGITS));
        EXPECT_LT(NN_Cmp(r.data(), N.data(), NUM_DIGITS), 0);
        EXPECT_LT(NN_Cmp(s.data(), N.data(), NUM_DIGITS), 0);

        // r = x(k*G) mod n; for about three signatures in four x is >= n.
        Num x = x_of(mul_base(first_nonce(seed, d, msg.data(), len)));
        EXPECT_EQ(hex(mod_n(x)), hex(r));
        if (NN_Cmp(x.data(), N.data(), NUM_DIGITS) >= 0) ++x_above_n;

        ASSERT_EQ(ecdsa_verify(msg.data(), len, r.data(), s.data()), ECDSA_VALID) << iter;
        ecdsa_init(&KAT_Q);
        EXPECT_EQ(ecdsa_verify(msg.data(), len, r.data(), s.data()), ECDSA_INVALID);
        ecdsa_init(&q);
        EXPECT_EQ(ecdsa_verify(msg.data(), len - 1, r.data(), s.data()), ECDSA_INVALID);
        msg[rng.below(len)] ^= static_cast<std::uint8_t>(1u << rng.below(8));
        EXPECT_EQ(ecdsa_verify(msg.data(), len, r.data(), s.data()), ECDSA_INVALID);
    }
    EXPECT_GT(x_above_n, 100);
}

TEST_F(Ecdsa, RangeTestsComeFirstAndInOrder) {
    Num r, s;
    sign(5, bytes("abc"), 3, r, s);
    ASSERT_EQ(ecdsa_verify(bytes("abc"), 3, r.data(), s.data()), ECDSA_VALID);

    const Num zero{}, n_minus_1 = num("3fffffff7fffffffbe0024720613b5a2");
    const Num top = {0, 0, 0, 0, 1};  // 2^128: digit 4 set
    const Num max128 = num("ffffffffffffffffffffffffffffffff");
    struct {
        Num r, s;
        int code;
    } cases[] = {
        {N, s, ECDSA_R_TOO_LARGE},      {zero, s, ECDSA_R_ZERO},
        {r, N, ECDSA_S_TOO_LARGE},      {r, zero, ECDSA_S_ZERO},
        {zero, zero, ECDSA_R_ZERO},     {N, N, ECDSA_R_TOO_LARGE},
        {N, zero, ECDSA_R_TOO_LARGE},   {zero, N, ECDSA_R_ZERO},
        {top, s, ECDSA_R_TOO_LARGE},    {r, top, ECDSA_S_TOO_LARGE},
        {max128, s, ECDSA_R_TOO_LARGE}, {r, max128, ECDSA_S_TOO_LARGE},
        {n_minus_1, s, ECDSA_INVALID},  {r, n_minus_1, ECDSA_INVALID},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ecdsa_verify(bytes("abc"), 3, c.r.data(), c.s.data()), c.code)
            << "r=" << hex(c.r) << " s=" << hex(c.s);
    }
}

/*
 * Chosen public keys that make the two partial products of verification meet.
 * For Q = c*G, u2*Q = u1*G exactly when c = e/r (mod n), and u2*Q = -u1*G when
 * c = -e/r. (A digest with e = 0, which would make u1*G the point at
 * infinity, needs a SHA-1 value divisible by n and cannot be built.)
 */
TEST_F(Ecdsa, PartialProductsEqualOrOpposite) {
    test::Rng rng(2);
    std::uint8_t digest[SHA1_HASH_SIZE];
    sha1(digest, bytes("abc"), 3);
    const Num& e = E_ABC;
    const Num two = {2, 0, 0, 0, 0};

    for (int iter = 0; iter < 20; ++iter) {
        // Equal: with R = k*G, r = x(R) mod n and s = 2e/k, the sum u1*G + u2*Q
        // is 2*u1*G = k*G, so the signature is valid.
        Num k = random_scalar(rng);
        Num r = mod_n(x_of(mul_base(k)));
        Num c = mul_n(e, inv_n(r));
        Point q = mul_base(c);
        ecdsa_init(&q);
        Num s = mul_n(mul_n(two, e), inv_n(k));
        Num w = inv_n(s);
        ASSERT_EQ(hex(x_of(mul_base(mul_n(e, w)))), hex(x_of(mul_base(mul_n(c, mul_n(r, w))))));
        EXPECT_EQ(ecdsa_verify(bytes("abc"), 3, r.data(), s.data()), ECDSA_VALID) << iter;

        // Opposite: the sum is the point at infinity, v = 0, never r. r = p mod n
        // is what a sum left as (p, p) instead of (0, 0) would give.
        r = iter == 0 ? mod_n(P) : random_scalar(rng);
        s = random_scalar(rng);
        c = sub_n(Num{}, mul_n(e, inv_n(r)));
        q = mul_base(c);
        ecdsa_init(&q);
        EXPECT_EQ(ecdsa_verify(bytes("abc"), 3, r.data(), s.data()), ECDSA_INVALID) << iter;
    }
}

// Cases of the comparisons of the fast paths with the public operations.
#ifdef NDEBUG
constexpr int kFastPathCases = 100000;
#else
constexpr int kFastPathCases = 2000;  // unoptimised, sanitized
#endif

// Signing in constant time gives the r and s of the variable-time operations
// it replaced, with the same draws: for the keys 1, 2, n - 2, n - 1 and
// 2^160 - 1 (taken mod n), then random keys (one in eight above 2^128),
// messages and seeds.
TEST(EcdsaConstantTime, SameSignaturesAsTheVariableTimeOperations) {
    const Num fixed[] = {test::num(1), test::num(2), sub_n(Num{}, test::num(2)),
                         sub_n(Num{}, test::num(1)), Num{~0u, ~0u, ~0u, ~0u, ~0u}};
    test::Rng rng(4);
    std::uint8_t msg[100];
    for (int i = 0; i < kFastPathCases; ++i) {
        Num d = i < 5 ? fixed[i] : random_scalar(rng);
        if (i >= 5 && i % 8 == 0) d[4] = rng.u32();
        const auto len = static_cast<std::uint16_t>(rng.below(sizeof msg + 1));
        for (int j = 0; j < len; ++j)
            msg[j] = static_cast<std::uint8_t>(rng.u32());
        const unsigned seed = rng.u32();
        Num r, s, want_r, want_s;
        std::srand(seed);
        ecdsa_sign(msg, len, r.data(), s.data(), d.data());
        std::srand(seed);
        test::sign_variable_time(msg, len, want_r.data(), want_s.data(), d.data());
        ASSERT_EQ(hex(r) + hex(s), hex(want_r) + hex(want_s))
            << "d = " << hex(d) << ", seed " << seed << ", " << len << " bytes";
    }
    std::printf("[ cases    ] %d signatures against the variable-time operations\n",
                kFastPathCases);
}

// ecdsa_verify gives the results of the public operations it replaced
// (ecc_win_mul_base, ecc_win_mul, ecc_add and NN_Mod): for signatures of
// random keys and messages, as made and with one bit of the message, r or s
// changed, for random r and s, and for r and s of 0, n or above.
TEST(EcdsaJoint, SameResultsAsThePublicOperations) {
    test::Rng rng(6);
    Num d, r, s;
    Point q, table[WINDOW_TABLE_SIZE];
    std::uint8_t msg[64];
    int valid = 0;
    auto any = [&] {  // 0, n, any 128-bit value or a scalar in range
        const Num picks[] = {
            Num{}, N, {rng.u32(), rng.u32(), rng.u32(), rng.u32()}, random_scalar(rng)};
        return picks[rng.below(4)];
    };
    for (int i = 0; i < kFastPathCases; ++i) {
        if (i % 256 == 0) {
            d = random_scalar(rng);
            q = mul_base(d);
            ecdsa_init(&q);
            ecc_win_precompute(&q, table);
        }
        const auto len = static_cast<std::uint16_t>(rng.below(sizeof msg) + 1);
        for (int j = 0; j < len; ++j)
            msg[j] = static_cast<std::uint8_t>(rng.u32());
        if (i % 4 < 2) {
            std::srand(rng.u32());
            ecdsa_sign(msg, len, r.data(), s.data(), d.data());
            if (i % 4 == 1) {  // one bit changed
                const auto bit = static_cast<int>(rng.below(3 * 128));
                std::uint32_t* w = bit < 128 ? r.data() : bit < 256 ? s.data() : nullptr;
                if (w) w[bit % 128 / 32] ^= 1u << (bit % 32);
                if (!w) msg[rng.below(len)] ^= static_cast<std::uint8_t>(1u << (bit % 8));
            }
        } else if (i % 4 == 2) {
            r = random_scalar(rng);
            s = random_scalar(rng);
        } else {
            r = any();
            s = any();
        }
        const int got = ecdsa_verify(msg, len, r.data(), s.data());
        ASSERT_EQ(got, test::verify_variable_time(table, msg, len, r.data(), s.data()))
            << "case " << i << ": r = " << hex(r) << ", s = " << hex(s);
        valid += got == ECDSA_VALID;
    }
    EXPECT_GE(valid, kFastPathCases / 4);
    std::printf("[ cases    ] %d verifications against the public operations, %d valid\n",
                kFastPathCases, valid);
}

// Signing needs no set-up, and verifying without a key rejects: run in a
// process of its own (the threadsafe death-test style starts the binary
// afresh), where neither ecc_init nor ecdsa_init has run.
std::string use_without_set_up() {
    std::string wrong;
    Num r1, s1, r2, s2;
    std::srand(321);
    ecdsa_sign(bytes("abc"), 3, r1.data(), s1.data(), KAT_D.data());
    // With s = e/k and r = x(k*G), u1*G alone is k*G: what a key of (0, 0)
    // (the empty table) would let through.
    const Num k = test::num(12345), forged_s = mul_n(E_ABC, inv_n(k));
    const Num forged_r = mod_n(x_of(mul_base(k)));
    if (ecdsa_verify(bytes("abc"), 3, r1.data(), s1.data()) != ECDSA_INVALID ||
        ecdsa_verify(bytes("abc"), 3, forged_r.data(), forged_s.data()) != ECDSA_INVALID)
        wrong += "verified without a key; ";
    if (ecdsa_verify(bytes("abc"), 3, Num{}.data(), s1.data()) != ECDSA_R_ZERO)
        wrong += "range test without a key; ";
    ecc_init();
    ecdsa_init(&KAT_Q);
    if (ecdsa_verify(bytes("abc"), 3, r1.data(), s1.data()) != ECDSA_VALID)
        wrong += "the signature made before set-up does not verify; ";
    std::srand(321);
    ecdsa_sign(bytes("abc"), 3, r2.data(), s2.data(), KAT_D.data());
    if (r1 != r2 || s1 != s2) wrong += "set-up changed the signature; ";
    ecc_init();
    if (ecdsa_verify(bytes("abc"), 3, r1.data(), s1.data()) != ECDSA_VALID)
        wrong += "a second ecc_init broke verification; ";
    return wrong;
}

TEST(EcdsaSetUp, SigningNeedsNoneVerifyingWithoutAKeyRejects) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string wrong = use_without_set_up();
            std::fputs(wrong.c_str(), stderr);
            std::exit(wrong.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "^$");
}

// The stack below the caller's frame, kStack bytes of it: painted with a
// byte before a call, or copied after it as the call's dead frames left it.
// One function does both, so that both see the same addresses.
constexpr std::size_t kStack = 262144;
std::uint8_t stack_copy[kStack];

enum class Area { Copy, Paint };

[[gnu::noinline]] void stack_area(Area what, std::uint8_t paint = 0) {
    std::uint8_t area[kStack];
    if (what == Area::Paint) {
        std::memset(area, paint, sizeof area);
        asm volatile("" : : "r"(area) : "memory");  // the stores are kept
    } else {
        asm volatile("" : "=m"(area));  // whatever the dead frames hold
        std::memcpy(stack_copy, area, sizeof area);
    }
}

bool on_stack(const void* pattern, std::size_t len) {
    const auto* p = static_cast<const std::uint8_t*>(pattern);
    return std::search(stack_copy, stack_copy + kStack, p, p + len) != stack_copy + kStack;
}

// Bytes of stack below its caller that f() writes: the painted area less the
// part at its far end that f() left painted.
template <class F>
std::size_t stack_use(F f) {
    constexpr std::uint8_t kPaint = 0x5A;
    stack_area(Area::Paint, kPaint);
    f();
    stack_area(Area::Copy);
    std::size_t untouched = 0;
    while (untouched < kStack && stack_copy[untouched] == kPaint)
        ++untouched;
    return kStack - untouched;
}

/*
 * ecdsa_sign clears kStackWipe bytes below its frame when it ends, to reach
 * the dead frames of its callees. Here the stack that those callees use,
 * called one after the other as ecdsa_sign calls them, against that of
 * ecdsa_sign as a whole, its clearing included: the clearing must reach
 * twice as deep as the deepest callee. The figures are printed; the comment
 * at kStackWipe in ecdsa.cpp says what they were.
 */
TEST(NonceWipe, ClearingReachesTwiceBelowTheDeepestCallee) {
    const std::size_t callees = stack_use([] {
        std::uint8_t digest[SHA1_HASH_SIZE], extra[SHA1_HASH_SIZE];
        Num e, k, r, s;
        Point kG;
        sha1(digest, bytes("abc"), 3);
        NN_Decode(e.data(), NUM_DIGITS, digest, SHA1_HASH_SIZE);
        NN_Mod(e.data(), e.data(), NUM_DIGITS, N.data(), NUM_DIGITS);
        gen_random(k.data(), NUM_DIGITS);
        NN_Encode(extra, SHA1_HASH_SIZE, k.data(), NUM_DIGITS);
        ecdsa_nonce(k.data(), KAT_D.data(), digest, extra);
        ct_mul_base(&kG, k.data());
        sc_reduce(r.data(), kG.x);
        sc_inv(k.data(), k.data());
        sc_mul(s.data(), KAT_D.data(), r.data());
        sc_add(s.data(), e.data(), s.data());
        sc_mul(s.data(), k.data(), s.data());
    });
    const std::size_t sign = stack_use([] {
        Num r, s;
        ecdsa_sign(bytes("abc"), 3, r.data(), s.data(), KAT_D.data());
    });
    std::printf("[ stack    ] signing's callees use %zu bytes, ecdsa_sign and its clearing %zu\n",
                callees, sign);
    ASSERT_LT(sign, kStack) << "the painted area is too small to measure";
    EXPECT_GE(sign, 2 * callees);
}

// After ecdsa_sign no copy of the nonce k or of k^-1 (nor of n - k or n - k^-1,
// the magnitudes the inversion works with, nor the leading bytes of the
// generator's output V, from which k = V >> 34) stays in the dead stack
// frames of its callees.
TEST(NonceWipe, SigningLeavesNoCopyOfTheNonce) {
    int found = 0;
    for (unsigned seed = 1; seed <= 100; ++seed) {
        std::uint8_t msg[64];
        for (std::size_t i = 0; i < sizeof msg; ++i)
            msg[i] = static_cast<std::uint8_t>(seed * 7 + i);
        const auto len = static_cast<std::uint16_t>(seed % sizeof msg);

        // The nonce of the first attempt, as ecdsa_sign derives it.
        Num k[4];
        k[0] = first_nonce(seed, KAT_D, msg, len);
        k[1] = inv_n(k[0]);
        k[2] = sub_n(Num{}, k[0]);
        k[3] = sub_n(Num{}, k[1]);
        Num v;
        std::uint8_t v_bytes[16];
        NN_LShift(v.data(), k[0].data(), 2, NUM_DIGITS);
        NN_Encode(v_bytes, sizeof v_bytes, v.data(), NUM_DIGITS);

        stack_area(Area::Paint);
        Num r, s;
        std::srand(seed);
        ecdsa_sign(msg, len, r.data(), s.data(), KAT_D.data());
        stack_area(Area::Copy);
        for (const auto& x : k)
            found += on_stack(x.data(), 16);
        found += on_stack(v_bytes, 12);
    }
    EXPECT_EQ(found, 0) << "copies of k, k^-1, n - k, n - k^-1 or V left on the stack";
}

}  // namespace
}  // namespace klarvex

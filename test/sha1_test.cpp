#include "sha1.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sha1_internal.h"
#include "support/hex.h"
#include "support/openssl.h"
#include "support/random.h"

namespace klarvex {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::hex;

Bytes bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::string sha1_hex(const Bytes& m) {
    Sha1Context ctx;
    std::uint8_t d[SHA1_HASH_SIZE];
    EXPECT_EQ(sha1_reset(&ctx), 0);
    EXPECT_EQ(tamble_sha1_update(&ctx, m.data(), static_cast<std::uint32_t>(m.size())), 0);
    EXPECT_EQ(sha1_digest(&ctx, d), 0);
    return hex(d, sizeof d);
}

void expect_same_state(const Sha1Context& a, const Sha1Context& b) {
    EXPECT_EQ(hex(a.block, sizeof a.block), hex(b.block, sizeof b.block));
    EXPECT_TRUE(std::equal(a.hash, a.hash + 5, b.hash) && a.length_low == b.length_low &&
                a.length_high == b.length_high && a.block_index == b.block_index &&
                a.computed == b.computed && a.corrupted == b.corrupted);
}

void fill(test::Rng& rng, std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        p[i] = static_cast<std::uint8_t>(rng.u32());
}

// Tests of this fixture run once on the processor's SHA-1 instructions
// (skipped where the processor reports none) and once on the portable
// compression.
class Sha1Path : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        const char* hardware = sha1_internal::hardware().name;
        if (!GetParam() && !hardware) {
            GTEST_SKIP() << "the processor reports no SHA-1 instructions: portable path only";
        }
        std::printf("[ path     ] %s\n", GetParam() ? "portable" : hardware);
        sha1_internal::force_portable(GetParam());
    }
    void TearDown() override { sha1_internal::force_portable(false); }
};
std::string path_name(const ::testing::TestParamInfo<bool>& p) {
    return p.param ? "portable" : "hardware";
}
INSTANTIATE_TEST_SUITE_P(Paths, Sha1Path, ::testing::Bool(), path_name);

// FIPS 180-1 appendices A, B and C (also FIPS 180-4 examples).
TEST_P(Sha1Path, Fips180KnownAnswers) {
    EXPECT_EQ(sha1_hex(bytes("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(sha1_hex(bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(sha1_hex(Bytes(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// n bytes of 'a' around the padding boundaries; digests printed by
// gen/known_answers.py (Python's hashlib). 55 bytes pad in one block, 56..63 need a second; 64 are
// compressed by the update itself.
TEST(Sha1Test, PaddingBoundaries) {
    const struct {
        std::uint32_t n;
        const char* digest;
    } cases[] = {{0, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
                 {55, "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
                 {56, "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
                 {63, "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
                 {64, "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
                 {65, "11655326c708d70319be2610e8a57d9a5b959d3b"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.n);
        Bytes m(c.n, 'a');
        Sha1Context ctx;
        sha1_reset(&ctx);
        tamble_sha1_update(&ctx, m.data(), c.n);
        EXPECT_EQ(ctx.block_index, c.n % 64);
        EXPECT_EQ(ctx.length_low, 8 * c.n);
        EXPECT_EQ(ctx.hash[0] == 0x67452301u, c.n < 64);
        std::uint8_t d[SHA1_HASH_SIZE];
        EXPECT_EQ(sha1_digest(&ctx, d), 0);
        EXPECT_EQ(hex(d, sizeof d), c.digest);
    }
}

// The 64-bit bit count, set by hand near its carries and its overflow.
TEST(Sha1Test, BitCountCarryAndOverflow) {
    const std::uint8_t m[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    Sha1Context ctx;
    sha1_reset(&ctx);
    ctx.length_low = 0xFFFFFFF8;
    ctx.length_high = 7;
    EXPECT_EQ(tamble_sha1_update(&ctx, m, 2), 0);
    EXPECT_EQ(ctx.length_low, 8u);
    EXPECT_EQ(ctx.length_high, 8u);
    ctx.length_low = 0xFFFFFFFC;  // never comes to exactly 0, so never carries
    EXPECT_EQ(tamble_sha1_update(&ctx, m, 1), 0);
    EXPECT_EQ(ctx.length_low, 4u);
    EXPECT_EQ(ctx.length_high, 8u);

    // Three bytes short of 2^64 bits: the third byte is stored and
    // overflows, the rest are dropped, and the update still succeeds.
    sha1_reset(&ctx);
    std::memset(ctx.block, 0xEE, sizeof ctx.block);
    ctx.block_index = 10;
    ctx.length_high = 0xFFFFFFFF;
    ctx.length_low = 0xFFFFFFE8;
    EXPECT_EQ(tamble_sha1_update(&ctx, m, 10), 0);
    EXPECT_EQ(ctx.corrupted, 1);
    EXPECT_EQ(ctx.block_index, 13);
    EXPECT_EQ(hex(ctx.block + 10, 4), "303132ee");
    EXPECT_EQ(ctx.length_low, 0u);
    EXPECT_EQ(ctx.length_high, 0u);
    std::uint8_t d[SHA1_HASH_SIZE];
    std::memset(d, 0x5A, sizeof d);
    EXPECT_EQ(tamble_sha1_update(&ctx, m, 1), 1);
    EXPECT_EQ(sha1_digest(&ctx, d), 1);
    EXPECT_EQ(hex(d, 4), "5a5a5a5a");

    // An overflowing byte that fills the block still gets it compressed.
    sha1_reset(&ctx);
    ctx.block_index = 63;
    ctx.length_high = 0xFFFFFFFF;
    ctx.length_low = 0xFFFFFFF8;
    EXPECT_EQ(tamble_sha1_update(&ctx, m, 5), 0);
    EXPECT_EQ(ctx.corrupted, 1);
    EXPECT_EQ(ctx.block_index, 0);
    EXPECT_NE(ctx.hash[0], 0x67452301u);
}

// Updates over spans leave exactly the state that updates of one byte at a
// time leave, from random states including near-overflow counts.
TEST_P(Sha1Path, SpanUpdateMatchesByteAtATime) {
    test::Rng rng(1);
    std::uint8_t m[300];
    for (int iter = 0; iter < 3000; ++iter) {
        SCOPED_TRACE(iter);
        Sha1Context a;
        sha1_reset(&a);
        fill(rng, reinterpret_cast<std::uint8_t*>(a.hash), sizeof a.hash);
        fill(rng, a.block, sizeof a.block);
        fill(rng, m, sizeof m);
        a.block_index = static_cast<std::uint16_t>(rng.below(64));
        // Counts just short of a carry out of length_low or of the 64-bit
        // overflow; one in three not a multiple of 8, so never carrying.
        std::uint32_t near = 0 - static_cast<std::uint32_t>(8 * rng.below(300));
        a.length_low = iter % 3 ? near : near + 1 + static_cast<std::uint32_t>(rng.below(7));
        a.length_high = iter % 2 ? 0xFFFFFFFF : rng.u32();
        Sha1Context b = a;
        std::uint32_t n = 1 + static_cast<std::uint32_t>(rng.below(sizeof m));
        EXPECT_EQ(tamble_sha1_update(&a, m, n), 0);
        for (std::uint32_t i = 0; i < n; ++i)
            tamble_sha1_update(&b, m + i, 1);
        expect_same_state(a, b);
    }
}

// The hardware routine against the portable one from random states, over 0
// to 4 blocks at any alignment.
TEST(Sha1Compress, HardwareMatchesPortable) {
    sha1_internal::Compress* hardware = sha1_internal::hardware().compress;
    if (!hardware) GTEST_SKIP() << "the processor reports no SHA-1 instructions";
    test::Rng rng(5);
    std::uint8_t m[4 * SHA1_BLOCK_SIZE + 15];
    for (int iter = 0; iter < 2000; ++iter) {
        std::uint32_t a[5], b[5];
        fill(rng, reinterpret_cast<std::uint8_t*>(a), sizeof a);
        std::memcpy(b, a, sizeof a);
        fill(rng, m, sizeof m);
        const std::size_t count = iter % 5, at = rng.below(16);
        hardware(a, m + at, count);
        sha1_internal::compress_portable(b, m + at, count);
        ASSERT_TRUE(std::equal(a, a + 5, b)) << "iteration " << iter;
    }
}

// Finished and failed states, recovery by reset, zero-length updates and
// null pointers.
TEST(Sha1Test, ContextStatesAndArguments) {
    const std::uint8_t m[3] = {'a', 'b', 'c'};
    std::uint8_t d[SHA1_HASH_SIZE], d2[SHA1_HASH_SIZE];
    Sha1Context ctx;
    sha1_reset(&ctx);
    tamble_sha1_update(&ctx, m, 3);
    ASSERT_EQ(sha1_digest(&ctx, d), 0);
    std::memset(d2, 0, sizeof d2);
    EXPECT_EQ(sha1_digest(&ctx, d2), 0);
    EXPECT_EQ(hex(d2, sizeof d2), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(ctx.hash[4], 0x9cd0d89du);
    EXPECT_EQ(ctx.length_low | ctx.length_high, 0u);
    EXPECT_EQ(ctx.block_index, 0);
    for (auto x : ctx.block)
        ASSERT_EQ(x, 0);

    const Sha1Context finished = ctx;
    EXPECT_EQ(tamble_sha1_update(&ctx, nullptr, 0), 0);
    EXPECT_EQ(tamble_sha1_update(nullptr, nullptr, 0), 0);
    expect_same_state(ctx, finished);
    EXPECT_EQ(tamble_sha1_update(&ctx, m, 1), 3);
    EXPECT_EQ(ctx.corrupted, 3);
    EXPECT_EQ(tamble_sha1_update(&ctx, m, 0), 0);
    std::memset(d2, 0x5A, sizeof d2);
    EXPECT_EQ(sha1_digest(&ctx, d2), 3);
    EXPECT_EQ(hex(d2, 2), "5a5a");
    EXPECT_EQ(tamble_sha1_update(&ctx, m, 1), 3);

    EXPECT_EQ(sha1_reset(&ctx), 0);
    EXPECT_EQ(tamble_sha1_update(&ctx, m, 3), 0);
    EXPECT_EQ(sha1_digest(&ctx, d2), 0);
    EXPECT_EQ(0, std::memcmp(d, d2, sizeof d));

    sha1_reset(&ctx);
    const Sha1Context fresh = ctx;
    EXPECT_EQ(sha1_reset(nullptr), 1);
    EXPECT_EQ(tamble_sha1_update(nullptr, m, 1), 1);
    EXPECT_EQ(tamble_sha1_update(&ctx, nullptr, 1), 1);
    EXPECT_EQ(sha1_digest(nullptr, d), 1);
    EXPECT_EQ(sha1_digest(&ctx, nullptr), 1);
    expect_same_state(ctx, fresh);
}

// RFC 2202, section 3, test cases 1 to 7.
TEST(HmacSha1Test, Rfc2202) {
    const struct {
        Bytes key;
        std::string data, mac;
    } cases[] = {
        {Bytes(20, 0x0b), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {bytes("Jefe"), "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {Bytes(20, 0xaa), std::string(50, '\xdd'), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {{1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,
          14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25},
         std::string(50, '\xcd'),
         "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {Bytes(20, 0x0c), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {Bytes(80, 0xaa), "Test Using Larger Than Block-Size Key - Hash Key First",
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {Bytes(80, 0xaa),
         "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
    for (const auto& c : cases) {
        std::uint8_t mac[SHA1_HASH_SIZE];
        Bytes data = bytes(c.data);
        const auto klen = static_cast<std::uint32_t>(c.key.size());
        const auto dlen = static_cast<std::uint32_t>(data.size());
        hmac_sha1(mac, c.key.data(), klen, data.data(), dlen);
        EXPECT_EQ(hex(mac, sizeof mac), c.mac);
        HmacSha1Key hkey;  // prepared once, used twice
        hmac_sha1_key(&hkey, c.key.data(), klen);
        for (int use = 0; use < 2; ++use) {
            hmac_sha1_mac(mac, &hkey, data.data(), dlen);
            EXPECT_EQ(hex(mac, sizeof mac), c.mac) << "use " << use;
        }
    }
}

}  // namespace
}  // namespace klarvex

#if KLARVEX_HAVE_OPENSSL

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

namespace klarvex {
namespace {

using Sha1OpenSsl = Sha1Path;
INSTANTIATE_TEST_SUITE_P(Paths, Sha1OpenSsl, ::testing::Bool(), path_name);

// Every length 0..300, in one update and in 10 random splits (with empty
// pieces), against OpenSSL's SHA1.
TEST_P(Sha1OpenSsl, AllLengthsWholeAndSplit) {
    test::Rng rng(2);
    std::uint8_t m[300], want[SHA1_HASH_SIZE], got[SHA1_HASH_SIZE];
    for (std::uint32_t n = 0; n <= sizeof m; ++n) {
        fill(rng, m, n);
        SHA1(m, n, want);
        for (int split = 0; split <= 10; ++split) {
            Sha1Context ctx;
            sha1_reset(&ctx);
            for (std::uint32_t at = 0, len = n; at < n; at += len) {
                if (split) len = static_cast<std::uint32_t>(rng.below(n - at + 1));
                ASSERT_EQ(tamble_sha1_update(&ctx, m + at, len), 0);
            }
            ASSERT_EQ(ctx.length_low, 8 * n);
            ASSERT_EQ(sha1_digest(&ctx, got), 0);
            ASSERT_EQ(hex(got, sizeof got), hex(want, sizeof want))
                << n << " bytes, split " << split;
        }
    }
}

// Messages of up to 1 MiB, in pieces of up to 256 KiB at any alignment.
TEST_P(Sha1OpenSsl, LongMessagesInPieces) {
    test::Rng rng(4);
    std::vector<std::uint8_t> m(1 << 20);
    std::uint8_t want[SHA1_HASH_SIZE], got[SHA1_HASH_SIZE];
    for (int iter = 0; iter < 12; ++iter) {
        const auto n = static_cast<std::uint32_t>(rng.below(m.size() + 1));
        fill(rng, m.data(), n);
        SHA1(m.data(), n, want);
        Sha1Context ctx;
        sha1_reset(&ctx);
        for (std::uint32_t at = 0, len; at < n; at += len) {
            len = std::min(n - at, static_cast<std::uint32_t>(rng.below(1u << rng.below(19))));
            ASSERT_EQ(tamble_sha1_update(&ctx, m.data() + at, len), 0);
        }
        ASSERT_EQ(sha1_digest(&ctx, got), 0);
        ASSERT_EQ(hex(got, sizeof got), hex(want, sizeof want)) << n << " bytes";
    }
}

// Random keys of 0..200 bytes (block-size keys weighted in) and messages of
// 0..300 bytes against OpenSSL's HMAC.
TEST(HmacSha1OpenSsl, RandomKeysAndMessages) {
    test::Rng rng(3);
    std::uint8_t key[200], m[300], want[SHA1_HASH_SIZE], got[SHA1_HASH_SIZE];
    for (int iter = 0; iter < 3000; ++iter) {
        auto klen = static_cast<std::uint32_t>(iter % 8 ? rng.below(201) : 63 + rng.below(3));
        auto mlen = static_cast<std::uint32_t>(rng.below(301));
        fill(rng, key, klen);
        fill(rng, m, mlen);
        unsigned wlen = 0;
        ASSERT_NE(HMAC(EVP_sha1(), key, static_cast<int>(klen), m, mlen, want, &wlen), nullptr);
        hmac_sha1(got, key, klen, m, mlen);
        ASSERT_EQ(hex(got, sizeof got), hex(want, wlen)) << "key " << klen << ", message " << mlen;
    }
}

}  // namespace
}  // namespace klarvex

#else
KLARVEX_OPENSSL_SKIPPED(Sha1OpenSsl)
#endif

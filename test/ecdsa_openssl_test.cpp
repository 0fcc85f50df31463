// ECDSA against OpenSSL: signatures cross-verify in both directions.

#define OPENSSL_SUPPRESS_DEPRECATED
#include "support/openssl.h"

#if KLARVEX_HAVE_OPENSSL

#include <openssl/ecdsa.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ecc.h"
#include "ecdsa.h"
#include "support/random.h"

namespace klarvex {
namespace {

using test::Bn;

TEST(EcdsaOpenSsl, SignaturesCrossVerify) {
    constexpr int ITERATIONS = 1000;
    // Private keys at the edges of [1, n-1] first, then random ones; message
    // lengths around the SHA-1 block boundaries first, then random ones.
    const char* edge_key[] = {"1",
                              "2",
                              "3FFFFFFF7FFFFFFFBE0024720613B5A2",
                              "3FFFFFFF7FFFFFFFBE0024720613B5A1",
                              "20000000000000000000000000000000",
                              "FFFFFFFF"};
    const std::size_t edge_len[] = {0, 1, 55, 56, 63, 64, 65, 119, 120, 128};
    test::Rng rng(10);
    test::Group group = test::secp128r2_group();
    test::BnCtx ctx = test::new_ctx();
    Bn n = test::new_bn(), qx = test::new_bn(), qy = test::new_bn();
    EC_GROUP_get_order(group.get(), n.get(), ctx.get());
    ecc_init();
    int ours_ok = 0, theirs_ok = 0;
    for (int iter = 0; iter < ITERATIONS; ++iter) {
        Bn d_bn = test::new_bn();
        if (iter < 6) {
            BIGNUM* b = d_bn.get();
            BN_hex2bn(&b, edge_key[iter]);
        } else {
            std::uint32_t raw[4] = {rng.u32(), rng.u32(), rng.u32(), rng.u32()};
            d_bn = test::to_bn(raw, 4);
            BN_nnmod(d_bn.get(), d_bn.get(), n.get(), ctx.get());
            if (BN_is_zero(d_bn.get())) BN_one(d_bn.get());
        }
        test::EcPoint q_pt(EC_POINT_new(group.get()));
        EC_POINT_mul(group.get(), q_pt.get(), d_bn.get(), nullptr, nullptr, ctx.get());
        EC_POINT_get_affine_coordinates(group.get(), q_pt.get(), qx.get(), qy.get(), ctx.get());
        EC_KEY* key = EC_KEY_new_by_curve_name(NID_secp128r2);
        ASSERT_EQ(EC_KEY_set_private_key(key, d_bn.get()), 1);
        ASSERT_EQ(EC_KEY_set_public_key(key, q_pt.get()), 1);
        std::uint32_t d[NUM_DIGITS], r[NUM_DIGITS], s[NUM_DIGITS];
        Point q;
        ASSERT_TRUE(test::from_bn(d, NUM_DIGITS, d_bn.get()) &&
                    test::from_bn(q.x, NUM_DIGITS, qx.get()) &&
                    test::from_bn(q.y, NUM_DIGITS, qy.get()));
        ecdsa_init(&q);

        std::vector<std::uint8_t> msg(iter < 10 ? edge_len[iter] : rng.below(200));
        for (auto& b : msg)
            b = static_cast<std::uint8_t>(rng.u32());
        auto len = static_cast<std::uint16_t>(msg.size());
        std::uint8_t dgst[16];
        test::ecdsa_digest(dgst, msg.data(), msg.size(), n.get(), ctx.get());

        // Ours signs, OpenSSL verifies.
        std::srand(rng.u32());
        ecdsa_sign(msg.data(), len, r, s, d);
        ECDSA_SIG* sig = ECDSA_SIG_new();
        ECDSA_SIG_set0(sig, test::to_bn(r, NUM_DIGITS).release(),
                       test::to_bn(s, NUM_DIGITS).release());
        int v = ECDSA_do_verify(dgst, sizeof dgst, sig, key);
        EXPECT_EQ(v, 1) << "iter " << iter << " r=" << test::bn_hex(ECDSA_SIG_get0_r(sig));
        ours_ok += v == 1;
        ECDSA_SIG_free(sig);

        // OpenSSL signs, ours verifies.
        sig = ECDSA_do_sign(dgst, sizeof dgst, key);
        ASSERT_NE(sig, nullptr);
        ASSERT_TRUE(test::from_bn(r, NUM_DIGITS, ECDSA_SIG_get0_r(sig)) &&
                    test::from_bn(s, NUM_DIGITS, ECDSA_SIG_get0_s(sig)));
        ECDSA_SIG_free(sig);
        EC_KEY_free(key);
        int res = ecdsa_verify(msg.data(), len, r, s);
        EXPECT_EQ(res, ECDSA_VALID) << "iter " << iter;
        theirs_ok += res == ECDSA_VALID;
        if (len > 0) {
            EXPECT_EQ(ecdsa_verify(msg.data(), len - 1, r, s), ECDSA_INVALID);
        }
    }
    std::printf("[ cases    ] %d of ours verified by OpenSSL, %d of OpenSSL's verified by ours\n",
                ours_ok, theirs_ok);
}

}  // namespace
}  // namespace klarvex

#else
KLARVEX_OPENSSL_SKIPPED(EcdsaOpenSsl)
#endif

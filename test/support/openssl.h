// Helpers for differential tests against OpenSSL's libcrypto.
//
// Every file of differential tests is written as
//
//     #include "support/openssl.h"
//     #if KLARVEX_HAVE_OPENSSL
//     ... tests ...
//     #else
//     KLARVEX_OPENSSL_SKIPPED(SuiteName)
//     #endif
//
// so that a build without libcrypto reports the tests as skipped, with the
// reason, instead of passing them silently.

#ifndef KLARVEX_TEST_OPENSSL_H
#define KLARVEX_TEST_OPENSSL_H

#include <gtest/gtest.h>

#define KLARVEX_OPENSSL_SKIPPED(Suite)                                                    \
    TEST(Suite, RequiresOpenSsl) {                                                        \
        GTEST_SKIP() << "OpenSSL libcrypto was not found when the build was configured: " \
                        "differential tests against it are skipped (install libssl-dev)"; \
    }

#if KLARVEX_HAVE_OPENSSL

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>
#include <openssl/sha.h>

namespace klarvex::test {

struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
struct BnCtxFree {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
struct GroupFree {
    void operator()(EC_GROUP* g) const { EC_GROUP_free(g); }
};
struct PointFree {
    void operator()(EC_POINT* p) const { EC_POINT_free(p); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using BnCtx = std::unique_ptr<BN_CTX, BnCtxFree>;
using Group = std::unique_ptr<EC_GROUP, GroupFree>;
using EcPoint = std::unique_ptr<EC_POINT, PointFree>;

inline Bn new_bn() {
    return Bn(BN_new());
}
inline BnCtx new_ctx() {
    return BnCtx(BN_CTX_new());
}
inline Group secp128r2_group() {
    return Group(EC_GROUP_new_by_curve_name(NID_secp128r2));
}

// The value of a digit array (least significant digit first) as a BIGNUM.
inline Bn to_bn(const std::uint32_t* a, int digits) {
    std::vector<unsigned char> be(static_cast<std::size_t>(digits) * 4 + 1, 0);
    for (int i = 0; i < digits; ++i) {
        for (int j = 0; j < 4; ++j) {
            be[be.size() - 1 - (static_cast<std::size_t>(i) * 4 + j)] =
                static_cast<unsigned char>(a[i] >> (8 * j));
        }
    }
    return Bn(BN_bin2bn(be.data(), static_cast<int>(be.size()), nullptr));
}

// Writes b into digits digits; returns false if b does not fit (or is negative).
inline bool from_bn(std::uint32_t* a, int digits, const BIGNUM* b) {
    if (BN_is_negative(b) || BN_num_bytes(b) > digits * 4) return false;
    std::vector<unsigned char> be(static_cast<std::size_t>(digits) * 4, 0);
    BN_bn2binpad(b, be.data(), static_cast<int>(be.size()));
    for (int i = 0; i < digits; ++i) {
        std::uint32_t d = 0;
        for (int j = 0; j < 4; ++j) {
            d |= static_cast<std::uint32_t>(
                     be[be.size() - 1 - (static_cast<std::size_t>(i) * 4 + j)])
                 << (8 * j);
        }
        a[i] = d;
    }
    return true;
}

// The affine coordinates of a finite point, x || y, 16 bytes each big-endian.
inline std::array<std::uint8_t, 32> point_bytes(const EC_GROUP* group, const EC_POINT* p,
                                                BN_CTX* ctx) {
    Bn x = new_bn(), y = new_bn();
    EC_POINT_get_affine_coordinates(group, p, x.get(), y.get(), ctx);
    std::array<std::uint8_t, 32> b;
    BN_bn2binpad(x.get(), b.data(), 16);
    BN_bn2binpad(y.get(), b.data() + 16, 16);
    return b;
}

// d*G on secp128r2 for the 16-byte big-endian d, as point_bytes gives it.
inline std::array<std::uint8_t, 32> public_key(const std::uint8_t* d) {
    Group group = secp128r2_group();
    BnCtx ctx = new_ctx();
    Bn k(BN_bin2bn(d, 16, nullptr));
    EcPoint q(EC_POINT_new(group.get()));
    EC_POINT_mul(group.get(), q.get(), k.get(), nullptr, nullptr, ctx.get());
    return point_bytes(group.get(), q.get(), ctx.get());
}

// The digest to hand OpenSSL's ECDSA for msg. OpenSSL cuts a digest to the
// 126 bits of n: 4*e in 16 bytes, e = SHA-1(msg) mod n, is cut back to e.
inline void ecdsa_digest(std::uint8_t dgst[16], const std::uint8_t* msg, std::size_t len,
                         const BIGNUM* n, BN_CTX* ctx) {
    std::uint8_t h[SHA_DIGEST_LENGTH];
    SHA1(msg, len, h);
    Bn e(BN_bin2bn(h, sizeof h, nullptr));
    BN_nnmod(e.get(), e.get(), n, ctx);
    BN_lshift(e.get(), e.get(), 2);
    BN_bn2binpad(e.get(), dgst, 16);
}

// Hex of a BIGNUM for failure messages.
inline std::string bn_hex(const BIGNUM* b) {
    char* s = BN_bn2hex(b);
    std::string out = s ? s : "?";
    OPENSSL_free(s);
    return out;
}

}  // namespace klarvex::test

#endif  // KLARVEX_HAVE_OPENSSL
#endif  // KLARVEX_TEST_OPENSSL_H

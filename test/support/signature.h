// The built-in public key, and the check that a line the klarvex tool printed
// is a signature under it, by ecdsa_verify and, where the build has it, by
// OpenSSL. Include it before any OpenSSL header: its check uses the EC_KEY
// interface that OpenSSL 3 marks deprecated.

#ifndef KLARVEX_TEST_SIGNATURE_H
#define KLARVEX_TEST_SIGNATURE_H

#ifndef OPENSSL_SUPPRESS_DEPRECATED
#define OPENSSL_SUPPRESS_DEPRECATED
#endif
#include "support/openssl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "builtin_key.h"
#include "ecc.h"
#include "ecdsa.h"
#include "support/hex.h"

#if KLARVEX_HAVE_OPENSSL
#include <openssl/ecdsa.h>
#endif

namespace klarvex::test {

inline Point builtin_public_key() {
    Point q;
    NN_Decode(q.x, NUM_DIGITS, keyx, sizeof keyx);
    NN_Decode(q.y, NUM_DIGITS, keyy, sizeof keyy);
    return q;
}

struct Signature {
    std::uint32_t r[NUM_DIGITS], s[NUM_DIGITS];
};

// r and s from a line of 64 lowercase hex digits and a newline; false for any
// other line.
inline bool parse_signature(const std::string& line, Signature* sig) {
    std::vector<std::uint8_t> rs;
    if (line.size() != 65 || !unhex(&rs, line.substr(0, 64)) || line != hex(rs.data(), 32) + '\n')
        return false;
    NN_Decode(sig->r, NUM_DIGITS, rs.data(), 16);
    NN_Decode(sig->s, NUM_DIGITS, rs.data() + 16, 16);
    return true;
}

#if KLARVEX_HAVE_OPENSSL
// OpenSSL's verdict on sig for msg under the built-in public key.
inline bool openssl_verifies(const std::vector<std::uint8_t>& msg, const Signature& sig) {
    Group group = secp128r2_group();
    BnCtx ctx = new_ctx();
    Bn n = new_bn(), qx(BN_bin2bn(keyx, 16, nullptr)), qy(BN_bin2bn(keyy, 16, nullptr));
    EC_GROUP_get_order(group.get(), n.get(), ctx.get());
    EcPoint q(EC_POINT_new(group.get()));
    EC_POINT_set_affine_coordinates(group.get(), q.get(), qx.get(), qy.get(), ctx.get());
    EC_KEY* key = EC_KEY_new_by_curve_name(NID_secp128r2);
    EC_KEY_set_public_key(key, q.get());
    std::uint8_t dgst[16];
    ecdsa_digest(dgst, msg.data(), msg.size(), n.get(), ctx.get());
    ECDSA_SIG* s = ECDSA_SIG_new();
    ECDSA_SIG_set0(s, to_bn(sig.r, NUM_DIGITS).release(), to_bn(sig.s, NUM_DIGITS).release());
    const int v = ECDSA_do_verify(dgst, sizeof dgst, s, key);
    ECDSA_SIG_free(s);
    EC_KEY_free(key);
    return v == 1;
}
#endif

// line is a signature of msg under the built-in key that ecdsa_verify (and
// OpenSSL) accepts.
inline ::testing::AssertionResult signs(const std::string& line,
                                        const std::vector<std::uint8_t>& msg) {
    Signature sig;
    if (!parse_signature(line, &sig))
        return ::testing::AssertionFailure() << "not a signature line: " << line;
    const Point q = builtin_public_key();
    ecc_init();
    ecdsa_init(&q);
    const int v = ecdsa_verify(msg.data(), static_cast<std::uint16_t>(msg.size()), sig.r, sig.s);
    if (v != ECDSA_VALID)
        return ::testing::AssertionFailure() << "ecdsa_verify gives " << v << " for " << line;
#if KLARVEX_HAVE_OPENSSL
    if (!openssl_verifies(msg, sig))
        return ::testing::AssertionFailure() << "OpenSSL rejects " << line;
#endif
    return ::testing::AssertionSuccess();
}

}  // namespace klarvex::test

#endif  // KLARVEX_TEST_SIGNATURE_H

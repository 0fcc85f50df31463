// klarvex_openssl_verify PUBLIC_KEY MESSAGE SIGNATURE
//
// Test oracle for the nested builds: checks a klarvex signature with OpenSSL's
// libcrypto alone. PUBLIC_KEY is x || y and SIGNATURE r || s (64 hex digits
// each), MESSAGE plain hex bytes. klarvex's digest is e = SHA-1 mod n, the
// whole 160 bits reduced; OpenSSL is given e shifted left by 2 in 16 bytes,
// which its truncation to the 126 bits of n turns back into e.
// Exit status: 0 valid, 1 invalid, 2 bad arguments.

#define OPENSSL_SUPPRESS_DEPRECATED

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/obj_mac.h>
#include <openssl/sha.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "hex.h"

using klarvex::test::unhex;

int main(int argc, char* argv[]) {
    std::vector<std::uint8_t> pub, msg, sig;
    if (argc != 4 || !unhex(&pub, argv[1]) || !unhex(&msg, argv[2]) || !unhex(&sig, argv[3]) ||
        pub.size() != 32 || sig.size() != 32) {
        std::fputs("usage: klarvex_openssl_verify PUBLIC_KEY MESSAGE SIGNATURE\n", stderr);
        return 2;
    }
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_secp128r2);
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM* n = BN_new();
    EC_GROUP_get_order(group, n, ctx);
    BIGNUM* x = BN_bin2bn(pub.data(), 16, nullptr);
    BIGNUM* y = BN_bin2bn(pub.data() + 16, 16, nullptr);
    EC_POINT* q = EC_POINT_new(group);
    EC_KEY* key = EC_KEY_new_by_curve_name(NID_secp128r2);
    int valid = 0;
    if (EC_POINT_set_affine_coordinates(group, q, x, y, ctx) == 1 &&
        EC_KEY_set_public_key(key, q) == 1) {
        unsigned char h[SHA_DIGEST_LENGTH], dgst[16];
        SHA1(msg.data(), msg.size(), h);
        BIGNUM* e = BN_bin2bn(h, sizeof h, nullptr);
        BN_nnmod(e, e, n, ctx);
        BN_lshift(e, e, 2);
        BN_bn2binpad(e, dgst, sizeof dgst);
        ECDSA_SIG* s = ECDSA_SIG_new();
        ECDSA_SIG_set0(s, BN_bin2bn(sig.data(), 16, nullptr),
                       BN_bin2bn(sig.data() + 16, 16, nullptr));
        valid = ECDSA_do_verify(dgst, sizeof dgst, s, key) == 1;
        ECDSA_SIG_free(s);
        BN_free(e);
    } else {
        std::fputs("the public key is not a point of secp128r2\n", stderr);
    }
    std::puts(valid ? "OpenSSL: valid" : "OpenSSL: invalid");
    EC_KEY_free(key);
    EC_POINT_free(q);
    BN_free(x);
    BN_free(y);
    BN_free(n);
    BN_CTX_free(ctx);
    EC_GROUP_free(group);
    return valid ? 0 : 1;
}

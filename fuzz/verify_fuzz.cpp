// ecdsa_verify against OpenSSL's ECDSA_do_verify on fuzzer-chosen public keys
// (points of the curve), signatures and messages. The first byte picks the
// public key and the kind of signature:
//   0: Q = d*G, r and s raw 160-bit values;
//   1: Q = d*G, (r, s) a signature made with d and a fuzzer-chosen nonce,
//      then perhaps altered (s -> n - s, r + n, s + n, a shorter message, ...);
//   2: Q any point of the curve (by its x), r and s raw;
//   3: Q off the subgroup of G: T or d*G + T for T of order 2 or 4, with a
//      signature made with d (valid under d*G + T only when u2*T = 0).
// The verdicts must agree, and the range codes must follow r and s.

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/obj_mac.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstdint>

#include "ecc.h"
#include "ecdsa.h"
#include "support.h"

namespace klarvex::fuzz {
namespace {

struct Curve {
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_secp128r2);
    BN_CTX* ctx = BN_CTX_new();
    Bn n = new_bn();
    Bn p = new_bn();
    EC_POINT* t4 = EC_POINT_new(group);  // a point of order 4 (or 2 if there is none)
    EC_POINT* t2 = EC_POINT_new(group);  // 2 * t4: of order 2

    Curve() {
        EC_GROUP_get_order(group, n.get(), ctx);
        EC_GROUP_get_curve(group, p.get(), nullptr, nullptr, ctx);
        // n*P has order 4 when P has order 4n; search x = 1, 2, ... for such a P.
        EC_POINT* pt = EC_POINT_new(group);
        Bn x = new_bn();
        for (BN_ULONG i = 1;; ++i) {
            BN_set_word(x.get(), i);
            if (!EC_POINT_set_compressed_coordinates(group, pt, x.get(), 0, ctx)) continue;
            EC_POINT_mul(group, t4, nullptr, pt, n.get(), ctx);
            EC_POINT_dbl(group, t2, t4, ctx);
            if (!EC_POINT_is_at_infinity(group, t2)) break;
        }
        EC_POINT_free(pt);
        ERR_clear_error();
    }
};

Curve& curve() {
    static Curve c;
    return c;
}

// A scalar in [1, n-1] from 16 input bytes.
Bn scalar(Reader& in) {
    std::uint8_t b[16];
    in.bytes(b, sizeof b);
    Bn k(BN_bin2bn(b, sizeof b, nullptr));
    BN_nnmod(k.get(), k.get(), curve().n.get(), curve().ctx);
    if (BN_is_zero(k.get())) BN_one(k.get());
    return k;
}

// e = SHA-1(msg) mod n.
Bn digest(const std::uint8_t* msg, std::size_t len) {
    std::uint8_t h[SHA_DIGEST_LENGTH];
    SHA1(msg, len, h);
    Bn e(BN_bin2bn(h, sizeof h, nullptr));
    BN_nnmod(e.get(), e.get(), curve().n.get(), curve().ctx);
    return e;
}

// (r, s) on msg under d with nonce k; false if r or s is zero.
bool sign(BIGNUM* r, BIGNUM* s, const BIGNUM* d, const BIGNUM* k, const std::uint8_t* msg,
          std::size_t len) {
    Curve& c = curve();
    EC_POINT* kg = EC_POINT_new(c.group);
    EC_POINT_mul(c.group, kg, k, nullptr, nullptr, c.ctx);
    EC_POINT_get_affine_coordinates(c.group, kg, r, nullptr, c.ctx);
    EC_POINT_free(kg);
    BN_nnmod(r, r, c.n.get(), c.ctx);
    // s = k^-1 * (e + d*r) mod n
    Bn e = digest(msg, len), t = new_bn();
    BN_mod_mul(t.get(), d, r, c.n.get(), c.ctx);
    BN_mod_add(t.get(), t.get(), e.get(), c.n.get(), c.ctx);
    BN_mod_inverse(s, k, c.n.get(), c.ctx);
    BN_mod_mul(s, s, t.get(), c.n.get(), c.ctx);
    return !BN_is_zero(r) && !BN_is_zero(s);
}

// OpenSSL's verdict: 1 valid, otherwise not. The 16-byte digest holds e * 4,
// which OpenSSL cuts back to e for a 126-bit order.
int openssl_verify(const EC_POINT* q, const BIGNUM* r, const BIGNUM* s, const std::uint8_t* msg,
                   std::size_t len) {
    Curve& c = curve();
    Bn e = digest(msg, len);
    BN_lshift(e.get(), e.get(), 2);
    std::uint8_t dgst[16];
    BN_bn2binpad(e.get(), dgst, sizeof dgst);
    EC_KEY* key = EC_KEY_new();
    EC_KEY_set_group(key, c.group);
    EC_KEY_set_public_key(key, q);
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_dup(r), BN_dup(s));
    const int v = ECDSA_do_verify(dgst, sizeof dgst, sig, key);
    ECDSA_SIG_free(sig);
    EC_KEY_free(key);
    ERR_clear_error();
    return v;
}

void raw(Reader& in, BIGNUM* r, BIGNUM* s) {
    std::uint8_t b[20];
    in.bytes(b, sizeof b);
    BN_bin2bn(b, sizeof b, r);
    in.bytes(b, sizeof b);
    BN_bin2bn(b, sizeof b, s);
}

void run(Reader& in) {
    Curve& c = curve();
    const std::uint8_t mode = in.byte();
    const std::uint8_t tweak = in.byte();
    Bn d = scalar(in), r = new_bn(), s = new_bn();
    EC_POINT* q = EC_POINT_new(c.group);
    EC_POINT_mul(c.group, q, d.get(), nullptr, nullptr, c.ctx);
    bool signed_ = false;

    switch (mode % 4) {
        case 0:
            raw(in, r.get(), s.get());
            break;
        case 2: {
            std::uint8_t b[16];
            in.bytes(b, sizeof b);
            Bn x(BN_bin2bn(b, sizeof b, nullptr));
            BN_nnmod(x.get(), x.get(), c.p.get(), c.ctx);
            int tries = 0;
            while (!EC_POINT_set_compressed_coordinates(c.group, q, x.get(), tweak & 1, c.ctx)) {
                if (++tries == 64) return;
                BN_add_word(x.get(), 1);
                BN_nnmod(x.get(), x.get(), c.p.get(), c.ctx);
            }
            ERR_clear_error();
            raw(in, r.get(), s.get());
            break;
        }
        default: {
            Bn k = scalar(in);
            const std::size_t len = std::min<std::size_t>(in.left(), 65535);
            signed_ = sign(r.get(), s.get(), d.get(), k.get(), in.rest(), len);
            if (!signed_) raw(in, r.get(), s.get());
            if (mode % 4 == 3) {
                const EC_POINT* t = tweak & 1 ? c.t4 : c.t2;
                if (tweak & 2) {
                    EC_POINT_copy(q, t);
                } else {
                    EC_POINT_add(c.group, q, q, t, c.ctx);
                }
            }
            break;
        }
    }
    std::size_t len = std::min<std::size_t>(in.left(), 65535);
    if (signed_) {
        switch (tweak >> 2 & 7) {
            case 1:
                BN_sub(s.get(), c.n.get(), s.get());  // (r, n - s) is valid too
                break;
            case 2:
                BN_add(r.get(), r.get(), c.n.get());
                break;
            case 3:
                BN_add(s.get(), s.get(), c.n.get());
                break;
            case 4:
                if (len) --len;  // another message
                break;
            case 5:
                BN_add_word(s.get(), 1);
                break;
            case 6:
                std::swap(r, s);
                break;
            default:
                break;
        }
    }
    const std::uint8_t* msg = in.rest();

    Point qp;
    Bn qx = new_bn(), qy = new_bn();
    EC_POINT_get_affine_coordinates(c.group, q, qx.get(), qy.get(), c.ctx);
    from_bn(qp.x, NUM_DIGITS, qx.get());
    from_bn(qp.y, NUM_DIGITS, qy.get());
    std::uint32_t rd[NUM_DIGITS], sd[NUM_DIGITS];
    FUZZ_CHECK(from_bn(rd, NUM_DIGITS, r.get()) && from_bn(sd, NUM_DIGITS, s.get()), "r, s fit");

    ecdsa_init(&qp);
    const int code = ecdsa_verify(msg, static_cast<std::uint16_t>(len), rd, sd);
    const int theirs = openssl_verify(q, r.get(), s.get(), msg, len);
    EC_POINT_free(q);

    int want_code = 0;
    if (BN_cmp(r.get(), c.n.get()) >= 0) {
        want_code = ECDSA_R_TOO_LARGE;
    } else if (BN_is_zero(r.get())) {
        want_code = ECDSA_R_ZERO;
    } else if (BN_cmp(s.get(), c.n.get()) >= 0) {
        want_code = ECDSA_S_TOO_LARGE;
    } else if (BN_is_zero(s.get())) {
        want_code = ECDSA_S_ZERO;
    }
    if (want_code) {
        FUZZ_CHECK(code == want_code && theirs != 1, "range code %d, want %d (OpenSSL %d)", code,
                   want_code, theirs);
        return;
    }
    if ((code == ECDSA_VALID) != (theirs == 1) || (code != ECDSA_VALID && code != ECDSA_INVALID)) {
        print_digits("Q.x", qp.x, NUM_DIGITS);
        print_digits("Q.y", qp.y, NUM_DIGITS);
        print_digits("r", rd, NUM_DIGITS);
        print_digits("s", sd, NUM_DIGITS);
        FUZZ_CHECK(false, "ecdsa_verify %d, OpenSSL %d, mode %d, tweak %d, %zu-byte message", code,
                   theirs, mode % 4, tweak, len);
    }
    // Under d*G, an unaltered signature of ours is valid.
    const unsigned alter = tweak >> 2 & 7;
    FUZZ_CHECK(!(signed_ && mode % 4 == 1 && (alter <= 1 || alter == 7)) || code == ECDSA_VALID,
               "own signature rejected");
}

}  // namespace
}  // namespace klarvex::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    klarvex::fuzz::curve();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    klarvex::fuzz::Reader in(data, size);
    klarvex::fuzz::run(in);
    return 0;
}

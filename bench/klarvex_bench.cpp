// Benchmarks of the klarvex library beside OpenSSL's libcrypto on secp128r2.
//
// Cases come in pairs, BM_klarvex_X and BM_openssl_X, which bench/compare.py
// sets side by side; a few have no counterpart. Every input is drawn from a
// fixed seed and built with OpenSSL before the timed loops, which cycle through
// a pool of kPool inputs. A short self-check at start-up confirms that the
// library computes what it is timed on; it reports, it does not stop the run.
//
// Where the two sides differ in what one call does:
// - klarvex's sign and verify hash the kMsgLen-byte message (one SHA-1
//   block); OpenSSL's ECDSA_do_sign/do_verify take the precomputed digest.
//   The sign_64k pair signs the longest message the signer takes, and there
//   OpenSSL's side hashes it with SHA1_Init/Update/Final before it signs.
// - OpenSSL's SHA-1 is timed through SHA1_Init/Update/Final: its one-shot
//   SHA1() looks the digest up in a provider on every call.
// - klarvex's SHA-1 runs on the processor's SHA-1 instructions where it has
//   them; BM_klarvex_sha1_portable times the portable routine, which
//   bench/compare.py sets beside OpenSSL's SHA-1.
// - klarvex's scalar multiplications return affine points, so the OpenSSL
//   cases include EC_POINT_get_affine_coordinates after EC_POINT_mul.
// - klarvex's mixed addition is private; BM_klarvex_add_mixed times
//   ecc_add_proj with Z2 = 1 and BM_klarvex_add_affine times ecc_add.
// - BM_klarvex_mul_base times the constant-time k*G of signing, as OpenSSL's
//   EC_POINT_mul of G is; the cases named _var time the variable-time
//   operations beside their constant-time peers, BM_klarvex_sign_var signing
//   and BM_klarvex_verify_var verification on the public operations
//   (ecc_win_mul_base, ecc_win_mul, ecc_add) that they ran on before.
//
// libsecp256k1, where it is installed, is a second peer for sign and verify
// (BM_secp256k1_X), through its public API on its own curve, secp256k1, with
// a 256-bit order: a constant-time signer with precomputed tables. Like
// OpenSSL's, its calls take a 32-byte digest and do not hash.

#define OPENSSL_SUPPRESS_DEPRECATED  // EC_KEY, ECDSA_do_* and SHA1 are deprecated in 3.0

#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/obj_mac.h>
#include <openssl/sha.h>

#if KLARVEX_HAVE_SECP256K1
#include <secp256k1.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "ecc.h"
#include "ecc_ct.h"
#include "ecdsa.h"
#include "field.h"
#include "nn.h"
#include "scalar.h"
#include "secp128r2.h"
#include "sha1.h"
#include "sha1_internal.h"
#include "support/nonce.h"

namespace {

using klarvex::NUM_DIGITS;
using klarvex::Point;

constexpr std::uint64_t kSeed = 0x6b6c617276657821ULL;  // "klarvex!"
constexpr std::size_t kPool = 64;                       // a power of two
constexpr std::uint16_t kMsgLen = 32;
constexpr std::uint32_t kSha1Max = 65536;
constexpr std::uint16_t kLongMsgLen = 65535;  // the longest message ecdsa_sign takes
constexpr int kBytes = 4 * NUM_DIGITS;

// Inputs in the library's form.
struct Inputs {
    std::uint32_t p[NUM_DIGITS], omega[NUM_DIGITS], n[NUM_DIGITS];
    std::uint32_t fa[kPool][NUM_DIGITS], fb[kPool][NUM_DIGITS];  // in [1, p-1]
    std::uint32_t na[kPool][NUM_DIGITS], nb[kPool][NUM_DIGITS];  // in [1, n-1]
    std::uint32_t k[kPool][NUM_DIGITS];                          // in [1, n-1]
    Point pt[kPool];                                             // k[i]*G
    Point jac[kPool];                                            // pt[i] as (x*z^2, y*z^3, z)
    std::uint32_t jz[kPool][NUM_DIGITS];
    Point table[klarvex::WINDOW_TABLE_SIZE];  // window table of pt[0]
    std::uint32_t d[NUM_DIGITS];              // private key
    Point q;                                  // d*G
    std::uint8_t msg[kPool][kMsgLen];
    std::uint32_t r[kPool][NUM_DIGITS], s[kPool][NUM_DIGITS];  // klarvex signatures of msg[i]
    bool sigs_valid;
    std::uint8_t buf[kSha1Max];
};

// The same inputs for OpenSSL.
struct Peer {
    BN_CTX* ctx;
    EC_GROUP* group;
    BIGNUM *p, *n;
    BN_MONT_CTX* mont;
    BIGNUM *fa[kPool], *fb[kPool], *ma[kPool], *mb[kPool];  // ma, mb: fa, fb in Montgomery form
    BIGNUM *na[kPool], *nb[kPool], *k[kPool];
    EC_POINT* p0;  // pt[0]
    EC_KEY* key;
    std::uint8_t dgst[kPool][SHA_DIGEST_LENGTH];  // SHA-1 of msg[i]
    ECDSA_SIG* sig[kPool];                        // OpenSSL signatures of dgst[i]
    BIGNUM *x, *y, *out;
    EC_POINT* R;
};

#if KLARVEX_HAVE_SECP256K1
// The inputs of libsecp256k1: a key, kPool digests and their signatures.
struct Secp {
    secp256k1_context* ctx;
    unsigned char key[32];
    secp256k1_pubkey pub;
    unsigned char dgst[kPool][32];
    secp256k1_ecdsa_signature sig[kPool];
};
Secp secp;
#endif

Inputs in;
Peer ssl;
std::mt19937_64 rng(kSeed);
std::string failures;

std::size_t next(std::size_t i) {
    return (i + 1) & (kPool - 1);
}

// Keeps the computation that wrote through p.
void sink(const void* p) {
    benchmark::DoNotOptimize(p);
}

// Runs step(i) once per iteration, i cycling through the input pool.
template <class Step>
void over_pool(benchmark::State& st, Step step) {
    std::size_t i = 0;
    for (auto _ : st) {
        step(i);
        i = next(i);
    }
}

void fail(const char* what) {
    if (!failures.empty()) failures += ", ";
    failures += what;
}

void to_digits(std::uint32_t* a, const BIGNUM* b) {
    std::uint8_t be[kBytes];
    BN_bn2binpad(b, be, kBytes);
    for (int i = 0; i < NUM_DIGITS; ++i) {
        const std::uint8_t* q = be + 4 * (NUM_DIGITS - 1 - i);
        a[i] = static_cast<std::uint32_t>(q[0]) << 24 | static_cast<std::uint32_t>(q[1]) << 16 |
               static_cast<std::uint32_t>(q[2]) << 8 | q[3];
    }
}

BIGNUM* to_bn(const std::uint32_t* a) {
    std::uint8_t be[kBytes];
    for (int i = 0; i < NUM_DIGITS; ++i) {
        for (int j = 0; j < 4; ++j) {
            be[kBytes - 1 - 4 * i - j] = static_cast<std::uint8_t>(a[i] >> (8 * j));
        }
    }
    return BN_bin2bn(be, kBytes, nullptr);
}

// Uniform in [1, m-1], m below 2^128, from the seeded generator.
BIGNUM* random_below(const BIGNUM* m) {
    const int bits = BN_num_bits(m);
    std::uint8_t be[16];
    BIGNUM* r = BN_new();
    do {
        for (auto& b : be)
            b = static_cast<std::uint8_t>(rng());
        be[0] &= static_cast<std::uint8_t>(0xff >> (128 - bits));
        BN_bin2bn(be, sizeof be, r);
    } while (BN_is_zero(r) || BN_cmp(r, m) >= 0);
    return r;
}

void to_point(Point* P, const EC_POINT* Q) {
    EC_POINT_get_affine_coordinates(ssl.group, Q, ssl.x, ssl.y, ssl.ctx);
    to_digits(P->x, ssl.x);
    to_digits(P->y, ssl.y);
}

bool same_point(const Point* P, const EC_POINT* Q) {
    Point E;
    to_point(&E, Q);
    BIGNUM* x = to_bn(P->x);
    BIGNUM* y = to_bn(P->y);
    // Coordinates may come out as p for zero.
    BN_nnmod(x, x, ssl.p, ssl.ctx);
    BN_nnmod(y, y, ssl.p, ssl.ctx);
    std::uint32_t ex[NUM_DIGITS], ey[NUM_DIGITS];
    to_digits(ex, x);
    to_digits(ey, y);
    BN_free(x);
    BN_free(y);
    return std::memcmp(ex, E.x, sizeof ex) == 0 && std::memcmp(ey, E.y, sizeof ey) == 0;
}

bool same_mod(const std::uint32_t* a, const BIGNUM* want, const BIGNUM* m) {
    BIGNUM* v = to_bn(a);
    BN_nnmod(v, v, m, ssl.ctx);
    const bool ok = BN_cmp(v, want) == 0;
    BN_free(v);
    return ok;
}

void prepare_inputs() {
    ssl.ctx = BN_CTX_new();
    ssl.group = EC_GROUP_new_by_curve_name(NID_secp128r2);
    ssl.p = BN_new();
    ssl.n = BN_dup(EC_GROUP_get0_order(ssl.group));
    ssl.x = BN_new();
    ssl.y = BN_new();
    ssl.out = BN_new();
    ssl.R = EC_POINT_new(ssl.group);
    EC_GROUP_get_curve(ssl.group, ssl.p, nullptr, nullptr, ssl.ctx);
    ssl.mont = BN_MONT_CTX_new();
    BN_MONT_CTX_set(ssl.mont, ssl.p, ssl.ctx);

    // omega = 2^128 - p
    BIGNUM* w = BN_new();
    BN_set_bit(w, 128);
    BN_sub(w, w, ssl.p);
    to_digits(in.p, ssl.p);
    to_digits(in.omega, w);
    to_digits(in.n, ssl.n);
    BN_free(w);

    BIGNUM* z = BN_new();
    BIGNUM* t = BN_new();
    EC_POINT* P = EC_POINT_new(ssl.group);
    for (std::size_t i = 0; i < kPool; ++i) {
        ssl.fa[i] = random_below(ssl.p);
        ssl.fb[i] = random_below(ssl.p);
        ssl.ma[i] = BN_new();
        ssl.mb[i] = BN_new();
        BN_to_montgomery(ssl.ma[i], ssl.fa[i], ssl.mont, ssl.ctx);
        BN_to_montgomery(ssl.mb[i], ssl.fb[i], ssl.mont, ssl.ctx);
        ssl.na[i] = random_below(ssl.n);
        ssl.nb[i] = random_below(ssl.n);
        ssl.k[i] = random_below(ssl.n);
        to_digits(in.fa[i], ssl.fa[i]);
        to_digits(in.fb[i], ssl.fb[i]);
        to_digits(in.na[i], ssl.na[i]);
        to_digits(in.nb[i], ssl.nb[i]);
        to_digits(in.k[i], ssl.k[i]);

        EC_POINT_mul(ssl.group, P, ssl.k[i], nullptr, nullptr, ssl.ctx);
        if (i == 0) ssl.p0 = EC_POINT_dup(P, ssl.group);
        to_point(&in.pt[i], P);

        // (X, Y, Z) = (x*z^2, y*z^3, z)
        BIGNUM* zz = random_below(ssl.p);
        to_digits(in.jz[i], zz);
        BN_mod_sqr(z, zz, ssl.p, ssl.ctx);
        BN_mod_mul(t, ssl.x, z, ssl.p, ssl.ctx);
        to_digits(in.jac[i].x, t);
        BN_mod_mul(z, z, zz, ssl.p, ssl.ctx);
        BN_mod_mul(t, ssl.y, z, ssl.p, ssl.ctx);
        to_digits(in.jac[i].y, t);
        BN_free(zz);

        for (auto& b : in.msg[i])
            b = static_cast<std::uint8_t>(rng());
        SHA1(in.msg[i], kMsgLen, ssl.dgst[i]);
    }
    for (auto& b : in.buf)
        b = static_cast<std::uint8_t>(rng());

    BIGNUM* d = random_below(ssl.n);
    to_digits(in.d, d);
    EC_POINT_mul(ssl.group, P, d, nullptr, nullptr, ssl.ctx);
    to_point(&in.q, P);
    ssl.key = EC_KEY_new();
    EC_KEY_set_group(ssl.key, ssl.group);
    EC_KEY_set_private_key(ssl.key, d);
    EC_KEY_set_public_key(ssl.key, P);
    for (std::size_t i = 0; i < kPool; ++i) {
        ssl.sig[i] = ECDSA_do_sign(ssl.dgst[i], SHA_DIGEST_LENGTH, ssl.key);
    }
    BN_free(d);
    BN_free(z);
    BN_free(t);
    EC_POINT_free(P);
}

// Sets up the library on the inputs and checks a sample of its results.
void prepare_library() {
    std::srand(static_cast<unsigned>(kSeed));
    klarvex::ecdsa_init(&in.q);
    klarvex::ecc_win_precompute(&in.pt[0], in.table);

    std::uint32_t a[NUM_DIGITS];
    BIGNUM* want = BN_new();
    BN_mod_mul(want, ssl.fa[0], ssl.fb[0], ssl.p, ssl.ctx);
    klarvex::fe_mul(a, in.fa[0], in.fb[0]);
    if (!same_mod(a, want, ssl.p)) fail("fe_mul");
    klarvex::NN_ModMultOpt(a, in.fa[0], in.fb[0], in.p, in.omega, NUM_DIGITS);
    if (!same_mod(a, want, ssl.p)) fail("NN_ModMultOpt");
    BN_mod_sqr(want, ssl.fa[0], ssl.p, ssl.ctx);
    klarvex::fe_sqr(a, in.fa[0]);
    if (!same_mod(a, want, ssl.p)) fail("fe_sqr");
    BN_mod_mul(want, ssl.na[0], ssl.nb[0], ssl.n, ssl.ctx);
    klarvex::NN_ModMult(a, in.na[0], in.nb[0], in.n, NUM_DIGITS);
    if (!same_mod(a, want, ssl.n)) fail("NN_ModMult");
    klarvex::sc_mul(a, in.na[0], in.nb[0]);
    if (!same_mod(a, want, ssl.n)) fail("sc_mul");
    BN_mod_inverse(want, ssl.fa[0], ssl.p, ssl.ctx);
    klarvex::fe_inv(a, in.fa[0]);
    if (!same_mod(a, want, ssl.p)) fail("fe_inv");
    klarvex::fe_inv_ct(a, in.fa[0]);
    if (!same_mod(a, want, ssl.p)) fail("fe_inv_ct");
    BN_mod_inverse(want, ssl.na[0], ssl.n, ssl.ctx);
    klarvex::sc_inv(a, in.na[0]);
    if (!same_mod(a, want, ssl.n)) fail("sc_inv");

    Point R;
    std::uint32_t Z[NUM_DIGITS];
    klarvex::ecc_win_mul_base(&R, in.k[1]);
    EC_POINT_mul(ssl.group, ssl.R, ssl.k[1], nullptr, nullptr, ssl.ctx);
    if (!same_point(&R, ssl.R)) fail("ecc_win_mul_base");
    klarvex::ct_mul_base(&R, in.k[1]);
    if (!same_point(&R, ssl.R)) fail("ct_mul_base");
    klarvex::ecc_win_mul(&R, in.k[1], in.table);
    EC_POINT_mul(ssl.group, ssl.R, nullptr, ssl.p0, ssl.k[1], ssl.ctx);
    if (!same_point(&R, ssl.R)) fail("ecc_win_mul");
    R = in.jac[0];
    std::memcpy(Z, in.jz[0], sizeof Z);
    klarvex::ecc_m_dbl_projective(&R, Z, 4);
    BIGNUM* zi = to_bn(Z);
    BIGNUM* zz = BN_new();
    BN_mod_inverse(zi, zi, ssl.p, ssl.ctx);
    BN_mod_sqr(zz, zi, ssl.p, ssl.ctx);
    BIGNUM* X = to_bn(R.x);
    BN_mod_mul(X, X, zz, ssl.p, ssl.ctx);
    BIGNUM* sixteen = BN_new();
    BN_set_word(sixteen, 16);
    EC_POINT_mul(ssl.group, ssl.R, nullptr, ssl.p0, sixteen, ssl.ctx);
    EC_POINT_get_affine_coordinates(ssl.group, ssl.R, ssl.x, ssl.y, ssl.ctx);
    if (BN_cmp(X, ssl.x) != 0) fail("ecc_m_dbl_projective");
    BN_free(zi);
    BN_free(zz);
    BN_free(X);
    BN_free(sixteen);

    std::uint8_t md[SHA_DIGEST_LENGTH], want_md[SHA_DIGEST_LENGTH];
    for (const bool portable : {false, true}) {
        klarvex::sha1_internal::force_portable(portable);
        for (const std::uint32_t len : {std::uint32_t{64}, kSha1Max}) {
            klarvex::Sha1Context c;
            klarvex::sha1_reset(&c);
            klarvex::tamble_sha1_update(&c, in.buf, len);
            klarvex::sha1_digest(&c, md);
            SHA1(in.buf, len, want_md);
            if (std::memcmp(md, want_md, sizeof md) != 0)
                fail(portable ? "SHA-1 portable" : "SHA-1");
        }
    }
    klarvex::sha1_internal::force_portable(false);

    in.sigs_valid = true;
    for (std::size_t i = 0; i < kPool; ++i) {
        klarvex::ecdsa_sign(in.msg[i], kMsgLen, in.r[i], in.s[i], in.d);
        if (klarvex::ecdsa_verify(in.msg[i], kMsgLen, in.r[i], in.s[i]) != klarvex::ECDSA_VALID) {
            in.sigs_valid = false;
        }
    }
    if (!in.sigs_valid) fail("ecdsa_verify of ecdsa_sign");

    /*
     * OpenSSL keeps the leading bits of a digest longer than n, whereas this
     * signer reduces all 160 bits mod n. Handing OpenSSL e*4 in 16 bytes makes
     * it take e = SHA-1(msg) mod n, the value the signature was made over.
     */
    BIGNUM* e = BN_bin2bn(ssl.dgst[0], SHA_DIGEST_LENGTH, nullptr);
    BN_nnmod(e, e, ssl.n, ssl.ctx);
    BN_lshift(e, e, 2);
    std::uint8_t e4[16];
    BN_bn2binpad(e, e4, sizeof e4);
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, to_bn(in.r[0]), to_bn(in.s[0]));
    if (ECDSA_do_verify(e4, sizeof e4, sig, ssl.key) != 1) fail("ecdsa_sign under OpenSSL");
    ECDSA_SIG_free(sig);
    BN_free(e);
    BN_free(want);
}

#if KLARVEX_HAVE_SECP256K1
// A random key and digests from the seeded generator, a context randomized
// once as its documentation recommends, and signatures that must verify.
void prepare_secp256k1() {
    secp.ctx = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
    unsigned char seed[32];
    for (auto& b : seed)
        b = static_cast<unsigned char>(rng());
    if (!secp256k1_context_randomize(secp.ctx, seed)) fail("secp256k1 randomize");
    do {
        for (auto& b : secp.key)
            b = static_cast<unsigned char>(rng());
    } while (!secp256k1_ec_seckey_verify(secp.ctx, secp.key));
    if (!secp256k1_ec_pubkey_create(secp.ctx, &secp.pub, secp.key)) fail("secp256k1 key");
    for (std::size_t i = 0; i < kPool; ++i) {
        for (auto& b : secp.dgst[i])
            b = static_cast<unsigned char>(rng());
        if (!secp256k1_ecdsa_sign(secp.ctx, &secp.sig[i], secp.dgst[i], secp.key, nullptr,
                                  nullptr) ||
            !secp256k1_ecdsa_verify(secp.ctx, &secp.sig[i], secp.dgst[i], &secp.pub)) {
            fail("secp256k1 sign and verify");
        }
    }
}
#endif

// ---------------------------------------------------------------------------
// Field and scalar arithmetic.
// ---------------------------------------------------------------------------

// The field module's operations, which the point formulas inline.
void BM_klarvex_field_mul(benchmark::State& st) {
    std::uint32_t a[NUM_DIGITS];
    over_pool(st, [&](std::size_t i) {
        klarvex::fe_mul(a, in.fa[i], in.fb[i]);
        sink(a);
    });
}

// The reference the field module is tested against: the digit-by-digit fold.
void BM_klarvex_field_mul_fold(benchmark::State& st) {
    std::uint32_t a[NUM_DIGITS];
    over_pool(st, [&](std::size_t i) {
        klarvex::NN_ModMultOpt(a, in.fa[i], in.fb[i], in.p, in.omega, NUM_DIGITS);
        sink(a);
    });
}

void BM_openssl_field_mul(benchmark::State& st) {
    over_pool(st, [&](std::size_t i) {
        BN_mod_mul(ssl.out, ssl.fa[i], ssl.fb[i], ssl.p, ssl.ctx);
        sink(ssl.out);
    });
}

// What OpenSSL's prime-curve arithmetic runs on: no peer on the klarvex side.
void BM_openssl_field_mul_mont(benchmark::State& st) {
    over_pool(st, [&](std::size_t i) {
        BN_mod_mul_montgomery(ssl.out, ssl.ma[i], ssl.mb[i], ssl.mont, ssl.ctx);
        sink(ssl.out);
    });
}

void BM_klarvex_field_sqr(benchmark::State& st) {
    std::uint32_t a[NUM_DIGITS];
    over_pool(st, [&](std::size_t i) {
        klarvex::fe_sqr(a, in.fa[i]);
        sink(a);
    });
}

void BM_openssl_field_sqr(benchmark::State& st) {
    over_pool(st, [&](std::size_t i) {
        BN_mod_sqr(ssl.out, ssl.fa[i], ssl.p, ssl.ctx);
        sink(ssl.out);
    });
}

void BM_klarvex_modmul_n(benchmark::State& st) {
    std::uint32_t a[NUM_DIGITS];
    over_pool(st, [&](std::size_t i) {
        klarvex::NN_ModMult(a, in.na[i], in.nb[i], in.n, NUM_DIGITS);
        sink(a);
    });
}

void BM_openssl_modmul_n(benchmark::State& st) {
    over_pool(st, [&](std::size_t i) {
        BN_mod_mul(ssl.out, ssl.na[i], ssl.nb[i], ssl.n, ssl.ctx);
        sink(ssl.out);
    });
}

void BM_klarvex_modmul_n_ct(benchmark::State& st) {
    std::uint32_t a[NUM_DIGITS];
    over_pool(st, [&](std::size_t i) {
        klarvex::sc_mul(a, in.na[i], in.nb[i]);
        sink(a);
    });
}

void BM_klarvex_modinv_p(benchmark::State& st) {
    std::uint32_t a[NUM_DIGITS];
    over_pool(st, [&](std::size_t i) {
        klarvex::fe_inv(a, in.fa[i]);
        sink(a);
    });
}

void BM_openssl_modinv_p(benchmark::State& st) {
    over_pool(st, [&](std::size_t i) {
        BN_mod_inverse(ssl.out, ssl.fa[i], ssl.p, ssl.ctx);
        sink(ssl.out);
    });
}

void BM_klarvex_modinv_p_ct(benchmark::State& st) {
    std::uint32_t a[NUM_DIGITS];
    over_pool(st, [&](std::size_t i) {
        klarvex::fe_inv_ct(a, in.fa[i]);
        sink(a);
    });
}

void BM_klarvex_modinv_n(benchmark::State& st) {
    std::uint32_t a[NUM_DIGITS];
    over_pool(st, [&](std::size_t i) {
        klarvex::NN_ModInv(a, in.na[i], in.n, NUM_DIGITS);
        sink(a);
    });
}

void BM_klarvex_modinv_n_ct(benchmark::State& st) {
    std::uint32_t a[NUM_DIGITS];
    over_pool(st, [&](std::size_t i) {
        klarvex::sc_inv(a, in.na[i]);
        sink(a);
    });
}

void BM_openssl_modinv_n(benchmark::State& st) {
    over_pool(st, [&](std::size_t i) {
        BN_mod_inverse(ssl.out, ssl.na[i], ssl.n, ssl.ctx);
        sink(ssl.out);
    });
}

// ---------------------------------------------------------------------------
// Point arithmetic.
// ---------------------------------------------------------------------------

void BM_klarvex_dbl4(benchmark::State& st) {
    Point P;
    std::uint32_t Z[NUM_DIGITS];
    over_pool(st, [&](std::size_t i) {
        P = in.jac[i];
        std::memcpy(Z, in.jz[i], sizeof Z);
        klarvex::ecc_m_dbl_projective(&P, Z, 4);
        sink(&P);
        sink(Z);
    });
}

void BM_klarvex_add_mixed(benchmark::State& st) {
    static constexpr std::uint32_t one[NUM_DIGITS] = {1, 0, 0, 0, 0};
    Point P;
    std::uint32_t Z[NUM_DIGITS];
    over_pool(st, [&](std::size_t i) {
        klarvex::ecc_add_proj(&P, Z, &in.jac[i], in.jz[i], &in.pt[(i + kPool / 2) & (kPool - 1)],
                              one);
        sink(&P);
        sink(Z);
    });
}

void BM_klarvex_add_affine(benchmark::State& st) {
    Point P;
    over_pool(st, [&](std::size_t i) {
        klarvex::ecc_add(&P, &in.pt[i], &in.pt[(i + kPool / 2) & (kPool - 1)]);
        sink(&P);
    });
}

void BM_klarvex_mul_base(benchmark::State& st) {
    Point P;
    over_pool(st, [&](std::size_t i) {
        klarvex::ct_mul_base(&P, in.k[i]);
        sink(&P);
    });
}

void BM_klarvex_mul_base_var(benchmark::State& st) {
    Point P;
    over_pool(st, [&](std::size_t i) {
        klarvex::ecc_win_mul_base(&P, in.k[i]);
        sink(&P);
    });
}

void BM_openssl_mul_base(benchmark::State& st) {
    over_pool(st, [&](std::size_t i) {
        EC_POINT_mul(ssl.group, ssl.R, ssl.k[i], nullptr, nullptr, ssl.ctx);
        EC_POINT_get_affine_coordinates(ssl.group, ssl.R, ssl.x, ssl.y, ssl.ctx);
        sink(ssl.x);
    });
}

void BM_klarvex_mul(benchmark::State& st) {
    Point P;
    over_pool(st, [&](std::size_t i) {
        klarvex::ecc_win_mul(&P, in.k[i], in.table);
        sink(&P);
    });
}

void BM_openssl_mul(benchmark::State& st) {
    over_pool(st, [&](std::size_t i) {
        EC_POINT_mul(ssl.group, ssl.R, nullptr, ssl.p0, ssl.k[i], ssl.ctx);
        EC_POINT_get_affine_coordinates(ssl.group, ssl.R, ssl.x, ssl.y, ssl.ctx);
        sink(ssl.x);
    });
}

// ---------------------------------------------------------------------------
// Set-up, signing and verification.
// ---------------------------------------------------------------------------

void BM_klarvex_ecdsa_init(benchmark::State& st) {
    for (auto _ : st) {
        klarvex::ecdsa_init(&in.q);
        benchmark::ClobberMemory();
    }
}

void BM_klarvex_sign(benchmark::State& st) {
    std::uint32_t r[NUM_DIGITS], s[NUM_DIGITS];
    over_pool(st, [&](std::size_t i) {
        klarvex::ecdsa_sign(in.msg[i], kMsgLen, r, s, in.d);
        sink(r);
        sink(s);
    });
}

void BM_klarvex_sign_var(benchmark::State& st) {
    std::uint32_t r[NUM_DIGITS], s[NUM_DIGITS];
    over_pool(st, [&](std::size_t i) {
        klarvex::test::sign_variable_time(in.msg[i], kMsgLen, r, s, in.d);
        sink(r);
        sink(s);
    });
}

void BM_openssl_sign(benchmark::State& st) {
    over_pool(st, [&](std::size_t i) {
        ECDSA_SIG* sig = ECDSA_do_sign(ssl.dgst[i], SHA_DIGEST_LENGTH, ssl.key);
        sink(sig);
        ECDSA_SIG_free(sig);
    });
}

void BM_klarvex_sign_64k(benchmark::State& st) {
    std::uint32_t r[NUM_DIGITS], s[NUM_DIGITS];
    for (auto _ : st) {
        klarvex::ecdsa_sign(in.buf, kLongMsgLen, r, s, in.d);
        sink(r);
        sink(s);
    }
}

// OpenSSL's SHA-1 of the first len bytes of in.buf, through its low-level calls.
void openssl_sha1(std::uint8_t md[SHA_DIGEST_LENGTH], std::size_t len) {
    SHA_CTX c;
    SHA1_Init(&c);
    SHA1_Update(&c, in.buf, len);
    SHA1_Final(md, &c);
}

void BM_openssl_sign_64k(benchmark::State& st) {
    std::uint8_t md[SHA_DIGEST_LENGTH];
    for (auto _ : st) {
        openssl_sha1(md, kLongMsgLen);
        ECDSA_SIG* sig = ECDSA_do_sign(md, SHA_DIGEST_LENGTH, ssl.key);
        sink(sig);
        ECDSA_SIG_free(sig);
    }
}

void BM_klarvex_verify(benchmark::State& st) {
    if (!in.sigs_valid) st.SkipWithError("the library rejects its own signatures");
    over_pool(st, [&](std::size_t i) {
        int v = klarvex::ecdsa_verify(in.msg[i], kMsgLen, in.r[i], in.s[i]);
        benchmark::DoNotOptimize(v);
    });
}

void BM_klarvex_verify_var(benchmark::State& st) {
    if (!in.sigs_valid) st.SkipWithError("the library rejects its own signatures");
    Point table[klarvex::WINDOW_TABLE_SIZE];
    klarvex::ecc_win_precompute(&in.q, table);
    over_pool(st, [&](std::size_t i) {
        int v = klarvex::test::verify_variable_time(table, in.msg[i], kMsgLen, in.r[i], in.s[i]);
        benchmark::DoNotOptimize(v);
    });
}

void BM_openssl_verify(benchmark::State& st) {
    over_pool(st, [&](std::size_t i) {
        int v = ECDSA_do_verify(ssl.dgst[i], SHA_DIGEST_LENGTH, ssl.sig[i], ssl.key);
        benchmark::DoNotOptimize(v);
    });
}

#if KLARVEX_HAVE_SECP256K1
void BM_secp256k1_sign(benchmark::State& st) {
    secp256k1_ecdsa_signature sig;
    over_pool(st, [&](std::size_t i) {
        int ok = secp256k1_ecdsa_sign(secp.ctx, &sig, secp.dgst[i], secp.key, nullptr, nullptr);
        benchmark::DoNotOptimize(ok);
        sink(&sig);
    });
}

void BM_secp256k1_verify(benchmark::State& st) {
    over_pool(st, [&](std::size_t i) {
        int v = secp256k1_ecdsa_verify(secp.ctx, &secp.sig[i], secp.dgst[i], &secp.pub);
        benchmark::DoNotOptimize(v);
    });
}
#endif

// ---------------------------------------------------------------------------
// SHA-1.
// ---------------------------------------------------------------------------

// On the processor's SHA-1 instructions where it has them.
void BM_klarvex_sha1(benchmark::State& st) {
    const auto len = static_cast<std::uint32_t>(st.range(0));
    std::uint8_t md[klarvex::SHA1_HASH_SIZE];
    for (auto _ : st) {
        klarvex::Sha1Context c;
        klarvex::sha1_reset(&c);
        klarvex::tamble_sha1_update(&c, in.buf, len);
        klarvex::sha1_digest(&c, md);
        sink(md);
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations()) * len);
}

void BM_klarvex_sha1_portable(benchmark::State& st) {
    klarvex::sha1_internal::force_portable(true);
    BM_klarvex_sha1(st);
    klarvex::sha1_internal::force_portable(false);
}

void BM_openssl_sha1(benchmark::State& st) {
    const auto len = static_cast<std::size_t>(st.range(0));
    std::uint8_t md[SHA_DIGEST_LENGTH];
    for (auto _ : st) {
        openssl_sha1(md, len);
        sink(md);
    }
    st.SetBytesProcessed(static_cast<std::int64_t>(st.iterations() * len));
}

using benchmark::kMicrosecond;
using benchmark::kNanosecond;

BENCHMARK(BM_klarvex_field_mul)->Unit(kNanosecond);
BENCHMARK(BM_klarvex_field_mul_fold)->Unit(kNanosecond);
BENCHMARK(BM_openssl_field_mul)->Unit(kNanosecond);
BENCHMARK(BM_openssl_field_mul_mont)->Unit(kNanosecond);
BENCHMARK(BM_klarvex_field_sqr)->Unit(kNanosecond);
BENCHMARK(BM_openssl_field_sqr)->Unit(kNanosecond);
BENCHMARK(BM_klarvex_modmul_n)->Unit(kNanosecond);
BENCHMARK(BM_openssl_modmul_n)->Unit(kNanosecond);
BENCHMARK(BM_klarvex_modmul_n_ct)->Unit(kNanosecond);
BENCHMARK(BM_klarvex_modinv_p)->Unit(kNanosecond);
BENCHMARK(BM_klarvex_modinv_p_ct)->Unit(kNanosecond);
BENCHMARK(BM_openssl_modinv_p)->Unit(kNanosecond);
BENCHMARK(BM_klarvex_modinv_n)->Unit(kNanosecond);
BENCHMARK(BM_klarvex_modinv_n_ct)->Unit(kNanosecond);
BENCHMARK(BM_openssl_modinv_n)->Unit(kNanosecond);
BENCHMARK(BM_klarvex_dbl4)->Unit(kNanosecond);
BENCHMARK(BM_klarvex_add_mixed)->Unit(kNanosecond);
BENCHMARK(BM_klarvex_add_affine)->Unit(kNanosecond);
BENCHMARK(BM_klarvex_mul_base)->Unit(kMicrosecond);
BENCHMARK(BM_klarvex_mul_base_var)->Unit(kMicrosecond);
BENCHMARK(BM_openssl_mul_base)->Unit(kMicrosecond);
BENCHMARK(BM_klarvex_mul)->Unit(kMicrosecond);
BENCHMARK(BM_openssl_mul)->Unit(kMicrosecond);
BENCHMARK(BM_klarvex_ecdsa_init)->Unit(kMicrosecond);
BENCHMARK(BM_klarvex_sign)->Unit(kMicrosecond);
BENCHMARK(BM_klarvex_sign_var)->Unit(kMicrosecond);
BENCHMARK(BM_openssl_sign)->Unit(kMicrosecond);
BENCHMARK(BM_klarvex_sign_64k)->Unit(kMicrosecond);
BENCHMARK(BM_openssl_sign_64k)->Unit(kMicrosecond);
BENCHMARK(BM_klarvex_verify)->Unit(kMicrosecond);
BENCHMARK(BM_klarvex_verify_var)->Unit(kMicrosecond);
BENCHMARK(BM_openssl_verify)->Unit(kMicrosecond);
#if KLARVEX_HAVE_SECP256K1
BENCHMARK(BM_secp256k1_sign)->Unit(kMicrosecond);
BENCHMARK(BM_secp256k1_verify)->Unit(kMicrosecond);
#endif
BENCHMARK(BM_klarvex_sha1)->Arg(64)->Arg(kSha1Max)->Unit(kNanosecond);
BENCHMARK(BM_openssl_sha1)->Arg(64)->Arg(kSha1Max)->Unit(kNanosecond);
BENCHMARK(BM_klarvex_sha1_portable)->Arg(64)->Arg(kSha1Max)->Unit(kNanosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    prepare_inputs();
    prepare_library();
#if KLARVEX_HAVE_SECP256K1
    prepare_secp256k1();
    benchmark::AddCustomContext("secp256k1", "libsecp256k1");
#endif
    char seed[32];
    std::snprintf(seed, sizeof seed, "0x%016llx", static_cast<unsigned long long>(kSeed));
    benchmark::AddCustomContext("klarvex_seed", seed);
    benchmark::AddCustomContext("openssl", OpenSSL_version(OPENSSL_VERSION));
    const char* sha1_hardware = klarvex::sha1_internal::hardware().name;
    benchmark::AddCustomContext("klarvex_sha1", sha1_hardware ? sha1_hardware : "portable");
    benchmark::AddCustomContext("klarvex_self_check",
                                failures.empty() ? "ok" : "FAILED: " + failures);
    if (!failures.empty()) {
        std::fprintf(stderr, "klarvex_bench: self-check FAILED: %s\n", failures.c_str());
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// ECDSA over secp128r2 with SHA-1, nonces from RFC 6979's HMAC-DRBG.

#include "ecdsa.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

#include "ct.h"
#include "ecc.h"
#include "ecc_ct.h"
#include "ecc_joint.h"
#include "scalar.h"
#include "secp128r2_data.h"
#include "wipe.h"

namespace klarvex {
namespace {

// The module's state, the tables of the public key Q: its window table, and
// the odd multiples of 2^32*Q, 2^64*Q and 2^96*Q (ecc_joint.h). All zero, so
// with (0, 0) as entry 0, until ecdsa_init writes them.
Point qBaseArray[WINDOW_TABLE_SIZE];
Point qShifted[JOINT_CHUNKS - 1][JOINT_ENTRIES];

// The group order n (constant data), and its byte length (126 bits).
constexpr const auto& kOrder = kSecp128r2.order;
constexpr std::uint8_t kOrderBytes = 16;

/*
 * How deep below its frame ecdsa_sign clears the stack when it ends: so deep
 * that signing and its clearing reach twice as far down as the deepest of
 * its callees. The test NonceWipe.ClearingReachesTwiceBelowTheDeepestCallee
 * (test/ecdsa_test.cpp) measures it: it paints the stack, runs the callees
 * one after the other as signing does, finds the deepest byte they wrote and
 * checks the factor. Found with g++ 12 and clang 14 on x86-64: the callees
 * use 3.1 to 3.5 KiB with any optimisation (-Og to -O3), 3.0 KiB at -O2 with
 * clang's ASan and UBSan but 7.5 KiB with g++'s, which gives each inlined
 * temporary of the constant-time k*G a slot of its own; without optimisation
 * 5.0 KiB, 5.4 KiB with g++'s ASan and UBSan, but 35.1 KiB with clang's,
 * where each of the 80 inlined steps of SHA-1's compression keeps stack
 * slots of its own.
 */
#if defined(__OPTIMIZE__)
constexpr std::size_t kStackWipe = 16384;
#else
constexpr std::size_t kStackWipe = 131072;
#endif

/*
 * The callees of signing (the HMAC rounds of the nonce generator, the
 * inversion and the products mod n, the scalar multiplication) leave copies
 * of the nonce, its inverse and the generator's key in their dead stack
 * frames. Clearing an area this deep from a frame at their depth overwrites
 * them. Not instrumented by AddressSanitizer, whose redzone above the area
 * would leave the stack right below the caller's frame as it was.
 */
__attribute__((noinline, no_sanitize("address"))) void wipe_stack() {
    std::uint8_t area[kStackWipe];
    wipe(area, sizeof area);
}

// bits2int for a 126-bit order: the 160-bit string b shifted right by 34
// bits, i.e. its leading 16 bytes shifted right by 2.
void bits2int(std::uint32_t* a, const std::uint8_t b[SHA1_HASH_SIZE]) {
    NN_Decode(a, NUM_DIGITS, b, kOrderBytes);
    NN_RShift(a, a, 2, NUM_DIGITS);
}

// e = SHA-1(msg[0..len)) mod n; the digest is also left in digest.
void digest_mod_n(std::uint32_t* e, std::uint8_t digest[SHA1_HASH_SIZE], const std::uint8_t* msg,
                  std::uint16_t len) {
    Sha1Context ctx;
    sha1_reset(&ctx);
    tamble_sha1_update(&ctx, msg, len);
    sha1_digest(&ctx, digest);
    NN_Decode(e, NUM_DIGITS, digest, SHA1_HASH_SIZE);
    NN_Mod(e, e, NUM_DIGITS, kOrder, NUM_DIGITS);
}

}  // namespace

void gen_random(std::uint32_t* a, std::uint8_t digits) {
    for (std::uint8_t i = 0; i < digits; ++i) {
        std::uint32_t first = static_cast<std::uint32_t>(std::rand());
        std::uint32_t second = static_cast<std::uint32_t>(std::rand());
        a[i] = (first << 16) ^ second;
    }
}

void ecdsa_init(const Point* pb_key) {
    ecc_win_precompute(pb_key, qBaseArray);
    joint_precompute(qBaseArray, qShifted);
}

void ecdsa_nonce(std::uint32_t* k, const std::uint32_t* d, const std::uint8_t h1[SHA1_HASH_SIZE],
                 const std::uint8_t extra[SHA1_HASH_SIZE]) {
    KLARVEX_ASSERT_SECRET(sc_below_n(d));
    assert(k != d);

    // buf = V || sep || int2octets(d) || bits2octets(h1) || extra
    constexpr std::size_t kXAt = SHA1_HASH_SIZE + 1;
    constexpr std::size_t kHAt = kXAt + kOrderBytes;
    constexpr std::size_t kExtraAt = kHAt + kOrderBytes;
    constexpr std::size_t kSeedLen = kExtraAt + SHA1_HASH_SIZE;
    std::uint8_t buf[kSeedLen];
    std::uint8_t K[SHA1_HASH_SIZE];
    std::uint8_t V[SHA1_HASH_SIZE];
    std::uint8_t T[SHA1_HASH_SIZE];

    std::uint32_t z[NUM_DIGITS];
    bits2int(z, h1);
    if (NN_Cmp(z, kOrder, NUM_DIGITS) >= 0) NN_Sub(z, z, kOrder, NUM_DIGITS);  // z < 2^126 < 2n
    NN_Encode(buf + kXAt, kOrderBytes, d, NUM_DIGITS);
    NN_Encode(buf + kHAt, kOrderBytes, z, NUM_DIGITS);
    std::memcpy(buf + kExtraAt, extra, SHA1_HASH_SIZE);

    // Each K serves two MACs or more: its padded blocks are hashed once.
    HmacSha1Key hk;
    std::memset(V, 0x01, sizeof V);
    std::memset(K, 0x00, sizeof K);
    hmac_sha1_key(&hk, K, SHA1_HASH_SIZE);
    for (std::uint8_t sep = 0; sep < 2; ++sep) {
        // K = HMAC_K(V || sep || x || h || extra); V = HMAC_K(V)
        std::memcpy(buf, V, SHA1_HASH_SIZE);
        buf[SHA1_HASH_SIZE] = sep;
        hmac_sha1_mac(K, &hk, buf, kSeedLen);
        hmac_sha1_key(&hk, K, SHA1_HASH_SIZE);
        hmac_sha1_mac(T, &hk, V, SHA1_HASH_SIZE);
        std::memcpy(V, T, SHA1_HASH_SIZE);
    }
    for (;;) {
        // V = HMAC_K(V); k = bits2int(V), taken when 1 <= k <= n-1
        hmac_sha1_mac(T, &hk, V, SHA1_HASH_SIZE);
        std::memcpy(V, T, SHA1_HASH_SIZE);
        bits2int(k, V);
        // Whether the candidate is taken is public: only the taken one is used.
        std::uint32_t taken = sc_below_n(k) & (sc_is_zero(k) ^ 1);
        KLARVEX_DECLASSIFY(&taken, sizeof taken);
        if (taken) break;
        // K = HMAC_K(V || 0x00); V = HMAC_K(V)
        std::memcpy(buf, V, SHA1_HASH_SIZE);
        buf[SHA1_HASH_SIZE] = 0;
        hmac_sha1_mac(K, &hk, buf, SHA1_HASH_SIZE + 1);
        hmac_sha1_key(&hk, K, SHA1_HASH_SIZE);
        hmac_sha1_mac(T, &hk, V, SHA1_HASH_SIZE);
        std::memcpy(V, T, SHA1_HASH_SIZE);
    }

    wipe(buf, sizeof buf);
    wipe(K, sizeof K);
    wipe(V, sizeof V);
    wipe(T, sizeof T);
    wipe(&hk, sizeof hk);
}

/*
 * Every step on the key and the nonce runs in constant time: the nonce
 * generator (HMAC-SHA1 and a masked range test), k*G (ct_mul_base), and the
 * arithmetic mod n (scalar.h), including the reduction of d and of x(k*G).
 * Only the outcomes that decide a retry (r = 0, s = 0) and, at the end, r
 * and s themselves are declassified. The digest is public: it comes from
 * the message.
 */
void ecdsa_sign(const std::uint8_t* msg, std::uint16_t len, std::uint32_t* r, std::uint32_t* s,
                const std::uint32_t* d) {
    assert(r != s && r != d && s != d);
    std::uint8_t digest[SHA1_HASH_SIZE];
    std::uint8_t extra[SHA1_HASH_SIZE];
    std::uint32_t e[NUM_DIGITS], x[NUM_DIGITS], k[NUM_DIGITS], kinv[NUM_DIGITS], t[NUM_DIGITS];
    std::uint32_t zero;
    Point kG;

    digest_mod_n(e, digest, msg, len);
    sc_reduce(x, d);

    for (;;) {
        gen_random(k, NUM_DIGITS);
        NN_Encode(extra, SHA1_HASH_SIZE, k, NUM_DIGITS);
        ecdsa_nonce(k, x, digest, extra);

        // r = x(k*G) mod n
        ct_mul_base(&kG, k);
        sc_reduce(r, kG.x);
        zero = sc_is_zero(r);
        KLARVEX_DECLASSIFY(&zero, sizeof zero);
        if (zero) continue;

        // s = k^-1 * (e + d*r) mod n
        sc_inv(kinv, k);
        sc_mul(t, x, r);
        sc_add(t, e, t);
        sc_mul(s, kinv, t);
        zero = sc_is_zero(s);
        KLARVEX_DECLASSIFY(&zero, sizeof zero);
        if (!zero) break;
    }
    KLARVEX_DECLASSIFY(r, sizeof(std::uint32_t) * NUM_DIGITS);
    KLARVEX_DECLASSIFY(s, sizeof(std::uint32_t) * NUM_DIGITS);

    wipe(extra, sizeof extra);
    wipe(k, sizeof k);
    wipe(kinv, sizeof kinv);
    wipe(x, sizeof x);
    wipe(t, sizeof t);
    wipe(&kG, sizeof kG);
    wipe_stack();
}

int ecdsa_verify(const std::uint8_t* msg, std::uint16_t len, const std::uint32_t* r,
                 const std::uint32_t* s) {
    if (NN_Cmp(r, kOrder, NUM_DIGITS) >= 0) return ECDSA_R_TOO_LARGE;
    if (NN_Zero(r, NUM_DIGITS)) return ECDSA_R_ZERO;
    if (NN_Cmp(s, kOrder, NUM_DIGITS) >= 0) return ECDSA_S_TOO_LARGE;
    if (NN_Zero(s, NUM_DIGITS)) return ECDSA_S_ZERO;
    // No ecdsa_init yet: the table is still zero, and (0, 0) is no key.
    if (NN_Zero(qBaseArray[0].x, NUM_DIGITS) && NN_Zero(qBaseArray[0].y, NUM_DIGITS)) {
        return ECDSA_INVALID;
    }

    std::uint8_t digest[SHA1_HASH_SIZE];
    std::uint32_t w[NUM_DIGITS], e[NUM_DIGITS], u1[NUM_DIGITS], u2[NUM_DIGITS], Z[NUM_DIGITS];
    Point P;

    // w = 1/s, u1 = e*w, u2 = r*w mod n: values below n, whichever
    // arithmetic mod n computes them.
    NN_ModInv(w, s, kOrder, NUM_DIGITS);
    digest_mod_n(e, digest, msg, len);
    sc_mul(u1, e, w);
    sc_mul(u2, r, w);

    /*
     * P = u1*G + u2*Q in one pass, and x(P) mod n = r tested without
     * inverting Z. u1 = 0 only for e = 0 (mod n), and then P = u2*Q. A sum
     * at infinity (Z = 0) never passes: its x is taken as 0, and r is not 0.
     */
    joint_mul(&P, Z, u1, u2, qBaseArray, qShifted);
    return joint_x_mod_n_is(&P, Z, r) ? ECDSA_VALID : ECDSA_INVALID;
}

}  // namespace klarvex

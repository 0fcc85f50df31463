// The nonce that ecdsa_sign's first attempt draws, derived step by step; and
// signing and verification from the variable-time public operations, as they
// ran before their fast paths, for the tests and benchmarks that compare them.

#ifndef KLARVEX_TEST_NONCE_H
#define KLARVEX_TEST_NONCE_H

#include <cstdint>
#include <cstdlib>

#include "ecc.h"
#include "ecdsa.h"

namespace klarvex::test {

inline void sha1(std::uint8_t out[SHA1_HASH_SIZE], const std::uint8_t* msg, std::uint16_t len) {
    Sha1Context ctx;
    sha1_reset(&ctx);
    tamble_sha1_update(&ctx, msg, len);
    sha1_digest(&ctx, out);
}

// The nonce of one attempt: ten draws of rand() as the extra data of the RFC
// 6979 nonce for key d and digest h1.
inline void draw_nonce(std::uint32_t* k, const std::uint32_t* d,
                       const std::uint8_t h1[SHA1_HASH_SIZE]) {
    std::uint8_t extra[SHA1_HASH_SIZE];
    gen_random(k, NUM_DIGITS);
    NN_Encode(extra, sizeof extra, k, NUM_DIGITS);
    ecdsa_nonce(k, d, h1, extra);
}

// k of the first signing attempt with key d on msg after srand(seed).
inline void first_nonce(std::uint32_t* k, unsigned seed, const std::uint32_t* d,
                        const std::uint8_t* msg, std::uint16_t len) {
    std::uint8_t h1[SHA1_HASH_SIZE];
    sha1(h1, msg, len);
    std::srand(seed);
    draw_nonce(k, d, h1);
}

// ecdsa_sign by ecc_win_mul_base, NN_Mod, NN_ModInv, NN_ModMult and
// NN_ModAdd: the same draws and, for every key below 2^160, the same r and s.
inline void sign_variable_time(const std::uint8_t* msg, std::uint16_t len, std::uint32_t* r,
                               std::uint32_t* s, const std::uint32_t* d) {
    std::uint32_t order[NUM_DIGITS], x[NUM_DIGITS], e[NUM_DIGITS], k[NUM_DIGITS];
    std::uint32_t kinv[NUM_DIGITS], t[NUM_DIGITS];
    std::uint8_t h1[SHA1_HASH_SIZE];
    Point kG;
    ecc_get_order(order);
    sha1(h1, msg, len);
    NN_Decode(e, NUM_DIGITS, h1, SHA1_HASH_SIZE);
    NN_Mod(e, e, NUM_DIGITS, order, NUM_DIGITS);
    NN_Mod(x, d, NUM_DIGITS, order, NUM_DIGITS);
    for (;;) {
        draw_nonce(k, x, h1);
        ecc_win_mul_base(&kG, k);
        NN_Mod(r, kG.x, NUM_DIGITS, order, NUM_DIGITS);
        if (NN_Zero(r, NUM_DIGITS)) continue;
        NN_ModInv(kinv, k, order, NUM_DIGITS);
        NN_ModMult(t, x, r, order, NUM_DIGITS);
        NN_ModAdd(t, e, t, order, NUM_DIGITS);
        NN_ModMult(s, kinv, t, order, NUM_DIGITS);
        if (!NN_Zero(s, NUM_DIGITS)) return;
    }
}

// ecdsa_verify by ecc_win_mul_base, ecc_win_mul over table (the window table
// of the public key) and ecc_add, with NN_ModInv and NN_ModMult: the result
// codes of ecdsa_verify for a key on the curve.
inline int verify_variable_time(const Point* table, const std::uint8_t* msg, std::uint16_t len,
                                const std::uint32_t* r, const std::uint32_t* s) {
    std::uint32_t order[NUM_DIGITS], w[NUM_DIGITS], e[NUM_DIGITS], u1[NUM_DIGITS];
    std::uint32_t u2[NUM_DIGITS], v[NUM_DIGITS];
    std::uint8_t h1[SHA1_HASH_SIZE];
    Point P1, P2, P;
    ecc_get_order(order);
    if (NN_Cmp(r, order, NUM_DIGITS) >= 0) return ECDSA_R_TOO_LARGE;
    if (NN_Zero(r, NUM_DIGITS)) return ECDSA_R_ZERO;
    if (NN_Cmp(s, order, NUM_DIGITS) >= 0) return ECDSA_S_TOO_LARGE;
    if (NN_Zero(s, NUM_DIGITS)) return ECDSA_S_ZERO;
    NN_ModInv(w, s, order, NUM_DIGITS);
    sha1(h1, msg, len);
    NN_Decode(e, NUM_DIGITS, h1, SHA1_HASH_SIZE);
    NN_Mod(e, e, NUM_DIGITS, order, NUM_DIGITS);
    NN_ModMult(u1, e, w, order, NUM_DIGITS);
    NN_ModMult(u2, r, w, order, NUM_DIGITS);
    ecc_win_mul_base(&P1, u1);
    ecc_win_mul(&P2, u2, table);
    ecc_add(&P, &P1, &P2);
    NN_Mod(v, P.x, NUM_DIGITS, order, NUM_DIGITS);
    return NN_Cmp(v, r, NUM_DIGITS) == 0 ? ECDSA_VALID : ECDSA_INVALID;
}

}  // namespace klarvex::test

#endif  // KLARVEX_TEST_NONCE_H

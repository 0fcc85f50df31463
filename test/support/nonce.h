// The nonce that ecdsa_sign's first attempt draws, derived step by step; and
// signing as it was before it ran in constant time, from the variable-time
// public operations, for the tests and benchmarks that compare the two.

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

}  // namespace klarvex::test

#endif  // KLARVEX_TEST_NONCE_H

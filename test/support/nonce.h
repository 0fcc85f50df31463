// The nonce that ecdsa_sign's first attempt draws, derived here step by step.

#ifndef KLARVEX_TEST_NONCE_H
#define KLARVEX_TEST_NONCE_H

#include <cstdint>
#include <cstdlib>

#include "ecdsa.h"

namespace klarvex::test {

// k of the first signing attempt with key d on msg after srand(seed): the
// RFC 6979 nonce over SHA-1(msg), with one gen_random draw as extra data.
inline void first_nonce(std::uint32_t* k, unsigned seed, const std::uint32_t* d,
                        const std::uint8_t* msg, std::uint16_t len) {
    Sha1Context ctx;
    std::uint8_t h1[SHA1_HASH_SIZE], extra[SHA1_HASH_SIZE];
    sha1_reset(&ctx);
    tamble_sha1_update(&ctx, msg, len);
    sha1_digest(&ctx, h1);
    std::uint32_t raw[NUM_DIGITS];
    std::srand(seed);
    gen_random(raw, NUM_DIGITS);
    NN_Encode(extra, sizeof extra, raw, NUM_DIGITS);
    ecdsa_nonce(k, d, h1, extra);
}

}  // namespace klarvex::test

#endif  // KLARVEX_TEST_NONCE_H

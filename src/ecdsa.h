// ECDSA over secp128r2 with SHA-1.
//
// The digest e is the whole 160-bit SHA-1 value reduced mod n (it is not cut
// to the 126 leading bits of n). Signing derives each nonce with the
// HMAC-DRBG of RFC 6979 (HMAC-SHA1), keyed by the private key and the digest,
// with ten fresh values of the C library's rand() as additional data.
//
// State: the module keeps the tables of the public key Q that ecdsa_init
// builds and ecdsa_verify reads: the window table of Q (qBaseArray, 15
// points) and the odd multiples 1, 3, ..., 15 of 2^32*Q, 2^64*Q and 2^96*Q
// (qShifted, 24 points), the width-5 NAF tables of the one-pass u1*G + u2*Q
// with qBaseArray's odd entries. Because of them the library is not
// thread-safe: ecdsa_init must not run while another thread verifies.
// Signing reads no module state (n and the table of G are constant data), so
// it works before ecc_init and ecdsa_init as well as after them. Nothing is
// allocated.
//
// Signing runs in constant time: no branch and no memory address depends on
// the private key, the nonce or anything computed from them; what it reveals
// is the signature and whether an attempt or a nonce candidate was taken.
// Verification handles public values only and runs in variable time; for a
// key on the curve its results are those of u1*G and u2*Q computed apart
// (ecc_win_mul_base, ecc_win_mul) and added (ecc_add).

#ifndef KLARVEX_ECDSA_H
#define KLARVEX_ECDSA_H

#include <cstdint>

#include "nn.h"
#include "secp128r2.h"
#include "sha1.h"

namespace klarvex {

// Verification results.
inline constexpr int ECDSA_VALID = 1;        // signature valid
inline constexpr int ECDSA_INVALID = 2;      // r, s in range but v != r
inline constexpr int ECDSA_R_TOO_LARGE = 3;  // r >= n
inline constexpr int ECDSA_R_ZERO = 4;       // r = 0
inline constexpr int ECDSA_S_TOO_LARGE = 5;  // s >= n
inline constexpr int ECDSA_S_ZERO = 6;       // s = 0

// a[0..digits) from rand(): each digit is (first << 16) ^ second of two
// consecutive calls, shifted value first. digits == 0 calls rand() not at all.
// Does not seed the generator.
void gen_random(std::uint32_t* a, std::uint8_t digits);

// Builds the tables of the public key *pb_key for ecdsa_verify; a
// further call replaces them. *pb_key is taken as given (not checked to lie on
// the curve); it must be a finite point of the curve for verification to mean
// anything, and (0, 0) leaves the module without a key.
void ecdsa_init(const Point* pb_key);

// The RFC 6979 (section 3.2, with the additional data of section 3.6) nonce
// for private key d (below n), message digest h1 and additional data extra:
// k in [1, n-1]. k must not overlap d. Constant time but for the number of
// candidates it tries.
void ecdsa_nonce(std::uint32_t* k, const std::uint32_t* d, const std::uint8_t h1[SHA1_HASH_SIZE],
                 const std::uint8_t extra[SHA1_HASH_SIZE]);

// Signs the first len bytes of msg with private key d (a d of n or more acts
// as its value mod n): r and s in [1, n-1] on return. Each attempt draws
// NUM_DIGITS digits with gen_random (ten rand() calls). r, s and d must be
// three distinct arrays. Before it returns it clears 16 KiB of stack below its
// frame (128 KiB in unoptimised builds), where its callees left copies of the
// nonce: it needs that much.
void ecdsa_sign(const std::uint8_t* msg, std::uint16_t len, std::uint32_t* r, std::uint32_t* s,
                const std::uint32_t* d);

// Checks (r, s) on the first len bytes of msg against the public key of the
// last ecdsa_init. Returns one of the ECDSA_* results; the range tests come
// first, in the order r >= n, r = 0, s >= n, s = 0. Without a key (before any
// ecdsa_init) a signature in range is ECDSA_INVALID.
int ecdsa_verify(const std::uint8_t* msg, std::uint16_t len, const std::uint32_t* r,
                 const std::uint32_t* s);

}  // namespace klarvex

#endif  // KLARVEX_ECDSA_H

// SHA-1 (FIPS 180-1), incremental, with numeric status codes; and HMAC-SHA1
// (RFC 2104) on top of it.
//
// Calling order: sha1_reset, any number of tamble_sha1_update calls, then
// sha1_digest (which may be repeated). sha1_reset may start a new message in
// the same context at any time, from any state.

#ifndef KLARVEX_SHA1_H
#define KLARVEX_SHA1_H

#include <cstdint>

namespace klarvex {

inline constexpr int SHA1_HASH_SIZE = 20;
inline constexpr int SHA1_BLOCK_SIZE = 64;

// Status codes.
inline constexpr int SHA1_SUCCESS = 0;
inline constexpr int SHA1_NULL = 1;  // a required pointer is null; also: bit count overflowed
inline constexpr int SHA1_STATE_ERROR = 3;  // update after the digest was computed

// Caller-owned running state.
struct Sha1Context {
    std::uint32_t hash[5];      // H0..H4; the digest words once computed
    std::uint32_t length_low;   // message bits absorbed, low word
    std::uint32_t length_high;  // message bits absorbed, high word
    std::uint16_t block_index;  // bytes waiting in block, 0..63 between calls
    std::uint8_t block[64];     // the block being filled
    std::int32_t computed;      // 1 once the digest has been computed
    std::int32_t corrupted;     // 0 while usable, else the sticky status code (1 or 3)
};

// Starts a new message. Returns SHA1_NULL for a null context, else SHA1_SUCCESS.
int sha1_reset(Sha1Context* context);

// Absorbs length bytes. length == 0 returns SHA1_SUCCESS at once, whatever the
// pointers and state. Null context or bytes: SHA1_NULL. After the digest:
// marks the context corrupted with SHA1_STATE_ERROR and returns it. A corrupted
// context returns its code. An update whose bit count overflows 2^64 stores
// the overflowing byte, marks the context corrupted with SHA1_NULL and still
// returns SHA1_SUCCESS; later calls report SHA1_NULL.
int tamble_sha1_update(Sha1Context* context, const std::uint8_t* message, std::uint32_t length);

// Writes the 20-byte digest (H0..H4, each most significant byte first).
// Null context or digest: SHA1_NULL. A corrupted context returns its code and
// writes nothing. Repeatable: a finished context writes the same bytes again.
int sha1_digest(Sha1Context* context, std::uint8_t digest[SHA1_HASH_SIZE]);

// mac = HMAC-SHA1(key, message) per RFC 2104. Keys longer than 64 bytes are
// hashed first. mac may not overlap key or message.
void hmac_sha1(std::uint8_t mac[SHA1_HASH_SIZE], const std::uint8_t* key, std::uint32_t key_len,
               const std::uint8_t* message, std::uint32_t length);

// An HMAC-SHA1 key made ready for any number of MACs: the SHA-1 states after
// the key block XOR ipad and after the key block XOR opad, which every MAC
// with the key starts from. It holds what the key holds: wipe it after use.
struct HmacSha1Key {
    Sha1Context inner;
    Sha1Context outer;
};

// Prepares *hkey from key[0..key_len) (two compressions), as hmac_sha1 does.
void hmac_sha1_key(HmacSha1Key* hkey, const std::uint8_t* key, std::uint32_t key_len);

// mac = HMAC-SHA1(key, message) for the key that *hkey was prepared from: the
// compressions of the message and of the outer hash only. mac may not overlap
// *hkey or message.
void hmac_sha1_mac(std::uint8_t mac[SHA1_HASH_SIZE], const HmacSha1Key* hkey,
                   const std::uint8_t* message, std::uint32_t length);

}  // namespace klarvex

#endif  // KLARVEX_SHA1_H

#include "sha1.h"

#include <atomic>
#include <bit>
#include <cassert>
#include <cstring>
#include <utility>

#include "sha1_internal.h"

namespace klarvex {
namespace {

constexpr std::uint32_t K[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};

inline std::uint32_t load_be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

inline void store_be32(std::uint8_t* p, std::uint32_t x) {
    p[0] = static_cast<std::uint8_t>(x >> 24);
    p[1] = static_cast<std::uint8_t>(x >> 16);
    p[2] = static_cast<std::uint8_t>(x >> 8);
    p[3] = static_cast<std::uint8_t>(x);
}

/*
 * Step T of the compression. The working words are never moved: step T finds
 * a, b, c, d, e in v[-T], v[1-T], ... v[4-T] (mod 5) and writes the new a into
 * the slot of e, which becomes the slot of a for step T + 1. The schedule
 * rolls over 16 words: W[T] replaces W[T-16] in w[T mod 16].
 */
template <int T>
[[gnu::always_inline]] inline void step(std::uint32_t v[5], std::uint32_t w[16]) {
    constexpr int a = (5 - T % 5) % 5, b = (a + 1) % 5, c = (a + 2) % 5, d = (a + 3) % 5,
                  e = (a + 4) % 5;
    std::uint32_t x;
    if constexpr (T < 16) {
        x = w[T];
    } else {
        // W[t] = ROTL1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16])
        x = std::rotl(w[(T - 3) & 15] ^ w[(T - 8) & 15] ^ w[(T - 14) & 15] ^ w[T & 15], 1);
        w[T & 15] = x;
    }
    std::uint32_t f;
    if constexpr (T < 20) {
        f = v[d] ^ (v[b] & (v[c] ^ v[d]));  // Ch(b, c, d)
    } else if constexpr (T >= 40 && T < 60) {
        f = (v[b] & v[c]) | (v[d] & (v[b] | v[c]));  // Maj(b, c, d)
    } else {
        f = v[b] ^ v[c] ^ v[d];  // Parity(b, c, d)
    }
    // e' = ROTL5(a) + f + e + K + W[t]; b' = ROTL30(b)
    v[e] += std::rotl(v[a], 5) + f + K[T / 20] + x;
    v[b] = std::rotl(v[b], 30);
}

template <int... T>
[[gnu::always_inline]] inline void steps(std::uint32_t v[5], std::uint32_t w[16],
                                         std::integer_sequence<int, T...>) {
    (step<T>(v, w), ...);
}

// The hardware routine where the processor has one, else the portable one.
sha1_internal::Compress* preferred() {
    sha1_internal::Compress* hardware = sha1_internal::hardware().compress;
    return hardware ? hardware : sha1_internal::compress_portable;
}

// The routine that compresses blocks: preferred() unless force_portable asked
// for the portable one.
std::atomic<sha1_internal::Compress*>& active() {
    static std::atomic<sha1_internal::Compress*> compress = preferred();
    return compress;
}

void compress(std::uint32_t hash[5], const std::uint8_t* blocks, std::size_t count) {
    active().load(std::memory_order_relaxed)(hash, blocks, count);
}

void SHA1ProcessMessageBlock(Sha1Context* context) {
    compress(context->hash, context->block, 1);
    context->block_index = 0;
}

/*
 * FIPS 180 padding of the bytes waiting in block: 0x80, zeros, and the 64-bit
 * bit count, most significant byte first, in the last 8 bytes; in a second
 * block when 0x80 and the count do not fit after the waiting bytes (56 or
 * more).
 *
 * The padding is written 16 bytes at a time, each with one 16-byte store,
 * from the 16 bytes that hold 0x80 on. The hardware routines read the block
 * with 16-byte loads, and a load that the processor cannot take whole from
 * one earlier store waits until the stores before it have reached the cache,
 * that is until the compression before has finished: with byte and word
 * stores here, every digest waited so.
 */
void SHA1PadMessage(Sha1Context* context) {
    using Bytes16 [[gnu::vector_size(16)]] = std::uint8_t;
    using Pair64 [[gnu::vector_size(16)]] = std::uint64_t;
    constexpr Bytes16 iota = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    std::uint8_t* block = context->block;
    const auto index = static_cast<std::uint8_t>(context->block_index);
    assert(index < SHA1_BLOCK_SIZE);
    // The count words are loaded apart (see tamble_sha1_update); the empty
    // asm keeps the compiler from merging the two loads.
    std::uint32_t high = context->length_high;
    asm("" : "+r"(high));
    std::uint64_t bits = static_cast<std::uint64_t>(high) << 32 | context->length_low;
    if constexpr (std::endian::native == std::endian::little) bits = __builtin_bswap64(bits);

    const unsigned end = index < 56 ? SHA1_BLOCK_SIZE : 2 * SHA1_BLOCK_SIZE;
    for (unsigned at = index & ~15u; at < end; at += 16) {
        if (at == SHA1_BLOCK_SIZE) SHA1ProcessMessageBlock(context);  // no room for the count
        Bytes16 chunk = {};
        if (at < index) std::memcpy(&chunk, block + at, 16);
        // The waiting bytes below index, 0x80 at it, zeros above.
        const Bytes16 position = iota + static_cast<std::uint8_t>(at);
        chunk &= reinterpret_cast<Bytes16>(position < index);
        chunk |= reinterpret_cast<Bytes16>(position == index) & 0x80;
        if (at + 16 == end) chunk |= reinterpret_cast<Bytes16>(Pair64{0, bits});
        std::memcpy(block + at % SHA1_BLOCK_SIZE, &chunk, 16);
    }
    SHA1ProcessMessageBlock(context);
}

}  // namespace

namespace sha1_internal {

void compress_portable(std::uint32_t hash[5], const std::uint8_t* blocks, std::size_t count) {
    for (; count; --count, blocks += SHA1_BLOCK_SIZE) {
        std::uint32_t w[16];
        for (int t = 0; t < 16; ++t)
            w[t] = load_be32(blocks + 4 * t);
        std::uint32_t v[5] = {hash[0], hash[1], hash[2], hash[3], hash[4]};
        steps(v, w, std::make_integer_sequence<int, 80>());
        // 80 is a multiple of 5: the working words end in their starting slots.
        for (int i = 0; i < 5; ++i)
            hash[i] += v[i];
    }
}

const Hardware& hardware() {
    static const Hardware found = probe_hardware();
    return found;
}

void force_portable(bool force) {
    active().store(force ? compress_portable : preferred(), std::memory_order_relaxed);
}

#if !KLARVEX_SHA1_X86 && !KLARVEX_SHA1_ARM
Hardware probe_hardware() {
    return {nullptr, nullptr};
}
#endif

}  // namespace sha1_internal

int sha1_reset(Sha1Context* context) {
    if (!context) return SHA1_NULL;
    context->length_low = 0;
    context->length_high = 0;
    context->block_index = 0;
    context->hash[0] = 0x67452301;
    context->hash[1] = 0xEFCDAB89;
    context->hash[2] = 0x98BADCFE;
    context->hash[3] = 0x10325476;
    context->hash[4] = 0xC3D2E1F0;
    context->computed = 0;
    context->corrupted = 0;
    return SHA1_SUCCESS;
}

// Not inlined into the HMAC functions below: there g++ 12 follows the
// whole-block branch for their 20-byte messages and warns of a read before
// them (-Warray-bounds) on a path that a 20-byte update never takes.
[[gnu::noinline]] int tamble_sha1_update(Sha1Context* context, const std::uint8_t* message,
                                         std::uint32_t length) {
    if (length == 0) return SHA1_SUCCESS;
    if (!context || !message) return SHA1_NULL;
    if (context->computed) return context->corrupted = SHA1_STATE_ERROR;
    if (context->corrupted) return context->corrupted;
    assert(context->block_index < SHA1_BLOCK_SIZE);

    /*
     * Each byte adds 8 to length_low and carries into length_high when
     * length_low comes to exactly 0; the byte that carries length_high to 0
     * overflows the 64-bit count. It is still stored (and a block it fills is
     * still compressed), later bytes are not. A length_low that is not a
     * multiple of 8 never comes to 0, so it wraps without carrying.
     */
    std::uint32_t take = length;
    const std::uint32_t low = context->length_low;
    if (low & 7) {
        context->length_low = low + (take << 3);
    } else {
        // The two words are read apart: one 64-bit load of both would
        // straddle the separate stores that wrote them, which the processor
        // cannot forward, and wait for those stores to reach the cache.
        const std::uint32_t high = context->length_high;
        if (high >= 0xFFFFFFF8) {
            // One update adds less than 2^35 bits: only a count this close
            // to 2^64 can overflow.
            const std::uint64_t bits = static_cast<std::uint64_t>(high) << 32 | low;
            const std::uint64_t room = (0 - bits) >> 3;  // bytes up to and including the overflow
            if (room <= take) {
                take = static_cast<std::uint32_t>(room);
                context->corrupted = SHA1_NULL;
            }
        }
        const std::uint32_t sum = low + (take << 3);
        context->length_low = sum;
        context->length_high = high + (take >> 29) + (sum < low);
    }

    // Whole blocks are compressed straight from the message; the block buffer
    // is left as byte-by-byte absorption would leave it: the last full block
    // overwritten by the bytes that follow it.
    std::uint8_t* block = context->block;
    unsigned index = context->block_index;
    if (index != 0) {
        unsigned n = SHA1_BLOCK_SIZE - index;
        if (take < n) {
            std::memcpy(block + index, message, take);
            context->block_index = static_cast<std::uint16_t>(index + take);
            return SHA1_SUCCESS;
        }
        std::memcpy(block + index, message, n);
        SHA1ProcessMessageBlock(context);
        message += n;
        take -= n;
    }
    if (const std::uint32_t whole = take / SHA1_BLOCK_SIZE) {
        compress(context->hash, message, whole);
        message += whole * SHA1_BLOCK_SIZE;
        take -= whole * SHA1_BLOCK_SIZE;
        std::memcpy(block, message - SHA1_BLOCK_SIZE, SHA1_BLOCK_SIZE);
    }
    if (take) std::memcpy(block, message, take);
    context->block_index = static_cast<std::uint16_t>(take);
    return SHA1_SUCCESS;
}

int sha1_digest(Sha1Context* context, std::uint8_t digest[SHA1_HASH_SIZE]) {
    if (!context || !digest) return SHA1_NULL;
    if (context->corrupted) return context->corrupted;
    if (!context->computed) {
        SHA1PadMessage(context);
        std::memset(context->block, 0, SHA1_BLOCK_SIZE);
        context->length_low = 0;
        context->length_high = 0;
        context->computed = 1;
    }
    for (int i = 0; i < 5; ++i)
        store_be32(digest + 4 * i, context->hash[i]);
    return SHA1_SUCCESS;
}

// HMAC(K, m) = H((K0 ^ opad) || H((K0 ^ ipad) || m)), K0 the key padded (or
// first hashed, if longer than a block) to one block.
void hmac_sha1_key(HmacSha1Key* hkey, const std::uint8_t* key, std::uint32_t key_len) {
    assert(hkey && (key || key_len == 0));
    std::uint8_t k0[SHA1_BLOCK_SIZE] = {};
    if (key_len > SHA1_BLOCK_SIZE) {
        sha1_reset(&hkey->inner);
        tamble_sha1_update(&hkey->inner, key, key_len);
        sha1_digest(&hkey->inner, k0);
    } else if (key_len) {
        std::memcpy(k0, key, key_len);
    }

    std::uint8_t pad[SHA1_BLOCK_SIZE];
    for (int i = 0; i < SHA1_BLOCK_SIZE; ++i)
        pad[i] = k0[i] ^ 0x36;
    sha1_reset(&hkey->inner);
    tamble_sha1_update(&hkey->inner, pad, SHA1_BLOCK_SIZE);
    for (int i = 0; i < SHA1_BLOCK_SIZE; ++i)
        pad[i] = k0[i] ^ 0x5c;
    sha1_reset(&hkey->outer);
    tamble_sha1_update(&hkey->outer, pad, SHA1_BLOCK_SIZE);
}

void hmac_sha1_mac(std::uint8_t mac[SHA1_HASH_SIZE], const HmacSha1Key* hkey,
                   const std::uint8_t* message, std::uint32_t length) {
    assert(mac && hkey && (message || length == 0));
    std::uint8_t inner[SHA1_HASH_SIZE];
    Sha1Context ctx = hkey->inner;
    tamble_sha1_update(&ctx, message, length);
    sha1_digest(&ctx, inner);
    ctx = hkey->outer;
    tamble_sha1_update(&ctx, inner, SHA1_HASH_SIZE);
    sha1_digest(&ctx, mac);
}

void hmac_sha1(std::uint8_t mac[SHA1_HASH_SIZE], const std::uint8_t* key, std::uint32_t key_len,
               const std::uint8_t* message, std::uint32_t length) {
    assert(mac && (key || key_len == 0) && (message || length == 0));
    HmacSha1Key hkey;
    hmac_sha1_key(&hkey, key, key_len);
    hmac_sha1_mac(mac, &hkey, message, length);
}

}  // namespace klarvex

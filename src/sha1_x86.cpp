// SHA-1 compression on the x86 SHA extensions (SHA1RNDS4, SHA1NEXTE,
// SHA1MSG1, SHA1MSG2, with SSSE3 and SSE4.1 for the byte and word shuffles).
//
// The functions that use the instructions carry a target attribute, so this
// file builds without -msha and the program runs on any x86 processor; the
// routine is only offered when cpuid reports all three extensions.

#include "sha1_internal.h"

#if KLARVEX_SHA1_X86

#include <cpuid.h>
#include <immintrin.h>

#include <utility>

#define KLARVEX_SHA_TARGET gnu::target("sha,sse4.1,ssse3")

namespace klarvex::sha1_internal {
namespace {

/*
 * The instructions keep the working words A, B, C, D in one register, A in
 * the top lane (bits 127..96) and D in the bottom one, and E apart. A group of
 * four message words W[4g..4g+3] sits the same way, W[4g] on top.
 *
 * SHA1RNDS4 abcd, x, f runs the four steps 4g..4g+3 with the function and
 * constant of f = g / 5 (0: Ch, 0x5A827999; 1: Parity, 0x6ED9EBA1; 2: Maj,
 * 0x8F1BBCDC; 3: Parity, 0xCA62C1D6); x holds W[4g] + E in its top lane and
 * W[4g+1..4g+3] below.
 * SHA1NEXTE abcd', m adds ROTL30(A') to the top lane of m: four steps after
 * the state abcd' the working word E is ROTL30 of that state's A, so this
 * forms the x of the next four steps from their message words m.
 *
 * The schedule W[t] = ROTL1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]), for the
 * group M[g] = W[4g..4g+3], g >= 4:
 *   SHA1MSG1(M[g-4], M[g-3]) = W[t-16] ^ W[t-14] in lane t = 4g..4g+3;
 *   xor M[g-2] adds W[t-8];
 *   SHA1MSG2(that, M[g-1]) adds W[t-3] and rotates, taking W[4g] itself for
 *   the W[t-3] of W[4g+3].
 *
 * Per block: 20 SHA1RNDS4, 19 SHA1NEXTE, 16 SHA1MSG1 and SHA1MSG2. The
 * SHA1RNDS4 form one chain, whose latency sets the speed; everything else
 * runs beside it. (Instructions: Intel 64 and IA-32 Architectures Software
 * Developer's Manual, vol. 2; round structure: Gulley et al., "Intel SHA
 * Extensions", Intel white paper, 2013.)
 */
template <int G>
[[KLARVEX_SHA_TARGET, gnu::always_inline]] inline void group(__m128i& abcd, __m128i& prev,
                                                             __m128i m[4], __m128i e) {
    if constexpr (G >= 4) {
        m[G & 3] = _mm_sha1msg2_epu32(
            _mm_xor_si128(_mm_sha1msg1_epu32(m[G & 3], m[(G + 1) & 3]), m[(G + 2) & 3]),
            m[(G + 3) & 3]);
    }
    // x = W[4g..4g+3] with E added to W[4g]: E of the block's start for the
    // first group, then ROTL30 of A four steps back.
    const __m128i x = G == 0 ? _mm_add_epi32(e, m[0]) : _mm_sha1nexte_epu32(prev, m[G & 3]);
    prev = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, x, G / 5);
}

template <int... G>
[[KLARVEX_SHA_TARGET, gnu::always_inline]] inline void groups(__m128i& abcd, __m128i& prev,
                                                              __m128i m[4], __m128i e,
                                                              std::integer_sequence<int, G...>) {
    (group<G>(abcd, prev, m, e), ...);
}

[[KLARVEX_SHA_TARGET]] void compress_sha_ni(std::uint32_t hash[5], const std::uint8_t* blocks,
                                            std::size_t count) {
    // Reverses the 16 bytes: four big-endian words, the first on top.
    const __m128i bswap = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    // H0..H3 with H0 on top; E = H4 in the top lane of e, zeros below.
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(hash)), 0x1B);
    __m128i e = _mm_set_epi32(static_cast<int>(hash[4]), 0, 0, 0);
    for (; count; --count, blocks += 64) {
        __m128i m[4];
        for (int i = 0; i < 4; ++i) {
            m[i] = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), bswap);
        }
        const __m128i abcd0 = abcd;
        __m128i prev;
        groups(abcd, prev, m, e, std::make_integer_sequence<int, 20>());
        // E after step 79 is ROTL30 of A before step 76; SHA1NEXTE adds it to
        // the block's starting E (lanes below stay zero).
        e = _mm_sha1nexte_epu32(prev, e);
        abcd = _mm_add_epi32(abcd, abcd0);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(hash), _mm_shuffle_epi32(abcd, 0x1B));
    hash[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
}

// cpuid leaf 1: SSSE3 is ECX bit 9, SSE4.1 ECX bit 19; leaf 7, subleaf 0:
// SHA is EBX bit 29. The SSE state is always enabled by an x86-64 system.
bool has_sha_extensions() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c >> 9 & 1) || !(c >> 19 & 1)) return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b >> 29 & 1);
}

}  // namespace

Hardware probe_hardware() {
    if (has_sha_extensions()) return {"x86 SHA extensions", compress_sha_ni};
    return {nullptr, nullptr};
}

}  // namespace klarvex::sha1_internal

#endif

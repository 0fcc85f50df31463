// SHA-1 compression on the ARMv8 cryptographic extension (SHA1C, SHA1P,
// SHA1M, SHA1H, SHA1SU0, SHA1SU1).
//
// The function that uses the instructions carries a target attribute, so this
// file builds for any ARMv8 processor; the routine is only offered when the
// kernel reports the SHA-1 instructions in the hardware capabilities of the
// auxiliary vector. (Unlike x86, where cpuid is asked so that valgrind can
// hide the instructions it cannot run, nothing here runs under valgrind, and
// getauxval is how Linux tells user code about these instructions.)

#include "sha1_internal.h"

#if KLARVEX_SHA1_ARM

#include <arm_neon.h>
#include <asm/hwcap.h>
#include <sys/auxv.h>

#include <utility>

#define KLARVEX_SHA_TARGET gnu::target("+crypto")

namespace klarvex::sha1_internal {
namespace {

/*
 * The instructions keep A, B, C, D in one register, A in lane 0 and D in lane
 * 3, and E in a scalar; a group of four message words W[4g..4g+3] sits in
 * lanes 0 to 3. SHA1C/SHA1P/SHA1M abcd, e, wk run the four steps 4g..4g+3
 * with Ch, Parity or Maj, where wk holds W[t] + K for each step (the
 * constant is not built in). SHA1H gives ROTL30: four steps after a state, E
 * is ROTL30 of that state's A.
 *
 * The schedule W[t] = ROTL1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]), for the
 * group M[g], g >= 4:
 *   SHA1SU0(M[g-4], M[g-3], M[g-2]) = W[t-16] ^ W[t-14] ^ W[t-8];
 *   SHA1SU1(that, M[g-1]) adds W[t-3] and rotates, taking W[4g] itself for
 *   the W[t-3] of W[4g+3].
 *
 * Per block: 20 SHA1C/SHA1P/SHA1M in one chain, 20 SHA1H, 16 SHA1SU0 and
 * SHA1SU1. (Instructions: Arm Architecture Reference Manual for A-profile,
 * section C7, "SHA1C" to "SHA1SU1".)
 */
template <int G>
[[KLARVEX_SHA_TARGET, gnu::always_inline]] inline void group(uint32x4_t& abcd, std::uint32_t& e,
                                                             uint32x4_t m[4]) {
    constexpr std::uint32_t K[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};
    if constexpr (G >= 4) {
        m[G & 3] =
            vsha1su1q_u32(vsha1su0q_u32(m[G & 3], m[(G + 1) & 3], m[(G + 2) & 3]), m[(G + 3) & 3]);
    }
    const uint32x4_t wk = vaddq_u32(m[G & 3], vdupq_n_u32(K[G / 5]));
    const std::uint32_t next_e = vsha1h_u32(vgetq_lane_u32(abcd, 0));
    if constexpr (G < 5) {
        abcd = vsha1cq_u32(abcd, e, wk);
    } else if constexpr (G >= 10 && G < 15) {
        abcd = vsha1mq_u32(abcd, e, wk);
    } else {
        abcd = vsha1pq_u32(abcd, e, wk);
    }
    e = next_e;
}

template <int... G>
[[KLARVEX_SHA_TARGET, gnu::always_inline]] inline void groups(uint32x4_t& abcd, std::uint32_t& e,
                                                              uint32x4_t m[4],
                                                              std::integer_sequence<int, G...>) {
    (group<G>(abcd, e, m), ...);
}

[[KLARVEX_SHA_TARGET]] void compress_armv8(std::uint32_t hash[5], const std::uint8_t* blocks,
                                           std::size_t count) {
    uint32x4_t abcd = vld1q_u32(hash);
    std::uint32_t e = hash[4];
    for (; count; --count, blocks += 64) {
        uint32x4_t m[4];
        for (int i = 0; i < 4; ++i)
            m[i] = vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(blocks + 16 * i)));  // big-endian words
        const uint32x4_t abcd0 = abcd;
        const std::uint32_t e0 = e;
        groups(abcd, e, m, std::make_integer_sequence<int, 20>());
        abcd = vaddq_u32(abcd, abcd0);
        e += e0;
    }
    vst1q_u32(hash, abcd);
    hash[4] = e;
}

}  // namespace

Hardware probe_hardware() {
    if (getauxval(AT_HWCAP) & HWCAP_SHA1) return {"ARMv8 SHA-1 instructions", compress_armv8};
    return {nullptr, nullptr};
}

}  // namespace klarvex::sha1_internal

#endif

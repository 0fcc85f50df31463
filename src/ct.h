// Internal to the library, not installed: the tools of code whose branches
// and memory addresses must not depend on secret values (the private key, the
// nonce and everything computed from them).
//
// A mask is a std::uint64_t that is either 0 or all ones (~0). Secret
// conditions are computed as masks and applied with AND and XOR, never with
// if or ?:. Each mask passes through ct_barrier() once, so that the compiler
// cannot tell it holds only two values and turn its use back into a branch.

#ifndef KLARVEX_CT_H
#define KLARVEX_CT_H

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "words.h"

/*
 * KLARVEX_DECLASSIFY(ptr, len) marks len bytes at ptr as public. Built with
 * -DKLARVEX_VALGRIND it tells valgrind's memcheck that they are defined: the
 * constant-time test marks the private key and the random draws as
 * undefined, so that memcheck reports every branch and every address that
 * depends on them, and the few results that signing may reveal are declared
 * here, where they become public: whether a nonce candidate is in range,
 * whether r or s is zero, and the signature itself. Otherwise it does nothing.
 */
#if defined(KLARVEX_VALGRIND)
#include <valgrind/memcheck.h>
#define KLARVEX_DECLASSIFY(ptr, len) VALGRIND_MAKE_MEM_DEFINED((ptr), (len))
#else
#define KLARVEX_DECLASSIFY(ptr, len) ((void)(ptr), (void)(len))
#endif

/*
 * A debug-build contract check on a value that may be secret. It branches on
 * the value, as every assert() does, so debug builds do not run in constant
 * time; the constant-time test (KLARVEX_VALGRIND) leaves these checks out as
 * NDEBUG does, and keeps every other assertion.
 */
#if defined(KLARVEX_VALGRIND)
#define KLARVEX_ASSERT_SECRET(cond) ((void)0)
#else
#define KLARVEX_ASSERT_SECRET(cond) assert(cond)
#endif

namespace klarvex {

// x, with the compiler made to forget what it knew about its value.
inline std::uint64_t ct_barrier(std::uint64_t x) {
    asm("" : "+r"(x));
    return x;
}

// ~0 if bit is 1, 0 if bit is 0; bit must be 0 or 1.
inline std::uint64_t ct_mask(std::uint64_t bit) {
    return ct_barrier(0 - bit);
}

// A mask over both halves of a 128-bit word.
inline words::u128 ct_mask128(std::uint64_t mask) {
    return static_cast<words::u128>(mask) << 64 | mask;
}

// ~0 if x is 0, else 0.
inline std::uint64_t ct_zero_mask(std::uint64_t x) {
    return ct_mask(((x | (0 - x)) >> 63) ^ 1);
}

// r[0..n) = a[0..n) where mask is ~0; r is left as it is where mask is 0.
// r MAY be the very same array as a.
inline void ct_cmov(std::uint32_t* r, const std::uint32_t* a, std::size_t n, std::uint64_t mask) {
    const auto m = static_cast<std::uint32_t>(mask);
    for (std::size_t i = 0; i < n; ++i)
        r[i] ^= (r[i] ^ a[i]) & m;
}

}  // namespace klarvex

#endif  // KLARVEX_CT_H

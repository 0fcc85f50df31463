// Internal to the library, not installed: numbers of 32-bit digits read and
// written as 64- and 128-bit machine words, for the code that works on whole
// words (the field module and NN_ModInv's 128-bit path).

#ifndef KLARVEX_WORDS_H
#define KLARVEX_WORDS_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace klarvex::words {

using u64 = std::uint64_t;
__extension__ typedef unsigned __int128 u128;

// Digits 2*i and 2*i + 1 of a as one 64-bit word (one load on a
// little-endian machine), and back.
inline u64 ld64(const std::uint32_t* a) {
    if constexpr (std::endian::native == std::endian::little) {
        u64 v;
        std::memcpy(&v, a, sizeof v);
        return v;
    } else {
        return static_cast<u64>(a[1]) << 32 | a[0];
    }
}
inline void st64(std::uint32_t* a, u64 v) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(a, &v, sizeof v);
    } else {
        a[0] = static_cast<std::uint32_t>(v);
        a[1] = static_cast<std::uint32_t>(v >> 32);
    }
}

// Digits 0..3 of a as one 128-bit word, and back with digit 4 = top.
inline u128 ld128(const std::uint32_t* a) {
    return static_cast<u128>(ld64(a + 2)) << 64 | ld64(a);
}
inline void st128(std::uint32_t* a, u128 v, std::uint32_t top) {
    st64(a, static_cast<u64>(v));
    st64(a + 2, static_cast<u64>(v >> 64));
    a[4] = top;
}

// ld128 at compile time, for constants.
template <std::size_t N>
constexpr u128 value128(const std::uint32_t (&a)[N]) {
    static_assert(N >= 4);
    return static_cast<u128>(a[3]) << 96 | static_cast<u128>(a[2]) << 64 |
           static_cast<u128>(a[1]) << 32 | a[0];
}

}  // namespace klarvex::words

#endif  // KLARVEX_WORDS_H

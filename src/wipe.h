// Internal to the library and the tools, not installed: clearing memory that
// held a secret.

#ifndef KLARVEX_WIPE_H
#define KLARVEX_WIPE_H

#include <cstddef>
#include <cstring>

namespace klarvex {

// Sets len bytes at p to zero in a way the compiler cannot drop as a dead
// store: the empty asm statement takes p and clobbers memory, so as far as
// the compiler knows the cleared bytes are read afterwards.
inline void wipe(void* p, std::size_t len) {
    std::memset(p, 0, len);
    asm volatile("" : : "r"(p) : "memory");
}

}  // namespace klarvex

#endif  // KLARVEX_WIPE_H

// The key pair built into klarvex and klarvex-verify: the private key d and
// the public key Q = d*G on secp128r2, 16 bytes each, most significant byte
// first.
//
// A build configured with -DKLARVEX_KEY_FILE=PATH (a file written by
// klarvex-keygen) takes its key pair from the header that klarvex-keycheck
// generates from that file, named by KLARVEX_KEY_HEADER. Without it the
// published DEMONSTRATION key pair below is used: anyone can forge signatures
// with it.

#ifndef KLARVEX_BUILTIN_KEY_H
#define KLARVEX_BUILTIN_KEY_H

#ifdef KLARVEX_KEY_HEADER
#include KLARVEX_KEY_HEADER
#else

#include <cstdint>

namespace klarvex {

inline constexpr std::uint8_t key[16] = {0x28, 0x67, 0x72, 0x24, 0x68, 0x2a, 0xd2, 0x0d,
                                         0xea, 0x1a, 0x10, 0x9b, 0x83, 0x4a, 0xd6, 0x07};
inline constexpr std::uint8_t keyx[16] = {0x11, 0x0a, 0x91, 0x9a, 0x53, 0x4e, 0xd9, 0x1c,
                                          0x54, 0xd2, 0xb0, 0x80, 0xf5, 0xee, 0x5b, 0xb6};
inline constexpr std::uint8_t keyy[16] = {0xc3, 0xec, 0xd7, 0x28, 0x33, 0xb5, 0x96, 0x1e,
                                          0xff, 0x36, 0xf0, 0xfe, 0xb2, 0xa9, 0xd7, 0xda};

}  // namespace klarvex

#endif  // KLARVEX_KEY_HEADER
#endif  // KLARVEX_BUILTIN_KEY_H

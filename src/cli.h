// What the command-line tools share and the library leaves out: hex text,
// the key file format and the checks of keys that arrive from outside.
//
// Compiled into the tools only; the installed library stays free of I/O.

#ifndef KLARVEX_CLI_H
#define KLARVEX_CLI_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "secp128r2.h"

namespace klarvex::cli {

// The signing and verifying interfaces count message bytes in 16 bits.
inline constexpr std::size_t MAX_MESSAGE = 65535;

// Bytes of a key, a coordinate or one half of a signature.
inline constexpr std::size_t SCALAR_BYTES = 16;

// msg[0..len) from the hex text MESSAGE, as klarvex reads it: byte i is the
// text at 2i under sscanf "%2hhx", and a pair that does not begin with a hex
// digit gives 0. hex must hold at least 2*len characters.
void message_from_hex(std::uint8_t* msg, const char* hex, std::size_t len);

// out[0..len) from text that is exactly 2*len hex digits of either case and
// nothing else. false, with out unspecified, otherwise.
bool parse_hex(std::uint8_t* out, std::size_t len, const char* text);

// hex[0..2*len) = bytes in lowercase hex; no terminator is written.
void to_hex(char* hex, const std::uint8_t* bytes, std::size_t len);

// A key pair as a key file holds it: 16 big-endian bytes each.
struct KeyPair {
    std::uint8_t d[SCALAR_BYTES];
    std::uint8_t x[SCALAR_BYTES];
    std::uint8_t y[SCALAR_BYTES];
};

// Longest text format_key_file writes.
inline constexpr std::size_t KEY_FILE_MAX = 256;

// Writes the key file text of kp into out[0..KEY_FILE_MAX); returns its length.
std::size_t format_key_file(char* out, const KeyPair& kp);

// Reads key file text: lines "d:", "Q.x:" and "Q.y:", each once and followed
// by 32 hex digits, in any order; blank lines and lines starting with '#' are
// skipped, and blanks may follow the colon and end a line. false with a
// reason naming the line otherwise.
bool parse_key_file(KeyPair* kp, const std::string& text, std::string* error);

// Sets x and y of kp to d*G (coordinates below p). ecc_init must have run.
void derive_public_key(KeyPair* kp);

// nullptr if 1 <= d <= n-1 and (x, y) = d*G, else the reason. ecc_init must
// have run.
const char* check_key_pair(const KeyPair& kp);

// nullptr if q is a point of the curve (coordinates below p) whose order is
// n, else the reason. (0, 0) is not on the curve. ecc_init must have run.
const char* check_public_key(const Point& q);

// Overwrites len bytes at p in a way the compiler keeps.
void wipe(void* p, std::size_t len);

}  // namespace klarvex::cli

#endif  // KLARVEX_CLI_H

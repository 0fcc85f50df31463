// The key file of klarvex-keygen and klarvex-keycheck, and the checks of keys
// that arrive from outside (klarvex-verify's PUBLIC_KEY). Only the companion
// tools use these.

#ifndef KLARVEX_KEYFILE_H
#define KLARVEX_KEYFILE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli.h"
#include "secp128r2.h"

namespace klarvex::cli {

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

}  // namespace klarvex::cli

#endif  // KLARVEX_KEYFILE_H

// What the command-line tools share and the library leaves out: hex text.
//
// Compiled into the tools only; the installed library stays free of I/O.

#ifndef KLARVEX_CLI_H
#define KLARVEX_CLI_H

#include <cstddef>
#include <cstdint>

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

}  // namespace klarvex::cli

#endif  // KLARVEX_CLI_H

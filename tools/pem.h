// A secp128r2 public key as a PEM "PUBLIC KEY": the DER SubjectPublicKeyInfo
// of RFC 5280 with the algorithm id-ecPublicKey and the named curve secp128r2
// (RFC 5480), in base64 (RFC 4648) between the PEM lines of RFC 7468. This
// one curve has a fixed DER prefix, written out byte by byte; no general ASN.1
// is parsed. Only the companion tools use these.

#ifndef KLARVEX_PEM_H
#define KLARVEX_PEM_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cli.h"

namespace klarvex::cli {

// Bytes of the longest SEC 1 point encoding: 04 || x || y.
inline constexpr std::size_t POINT_OCTETS_MAX = 1 + 2 * SCALAR_BYTES;

// Longest text public_key_pem writes.
inline constexpr std::size_t PUBLIC_KEY_PEM_MAX = 160;

// Writes the PEM "PUBLIC KEY" of the point (x, y), 16 big-endian bytes each,
// into out[0..PUBLIC_KEY_PEM_MAX); returns its length. The point is written
// uncompressed, the base64 in lines of 64 characters, every line ends in a
// newline, and no terminator is written. x and y are not checked.
std::size_t public_key_pem(char* out, const std::uint8_t* x, const std::uint8_t* y);

// Finds the first "-----BEGIN PUBLIC KEY-----" block of text, as klarvex-keygen
// or OpenSSL writes it (text around the block is ignored, and so are blanks
// and line breaks within it). If it holds a SubjectPublicKeyInfo of
// id-ecPublicKey with the named curve secp128r2, point[0..*len) =
// its subjectPublicKey, the SEC 1 encoding of the point, at most
// POINT_OCTETS_MAX bytes and not checked further; returns nullptr. Otherwise
// returns the reason. The base64 must be canonical (padding where it belongs,
// unused bits zero) and the DER exact: nothing before or after the key.
const char* point_octets_from_pem(std::uint8_t* point, std::size_t* len, std::string_view text);

}  // namespace klarvex::cli

#endif  // KLARVEX_PEM_H

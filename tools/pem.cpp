// The PEM public key of the companion tools.

#include "pem.h"

#include <cassert>
#include <cstring>

namespace klarvex::cli {
namespace {

constexpr std::string_view kBegin = "-----BEGIN PUBLIC KEY-----\n";
constexpr std::string_view kEnd = "-----END PUBLIC KEY-----\n";
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kPemLine = 64;

/*
 * SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier,
 * subjectPublicKey BIT STRING } (RFC 5280 4.1.1.2). Every length here is
 * below 128, so each is one byte (DER short form). What comes after the outer
 * SEQUENCE's length byte, up to the point:
 */
constexpr std::uint8_t kAlgorithm[] = {
    0x30, 0x10,                                      // AlgorithmIdentifier, 16 bytes
    0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02,  // OID 1.2.840.10045.2.1,
    0x01,                                            //   id-ecPublicKey (RFC 5480 2.1.1)
    0x06, 0x05, 0x2b, 0x81, 0x04, 0x00, 0x1d,        // OID 1.3.132.0.29, namedCurve secp128r2
};
constexpr std::uint8_t kBitString = 0x03;
constexpr std::uint8_t kSequence = 0x30;
// SEQUENCE and its length, kAlgorithm, BIT STRING, its length and the count
// of unused bits (0): the point follows.
constexpr std::size_t kPointAt = 2 + sizeof kAlgorithm + 3;
constexpr std::size_t kDerMax = kPointAt + POINT_OCTETS_MAX;

constexpr char kNotSecp128r2[] =
    "the PEM public key is not an elliptic-curve key (id-ecPublicKey) on the named curve "
    "secp128r2 (1.3.132.0.29)";

int base64_value(char c) {
    const char* at = c ? std::strchr(kBase64, c) : nullptr;
    return at ? static_cast<int>(at - kBase64) : -1;
}

// out[0..4*ceil(len/3)) = b[0..len) in base64, padded with '='.
std::size_t base64_encode(char* out, const std::uint8_t* b, std::size_t len) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < len; i += 3) {
        const std::uint32_t v = static_cast<std::uint32_t>(b[i]) << 16 |
                                (i + 1 < len ? b[i + 1] << 8 : 0) | (i + 2 < len ? b[i + 2] : 0);
        for (std::size_t j = 0; j < 4; ++j)
            out[n++] = i + j <= len ? kBase64[v >> (18 - 6 * j) & 63] : '=';
    }
    return n;
}

/*
 * *len = the number of bytes of the base64 text, blanks and line breaks
 * skipped, and out[0..min(*len, cap)) the first of them. false unless text is
 * canonical base64: whole groups of four symbols, '=' only as the last one or
 * two, and zero bits where padding cuts the last group short.
 */
bool base64_decode(std::uint8_t* out, std::size_t cap, std::size_t* len, std::string_view text) {
    std::uint32_t bits = 0;
    int held = 0;
    std::size_t symbols = 0, pads = 0;
    *len = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        ++symbols;
        const int v = base64_value(c);
        if (c == '=') {
            ++pads;
            continue;
        }
        if (v < 0 || pads > 0) return false;
        bits = bits << 6 | static_cast<std::uint32_t>(v);
        held += 6;
        if (held >= 8) {
            held -= 8;
            if (*len < cap) out[*len] = static_cast<std::uint8_t>(bits >> held);
            ++*len;
            bits &= (1u << held) - 1;
        }
    }
    return symbols % 4 == 0 && pads <= 2 && bits == 0;
}

}  // namespace

std::size_t public_key_pem(char* out, const std::uint8_t* x, const std::uint8_t* y) {
    std::uint8_t der[kDerMax] = {kSequence, kDerMax - 2};
    std::memcpy(der + 2, kAlgorithm, sizeof kAlgorithm);
    std::uint8_t* bits = der + 2 + sizeof kAlgorithm;
    bits[0] = kBitString;
    bits[1] = 1 + POINT_OCTETS_MAX;
    bits[2] = 0;  // unused bits
    // The point uncompressed (SEC 1 2.3.3): 04 || x || y.
    der[kPointAt] = 0x04;
    std::memcpy(der + kPointAt + 1, x, SCALAR_BYTES);
    std::memcpy(der + kPointAt + 1 + SCALAR_BYTES, y, SCALAR_BYTES);

    char text[(kDerMax + 2) / 3 * 4];
    const std::size_t len = base64_encode(text, der, sizeof der);
    std::size_t n = kBegin.size();
    std::memcpy(out, kBegin.data(), n);
    for (std::size_t at = 0; at < len; at += kPemLine) {
        const std::size_t line = len - at < kPemLine ? len - at : kPemLine;
        std::memcpy(out + n, text + at, line);
        n += line;
        out[n++] = '\n';
    }
    std::memcpy(out + n, kEnd.data(), kEnd.size());
    n += kEnd.size();
    assert(n <= PUBLIC_KEY_PEM_MAX);
    return n;
}

const char* point_octets_from_pem(std::uint8_t* point, std::size_t* len, std::string_view text) {
    // The labels without their line breaks: a CR may come before the LF.
    const std::string_view begin = kBegin.substr(0, kBegin.size() - 1);
    const std::string_view end = kEnd.substr(0, kEnd.size() - 1);
    const std::size_t from = text.find(begin);
    const std::size_t to = from == std::string_view::npos ? from : text.find(end, from);
    if (to == std::string_view::npos)
        return "no PEM public key: no \"-----BEGIN PUBLIC KEY-----\" and \"-----END PUBLIC "
               "KEY-----\" lines";
    std::uint8_t der[kDerMax];
    std::size_t n = 0;
    if (!base64_decode(der, sizeof der, &n,
                       text.substr(from + begin.size(), to - from - begin.size())))
        return "the PEM public key is not valid base64";
    // SEQUENCE { kAlgorithm, BIT STRING { 0 unused bits, the point } }, exactly.
    if (n <= kPointAt || n > sizeof der || der[0] != kSequence || der[1] != n - 2 ||
        std::memcmp(der + 2, kAlgorithm, sizeof kAlgorithm) != 0 ||
        der[kPointAt - 3] != kBitString || der[kPointAt - 2] != n - (kPointAt - 1) ||
        der[kPointAt - 1] != 0)
        return kNotSecp128r2;
    *len = n - kPointAt;
    std::memcpy(point, der + kPointAt, *len);
    return nullptr;
}

}  // namespace klarvex::cli

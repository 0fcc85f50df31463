// The built-in public key, and the check that a line the klarvex tool printed
// is a signature under it.

#ifndef KLARVEX_TEST_SIGNATURE_H
#define KLARVEX_TEST_SIGNATURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "builtin_key.h"
#include "ecc.h"
#include "ecdsa.h"

namespace klarvex::test {

inline Point builtin_public_key() {
    Point q;
    NN_Decode(q.x, NUM_DIGITS, keyx, sizeof keyx);
    NN_Decode(q.y, NUM_DIGITS, keyy, sizeof keyy);
    return q;
}

struct Signature {
    std::uint32_t r[NUM_DIGITS], s[NUM_DIGITS];
};

// r and s from a line of 64 lowercase hex digits and a newline; false for any
// other line.
inline bool parse_signature(const std::string& line, Signature* sig) {
    if (line.size() != 65 || line.find_first_not_of("0123456789abcdef") != 64 || line[64] != '\n')
        return false;
    std::uint8_t rs[32];
    for (int i = 0; i < 32; ++i)
        rs[i] = static_cast<std::uint8_t>(std::stoul(line.substr(2 * i, 2), nullptr, 16));
    NN_Decode(sig->r, NUM_DIGITS, rs, 16);
    NN_Decode(sig->s, NUM_DIGITS, rs + 16, 16);
    return true;
}

// line is a signature of msg under the built-in key that ecdsa_verify accepts.
inline ::testing::AssertionResult signs(const std::string& line,
                                        const std::vector<std::uint8_t>& msg) {
    Signature sig;
    if (!parse_signature(line, &sig))
        return ::testing::AssertionFailure() << "not a signature line: " << line;
    const Point q = builtin_public_key();
    ecc_init();
    ecdsa_init(&q);
    const int v = ecdsa_verify(msg.data(), static_cast<std::uint16_t>(msg.size()), sig.r, sig.s);
    if (v == ECDSA_VALID) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "ecdsa_verify gives " << v << " for " << line;
}

}  // namespace klarvex::test

#endif  // KLARVEX_TEST_SIGNATURE_H

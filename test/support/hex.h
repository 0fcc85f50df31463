// Hex text for tests, fuzzers and the OpenSSL oracle: written apart from the
// tools' own hex code (src/cli), so that it checks that code rather than
// repeats it. Needs nothing but the standard library.

#ifndef KLARVEX_TEST_HEX_H
#define KLARVEX_TEST_HEX_H

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace klarvex::test {

// Lowercase hex of len bytes.
inline std::string hex(const std::uint8_t* b, std::size_t len) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string h;
    for (std::size_t i = 0; i < len; ++i) {
        h += kDigits[b[i] >> 4];
        h += kDigits[b[i] & 15];
    }
    return h;
}

inline std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The bytes of text, pairs of hex digits of either case and nothing else;
// false for any other text.
inline bool unhex(std::vector<std::uint8_t>* out, const std::string& text) {
    if (text.size() % 2 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    out->clear();
    for (std::size_t i = 0; i < text.size(); i += 2)
        out->push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return true;
}

}  // namespace klarvex::test

#endif  // KLARVEX_TEST_HEX_H

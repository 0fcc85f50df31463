// Hex text for the command-line tools.

#include "cli.h"

#include <cstdio>
#include <cstring>

namespace klarvex::cli {
namespace {

constexpr char HEX[] = "0123456789abcdef";

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void message_from_hex(std::uint8_t* msg, const char* hex, std::size_t len) {
    // A pair that does not begin with a hex digit converts to nothing: its
    // byte stays 0.
    std::memset(msg, 0, len);
    /*
     * Each pair is converted with "%2hhx" at its own position: leading white
     * space is skipped, then at most two characters are read. sscanf measures
     * the whole rest of its input on every call, so converting in place would
     * cost time quadratic in the length; instead each conversion gets a short
     * copy of the text from the first non-blank character on, which it reads
     * the same way. `next` is that character for the current pair; white space
     * is skipped once for all pairs that share it.
     */
    const char* next = hex;
    for (std::size_t i = 0; i < len; ++i) {
        if (next < hex + 2 * i) next = hex + 2 * i;
        while (*next == ' ' || (*next >= '\t' && *next <= '\r'))
            ++next;
        char window[8] = {};
        for (std::size_t j = 0; j + 1 < sizeof window && next[j]; ++j)
            window[j] = next[j];
        std::sscanf(window, "%2hhx", &msg[i]);
    }
}

bool parse_hex(std::uint8_t* out, std::size_t len, const char* text) {
    for (std::size_t i = 0; i < len; ++i) {
        int hi = hex_value(text[2 * i]);
        int lo = hi < 0 ? -1 : hex_value(text[2 * i + 1]);
        if (lo < 0) return false;
        out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return text[2 * len] == '\0';
}

void to_hex(char* hex, const std::uint8_t* bytes, std::size_t len) {
    for (std::size_t i = 0; i < len; ++i) {
        hex[2 * i] = HEX[bytes[i] >> 4];
        hex[2 * i + 1] = HEX[bytes[i] & 15];
    }
}

}  // namespace klarvex::cli

// Hex text, key files and key checks for the command-line tools.

#include "cli.h"

#include <cassert>
#include <cstdio>
#include <cstring>

#include "ecc.h"
#include "nn.h"

namespace klarvex::cli {
namespace {

constexpr char HEX[] = "0123456789abcdef";

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// a = a mod p for a in [0, p]: the field's zero may come out of the point
// arithmetic as p.
void canonical(std::uint32_t* a, const std::uint32_t* p) {
    if (NN_Cmp(a, p, NUM_DIGITS) == 0) NN_AssignZero(a, NUM_DIGITS);
}

// Q = d*G, coordinates below p.
void mul_base(Point* q, const std::uint32_t* d) {
    CurveParams cp;
    get_curve_param(&cp);
    ecc_win_mul_base(q, d);
    canonical(q->x, cp.p);
    canonical(q->y, cp.p);
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

std::size_t format_key_file(char* out, const KeyPair& kp) {
    char d[2 * SCALAR_BYTES + 1] = {}, x[2 * SCALAR_BYTES + 1] = {}, y[2 * SCALAR_BYTES + 1] = {};
    to_hex(d, kp.d, SCALAR_BYTES);
    to_hex(x, kp.x, SCALAR_BYTES);
    to_hex(y, kp.y, SCALAR_BYTES);
    int n = std::snprintf(out, KEY_FILE_MAX,
                          "# klarvex key pair on secp128r2, written by klarvex-keygen.\n"
                          "# d is the private key: keep this file secret. Q = d*G.\n"
                          "d:   %s\nQ.x: %s\nQ.y: %s\n",
                          d, x, y);
    wipe(d, sizeof d);
    assert(n > 0 && static_cast<std::size_t>(n) < KEY_FILE_MAX);
    return static_cast<std::size_t>(n);
}

void derive_public_key(KeyPair* kp) {
    std::uint32_t d[NUM_DIGITS];
    Point q;
    NN_Decode(d, NUM_DIGITS, kp->d, SCALAR_BYTES);
    mul_base(&q, d);
    NN_Encode(kp->x, SCALAR_BYTES, q.x, NUM_DIGITS);
    NN_Encode(kp->y, SCALAR_BYTES, q.y, NUM_DIGITS);
    wipe(d, sizeof d);
}

const char* check_key_pair(const KeyPair& kp) {
    std::uint32_t n[NUM_DIGITS], d[NUM_DIGITS];
    ecc_get_order(n);
    NN_Decode(d, NUM_DIGITS, kp.d, SCALAR_BYTES);
    const char* reason = nullptr;
    if (NN_Zero(d, NUM_DIGITS)) {
        reason = "d is zero";
    } else if (NN_Cmp(d, n, NUM_DIGITS) >= 0) {
        reason = "d is not below the group order n";
    } else {
        KeyPair want = kp;
        derive_public_key(&want);
        if (std::memcmp(want.x, kp.x, SCALAR_BYTES) != 0 ||
            std::memcmp(want.y, kp.y, SCALAR_BYTES) != 0)
            reason = "Q is not d*G: the public key does not belong to the private key";
        wipe(&want, sizeof want);
    }
    wipe(d, sizeof d);
    return reason;
}

const char* check_public_key(const Point& q) {
    CurveParams cp;
    get_curve_param(&cp);
    if (NN_Cmp(q.x, cp.p, NUM_DIGITS) >= 0 || NN_Cmp(q.y, cp.p, NUM_DIGITS) >= 0)
        return "the public key is not a point of the curve (a coordinate is not below p)";

    // y^2 = x^3 + a*x + b (mod p)
    std::uint32_t lhs[NUM_DIGITS], rhs[NUM_DIGITS];
    NN_ModMult(lhs, q.y, q.y, cp.p, NUM_DIGITS);
    NN_ModMult(rhs, q.x, q.x, cp.p, NUM_DIGITS);
    NN_ModAdd(rhs, rhs, cp.a, cp.p, NUM_DIGITS);
    NN_ModMult(rhs, rhs, q.x, cp.p, NUM_DIGITS);
    NN_ModAdd(rhs, rhs, cp.b, cp.p, NUM_DIGITS);
    if (NN_Cmp(lhs, rhs, NUM_DIGITS) != 0) return "the public key is not a point of the curve";

    /*
     * The cofactor is 4: a point of the curve may have order 2n or 4n, or
     * 2 or 4. Only the points with n*Q at infinity lie in the group that G
     * generates, the only group in which a signature means anything.
     */
    Point nq;
    ecc_mul(&nq, &q, cp.order);
    if (!NN_Zero(nq.x, NUM_DIGITS) || !NN_Zero(nq.y, NUM_DIGITS))
        return "the public key is not in the group generated by G (n*Q is not the point at "
               "infinity)";
    return nullptr;
}

void wipe(void* p, std::size_t len) {
    volatile std::uint8_t* v = static_cast<volatile std::uint8_t*>(p);
    while (len--)
        *v++ = 0;
}

}  // namespace klarvex::cli

// Shared pieces of the fuzz targets: a reader that takes fields from the
// fuzzer's bytes (zeros once they run out), conversions between digit arrays
// and OpenSSL BIGNUMs, and a check that aborts with a message.

#ifndef KLARVEX_FUZZ_SUPPORT_H
#define KLARVEX_FUZZ_SUPPORT_H

#include <openssl/bn.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace klarvex::fuzz {

#define FUZZ_CHECK(cond, ...)                                                             \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::fprintf(stderr, __VA_ARGS__);                                            \
            std::fputc('\n', stderr);                                                     \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}

    std::uint8_t byte() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }
    std::uint32_t u32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = v << 8 | byte();
        return v;
    }
    // A value in [lo, hi].
    unsigned range(unsigned lo, unsigned hi) { return lo + byte() % (hi - lo + 1); }
    void fill(std::uint32_t* a, int digits) {
        for (int i = 0; i < digits; ++i)
            a[i] = u32();
    }
    void bytes(std::uint8_t* b, std::size_t len) {
        for (std::size_t i = 0; i < len; ++i)
            b[i] = byte();
    }
    const std::uint8_t* rest() const { return p_; }
    std::size_t left() const { return n_; }

  private:
    const std::uint8_t* p_;
    std::size_t n_;
};

struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

inline Bn new_bn() {
    return Bn(BN_new());
}

// The value of a[0..digits).
inline Bn to_bn(const std::uint32_t* a, int digits) {
    Bn b = new_bn();
    for (int i = digits - 1; i >= 0; --i) {
        BN_lshift(b.get(), b.get(), 32);
        BN_add_word(b.get(), a[i]);
    }
    return b;
}

// a[0..digits) = b; false if b is negative or needs more digits.
inline bool from_bn(std::uint32_t* a, int digits, const BIGNUM* b) {
    if (BN_is_negative(b) || BN_num_bits(b) > 32 * digits) return false;
    for (int i = 0; i < digits; ++i) {
        a[i] = 0;
        for (int j = 31; j >= 0; --j)
            a[i] = a[i] << 1 | static_cast<std::uint32_t>(BN_is_bit_set(b, 32 * i + j));
    }
    return true;
}

inline bool equals(const std::uint32_t* a, int digits, const BIGNUM* b) {
    return BN_cmp(to_bn(a, digits).get(), b) == 0;
}

inline void print_digits(const char* name, const std::uint32_t* a, int digits) {
    std::fprintf(stderr, "%s =", name);
    for (int i = digits - 1; i >= 0; --i)
        std::fprintf(stderr, " %08x", a[i]);
    std::fputc('\n', stderr);
}

}  // namespace klarvex::fuzz

#endif  // KLARVEX_FUZZ_SUPPORT_H

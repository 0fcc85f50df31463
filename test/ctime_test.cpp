// Signing under valgrind's memcheck with the private key and every value that
// rand() returns marked undefined, the way one marks a secret: memcheck then
// reports each branch and each memory address that depends on them. The
// library is built with -DKLARVEX_VALGRIND, so that the values signing may
// reveal (KLARVEX_DECLASSIFY) are marked defined where they become public.
// test/ctime.sh runs it; it must end without a single memcheck error.
//
// With --control it signs with the variable-time operations instead and
// fails unless memcheck reports errors: the marking does catch a leak.
// Without valgrind it only checks the signatures.

#include <valgrind/memcheck.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ecc.h"
#include "ecdsa.h"
#include "support/nonce.h"

namespace {

std::uint64_t rand_state = 0x6b6c617276657821ULL;

}  // namespace

// The C library's rand() replaced in this program: a fixed xorshift
// sequence of 31-bit values, each one marked undefined.
extern "C" int rand() noexcept {
    rand_state ^= rand_state << 13;
    rand_state ^= rand_state >> 7;
    rand_state ^= rand_state << 17;
    int v = static_cast<int>(rand_state >> 33);
    VALGRIND_MAKE_MEM_UNDEFINED(&v, sizeof v);
    return v;
}

int main(int argc, char** argv) {
    using namespace klarvex;
    const bool control = argc > 1 && std::strcmp(argv[1], "--control") == 0;
    // d = 1, 2, n - 1, a random key, and 2^160 - 1 (taken mod n)
    const std::uint32_t keys[][NUM_DIGITS] = {
        {1, 0, 0, 0, 0},
        {2, 0, 0, 0, 0},
        {0x0613B5A2, 0xBE002472, 0x7FFFFFFF, 0x3FFFFFFF, 0},
        {0x87654321, 0x0FEDCBA9, 0x89ABCDEF, 0x01234567, 0},
        {~0u, ~0u, ~0u, ~0u, ~0u},
    };
    const std::vector<std::uint8_t> msgs[] = {
        {}, {'a', 'b', 'c'}, std::vector<std::uint8_t>(65535, 0x5A)};
    std::uint32_t n[NUM_DIGITS];
    ecc_get_order(n);

    int bad = 0, count = 0;
    for (const auto& key : keys) {
        std::uint32_t d[NUM_DIGITS];
        Point q;
        NN_Mod(d, key, NUM_DIGITS, n, NUM_DIGITS);
        ecc_win_mul_base(&q, d);
        ecdsa_init(&q);
        for (const auto& msg : msgs) {
            const auto len = static_cast<std::uint16_t>(msg.size());
            std::uint32_t r[NUM_DIGITS], s[NUM_DIGITS];
            std::memcpy(d, key, sizeof d);
            VALGRIND_MAKE_MEM_UNDEFINED(d, sizeof d);
            if (control) {
                test::sign_variable_time(msg.data(), len, r, s, d);
            } else {
                ecdsa_sign(msg.data(), len, r, s, d);
            }
            VALGRIND_MAKE_MEM_DEFINED(r, sizeof r);
            VALGRIND_MAKE_MEM_DEFINED(s, sizeof s);
            if (ecdsa_verify(msg.data(), len, r, s) != ECDSA_VALID) {
                std::fprintf(stderr, "ctime_test: signature %d does not verify\n", count);
                ++bad;
            }
            ++count;
        }
    }

    const unsigned errors = VALGRIND_COUNT_ERRORS;
    std::printf("ctime_test: %d signatures%s, %u memcheck errors%s\n", count,
                control ? " by the variable-time operations" : "", errors,
                RUNNING_ON_VALGRIND ? "" : " (not under valgrind)");
    if (control && RUNNING_ON_VALGRIND && errors == 0) {
        std::fprintf(stderr, "ctime_test: memcheck saw no leak in the variable-time signing\n");
        ++bad;
    }
    return bad ? 1 : 0;
}

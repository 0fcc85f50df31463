// Signs a message with the installed library and verifies it: a key pair
// from a fixed private key, one signature, and the verdicts on the message
// and on a changed one. Also SHA-1 of "abc" (FIPS 180-1, appendix A).

#include <klarvex/ecc.h>
#include <klarvex/ecdsa.h>
#include <klarvex/nn.h>
#include <klarvex/sha1.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main() {
    using namespace klarvex;
    const std::uint8_t d_bytes[16] = {0x0c, 0x0f, 0xfe, 0xe0, 0x12, 0x34, 0x56, 0x78,
                                      0x9a, 0xbc, 0xde, 0xf0, 0x13, 0x57, 0x9b, 0xdf};
    std::uint32_t d[NUM_DIGITS], r[NUM_DIGITS], s[NUM_DIGITS];
    NN_Decode(d, NUM_DIGITS, d_bytes, sizeof d_bytes);

    ecc_init();
    Point q;
    ecc_win_mul_base(&q, d);
    ecdsa_init(&q);

    const char text[] = "signed by a program built against the installed package";
    const auto* msg = reinterpret_cast<const std::uint8_t*>(text);
    const auto len = static_cast<std::uint16_t>(sizeof text - 1);
    std::srand(1);
    ecdsa_sign(msg, len, r, s, d);
    int same = ecdsa_verify(msg, len, r, s);
    int changed = ecdsa_verify(msg, len - 1, r, s);

    Sha1Context ctx;
    std::uint8_t digest[SHA1_HASH_SIZE];
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    sha1_reset(&ctx);
    tamble_sha1_update(&ctx, abc, sizeof abc);
    sha1_digest(&ctx, digest);
    const std::uint8_t want[SHA1_HASH_SIZE] = {0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81,
                                               0x6a, 0xba, 0x3e, 0x25, 0x71, 0x78, 0x50,
                                               0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d};

    if (same != ECDSA_VALID || changed != ECDSA_INVALID ||
        std::memcmp(digest, want, sizeof want) != 0) {
        std::fprintf(stderr, "consumer: verify gave %d and %d, SHA-1 %s\n", same, changed,
                     std::memcmp(digest, want, sizeof want) ? "wrong" : "right");
        return 1;
    }
    std::uint8_t rs[32];
    NN_Encode(rs, 16, r, NUM_DIGITS);
    NN_Encode(rs + 16, 16, s, NUM_DIGITS);
    std::printf("signed and verified: ");
    for (std::uint8_t b : rs)
        std::printf("%02x", b);
    std::printf("\n");
    return 0;
}

// klarvex-verify MESSAGE SIGNATURE [PUBLIC_KEY]
//
// Checks a signature that klarvex printed. MESSAGE is hex text read exactly as
// klarvex reads it; SIGNATURE is r || s and PUBLIC_KEY is x || y, 64 hex
// digits each; without PUBLIC_KEY the built-in public key is used.
//
// Exit status: 0 valid ("valid" on stdout), 1 not valid (the reason on
// stderr), 2 usage error, 3 the verdict could not be written.

#include <cstdint>
#include <cstring>

#include "builtin_key.h"
#include "cli.h"
#include "ecc.h"
#include "ecdsa.h"
#include "keyfile.h"
#include "nn.h"

namespace {

using namespace klarvex;

constexpr int EXIT_VALID = 0;
constexpr int EXIT_INVALID = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_NO_OUTPUT = 3;

constexpr char USAGE[] =
    "usage: klarvex-verify MESSAGE SIGNATURE [PUBLIC_KEY]\n"
    "   MESSAGE as given to klarvex; SIGNATURE r || s and PUBLIC_KEY x || y,\n"
    "   64 hexadecimal digits each (default: the built-in public key)";

const char* reason_of(int result) {
    switch (result) {
        case ECDSA_INVALID:
            return "invalid signature: it does not match the message and the public key";
        case ECDSA_R_TOO_LARGE:
            return "invalid signature: r is not below the group order n";
        case ECDSA_R_ZERO:
            return "invalid signature: r is zero";
        case ECDSA_S_TOO_LARGE:
            return "invalid signature: s is not below the group order n";
        case ECDSA_S_ZERO:
            return "invalid signature: s is zero";
        default:
            return "invalid signature";
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    cli::start();
    if (argc < 3 || argc > 4) return cli::fail(EXIT_USAGE, "%s", USAGE);
    const char* hex = argv[1];

    std::uint8_t sig[2 * cli::SCALAR_BYTES];
    if (!cli::parse_hex(sig, sizeof sig, argv[2]))
        return cli::fail(EXIT_USAGE, "SIGNATURE must be 64 hexadecimal digits: r then s");
    std::uint8_t pub[2 * cli::SCALAR_BYTES];
    if (argc == 4) {
        if (!cli::parse_hex(pub, sizeof pub, argv[3]))
            return cli::fail(EXIT_USAGE, "PUBLIC_KEY must be 64 hexadecimal digits: x then y");
    } else {
        std::memcpy(pub, keyx, sizeof keyx);
        std::memcpy(pub + sizeof keyx, keyy, sizeof keyy);
    }

    ecc_init();
    Point q;
    NN_Decode(q.x, NUM_DIGITS, pub, cli::SCALAR_BYTES);
    NN_Decode(q.y, NUM_DIGITS, pub + cli::SCALAR_BYTES, cli::SCALAR_BYTES);
    if (const char* bad = cli::check_public_key(q)) return cli::fail(EXIT_USAGE, "%s", bad);

    std::size_t bin_len = std::strlen(hex) >> 1;
    if (bin_len > cli::MAX_MESSAGE) return cli::fail(EXIT_USAGE, "%s", cli::TOO_LONG.data());
    static std::uint8_t msg[cli::MAX_MESSAGE];
    cli::message_from_hex(msg, hex, bin_len);

    std::uint32_t r[NUM_DIGITS], s[NUM_DIGITS];
    NN_Decode(r, NUM_DIGITS, sig, cli::SCALAR_BYTES);
    NN_Decode(s, NUM_DIGITS, sig + cli::SCALAR_BYTES, cli::SCALAR_BYTES);
    ecdsa_init(&q);
    int result = ecdsa_verify(msg, static_cast<std::uint16_t>(bin_len), r, s);
    if (result != ECDSA_VALID) return cli::fail(EXIT_INVALID, "%s", reason_of(result));

    constexpr char VALID[] = "valid\n";
    if (!cli::print(VALID, sizeof VALID - 1))
        return cli::fail(EXIT_NO_OUTPUT, "cannot write the result");
    return EXIT_VALID;
}

// klarvex-verify [--] MESSAGE SIGNATURE [PUBLIC_KEY]
// klarvex-verify --public-key [--pem]
// klarvex-verify --help | -h | --version
//
// Checks a signature that klarvex printed. MESSAGE is hex text read exactly as
// klarvex reads it; SIGNATURE is r || s, 64 hex digits; PUBLIC_KEY is x || y,
// 04 || x || y or 02/03 || x in hex, or the path of a PEM public key file;
// without it the built-in public key is used. --public-key prints the
// built-in public key as x || y, or with --pem as a PEM public key.
//
// Exit status: 0 valid ("valid" on stdout), 1 not valid ("invalid" on
// stdout, the reason on stderr), 2 usage error, 3 what was asked for could
// not be written to stdout.

#include <cstdint>
#include <cstring>
#include <string_view>

#include "builtin_key.h"
#include "cli.h"
#include "ecdsa.h"
#include "keyfile.h"
#include "nn.h"
#include "pem.h"

namespace {

using namespace klarvex;

constexpr int kExitValid = 0;
constexpr int kExitInvalid = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoOutput = 3;

constexpr char kHelp[] =
    "usage: klarvex-verify [--] MESSAGE SIGNATURE [PUBLIC_KEY]\n"
    "       klarvex-verify --public-key [--pem]\n"
    "       klarvex-verify --help | -h | --version\n"
    "Checks a signature that klarvex printed: prints \"valid\" (status 0) or\n"
    "\"invalid\" (status 1, the reason on standard error).\n"
    "  MESSAGE       the hex text given to klarvex, read the same way\n"
    "                (after \"--\" if it begins with \"-\")\n"
    "  SIGNATURE     r || s as klarvex prints it: 64 hexadecimal digits\n"
    "  PUBLIC_KEY    x || y (64 hexadecimal digits), 04 || x || y (66),\n"
    "                02 or 03 || x (34), or the path of a PEM public key file\n"
    "                (default: the public key built into this program)\n"
    "  --public-key  prints the built-in public key as x || y, or with --pem as\n"
    "                a PEM public key (SubjectPublicKeyInfo)";

constexpr char kForms[] =
    "PUBLIC_KEY must be x || y (64 hexadecimal digits), 04 || x || y (66), 02 or 03 || x "
    "(34), or the path of a PEM public key file";

// status, or kExitNoOutput with the reason if what was printed did not arrive.
int printed(bool arrived, int status) {
    return arrived ? status : cli::fail(kExitNoOutput, "cannot write the result");
}

int print_public_key(bool pem) {
    char text[cli::PUBLIC_KEY_PEM_MAX];
    std::size_t len = cli::PAIR_LINE;
    if (pem)
        len = cli::public_key_pem(text, keyx, keyy);
    else
        cli::pair_line(text, keyx, keyy);
    return printed(cli::print(text, len), kExitValid);
}

// *q = the point that PUBLIC_KEY gives, not checked further: 0, or kExitUsage
// with the reason.
int read_public_key(Point* q, const char* arg) {
    const std::string_view text = arg;
    std::uint8_t b[cli::POINT_OCTETS_MAX] = {0x04};
    std::size_t len = 0;
    if (text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos) {
        // x || y is 04 || x || y without its first byte.
        const bool xy = text.size() == 4 * cli::SCALAR_BYTES;
        if (!xy && text.size() != 2 * sizeof b && text.size() != 2 * (1 + cli::SCALAR_BYTES))
            return cli::fail(kExitUsage, "%s", kForms);
        len = xy + text.size() / 2;
        cli::parse_hex(b + xy, text.size() / 2, text);
        const char* bad = cli::point_from_octets(q, b, len);
        return bad ? cli::fail(kExitUsage, "%s", bad) : 0;
    }
    static char pem[cli::KEY_FILE_READ_MAX];
    char why[cli::READ_REASON_MAX];
    if (!cli::read_small_regular_file(arg, pem, sizeof pem, &len, why))
        return cli::fail(kExitUsage, "PUBLIC_KEY %s %s\n%s", arg, why, kForms);
    const char* bad = cli::point_octets_from_pem(b, &len, {pem, len});
    if (!bad) bad = cli::point_from_octets(q, b, len);
    return bad ? cli::fail(kExitUsage, "PUBLIC_KEY %s: %s", arg, bad) : 0;
}

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
    unsigned opts;
    const int first = cli::parse_options(
        argc, argv, cli::OPT_HELP | cli::OPT_VERSION | cli::OPT_PUBLIC_KEY | cli::OPT_PEM, &opts);
    const int operands = argc - first;
    if (opts & cli::OPT_HELP) return printed(cli::print_line(kHelp), kExitValid);
    if (opts & cli::OPT_VERSION) return printed(cli::print_version("klarvex-verify"), kExitValid);
    if ((opts & cli::OPT_PUBLIC_KEY) && operands == 0) return print_public_key(opts & cli::OPT_PEM);
    if (opts != 0 || operands < 2 || operands > 3) return cli::fail(kExitUsage, "%s", kHelp);
    const char* hex = argv[first];

    std::uint8_t sig[2 * cli::SCALAR_BYTES];
    if (!cli::parse_hex(sig, sizeof sig, argv[first + 1]))
        return cli::fail(kExitUsage, "SIGNATURE must be 64 hexadecimal digits: r then s");
    Point q;
    if (operands == 3) {
        if (int status = read_public_key(&q, argv[first + 2])) return status;
    } else {
        NN_Decode(q.x, NUM_DIGITS, keyx, sizeof keyx);
        NN_Decode(q.y, NUM_DIGITS, keyy, sizeof keyy);
    }
    if (const char* bad = cli::check_public_key(q)) return cli::fail(kExitUsage, "%s", bad);

    std::size_t bin_len = std::strlen(hex) >> 1;
    if (bin_len > cli::MAX_MESSAGE) return cli::fail(kExitUsage, "%s", cli::TOO_LONG.data());
    static std::uint8_t msg[cli::MAX_MESSAGE];
    cli::message_from_hex(msg, hex, bin_len);

    std::uint32_t r[NUM_DIGITS], s[NUM_DIGITS];
    NN_Decode(r, NUM_DIGITS, sig, cli::SCALAR_BYTES);
    NN_Decode(s, NUM_DIGITS, sig + cli::SCALAR_BYTES, cli::SCALAR_BYTES);
    ecdsa_init(&q);
    const int result = ecdsa_verify(msg, static_cast<std::uint16_t>(bin_len), r, s);
    if (result == ECDSA_VALID) return printed(cli::print_line("valid"), kExitValid);
    cli::fail(kExitInvalid, "%s", reason_of(result));
    return printed(cli::print_line("invalid"), kExitInvalid);
}

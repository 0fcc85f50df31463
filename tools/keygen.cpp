// klarvex-keygen KEYFILE
// klarvex-keygen --help | -h | --version
//
// Draws a private key d uniformly from [1, n-1] with getrandom(2), computes
// Q = d*G and writes both to the new file KEYFILE (mode 0600), and Q as a PEM
// public key to the new file KEYFILE.pub (mode 0644): both files or neither,
// never over an existing one, and each complete or absent whatever happens.
// Prints the public key x || y as 64 hex digits. A KEYFILE that begins with
// '-' is refused: ./-name is written as such.
//
// Exit status: 0 written, 1 the key could not be drawn or written, or the
// output not printed, 2 usage.

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "cli.h"
#include "ecc.h"
#include "keyfile.h"
#include "nn.h"
#include "pem.h"
#include "wipe.h"

namespace {

using namespace klarvex;

constexpr int kExitWritten = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kHelp[] =
    "usage: klarvex-keygen KEYFILE\n"
    "       klarvex-keygen --help | -h | --version\n"
    "Draws a new key pair for klarvex and writes it to the new file KEYFILE\n"
    "(mode 0600, secret), its public key as PEM to the new file KEYFILE.pub\n"
    "(mode 0644), and prints the public key x || y. If either file exists,\n"
    "neither is written. KEYFILE may not begin with \"-\" (write ./-name).";

int printed(bool arrived) {
    return arrived ? kExitWritten : cli::fail(kExitFailed, "cannot write to standard output");
}

// Fills buf from the kernel's generator, blocking until it is seeded.
bool random_bytes(std::uint8_t* buf, std::size_t len) {
    while (len > 0) {
        ssize_t got = getrandom(buf, len, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        buf += got;
        len -= static_cast<std::size_t>(got);
    }
    return true;
}

/*
 * n is just below 2^126, so a draw of 126 random bits is almost always below
 * n; rejecting 0 and every value from n up keeps d uniform on [1, n-1].
 */
bool draw_private_key(std::uint8_t d[cli::SCALAR_BYTES]) {
    std::uint32_t n[NUM_DIGITS], k[NUM_DIGITS];
    ecc_get_order(n);
    bool ok;
    do {
        ok = random_bytes(d, cli::SCALAR_BYTES);
        d[0] &= 0x3f;
        NN_Decode(k, NUM_DIGITS, d, cli::SCALAR_BYTES);
    } while (ok && (NN_Zero(k, NUM_DIGITS) || NN_Cmp(k, n, NUM_DIGITS) >= 0));
    wipe(k, sizeof k);
    return ok;
}

}  // namespace

int main(int argc, char* argv[]) {
    cli::start();
    unsigned opts;
    const int first = cli::parse_options(argc, argv, cli::OPT_HELP | cli::OPT_VERSION, &opts);
    if (opts & cli::OPT_HELP) return printed(cli::print_line(kHelp));
    if (opts & cli::OPT_VERSION) return printed(cli::print_version("klarvex-keygen"));
    if (argc - first != 1 || argv[first][0] == '-') return cli::fail(kExitUsage, "%s", kHelp);
    const char* path = argv[first];
    const std::string pub_path = std::string(path) + ".pub";

    cli::KeyPair kp;
    if (!draw_private_key(kp.d))
        return cli::fail(kExitFailed, "cannot read the system's random generator: %s",
                         std::strerror(errno));
    cli::derive_public_key(&kp);

    char text[cli::KEY_FILE_MAX], pem[cli::PUBLIC_KEY_PEM_MAX];
    const cli::NewFile files[] = {
        {path, text, cli::format_key_file(text, kp), 0600},
        {pub_path.c_str(), pem, cli::public_key_pem(pem, kp.x, kp.y), 0644},
    };
    const char* failed = cli::create_files_exclusively(files, 2);
    const int err = errno;
    wipe(text, sizeof text);
    wipe(kp.d, sizeof kp.d);
    if (failed && err == EEXIST)
        return cli::fail(kExitFailed, "%s already exists: not overwritten", failed);
    if (failed) return cli::fail(kExitFailed, "cannot create %s: %s", failed, std::strerror(err));

    char line[cli::PAIR_LINE];
    cli::pair_line(line, kp.x, kp.y);
    if (!cli::print(line, sizeof line))
        return cli::fail(kExitFailed, "%s written, but the public key could not be printed", path);
    return kExitWritten;
}

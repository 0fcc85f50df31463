// The klarvex tool's whole run, in process, on an arbitrary MESSAGE (the
// input with its NUL bytes dropped, as no argument can hold one) with a log.
// Standard output goes to a file. Every run must end with status 0, one
// signature line that OpenSSL accepts for the converted bytes and a log
// record of three lines whose salt line unescapes to MESSAGE exactly; or,
// past 65535 bytes, with status 1 and the refusal in the log.

#define OPENSSL_SUPPRESS_DEPRECATED
#include <dirent.h>
#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/obj_mac.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "builtin_key.h"
#include "support.h"
#include "support/hex.h"

namespace klarvex {
int klarvex_main(int argc, char* argv[]);
}

namespace {

using klarvex::fuzz::Bn;

std::string dir, log_path, out_path;

void cleanup() {
    unlink(log_path.c_str());
    unlink(out_path.c_str());
    rmdir(dir.c_str());
}

std::string slurp(int fd) {
    std::string s;
    char buf[65536];
    off_t at = 0;
    for (ssize_t n; (n = pread(fd, buf, sizeof buf, at)) > 0; at += n)
        s.append(buf, static_cast<std::size_t>(n));
    return s;
}

std::string slurp(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "<missing>";
    std::string s = slurp(fd);
    close(fd);
    return s;
}

int open_fds() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

// The salt line's text back to MESSAGE: \xNN (lowercase) is the only escape,
// and no control character may stand unescaped.
bool unescape(const std::string& text, std::string* out) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) return false;
        if (c != '\\') {
            out->push_back(text[i]);
            continue;
        }
        // Two lowercase digits: what unhex reads, hex writes back the same.
        const std::string nn = text.compare(i, 2, "\\x") == 0 ? text.substr(i + 2, 2) : "";
        std::vector<std::uint8_t> b;
        if (nn.size() != 2 || !klarvex::test::unhex(&b, nn) ||
            klarvex::test::hex(b.data(), 1) != nn)
            return false;
        out->push_back(static_cast<char>(b[0]));
        i += 3;
    }
    return true;
}

bool openssl_verifies(const std::vector<std::uint8_t>& msg, const std::string& sig_hex) {
    static EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_secp128r2);
    static BN_CTX* ctx = BN_CTX_new();
    Bn n = klarvex::fuzz::new_bn();
    EC_GROUP_get_order(group, n.get(), ctx);
    Bn qx(BN_bin2bn(klarvex::keyx, 16, nullptr)), qy(BN_bin2bn(klarvex::keyy, 16, nullptr));
    EC_POINT* q = EC_POINT_new(group);
    EC_POINT_set_affine_coordinates(group, q, qx.get(), qy.get(), ctx);
    EC_KEY* key = EC_KEY_new();
    EC_KEY_set_group(key, group);
    EC_KEY_set_public_key(key, q);
    // e = SHA-1 mod n, times 4 in 16 bytes: OpenSSL cuts it back to e.
    std::uint8_t h[SHA_DIGEST_LENGTH], dgst[16];
    SHA1(msg.data(), msg.size(), h);
    Bn e(BN_bin2bn(h, sizeof h, nullptr));
    BN_nnmod(e.get(), e.get(), n.get(), ctx);
    BN_lshift(e.get(), e.get(), 2);
    BN_bn2binpad(e.get(), dgst, sizeof dgst);
    BIGNUM* r = nullptr;
    BIGNUM* s = nullptr;
    BN_hex2bn(&r, sig_hex.substr(0, 32).c_str());
    BN_hex2bn(&s, sig_hex.substr(32, 32).c_str());
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, r, s);
    const int v = ECDSA_do_verify(dgst, sizeof dgst, sig, key);
    ECDSA_SIG_free(sig);
    EC_KEY_free(key);
    EC_POINT_free(q);
    return v == 1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char tmpl[] = "/tmp/klarvex-fuzz-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    dir = tmpl;
    log_path = dir + "/log";
    out_path = dir + "/stdout";
    // Standard output to a file for the whole session; libFuzzer reports on
    // standard error.
    std::fflush(stdout);
    int fd = open(out_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || dup2(fd, 1) < 0) std::abort();
    close(fd);
    std::atexit(cleanup);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string message;
    for (std::size_t i = 0; i < size; ++i)
        if (data[i]) message.push_back(static_cast<char>(data[i]));

    unlink(log_path.c_str());
    std::fflush(stdout);
    if (ftruncate(1, 0) != 0 || lseek(1, 0, SEEK_SET) != 0) std::abort();
    std::string prog = "klarvex";
    char* argv[] = {prog.data(), message.data(), log_path.data(), nullptr};
    const int fds = open_fds();
    const int status = klarvex::klarvex_main(3, argv);
    FUZZ_CHECK(open_fds() == fds, "the run left %d descriptors open", open_fds() - fds);
    std::fflush(stdout);
    const std::string out = slurp(1);
    const std::string log = slurp(log_path);

    const std::size_t hex_len = message.size(), bin_len = hex_len / 2;
    const std::string lengths = "lengths: ascii hex: " + std::to_string(hex_len) +
                                " bin: " + std::to_string(bin_len) + "\n";
    const std::size_t salt_end = log.find('\n');
    FUZZ_CHECK(salt_end != std::string::npos && log.compare(0, 7, "salt: `") == 0 &&
                   salt_end >= 8 && log[salt_end - 1] == '\'',
               "salt line of a %zu-byte message", hex_len);
    std::string echoed;
    FUZZ_CHECK(unescape(log.substr(7, salt_end - 8), &echoed) && echoed == message,
               "the salt line does not give back MESSAGE (%zu bytes)", hex_len);
    const std::string rest = log.substr(salt_end + 1);

    if (bin_len > 65535) {
        FUZZ_CHECK(status == 1 && out.empty(), "too long: status %d", status);
        FUZZ_CHECK(rest == lengths + "=> message too long: at most 65535 bytes\n", "too long: log");
        return 0;
    }
    FUZZ_CHECK(status == 0, "status %d for a %zu-byte message", status, hex_len);
    FUZZ_CHECK(
        out.size() == 65 && out.find_first_not_of("0123456789abcdef") == 64 && out[64] == '\n',
        "signature line of %zu bytes", out.size());
    FUZZ_CHECK(rest == lengths + "signed salt: " + out, "lengths and signed salt lines");

    // The bytes the run signs: each pair under "%2hhx"; a pair that does not
    // convert gives 0.
    std::vector<std::uint8_t> bytes(bin_len, 0);
    for (std::size_t i = 0; i < bin_len; ++i)
        std::sscanf(message.c_str() + 2 * i, "%2hhx", &bytes[i]);
    FUZZ_CHECK(openssl_verifies(bytes, out), "OpenSSL rejects %.64s", out.c_str());
    return 0;
}

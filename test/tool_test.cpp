// The klarvex tool end to end in ordinary use: the built binary run in a
// temporary directory (stdout, stderr, status and the log), and in-process
// for a MESSAGE longer than one command-line argument can be. Hostile input,
// unwritable output and concurrent runs are in hostile_test.

#define OPENSSL_SUPPRESS_DEPRECATED
#include "support/openssl.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "builtin_key.h"
#include "ecc.h"
#include "ecdsa.h"
#include "support/process.h"
#include "support/signature.h"

namespace klarvex {

int klarvex_main(int argc, char* argv[]);

namespace {

using test::lines;
using test::Result;
using test::slurp;
using test::TempDir;
namespace fs = std::filesystem;

const std::string USAGE = "=> usage: klarvex MESSAGE\n";
const std::string TOO_LONG = "=> message too long: at most 65535 bytes\n";

Result run(const TempDir& dir, const std::vector<std::string>& args) {
    return test::run(dir, KLARVEX_TOOL_PATH, args);
}

TEST(Tool, BuiltinKeyPair) {
    std::uint32_t d[NUM_DIGITS], n[NUM_DIGITS];
    NN_Decode(d, NUM_DIGITS, key, sizeof key);
    ecc_init();
    ecc_get_order(n);
    EXPECT_FALSE(NN_Zero(d, NUM_DIGITS));
    EXPECT_LT(NN_Cmp(d, n, NUM_DIGITS), 0);
    Point q, want = test::builtin_public_key();
    ecc_win_mul_base(&q, d);
    EXPECT_TRUE(NN_Equal(q.x, want.x, NUM_DIGITS) && NN_Equal(q.y, want.y, NUM_DIGITS));
#if KLARVEX_HAVE_OPENSSL
    const auto xy = test::public_key(key);
    EXPECT_EQ(std::memcmp(xy.data(), keyx, 16), 0);
    EXPECT_EQ(std::memcmp(xy.data() + 16, keyy, 16), 0);
#endif
}

TEST(Tool, UsageWithoutMessage) {
    TempDir dir;
    Result r = run(dir, {});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, USAGE);
    EXPECT_EQ(r.out, "");
    // Nothing but the captured streams appeared.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 2);
}

TEST(Tool, LogAppendsOneRecordPerRun) {
    TempDir dir;
    fs::path log = dir / "sign.log";
    std::ofstream(log) << "earlier line\n";
    Result a = run(dir, {"616263", log.string()});
    Result b = run(dir, {"6162638", log.string(), "ignored"});
    ASSERT_EQ(a.status, 0);
    ASSERT_EQ(b.status, 0);
    EXPECT_TRUE(test::signs(a.out, {'a', 'b', 'c'}));
    EXPECT_TRUE(test::signs(b.out, {'a', 'b', 'c'}));
    std::vector<std::string> want = {"earlier line",
                                     "salt: `616263'",
                                     "lengths: ascii hex: 6 bin: 3",
                                     "signed salt: " + a.out.substr(0, 64),
                                     "salt: `6162638'",
                                     "lengths: ascii hex: 7 bin: 3",
                                     "signed salt: " + b.out.substr(0, 64)};
    std::string text = slurp(log);
    EXPECT_EQ(lines(text), want);
    EXPECT_EQ(text.back(), '\n');

    // A log that cannot be opened is skipped; the run still signs.
    Result c = run(dir, {"616263", (dir / "no/such/dir/sign.log").string()});
    EXPECT_EQ(c.status, 0);
    EXPECT_EQ(c.err, "");
    EXPECT_TRUE(test::signs(c.out, {'a', 'b', 'c'}));
}

TEST(Tool, SameSecondSameSignature) {
    TempDir dir;
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::time_t before = std::time(nullptr);
        Result a = run(dir, {"cafe"});
        Result b = run(dir, {"cafe"});
        if (std::time(nullptr) != before) continue;  // crossed a second: the seeds may differ
        EXPECT_EQ(a.out, b.out);
        EXPECT_TRUE(test::signs(a.out, {0xca, 0xfe}));
        return;
    }
    FAIL() << "every attempt crossed a second boundary";
}

// Runs klarvex_main in this process with stdout and stderr sent to files.
Result run_in_process(const TempDir& dir, std::vector<std::string> args) {
    std::vector<char*> argv{const_cast<char*>("klarvex")};
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    int saved_out = dup(1), saved_err = dup(2);
    int out = open((dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open((dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    Result r;
    r.status = klarvex_main(static_cast<int>(argv.size() - 1), argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    for (int fd : {out, err, saved_out, saved_err})
        close(fd);
    r.out = slurp(dir / "stdout");
    r.err = slurp(dir / "stderr");
    return r;
}

TEST(Tool, MessageTooLongIsRefused) {
    TempDir dir;
    fs::path log = dir / "log";
    for (std::size_t hex_len : {131072u, 131073u, 200000u}) {
        std::string message(hex_len, 'a');
        Result r = run_in_process(dir, {message, log.string()});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, TOO_LONG);
        EXPECT_EQ(slurp(log), "salt: `" + message +
                                  "'\nlengths: ascii hex: " + std::to_string(hex_len) +
                                  " bin: " + std::to_string(hex_len / 2) + "\n" + TOO_LONG);
        fs::remove(log);
    }
}

// Whether a writable mapping of this process holds the bytes: the stack
// apart, and mappings of 64 MiB or more (a sanitizer's shadow memory). Read
// past AddressSanitizer, whose redzones it crosses.
__attribute__((no_sanitize("address"))) bool in_memory(const std::uint8_t* bytes, std::size_t len) {
    std::FILE* maps = std::fopen("/proc/self/maps", "r");
    char line[512];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, maps)) {
        unsigned long lo, hi;
        char perms[5];
        if (std::sscanf(line, "%lx-%lx %4s", &lo, &hi, perms) != 3 || perms[0] != 'r' ||
            perms[1] != 'w' || hi - lo >= (64ul << 20) || std::strstr(line, "[stack]"))
            continue;
        for (auto* p = reinterpret_cast<const std::uint8_t*>(lo);
             !found && p + len <= (const std::uint8_t*)hi; ++p) {
            std::size_t i = 0;
            while (i < len && p[i] == bytes[i])
                ++i;
            found = i == len;
        }
    }
    std::fclose(maps);
    return found;
}

// The decoded private key does not outlive the signature: after a run no
// writable memory of the process holds its digits.
TEST(Tool, PrivateKeyIsClearedAfterSigning) {
    std::uint32_t d[4];  // on the stack, which is not searched
    NN_Decode(d, 4, key, sizeof key);
    TempDir dir;
    EXPECT_EQ(run_in_process(dir, {"616263"}).status, 0);
    EXPECT_FALSE(in_memory(reinterpret_cast<const std::uint8_t*>(d), sizeof d));
}

}  // namespace
}  // namespace klarvex

#if !KLARVEX_HAVE_OPENSSL
KLARVEX_OPENSSL_SKIPPED(ToolOpenSsl)
#endif

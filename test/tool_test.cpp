// The klarvex tool end to end: the built binary run in a temporary directory
// (stdout, stderr, status and the log), and in-process for a MESSAGE longer
// than one command-line argument can be.

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

#if KLARVEX_HAVE_OPENSSL
#include <openssl/ecdsa.h>
#endif

namespace klarvex {

int klarvex_main(int argc, char* argv[]);

namespace {

using test::Child;
using test::lines;
using test::Out;
using test::Result;
using test::slurp;
using test::TempDir;
namespace fs = std::filesystem;

const std::string USAGE = "=> usage: klarvex MESSAGE\n";
const std::string TOO_LONG = "=> message too long: at most 65535 bytes\n";
const std::string NO_OUTPUT = "=> cannot write signature\n";

Result run(const TempDir& dir, const std::vector<std::string>& args, Out out = Out::File) {
    return test::run(dir, KLARVEX_TOOL_PATH, args, {out});
}

#if KLARVEX_HAVE_OPENSSL
bool openssl_verifies(const std::vector<std::uint8_t>& msg, const test::Signature& rs) {
    test::Group group = test::secp128r2_group();
    test::BnCtx ctx = test::new_ctx();
    test::Bn n = test::new_bn(), qx(BN_bin2bn(keyx, 16, nullptr)), qy(BN_bin2bn(keyy, 16, nullptr));
    EC_GROUP_get_order(group.get(), n.get(), ctx.get());
    test::EcPoint q(EC_POINT_new(group.get()));
    EC_POINT_set_affine_coordinates(group.get(), q.get(), qx.get(), qy.get(), ctx.get());
    EC_KEY* key = EC_KEY_new_by_curve_name(NID_secp128r2);
    EC_KEY_set_public_key(key, q.get());
    std::uint8_t dgst[16];
    test::ecdsa_digest(dgst, msg.data(), msg.size(), n.get(), ctx.get());
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, test::to_bn(rs.r, NUM_DIGITS).release(),
                   test::to_bn(rs.s, NUM_DIGITS).release());
    int v = ECDSA_do_verify(dgst, sizeof dgst, sig, key);
    ECDSA_SIG_free(sig);
    EC_KEY_free(key);
    return v == 1;
}
#endif

// The line is one signature of msg under the built-in key: 64 lowercase hex
// digits and a newline, valid under ecdsa_verify and under OpenSSL.
void expect_signature(const std::string& line, const std::vector<std::uint8_t>& msg) {
    EXPECT_TRUE(test::signs(line, msg));
#if KLARVEX_HAVE_OPENSSL
    test::Signature sig;
    if (test::parse_signature(line, &sig)) {
        EXPECT_TRUE(openssl_verifies(msg, sig)) << line;
    }
#endif
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

TEST(Tool, SignsTheConvertedBytes) {
    TempDir dir;
    struct {
        std::string message;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"", {}},
        {"6", {}},                       // odd last character is dropped
        {"616", {0x61}},                 //
        {"616263", {'a', 'b', 'c'}},     //
        {"4A4b", {0x4a, 0x4b}},          // either case
        {"zz1g61", {0x00, 0x01, 0x61}},  // no hex digit: 0; one digit: its value
        {"00ff80", {0x00, 0xff, 0x80}},  //
    };
    for (const auto& c : cases) {
        Result r = run(dir, {c.message});
        EXPECT_EQ(r.status, 0) << c.message;
        EXPECT_EQ(r.err, "") << c.message;
        expect_signature(r.out, c.bytes);
    }
    Result upper = run(dir, {"4A4B"}), lower = run(dir, {"4a4b"});
    expect_signature(upper.out, {0x4a, 0x4b});
    expect_signature(lower.out, {0x4a, 0x4b});
}

TEST(Tool, LogAppendsOneRecordPerRun) {
    TempDir dir;
    fs::path log = dir / "sign.log";
    std::ofstream(log) << "earlier line\n";
    Result a = run(dir, {"616263", log.string()});
    Result b = run(dir, {"6162638", log.string(), "ignored"});
    ASSERT_EQ(a.status, 0);
    ASSERT_EQ(b.status, 0);
    expect_signature(a.out, {'a', 'b', 'c'});
    expect_signature(b.out, {'a', 'b', 'c'});
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
    expect_signature(c.out, {'a', 'b', 'c'});
}

// Concurrent runs on one log: each record (three lines, a long salt line
// among them) arrives whole, never interleaved with another run's.
TEST(Tool, ConcurrentRunsKeepRecordsWhole) {
    constexpr int RUNS = 8;
    TempDir dir;
    fs::path log = dir / "log";
    std::vector<std::string> messages;
    std::vector<Child> started;
    for (int i = 0; i < RUNS; ++i) {
        messages.push_back(std::string(60000, static_cast<char>('a' + i)));
        started.push_back(test::spawn(dir, {KLARVEX_TOOL_PATH, messages.back(), log.string()},
                                      {Out::File, std::to_string(i)}));
    }
    std::vector<std::string> want;
    for (int i = 0; i < RUNS; ++i) {
        Result r = test::finish(started[i]);
        ASSERT_EQ(r.status, 0);
        want.push_back("salt: `" + messages[i] + "'\nlengths: ascii hex: 60000 bin: 30000\n" +
                       "signed salt: " + r.out);
    }
    std::vector<std::string> got = lines(slurp(log));
    ASSERT_EQ(got.size(), 3u * RUNS);
    for (int i = 0; i < RUNS; ++i) {
        std::string record = got[3 * i] + "\n" + got[3 * i + 1] + "\n" + got[3 * i + 2] + "\n";
        int j = got[3 * i].size() > 7 ? got[3 * i][7] - 'a' : -1;
        ASSERT_TRUE(j >= 0 && j < RUNS) << "record " << i;
        EXPECT_EQ(record, want[j]) << "record " << i;
    }
}

TEST(Tool, LongestMessageIsSignedWhole) {
    TempDir dir;
    std::vector<std::uint8_t> msg(65535);
    std::string hex;
    for (std::size_t i = 0; i < msg.size(); ++i) {
        msg[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
        char buf[3];
        std::snprintf(buf, sizeof buf, "%02X", msg[i]);
        hex += buf;
    }
    ASSERT_EQ(hex.size(), 131070u);
    Result r = run(dir, {hex, (dir / "log").string()});
    EXPECT_EQ(r.status, 0);
    expect_signature(r.out, msg);
    EXPECT_EQ(lines(slurp(dir / "log")).at(1), "lengths: ascii hex: 131070 bin: 65535");
}

TEST(Tool, SameSecondSameSignature) {
    TempDir dir;
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::time_t before = std::time(nullptr);
        Result a = run(dir, {"cafe"});
        Result b = run(dir, {"cafe"});
        if (std::time(nullptr) != before) continue;  // crossed a second: the seeds may differ
        EXPECT_EQ(a.out, b.out);
        expect_signature(a.out, {0xca, 0xfe});
        return;
    }
    FAIL() << "every attempt crossed a second boundary";
}

TEST(Tool, UnwritableSignatureIsAnError) {
    TempDir dir;
    fs::path log = dir / "log";
    Result full = run(dir, {"616263", log.string()}, Out::DevFull);
    EXPECT_EQ(full.status, 3);
    EXPECT_EQ(full.err, NO_OUTPUT);
    EXPECT_EQ(slurp(log), "salt: `616263'\nlengths: ascii hex: 6 bin: 3\n" + NO_OUTPUT);

    Result pipe = run(dir, {"616263"}, Out::ClosedPipe);
    EXPECT_EQ(pipe.status, 3);
    EXPECT_EQ(pipe.err, NO_OUTPUT);
}

TEST(Tool, SaltLineEscapesControlCharacters) {
    TempDir dir;
    fs::path log = dir / "log";
    const std::string message = "61\nsigned salt: 00\r\t\\x41\x7f\x1b \xc3\xa9'`";
    Result r = run(dir, {message, log.string()});
    ASSERT_EQ(r.status, 0);
    std::vector<std::string> got = lines(slurp(log));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], "salt: `61\\x0asigned salt: 00\\x0d\\x09\\x5cx41\\x7f\\x1b \xc3\xa9'`'");
    EXPECT_EQ(got[1], "lengths: ascii hex: " + std::to_string(message.size()) +
                          " bin: " + std::to_string(message.size() / 2));
    EXPECT_EQ(got[2], "signed salt: " + r.out.substr(0, 64));
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

}  // namespace
}  // namespace klarvex

#if !KLARVEX_HAVE_OPENSSL
KLARVEX_OPENSSL_SKIPPED(ToolOpenSsl)
#endif

// The klarvex tools under hostile input and load: odd MESSAGEs, logs that
// cannot be written, standard output that cannot be written, 200 runs
// appending to one log at once, and all of it under valgrind memcheck. The
// built binaries run in child processes; each signature is checked with
// ecdsa_verify under the built-in public key.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "builtin_key.h"
#include "support/process.h"
#include "support/signature.h"

namespace klarvex {
namespace {

using test::Child;
using test::lines;
using test::Options;
using test::Out;
using test::Result;
using test::signs;
using test::slurp;
using test::TempDir;
namespace fs = std::filesystem;

const std::string NO_OUTPUT = "=> cannot write signature\n";

Result run(const TempDir& dir, const std::vector<std::string>& args, const Options& opt = {}) {
    return test::run(dir, KLARVEX_TOOL_PATH, args, opt);
}

std::string lengths_line(std::size_t hex_len) {
    return "lengths: ascii hex: " + std::to_string(hex_len) +
           " bin: " + std::to_string(hex_len / 2);
}

// Each MESSAGE is signed as the bytes its pairs give under "%2hhx", each rule
// of the README's account of it in a row (leading white space skipped, a sign
// or "0x" taken as part of the number, a pair that does not start a number
// giving 0); the salt line shows it exactly, control characters and the
// backslash as \xNN.
TEST(Hostile, MessagesSignTheirDefinedBytes) {
    TempDir dir;
    struct {
        std::string message, salt;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"", "", {}},
        {"7", "7", {}},                            // one character: no byte
        {"abc", "abc", {0xab}},                    // odd: the last is dropped
        {"4A4b", "4A4b", {0x4a, 0x4b}},            // either case
        {"00ff80", "00ff80", {0x00, 0xff, 0x80}},  //
        {"zzx1---g", "zzx1---g", {0, 0, 0, 0}},    // no hex digit where a number begins
        {"zz1g61", "zz1g61", {0, 1, 0x61}},        // one digit: its value
        {" 61", " 61", {0x61}},                    // blank skipped
        {"  6162", "  6162", {0x61, 0x61, 0x62}},  //
        {"ab cd", "ab cd", {0xab, 0xcd}},          // read on past the pair
        {" \t\n\v\f\rab", " \\x09\\x0a\\x0b\\x0c\\x0dab", {0xab, 0xab, 0xab, 0xab}},
        {"\t41\n", "\\x0941\\x0a", {0x41, 0x01}},                                //
        {"0x41", "0x41", {0x00, 0x41}},                                          // "0x" alone is 0
        {"0X4142", "0X4142", {0x00, 0x41, 0x42}},                                //
        {"-1+f-f", "-1+f-f", {0xff, 0x0f, 0xf1}},                                // signs
        {"\x80\xff\x36\x31\xc3\xa9", "\x80\xff\x36\x31\xc3\xa9", {0, 0x61, 0}},  // above 0x7f
    };
    for (const auto& c : cases) {
        fs::path log = dir / "log";
        fs::remove(log);
        Result r = run(dir, {c.message, log.string()});
        EXPECT_EQ(r.status, 0) << c.salt;
        EXPECT_EQ(r.err, "") << c.salt;
        EXPECT_TRUE(signs(r.out, c.bytes)) << c.salt;
        std::vector<std::string> want = {"salt: `" + c.salt + "'", lengths_line(c.message.size()),
                                         "signed salt: " + r.out.substr(0, 64)};
        EXPECT_EQ(lines(slurp(log)), want) << c.salt;
    }
}

// A MESSAGE that tries to forge a line of the record, then every byte but
// NUL: the salt line stays one line, with each control character, DEL and
// the backslash escaped and every other byte as passed.
TEST(Hostile, SaltLineEscapesEveryControlByte) {
    TempDir dir;
    std::string message = "61\nsigned salt: 00", salt = "61\\x0asigned salt: 00";
    for (int b = 1; b < 256; ++b) {
        const auto c = static_cast<std::uint8_t>(b);
        message.push_back(static_cast<char>(c));
        if (b < 0x20 || b == 0x7f || b == '\\')
            salt += "\\x" + test::hex(&c, 1);
        else
            salt.push_back(static_cast<char>(c));
    }
    fs::path log = dir / "log";
    Result r = run(dir, {message, log.string()});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(lines(slurp(log)),
              (std::vector<std::string>{"salt: `" + salt + "'", lengths_line(message.size()),
                                        "signed salt: " + r.out.substr(0, 64)}));
}

// 131,071 characters, the longest argument Linux passes, in upper case:
// 65,535 bytes signed whole, the odd last character dropped.
TEST(Hostile, LongestArgumentIsSignedWhole) {
    TempDir dir;
    std::vector<std::uint8_t> msg(65535);
    for (std::size_t i = 0; i < msg.size(); ++i)
        msg[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
    const std::string hex = test::upper(test::hex(msg.data(), msg.size())) + 'F';
    ASSERT_EQ(hex.size(), 131071u);
    fs::path log = dir / "log";
    Result r = run(dir, {hex, log.string()});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(signs(r.out, msg));
    EXPECT_EQ(lines(slurp(log)),
              (std::vector<std::string>{"salt: `" + hex + "'", lengths_line(hex.size()),
                                        "signed salt: " + r.out.substr(0, 64)}));
}

// A log that cannot be opened is skipped without a word: the signature is
// printed and the status is 0. (A log that cannot be written: fault_test.)
TEST(Hostile, UnusableLogIsSkipped) {
    TempDir dir;
    fs::create_directory(dir / "logdir");
    fs::path fifo = dir / "fifo.log";  // no reader: opening it must not block the run
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::path readonly = dir / "readonly.log";
    std::ofstream(readonly) << "kept\n";
    fs::permissions(readonly,
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const std::vector<std::uint8_t> abc = {'a', 'b', 'c'};

    for (std::string log :
         {(dir / "logdir").string(), (dir / "missing/dir/log").string(), fifo.string()}) {
        Result r = run(dir, {"616263", log});
        EXPECT_EQ(r.status, 0) << log;
        EXPECT_EQ(r.err, "") << log;
        EXPECT_TRUE(signs(r.out, abc)) << log;
    }
    EXPECT_TRUE(fs::is_empty(dir / "logdir"));
    EXPECT_FALSE(fs::exists(dir / "missing"));

    Options opt;
    opt.no_dac_override = true;
    Result r = run(dir, {"616263", readonly.string()}, opt);
    if (r.status == 126) GTEST_SKIP() << "cannot drop CAP_DAC_OVERRIDE to make a file unwritable";
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(signs(r.out, abc));
    EXPECT_EQ(slurp(readonly), "kept\n");
}

// Standard output full, closed or a pipe without a reader: status 3, the
// reason on stderr and as the log's third line. A closed stdout must not make
// the log descriptor 1, and without a log it must not go unnoticed either.
TEST(Hostile, UnwritableStdoutIsReported) {
    TempDir dir;
    const std::string record = "salt: `616263'\n" + lengths_line(6) + "\n" + NO_OUTPUT;
    const struct {
        Out out;
        bool log;
    } cases[] = {
        {Out::DevFull, true}, {Out::Closed, true}, {Out::ClosedPipe, true}, {Out::Closed, false}};
    for (const auto& c : cases) {
        fs::path log = dir / "log";
        fs::remove(log);
        std::vector<std::string> args = {"616263"};
        if (c.log) args.push_back(log.string());
        SCOPED_TRACE("stdout case " + std::to_string(static_cast<int>(c.out)));
        Result r = run(dir, args, Options(c.out));
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err, NO_OUTPUT);
        if (c.log) {
            EXPECT_EQ(slurp(log), record);
        }
    }
}

// 200 runs released at the same moment, each with its own MESSAGE of a few
// hundred to a few thousand characters (and every 25th of 60,000, a record of
// many pages), append to one log: 600 lines, each run's three adjacent,
// whole, and matching its standard output.
TEST(Hostile, TwoHundredConcurrentRunsShareOneLog) {
    constexpr int RUNS = 200;
    TempDir dir;
    fs::path log = dir / "log";
    int gate[2];
    ASSERT_EQ(pipe2(gate, O_CLOEXEC), 0);
    std::vector<std::string> messages;
    std::vector<Child> children;
    for (int i = 0; i < RUNS; ++i) {
        char head[9];
        std::snprintf(head, sizeof head, "%08x", i);
        const std::size_t len = i % 25 ? 2 * (100 + i * 37 % 1500) : 60000;
        messages.push_back(head + std::string(len, "0123456789abcdef"[i % 16]));
        Options opt;
        opt.gate = gate[0];
        opt.gate_writer = gate[1];
        opt.tag = std::to_string(i);
        children.push_back(
            test::spawn(dir, {KLARVEX_TOOL_PATH, messages.back(), log.string()}, opt));
    }
    close(gate[0]);
    close(gate[1]);  // all children exec now

    std::map<std::string, std::string> signature;  // salt line -> stdout
    for (int i = 0; i < RUNS; ++i) {
        Result r = test::finish(children[i]);
        ASSERT_EQ(r.status, 0) << "run " << i << ": " << r.err;
        ASSERT_EQ(r.out.size(), 65u) << "run " << i;
        signature["salt: `" + messages[i] + "'"] = r.out.substr(0, 64);
    }
    std::vector<std::string> got = lines(slurp(log));
    ASSERT_EQ(got.size(), 3u * RUNS);
    for (std::size_t j = 0; j < got.size(); j += 3) {
        auto it = signature.find(got[j]);
        ASSERT_NE(it, signature.end()) << "line " << j << " is no salt line of a run";
        const std::size_t hex_len = it->first.size() - 8;
        EXPECT_EQ(got[j + 1], lengths_line(hex_len)) << "line " << j + 1;
        EXPECT_EQ(got[j + 2], "signed salt: " + it->second) << "line " << j + 2;
        signature.erase(it);  // each run once
    }
    EXPECT_TRUE(signature.empty());
}

// The number after label in valgrind's report ("1,024" is 1024), 0 if absent.
long valgrind_figure(const std::string& report, const std::string& label) {
    std::size_t at = report.find(label);
    if (at == std::string::npos) return 0;
    long n = 0;
    for (at += label.size(); at < report.size() && (std::isdigit(report[at]) || report[at] == ',');
         ++at)
        if (report[at] != ',') n = n * 10 + (report[at] - '0');
    return n;
}

// Every hostile input above, and klarvex-verify on good and bad signatures and
// keys (hex, compressed, PEM), under valgrind memcheck: no errors and no leaks.
TEST(Memcheck, ToolsRunCleanUnderValgrind) {
    if (KLARVEX_SANITIZED)
        GTEST_SKIP() << "sanitizer build: valgrind does not run ASan binaries; memcheck runs in "
                        "the release and ci-gcc builds";
    const std::string valgrind = KLARVEX_VALGRIND;
    if (valgrind.empty())
        GTEST_SKIP() << "valgrind was not found when the build was configured: memcheck skipped "
                        "(install valgrind)";
    TempDir dir;
    fs::create_directory(dir / "logdir");
    std::ofstream(dir / "readonly.log") << "kept\n";
    fs::permissions(dir / "readonly.log", fs::perms::owner_read);
    const std::string tool = KLARVEX_TOOL_PATH, log = (dir / "log").string();
    const std::string longest(131071, 'a'), control = "61\nsigned salt: 00\r\t\\x41\x7f\x1b";
    const std::string high = "\x80\xff\x36\x31\xc3\xa9";  // 80 ff '6' '1' c3 a9

    struct Invocation {
        std::vector<std::string> args;
        int status;  // -1: any
        Out out = Out::File;
        bool no_dac_override = false;
    };
    // Each MESSAGE case is paired with a log or stdout case; the longest
    // comes first, as it takes the longest.
    std::vector<Invocation> set = {
        {{tool, longest, log}, 0},
        {{tool}, 1},
        {{tool, "", (dir / "logdir").string()}, 0},
        {{tool, "6", (dir / "readonly.log").string()}, 0, Out::File, true},
        {{tool, "616", (dir / "missing/log").string()}, 0},
        {{tool, "zzzz", "/dev/full"}, 0},
        {{tool, " 61", log}, 0},
        {{tool, "0x41", log}, 0},
        {{tool, high, log}, 0},
        {{tool, control, log}, 0},
        {{tool, "61", log}, 3, Out::Closed},
        {{tool, "61", log}, 3, Out::DevFull},
        {{tool, "61", log}, 3, Out::ClosedPipe},
    };
    const std::size_t klarvex_runs = set.size();
    const std::string verify = KLARVEX_VERIFY_PATH;
    const std::string sig = run(dir, {"616263"}).out.substr(0, 64);
    const std::string pub = test::hex(keyx, sizeof keyx) + test::hex(keyy, sizeof keyy);
    const std::string off_curve = pub.substr(0, 63) + (pub[63] == '0' ? "1" : "0");
    const std::string compressed = (keyy[15] & 1 ? "03" : "02") + pub.substr(0, 32);
    const std::string pem = (dir / "key.pub").string();
    std::ofstream(pem) << test::run(dir, verify.c_str(), {"--public-key", "--pem"}).out;
    set.insert(set.end(), {
                              {{verify}, 2},
                              {{verify, "616263", sig}, 0},
                              {{verify, "616263", sig, pub}, 0},
                              {{verify, "616264", sig}, 1},
                              {{verify, "616263", std::string(64, '0')}, 1},
                              {{verify, "616263", "xyz"}, 2},
                              {{verify, "616263", sig, std::string(64, '0')}, 2},
                              {{verify, "616263", sig, off_curve}, 2},
                              {{verify, "616263", sig, compressed}, 0},
                              {{verify, "616263", sig, pem}, 0},
                              {{verify, "--public-key", "--pem"}, 0},
                              {{verify, "616263", sig}, -1, Out::Closed},
                          });

    // Three at a time. valgrind reports on descriptor 9: a log file it opened
    // itself could take the place of a closed stdout.
    long errors = 0, lost = 0;
    std::map<pid_t, std::size_t> running;
    std::size_t next = 0;
    while (next < set.size() || !running.empty()) {
        if (next < set.size() && running.size() < 3) {
            const std::size_t i = next++;
            std::vector<std::string> args = {valgrind, "--error-exitcode=99", "--leak-check=full",
                                             "--errors-for-leak-kinds=definite,indirect",
                                             "--log-fd=9"};
            args.insert(args.end(), set[i].args.begin(), set[i].args.end());
            Options opt;
            opt.out = set[i].out;
            opt.no_dac_override = set[i].no_dac_override;
            opt.tag = std::to_string(i);
            opt.fd9 = (dir / ("valgrind" + opt.tag)).string();
            running.emplace(test::spawn(dir, args, opt).pid, i);
            continue;
        }
        int wstatus = 0;
        const pid_t pid = waitpid(-1, &wstatus, 0);
        auto it = running.find(pid);
        ASSERT_NE(it, running.end()) << "waitpid: " << pid;
        const std::size_t i = it->second;
        running.erase(it);
        const int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
        const std::string report = slurp(dir / ("valgrind" + std::to_string(i)));
        const std::string what = "invocation " + std::to_string(i) + " (" +
                                 fs::path(set[i].args[0]).filename().string() + ", " +
                                 std::to_string(set[i].args.size() - 1) + " arguments)";
        EXPECT_NE(status, 99) << what << ":\n" << report;
        if (set[i].status >= 0) {
            EXPECT_EQ(status, set[i].status)
                << what << ": " << slurp(dir / ("stderr" + std::to_string(i)));
        }
        EXPECT_NE(report.find("ERROR SUMMARY: 0 errors"), std::string::npos) << what << ":\n"
                                                                             << report;
        errors += valgrind_figure(report, "ERROR SUMMARY: ");
        lost += valgrind_figure(report, "definitely lost: ") +
                valgrind_figure(report, "indirectly lost: ");
    }
    std::printf(
        "[ memcheck ] %zu invocations (%zu klarvex, %zu klarvex-verify): %ld errors, %ld "
        "bytes definitely or indirectly lost\n",
        set.size(), klarvex_runs, set.size() - klarvex_runs, errors, lost);
    ::testing::Test::RecordProperty("memcheck_invocations", static_cast<int>(set.size()));
    EXPECT_EQ(lost, 0);
}

}  // namespace
}  // namespace klarvex

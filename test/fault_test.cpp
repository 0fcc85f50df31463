// The tools under injected faults: file size limits, full file systems, FIFOs
// with stalled readers, termination signals, a machine without /dev/null and,
// through an LD_PRELOAD shim (not in sanitizer builds), failing fsync, kill -9,
// file systems without O_TMPFILE and exhausted memory. No log record is glued
// onto another or cut by a signal, no key file is partial, nothing blocks, and
// every tool ends with its documented status.

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "keyfile.h"
#include "support/process.h"
#include "support/signature.h"

namespace klarvex {
namespace {

using test::Options;
using test::Out;
using test::Result;
using test::slurp;
using test::TempDir;
namespace fs = std::filesystem;

const std::string K = KLARVEX_TOOL_PATH, V = KLARVEX_VERIFY_PATH, G = KLARVEX_KEYGEN_PATH;
const std::string SIGNED = "signed salt: ", NO_OUTPUT = "=> cannot write signature\n";
const std::string NO_SPACE = "=> cannot write log record: No space left on device\n";
const std::string NO_MEMORY = "=> cannot allocate memory for binary message\n";
constexpr rlim_t NO_LIMIT = RLIM_INFINITY;

// The log record of a run on message that ends with last.
std::string record(const std::string& message, const std::string& last) {
    return "salt: `" + message + "'\nlengths: ascii hex: " + std::to_string(message.size()) +
           " bin: " + std::to_string(message.size() / 2) + "\n" + last;
}

// A child under the file size limit fsize, with the shim's faults env.
Options faults(rlim_t fsize, std::vector<std::string> env = {}) {
    Options opt;
    if (!env.empty()) env.push_back("LD_PRELOAD=" KLARVEX_FAULT_SHIM);
    opt.env = env;
    const rlimit limit{fsize, fsize};
    opt.setup = [limit] { return setrlimit(RLIMIT_FSIZE, &limit) == 0; };
    return opt;
}

// A mount namespace of this process's own, private: children share it, and
// nothing outside sees what is mounted in it. Needs root.
bool own_mounts() {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// dir/full: a file system of one page (tmpfs), full. Where the machine does
// not allow it, usable() is false.
class FullFileSystem {
  public:
    explicit FullFileSystem(const TempDir& dir) : at_(dir / "full") {
        fs::create_directory(at_);
        mounted_ = own_mounts() && mount("tmpfs", at_.c_str(), "tmpfs", 0, "size=4k") == 0;
        for (std::ofstream filler(at_ / "filler"); mounted_ && filler << std::string(512, 'f');) {
        }
    }
    ~FullFileSystem() { umount2(at_.c_str(), MNT_DETACH); }
    bool usable() const { return mounted_; }
    fs::path operator/(const std::string& name) const { return at_ / name; }

  private:
    fs::path at_;
    bool mounted_;
};

// Whether a case that needs the shim or mounts can run here; if not, says so.
bool can_run(const std::string& what, bool shim, bool mounts, const FullFileSystem& full) {
    const char* why = shim && KLARVEX_SANITIZED  ? "the LD_PRELOAD shim cannot run beside ASan"
                      : mounts && !full.usable() ? "no mount namespace of our own (needs root)"
                                                 : nullptr;
    if (why) std::printf("[ skipped  ] %s: %s\n", what.c_str(), why);
    return !why;
}

std::size_t entries(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {}));
}

// Each fault of the log or of standard output: reported, with the status of
// the run (3 only when the signature itself was lost). A record cut short is
// followed by the next one on a line of its own.
TEST(Faults, LogAndOutputFailuresKeepTheirStatus) {
    TempDir dir;
    FullFileSystem full(dir);
    const std::string abc = "616263", big(2 * 777, 'a'), log = (dir / "log").string();
    const std::string sig = test::run(dir, K.c_str(), {abc}).out.substr(0, 64);
    const std::string lines = std::string(999, 'x') + "\n";
    const std::string torn = lines + record(abc, SIGNED).substr(0, 24);
    const std::string cut = "=> cannot write log record: only 24 of " +
                            std::to_string(record(abc, SIGNED).size() + 65) + " bytes written\n";
    Options no_dev(Out::Closed);  // standard output closed, and no /dev/null to hold it
    no_dev.setup = [] { return own_mounts() && mount("tmpfs", "/dev", "tmpfs", 0, "") == 0; };
    const std::string full_log = (full / "log").string(), closed = "?";
    const struct {
        const char* what;
        std::vector<std::string> args;  // tool and arguments
        Options opt;
        int status;
        std::string before, err, after;  // the log before and after (then stdout if signed)
    } cases[] = {
        {"cut at the file size limit", {K, abc, log}, faults(1024), 0, lines, cut, torn},
        {"after a torn record", {K, abc, log}, {}, 0, torn, "", torn + "\n" + record(abc, SIGNED)},
        {"file size limit 0", {K, abc, log}, faults(0), 3, "", closed, ""},
        {"verify, file size limit 0", {V, abc, sig}, faults(0), 3, "", closed, ""},
        {"log on /dev/full", {K, abc, "/dev/full"}, {}, 0, "", NO_SPACE, ""},
        {"log on a full file system", {K, abc, full_log}, {}, 0, "", NO_SPACE, ""},
        {"no /dev/null", {K, abc, log}, no_dev, 3, "", NO_OUTPUT, record(abc, NO_OUTPUT)},
        {"no memory for the record",
         {K, big, log},
         faults(NO_LIMIT, {"FAULT_MALLOC=1000-4000"}),
         0,
         "",
         "",
         record(big, SIGNED)},
        {"no memory for the message",
         {K, big, log},
         faults(NO_LIMIT, {"FAULT_MALLOC=777-777"}),
         2,
         "",
         NO_MEMORY,
         record(big, NO_MEMORY)},
    };
    for (const auto& c : cases) {
        if (!can_run(c.what, !c.opt.env.empty(),
                     c.args.back() == full_log || c.opt.out != Out::File, full))
            continue;
        SCOPED_TRACE(c.what);
        std::ofstream(log, std::ios::trunc) << c.before;
        const Result r =
            test::run(dir, c.args[0].c_str(), {c.args.begin() + 1, c.args.end()}, c.opt);
        EXPECT_EQ(r.status, c.status);
        if (c.err != closed) {  // standard error is past a file size limit of 0 too
            EXPECT_EQ(r.err, c.err);
        }
        EXPECT_EQ(slurp(log), c.after + (c.after.ends_with(SIGNED) ? r.out : ""));
    }
}

// A FIFO log: a record the pipe holds arrives whole; one that a stalled
// reader does not take fails after a second, and the run signs as usual.
TEST(Faults, FifoLogNeverHangsTheRun) {
    TempDir dir;
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    Result r = test::run(dir, K.c_str(), {"616263", fifo});
    char got[256] = {};
    EXPECT_GT(read(reader, got, sizeof got - 1), 0);
    EXPECT_EQ(got, record("616263", SIGNED + r.out));

    // A hang would end in SIGALRM (status 142); the bounded wait ends with
    // the message below instead. No wall-clock limit: loaded and sanitizer
    // builds sign slowly.
    test::Options guard;
    guard.setup = [] {
        alarm(120);
        return true;
    };
    r = test::run(dir, K.c_str(), {std::string(131070, 'b'), fifo}, guard);
    close(reader);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.size(), 65u);
    EXPECT_EQ(r.err, "=> cannot write log record: the reader took no more of it within 1 s\n");
}

// 400 runs (100 in the slower sanitizer builds) sign 65,535 bytes onto one
// log, each sent SIGTERM at a moment spread from its start to past its end
// (0 to 1.25 times an undisturbed run): the log holds whole records only,
// and each run printed its whole signature or nothing.
TEST(Faults, TerminationNeverCutsARecord) {
    constexpr int RUNS = KLARVEX_SANITIZED ? 100 : 400;
    TempDir dir;
    const std::string message(131070, 'c'), log = (dir / "log").string();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(test::run(dir, K.c_str(), {message, log}).status, 0);
    const auto run_time = std::chrono::steady_clock::now() - start;
    int terminated = 0;
    for (int i = 0; i < RUNS; ++i) {
        const test::Child child = test::spawn(dir, {K, message, log});
        std::this_thread::sleep_for(run_time * (i % 21) / 16);
        kill(child.pid, SIGTERM);
        const Result r = test::finish(child);
        terminated += r.status == 128 + SIGTERM;
        EXPECT_TRUE(r.status == 0 || r.status == 128 + SIGTERM) << r.status;
        EXPECT_TRUE(r.out.empty() || r.out.size() == 65u) << r.out.size();
    }
    // Whole records, and each line between them a broken one.
    const auto got = test::lines(slurp(log)), head = test::lines(record(message, ""));
    std::size_t records = 0, broken = 0;
    for (std::size_t j = 0; j < got.size();) {
        const bool whole = j + 2 < got.size() && got[j] == head[0] && got[j + 1] == head[1] &&
                           got[j + 2].size() == 13 + 64 && got[j + 2].starts_with(SIGNED);
        j += whole ? 3 : 1;
        (whole ? records : broken) += 1;
    }
    std::printf(
        "[ signals  ] %d runs (%lld us undisturbed), %d ended by SIGTERM, %zu records, "
        "%zu broken\n",
        RUNS, static_cast<long long>(run_time / std::chrono::microseconds(1)), terminated,
        records - 1, broken);
    EXPECT_EQ(broken, 0u);
}

// Whatever stops klarvex-keygen, KEYFILE and KEYFILE.pub are both whole or
// both absent and no temporary file stays behind; the next run then succeeds. Each fault with an
// anonymous temporary file and, through the shim, with a named one.
TEST(Faults, KeygenLeavesAWholeKeyFileOrNone) {
    TempDir dir;
    FullFileSystem full(dir);
    const struct {
        const char* what;
        rlim_t fsize;
        std::vector<std::string> shim;
        int status;
        std::string reason;  // empty: standard error unchecked
    } cases[] = {
        {"file size limit mid-file", 140, {}, 1, "File too large"},
        {"file size limit 0", 0, {}, 1, ""},
        {"full file system", NO_LIMIT, {}, 1, "No space left on device"},
        {"fsync fails", NO_LIMIT, {"FAULT_FSYNC=eio"}, 1, "Input/output error"},
        {"kill -9 before fsync", NO_LIMIT, {"FAULT_FSYNC=kill"}, 128 + SIGKILL, ""},
        {"no fault", NO_LIMIT, {}, 0, ""},
    };
    int runs = 0;
    for (const auto& c : cases) {
        for (bool named : {false, true}) {
            std::vector<std::string> shim = c.shim;
            if (named) shim.push_back("FAULT_NO_TMPFILE=1");
            const std::string what = std::string(c.what) + (named ? ", named" : ", anonymous");
            const bool on_full = what.starts_with("full");
            if (!can_run(what, !shim.empty(), on_full, full)) continue;
            SCOPED_TRACE(what);
            const fs::path home = on_full ? full / "" : dir / std::to_string(runs++);
            const fs::path key = home / "k.key";
            fs::create_directories(home);
            const Result r = test::run(dir, G.c_str(), {key.string()}, faults(c.fsize, shim));
            EXPECT_EQ(r.status, c.status) << r.err;
            if (!c.reason.empty()) {
                EXPECT_EQ(r.err, "=> cannot create " + key.string() + ": " + c.reason + "\n");
            }
            EXPECT_EQ(fs::exists(key), c.status == 0);
            if (!(named && c.status > 128)) {  // a named temporary file outlives kill -9
                EXPECT_EQ(entries(home), c.status == 0 ? 2u : on_full ? 1u : 0u);
            }
            if (c.status != 0 && !on_full) {
                EXPECT_EQ(test::run(dir, G.c_str(), {key.string()}).status, 0);
            }
        }
    }
}

// klarvex-keycheck refuses what is no key file, without blocking or reading
// without end, and replaces a symlink at HEADER instead of writing through it.
TEST(Faults, KeycheckRefusesWhatIsNoKeyFile) {
    TempDir dir;
    const std::string header = (dir / "key.h").string(), fifo = (dir / "fifo").string();
    const std::string text = (dir / "text.key").string(), keys = (dir / "keys").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(keys);
    const std::string d = "d: 1c094787a936715074e5fc496e094ab5\n";
    const std::string good = d +
                             "Q.x: 8292d89e2e4d07186e4f37a44ad5c15b\n"
                             "Q.y: 475e0fc40e0e0e1982ac2aac62d290c4\n";
    const struct {
        std::string path, content, reason;
    } cases[] = {
        {keys, "", "is not a regular file"},
        {"/dev/zero", "", "is not a regular file"},
        {fifo, "", "is not a regular file"},
        {text, d.substr(0, 35) + '\0' + "junk\n" + good, "line 1: byte 0x00 is not printable"},
        {text, good + std::string(65537 - good.size(), '#'), "is larger than 65536 bytes"},
        {text, good, ""},  // whole; HEADER is a symlink, replaced
    };
    std::ofstream(dir / "victim") << "precious\n";
    for (const auto& c : cases) {
        if (!c.content.empty()) std::ofstream(c.path, std::ios::trunc) << c.content;
        if (c.reason.empty()) fs::create_symlink(dir / "victim", header);
        const Result r = test::run(dir, KLARVEX_KEYCHECK_PATH, {c.path, header});
        EXPECT_EQ(r.status, c.reason.empty() ? 0 : 1) << c.path;
        const std::string want =
            c.reason.empty() ? "" : "klarvex-keycheck: error: key file " + c.path + ": " + c.reason;
        EXPECT_EQ(r.err.substr(0, want.empty() ? r.err.size() : want.size()), want);
        EXPECT_EQ(fs::symlink_status(header).type(),
                  c.reason.empty() ? fs::file_type::regular : fs::file_type::not_found);
    }
    EXPECT_EQ(slurp(dir / "victim"), "precious\n");
    EXPECT_EQ(fs::status(header).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

// Files created together: all of them or, when one exists, none.
TEST(Faults, CreateFilesExclusivelyMakesAllOrNone) {
    TempDir dir;
    const std::string a = (dir / "a").string(), b = (dir / "b").string();
    std::ofstream(b) << "kept";
    const cli::NewFile files[] = {{a.c_str(), "A", 1, 0640}, {b.c_str(), "B", 1, 0600}};
    EXPECT_EQ(cli::create_files_exclusively(files, 2), files[1].path);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(entries(dir.path()), 1u);
    fs::remove(b);
    EXPECT_EQ(cli::create_files_exclusively(files, 2), nullptr);
    EXPECT_EQ(slurp(a) + slurp(b), "AB");
    EXPECT_EQ(fs::status(a).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

}  // namespace
}  // namespace klarvex

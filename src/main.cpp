// klarvex MESSAGE [LOGFILE]
//
// Signs the bytes of the hex text MESSAGE with the built-in secp128r2 key and
// prints r || s as 64 lowercase hex digits. LOGFILE, if given, is appended a
// record of the run: the salt line, the lengths line, and the signature or the
// reason there is none.
//
// Exit status: 0 signed, 1 usage or message too long, 2 no memory, 3 the
// signature could not be written.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "builtin_key.h"
#include "cli.h"
#include "ecc.h"
#include "ecdsa.h"
#include "nn.h"
#include "wipe.h"

namespace klarvex {

int klarvex_main(int argc, char* argv[]);

namespace {

constexpr int kExitSigned = 0;
constexpr int kExitUsage = 1;
constexpr int kExitNoMemory = 2;
constexpr int kExitNoOutput = 3;

// Reasons, which go to standard error and the log as "=> REASON\n".
constexpr char kNoMemory[] = "cannot allocate memory for binary message";
constexpr char kNoOutput[] = "cannot write signature";

// The fixed text of a log record.
constexpr char kSaltOpen[] = "salt: `";
constexpr char kSaltClose[] = "'\n";
constexpr char kLengths[] = "lengths: ascii hex: %zu bin: %zu\n";
constexpr char kSigned[] = "signed salt: ";

// Length of the line "=> REASON\n" for a reason of reason_size bytes, its
// terminator included.
constexpr std::size_t logged_reason(std::size_t reason_size) {
    return (sizeof cli::PREFIX - 1) + (reason_size - 1) + 1;
}

/*
 * Room for every line of a record but the salt line's escaped MESSAGE, and
 * for the newline that ends a torn record before it. The lengths line holds
 * two counts of at most the digits of SIZE_MAX in place of its two "%zu";
 * the last line is "signed salt: " and the signature line, or a reason.
 */
constexpr std::size_t kLengthsMax =
    sizeof kLengths - 1 - 2 * (sizeof "%zu" - 1) + 2 * cli::decimal_digits(SIZE_MAX);
constexpr std::size_t kLastLineMax =
    std::max({sizeof kSigned - 1 + cli::PAIR_LINE, logged_reason(sizeof kNoMemory),
              logged_reason(sizeof kNoOutput), logged_reason(cli::TOO_LONG.size())});
constexpr std::size_t kLogSlack =
    1 + sizeof kSaltOpen - 1 + sizeof kSaltClose - 1 + kLengthsMax + kLastLineMax;

// How long a run waits for a log that is not a regular file (a FIFO, a
// terminal) to take its record, or for the lock of a regular one.
constexpr int kLogWaitSeconds = 1;

// The pieces a record is written in when there is no memory for it whole.
constexpr std::size_t kLogPiece = 4096;

std::uint32_t private_key[NUM_DIGITS];
Point public_key;

/*
 * Many runs may append to one log at once. Each run writes its record when it
 * ends, in one write(2) on an O_APPEND descriptor, so records of concurrent
 * runs never interleave: in a regular file always, in a FIFO up to PIPE_BUF
 * bytes. A FIFO stays non-blocking: a reader that takes no more makes the
 * write fail after kLogWaitSeconds instead of holding the run. Only when
 * there is no memory for the record is it written in pieces.
 */
struct Log {
    int fd = -1;
    int read_fd = -1;  // the same regular file, readable, to find a torn record; or -1
    bool regular = false;
    char* buf = nullptr;  // room for the whole record, or nullptr
    std::size_t cap = 0;
    const char* message = nullptr;
    char lengths[kLengthsMax + 1] = {};
    bool failed = false;  // a write failed and was reported: no more are tried
    timespec deadline{};  // the end of the wait for a FIFO's reader or the log's lock
};

bool must_escape(unsigned char c) {
    return c < 0x20 || c == 0x7f || c == '\\';
}

// Opens the log and makes room for its record; without memory for it, the
// record is written in pieces.
void log_open(Log* log, const char* path) {
    // O_NONBLOCK: a FIFO with no reader fails to open (no log) instead of
    // blocking the run forever.
    log->fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    if (log->fd < 0) return;
    struct stat st, rst;
    log->regular = fstat(log->fd, &st) == 0 && S_ISREG(st.st_mode);
    if (log->regular) {
        fcntl(log->fd, F_SETFL, fcntl(log->fd, F_GETFL) & ~O_NONBLOCK);
        // Readable only if the mode lets us, and only if still the same file.
        log->read_fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (log->read_fd >= 0 && (fstat(log->read_fd, &rst) != 0 || rst.st_dev != st.st_dev ||
                                  rst.st_ino != st.st_ino)) {
            close(log->read_fd);
            log->read_fd = -1;
        }
    }
    std::size_t cap = kLogSlack;
    for (const char* c = log->message; *c; ++c)
        cap += must_escape(static_cast<unsigned char>(*c)) ? 4 : 1;
    log->buf = static_cast<char*>(std::malloc(cap));
    log->cap = log->buf ? cap : 0;
}

// Milliseconds left until log->deadline.
int log_wait_left(const Log* log) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int>((log->deadline.tv_sec - now.tv_sec) * 1000 +
                            (log->deadline.tv_nsec - now.tv_nsec) / 1000000);
}

/*
 * Whether the log ends in a torn record: its last byte is not a newline. A
 * record that another run is writing looks the same while under way, so runs
 * hold the log's lock (flock) from this check to the end of their write. A
 * run that cannot have the lock before the deadline (its holder stopped, or a
 * machine overloaded) does without the check. The lock also keeps the pieces
 * of a record written without a buffer together.
 */
bool log_torn(const Log* log) {
    if (!log->regular) return false;
    while (flock(log->fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK || log_wait_left(log) <= 0) return false;
        usleep(1000);
    }
    struct stat st;
    char last;
    return log->read_fd >= 0 && fstat(log->fd, &st) == 0 && st.st_size > 0 &&
           pread(log->read_fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
}

// Hands text[0..len) to the log: to a regular file in one write, to anything
// else as fast as it takes it until the deadline. false, with the reason on
// standard error, if that fails.
bool log_send(const Log* log, const char* text, std::size_t len) {
    constexpr char kFailed[] = "cannot write log record: ";
    while (len > 0) {
        ssize_t n = write(log->fd, text, len);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (log->regular || errno != EAGAIN)) {
            cli::fail(0, "%s%s", kFailed, std::strerror(errno));
            return false;
        }
        if (log->regular && static_cast<std::size_t>(n) < len) {
            cli::fail(0, "%sonly %zd of %zu bytes written", kFailed, n, len);
            return false;
        }
        if (n > 0) {
            text += n;
            len -= static_cast<std::size_t>(n);
            continue;
        }
        pollfd ready = {log->fd, POLLOUT, 0};
        const int left = log_wait_left(log);
        if (left <= 0 || poll(&ready, 1, left) == 0) {
            cli::fail(0, "%sthe reader took no more of it within %d s", kFailed, kLogWaitSeconds);
            return false;
        }
    }
    return true;
}

// Collects a record in buf[0..cap) and sends it to the log whenever buf is
// full and at the end: at once if buf holds the whole record.
struct Record {
    Log* log;
    char* buf;
    std::size_t cap;
    std::size_t len = 0;
};

void record_flush(Record* r) {
    if (!r->log->failed && r->len > 0) r->log->failed = !log_send(r->log, r->buf, r->len);
    r->len = 0;
}

void record_put(Record* r, const char* text, std::size_t len) {
    while (len > 0) {
        if (r->len == r->cap) record_flush(r);
        const std::size_t n = std::min(len, r->cap - r->len);
        std::memcpy(r->buf + r->len, text, n);
        r->len += n;
        text += n;
        len -= n;
    }
}

// The salt line echoes MESSAGE. A control character or backslash is written
// as \xNN, so that no MESSAGE can end the line and forge another one.
void record_salt(Record* r, const char* message) {
    record_put(r, kSaltOpen, sizeof kSaltOpen - 1);
    for (const char* c = message; *c;) {
        std::size_t plain = 0;
        while (c[plain] && !must_escape(static_cast<unsigned char>(c[plain])))
            ++plain;
        record_put(r, c, plain);
        c += plain;
        if (*c) {
            char esc[4] = {'\\', 'x'};
            cli::to_hex(esc + 2, reinterpret_cast<const std::uint8_t*>(c++), 1);
            record_put(r, esc, sizeof esc);
        }
    }
    record_put(r, kSaltClose, sizeof kSaltClose - 1);
}

/*
 * Writes the record, whose last line is last[0..len), and closes the log. A
 * record is never glued onto a torn one: if the log does not end in a newline
 * (a run before was cut short), the record starts with one. Failures are
 * reported on standard error and change no status.
 */
void log_close(Log* log, const char* last, std::size_t len) {
    if (log->fd < 0) return;
    char piece[kLogPiece];
    Record r{log, log->buf ? log->buf : piece, log->buf ? log->cap : sizeof piece};
    cli::SignalHold hold;
    clock_gettime(CLOCK_MONOTONIC, &log->deadline);
    log->deadline.tv_sec += kLogWaitSeconds;
    if (log_torn(log)) record_put(&r, "\n", 1);
    record_salt(&r, log->message);
    record_put(&r, log->lengths, std::strlen(log->lengths));
    record_put(&r, last, len);
    record_flush(&r);
    close(log->fd);
    if (log->read_fd >= 0) close(log->read_fd);
    std::free(log->buf);
    *log = Log{};
}

// Reports reason on standard error and ends the record with it.
int fail(Log* log, const char* reason, int status) {
    cli::SignalHold hold;
    cli::fail(status, "%s", reason);
    char last[kLastLineMax + 1];
    const int n = std::snprintf(last, sizeof last, "%s%s\n", cli::PREFIX, reason);
    log_close(log, last, static_cast<std::size_t>(n));
    return status;
}

// The signing run: decodes the built-in keys, initialises the curve and ECDSA
// modules (curve first) and signs msg[0..len) into r and s. The decoded
// private key is cleared once signed with.
void sign_message(const std::uint8_t* msg, std::uint16_t len, std::uint32_t* r, std::uint32_t* s) {
    NN_Decode(private_key, NUM_DIGITS, key, sizeof key);
    NN_Decode(public_key.x, NUM_DIGITS, keyx, sizeof keyx);
    NN_Decode(public_key.y, NUM_DIGITS, keyy, sizeof keyy);
    ecc_init();
    ecdsa_init(&public_key);
    ecdsa_sign(msg, len, r, s, private_key);
    wipe(private_key, sizeof private_key);
}

}  // namespace

int klarvex_main(int argc, char* argv[]) {
    std::srand(static_cast<unsigned>(static_cast<std::uint32_t>(std::time(nullptr))));
    cli::start();

    if (argc < 2) return cli::fail(kExitUsage, "usage: klarvex MESSAGE");
    Log log;
    const char* hex = log.message = argv[1];
    std::size_t hex_len = std::strlen(hex);
    std::size_t bin_len = hex_len >> 1;
    std::snprintf(log.lengths, sizeof log.lengths, kLengths, hex_len, bin_len);
    if (argc > 2) log_open(&log, argv[2]);
    if (bin_len > cli::MAX_MESSAGE) return fail(&log, cli::TOO_LONG.data(), kExitUsage);

    auto* msg = static_cast<std::uint8_t*>(std::malloc(bin_len ? bin_len : 1));
    if (!msg) return fail(&log, kNoMemory, kExitNoMemory);
    cli::message_from_hex(msg, hex, bin_len);

    std::uint32_t r[NUM_DIGITS];
    std::uint32_t s[NUM_DIGITS];
    sign_message(msg, static_cast<std::uint16_t>(bin_len), r, s);
    std::free(msg);

    std::uint8_t rs[2 * cli::SCALAR_BYTES];
    NN_Encode(rs, cli::SCALAR_BYTES, r, NUM_DIGITS);
    NN_Encode(rs + cli::SCALAR_BYTES, cli::SCALAR_BYTES, s, NUM_DIGITS);
    char last[sizeof kSigned - 1 + cli::PAIR_LINE];
    std::memcpy(last, kSigned, sizeof kSigned - 1);
    char* line = last + sizeof kSigned - 1;
    cli::pair_line(line, rs, rs + cli::SCALAR_BYTES);
    // The signature and the record are written whole, or not at all.
    cli::SignalHold hold;
    if (!cli::print(line, cli::PAIR_LINE)) return fail(&log, kNoOutput, kExitNoOutput);
    log_close(&log, last, sizeof last);
    return kExitSigned;
}

}  // namespace klarvex

#ifndef KLARVEX_TOOL_NO_MAIN
int main(int argc, char* argv[]) {
    return klarvex::klarvex_main(argc, argv);
}
#endif

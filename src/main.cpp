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
#include <unistd.h>

#include <algorithm>
#include <cassert>
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

constexpr int EXIT_SIGNED = 0;
constexpr int EXIT_USAGE = 1;
constexpr int EXIT_NO_MEMORY = 2;
constexpr int EXIT_NO_OUTPUT = 3;

// Reasons, which go to standard error and the log as "=> REASON\n".
constexpr char NO_MEMORY[] = "cannot allocate memory for binary message";
constexpr char NO_OUTPUT[] = "cannot write signature";

// The fixed text of a log record.
constexpr char SALT_OPEN[] = "salt: `";
constexpr char SALT_CLOSE[] = "'\n";
constexpr char LENGTHS[] = "lengths: ascii hex: %zu bin: %zu\n";
constexpr char SIGNED[] = "signed salt: ";

// Length of the line "=> REASON\n" for a reason of reason_size bytes, its
// terminator included.
constexpr std::size_t logged_reason(std::size_t reason_size) {
    return (sizeof cli::PREFIX - 1) + (reason_size - 1) + 1;
}

/*
 * Room for every line of a record but the salt line's escaped MESSAGE. The
 * lengths line holds two counts of at most the digits of SIZE_MAX in place of
 * its two "%zu"; the last line is "signed salt: " and the signature line, or
 * a reason.
 */
constexpr std::size_t LENGTHS_MAX =
    sizeof LENGTHS - 1 - 2 * (sizeof "%zu" - 1) + 2 * cli::decimal_digits(SIZE_MAX);
constexpr std::size_t LAST_LINE_MAX =
    std::max({sizeof SIGNED - 1 + cli::PAIR_LINE, logged_reason(sizeof NO_MEMORY),
              logged_reason(sizeof NO_OUTPUT), logged_reason(cli::TOO_LONG.size())});
constexpr std::size_t LOG_SLACK =
    sizeof SALT_OPEN - 1 + sizeof SALT_CLOSE - 1 + LENGTHS_MAX + LAST_LINE_MAX;

std::uint32_t private_key[NUM_DIGITS];
Point public_key;

/*
 * Many runs may append to one log at once. Each run collects its lines here
 * and hands them to the kernel in one write(2) on an O_APPEND descriptor when
 * it ends, so records of concurrent runs never interleave.
 */
struct Log {
    int fd = -1;
    char* buf = nullptr;
    std::size_t len = 0;
    std::size_t cap = 0;
};

bool must_escape(unsigned char c) {
    return c < 0x20 || c == 0x7f || c == '\\';
}

void log_put(Log* log, const char* text, std::size_t len) {
    if (log->fd < 0) return;
    assert(log->len + len <= log->cap);
    std::memcpy(log->buf + log->len, text, len);
    log->len += len;
}

void log_puts(Log* log, const char* text) {
    log_put(log, text, std::strlen(text));
}

// Opens the log and sizes its record for MESSAGE. false: no memory for the
// record (the log is closed again).
bool log_open(Log* log, const char* path, const char* message) {
    // O_NONBLOCK: a FIFO with no reader fails to open (no log) instead of
    // blocking the run forever. The record is then written blocking.
    log->fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (log->fd < 0) return true;
    int flags = fcntl(log->fd, F_GETFL);
    if (flags >= 0) fcntl(log->fd, F_SETFL, flags & ~O_NONBLOCK);
    std::size_t cap = LOG_SLACK;
    for (const char* c = message; *c; ++c)
        cap += must_escape(static_cast<unsigned char>(*c)) ? 4 : 1;
    log->buf = static_cast<char*>(std::malloc(cap));
    if (!log->buf) {
        close(log->fd);
        log->fd = -1;
        return false;
    }
    log->cap = cap;
    return true;
}

// The salt line echoes MESSAGE. A control character or backslash is written
// as \xNN, so that no MESSAGE can end the line and forge another one.
void log_salt(Log* log, const char* message) {
    if (log->fd < 0) return;
    log_puts(log, SALT_OPEN);
    for (const char* c = message; *c; ++c) {
        unsigned char b = static_cast<unsigned char>(*c);
        if (must_escape(b)) {
            char esc[4] = {'\\', 'x'};
            cli::to_hex(esc + 2, &b, 1);
            log_put(log, esc, sizeof esc);
        } else {
            log_put(log, c, 1);
        }
    }
    log_puts(log, SALT_CLOSE);
}

void log_close(Log* log) {
    if (log->fd < 0) return;
    ssize_t n;
    do {
        n = write(log->fd, log->buf, log->len);
    } while (n < 0 && errno == EINTR);
    close(log->fd);
    std::free(log->buf);
    *log = Log{};
}

// Reports reason on standard error and ends the record with it.
int fail(Log* log, const char* reason, int status) {
    cli::fail(status, "%s", reason);
    log_puts(log, cli::PREFIX);
    log_puts(log, reason);
    log_puts(log, "\n");
    log_close(log);
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

    if (argc < 2) return cli::fail(EXIT_USAGE, "usage: klarvex MESSAGE");
    const char* hex = argv[1];
    Log log;
    if (argc > 2 && !log_open(&log, argv[2], hex)) return fail(&log, NO_MEMORY, EXIT_NO_MEMORY);
    log_salt(&log, hex);

    std::size_t hex_len = std::strlen(hex);
    std::size_t bin_len = hex_len >> 1;
    char lengths[LENGTHS_MAX + 1];
    std::snprintf(lengths, sizeof lengths, LENGTHS, hex_len, bin_len);
    log_puts(&log, lengths);
    if (bin_len > cli::MAX_MESSAGE) return fail(&log, cli::TOO_LONG.data(), EXIT_USAGE);

    auto* msg = static_cast<std::uint8_t*>(std::malloc(bin_len ? bin_len : 1));
    if (!msg) return fail(&log, NO_MEMORY, EXIT_NO_MEMORY);
    cli::message_from_hex(msg, hex, bin_len);

    std::uint32_t r[NUM_DIGITS];
    std::uint32_t s[NUM_DIGITS];
    sign_message(msg, static_cast<std::uint16_t>(bin_len), r, s);
    std::free(msg);

    std::uint8_t rs[2 * cli::SCALAR_BYTES];
    NN_Encode(rs, cli::SCALAR_BYTES, r, NUM_DIGITS);
    NN_Encode(rs + cli::SCALAR_BYTES, cli::SCALAR_BYTES, s, NUM_DIGITS);
    char line[cli::PAIR_LINE];
    cli::pair_line(line, rs, rs + cli::SCALAR_BYTES);
    if (!cli::print(line, sizeof line)) return fail(&log, NO_OUTPUT, EXIT_NO_OUTPUT);

    log_puts(&log, SIGNED);
    log_put(&log, line, sizeof line);
    log_close(&log);
    return EXIT_SIGNED;
}

}  // namespace klarvex

#ifndef KLARVEX_TOOL_NO_MAIN
int main(int argc, char* argv[]) {
    return klarvex::klarvex_main(argc, argv);
}
#endif

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

#include <cassert>
#include <cerrno>
#include <csignal>
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

namespace klarvex {

int klarvex_main(int argc, char* argv[]);

namespace {

constexpr int EXIT_SIGNED = 0;
constexpr int EXIT_USAGE = 1;
constexpr int EXIT_NO_MEMORY = 2;
constexpr int EXIT_NO_OUTPUT = 3;

// The signing interface counts message bytes in 16 bits.
constexpr std::size_t MAX_MESSAGE = 65535;

constexpr char USAGE[] = "=> usage: klarvex MESSAGE\n";
constexpr char NO_MEMORY[] = "=> cannot allocate memory for binary message\n";
constexpr char TOO_LONG[] = "=> message too long: at most 65535 bytes\n";
constexpr char NO_OUTPUT[] = "=> cannot write signature\n";
constexpr char SIGNED[] = "signed salt: ";

// Room for every line of a record but the salt line.
constexpr std::size_t LOG_SLACK = 160;

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
    log_puts(log, "salt: `");
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
    log_puts(log, "'\n");
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

int fail(Log* log, const char* reason, int status) {
    std::fputs(reason, stderr);
    log_puts(log, reason);
    log_close(log);
    return status;
}

/*
 * A standard descriptor that the caller closed would be the next one open()
 * hands out, and the log would become standard output: the signature would go
 * into it as a stray line and the run would report success. Hold each closed
 * one with /dev/null opened read-only, on which writes fail as they would on
 * the closed descriptor.
 */
void hold_std_fds() {
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDONLY) < 0) return;
}

// Flushes standard output and reports whether everything written reached it.
bool flush_stdout() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return false;
    // Some file systems report a failed write only when a descriptor is
    // closed: close a duplicate, which leaves stdout itself open.
    int fd = dup(fileno(stdout));
    return fd < 0 || close(fd) == 0;
}

// hex[0..32) = a (NUM_DIGITS digits, below 2^128) as 16 big-endian bytes.
void to_hex(char* hex, const std::uint32_t* a) {
    std::uint8_t out[cli::SCALAR_BYTES];
    NN_Encode(out, sizeof out, a, NUM_DIGITS);
    cli::to_hex(hex, out, sizeof out);
}

// The signing run: decodes the built-in keys, initialises the curve and ECDSA
// modules (curve first) and signs msg[0..len) into r and s.
void sign_message(const std::uint8_t* msg, std::uint16_t len, std::uint32_t* r, std::uint32_t* s) {
    NN_Decode(private_key, NUM_DIGITS, key, sizeof key);
    NN_Decode(public_key.x, NUM_DIGITS, keyx, sizeof keyx);
    NN_Decode(public_key.y, NUM_DIGITS, keyy, sizeof keyy);
    ecc_init();
    ecdsa_init(&public_key);
    ecdsa_sign(msg, len, r, s, private_key);
}

}  // namespace

int klarvex_main(int argc, char* argv[]) {
    std::srand(static_cast<unsigned>(static_cast<std::uint32_t>(std::time(nullptr))));
    // A closed pipe on stdout must show as EPIPE, not end the run unreported.
    std::signal(SIGPIPE, SIG_IGN);
    hold_std_fds();

    if (argc < 2) {
        std::fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    const char* hex = argv[1];
    Log log;
    if (argc > 2 && !log_open(&log, argv[2], hex)) return fail(&log, NO_MEMORY, EXIT_NO_MEMORY);
    log_salt(&log, hex);

    std::size_t hex_len = std::strlen(hex);
    std::size_t bin_len = hex_len >> 1;
    char lengths[80];
    std::snprintf(lengths, sizeof lengths, "lengths: ascii hex: %zu bin: %zu\n", hex_len, bin_len);
    log_puts(&log, lengths);
    if (bin_len > MAX_MESSAGE) return fail(&log, TOO_LONG, EXIT_USAGE);

    auto* msg = static_cast<std::uint8_t*>(std::malloc(bin_len ? bin_len : 1));
    if (!msg) return fail(&log, NO_MEMORY, EXIT_NO_MEMORY);
    cli::message_from_hex(msg, hex, bin_len);

    std::uint32_t r[NUM_DIGITS];
    std::uint32_t s[NUM_DIGITS];
    sign_message(msg, static_cast<std::uint16_t>(bin_len), r, s);
    std::free(msg);

    char line[65];
    to_hex(line, r);
    to_hex(line + 32, s);
    line[64] = '\n';
    if (std::fwrite(line, 1, sizeof line, stdout) != sizeof line || !flush_stdout())
        return fail(&log, NO_OUTPUT, EXIT_NO_OUTPUT);

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

// What the command-line tools share.

#include "cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace klarvex::cli {
namespace {

constexpr char HEX[] = "0123456789abcdef";

// Longest message fail() writes in one piece: room for any path a file
// operation accepts (PATH_MAX, 4096) and the text around it.
constexpr std::size_t MESSAGE_MAX = 8192;

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void message_from_hex(std::uint8_t* msg, const char* hex, std::size_t len) {
    // A pair that does not begin with a hex digit converts to nothing: its
    // byte stays 0.
    std::memset(msg, 0, len);
    /*
     * Each pair is converted with "%2hhx" at its own position: leading white
     * space is skipped, then at most two characters are read. sscanf measures
     * the whole rest of its input on every call, so converting in place would
     * cost time quadratic in the length; instead each conversion gets a short
     * copy of the text from the first non-blank character on, which it reads
     * the same way. `next` is that character for the current pair; white space
     * is skipped once for all pairs that share it.
     */
    const char* next = hex;
    for (std::size_t i = 0; i < len; ++i) {
        if (next < hex + 2 * i) next = hex + 2 * i;
        while (*next == ' ' || (*next >= '\t' && *next <= '\r'))
            ++next;
        char window[8] = {};
        for (std::size_t j = 0; j + 1 < sizeof window && next[j]; ++j)
            window[j] = next[j];
        std::sscanf(window, "%2hhx", &msg[i]);
    }
}

bool parse_hex(std::uint8_t* out, std::size_t len, std::string_view text) {
    if (text.size() != 2 * len) return false;
    for (std::size_t i = 0; i < len; ++i) {
        int hi = hex_value(text[2 * i]);
        int lo = hi < 0 ? -1 : hex_value(text[2 * i + 1]);
        if (lo < 0) return false;
        out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return true;
}

void to_hex(char* hex, const std::uint8_t* bytes, std::size_t len) {
    for (std::size_t i = 0; i < len; ++i) {
        hex[2 * i] = HEX[bytes[i] >> 4];
        hex[2 * i + 1] = HEX[bytes[i] & 15];
    }
}

void pair_line(char* line, const std::uint8_t* a, const std::uint8_t* b) {
    to_hex(line, a, SCALAR_BYTES);
    to_hex(line + 2 * SCALAR_BYTES, b, SCALAR_BYTES);
    line[PAIR_LINE - 1] = '\n';
}

void start() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // The lowest free descriptor is the one filled: fd itself, as those below
    // it are open. A pipe's reading end takes the lower of its two; its
    // writing end is closed again (if that was a standard slot too, a later
    // round fills it).
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF || open("/dev/null", O_RDONLY) >= 0) continue;
        int p[2];
        if (pipe(p) != 0) return;
        close(p[1]);
    }
}

SignalHold::SignalHold() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT})
        sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &saved_);
}

SignalHold::~SignalHold() {
    sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

bool write_all(int fd, const void* buf, std::size_t len) {
    const char* p = static_cast<const char*>(buf);
    while (len > 0) {
        ssize_t n = write(fd, p, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

bool finish_stdout() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return false;
    int fd = dup(STDOUT_FILENO);
    return fd < 0 || close(fd) == 0;
}

bool print(const char* text, std::size_t len) {
    return write_all(STDOUT_FILENO, text, len) && finish_stdout();
}

int fail(int status, const char* format, ...) {
    char text[MESSAGE_MAX];
    constexpr std::size_t head = sizeof PREFIX - 1;
    std::memcpy(text, PREFIX, head);
    std::va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    // Room for the newline after the text and for vsnprintf's terminator.
    const int n = std::vsnprintf(text + head, sizeof text - head - 1, format, args);
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof text - head - 1) {
        text[head + static_cast<std::size_t>(n)] = '\n';
        write_all(STDERR_FILENO, text, head + static_cast<std::size_t>(n) + 1);
    } else {
        // Too long for one piece: the same text, written as it is formatted.
        write_all(STDERR_FILENO, PREFIX, head);
        vdprintf(STDERR_FILENO, format, again);
        write_all(STDERR_FILENO, "\n", 1);
    }
    va_end(again);
    va_end(args);
    return status;
}

}  // namespace klarvex::cli

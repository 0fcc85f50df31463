// What the command-line tools share.

#include "cli.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace klarvex::cli {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// Longest text fail() formats on the stack: room for any path a file
// operation accepts (PATH_MAX, 4096) and the text around it. Its reporter
// writes pieces of twice that, for the "=> " of each line.
constexpr std::size_t kMessageMax = 8192;

#ifndef KLARVEX_VERSION
#error "KLARVEX_VERSION, the project's version, is defined by the build"
#endif

// Writes text to standard error with PREFIX at the start of every line, in
// pieces of at most the size of its buffer.
class Reporter {
  public:
    void put(const char* text, std::size_t len) {
        for (std::size_t i = 0; i < len; ++i) {
            if (line_start_)
                for (const char* p = PREFIX; *p; ++p)
                    raw(*p);
            raw(text[i]);
            line_start_ = text[i] == '\n';
        }
    }
    void flush() {
        write_all(STDERR_FILENO, buf_, len_);
        len_ = 0;
    }

  private:
    void raw(char c) {
        if (len_ == sizeof buf_) flush();
        buf_[len_++] = c;
    }
    char buf_[2 * kMessageMax];
    std::size_t len_ = 0;
    bool line_start_ = true;
};

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
        hex[2 * i] = kHex[bytes[i] >> 4];
        hex[2 * i + 1] = kHex[bytes[i] & 15];
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

bool print_line(const char* text) {
    char line[kMessageMax];
    const int n = std::snprintf(line, sizeof line, "%s\n", text);
    assert(n > 0 && static_cast<std::size_t>(n) < sizeof line);
    return print(line, static_cast<std::size_t>(n));
}

int parse_options(int argc, char* const argv[], unsigned accepted, unsigned* given) {
    static constexpr struct {
        const char* name;
        Option option;
    } kNames[] = {{"--help", OPT_HELP},
                  {"-h", OPT_HELP},
                  {"--version", OPT_VERSION},
                  {"--public-key", OPT_PUBLIC_KEY},
                  {"--pem", OPT_PEM}};
    *given = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) return i + 1;
        unsigned found = 0;
        for (const auto& o : kNames)
            if ((accepted & o.option) && std::strcmp(argv[i], o.name) == 0) found = o.option;
        if (!found) return i;
        *given |= found;
    }
    return argc;
}

bool print_version(const char* tool) {
    char line[kMessageMax];
    std::snprintf(line, sizeof line, "%s %s", tool, KLARVEX_VERSION);
    return print_line(line);
}

int fail(int status, const char* format, ...) {
    char text[kMessageMax];
    std::va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    Reporter out;
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof text) {
        out.put(text, static_cast<std::size_t>(n));
    } else {
        // Too long for the buffer: formatted into an anonymous file and read
        // back from there (no heap: klarvex reports a failed allocation here).
        const int fd = memfd_create("klarvex-message", MFD_CLOEXEC);
        if (fd < 0 || vdprintf(fd, format, again) < 0) {
            out.put(text, n > 0 ? sizeof text - 1 : 0);  // what fitted, at least
        } else {
            ssize_t got;
            for (off_t at = 0; (got = pread(fd, text, sizeof text, at)) > 0; at += got)
                out.put(text, static_cast<std::size_t>(got));
        }
        if (fd >= 0) close(fd);
    }
    out.put("\n", 1);
    out.flush();
    va_end(again);
    va_end(args);
    return status;
}

}  // namespace klarvex::cli

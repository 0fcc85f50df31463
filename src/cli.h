// What the four command-line tools share and the library leaves out: the
// limits of their arguments, hex text, the start of a run, writing and
// finishing standard output, holding off termination signals, and the "=> "
// reporter.
//
// Compiled into the tools only; the installed library stays free of I/O.
// Nothing here allocates, so klarvex can report a failed allocation with it.

#ifndef KLARVEX_CLI_H
#define KLARVEX_CLI_H

#include <signal.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace klarvex::cli {

// What begins every message on standard error.
inline constexpr char PREFIX[] = "=> ";

// The signing and verifying interfaces count message bytes in 16 bits.
inline constexpr std::size_t MAX_MESSAGE = 65535;

// Bytes of a key, a coordinate or one half of a signature.
inline constexpr std::size_t SCALAR_BYTES = 16;

// A line of two scalars (r then s, or x then y) in hex, and its newline.
inline constexpr std::size_t PAIR_LINE = 4 * SCALAR_BYTES + 1;

// The number of decimal digits of v.
constexpr std::size_t decimal_digits(std::uintmax_t v) {
    std::size_t n = 1;
    for (; v >= 10; v /= 10)
        ++n;
    return n;
}

// "message too long: at most 65535 bytes", NUL-terminated, its count
// written from MAX_MESSAGE: why a MESSAGE of more bytes is refused.
inline constexpr auto TOO_LONG = [] {
    constexpr char head[] = "message too long: at most ", tail[] = " bytes";
    constexpr std::size_t digits = decimal_digits(MAX_MESSAGE);
    std::array<char, sizeof head - 1 + digits + sizeof tail> text{};
    std::size_t at = 0;
    for (std::size_t i = 0; i + 1 < sizeof head; ++i)
        text[at++] = head[i];
    for (std::size_t v = MAX_MESSAGE, i = digits; i > 0; v /= 10)
        text[at + --i] = static_cast<char>('0' + v % 10);
    at += digits;
    for (char c : tail)
        text[at++] = c;
    return text;
}();

// msg[0..len) from the hex text MESSAGE, as klarvex reads it: byte i is the
// text at 2i under sscanf "%2hhx", and a pair that does not begin with a hex
// digit gives 0. hex must hold at least 2*len characters.
void message_from_hex(std::uint8_t* msg, const char* hex, std::size_t len);

// out[0..len) from text that is exactly 2*len hex digits of either case and
// nothing else. false, with out unspecified, otherwise.
bool parse_hex(std::uint8_t* out, std::size_t len, std::string_view text);

// hex[0..2*len) = bytes in lowercase hex; no terminator is written.
void to_hex(char* hex, const std::uint8_t* bytes, std::size_t len);

// line[0..PAIR_LINE) = a then b, SCALAR_BYTES each, in lowercase hex and a
// newline; no terminator is written.
void pair_line(char* line, const std::uint8_t* a, const std::uint8_t* b);

// What every tool does first. SIGPIPE and SIGXFSZ are ignored: a write to a
// pipe without a reader fails with EPIPE, and one past the file size limit
// with EFBIG (or comes up short), which the tool reports with its own status
// instead of ending the process unreported. A standard descriptor that is
// closed is held by /dev/null opened read-only or, where /dev/null cannot be
// opened, by the reading end of a pipe: no file the tool opens becomes
// standard input, output or error, and writes to the slot still fail. (When
// not even a pipe can be had, no descriptor is left for a file either.)
void start();

// Blocks SIGTERM, SIGINT, SIGHUP and SIGQUIT while it lives, so that what is
// written meanwhile (a signature, a log record) is written whole or not at
// all. A signal that arrives meanwhile takes effect when the hold ends. Holds
// nest.
class SignalHold {
  public:
    SignalHold();
    ~SignalHold();
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

  private:
    sigset_t saved_;
};

// Writes buf[0..len) to fd, resuming after short writes and EINTR. false,
// with errno set, if a write fails.
bool write_all(int fd, const void* buf, std::size_t len);

// Flushes standard output and closes a duplicate of its descriptor (some
// file systems report a failed write only at close), leaving standard output
// itself open. true if everything written to it reached it.
bool finish_stdout();

// Writes text[0..len) to standard output and finishes it (finish_stdout):
// true if it all arrived.
bool print(const char* text, std::size_t len);

// Writes text, shorter than 8 KiB, and a newline to standard output in one
// write and finishes it (finish_stdout): true if it all arrived.
bool print_line(const char* text);

// The options of the companion tools. Each is recognised only as an exact
// whole argument: "-hx" or "--pem=1" is no option.
enum Option : unsigned {
    OPT_HELP = 1,        // "--help" or "-h"
    OPT_VERSION = 2,     // "--version"
    OPT_PUBLIC_KEY = 4,  // "--public-key"
    OPT_PEM = 8,         // "--pem"
};

// Reads the options among accepted (a set of Option bits) that lead
// argv[1..argc), and sets *given to those found. They end at "--", which is
// skipped, or at the first argument that is not one of them: that is the
// first operand, even if it begins with '-'. Returns the index of the first
// operand (argc if there is none).
int parse_options(int argc, char* const argv[], unsigned accepted, unsigned* given);

// Prints "TOOL VERSION", the version of this build of klarvex, as print_line
// does: true if it arrived.
bool print_version(const char* tool);

// Writes "=> ", the text of format and its arguments (as printf) and a
// newline to standard error, with "=> " at the start of every further line of
// the text too, in one write as long as all that fits 16 KiB; returns status.
// Longer text is written whole in several writes. Every
// message of klarvex, klarvex-verify and klarvex-keygen goes through here.
[[gnu::format(printf, 2, 3)]] int fail(int status, const char* format, ...);

}  // namespace klarvex::cli

#endif  // KLARVEX_CLI_H

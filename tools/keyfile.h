// The key file of klarvex-keygen and klarvex-keycheck, the checks of keys
// that arrive from outside (klarvex-verify's PUBLIC_KEY), and the careful
// handling of the files that hold keys: created whole or not at all, replaced
// without following a symlink, read without blocking or reading without end.
// Only the companion tools use these.

#ifndef KLARVEX_KEYFILE_H
#define KLARVEX_KEYFILE_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli.h"
#include "secp128r2.h"

namespace klarvex::cli {

// A key pair as a key file holds it: 16 big-endian bytes each.
struct KeyPair {
    std::uint8_t d[SCALAR_BYTES];
    std::uint8_t x[SCALAR_BYTES];
    std::uint8_t y[SCALAR_BYTES];
};

// Longest text format_key_file writes.
inline constexpr std::size_t KEY_FILE_MAX = 256;

// Largest key file read: far more than any key file with comments needs.
inline constexpr std::size_t KEY_FILE_READ_MAX = 64 * 1024;

// Writes the key file text of kp into out[0..KEY_FILE_MAX); returns its length.
std::size_t format_key_file(char* out, const KeyPair& kp);

// Reads key file text: lines "d:", "Q.x:" and "Q.y:", each once and followed
// by 32 hex digits, in any order; blank lines and lines starting with '#' are
// skipped, and blanks may follow the colon and end a line. Every line is
// printable ASCII (a tab allowed, and a CR before the newline). false with a
// reason naming the line otherwise. Keeps no copy of the text: d is only ever
// in text and kp, which the caller wipes.
bool parse_key_file(KeyPair* kp, std::string_view text, std::string* error);

// Sets x and y of kp to d*G (coordinates below p).
void derive_public_key(KeyPair* kp);

// nullptr if 1 <= d <= n-1 and (x, y) = d*G, else the reason.
const char* check_key_pair(const KeyPair& kp);

// nullptr if q is a point of the curve (coordinates below p) whose order is
// n, else the reason. (0, 0) is not on the curve.
const char* check_public_key(const Point& q);

// q = the point of the SEC 1 encoding b[0..len): 04 || x || y, or 02 or 03
// || x, where y is the square root of x^3 + a*x + b mod p whose low bit is
// that of the first byte. nullptr, or the reason: another length or first
// byte, a coordinate not below p, or an x for which x^3 + a*x + b is not a
// square. An uncompressed point is not checked further: check_public_key.
const char* point_from_octets(Point* q, const std::uint8_t* b, std::size_t len);

// A file for create_files_exclusively: path, its whole content
// data[0..len), and its mode.
struct NewFile {
    const char* path;
    const void* data;
    std::size_t len;
    mode_t mode;
};

// Most files one call of create_files_exclusively creates.
inline constexpr std::size_t NEW_FILES_MAX = 4;

// Creates files[0..count) (count <= NEW_FILES_MAX), none of which may exist
// yet (a symlink, dangling or not, counts as existing): all of them or none.
// Each is written to a temporary file in its directory and synced, then
// linked at its path, so that no path ever holds a partial file, and the
// directories are synced last. The temporary file is anonymous (O_TMPFILE)
// where the file system and /proc allow it, and so is never left behind, even
// by kill -9; else it is named after the path, created exclusively with mode
// 0600. nullptr on success. On failure nothing is left at any of the paths
// nor as a temporary file, and the path that failed is returned with errno
// set (EEXIST: it exists).
const char* create_files_exclusively(const NewFile* files, std::size_t count);

// Replaces path, whatever is there (a symlink is replaced, not followed), by a
// file holding data[0..len) with mode: written to a named temporary file in
// its directory, synced, then renamed over path. false with errno on failure;
// path is then untouched and no temporary file is left.
bool replace_file(const char* path, const void* data, std::size_t len, mode_t mode);

// Room for the reason read_small_regular_file gives, its terminator included.
inline constexpr std::size_t READ_REASON_MAX = 128;

// Reads the regular file at path whole into buf[0..*len), *len <= cap. What is
// not a regular file is refused without being opened if it can be told
// beforehand, and is never read: a FIFO, a device or a directory cannot
// block or flood the caller. false, with the reason in why[0..READ_REASON_MAX)
// ("is not a regular file", "is larger than CAP bytes", "cannot be opened:
// ...", "cannot be read: ..."), otherwise; buf then holds whatever was read.
bool read_small_regular_file(const char* path, char* buf, std::size_t cap, std::size_t* len,
                             char* why);

}  // namespace klarvex::cli

#endif  // KLARVEX_KEYFILE_H

// The key file reader of the tools. Apart from the rest of cli.cpp so that
// klarvex itself, which reads no key file, links none of std::string.

#include <string>

#include "cli.h"

namespace klarvex::cli {
namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

}  // namespace

bool parse_key_file(KeyPair* kp, const std::string& text, std::string* error) {
    static constexpr const char* LABELS[3] = {"d", "Q.x", "Q.y"};
    std::uint8_t* fields[3] = {kp->d, kp->x, kp->y};
    bool seen[3] = {};
    std::size_t line_no = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++line_no;
        while (!line.empty() && is_blank(line.back()))
            line.pop_back();
        if (line.empty() || line[0] == '#') continue;

        std::string where = "line " + std::to_string(line_no) + ": ";
        std::size_t colon = line.find(':');
        int f = -1;
        for (int i = 0; i < 3 && colon != std::string::npos; ++i)
            if (line.compare(0, colon, LABELS[i]) == 0) f = i;
        if (f < 0) {
            *error = where + "expected \"d:\", \"Q.x:\" or \"Q.y:\" and 32 hexadecimal digits";
            return false;
        }
        if (seen[f]) {
            *error = where + LABELS[f] + " is given twice";
            return false;
        }
        std::size_t v = colon + 1;
        while (v < line.size() && is_blank(line[v]))
            ++v;
        if (!parse_hex(fields[f], SCALAR_BYTES, line.c_str() + v)) {
            *error = where + LABELS[f] + " must be 32 hexadecimal digits";
            return false;
        }
        seen[f] = true;
    }
    for (int i = 0; i < 3; ++i) {
        if (!seen[i]) {
            *error = std::string("no ") + LABELS[i] + " line";
            return false;
        }
    }
    return true;
}

}  // namespace klarvex::cli

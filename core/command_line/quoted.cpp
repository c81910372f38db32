#include "quoted.h"

#include <climits>
#include <cstdio>

namespace command_line {
namespace {

// The longest path a system call takes.
#ifdef PATH_MAX
constexpr std::size_t LONGEST_PATH = PATH_MAX;
#else
constexpr std::size_t LONGEST_PATH = 4096;
#endif

void appendEscaped(std::string& out, std::string_view text)
{
    for (unsigned char c : text) {
        if (c >= 0x20 && c != 0x7f) {
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        }
    }
}

std::string quotedUpTo(std::string_view text, std::size_t shown)
{
    std::string out = "'";
    if (text.size() <= shown) {
        appendEscaped(out, text);
        return out + "'";
    }
    // Cut before a UTF-8 continuation byte's character, not inside it.
    std::size_t cut = shown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    appendEscaped(out, text.substr(0, cut));
    return out + "...' (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace

std::string quoted(std::string_view argument)
{
    return quotedUpTo(argument, QUOTED_ARGUMENT_BYTES);
}

std::string quotedPath(std::string_view path)
{
    return path.size() < LONGEST_PATH ? quotedUpTo(path, LONGEST_PATH) : quoted(path);
}

}  // namespace command_line

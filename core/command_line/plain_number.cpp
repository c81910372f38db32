#include "plain_number.h"

#include <cerrno>
#include <cstdlib>
#include <string>

namespace command_line {
namespace {

// The most digits a whole number may have: 10^18 - 1 still fits 64 bits.
constexpr std::size_t MAX_DIGITS = 18;
// The largest side of a size.
constexpr int MAX_SIDE = 1000000;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "08", "00" and "00.5" have a leading zero; "0", "0.5" and ".5" do not.
bool hasLeadingZero(std::string_view text)
{
    return text.size() > 1 && text[0] == '0' && isDigit(text[1]);
}

}  // namespace

bool parseDecimal(std::string_view text, double& value)
{
    int digits = 0;
    int points = 0;
    for (char c : text) {
        if (isDigit(c))
            ++digits;
        else if (c == '.')
            ++points;
        else
            return false;
    }
    if (digits == 0 || points > 1 || hasLeadingZero(text))
        return false;
    // Plain decimal now: strtod reads it as written (the tools keep the C locale).
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    value = std::strtod(copy.c_str(), &end);
    return errno == 0 && end == copy.c_str() + copy.size();
}

std::optional<std::uint64_t> wholeNumber(std::string_view text)
{
    if (text.empty() || text.size() > MAX_DIGITS || hasLeadingZero(text))
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

bool parseSize(std::string_view text, int& width, int& height)
{
    const std::size_t x = text.find('x');
    int w = 0;
    int h = 0;
    if (x == std::string_view::npos || !parseWholeNumber(text.substr(0, x), MAX_SIDE, w) ||
        !parseWholeNumber(text.substr(x + 1), MAX_SIDE, h))
        return false;
    width = w;
    height = h;
    return true;
}

}  // namespace command_line

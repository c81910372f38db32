#include "plain_number.h"

#include <cerrno>
#include <cstdlib>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

bool parseDecimal(const std::string& text, double& value)
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
    if (digits == 0 || points > 1)
        return false;
    // Plain decimal now: strtod reads it as written (the tools keep the C locale).
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size();
}

bool parseWholeNumber(const std::string& text, int maxValue, int& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    long v = 0;
    for (char c : text) {
        if (!isDigit(c))
            return false;
        v = v * 10 + (c - '0');
    }
    if (v > maxValue)
        return false;
    value = static_cast<int>(v);
    return true;
}

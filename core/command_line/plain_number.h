#pragma once

// Numbers on the command lines of demo, capture and render-song: plain
// decimal only. "30", "106.5", ".25" and "3." are numbers; a sign, an
// exponent, hexadecimal ("0x10"), spaces, "inf", "nan" and leading zeros
// ("08", "00.5"; "0" and "0.5" are numbers) are not, in every tool alike.

#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

namespace command_line {

// Seconds and the like: digits with at most one decimal point.
bool parseDecimal(std::string_view text, double& value);

// Digits only, at most 18 of them (so that no value overflows).
std::optional<std::uint64_t> wholeNumber(std::string_view text);

// A whole number from 0 to `maxValue`, into an integer of any type.
template <typename Integer>
bool parseWholeNumber(std::string_view text, Integer maxValue, Integer& value)
{
    const std::optional<std::uint64_t> number = wholeNumber(text);
    if constexpr (std::is_signed_v<Integer>) {
        if (maxValue < 0)
            return false;
    }
    if (!number || *number > static_cast<std::uint64_t>(maxValue))
        return false;
    value = static_cast<Integer>(*number);
    return true;
}

// "1280x720": two whole numbers up to 1,000,000 joined by one 'x'. The
// caller checks the sizes it allows.
bool parseSize(std::string_view text, int& width, int& height);

}  // namespace command_line

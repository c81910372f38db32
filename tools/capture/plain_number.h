#pragma once

// Numbers on the capture tool's command line: plain decimal only. "30",
// "106.5", ".25" and "3." are numbers; a sign, an exponent, hexadecimal
// ("0x10"), spaces, "inf" and "nan" are not.

#include <string>

// Seconds and the like: digits with at most one decimal point.
bool parseDecimal(const std::string& text, double& value);

// A whole number from 0 to `maxValue`: digits only.
bool parseWholeNumber(const std::string& text, int maxValue, int& value);

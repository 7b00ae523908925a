// Conversions between numbers and text as the form runtime performs them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace runtime {

// The number at the start of `text`: optional sign, digits with "." as the decimal point, an
// optional exponent (E or D), or a &H / &O prefixed hexadecimal or octal integer. Blanks, tabs
// and line feeds are skipped anywhere; reading stops at the first other character. 0 when no
// number starts the text. Fails with an overflow when the number is beyond double range.
double Val(std::string_view text);

// A floating-point value to a 32-bit integer, rounding halves to even. Fails with an overflow
// when the rounded value is out of range or not a number.
std::int32_t CLng(double value);

// A double to single precision, rounding to nearest. Fails with an overflow when the value is
// beyond the single-precision range or not a number.
float CSng(double value);

// A single-precision value as decimal text: up to seven significant digits, no trailing zeros,
// scientific notation for very large or small magnitudes (1935, 1935.5, -750, 1.5E+07).
std::string SingleText(float value);

}  // namespace runtime

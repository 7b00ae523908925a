#include "platform/conversions.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "platform/errors.h"

namespace runtime {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Cursor over the text that skips the blanks Val ignores between characters.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}
  char Peek() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }
  void Next() { ++pos_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// &H and &O literals are 32-bit patterns (16-bit when they fit in four hex digits), as signed.
double RadixValue(Reader& in, int radix) {
  std::uint64_t value = 0;
  int digits = 0;
  for (char c = in.Peek(); DigitValue(c) < radix; c = in.Peek()) {
    value = value * static_cast<unsigned>(radix) + static_cast<unsigned>(DigitValue(c));
    if (value > 0xFFFFFFFFu) return 0;  // too long for a literal: no number
    ++digits;
    in.Next();
  }
  if (digits == 0) return 0;
  if (value <= 0xFFFF && ((radix == 16 && digits <= 4) || (radix == 8 && value <= 0xFFFF)))
    return static_cast<double>(static_cast<std::int16_t>(static_cast<std::uint16_t>(value)));
  return static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}

// Rounds to the nearest whole number, halves to the even one ("banker's rounding"). Written
// out rather than left to nearbyint, which the compiler cannot inline on every processor and
// would then cost the program the whole maths library. `value` is finite.
double RoundHalfEven(double value) {
  const double down = std::floor(value);
  if (down == value) return value;   // whole already, as every double from 2^52 on is
  const double middle = down + 0.5;  // exact: below 2^52 every half is a double
  if (value != middle) return value < middle ? down : down + 1.0;
  return std::floor(down / 2.0) * 2.0 == down ? down : down + 1.0;
}

}  // namespace

double Val(std::string_view text) {
  Reader in(text);
  if (in.Peek() == '&') {
    in.Next();
    const char kind = in.Peek();
    if (kind == 'h' || kind == 'H') {
      in.Next();
      return RadixValue(in, 16);
    }
    if (kind == 'o' || kind == 'O') in.Next();
    return RadixValue(in, 8);
  }

  // Collect a canonical copy of the number (blanks removed) and let strtod convert it, so
  // rounding is exactly that of the C library. Lengths are bounded to keep this cheap.
  std::string number;
  auto take = [&](char c) {
    if (number.size() < 400) number.push_back(c);
    in.Next();
  };
  if (in.Peek() == '-' || in.Peek() == '+') take(in.Peek());
  bool digits = false;
  while (in.Peek() >= '0' && in.Peek() <= '9') digits = true, take(in.Peek());
  if (in.Peek() == '.') {
    take('.');
    while (in.Peek() >= '0' && in.Peek() <= '9') digits = true, take(in.Peek());
  }
  if (!digits) return 0;
  const char e = in.Peek();
  if (e == 'e' || e == 'E' || e == 'd' || e == 'D') {
    std::string exponent = "e";
    in.Next();
    if (in.Peek() == '-' || in.Peek() == '+') exponent.push_back(in.Peek()), in.Next();
    bool expDigits = false;
    while (in.Peek() >= '0' && in.Peek() <= '9') {
      if (exponent.size() < 8) exponent.push_back(in.Peek());
      expDigits = true;
      in.Next();
    }
    if (expDigits) number += exponent;
  }
  const double value = std::strtod(number.c_str(), nullptr);
  if (!std::isfinite(value)) Fail(ErrorCode::Overflow);  // beyond double: "1E400"
  return value;
}

std::int32_t CLng(double value) {
  if (!std::isfinite(value)) Fail(ErrorCode::Overflow);
  const double rounded = RoundHalfEven(value);
  if (rounded < -2147483648.0 || rounded > 2147483647.0) Fail(ErrorCode::Overflow);
  return static_cast<std::int32_t>(rounded);
}

float CSng(double value) {
  if (std::isnan(value) || std::fabs(value) > static_cast<double>(FLT_MAX))
    Fail(ErrorCode::Overflow);
  return static_cast<float>(value);
}

std::string SingleText(float value) {
  if (value == 0) return "0";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.7G", static_cast<double>(value));
  // Seven significant digits, trailing zeros dropped, exponent from 1E+07 and below 1E-04.
  return buffer;
}

}  // namespace runtime

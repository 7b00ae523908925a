// Run-time failures and the two error modes the program's procedures run in.
//
// A failure (an overflow, a failed conversion, a failing property access) is a thrown
// `runtime::Failure`. A procedure in pass-on mode simply lets it propagate to its caller. A
// procedure in resume-next mode wraps each statement in `ResumeNext`, so that a failing
// statement is abandoned alone and the next one runs. Integer arithmetic on 16- and 32-bit
// values goes through the guarded helpers below, which fail instead of wrapping.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace runtime {

// Run-time error numbers, as the form runtime numbers them.
enum class ErrorCode : int {
  InvalidCall = 5,     // invalid procedure call or argument
  Overflow = 6,        // arithmetic or conversion overflow
  TypeMismatch = 13,   // conversion of unsuitable text
  InvalidValue = 380,  // property value out of range
};

struct Failure {
  ErrorCode code;
};

[[noreturn]] inline void Fail(ErrorCode code) { throw Failure{code}; }

// Runs one statement in resume-next mode: a failure abandons the statement and is dropped.
template <typename Statement>
inline void ResumeNext(Statement&& statement) noexcept {
  try {
    statement();
  } catch (const Failure&) {
    // The statement is skipped; execution goes on with the next one.
  }
}

// 32-bit signed arithmetic that fails on overflow, computed exactly in 64 bits first.
inline std::int32_t CLng32(std::int64_t value) {
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    Fail(ErrorCode::Overflow);
  return static_cast<std::int32_t>(value);
}

inline std::int32_t Add32(std::int32_t a, std::int32_t b) { return CLng32(std::int64_t{a} + b); }

inline std::int32_t Sub32(std::int32_t a, std::int32_t b) { return CLng32(std::int64_t{a} - b); }

// Narrowing to a 16-bit signed integer that fails on overflow.
inline std::int16_t CInt16(std::int64_t value) {
  if (value < std::numeric_limits<std::int16_t>::min() ||
      value > std::numeric_limits<std::int16_t>::max())
    Fail(ErrorCode::Overflow);
  return static_cast<std::int16_t>(value);
}

// A floating-point result that is not a finite number is a failure.
inline double CheckFloat(double value) {
  if (!std::isfinite(value)) Fail(ErrorCode::Overflow);
  return value;
}

}  // namespace runtime

#include "platform/display_scale.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace platform {
namespace {

// Rounds a / b (b > 0) down, for negative a too.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - (a % b != 0 && a < 0); }

int ClampToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
}

}  // namespace

DisplayScale DisplayScale::FromFactor(double factor) {
  if (!(factor >= 1.0)) return DisplayScale();  // below 1, and not a number
  if (factor >= kMaxQuarters / 4.0) return DisplayScale(kMaxQuarters);
  // Halves round up. (floor is inlined where lround would pull in the maths library, which the
  // program otherwise does without.)
  return DisplayScale(static_cast<int>(std::floor(factor * 4.0 + 0.5)));
}

DisplayScale DisplayScale::FromQuarters(int quarters) {
  return DisplayScale(std::clamp(quarters, kOneX, kMaxQuarters));
}

int DisplayScale::ToDisplay(int logical) const {
  return ClampToInt(-FloorDiv(-static_cast<std::int64_t>(logical) * quarters_, kOneX));
}

int DisplayScale::ToLogical(int display) const {
  return ClampToInt(FloorDiv(static_cast<std::int64_t>(display) * kOneX, quarters_));
}

}  // namespace platform

#include "platform/x11/desktop_scale.h"

#include <cmath>

namespace x11 {
namespace {

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A whole text that is one plain decimal number ("192", "-1", "1.5"), nothing otherwise. Read
// by hand: the library's readers also take "inf", "nan", hexadecimal and exponents, and pull in
// code (and a shared library) the program has no other use for.
std::optional<double> Number(std::string_view text) {
  text = Trim(text);
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  double value = 0, unit = 1;
  bool digits = false, point = false;
  for (const char c : text) {
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      digits = true;
      if (point) {
        unit /= 10;
        value += (c - '0') * unit;
      } else {
        value = value * 10 + (c - '0');
      }
    } else {
      return std::nullopt;
    }
  }
  if (!digits || !std::isfinite(value)) return std::nullopt;
  return negative ? -value : value;
}

}  // namespace

std::optional<double> XftDpi(std::string_view resources) {
  std::optional<std::string_view> found;
  while (!resources.empty()) {
    const auto end = resources.find('\n');
    const std::string_view line = resources.substr(0, end);
    resources.remove_prefix(end == std::string_view::npos ? resources.size() : end + 1);
    const auto colon = line.find(':');
    if (colon != std::string_view::npos && Trim(line.substr(0, colon)) == "Xft.dpi")
      found = line.substr(colon + 1);
  }
  if (!found) return std::nullopt;
  const std::optional<double> dpi = Number(*found);
  if (!dpi || *dpi <= 0) return std::nullopt;
  return dpi;
}

platform::DisplayScale DesktopScale(const char* override, const char* resources) {
  if (override != nullptr) {
    if (const std::optional<double> factor = Number(override))
      return platform::DisplayScale::FromFactor(*factor);
  }
  if (resources != nullptr) {
    if (const std::optional<double> dpi = XftDpi(resources))
      return platform::DisplayScale::FromFactor(*dpi / 96.0);
  }
  return platform::DisplayScale();
}

}  // namespace x11

#include "platform/x11/compositor_choice.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace x11 {

namespace {

bool Set(const char* value) { return value != nullptr && *value != '\0'; }

// Whether the ':'-split list names `desktop` (as desktops spell themselves, case and all).
bool Names(std::string_view list, std::string_view desktop) {
  while (!list.empty()) {
    const std::size_t colon = list.find(':');
    if (list.substr(0, colon) == desktop) return true;
    if (colon == std::string_view::npos) break;
    list.remove_prefix(colon + 1);
  }
  return false;
}

// Desktops on compositors that give no client the pointer: asking their bus would find nothing.
constexpr std::array<std::string_view, 6> kWithoutPointer = {"sway",  "Weston", "wlroots",
                                                             "river", "labwc",  "Hyprland"};

// The largest size a desktop may have, in either direction: beyond any screens joined.
constexpr double kLargestDesktop = 1 << 20;

// A number as JavaScript writes one, no exponent: an optional '-', digits, and optionally a
// point and digits. Read by hand: std::from_chars would link the maths library, which the
// program otherwise does without. Moves `at` past it.
std::optional<double> ReadNumber(const char*& at, const char* end) {
  const bool negative = at != end && *at == '-';
  if (negative) ++at;
  const auto digit = [&] { return at != end && *at >= '0' && *at <= '9'; };
  double value = 0;
  int digits = 0;
  for (; digit() && digits <= 7; ++at, ++digits) value = value * 10 + (*at - '0');
  if (digits == 0 || digit()) return std::nullopt;  // none, or more than a desktop needs
  if (at != end && *at == '.') {
    ++at;
    double unit = 1;
    int decimals = 0;
    for (; digit(); ++at, ++decimals) value += (*at - '0') * (unit /= 10);
    if (decimals == 0) return std::nullopt;
  }
  return negative ? -value : value;
}

}  // namespace

SessionEnvironment ReadSessionEnvironment() {
  return {std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"),
          std::getenv("XDG_CURRENT_DESKTOP")};
}

std::vector<Compositor> CompositorsToAsk(const SessionEnvironment& environment) {
  const bool wayland =
      Set(environment.waylandDisplay) ||
      (Set(environment.sessionType) && std::strcmp(environment.sessionType, "wayland") == 0);
  if (!wayland) return {};
  const std::string_view desktops =
      Set(environment.currentDesktop) ? environment.currentDesktop : "";
  for (const std::string_view name : kWithoutPointer)
    if (Names(desktops, name)) return {};
  if (Names(desktops, "GNOME")) return {Compositor::kGnomeShell, Compositor::kKWin};
  return {Compositor::kKWin, Compositor::kGnomeShell};
}

std::string KWinScriptName(unsigned userId, std::string_view display) {
  std::string name = "ozzlebeck-pointer-" + std::to_string(userId) + "-";
  for (const char c : display) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    name += plain ? c : '_';
  }
  return name;
}

std::vector<std::string> KWinScriptPaths(int id, const char* kdeSessionVersion) {
  std::string five = "/" + std::to_string(id), six = "/Scripting/Script" + std::to_string(id);
  if (Set(kdeSessionVersion) && std::strcmp(kdeSessionVersion, "5") == 0) return {five, six};
  return {six, five};
}

std::optional<std::string> KWinScriptFor(std::string_view text, std::string_view busName) {
  constexpr std::string_view kMark = "@TARGET@";
  if (busName.size() < 2 || busName.front() != ':' ||
      busName.find_first_not_of("0123456789.", 1) != std::string_view::npos)
    return std::nullopt;
  std::string script;
  bool marked = false;
  for (std::size_t at; (at = text.find(kMark)) != std::string_view::npos;) {
    script.append(text.substr(0, at)).append(busName);
    text.remove_prefix(at + kMark.size());
    marked = true;
  }
  if (!marked) return std::nullopt;
  return script.append(text);
}

std::optional<CompositorPosition> ParsePointerMessage(std::string_view text) {
  std::array<double, 6> numbers{};
  const char* at = text.data();
  const char* const end = text.data() + text.size();
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) {
      if (at == end || *at != ' ') return std::nullopt;
      ++at;
    }
    const auto number = ReadNumber(at, end);
    if (!number || *number > kLargestDesktop || *number < -kLargestDesktop) return std::nullopt;
    numbers[i] = *number;
  }
  if (at != end) return std::nullopt;
  const CompositorPosition pointer{numbers[0], numbers[1], numbers[2],
                                   numbers[3], numbers[4], numbers[5]};
  if (!(pointer.width >= 1 && pointer.height >= 1)) return std::nullopt;
  return pointer;
}

std::optional<RootPoint> ToRoot(const CompositorPosition& pointer, int rootWidth, int rootHeight) {
  if (rootWidth < 1 || rootHeight < 1 || !(pointer.width >= 1) || !(pointer.height >= 1))
    return std::nullopt;
  // Rounded by hand, on a value kept non-negative: std::round would link the maths library,
  // which the program otherwise does without.
  const auto convert = [](double at, double origin, double size, int root) {
    const double scaled = std::clamp((at - origin) * root / size, 0.0, root - 1.0);
    return static_cast<int>(scaled + 0.5);
  };
  return RootPoint{convert(pointer.x, pointer.left, pointer.width, rootWidth),
                   convert(pointer.y, pointer.top, pointer.height, rootHeight)};
}

}  // namespace x11

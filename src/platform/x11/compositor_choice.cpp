#include "platform/x11/compositor_choice.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
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
    // from_chars takes no '+' or blank; refuse exponents and JavaScript's NaN and Infinity too.
    const char* digits = at != end && *at == '-' ? at + 1 : at;
    if (digits == end || *digits < '0' || *digits > '9') return std::nullopt;
    const auto [next, error] = std::from_chars(at, end, numbers[i], std::chars_format::fixed);
    if (error != std::errc() || std::abs(numbers[i]) > kLargestDesktop) return std::nullopt;
    at = next;
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
  const auto convert = [](double at, double origin, double size, int root) {
    const double scaled = std::round((at - origin) * root / size);
    return static_cast<int>(std::clamp(scaled, 0.0, static_cast<double>(root - 1)));
  };
  return RootPoint{convert(pointer.x, pointer.left, pointer.width, rootWidth),
                   convert(pointer.y, pointer.top, pointer.height, rootHeight)};
}

}  // namespace x11

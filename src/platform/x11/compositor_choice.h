// What the X11 build needs to ask a Wayland compositor where the pointer is, as plain values and
// text: which compositor to ask, given the environment; the names and object paths of the KWin
// script; the messages the script and the GNOME Shell extension send; and their positions in X11
// root coordinates. No D-Bus and no X here, so the unit tests reach all of it
// (compositor_pointer.h does the talking).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace x11 {

// The compositors that can tell where the pointer is over every window, not only over the
// program's own ones.
enum class Compositor { kKWin, kGnomeShell };

// The environment variables that tell a session apart (null for an unset one).
struct SessionEnvironment {
  const char* waylandDisplay = nullptr;  // WAYLAND_DISPLAY
  const char* sessionType = nullptr;     // XDG_SESSION_TYPE
  const char* currentDesktop = nullptr;  // XDG_CURRENT_DESKTOP, a list split by ':'
};

SessionEnvironment ReadSessionEnvironment();

// The compositors to ask, in order, each only once the session bus shows it running. None on an
// X11 session (the X server itself then knows where the pointer is everywhere), and none on a
// Wayland desktop known to have no way to hand the pointer over (Sway, Weston and other wlroots
// compositors). The desktop named first decides the order; a desktop the list does not know may
// still run either compositor.
std::vector<Compositor> CompositorsToAsk(const SessionEnvironment& environment);

// The name the KWin script is loaded under: one per user and X display, so that copies on other
// displays keep theirs, and a copy on this display finds the one a crashed run left behind.
std::string KWinScriptName(unsigned userId, std::string_view display);

// The object paths a loaded script with id `id` may run at, the likelier first: KWin 5 puts it at
// /<id>, KWin 6 at /Scripting/Script<id>. `kdeSessionVersion` is KDE_SESSION_VERSION (or null).
std::vector<std::string> KWinScriptPaths(int id, const char* kdeSessionVersion);

// The KWin script's text with every "@TARGET@" replaced by `busName`, the unique bus name its
// messages go to. Nothing when the text holds no such mark, or the name is not a unique bus name
// (":" then digits and dots), which could otherwise put quotes into the script.
std::optional<std::string> KWinScriptFor(std::string_view text, std::string_view busName);

// A position as the compositor reports it, in its own coordinates: the pointer and the rectangle
// all its outputs cover.
struct CompositorPosition {
  double x = 0, y = 0;
  double left = 0, top = 0, width = 0, height = 0;
};

// Reads a message of the script or the extension: six numbers split by single spaces, "x y left
// top width height", written as JavaScript writes numbers (no exponent). Nothing for anything
// else, or for an empty or too large desktop.
std::optional<CompositorPosition> ParsePointerMessage(std::string_view text);

// The pointer in X11 root coordinates, whose screen is `rootWidth` x `rootHeight` pixels.
// XWayland shows the compositor's desktop on the whole root window, scaled alike in both
// directions: by 1, by the largest output scale when X clients scale themselves (KWin), or by a
// whole factor (Mutter's native scaling). The ratio of the two sizes gives that scale, so no
// setting needs reading. A pointer on the desktop's far edge stays on the last pixel.
struct RootPoint {
  int x = 0, y = 0;
  bool operator==(const RootPoint&) const = default;
};
std::optional<RootPoint> ToRoot(const CompositorPosition& pointer, int rootWidth, int rootHeight);

}  // namespace x11

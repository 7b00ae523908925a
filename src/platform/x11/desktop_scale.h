// The desktop's scale on X11, as desktops announce it: GNOME, KDE and Xfce set the X resource
// Xft.dpi (192 for a 2x screen) in the root window's RESOURCE_MANAGER property, which toolkits
// divide by 96. Pure text handling, so the unit tests reach it without an X server.
#pragma once

#include <optional>
#include <string_view>

#include "platform/display_scale.h"

namespace x11 {

// The environment variable that overrides the desktop's scale: a factor such as 2 or 1.5.
inline constexpr const char* kScaleVariable = "OZZLEBECK_SCALE";

// Xft.dpi in `resources`, the text of RESOURCE_MANAGER (lines "name:\tvalue"; the last line
// naming it counts). Nothing when it is absent or its value is not a positive number.
std::optional<double> XftDpi(std::string_view resources);

// The scale to show the program at: the override when it holds a number, else Xft.dpi / 96,
// else 1; rounded to quarters and kept from 1x to 3x. Either text may be null.
platform::DisplayScale DesktopScale(const char* override, const char* resources);

}  // namespace x11

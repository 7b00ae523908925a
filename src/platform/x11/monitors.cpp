// The monitors of the display, by the Win32 name the program asks for them (EnumDisplayMonitors),
// from RandR, in the program's 96-dpi pixels like every place the backend reports.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include "platform/backend.h"
#include "platform/display_scale.h"
#include "platform/win32_api.h"
#include "platform/x11/display.h"

namespace {

RECT Logical(int x, int y, int width, int height) {
  const platform::DisplayScale scale = platform::GetDisplayScale();
  return {scale.ToLogical(x), scale.ToLogical(y), scale.ToLogical(x + width),
          scale.ToLogical(y + height)};
}

}  // namespace

// The active monitors RandR knows of, or the whole root window when it knows of none (a server
// without RandR 1.5).
BOOL EnumDisplayMonitors(HDC dc, LPCRECT, MONITORENUMPROC callback, LPARAM data) {
  if (callback == nullptr) return FALSE;
  Display* display = x11::Connection();
  const Window root = DefaultRootWindow(display);
  int count = 0;
  XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
  if (monitors == nullptr || count <= 0) {
    if (monitors != nullptr) XRRFreeMonitors(monitors);
    RECT whole = Logical(0, 0, DisplayWidth(display, DefaultScreen(display)),
                         DisplayHeight(display, DefaultScreen(display)));
    callback(nullptr, dc, &whole, data);
    return TRUE;
  }
  for (int i = 0; i < count; ++i) {
    const XRRMonitorInfo& m = monitors[i];
    RECT area = Logical(m.x, m.y, m.width, m.height);
    if (!callback(nullptr, dc, &area, data)) break;
  }
  XRRFreeMonitors(monitors);
  return TRUE;
}

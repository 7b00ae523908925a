// The X11 backend's monitors, from RandR: the monitors by the Win32 name the program asks for
// them (EnumDisplayMonitors), the primary one, the screen's width and the system metrics, in the
// program's 96-dpi pixels like every place the backend reports. The state and the scale they
// read are described in x11_internal.h.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include "platform/backend.h"
#include "platform/display_scale.h"
#include "platform/win32_api.h"
#include "platform/x11/display.h"
#include "platform/x11/x11_internal.h"

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

// The entry points below are the contract's (backend.h, win32_api.h); what they use is shared
// through x11_internal.h.
using namespace x11;

namespace platform {

// The primary monitor's size, or the first one's when none is marked primary, or the whole
// root window when RandR knows of no monitor.
XRRMonitorInfo PrimaryMonitor() {
  X11& x = State();
  Display* d = OpenDisplay();
  XRRMonitorInfo primary{};
  primary.width = DisplayWidth(d, x.screen);
  primary.height = DisplayHeight(d, x.screen);
  int count = 0;
  if (XRRMonitorInfo* monitors = XRRGetMonitors(d, x.root, True, &count)) {
    for (int i = 0; i < count; ++i)
      if (monitors[i].primary || i == 0) primary = monitors[i];
    XRRFreeMonitors(monitors);
  }
  primary.outputs = nullptr;
  return primary;
}

int ScreenWidthPixels() { return Scale().ToLogical(PrimaryMonitor().width); }

int TwipsPerPixelX() { return 15; }
int TwipsPerPixelY() { return 15; }

}  // namespace platform

// The virtual screen is the root window, which spans all monitors; the screen proper is the
// primary monitor.
int GetSystemMetrics(int index) {
  X11& x = State();
  Display* d = OpenDisplay();
  switch (index) {
    case SM_CXSCREEN:
      return platform::ScreenWidthPixels();
    case SM_CYSCREEN:
      return Scale().ToLogical(platform::PrimaryMonitor().height);
    case SM_CXVIRTUALSCREEN:
      return Scale().ToLogical(DisplayWidth(d, x.screen));
    case SM_CYVIRTUALSCREEN:
      return Scale().ToLogical(DisplayHeight(d, x.screen));
    default:
      return 0;  // the virtual screen starts at the root's origin
  }
}

// The X11 backend's start: the display and its atoms, what the window manager supports, the
// desktop's scale and the single running copy. The error trap, the state these fill in and the
// other files of the backend are described in x11_internal.h.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/backend.h"
#include "platform/posix/process.h"
#include "platform/x11/compositor_pointer.h"
#include "platform/x11/display.h"
#include "platform/x11/instance.h"
#include "platform/x11/x11_internal.h"

namespace x11 {
namespace {

// Losing the server ends the program quietly: there is nothing left to show. A KWin script
// loaded for the program goes with it.
int OnConnectionLost(Display*) {
  EndCompositorPointer();
  _exit(1);
}

// The single window named by a window-valued property, or 0.
Window WindowProperty(Window window, Atom property) {
  X11& x = State();
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  Window value = 0;
  if (XGetWindowProperty(x.display, window, property, 0, 1, False, XA_WINDOW, &type, &format,
                         &count, &after, &data) == Success &&
      data != nullptr && count == 1)
    value = static_cast<Window>(reinterpret_cast<unsigned long*>(data)[0]);
  if (data != nullptr) XFree(data);
  return value;
}

}  // namespace

// Opens the display, or ends the program with one line on stderr when there is none or it does
// not answer in time (display.h).
Display* OpenDisplay() {
  X11& x = State();
  if (x.display != nullptr) return x.display;
  x11::AnswerDeadline deadline;  // for the opening and the names' round trip
  // The toy reads no keys: opening without the keyboard extension saves two round trips.
  XkbIgnoreExtension(True);
  x.display = x11::OpenDisplayOrExit();
  XSetIOErrorHandler(&OnConnectionLost);
  x.screen = DefaultScreen(x.display);
  x.root = RootWindow(x.display, x.screen);
  x.visual = DefaultVisual(x.display, x.screen);
  x.depth = DefaultDepth(x.display, x.screen);
  x.gc = DefaultGC(x.display, x.screen);
  // One round trip for all the names, in the order of the fields of Atoms.
  // clang-format off
  static const char* const names[] = {
      "_NET_SUPPORTED", "_NET_SUPPORTING_WM_CHECK", "_NET_WM_STATE",
      "_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER",
      "_NET_WM_MOVERESIZE", "_NET_WM_ICON", "_NET_WM_NAME", "_NET_WM_PID", "UTF8_STRING",
      "_MOTIF_WM_HINTS"};
  // clang-format on
  static_assert(sizeof names / sizeof names[0] == sizeof(Atoms) / sizeof(Atom));
  std::array<Atom, sizeof(Atoms) / sizeof(Atom)> atoms{};
  XInternAtoms(x.display, const_cast<char**>(names), static_cast<int>(atoms.size()), False,
               atoms.data());
  std::memcpy(&x.atoms, atoms.data(), sizeof x.atoms);
  return x.display;
}

// True when a running, EWMH-compliant window manager lists `hint` as supported. Asked each
// time: window managers come and go. Without a manager this costs one round trip.
bool WindowManagerSupports(Atom hint) {
  X11& x = State();
  // The root window always exists: reading it needs no trap.
  const Window check = WindowProperty(x.root, x.atoms.netSupportingWmCheck);
  if (check == 0) return false;
  {
    // The check window must exist and point to itself, or the manager has gone away.
    ErrorTrap trap(x.display);
    const Window self = WindowProperty(check, x.atoms.netSupportingWmCheck);
    if (trap.Caught() || self != check) return false;
  }

  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  bool found = false;
  if (XGetWindowProperty(x.display, x.root, x.atoms.netSupported, 0, 4096, False, XA_ATOM, &type,
                         &format, &count, &after, &data) == Success &&
      data != nullptr) {
    const auto* atoms = reinterpret_cast<unsigned long*>(data);
    found = std::find(atoms, atoms + count, hint) != atoms + count;
  }
  if (data != nullptr) XFree(data);
  return found;
}

}  // namespace x11

Display* x11::Connection() { return OpenDisplay(); }

// The entry points below are the contract's (backend.h, win32_api.h); what they use is shared
// through x11_internal.h.
using namespace x11;

namespace platform {

DisplayScale GetDisplayScale() { return Scale(); }

std::string ExecutablePath() { return posix::OwnExecutablePath(); }

// Decided by the display (instance.h), and only once it answers.
bool IsPreviousInstanceRunning() {
  static const bool running = [] {
    Display* display = OpenDisplay();
    x11::AnswerDeadline deadline;
    return !x11::ClaimInstance(display, ExecutablePath());
  }();
  return running;
}

}  // namespace platform

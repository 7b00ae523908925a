// The X11 backend's caption press (SendMessageA): a click, or a drag that the window follows,
// moved by the window manager when it can and by the program itself when not. The loop it
// pumps while the button is held is in x11_internal.h.
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/win32_api.h"
#include "platform/x11/x11_internal.h"

namespace x11 {
namespace {

// Windows' default for how far the pointer travels, the button held, before a press is a drag.
constexpr int kDragThreshold = 4;
constexpr long kMoveResizeMove = 8;  // _NET_WM_MOVERESIZE_MOVE

bool LeftButtonDown() {
  X11& x = State();
  Window rootReturn, child;
  int rx, ry, wx, wy;
  unsigned mask = 0;
  XQueryPointer(x.display, x.root, &rootReturn, &child, &rx, &ry, &wx, &wy, &mask);
  return (mask & Button1Mask) != 0;
}

// The window manager moves the window: it gets the press's place and grabs the pointer itself.
// The timer keeps ticking until the button comes up, which only the pointer's state tells.
void MoveByWindowManager(HWND w, const PendingPress& press) {
  X11& x = State();
  XUngrabPointer(x.display, CurrentTime);
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w->xid;
  e.xclient.message_type = x.atoms.netWmMoveResize;
  e.xclient.format = 32;
  e.xclient.data.l[0] = press.rootX;
  e.xclient.data.l[1] = press.rootY;
  e.xclient.data.l[2] = kMoveResizeMove;
  e.xclient.data.l[3] = Button1;
  e.xclient.data.l[4] = 1;  // a normal application
  XSendEvent(x.display, x.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  SendRequests();
  while (!x.ended && LeftButtonDown()) PumpOnce(20);
}

// Whether a press the pointer grab reported missed the window as the server shows it (under
// the grab, a press anywhere on the screen is reported to the window). The shape comes from the
// server, in display pixels whatever the scale, at the cost of a round trip; only presses that
// come after a drag's release are asked about.
bool PressIsOffTheWindow(HWND w, const XEvent& e) {
  if (e.type != ButtonPress) return false;
  const XButtonEvent& b = e.xbutton;
  if (!b.same_screen) return true;
  int count = 0, ordering = 0;
  XRectangle* shape =
      XShapeGetRectangles(State().display, w->xid, ShapeBounding, &count, &ordering);
  bool on = false;
  for (int i = 0; i < count && !on; ++i) {
    const XRectangle& r = shape[i];
    on = b.x >= r.x && b.y >= r.y && b.x < r.x + r.width && b.y < r.y + r.height;
  }
  if (shape != nullptr) XFree(shape);
  return !on;
}

// No window manager to ask: follow the pointer with the window until the button comes up.
// The grab selects presses too. On a loaded machine the user may click again (a double-click
// right after the drag) before the program has seen the release and ungrabbed, and a grab that
// does not select presses drops them for good. What the grab reported after the release goes
// back to the queue in order, for the ordinary handling once the drag is over, except presses
// off the window's shape: they were meant for what lies beneath it and cannot reach it now.
void MoveByItself(HWND w, const PendingPress& press) {
  X11& x = State();
  XGrabPointer(x.display, w->xid, False, ButtonPressMask | ButtonReleaseMask | ButtonMotionMask,
               GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
  const RECT start = w->rect;
  bool released = false;
  std::vector<XEvent> afterRelease;
  auto keep = [&](const XEvent& e) {
    if (!PressIsOffTheWindow(w, e)) afterRelease.push_back(e);
  };
  auto moveTo = [&](int rootX, int rootY) {
    MoveWindowTo(w, start.left + (rootX - press.rootX), start.top + (rootY - press.rootY));
    SendRequests();
  };
  while (!x.ended && !released) {
    PumpOnce(-1, [&](XEvent& e) {
      if (released) {
        keep(e);
        return true;
      }
      if (e.type == MotionNotify) {
        XEvent latest = e;  // only the newest place matters
        while (XCheckTypedEvent(x.display, MotionNotify, &latest)) continue;
        moveTo(latest.xmotion.x_root, latest.xmotion.y_root);
        return true;
      }
      if (e.type == ButtonRelease && e.xbutton.button == Button1) {
        moveTo(e.xbutton.x_root, e.xbutton.y_root);
        released = true;
        return true;
      }
      return false;
    });
  }
  XUngrabPointer(x.display, CurrentTime);
  // Once the server has ungrabbed, everything the grab reported is in the queue.
  XSync(x.display, False);
  while (XEventsQueued(x.display, QueuedAlready) > 0) {
    XEvent e;
    XNextEvent(x.display, &e);
    keep(e);
  }
  for (auto e = afterRelease.rbegin(); e != afterRelease.rend(); ++e) XPutBackEvent(x.display, &*e);
}

// A caption press, as Windows has it: a plain click unless the pointer travels past the drag
// threshold with the button held, in which case the window follows it until release. A held-up
// program may get the travel and the release in one batch: the first event decides, and what
// came after it goes back to the queue in order, for the code that handles it, except a drag's
// release, which moves the window straight to where the drag ends.
void CaptionPress(HWND w) {
  X11& x = State();
  const PendingPress press = x.press;
  if (!press.held || press.window != w->xid) return;
  enum { kWaiting, kClick, kDrag } outcome = kWaiting;
  std::vector<XEvent> later;
  std::optional<XButtonEvent> release;  // a drag's, when it came with the travel
  while (!x.ended && outcome == kWaiting) {
    PumpOnce(-1, [&](XEvent& e) {
      const bool isRelease = e.type == ButtonRelease && e.xbutton.button == Button1;
      if (outcome != kWaiting) {
        if (outcome == kDrag && isRelease && !release) {
          release = e.xbutton;
        } else {
          later.push_back(e);
        }
        return true;
      }
      if (isRelease) {
        outcome = kClick;
        return true;
      }
      if (e.type == MotionNotify && (std::abs(e.xmotion.x_root - press.rootX) >= kDragThreshold ||
                                     std::abs(e.xmotion.y_root - press.rootY) >= kDragThreshold)) {
        outcome = kDrag;
        return true;
      }
      return false;
    });
  }
  for (auto e = later.rbegin(); e != later.rend(); ++e) XPutBackEvent(x.display, &*e);
  if (outcome != kDrag) return;
  x.lastClick.armed = false;  // a drag is no first click of a double-click
  if (release) {
    // The button is already up: no move loop to start, only the drag's end to reach.
    MoveWindowTo(w, w->rect.left + (release->x_root - press.rootX),
                 w->rect.top + (release->y_root - press.rootY));
    SendRequests();
  } else if (WindowManagerSupports(x.atoms.netWmMoveResize)) {
    MoveByWindowManager(w, press);
  } else {
    MoveByItself(w, press);
  }
}

}  // namespace

// Moves the window's top-left corner to (x, y), display pixels of the root window.
void MoveWindowTo(HWND w, int x, int y) {
  // X coordinates are 16-bit: a place beyond them is clamped rather than wrapped around.
  x = std::clamp(x, -32768, 32767);
  y = std::clamp(y, -32768, 32767);
  XMoveWindow(State().display, w->xid, x, y);
  const LONG width = w->rect.right - w->rect.left, height = w->rect.bottom - w->rect.top;
  w->rect = {x, y, x + width, y + height};
}

}  // namespace x11

// The entry points below are the contract's (backend.h, win32_api.h); what they use is shared
// through x11_internal.h.
using namespace x11;

// The program never captures the pointer explicitly; the press's own grab stays in force so
// the caption press can follow the pointer.
BOOL ReleaseCapture() { return TRUE; }

LRESULT SendMessageA(HWND w, UINT message, WPARAM wParam, LPARAM) {
  if (w == nullptr) return 0;
  if (message == WM_NCLBUTTONDOWN && wParam == HTCAPTION) CaptionPress(w);
  return 0;
}

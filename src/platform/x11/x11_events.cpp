// The X11 backend's event handlers: a table of small handlers, one per X event the program
// answers, and the dispatch through it. The loop that reads the events, and the state the
// handlers update, are described in x11_internal.h.
#include <X11/Xlib.h>

#include <array>
#include <cstdint>
#include <cstdlib>

#include "platform/form.h"
#include "platform/x11/x11_internal.h"

namespace x11 {
namespace {

// Windows' defaults for what makes a second press a double-click.
constexpr Time kDoubleClickMs = 500;
constexpr int kDoubleClickHalfSize = 2;  // a 4 x 4 pixel rectangle around the first press

// Where the window's client area really is on the root window.
void RefreshPlace(HWND w) {
  X11& x = State();
  Window child;
  int rx = 0, ry = 0;
  ErrorTrap trap(x.display);
  XTranslateCoordinates(x.display, w->xid, x.root, 0, 0, &rx, &ry, &child);
  if (trap.Caught()) return;
  const LONG width = w->rect.right - w->rect.left, height = w->rect.bottom - w->rect.top;
  w->rect = {rx, ry, rx + width, ry + height};
}

// Under a reparenting window manager the window sits in a frame that the manager moves. The
// frames above the window are watched for their own ConfigureNotify, so a move of any of them
// refreshes the window's place, including the first placement of a new frame, which the
// manager does not announce to the window itself.
void WatchAncestors(HWND w) {
  X11& x = State();
  ErrorTrap trap(x.display);
  Window current = w->xid;
  for (int depth = 0; depth < 8; ++depth) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(x.display, current, &root, &parent, &children, &count)) break;
    if (children != nullptr) XFree(children);
    if (parent == 0 || parent == x.root) break;
    XSelectInput(x.display, parent, StructureNotifyMask);
    current = parent;
  }
}

void OnExpose(XEvent& e) {
  HWND w = Find(e.xexpose.window);
  if (w == nullptr) return;
  PutArea(
      w, {e.xexpose.x, e.xexpose.y, e.xexpose.x + e.xexpose.width, e.xexpose.y + e.xexpose.height});
}

void OnConfigure(XEvent& e) {
  const XConfigureEvent& c = e.xconfigure;
  HWND w = Find(c.window);
  if (w == nullptr) {
    // A frame around one of our windows moved or changed.
    for (HWND ours : State().windows)
      if (ours->reparented) RefreshPlace(ours);
    return;
  }
  if (c.send_event || !w->reparented) {
    // A window manager's synthetic event, or a window directly on the root: root coordinates.
    w->rect = {c.x, c.y, c.x + c.width, c.y + c.height};
  } else {
    w->rect.right = w->rect.left + c.width;
    w->rect.bottom = w->rect.top + c.height;
    RefreshPlace(w);
  }
}

void OnReparent(XEvent& e) {
  HWND w = Find(e.xreparent.window);
  if (w == nullptr) return;
  w->reparented = e.xreparent.parent != State().root;
  // Watch first, then read the place: a frame moved after this point sends an event.
  if (w->reparented) WatchAncestors(w);
  RefreshPlace(w);
}

void OnMap(XEvent& e) {
  if (HWND w = Find(e.xmap.window)) w->mapped = true;
}

void OnUnmap(XEvent& e) {
  if (HWND w = Find(e.xunmap.window)) w->mapped = false;
}

// Without a window manager that keeps it above others, a top-most window raises itself
// whenever another window covers part of it.
// Two such windows covering each other would raise each other without end, so a window raises
// itself at most once every kRaiseIntervalMs; a cover that comes sooner is answered when that
// time is up (RaiseIfDue, from the loop).
void OnVisibility(XEvent& e) {
  HWND w = Find(e.xvisibility.window);
  if (w == nullptr || !w->topmost) return;
  w->raisePending = e.xvisibility.state != VisibilityUnobscured &&
                    !WindowManagerSupports(State().atoms.netWmStateAbove);
}

std::int16_t ShiftState(unsigned state) {
  std::int16_t shift = 0;
  if (state & ShiftMask) shift |= runtime::vbShiftMask;
  if (state & ControlMask) shift |= runtime::vbCtrlMask;
  if (state & Mod1Mask) shift |= runtime::vbAltMask;
  return shift;
}

// A second left press soon after and near the first is a double-click, as on Windows; any
// other press is a MouseDown with the runtime's button numbers (1 left, 2 right, 4 middle).
void OnButtonPress(XEvent& e) {
  X11& x = State();
  const XButtonEvent& b = e.xbutton;
  HWND w = Find(b.window);
  if (w == nullptr) return;
  std::int16_t button = 0;
  switch (b.button) {
    case Button1:
      button = runtime::vbLeftButton;
      break;
    case Button2:
      button = runtime::vbMiddleButton;
      break;
    case Button3:
      button = runtime::vbRightButton;
      break;
    default:
      return;  // wheel and extra buttons
  }
  if (button == runtime::vbLeftButton) {
    LastClick& last = x.lastClick;
    const bool isDouble = last.armed && last.window == b.window &&
                          b.time - last.time <= kDoubleClickMs &&
                          std::abs(b.x_root - last.x) <= kDoubleClickHalfSize &&
                          std::abs(b.y_root - last.y) <= kDoubleClickHalfSize;
    if (isDouble) {
      last.armed = false;
      w->form->RaiseDblClick();
      return;
    }
    last = {true, b.window, b.x_root, b.y_root, b.time};
    x.press = {true, b.window, b.x_root, b.y_root, b.time};
  } else {
    x.lastClick.armed = false;
  }
  w->form->RaiseMouseDown(button, ShiftState(b.state), Scale().ToLogical(b.x),
                          Scale().ToLogical(b.y));
  if (button == runtime::vbLeftButton) x.press.held = false;
}

void OnButtonRelease(XEvent& e) {
  if (e.xbutton.button == Button1) State().press.held = false;
}

using Handler = void (*)(XEvent&);

constexpr std::array<Handler, LASTEvent> MakeHandlers() {
  std::array<Handler, LASTEvent> table{};
  table[Expose] = OnExpose;
  table[ConfigureNotify] = OnConfigure;
  table[ReparentNotify] = OnReparent;
  table[MapNotify] = OnMap;
  table[UnmapNotify] = OnUnmap;
  table[VisibilityNotify] = OnVisibility;
  table[ButtonPress] = OnButtonPress;
  table[ButtonRelease] = OnButtonRelease;
  return table;
}

constexpr std::array<Handler, LASTEvent> kHandlers = MakeHandlers();

}  // namespace

void RaiseIfDue() {
  std::int64_t now = -1;
  for (HWND w : State().windows) {
    if (!w->raisePending) continue;
    if (now < 0) now = NowMs();
    if (now - w->lastRaiseMs < kRaiseIntervalMs) continue;
    w->raisePending = false;
    w->lastRaiseMs = now;
    XRaiseWindow(State().display, w->xid);
  }
}

void Dispatch(XEvent& e) {
  if (e.type >= 0 && e.type < LASTEvent && kHandlers[static_cast<std::size_t>(e.type)] != nullptr)
    kHandlers[static_cast<std::size_t>(e.type)](e);
}

}  // namespace x11

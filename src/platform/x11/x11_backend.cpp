// The X11 backend's event loop, caption press and window, and the screen's size: what is not yet
// in a file of its own. What the files share, and how the backend works, is described in
// x11_internal.h.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/form.h"
#include "platform/posix/region.h"
#include "platform/win32_api.h"
#include "platform/x11/x11_internal.h"

namespace x11 {
namespace {

// However still the devices are, the pointer is asked for this often: a program may have
// warped it, which no device reports.
constexpr std::int64_t kPointerRecheckMs = 1000;
// Questions asked at once while the program rests (MotionHint::AskLater): one a second.
constexpr int kQuestionsAtOnce = 30;

// What the server said of the pointer; tells the motion hint whether it moved.
void LearnPointer(bool onScreen, int rx, int ry) {
  X11& x = State();
  const bool changed =
      !x.pointerKnown || onScreen != x.pointerOnScreen || rx != x.pointer.x || ry != x.pointer.y;
  x.pointerOnScreen = onScreen;
  x.pointer = {rx, ry};
  x.pointerKnown = true;
  x.pointerAskedMs = NowMs();
  x.motionHint.Answered(changed);
}

// Asks the server where the pointer is.
void AskPointer() {
  X11& x = State();
  Window rootReturn, child;
  int rx = 0, ry = 0, wx, wy;
  unsigned mask;
  const bool onScreen =
      XQueryPointer(x.display, x.root, &rootReturn, &child, &rx, &ry, &wx, &wy, &mask);
  x.sentBefore = NextRequest(x.display);  // the reply came: every request before it went out
  LearnPointer(onScreen, rx, ry);
}

// When the pointer must be asked for next while the loop sleeps. The questions the motion hint
// has the server hold back are answered by themselves, a second apart; should an answer not
// come, the loop asks itself a second later. Without such questions the loop wakes and asks.
std::int64_t PointerDueMs() {
  X11& x = State();
  return x.pointerAskedMs + (x.motionHint.Asking() ? 2 : 1) * kPointerRecheckMs;
}

// Before sleeping: the next questions about the pointer, held back by the server.
void AskBeforeSleeping() {
  X11& x = State();
  const auto afterMs = std::max<std::int64_t>(0, PointerDueMs() - NowMs());
  x.motionHint.AskLater(static_cast<int>(afterMs), kQuestionsAtOnce, kPointerRecheckMs);
}

// The screens' layout changing may move the pointer without a device, and the window with it.
void ListenForScreenChanges() {
  X11& x = State();
  int event = 0, error = 0;
  if (x.screenChangeEvent >= 0 || !XRRQueryExtension(x.display, &event, &error)) return;
  x.screenChangeEvent = event + RRScreenChangeNotify;
  XRRSelectInput(x.display, x.root, RRScreenChangeNotifyMask);
}

// How long the loop may wait: until the next tick, or asleep until the next question about the
// pointer; and no longer than a pending raise or `limitMs` (-1 for no limit).
int MsToWake(int limitMs, bool asleep) {
  X11& x = State();
  const std::int64_t now = NowMs();
  std::int64_t wait = limitMs < 0 ? 3600000 : limitMs;
  if (asleep) {
    wait = std::min(wait, PointerDueMs() - now);
  } else {
    for (const runtime::Timer* timer : x.timers) wait = std::min(wait, timer->backendData - now);
  }
  for (HWND w : x.windows)
    if (w->raisePending) wait = std::min(wait, w->lastRaiseMs + kRaiseIntervalMs - now);
  return static_cast<int>(std::max<std::int64_t>(0, wait));
}

}  // namespace

// --- Resting --------------------------------------------------------------------------------

// The loop sleeps without ticks while the last ticks read the same inputs and the motion hint
// listens, so that a device moving the pointer wakes it. Without the hint it never sleeps.
bool Asleep() { return State().gate.Resting() && State().motionHint.Listening(); }

// Events after which a tick may draw something else, or must draw again.
bool WakesTicks(const XEvent& e) {
  switch (e.type) {
    case Expose:           // uncovered: shown again from the pixels kept
    case ConfigureNotify:  // moved, resized or restacked, the window or its frame
    case ReparentNotify:
    case MapNotify:
    case VisibilityNotify:
      return true;
    default:
      return e.type == State().screenChangeEvent;
  }
}

// After the loop slept: raw motion, or the once-a-second question finding the pointer
// elsewhere, wakes it; and a woken loop runs its ticks at once, not a period later.
void WakeIfMoved(bool slept) {
  X11& x = State();
  if (!slept) return;
  if (x.motionHint.Moved()) {
    x.gate.Wake();
  } else if (const auto answer = x.motionHint.TakeAnswer()) {
    LearnPointer(answer->onScreen, answer->x, answer->y);
    x.gate.CursorNow(x.pointerOnScreen, x.pointer);
  } else if (NowMs() >= PointerDueMs()) {
    AskPointer();
    x.gate.CursorNow(x.pointerOnScreen, x.pointer);
  }
  if (Asleep()) return;
  const std::int64_t now = NowMs();
  for (runtime::Timer* timer : x.timers) timer->backendData = now;
}

// --- The loop -------------------------------------------------------------------------------

void FireDueTimers() {
  X11& x = State();
  const std::int64_t now = NowMs();
  // Index loop: a tick may start or stop timers.
  for (std::size_t i = 0; i < x.timers.size() && !x.ended && !Asleep(); ++i) {
    runtime::Timer* timer = x.timers[i];
    if (timer->backendData > now) continue;
    // Keep the period steady; after a stall, skip the missed ticks rather than burst.
    timer->backendData += timer->Interval();
    if (timer->backendData <= now) timer->backendData = now + timer->Interval();
    x.gate.BeginTick();
    timer->RaiseTimer();
    x.gate.EndTick();
  }
}

// Waits for events (or, asleep, for raw motion) until MsToWake says, and reads what came.
void WaitForWork(int limitMs, bool asleep) {
  X11& x = State();
  // Only read from the connection when poll says there is something: a quiet tick then costs
  // one poll and one read of the motion hint, and no reads that would find nothing.
  if (XEventsQueued(x.display, QueuedAlready) != 0) return;
  if (asleep) AskBeforeSleeping();
  pollfd fds[2] = {{ConnectionNumber(x.display), POLLIN, 0},
                   {asleep ? x.motionHint.Descriptor() : -1, POLLIN, 0}};
  if (poll(fds, 2, MsToWake(limitMs, asleep)) > 0 && fds[0].revents != 0)
    XEventsQueued(x.display, QueuedAfterReading);
}

void PumpOnce(int limitMs) {
  PumpOnce(limitMs, [](XEvent&) { return false; });
}

}  // namespace x11

// The entry points below are the contract's (backend.h, win32_api.h); what they use is shared
// through x11_internal.h.
using namespace x11;

namespace platform {

void StartTimer(runtime::Timer& timer) {
  X11& x = State();
  timer.backendData = NowMs() + timer.Interval();
  if (std::find(x.timers.begin(), x.timers.end(), &timer) == x.timers.end())
    x.timers.push_back(&timer);
}

void StopTimer(runtime::Timer& timer) {
  X11& x = State();
  x.timers.erase(std::remove(x.timers.begin(), x.timers.end(), &timer), x.timers.end());
}

void RunEventLoop() {
  OpenDisplay();
  ListenForScreenChanges();
  // Listening for the pointer from the start: the program's descriptors and connections are
  // then all open before its first tick.
  State().motionHint.Open(State().display);
  while (!State().ended) PumpOnce(-1);
}

void EndProgram() {
  State().ended = true;
  _exit(0);
}

}  // namespace platform

// Asks the server unless the motion hint knows the pointer has not moved since the last
// answer, and that answer is less than a second old.
BOOL GetCursorPos(POINT* point) {
  if (point == nullptr) return FALSE;
  X11& x = State();
  Display* d = OpenDisplay();
  if (!x.pointerKnown) x.motionHint.Open(d);
  const bool moved = x.motionHint.Moved();
  if (moved || !x.pointerKnown || NowMs() - x.pointerAskedMs >= kPointerRecheckMs) AskPointer();
  x.gate.ReadCursor(x.pointerOnScreen, x.pointer);
  if (!x.pointerOnScreen) return FALSE;  // the pointer is on another screen
  *point = {Scale().ToLogical(x.pointer.x), Scale().ToLogical(x.pointer.y)};
  return TRUE;
}

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

// The program never captures the pointer explicitly; the press's own grab stays in force so
// the caption press can follow the pointer.
BOOL ReleaseCapture() { return TRUE; }

LRESULT SendMessageA(HWND w, UINT message, WPARAM wParam, LPARAM) {
  if (w == nullptr) return 0;
  if (message == WM_NCLBUTTONDOWN && wParam == HTCAPTION) CaptionPress(w);
  return 0;
}

namespace x11 {
namespace {

constexpr long kNetWmStateAdd = 1;

void SetProperties(HWND w) {
  X11& x = State();
  Display* d = x.display;
  runtime::Form& form = *w->form;

  const std::string& caption = form.Design().caption;
  XStoreName(d, w->xid, caption.c_str());
  XChangeProperty(d, w->xid, x.atoms.netWmName, x.atoms.utf8String, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(caption.data()),
                  static_cast<int>(caption.size()));
  char name[] = "ozzlebeck", className[] = "Ozzlebeck";
  XClassHint classHint{name, className};
  XSetClassHint(d, w->xid, &classHint);

  // A fixed size at a place of the program's choosing, measured at the client area itself
  // (static gravity), so a window manager's frame does not shift it.
  XSizeHints* size = XAllocSizeHints();
  size->flags = PPosition | USPosition | PMinSize | PMaxSize | PWinGravity;
  size->min_width = size->max_width = form.DisplayWidthPixels();
  size->min_height = size->max_height = form.DisplayHeightPixels();
  size->win_gravity = StaticGravity;
  // The toy takes no keyboard input, so it never takes the focus from the user's work.
  XWMHints* hints = XAllocWMHints();
  hints->flags = InputHint | StateHint;
  hints->input = False;
  hints->initial_state = NormalState;
  XSetWMProperties(d, w->xid, nullptr, nullptr, nullptr, 0, size, hints, nullptr);
  XFree(size);
  XFree(hints);

  // No border, no caption.
  const long motif[5] = {2 /* decorations given */, 0, 0 /* none */, 0, 0};
  XChangeProperty(d, w->xid, x.atoms.motifWmHints, x.atoms.motifWmHints, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(motif), 5);
  const long skip[2] = {static_cast<long>(x.atoms.netWmStateSkipTaskbar),
                        static_cast<long>(x.atoms.netWmStateSkipPager)};
  XChangeProperty(d, w->xid, x.atoms.netWmState, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(skip), 2);
  const long pid = static_cast<long>(getpid());
  XChangeProperty(d, w->xid, x.atoms.netWmPid, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);

  const std::span<const std::uint32_t> icon = form.Design().icon;
  if (icon.size() == 32 * 32) {
    std::vector<long> data(2 + icon.size());
    data[0] = data[1] = 32;
    std::copy(icon.begin(), icon.end(), data.begin() + 2);
    XChangeProperty(d, w->xid, x.atoms.netWmIcon, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(data.data()),
                    static_cast<int>(data.size()));
  }
}

void AddState(HWND w, Atom state) {
  X11& x = State();
  if (!w->mapped) {
    XChangeProperty(x.display, w->xid, x.atoms.netWmState, XA_ATOM, 32, PropModeAppend,
                    reinterpret_cast<const unsigned char*>(&state), 1);
    return;
  }
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w->xid;
  e.xclient.message_type = x.atoms.netWmState;
  e.xclient.format = 32;
  e.xclient.data.l[0] = kNetWmStateAdd;
  e.xclient.data.l[1] = static_cast<long>(state);
  e.xclient.data.l[3] = 1;  // a normal application
  XSendEvent(x.display, x.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
}

}  // namespace
}  // namespace x11

namespace platform {

HWND CreateFormWindow(runtime::Form& form) {
  X11& x = State();
  Display* d = OpenDisplay();
  auto* w = new HWND__;
  w->form = &form;
  const int width = form.DisplayWidthPixels(), height = form.DisplayHeightPixels();
  w->rect = {0, 0, width, height};

  XSetWindowAttributes attributes{};
  attributes.background_pixmap = None;  // the form paints every pixel itself
  attributes.border_pixel = 0;
  attributes.bit_gravity = NorthWestGravity;
  attributes.event_mask = ExposureMask | StructureNotifyMask | VisibilityChangeMask |
                          ButtonPressMask | ButtonReleaseMask | ButtonMotionMask;
  w->xid = XCreateWindow(d, x.root, 0, 0, static_cast<unsigned>(width),
                         static_cast<unsigned>(height), 0, x.depth, InputOutput, x.visual,
                         CWBackPixmap | CWBorderPixel | CWBitGravity | CWEventMask, &attributes);
  SetProperties(w);
  CreateImage(w);
  x.windows.push_back(w);
  return w;
}

void DestroyFormWindow(HWND w) {
  X11& x = State();
  x.windows.erase(std::remove(x.windows.begin(), x.windows.end(), w), x.windows.end());
  XDestroyWindow(x.display, w->xid);
  w->image->data = nullptr;  // the bytes are the vector's
  XDestroyImage(w->image);
  if (w->region != nullptr) DeleteObject(w->region);
  delete w;
}

void ShowFormWindow(HWND w) {
  XMapRaised(State().display, w->xid);
  SendRequests();
}

void InvalidateFormWindow(HWND w) { w->dirty = true; }

}  // namespace platform

// The window's place and size in 96-dpi pixels: the 96-dpi pixel its top-left display pixel
// lies in, and its display size converted, so a window made of 132 x 159 pixels reads so again.
BOOL GetWindowRect(HWND w, RECT* rect) {
  if (w == nullptr || rect == nullptr) return FALSE;
  const platform::DisplayScale& scale = Scale();
  const LONG left = scale.ToLogical(w->rect.left), top = scale.ToLogical(w->rect.top);
  *rect = {left, top, left + scale.ToLogical(w->rect.right - w->rect.left),
           top + scale.ToLogical(w->rect.bottom - w->rect.top)};
  State().gate.ReadWindow(w, *rect);
  return TRUE;
}

// A place and size in 96-dpi pixels; the window goes to the first display pixel of each.
BOOL SetWindowPos(HWND w, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  if (w == nullptr) return FALSE;
  X11& xs = State();
  Display* d = xs.display;
  const platform::DisplayScale& scale = Scale();
  if (!(flags & SWP_NOMOVE)) MoveWindowTo(w, scale.ToDisplay(x), scale.ToDisplay(y));
  if (!(flags & SWP_NOSIZE) && cx > 0 && cy > 0) {
    const int width = scale.ToDisplay(cx), height = scale.ToDisplay(cy);
    XResizeWindow(d, w->xid, static_cast<unsigned>(width), static_cast<unsigned>(height));
    w->rect.right = w->rect.left + width;
    w->rect.bottom = w->rect.top + height;
  }
  if (!(flags & SWP_NOZORDER) && insertAfter == HWND_TOPMOST) {
    w->topmost = true;
    if (WindowManagerSupports(xs.atoms.netWmStateAbove)) {
      AddState(w, xs.atoms.netWmStateAbove);
    } else {
      XRaiseWindow(d, w->xid);
    }
  }
  SendRequests();
  return TRUE;
}

int GetWindowRgn(HWND w, HRGN region) {
  if (w == nullptr || w->region == nullptr || region == nullptr) return RGN_ERROR;
  return CombineRgn(region, w->region, nullptr, RGN_COPY);
}

int SetWindowRgn(HWND w, HRGN region, BOOL) {
  if (w == nullptr) return 0;
  X11& x = State();
  if (region == nullptr) {
    XShapeCombineMask(x.display, w->xid, ShapeBounding, 0, 0, None, ShapeSet);
  } else {
    // At a scale other than 1 the region is drawn at the scale, following the picture's edges.
    std::vector<runtime::PixelRect> shape;
    if (!Scale().IsOne()) shape = w->form->DisplayShape(region->rects);
    std::vector<XRectangle> rects;
    rects.reserve(Scale().IsOne() ? region->rects.size() : shape.size());
    auto add = [&](const auto& r) {
      rects.push_back({static_cast<short>(r.left), static_cast<short>(r.top),
                       static_cast<unsigned short>(r.right - r.left),
                       static_cast<unsigned short>(r.bottom - r.top)});
    };
    if (Scale().IsOne()) {
      for (const RECT& r : region->rects) add(r);
    } else {
      for (const runtime::PixelRect& r : shape) add(r);
    }
    XShapeCombineRectangles(x.display, w->xid, ShapeBounding, 0, 0, rects.data(),
                            static_cast<int>(rects.size()), ShapeSet, Unsorted);
  }
  if (w->region != nullptr) DeleteObject(w->region);
  w->region = region;
  SendRequests();
  return 1;
}

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

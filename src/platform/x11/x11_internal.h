// The X11 backend (Xlib, with the XShape, RandR and XInput 2 extensions): what its files share.
//
// One thread, one connection waited on (and a second that hears the pointer move). RunEventLoop
// waits on the connection's file descriptor with a timeout that ends at the next timer deadline,
// so the program sleeps between ticks and never busy-waits. While neither the pointer nor the
// window moves it runs no ticks at all (rest_gate.h): it then also waits on the second
// connection, whose first raw motion wakes it, and wakes once a second to ask where the pointer
// is, since a program may have warped it; whatever else may change what the window shows (an
// expose, a move or restack, a screen change) wakes it as well. A wake runs a tick at once. X
// events go through a table of small handlers (Expose repaints from the copy of the pixels the
// server already has, ButtonPress becomes MouseDown or DblClick, and so on). After every batch of
// events and ticks the forms' changed pixels are sent, and only those.
//
// The Win32-named services the program calls (GetCursorPos, GetWindowRect, SetWindowPos,
// SetWindowRgn, ReleaseCapture, SendMessageA) sit with the role they serve. The window's place
// is kept from the events the server sends, so reading it costs no round trip; the only round
// trip of a tick is the pointer query, made only when a second connection has heard a device
// move the pointer (motion_hint.h) or the last answer is a second old.
//
// The desktop's scale (desktop_scale.h) is read once. The window is made and drawn in display
// pixels, from the form's display image; everything the program sees (GetCursorPos,
// GetWindowRect, SetWindowPos, the screen's size, MouseDown, the region it sets) is in 96-dpi
// pixels and converted in the backend, at its edge. The window's place is kept in display pixels.
//
// The files, by role:
//   x11_init.cpp    the display, its atoms, and what the window manager supports
//   x11_pixels.cpp  the forms' changed pixels, sent to the server a band of rows at a time
//   x11_events.cpp  the table of event handlers, and the dispatch through it
//   x11_loop.cpp    the event loop: resting, timers, waiting for work, the pointer query
//   x11_move.cpp    the caption press, and the two ways the window follows a drag
//   x11_window.cpp  the window: creation, showing, properties, its rectangle and region
//   monitors.cpp    the monitors, the screen's size and the system metrics
// Beside them, display.h opens the connection, instance.h keeps one copy running,
// desktop_scale.h reads the desktop's scale, motion_hint.h hears the pointer move and
// compositor_pointer.h asks a Wayland compositor where the pointer is (under XWayland). This
// header holds what the files share: the state, the window record, the error trap, the scale
// and the request pump (SendRequests, PumpOnce).
//
// Start reading at RunEventLoop (x11_loop.cpp), then CreateFormWindow (x11_window.cpp) and the
// caption press (SendMessageA, x11_move.cpp).
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/backend.h"
#include "platform/form.h"
#include "platform/rest_gate.h"
#include "platform/x11/desktop_scale.h"
#include "platform/x11/motion_hint.h"

struct HWND__ {
  runtime::Form* form = nullptr;
  Window xid = 0;
  RECT rect{};  // outer rectangle in root coordinates (display pixels), from the server's events
  bool reparented = false;
  bool mapped = false;
  bool topmost = false;
  bool raisePending = false;            // covered while it should stay above
  std::int64_t lastRaiseMs = -1000000;  // when the window last raised itself above a cover
  bool dirty = false;
  HRGN region = nullptr;    // the window's shape, owned once set
  XImage* image = nullptr;  // one band of the pixels, in the server's format, on their way
  std::vector<char> imageBytes;
};

namespace x11 {

// A top-most window raises itself above a cover at most this often (x11_events.cpp).
constexpr std::int64_t kRaiseIntervalMs = 500;

struct Atoms {
  Atom netSupported, netSupportingWmCheck, netWmState, netWmStateAbove, netWmStateSkipTaskbar,
      netWmStateSkipPager, netWmMoveResize, netWmIcon, netWmName, netWmPid, utf8String,
      motifWmHints;
};

struct PendingPress {
  bool held = false;  // the left button is down on one of our windows
  Window window = 0;
  int rootX = 0, rootY = 0;
  Time time = 0;
};

struct LastClick {
  bool armed = false;  // the last left press could be the first half of a double-click
  Window window = 0;
  int x = 0, y = 0;
  Time time = 0;
};

struct X11 {
  Display* display = nullptr;
  int screen = 0;
  Window root = 0;
  Visual* visual = nullptr;
  int depth = 0;
  GC gc = nullptr;
  Atoms atoms{};
  std::vector<HWND> windows;
  std::vector<runtime::Timer*> timers;  // backendData: next deadline, ms on the steady clock
  unsigned long sentBefore = 0;         // every request numbered below this has gone to the server
  PendingPress press;
  LastClick lastClick;
  bool ended = false;
  // Where the pointer was when last asked, kept while no device moves it.
  x11::MotionHint motionHint;
  bool pointerKnown = false;
  bool pointerOnScreen = false;
  POINT pointer{};
  std::int64_t pointerAskedMs = 0;
  // Whether ticks may be left out, and the RandR event that says the screens changed.
  platform::RestGate gate;
  int screenChangeEvent = -1;
};

inline X11& State() {
  static X11 x11;
  return x11;
}

inline std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// X calls that may fail (a window manager's window gone, say) run inside a trap that swallows
// their errors and tells whether one happened. The text of the error stays available to a
// debugger in lastError. Each sync is a round trip, so one is skipped when no request was made
// since the last: there is then no error still to come.
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display) : display_(display) {
    Sync();
    caught_ = false;
    previous_ = XSetErrorHandler(&ErrorTrap::Handle);
  }
  ~ErrorTrap() {
    Sync();
    XSetErrorHandler(previous_);
  }
  bool Caught() {
    Sync();
    return caught_;
  }
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  static inline char lastError[128] = {};

 private:
  void Sync() {
    if (NextRequest(display_) == syncedBefore_) return;
    XSync(display_, False);
    syncedBefore_ = NextRequest(display_);
  }
  static int Handle(Display* display, XErrorEvent* event) {
    caught_ = true;
    XGetErrorText(display, event->error_code, lastError, sizeof lastError);
    return 0;
  }
  static inline bool caught_ = false;
  static inline unsigned long syncedBefore_ = 0;  // every request below it has been answered
  Display* display_;
  int (*previous_)(Display*, XErrorEvent*) = nullptr;
};

// --- x11_init.cpp ---------------------------------------------------------------------------

// Opens the display, or ends the program with one line on stderr when there is none or it does
// not answer in time (display.h). Opened once; later calls return the same connection.
Display* OpenDisplay();

// The desktop's scale, read once: the X resources come with the connection, so this costs no
// round trip.
inline const platform::DisplayScale& Scale() {
  static const platform::DisplayScale scale =
      x11::DesktopScale(std::getenv(x11::kScaleVariable), XResourceManagerString(OpenDisplay()));
  return scale;
}

// The window record of one of the program's windows, or null.
inline HWND Find(Window xid) {
  for (HWND w : State().windows)
    if (w->xid == xid) return w;
  return nullptr;
}

// True when a running, EWMH-compliant window manager lists `hint` as supported.
bool WindowManagerSupports(Atom hint);

// --- x11_pixels.cpp -------------------------------------------------------------------------

// Makes the band-sized image through which a new window's pixels go to the server.
void CreateImage(HWND w);

// Sends the form's display pixels in `area` (clipped to the client area) to the window.
void PutArea(HWND w, const runtime::PixelRect& area);

// Sends what the forms changed since the last flush, for every window marked dirty.
void FlushAll();

// --- x11_events.cpp -------------------------------------------------------------------------

// Hands an event to its handler in the table, if it has one.
void Dispatch(XEvent& e);

// Raises the top-most windows whose raise waited for kRaiseIntervalMs to pass.
void RaiseIfDue();

// --- x11_loop.cpp ---------------------------------------------------------------------------

// Whether the loop sleeps without ticks.
bool Asleep();

// Whether a tick may draw something else, or must draw again, after `e`.
bool WakesTicks(const XEvent& e);

// Waits for events, a deadline or (asleep) raw motion, at most `limitMs` (-1 for no limit).
void WaitForWork(int limitMs, bool asleep);

// After the loop slept: what woke it, and whether the ticks start again.
void WakeIfMoved(bool slept);

// Runs the ticks whose time has come.
void FireDueTimers();

// One round of the event loop with no event filter (PumpOnce below).
void PumpOnce(int limitMs);

// --- x11_move.cpp ---------------------------------------------------------------------------

// Moves the window's top-left corner to (x, y), display pixels of the root window.
void MoveWindowTo(HWND w, int x, int y);

// --- The request pump -----------------------------------------------------------------------

// Sends what Xlib still holds. XFlush also tries to read the connection, twice, which a quiet
// tick has no use for (the loop's poll tells when there is something to read), so it is
// skipped when no request was made since everything last went out.
inline void SendRequests() {
  X11& x = State();
  if (NextRequest(x.display) != x.sentBefore) XFlush(x.display);
  x.sentBefore = NextRequest(x.display);
}

// One round of the event loop: send changed pixels, wait for events or the next timer (at
// most limitMs, -1 for no limit), dispatch what came and fire due timers. `filter` sees each
// event first and may take it.
template <typename Filter>
void PumpOnce(int limitMs, Filter&& filter) {
  X11& x = State();
  FlushAll();
  SendRequests();
  const bool asleep = Asleep();
  WaitForWork(limitMs, asleep);
  while (!x.ended && XEventsQueued(x.display, QueuedAlready) > 0) {
    XEvent e;
    XNextEvent(x.display, &e);
    if (WakesTicks(e)) x.gate.Wake();
    if (e.type == x.screenChangeEvent) XRRUpdateConfiguration(&e);
    if (!filter(e)) Dispatch(e);
  }
  RaiseIfDue();
  if (x.ended) return;
  WakeIfMoved(asleep);
  FireDueTimers();
}

}  // namespace x11

namespace platform {

// The primary monitor's place and size in display pixels (monitors.cpp). X11's own: the other
// backends have no use for it.
XRRMonitorInfo PrimaryMonitor();

}  // namespace platform

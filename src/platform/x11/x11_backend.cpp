// The X11 backend (Xlib, with the XShape, RandR and XInput 2 extensions).
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
// SetWindowRgn, ReleaseCapture, SendMessageA) are implemented at the end of this file. The
// window's place is kept from the events the server sends, so reading it costs no round trip;
// the only round trip of a tick is the pointer query, made only when a second connection has
// heard a device move the pointer (motion_hint.h) or the last answer is a second old.
//
// The desktop's scale (desktop_scale.h) is read once. The window is made and drawn in display
// pixels, from the form's display image; everything the program sees (GetCursorPos,
// GetWindowRect, SetWindowPos, the screen's size, MouseDown, the region it sets) is in 96-dpi
// pixels and converted here, at the edge. The window's place is kept in display pixels.
//
// Start reading at RunEventLoop, then CreateFormWindow and the caption press (SendMessageA).
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/backend.h"
#include "platform/form.h"
#include "platform/posix/process.h"
#include "platform/posix/region.h"
#include "platform/rest_gate.h"
#include "platform/x11/desktop_scale.h"
#include "platform/x11/display.h"
#include "platform/x11/instance.h"
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

namespace {

// Windows' defaults for what makes a press a double-click or a drag.
constexpr Time kDoubleClickMs = 500;
constexpr int kDoubleClickHalfSize = 2;  // a 4 x 4 pixel rectangle around the first press
constexpr int kDragThreshold = 4;
constexpr std::int64_t kRaiseIntervalMs = 500;
// However still the devices are, the pointer is asked for this often: a program may have
// warped it, which no device reports.
constexpr std::int64_t kPointerRecheckMs = 1000;
// Questions asked at once while the program rests (MotionHint::AskLater): one a second.
constexpr int kQuestionsAtOnce = 30;

constexpr long kMoveResizeMove = 8;  // _NET_WM_MOVERESIZE_MOVE
constexpr long kNetWmStateAdd = 1;

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

X11& State() {
  static X11 x11;
  return x11;
}

std::int64_t NowMs() {
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

// Losing the server ends the program quietly: there is nothing left to show.
int OnConnectionLost(Display*) { _exit(1); }

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

// The desktop's scale, read once: the X resources come with the connection, so this costs no
// round trip.
const platform::DisplayScale& Scale() {
  static const platform::DisplayScale scale =
      x11::DesktopScale(std::getenv(x11::kScaleVariable), XResourceManagerString(OpenDisplay()));
  return scale;
}

}  // namespace

Display* x11::Connection() { return OpenDisplay(); }

namespace {

HWND Find(Window xid) {
  for (HWND w : State().windows)
    if (w->xid == xid) return w;
  return nullptr;
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

// --- Pixels ---------------------------------------------------------------------------------

// How one 8-bit channel maps into the visual's pixel value: scaled to the mask's width, then
// shifted into place. Worked out once per visual.
struct Channel {
  int shift = 0;
  unsigned long max = 0;
  explicit Channel(unsigned long mask = 0) {
    if (mask == 0) return;
    while (((mask >> shift) & 1u) == 0) ++shift;
    max = mask >> shift;
  }
  unsigned long Of(unsigned value) const { return ((value * max + 127) / 255) << shift; }
};

unsigned long ServerPixel(COLORREF colour) {
  static const Channel red(State().visual->red_mask), green(State().visual->green_mask),
      blue(State().visual->blue_mask);
  return red.Of(colour & 0xFF) | green.Of((colour >> 8) & 0xFF) | blue.Of((colour >> 16) & 0xFF);
}

// Stores one pixel value in an image. The usual server format, 32 bits a pixel in this
// machine's byte order, is written directly; Xlib converts any other.
void StorePixel(XImage* image, int x, int y, unsigned long pixel) {
  constexpr int kHostByteOrder = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
  if (image->bits_per_pixel == 32 && image->byte_order == kHostByteOrder) {
    const auto value = static_cast<std::uint32_t>(pixel);
    std::memcpy(image->data + static_cast<std::ptrdiff_t>(y) * image->bytes_per_line + x * 4,
                &value, sizeof value);
  } else {
    XPutPixel(image, x, y, pixel);
  }
}

// The window's pixels go to the server a band of rows at a time, converted to its format in
// one band-sized image, so the program keeps no second copy of them.
constexpr int kBandRows = 16;

void CreateImage(HWND w) {
  X11& x = State();
  const int width = w->form->DisplayWidthPixels();
  w->image = XCreateImage(x.display, x.visual, static_cast<unsigned>(x.depth), ZPixmap, 0, nullptr,
                          static_cast<unsigned>(width), kBandRows, 32, 0);
  w->imageBytes.assign(static_cast<std::size_t>(w->image->bytes_per_line) * kBandRows, 0);
  w->image->data = w->imageBytes.data();
}

// Sends the form's display pixels in `area` (clipped to the client area) to the window.
void PutArea(HWND w, const runtime::PixelRect& area) {
  if (!w->mapped) return;
  const runtime::PixelRect r{std::max(area.left, 0), std::max(area.top, 0),
                             std::min(area.right, w->form->DisplayWidthPixels()),
                             std::min(area.bottom, w->form->DisplayHeightPixels())};
  if (r.Empty()) return;
  X11& x = State();
  for (int top = r.top; top < r.bottom; top += kBandRows) {
    const int rows = std::min(kBandRows, r.bottom - top);
    for (int y = 0; y < rows; ++y) {
      const COLORREF* row = w->form->DisplayRow(top + y);
      for (int px = r.left; px < r.right; ++px) StorePixel(w->image, px, y, ServerPixel(row[px]));
    }
    XPutImage(x.display, w->xid, x.gc, w->image, r.left, 0, r.left, top,
              static_cast<unsigned>(r.right - r.left), static_cast<unsigned>(rows));
  }
}

// Sends what the form changed since the last flush, and nothing when no pixel changed.
// Allocates nothing.
void FlushWindow(HWND w) {
  w->dirty = false;
  std::array<runtime::PixelRect, runtime::Form::kMaxDirty> dirty;
  const int count = w->form->TakeDirty(dirty);
  for (int i = 0; i < count; ++i) PutArea(w, dirty[static_cast<std::size_t>(i)]);
}

void FlushAll() {
  for (HWND w : State().windows)
    if (w->dirty) FlushWindow(w);
}

// --- Event handlers -------------------------------------------------------------------------

void OnExpose(XEvent& e) {
  HWND w = Find(e.xexpose.window);
  if (w == nullptr) return;
  PutArea(
      w, {e.xexpose.x, e.xexpose.y, e.xexpose.x + e.xexpose.width, e.xexpose.y + e.xexpose.height});
}

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

void Dispatch(XEvent& e) {
  if (e.type >= 0 && e.type < LASTEvent && kHandlers[static_cast<std::size_t>(e.type)] != nullptr)
    kHandlers[static_cast<std::size_t>(e.type)](e);
}

// --- Resting --------------------------------------------------------------------------------

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

// The screens' layout changing may move the pointer without a device, and the window with it.
void ListenForScreenChanges() {
  X11& x = State();
  int event = 0, error = 0;
  if (x.screenChangeEvent >= 0 || !XRRQueryExtension(x.display, &event, &error)) return;
  x.screenChangeEvent = event + RRScreenChangeNotify;
  XRRSelectInput(x.display, x.root, RRScreenChangeNotifyMask);
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

// Sends what Xlib still holds. XFlush also tries to read the connection, twice, which a quiet
// tick has no use for (the loop's poll tells when there is something to read), so it is
// skipped when no request was made since everything last went out.
void SendRequests() {
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

void PumpOnce(int limitMs) {
  PumpOnce(limitMs, [](XEvent&) { return false; });
}

// --- Caption press --------------------------------------------------------------------------

// Moves the window's top-left corner to (x, y), display pixels of the root window.
void MoveWindowTo(HWND w, int x, int y) {
  // X coordinates are 16-bit: a place beyond them is clamped rather than wrapped around.
  x = std::clamp(x, -32768, 32767);
  y = std::clamp(y, -32768, 32767);
  XMoveWindow(State().display, w->xid, x, y);
  const LONG width = w->rect.right - w->rect.left, height = w->rect.bottom - w->rect.top;
  w->rect = {x, y, x + width, y + height};
}

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

// --- Window set-up --------------------------------------------------------------------------

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

DisplayScale GetDisplayScale() { return Scale(); }

int ScreenWidthPixels() { return Scale().ToLogical(PrimaryMonitor().width); }

int TwipsPerPixelX() { return 15; }
int TwipsPerPixelY() { return 15; }

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

// --- The Win32-named services ---------------------------------------------------------------

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

// The program never captures the pointer explicitly; the press's own grab stays in force so
// the caption press can follow the pointer.
BOOL ReleaseCapture() { return TRUE; }

LRESULT SendMessageA(HWND w, UINT message, WPARAM wParam, LPARAM) {
  if (w == nullptr) return 0;
  if (message == WM_NCLBUTTONDOWN && wParam == HTCAPTION) CaptionPress(w);
  return 0;
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

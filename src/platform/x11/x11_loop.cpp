// The X11 backend's event loop: timers, resting while nothing moves, waiting on the connection
// until the next deadline, and the pointer query (GetCursorPos). One round of it (PumpOnce) and
// the state it runs on are in x11_internal.h. On a Wayland desktop whose compositor tells where
// the pointer is (compositor_pointer.h), the compositor's messages take the place of the
// pointer query and the motion hint: the loop then sleeps until one comes, with no wake-up at
// all while the pointer rests.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "platform/backend.h"
#include "platform/form.h"
#include "platform/posix/process.h"
#include "platform/x11/compositor_pointer.h"
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

// Takes what the compositor sent: true when it tells a new place, which LearnPointer then has.
bool LearnFromCompositor() {
  X11& x = State();
  const bool changed = ReadCompositorPointer();
  const auto at =
      CompositorPointerAt(DisplayWidth(x.display, x.screen), DisplayHeight(x.display, x.screen));
  if (!at) return false;
  LearnPointer(true, at->x, at->y);
  return changed;
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
  if (asleep && CompositorPointerActive()) {
    // The compositor says when the pointer moves, and nothing while it rests.
  } else if (asleep) {
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

// The loop sleeps without ticks while the last ticks read the same inputs and the compositor
// or the motion hint will say when the pointer moves. Without either it never sleeps.
bool Asleep() {
  return State().gate.Resting() && (CompositorPointerActive() || State().motionHint.Listening());
}

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

// After the loop slept: the compositor's message, raw motion, or the once-a-second question
// finding the pointer elsewhere, wakes it; and a woken loop runs its ticks at once, not a
// period later.
void WakeIfMoved(bool slept) {
  X11& x = State();
  if (!slept) return;
  if (CompositorPointerActive()) {
    if (LearnFromCompositor()) x.gate.CursorNow(x.pointerOnScreen, x.pointer);
  } else if (x.motionHint.Moved()) {
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

// Waits for events (or, asleep, for the compositor's message or raw motion) until MsToWake
// says, and reads what came. A signal that ends the program is taken here too, so that the
// compositor's script goes first.
void WaitForWork(int limitMs, bool asleep) {
  X11& x = State();
  // Only read from the connection when poll says there is something: a quiet tick then costs
  // one poll and one read of the motion hint, and no reads that would find nothing.
  if (XEventsQueued(x.display, QueuedAlready) != 0) return;
  const bool compositor = CompositorPointerActive();
  if (asleep && !compositor) AskBeforeSleeping();
  const int moves = compositor ? CompositorPointerDescriptor() : x.motionHint.Descriptor();
  pollfd fds[3] = {{ConnectionNumber(x.display), POLLIN, 0},
                   {asleep ? moves : -1, POLLIN, 0},
                   {CompositorEndSignalDescriptor(), POLLIN, 0}};
  if (poll(fds, 3, MsToWake(limitMs, asleep)) <= 0) return;
  if (fds[2].revents != 0) ReadCompositorPointer();  // ends the program
  if (fds[0].revents != 0) XEventsQueued(x.display, QueuedAfterReading);
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
  // then all open before its first tick. On a Wayland desktop the compositor may tell instead.
  if (!StartCompositorPointer(DisplayString(State().display)))
    State().motionHint.Open(State().display);
  while (!State().ended) PumpOnce(-1);
}

// Ends with status 1 when something the user asked for failed (a save that could not be written).
void EndProgram() {
  State().ended = true;
  EndCompositorPointer();
  _exit(posix::ExitStatus());
}

}  // namespace platform

// Takes the compositor's place where it tells one; else asks the server unless the motion hint
// knows the pointer has not moved since the last answer, and that answer is less than a second
// old.
BOOL GetCursorPos(POINT* point) {
  if (point == nullptr) return FALSE;
  X11& x = State();
  Display* d = OpenDisplay();
  if (CompositorPointerActive() && (LearnFromCompositor() || x.pointerKnown)) {
    x.gate.ReadCursor(x.pointerOnScreen, x.pointer);
    *point = {Scale().ToLogical(x.pointer.x), Scale().ToLogical(x.pointer.y)};
    return TRUE;
  }
  if (!x.pointerKnown) x.motionHint.Open(d);
  const bool moved = x.motionHint.Moved();
  if (moved || !x.pointerKnown || NowMs() - x.pointerAskedMs >= kPointerRecheckMs) AskPointer();
  x.gate.ReadCursor(x.pointerOnScreen, x.pointer);
  if (!x.pointerOnScreen) return FALSE;  // the pointer is on another screen
  *point = {Scale().ToLogical(x.pointer.x), Scale().ToLogical(x.pointer.y)};
  return TRUE;
}

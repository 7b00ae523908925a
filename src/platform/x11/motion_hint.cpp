#include "platform/x11/motion_hint.h"

#include <X11/extensions/XInput2.h>
#include <poll.h>

namespace x11 {

MotionHint::~MotionHint() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

void MotionHint::Open(Display* main) {
  if (display_ != nullptr || main == nullptr) return;
  Display* d = XOpenDisplay(DisplayString(main));
  if (d == nullptr) return;
  int event, error;
  // 2.1 or later: raw motion then comes even while another client has grabbed the pointer,
  // as a window manager does while it moves a window.
  int major = 2, minor = 2;
  if (!XQueryExtension(d, "XInputExtension", &opcode_, &event, &error) ||
      XIQueryVersion(d, &major, &minor) != Success || major < 2 || (major == 2 && minor < 1)) {
    XCloseDisplay(d);
    return;
  }
  display_ = d;
  state_ = State::kAsking;
}

void MotionHint::Listen(bool on) {
  // What came after listening last stopped, before the server took that in, is stale.
  if (on) Drain();
  unsigned char bits[XIMaskLen(XI_RawMotion)] = {};
  if (on) XISetMask(bits, XI_RawMotion);
  XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
  XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1);
  XFlush(display_);
}

bool MotionHint::Drain() {
  // Most ticks find nothing: one poll that does not wait says so without waking Xlib.
  pollfd fd{ConnectionNumber(display_), POLLIN, 0};
  if (XEventsQueued(display_, QueuedAlready) == 0 && poll(&fd, 1, 0) <= 0) return false;
  bool heard = false;
  for (int n = XEventsQueued(display_, QueuedAfterReading); n > 0; --n) {
    XEvent e;
    XNextEvent(display_, &e);
    if (e.type == GenericEvent && e.xcookie.extension == opcode_) heard = true;
  }
  return heard;
}

bool MotionHint::Moved() {
  switch (state_) {
    case State::kOff:
    case State::kAsking:
      return true;
    case State::kArming:
      heard_ = Drain() || heard_;
      return true;
    case State::kListening:
      if (!Drain()) return false;
      Listen(false);
      state_ = State::kAsking;
      still_ = 0;
      return true;
  }
  return true;
}

void MotionHint::Answered(bool changed) {
  switch (state_) {
    case State::kOff:
      return;
    case State::kAsking:
      still_ = changed ? 0 : still_ + 1;
      if (still_ < kStillAnswers) return;
      // Listening starts a tick before it is relied on: the next answer, asked after the
      // server has taken the selection, covers any motion made while it was on its way.
      Listen(true);
      state_ = State::kArming;
      heard_ = false;
      return;
    case State::kArming:
    case State::kListening:
      if (!changed && !heard_) {
        state_ = State::kListening;
        return;
      }
      // Moving (or warped, which no device reports): ask every tick again.
      Listen(false);
      state_ = State::kAsking;
      still_ = 0;
      heard_ = false;
      return;
  }
}

}  // namespace x11

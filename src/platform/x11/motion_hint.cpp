#include "platform/x11/motion_hint.h"

#include <X11/Xlibint.h>
#include <X11/Xproto.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/sync.h>
#include <poll.h>

#include <cstring>

namespace x11 {

struct MotionHint::Question {
  XSyncCounter clock = None;    // SERVERTIME
  XSyncCounter callOff = None;  // the hint's own counter, raised to end the waits early
  int calledOff = 0;            // its value
  bool broken = false;          // the server refused a question: none are asked any more
  // The batch of questions on their way: an Await then a pointer query each, in a row.
  unsigned long firstRequest = 0;  // the sequence number of the first Await
  int asked = 0, answered = 0;
  bool stale = false;  // the batch was called off: its answers are old
  _XAsyncHandler handler{};
  std::optional<Answer> answer;

  bool Pending() const { return answered < asked; }
  static Bool OnReply(Display* display, xReply* reply, char* buffer, int length, XPointer data);
};

MotionHint::MotionHint() = default;

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
  main_ = main;
  state_ = State::kAsking;
  OpenQuestions();
}

void MotionHint::OpenQuestions() {
  int event, error, major, minor;
  if (!XSyncQueryExtension(display_, &event, &error) ||
      !XSyncInitialize(display_, &major, &minor) || !XSyncQueryExtension(main_, &event, &error) ||
      !XSyncInitialize(main_, &major, &minor))
    return;
  XSyncCounter clock = None;
  int count = 0;
  XSyncSystemCounter* counters = XSyncListSystemCounters(display_, &count);
  for (int i = 0; i < count; ++i)
    if (std::strcmp(counters[i].name, "SERVERTIME") == 0) clock = counters[i].counter;
  if (counters != nullptr) XSyncFreeSystemCounterList(counters);
  if (clock == None) return;
  XSyncValue zero;
  XSyncIntToValue(&zero, 0);
  question_ = std::make_unique<Question>();
  question_->clock = clock;
  question_->callOff = XSyncCreateCounter(display_, zero);
}

bool MotionHint::Asking() const { return question_ && question_->Pending(); }

bool MotionHint::AskLater(int firstAfterMs, int count, int everyMs) {
  if (display_ == nullptr || !question_ || question_->broken) return false;
  Question& q = *question_;
  if (q.Pending()) return true;
  // Each question waits for whichever comes first: the server's clock so far on from when the
  // server comes to it, or the counter raised.
  XSyncWaitCondition wait[2] = {};
  wait[0].trigger.counter = q.clock;
  wait[0].trigger.value_type = XSyncRelative;
  wait[0].trigger.test_type = XSyncPositiveComparison;
  wait[1].trigger.counter = q.callOff;
  wait[1].trigger.value_type = XSyncAbsolute;
  XSyncIntToValue(&wait[1].trigger.wait_value, q.calledOff + 1);
  wait[1].trigger.test_type = XSyncPositiveComparison;
  // No CounterNotify events: the answers are all the program waits for.
  for (XSyncWaitCondition& w : wait) XSyncMaxValue(&w.event_threshold);

  q.firstRequest = NextRequest(display_);
  for (int i = 0; i < count; ++i) {
    XSyncIntToValue(&wait[0].trigger.wait_value, i == 0 ? firstAfterMs : everyMs);
    XSyncAwait(display_, wait, 2);
    // The pointer query, its reply taken by the handler whenever Xlib reads the connection.
    Display* dpy = display_;  // the name Xlib's request macros use
    LockDisplay(dpy);
    xResourceReq* request;
    GetResReq(QueryPointer, DefaultRootWindow(dpy), request);
    UnlockDisplay(dpy);
  }
  q.asked = count;
  q.answered = 0;
  q.stale = false;
  q.handler.next = display_->async_handlers;
  q.handler.handler = &Question::OnReply;
  q.handler.data = reinterpret_cast<XPointer>(&q);
  display_->async_handlers = &q.handler;
  XFlush(display_);
  return true;
}

Bool MotionHint::Question::OnReply(Display* display, xReply* reply, char* buffer, int length,
                                   XPointer data) {
  Question& q = *reinterpret_cast<Question*>(data);
  const unsigned long offset = X_DPY_GET_LAST_REQUEST_READ(display) - q.firstRequest;
  if (offset >= 2 * static_cast<unsigned long>(q.asked)) return False;  // not one of ours
  if (reply->generic.type == X_Error) {
    // No more questions; the loop then asks by itself.
    q.broken = true;
    q.answered = q.asked;
  } else {
    ++q.answered;
    xQueryPointerReply copy;
    const auto* answer = reinterpret_cast<const xQueryPointerReply*>(
        _XGetAsyncReply(display, reinterpret_cast<char*>(&copy), reply, buffer, length,
                        (SIZEOF(xQueryPointerReply) - SIZEOF(xReply)) >> 2, True));
    if (!q.stale) q.answer = Answer{answer->sameScreen != 0, answer->rootX, answer->rootY};
  }
  if (!q.Pending()) DeqAsyncHandler(display, &q.handler);
  return True;
}

std::optional<MotionHint::Answer> MotionHint::TakeAnswer() {
  if (!question_) return std::nullopt;
  if (question_->Pending()) Drain();
  std::optional<Answer> answer = question_->answer;
  question_->answer.reset();
  return answer;
}

void MotionHint::CallOff() {
  if (!Asking()) return;
  XSyncValue value;
  XSyncIntToValue(&value, ++question_->calledOff);
  XSyncSetCounter(main_, question_->callOff, value);
  question_->stale = true;
  question_->answer.reset();
  XFlush(main_);
}

void MotionHint::Listen(bool on) {
  // What came after listening last stopped, before the server took that in, is stale. Stopping
  // must not wait behind a question held back.
  if (on) Drain();
  if (!on) CallOff();
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

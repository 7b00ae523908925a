// Tells whether the pointer may have moved since it was last asked about, without a round trip.
#pragma once

#include <X11/Xlib.h>

namespace x11 {

// A second connection to the server that can hear the raw motion of the pointer devices
// (XInput 2) on the root window. While the program ticks it is read only when asked and never
// waited on, so it wakes nobody; a still pointer then costs one read that finds nothing instead
// of a pointer query and its reply. While the program rests (no ticks), the event loop waits on
// it too, so that the first motion wakes it.
//
// Raw motion arrives at the device's own rate (hundreds a second for some mice), which costs
// the server more than a query a tick. So the hint listens only while the pointer stands
// still: the first motion heard turns listening off and the caller asks every tick; after a
// few answers in a row that find the pointer where it was, listening starts again.
//
// A pointer warped by a program makes no raw motion: callers ask the server now and then
// whatever the hint says, and tell it what they found (Answered).
class MotionHint {
 public:
  MotionHint() = default;
  MotionHint(const MotionHint&) = delete;
  MotionHint& operator=(const MotionHint&) = delete;
  ~MotionHint();

  // Connects to the display `main` is connected to. Without XInput 2.1 or later there is no
  // hint, and Moved() always says yes.
  void Open(Display* main);

  // True when the pointer should be asked for: it may have moved, or nobody is listening.
  bool Moved();

  // What the last question found: `changed` when the pointer was elsewhere than before.
  void Answered(bool changed);

  // True while the hint listens and has heard nothing since the pointer was last asked for:
  // until Moved() says otherwise, the pointer is where it was (or a program warped it).
  bool Listening() const { return state_ == State::kListening; }
  // The connection raw motion arrives on, for a loop that sleeps until some does; -1 if none.
  int Descriptor() const { return display_ != nullptr ? ConnectionNumber(display_) : -1; }

  // Answers in a row that find the pointer still before listening starts again.
  static constexpr int kStillAnswers = 3;

 private:
  enum class State { kOff, kAsking, kArming, kListening };
  bool Drain();          // takes what arrived; true when it held raw motion
  void Listen(bool on);  // selects raw motion on the root window, or stops it

  Display* display_ = nullptr;
  int opcode_ = 0;
  State state_ = State::kOff;
  int still_ = 0;       // answers in a row that found the pointer still
  bool heard_ = false;  // raw motion heard while arming
};

}  // namespace x11

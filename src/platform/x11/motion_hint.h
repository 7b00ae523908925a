// Tells whether the pointer may have moved since it was last asked about, without a round trip.
#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <optional>

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
// whatever the hint says, and tell it what they found (Answered). While the program rests it
// asks through the hint (AskLater): the server holds each question back for a second (SYNC's
// Await on its SERVERTIME counter) and only then answers, so the answer itself wakes the
// program, once, rather than a timer and then the answer. Device motion heard meanwhile calls
// the questions off (a counter of the hint's own, set from the main connection), since the
// connection does nothing else until they are answered.
class MotionHint {
 public:
  MotionHint();
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

  // Where the pointer is, as the server answered a question.
  struct Answer {
    bool onScreen = false;
    int x = 0, y = 0;
  };
  // Asks where the pointer is, `count` times: first `firstAfterMs` milliseconds from now, then
  // every `everyMs`, each answer coming on the hint's connection (the loop waits on it while it
  // rests). Asking several at once spares a request, and the server's wake-up that preempts
  // the program, after each answer. False when the server cannot hold questions back; true,
  // and nothing more is sent, while some are pending.
  bool AskLater(int firstAfterMs, int count, int everyMs);
  bool Asking() const;
  // The answer that came, once; nothing if none came since the last call.
  std::optional<Answer> TakeAnswer();

 private:
  enum class State { kOff, kAsking, kArming, kListening };
  bool Drain();          // takes what arrived; true when it held raw motion
  void Listen(bool on);  // selects raw motion on the root window, or stops it
  void OpenQuestions();  // finds the server's clock and makes the counter that calls off
  void CallOff();        // ends the wait of a pending question at once

  struct Question;  // the question held back, answered through Xlib's asynchronous replies

  Display* display_ = nullptr;
  Display* main_ = nullptr;
  std::unique_ptr<Question> question_;
  int opcode_ = 0;
  State state_ = State::kOff;
  int still_ = 0;       // answers in a row that found the pointer still
  bool heard_ = false;  // raw motion heard while arming
};

}  // namespace x11

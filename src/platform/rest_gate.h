// When the event loop may leave timer ticks out, and when it must run one again.
//
// A tick of the eye tracker reads two things from the window system, the pointer and its
// window's rectangle, and draws from them alone: a tick that reads what the tick before it read
// draws the same pixels again. So once kStillTicks ticks in a row have each read the same as the
// one before, the loop rests and runs no tick, until the backend learns that an input may now
// differ from what the last tick read, or of anything else that may change what the window shows
// (an expose, a screen change). Then it wakes: a tick runs at once, and the timers keep their
// period until the inputs rest again. The ticks left out are only ever those whose inputs are
// unchanged; what a tick computes and draws is the same either way.
//
// Backends report what each tick reads (ReadCursor, ReadWindow, between BeginTick and EndTick;
// reads outside a tick do not count) and what they learn between ticks (CursorNow, WindowNow,
// Wake). A tick that reads neither the pointer nor a window keeps the loop awake: what it shows
// depends on something else.
#pragma once

#include <array>

#include "platform/win32_api.h"

namespace platform {

class RestGate {
 public:
  // Ticks in a row that must read the same as the tick before them before the loop rests.
  static constexpr int kStillTicks = 3;

  void BeginTick();
  void ReadCursor(bool onScreen, POINT at);
  void ReadWindow(HWND window, RECT rect);
  void EndTick();

  // What the backend learnt between ticks: the pointer or a window is now as given, which wakes
  // the loop when the last tick read something else; or something that is no input of a tick
  // changed what may be shown, or an input changed in a way the backend cannot tell.
  void CursorNow(bool onScreen, POINT at);
  void WindowNow(HWND window, RECT rect);
  void Wake();

  // True while ticks may be left out.
  bool Resting() const { return still_ >= kStillTicks && !woken_; }

 private:
  struct Reading {
    HWND window = nullptr;  // null for the pointer
    bool onScreen = false;
    RECT value{};  // the pointer in left and top
    bool operator==(const Reading& other) const {
      return window == other.window && onScreen == other.onScreen &&
             value.left == other.value.left && value.top == other.value.top &&
             value.right == other.value.right && value.bottom == other.value.bottom;
    }
  };
  static constexpr int kMaxReadings = 8;
  using Readings = std::array<Reading, kMaxReadings>;

  void Record(const Reading& reading);
  // Wakes unless the last tick read `reading`'s source as `reading` has it (or never read it).
  void Compare(const Reading& reading);

  Readings last_{}, current_{};
  int lastCount_ = 0, currentCount_ = 0;
  bool inTick_ = false;
  bool overflow_ = false;  // the tick read more than kMaxReadings things
  int still_ = 0;
  bool woken_ = false;
};

}  // namespace platform

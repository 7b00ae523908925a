#include "platform/rest_gate.h"

#include <algorithm>

namespace platform {

void RestGate::BeginTick() {
  inTick_ = true;
  currentCount_ = 0;
  overflow_ = false;
}

void RestGate::ReadCursor(bool onScreen, POINT at) {
  Record({nullptr, onScreen, {at.x, at.y, 0, 0}});
}

void RestGate::ReadWindow(HWND window, RECT rect) { Record({window, true, rect}); }

void RestGate::Record(const Reading& reading) {
  if (!inTick_) return;
  if (currentCount_ == kMaxReadings) {
    overflow_ = true;
    return;
  }
  current_[static_cast<std::size_t>(currentCount_++)] = reading;
}

void RestGate::EndTick() {
  inTick_ = false;
  const bool same = !overflow_ && currentCount_ > 0 && currentCount_ == lastCount_ &&
                    std::equal(current_.begin(), current_.begin() + currentCount_, last_.begin());
  still_ = same ? std::min(still_ + 1, kStillTicks) : 0;
  last_ = current_;
  lastCount_ = overflow_ ? 0 : currentCount_;
  woken_ = false;
}

void RestGate::CursorNow(bool onScreen, POINT at) {
  Compare({nullptr, onScreen, {at.x, at.y, 0, 0}});
}

void RestGate::WindowNow(HWND window, RECT rect) { Compare({window, true, rect}); }

void RestGate::Compare(const Reading& reading) {
  for (int i = 0; i < lastCount_; ++i) {
    const Reading& read = last_[static_cast<std::size_t>(i)];
    if (read.window == reading.window && !(read == reading)) woken_ = true;
  }
}

void RestGate::Wake() { woken_ = true; }

}  // namespace platform

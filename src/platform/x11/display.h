// Opening the connection to the X server at start-up, with a bound on how long the server may
// take to answer, and the program's one connection for the files of the backend.
#pragma once

#include <X11/Xlib.h>
#include <signal.h>

namespace x11 {

// How long a display may take to answer at start-up: long enough for a loaded machine or a
// remote display, short enough that a user who started the program sees why nothing came.
inline constexpr unsigned kDisplayAnswerSeconds = 5;

// While one lives, a display that keeps the program waiting longer than `seconds` (a stopped
// server accepts the connection and never answers) ends the process: one line on stderr naming
// the display, status 1. One at a time; everything it guards must be answered before it goes.
class AnswerDeadline {
 public:
  explicit AnswerDeadline(unsigned seconds = kDisplayAnswerSeconds);
  ~AnswerDeadline();
  AnswerDeadline(const AnswerDeadline&) = delete;
  AnswerDeadline& operator=(const AnswerDeadline&) = delete;

 private:
  struct sigaction previous_ {};
};

// Opens the display named by DISPLAY. When DISPLAY is unset or empty, or names a display that
// cannot be opened, prints one line on stderr saying so and ends the process with status 1.
// Call it under an AnswerDeadline.
Display* OpenDisplayOrExit();

// The backend's connection, opened on first use (x11_init.cpp).
Display* Connection();

}  // namespace x11

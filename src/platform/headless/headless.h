// Controls and observations of the headless backend, for tests. The headless backend keeps
// everything a window system would in memory: the window's rectangle, visibility, top-most
// flag and region, the cursor, the screen and the running timers. Nothing happens by itself:
// a test moves the cursor and fires the timers.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/display_scale.h"
#include "platform/posix/region.h"
#include "platform/win32_api.h"

namespace headless {

struct WindowState {
  RECT rect{};  // outer rectangle, screen pixels
  bool visible = false;
  bool topmost = false;
  bool activated = false;
  HRGN region = nullptr;  // owned by the window once set
  int regionsSet = 0;
  int captionPresses = 0;  // WM_NCLBUTTONDOWN with HTCAPTION received
  int invalidations = 0;
};

// Puts the backend back to its first state: one screen of 1920 x 1080 pixels, cursor at (0, 0), no
// timers, not ended, executable path as the process's own, no other instance.
void Reset();

void SetCursor(int x, int y);
void SetScreenWidth(int pixels);
void SetScreenHeight(int pixels);
// The monitors, screen pixels; none set (the default) means one monitor covering the screen.
void SetMonitors(std::vector<RECT> monitors);
void SetExecutablePath(const std::string& path);
// As when the system cannot tell the program its own path (ExecutablePath is empty).
void SetExecutablePathUnknown();
void SetPreviousInstance(bool running);
// The scale forms are shown at (1x after Reset); takes effect for forms loaded afterwards.
void SetDisplayScale(platform::DisplayScale scale);
// The window's scale changes while it runs, as when it moves to a monitor of another scale: its
// form draws its display image again (Form::RaiseScaleChanged) and the loop wakes. The window's
// rectangle stays in 96-dpi pixels, as the program sees it.
void ChangeDisplayScale(HWND window, platform::DisplayScale scale);

// Called inside a caption press (as the window system's move loop would run), so a test can
// move the window and fire ticks while the press lasts.
void SetCaptionPressAction(std::function<void(HWND)> action);

// Fires one tick of every running timer, as the loop would when a period is up: none once the
// program has ended, and none while the inputs rest (platform::RestGate). Returns the ticks run.
int FireTimers();
// Tells the loop that something a tick does not read changed what is shown (an expose, a
// screen change): the next FireTimers runs a tick even at rest.
void Wake();
int RunningTimers();

bool Ended();
int ReleaseCaptureCalls();
int CreatedWindows();
WindowState& State(HWND window);

}  // namespace headless

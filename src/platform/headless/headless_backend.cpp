// The headless backend: a complete backend without a window system, for the unit tests. It
// remembers what a window system would (see headless.h) and reports nothing by itself.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/form.h"
#include "platform/headless/headless.h"
#include "platform/posix/process.h"

struct HWND__ {
  runtime::Form* form = nullptr;
  headless::WindowState state;
};

namespace {

struct Backend {
  int screenWidth = 1920;
  POINT cursor{};
  std::vector<runtime::Timer*> timers;
  bool ended = false;
  std::string exePath;
  bool previousInstance = false;
  int releaseCaptureCalls = 0;
  int createdWindows = 0;
  std::function<void(HWND)> captionPress;
};

Backend& State() {
  static Backend backend;
  return backend;
}

}  // namespace

namespace headless {

void Reset() { State() = Backend{}; }
void SetCursor(int x, int y) { State().cursor = {x, y}; }
void SetScreenWidth(int pixels) { State().screenWidth = pixels; }
void SetExecutablePath(const std::string& path) { State().exePath = path; }
void SetPreviousInstance(bool running) { State().previousInstance = running; }
void SetCaptionPressAction(std::function<void(HWND)> action) {
  State().captionPress = std::move(action);
}

void FireTimers() {
  // Copy: a tick may start or stop timers.
  const std::vector<runtime::Timer*> timers = State().timers;
  for (runtime::Timer* timer : timers)
    if (!State().ended) timer->RaiseTimer();
}

int RunningTimers() { return static_cast<int>(State().timers.size()); }
bool Ended() { return State().ended; }
int ReleaseCaptureCalls() { return State().releaseCaptureCalls; }
int CreatedWindows() { return State().createdWindows; }
WindowState& State(HWND window) { return window->state; }

}  // namespace headless

namespace platform {

HWND CreateFormWindow(runtime::Form& form) {
  auto* window = new HWND__;
  window->form = &form;
  window->state.rect = {0, 0, form.ClientWidthPixels(), form.ClientHeightPixels()};
  ++State().createdWindows;
  return window;
}

void DestroyFormWindow(HWND window) {
  if (window->state.region != nullptr) DeleteObject(window->state.region);
  delete window;
}

void ShowFormWindow(HWND window) { window->state.visible = true; }
void InvalidateFormWindow(HWND window) { ++window->state.invalidations; }

void StartTimer(runtime::Timer& timer) {
  auto& timers = State().timers;
  if (std::find(timers.begin(), timers.end(), &timer) == timers.end()) timers.push_back(&timer);
}

void StopTimer(runtime::Timer& timer) {
  auto& timers = State().timers;
  timers.erase(std::remove(timers.begin(), timers.end(), &timer), timers.end());
}

int ScreenWidthPixels() { return State().screenWidth; }
int TwipsPerPixelX() { return 15; }
int TwipsPerPixelY() { return 15; }
void RunEventLoop() {}
void EndProgram() { State().ended = true; }

std::string ExecutablePath() {
  return State().exePath.empty() ? posix::OwnExecutablePath() : State().exePath;
}

bool IsPreviousInstanceRunning() { return State().previousInstance; }

}  // namespace platform

BOOL GetCursorPos(POINT* point) {
  if (point == nullptr) return FALSE;
  *point = State().cursor;
  return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
  if (window == nullptr || rect == nullptr) return FALSE;
  *rect = window->state.rect;
  return TRUE;
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  if (window == nullptr) return FALSE;
  RECT& r = window->state.rect;
  if (!(flags & SWP_NOMOVE)) {
    const LONG width = r.right - r.left, height = r.bottom - r.top;
    r = {x, y, x + width, y + height};
  }
  if (!(flags & SWP_NOSIZE)) {
    r.right = r.left + cx;
    r.bottom = r.top + cy;
  }
  if (!(flags & SWP_NOZORDER)) {
    if (insertAfter == HWND_TOPMOST) window->state.topmost = true;
    if (insertAfter == HWND_NOTOPMOST) window->state.topmost = false;
  }
  if (!(flags & SWP_NOACTIVATE)) window->state.activated = true;
  return TRUE;
}

BOOL ReleaseCapture() {
  ++State().releaseCaptureCalls;
  return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM) {
  if (window == nullptr) return 0;
  if (message == WM_NCLBUTTONDOWN && wParam == HTCAPTION) {
    ++window->state.captionPresses;
    if (State().captionPress) State().captionPress(window);
  }
  return 0;
}

int SetWindowRgn(HWND window, HRGN region, BOOL) {
  if (window == nullptr) return 0;
  if (window->state.region != nullptr) DeleteObject(window->state.region);
  window->state.region = region;
  ++window->state.regionsSet;
  return 1;
}

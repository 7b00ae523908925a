// The headless backend: a complete backend without a window system, for the unit tests. It
// remembers what a window system would (see headless.h) and reports nothing by itself. Its
// timers rest as the real backends' do (rest_gate.h): a tick whose inputs did not change since
// the ticks before it is left out.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/form.h"
#include "platform/headless/headless.h"
#include "platform/posix/process.h"
#include "platform/rest_gate.h"

struct HWND__ {
  runtime::Form* form = nullptr;
  headless::WindowState state;
};

namespace {

struct Backend {
  int screenWidth = 1920;
  int screenHeight = 1080;
  std::vector<RECT> monitors;  // empty: one monitor covering the screen
  POINT cursor{};
  std::vector<runtime::Timer*> timers;
  bool ended = false;
  std::string exePath;
  bool exePathUnknown = false;
  bool previousInstance = false;
  platform::DisplayScale scale;
  int releaseCaptureCalls = 0;
  int createdWindows = 0;
  std::function<void(HWND)> captionPress;
  platform::RestGate gate;
};

Backend& Self() {
  static Backend backend;
  return backend;
}

}  // namespace

namespace headless {

void Reset() { Self() = Backend{}; }
void SetCursor(int x, int y) {
  Self().cursor = {x, y};
  Self().gate.CursorNow(true, Self().cursor);
}
void SetScreenWidth(int pixels) { Self().screenWidth = pixels; }
void SetScreenHeight(int pixels) { Self().screenHeight = pixels; }
void SetMonitors(std::vector<RECT> monitors) { Self().monitors = std::move(monitors); }
void SetExecutablePath(const std::string& path) { Self().exePath = path; }
void SetExecutablePathUnknown() { Self().exePathUnknown = true; }
void SetPreviousInstance(bool running) { Self().previousInstance = running; }
void SetDisplayScale(platform::DisplayScale scale) { Self().scale = scale; }
void ChangeDisplayScale(HWND window, platform::DisplayScale scale) {
  Self().scale = scale;
  if (window->form->RaiseScaleChanged(scale)) Self().gate.Wake();
}
void SetCaptionPressAction(std::function<void(HWND)> action) {
  Self().captionPress = std::move(action);
}

int FireTimers() {
  // Copy: a tick may start or stop timers.
  const std::vector<runtime::Timer*> timers = Self().timers;
  int ticks = 0;
  for (runtime::Timer* timer : timers) {
    platform::RestGate& gate = Self().gate;
    if (Self().ended || gate.Resting()) continue;
    gate.BeginTick();
    timer->RaiseTimer();
    gate.EndTick();
    ++ticks;
  }
  return ticks;
}

void Wake() { Self().gate.Wake(); }

int RunningTimers() { return static_cast<int>(Self().timers.size()); }
bool Ended() { return Self().ended; }
int ReleaseCaptureCalls() { return Self().releaseCaptureCalls; }
int CreatedWindows() { return Self().createdWindows; }
WindowState& State(HWND window) { return window->state; }

}  // namespace headless

namespace platform {

DisplayScale GetDisplayScale() { return Self().scale; }

HWND CreateFormWindow(runtime::Form& form) {
  auto* window = new HWND__;
  window->form = &form;
  window->state.rect = {0, 0, form.ClientWidthPixels(), form.ClientHeightPixels()};
  ++Self().createdWindows;
  return window;
}

void DestroyFormWindow(HWND window) {
  if (window->state.region != nullptr) DeleteObject(window->state.region);
  delete window;
}

void ShowFormWindow(HWND window) { window->state.visible = true; }
void InvalidateFormWindow(HWND window) { ++window->state.invalidations; }

void StartTimer(runtime::Timer& timer) {
  auto& timers = Self().timers;
  if (std::find(timers.begin(), timers.end(), &timer) == timers.end()) timers.push_back(&timer);
}

void StopTimer(runtime::Timer& timer) {
  auto& timers = Self().timers;
  timers.erase(std::remove(timers.begin(), timers.end(), &timer), timers.end());
}

int ScreenWidthPixels() { return Self().screenWidth; }
int TwipsPerPixelX() { return 15; }
int TwipsPerPixelY() { return 15; }
void RunEventLoop() {}
void EndProgram() { Self().ended = true; }

std::string ExecutablePath() {
  if (Self().exePathUnknown) return {};
  return Self().exePath.empty() ? posix::OwnExecutablePath() : Self().exePath;
}

bool IsPreviousInstanceRunning() { return Self().previousInstance; }

}  // namespace platform

BOOL GetCursorPos(POINT* point) {
  if (point == nullptr) return FALSE;
  *point = Self().cursor;
  Self().gate.ReadCursor(true, *point);
  return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
  if (window == nullptr || rect == nullptr) return FALSE;
  *rect = window->state.rect;
  Self().gate.ReadWindow(window, *rect);
  return TRUE;
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  if (window == nullptr) return FALSE;
  RECT& r = window->state.rect;
  // Edges beyond the 32-bit range stop at its end, as a window system's would.
  auto edge = [](std::int64_t value) {
    return static_cast<LONG>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
  };
  if (!(flags & SWP_NOMOVE)) {
    const std::int64_t width = std::int64_t{r.right} - r.left;
    const std::int64_t height = std::int64_t{r.bottom} - r.top;
    r = {x, y, edge(std::int64_t{x} + width), edge(std::int64_t{y} + height)};
  }
  if (!(flags & SWP_NOSIZE)) {
    r.right = edge(std::int64_t{r.left} + cx);
    r.bottom = edge(std::int64_t{r.top} + cy);
  }
  Self().gate.WindowNow(window, r);
  if (!(flags & SWP_NOZORDER)) {
    if (insertAfter == HWND_TOPMOST) window->state.topmost = true;
    if (insertAfter == HWND_NOTOPMOST) window->state.topmost = false;
  }
  if (!(flags & SWP_NOACTIVATE)) window->state.activated = true;
  return TRUE;
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
    case SM_CXVIRTUALSCREEN:
      return Self().screenWidth;
    case SM_CYSCREEN:
    case SM_CYVIRTUALSCREEN:
      return Self().screenHeight;
    default:
      return 0;
  }
}

BOOL EnumDisplayMonitors(HDC dc, LPCRECT, MONITORENUMPROC callback, LPARAM data) {
  if (callback == nullptr) return FALSE;
  std::vector<RECT> monitors = Self().monitors;
  if (monitors.empty()) monitors.push_back({0, 0, Self().screenWidth, Self().screenHeight});
  for (RECT& area : monitors)
    if (!callback(nullptr, dc, &area, data)) break;
  return TRUE;
}

BOOL ReleaseCapture() {
  ++Self().releaseCaptureCalls;
  return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM) {
  if (window == nullptr) return 0;
  if (message == WM_NCLBUTTONDOWN && wParam == HTCAPTION) {
    ++window->state.captionPresses;
    if (Self().captionPress) Self().captionPress(window);
  }
  return 0;
}

int GetWindowRgn(HWND window, HRGN region) {
  if (window == nullptr || window->state.region == nullptr || region == nullptr) return RGN_ERROR;
  return CombineRgn(region, window->state.region, nullptr, RGN_COPY);
}

int SetWindowRgn(HWND window, HRGN region, BOOL) {
  if (window == nullptr) return 0;
  if (window->state.region != nullptr) DeleteObject(window->state.region);
  window->state.region = region;
  ++window->state.regionsSet;
  return 1;
}

// The Win32 backend's event loop: the thread timers and their ticks, resting while neither the
// pointer nor the window moves (the timers stopped, raw input and a slow check listening), and
// RunEventLoop itself. The state they go through is described in win32_internal.h.
// This file calls the system's own window services, not the converting ones (win32_api.h).
#define OZZ_WIN32_BACKEND

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/form.h"
#include "platform/win32/win32_internal.h"

namespace win32 {
namespace {

// While at rest, how often the pointer and the windows are looked at without a device's report.
constexpr UINT kRestCheckMs = 500;
// Raw input's generic desktop page and its mouse.
constexpr USHORT kUsagePageGeneric = 0x01;
constexpr USHORT kUsageMouse = 0x02;

runtime::Timer* FindTimer(UINT_PTR id) {
  for (runtime::Timer* timer : State().timers)
    if (static_cast<UINT_PTR>(timer->backendData) == id) return timer;
  return nullptr;
}

// One tick of `timer`, its inputs reported to the gate; then the changed pixels are shown, and
// once the gate rests the timers stop.
void FallAsleep();

void Tick(runtime::Timer& timer) {
  Backend& state = State();
  state.gate.BeginTick();
  Guarded([&] { timer.RaiseTimer(); });
  state.gate.EndTick();
  FlushAll();
  if (state.gate.Resting() && !state.ended) FallAsleep();
}

void CALLBACK OnTimerTick(HWND, UINT, UINT_PTR id, DWORD) {
  runtime::Timer* timer = FindTimer(id);
  // Stopped while its tick was queued, or the loop fell asleep meanwhile.
  if (timer == nullptr || State().ended || State().asleep) return;
  Tick(*timer);
}

// Raw input from the mouse comes to a message-only window of the program's class while at rest.
void ListenForMotion() {
  Backend& state = State();
  if (state.inputSink == nullptr && state.windowClass != 0) {
    state.inputSink = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
  }
  if (state.inputSink == nullptr) return;  // the slow check alone then wakes the ticks
  RAWINPUTDEVICE device{kUsagePageGeneric, kUsageMouse, RIDEV_INPUTSINK, state.inputSink};
  state.rawInput = RegisterRawInputDevices(&device, 1, sizeof device) != FALSE;
  if (!state.rawInput) NoteFailure();
}

// Awake, the ticks ask where the pointer is themselves: raw input would cost a message for
// every report of a moving mouse.
void StopListening() {
  Backend& state = State();
  if (!state.rawInput) return;
  RAWINPUTDEVICE device{kUsagePageGeneric, kUsageMouse, RIDEV_REMOVE, nullptr};
  RegisterRawInputDevices(&device, 1, sizeof device);
  state.rawInput = false;
}

// The timers stop; raw input and the slow check in the event loop (RunEventLoop) listen instead.
void FallAsleep() {
  Backend& state = State();
  if (state.asleep) return;
  state.restCheckDue = GetTickCount64() + kRestCheckMs;
  for (runtime::Timer* timer : state.timers) {
    KillTimer(nullptr, static_cast<UINT_PTR>(timer->backendData));
    timer->backendData = 0;
  }
  state.asleep = true;
  ListenForMotion();
}

// Twice a second at rest: the pointer elsewhere than the last tick read it wakes the ticks,
// whether or not a device said so. (A window that moves is told so, WM_WINDOWPOSCHANGED.)
void RestCheck() {
  Backend& state = State();
  if (!state.asleep || state.ended) return;
  POINT at{};
  const bool onScreen = ::GetCursorPos(&at) != FALSE;
  state.gate.CursorNow(onScreen, onScreen ? at : POINT{});
  if (!state.gate.Resting()) WakeUp();
}

// At rest the loop waits for a message no longer than until the next check is due, and makes the
// check when it is. True when a message waits. (A wait that ends by its timeout costs less under
// Wine than a timer's message, which takes several calls to Wine's server to deliver.)
bool WaitAtRest() {
  Backend& state = State();
  const ULONGLONG now = GetTickCount64();
  if (now >= state.restCheckDue) {
    state.restCheckDue = now + kRestCheckMs;
    RestCheck();
    return false;
  }
  const DWORD waited = MsgWaitForMultipleObjectsEx(
      0, nullptr, static_cast<DWORD>(state.restCheckDue - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  return waited != WAIT_TIMEOUT;
}

}  // namespace

// The timers start again, and each ticks at once.
void WakeUp() {
  Backend& state = State();
  if (!state.asleep || state.ended) return;
  state.asleep = false;
  StopListening();
  for (runtime::Timer* timer : state.timers) {
    const UINT_PTR id = SetTimer(nullptr, 0, static_cast<UINT>(timer->Interval()), OnTimerTick);
    if (id == 0) NoteFailure();
    timer->backendData = static_cast<std::int64_t>(id);
  }
  // Copy: a tick may start or stop timers, or the loop may fall asleep again.
  const std::vector<runtime::Timer*> timers = state.timers;
  for (runtime::Timer* timer : timers) {
    if (state.asleep || state.ended) break;
    if (std::find(state.timers.begin(), state.timers.end(), timer) != state.timers.end())
      Tick(*timer);
  }
}

void OnRawInput() {
  if (!State().asleep) return;
  State().gate.Wake();
  WakeUp();
}

// Moved or sized by anyone: a tick must look again if the window is not where the last read it.
void OnWindowMoved(Win32Window& w) {
  RECT rect{};
  if (!LogicalWindowRect(w, &rect)) return;
  State().gate.WindowNow(w.handle, rect);
  if (!State().gate.Resting()) WakeUp();
}

}  // namespace win32

using namespace win32;

namespace platform {

void StartTimer(runtime::Timer& timer) {
  Backend& state = State();
  if (state.asleep) {
    // Started while the loop rests: it wakes, and starts this timer with the others.
    if (std::find(state.timers.begin(), state.timers.end(), &timer) == state.timers.end())
      state.timers.push_back(&timer);
    state.gate.Wake();
    WakeUp();
    return;
  }
  // Passing a running timer's id replaces it, which restarts its period.
  const auto running = static_cast<UINT_PTR>(timer.backendData);
  const UINT_PTR id = SetTimer(nullptr, running, static_cast<UINT>(timer.Interval()), OnTimerTick);
  if (id == 0) {
    NoteFailure();
    return;
  }
  timer.backendData = static_cast<std::int64_t>(id);
  if (std::find(state.timers.begin(), state.timers.end(), &timer) == state.timers.end())
    state.timers.push_back(&timer);
}

void StopTimer(runtime::Timer& timer) {
  Backend& state = State();
  if (std::find(state.timers.begin(), state.timers.end(), &timer) == state.timers.end()) return;
  KillTimer(nullptr, static_cast<UINT_PTR>(timer.backendData));
  std::erase(state.timers, &timer);
  timer.backendData = 0;
}

void RunEventLoop() {
  MSG message;
  while (!State().ended) {
    FlushAll();
    if (State().asleep) {
      // Messages are taken as they are there, never waited for: GetMessage would wait past the
      // next check after a sent message.
      if (!WaitAtRest()) continue;
      while (!State().ended && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) return;
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
      continue;
    }
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) return;  // WM_QUIT: the last window is gone
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void EndProgram() {
  State().ended = true;
  ExitProcess(0);
}

}  // namespace platform

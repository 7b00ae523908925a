// The Win32 backend: real user32, gdi32 and kernel32 windows, timers and message loop.
//
// Each form gets a borderless WS_POPUP window of its client size, without a taskbar button
// (WS_EX_TOOLWINDOW), of a class with CS_DBLCLKS and the program's icon. The window procedure
// is a short switch over the few messages the runtime needs, each handled by a small named
// function: WM_PAINT shows the pixels, the button presses become the form's MouseDown or
// DblClick. Timers are thread timers with a TimerProc, so their ticks also arrive while
// Windows runs its own modal move loop inside the caption press that a MouseDown handler sends
// (WM_NCLBUTTONDOWN with HTCAPTION): during that loop only our callbacks run, never our loop.
//
// Pixels: the backend keeps a 32-bit DIB section with a copy of what the window shows. After
// every dispatched event or tick it takes the areas the form really changed, copies them and
// repaints just those, so an unchanged tick draws nothing. WM_PAINT copies from the DIB.
//
// Scale: the process is DPI aware per monitor (the manifest, and win32_dpi.h at run time), so
// the system stretches nothing. A window is made and drawn in display pixels, from its form's
// display image at the window's scale (its DPI / 96); everything the program sees (the cursor,
// the window's rectangle, the monitors, the region it sets, MouseDown) is in 96-dpi pixels and
// converted here, at the edge, as the X11 backend does. When the window's DPI changes
// (WM_DPICHANGED) the form draws itself again at the new scale and the window takes the new
// size, shape and the place the system suggests.
//
// Rest: the ticks read the cursor and the window's rectangle through the conversions above,
// which report them to a rest gate (rest_gate.h). Once the gate rests, the timers stop; raw
// input from the mouse, registered only then (RIDEV_INPUTSINK, so it comes while the window is in
// the background), wakes them at once, and a slow check twice a second in the event loop catches
// what no device reports (a program moving the pointer, a system that sends no raw input); a
// window moved by anyone says so itself (WM_WINDOWPOSCHANGED). A wake runs a tick at once.
//
// No exception may unwind through Windows' frames: every callback runs the runtime's code
// inside Guarded, which ends any exception there (the form's Raise* entries already drop the
// program's own failures).
//
// The files, by role:
//   win32_pixels.cpp  the DIB that holds what a window shows, and copying the forms' changes to it
//   win32_scale.cpp   the conversions between display and 96-dpi pixels, the region at the
//                     window's scale, a change of DPI, and the converting services (win32_api.h)
//   win32_window.cpp  the window class, the window procedure and its messages, and the window:
//                     creation, showing, destruction
//   win32_loop.cpp    the timers, resting while nothing moves, and the event loop
//   win32_instance.cpp  the executable's path, and one copy running
// Beside them, win32_dpi.h tells the DPI. This header holds what the files share: the state, the
// window record, Guarded and the functions one file calls in another.
//
// Start reading at RunEventLoop (win32_loop.cpp), then CreateFormWindow and WindowProc
// (win32_window.cpp).
#pragma once

#include <cstdint>
#include <vector>

// Each of the files defines OZZ_WIN32_BACKEND before its first include: it calls the system's
// own window services, not the converting ones (win32_api.h).
#if !defined(OZZ_WIN32_BACKEND)
#error "define OZZ_WIN32_BACKEND before the first include"
#endif

#include "platform/backend.h"
#include "platform/form.h"
#include "platform/rest_gate.h"
#include "platform/win32_api.h"

namespace win32 {

constexpr char kWindowClass[] = "OzzlebeckForm";

// What the backend keeps for a form's window.
struct Win32Window {
  HWND handle = nullptr;
  runtime::Form* form = nullptr;
  int width = 0;  // client display pixels
  int height = 0;
  platform::DisplayScale scale;  // the window's, as its form draws at it
  HRGN region = nullptr;         // the region the program set, in 96-dpi pixels; owned
  bool dirty = false;            // the form has drawn since the last flush
  // The shown pixels: a top-down 32-bit DIB (0x00RRGGBB words) selected into a memory DC.
  HDC memoryDc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previousBitmap = nullptr;
  std::uint32_t* bits = nullptr;
};

struct Backend {
  ATOM windowClass = 0;
  std::vector<Win32Window*> windows;
  std::vector<runtime::Timer*> timers;  // backendData: the thread timer's id
  bool ended = false;
  HANDLE instanceClaim = nullptr;  // the named mutex, held until the process ends
  // The system's code for the last call that failed here. The program reports nothing, so it
  // is kept for a debugger.
  DWORD lastError = 0;
  // Resting: the gate, whether the timers are stopped for it, the window raw input comes to,
  // whether it is registered, and the slow check's timer.
  platform::RestGate gate;
  bool asleep = false;
  HWND inputSink = nullptr;
  bool rawInput = false;
  ULONGLONG restCheckDue = 0;  // when the loop next looks at the pointer while asleep
};

inline Backend& State() {
  static Backend backend;
  return backend;
}

inline void NoteFailure() { State().lastError = GetLastError(); }

// Runs runtime code from a Win32 callback: any exception ends here, silently, since the
// program shows no messages of its own and Windows' frames must not be unwound.
template <typename Action>
void Guarded(Action&& action) noexcept {
  try {
    action();
  } catch (...) {
  }
}

inline Win32Window* Lookup(HWND handle) {
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<Win32Window*>(GetWindowLongPtrA(handle, GWLP_USERDATA));
}

// Pixels (win32_pixels.cpp): the window's DIB, made from and brought up to date with its form.
bool CreateShownImage(Win32Window& w);
void FreeShownImage(Win32Window& w);
bool CopyChanges(Win32Window& w);
void FlushAll() noexcept;

// Scale (win32_scale.cpp).
bool LogicalWindowRect(const Win32Window& w, RECT* rect);
void Rescale(Win32Window& w, platform::DisplayScale scale, const POINT* place);

// Rest (win32_loop.cpp).
void WakeUp();
void OnRawInput();
void OnWindowMoved(Win32Window& w);

}  // namespace win32

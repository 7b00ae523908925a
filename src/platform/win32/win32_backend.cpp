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
// Start reading at RunEventLoop, then CreateFormWindow and WindowProc.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// This file defines the converting services win32_api.h declares, and calls the system's own.
#define OZZ_WIN32_BACKEND

#include "platform/backend.h"
#include "platform/form.h"
#include "platform/rest_gate.h"
#include "platform/win32/resource_ids.h"
#include "platform/win32/win32_dpi.h"
#include "platform/win32_api.h"

namespace {

constexpr char kWindowClass[] = "OzzlebeckForm";
constexpr DWORD kWindowStyle = WS_POPUP;
constexpr DWORD kWindowExStyle = WS_EX_TOOLWINDOW;  // no taskbar button
constexpr int kTwipsPerPixel = 15;                  // of the program's 96-dpi pixels
// While at rest, how often the pointer and the windows are looked at without a device's report.
constexpr UINT kRestCheckMs = 500;
// Raw input's generic desktop page and its mouse.
constexpr USHORT kUsagePageGeneric = 0x01;
constexpr USHORT kUsageMouse = 0x02;

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

Backend& State() {
  static Backend backend;
  return backend;
}

void NoteFailure() { State().lastError = GetLastError(); }

// Runs runtime code from a Win32 callback: any exception ends here, silently, since the
// program shows no messages of its own and Windows' frames must not be unwound.
template <typename Action>
void Guarded(Action&& action) noexcept {
  try {
    action();
  } catch (...) {
  }
}

Win32Window* Lookup(HWND handle) {
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<Win32Window*>(GetWindowLongPtrA(handle, GWLP_USERDATA));
}

// --- Pixels ---------------------------------------------------------------------------------

// 0x00BBGGRR as the form draws it to 0x00RRGGBB as a 32-bit DIB holds it.
std::uint32_t DibPixel(COLORREF colour) {
  return ((colour & 0xFFu) << 16) | (colour & 0xFF00u) | ((colour >> 16) & 0xFFu);
}

bool CreateShownImage(Win32Window& w) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w.width;
  info.bmiHeader.biHeight = -w.height;  // top row first, like the form's surface
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  w.bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  w.memoryDc = CreateCompatibleDC(nullptr);
  if (w.bitmap == nullptr || w.memoryDc == nullptr || bits == nullptr) {
    NoteFailure();
    return false;
  }
  w.previousBitmap = SelectObject(w.memoryDc, w.bitmap);
  w.bits = static_cast<std::uint32_t*>(bits);
  for (int y = 0; y < w.height; ++y) {
    const COLORREF* row = w.form->DisplayRow(y);
    std::uint32_t* shown = w.bits + static_cast<std::size_t>(y) * w.width;
    for (int x = 0; x < w.width; ++x) shown[x] = DibPixel(row[x]);
  }
  return true;
}

void FreeShownImage(Win32Window& w) {
  if (w.memoryDc != nullptr) {
    if (w.previousBitmap != nullptr) SelectObject(w.memoryDc, w.previousBitmap);
    DeleteDC(w.memoryDc);
  }
  if (w.bitmap != nullptr) DeleteObject(w.bitmap);
  w.memoryDc = nullptr;
  w.bitmap = nullptr;
  w.bits = nullptr;
}

// Brings the DIB up to date with the form's surface: the form hands over only the areas whose
// pixels really changed, and only those are copied and invalidated. True when anything
// changed. Allocates nothing.
bool CopyChanges(Win32Window& w) {
  if (!w.dirty || w.bits == nullptr) return false;
  w.dirty = false;
  std::array<runtime::PixelRect, runtime::Form::kMaxDirty> dirty;
  const int count = w.form->TakeDirty(dirty);
  if (count == 0) return false;
  GdiFlush();  // GDI may still be reading the DIB for an earlier paint
  for (int i = 0; i < count; ++i) {
    const runtime::PixelRect& r = dirty[static_cast<std::size_t>(i)];
    for (int y = r.top; y < r.bottom; ++y) {
      const COLORREF* row = w.form->DisplayRow(y);
      std::uint32_t* shown = w.bits + static_cast<std::size_t>(y) * w.width;
      for (int x = r.left; x < r.right; ++x) shown[x] = DibPixel(row[x]);
    }
    const RECT area{r.left, r.top, r.right, r.bottom};
    InvalidateRect(w.handle, &area, FALSE);
  }
  return true;
}

// Shows what the forms changed, at once: UpdateWindow paints before it returns, so the eyes
// move on screen even while Windows' move loop, not ours, is running.
void FlushAll() noexcept {
  for (std::size_t i = 0; i < State().windows.size(); ++i) {
    Win32Window& w = *State().windows[i];
    if (CopyChanges(w)) UpdateWindow(w.handle);
  }
}

// --- Scale ----------------------------------------------------------------------------------

// The scale at which places that belong to no window (the cursor, the monitors, the screen) are
// converted: the first window's, else the primary monitor's. The program has one window; with
// monitors of different scales, the pointer and its window are then measured alike.
platform::DisplayScale CurrentScale() {
  const Backend& state = State();
  if (!state.windows.empty()) return state.windows.front()->scale;
  win32::DeclareDpiAwareness();
  return win32::ScaleAtDpi(win32::SystemDpi());
}

// A rectangle of display pixels in 96-dpi pixels, as the X11 backend converts a window's: the
// 96-dpi pixel its top-left display pixel lies in, and its size converted.
RECT ToLogical(const RECT& r, const platform::DisplayScale& scale) {
  const LONG left = scale.ToLogical(r.left), top = scale.ToLogical(r.top);
  return {left, top, left + scale.ToLogical(r.right - r.left),
          top + scale.ToLogical(r.bottom - r.top)};
}

// The window's outer rectangle in 96-dpi pixels.
bool LogicalWindowRect(const Win32Window& w, RECT* rect) {
  RECT shown{};
  if (!::GetWindowRect(w.handle, &shown)) return false;
  *rect = ToLogical(shown, w.scale);
  return true;
}

// The region the program set, in display pixels at the window's scale, for the system to own:
// at 1x a copy; otherwise its shape drawn along the form's display image (Form::DisplayShape),
// so that the picture drawn at the scale keeps its outline. Null when there is no region or it
// cannot be made.
HRGN DisplayRegion(const Win32Window& w) {
  if (w.region == nullptr) return nullptr;
  HRGN made = nullptr;
  if (w.scale.IsOne()) {
    made = CreateRectRgn(0, 0, 0, 0);
    if (made != nullptr && CombineRgn(made, w.region, nullptr, RGN_COPY) == ERROR) {
      DeleteObject(made);
      made = nullptr;
    }
    return made;
  }
  // The region's rectangles, read into RECT-aligned room; the header is two RECTs long.
  static_assert(sizeof(RGNDATAHEADER) == 2 * sizeof(RECT));
  const DWORD size = GetRegionData(w.region, 0, nullptr);
  if (size < sizeof(RGNDATAHEADER)) return nullptr;
  std::vector<RECT> data(size / sizeof(RECT) + 1);
  auto* read = reinterpret_cast<RGNDATA*>(data.data());
  if (GetRegionData(w.region, size, read) == 0) return nullptr;
  const std::span<const RECT> rects(reinterpret_cast<const RECT*>(read->Buffer), read->rdh.nCount);
  std::vector<runtime::PixelRect> shape;
  Guarded([&] { shape = w.form->DisplayShape(rects); });
  std::vector<RECT> out(2 + shape.size());
  auto* header = reinterpret_cast<RGNDATA*>(out.data());
  header->rdh.dwSize = sizeof(RGNDATAHEADER);
  header->rdh.iType = RDH_RECTANGLES;
  header->rdh.nCount = static_cast<DWORD>(shape.size());
  header->rdh.nRgnSize = static_cast<DWORD>(shape.size() * sizeof(RECT));
  header->rdh.rcBound = {0, 0, w.width, w.height};
  for (std::size_t i = 0; i < shape.size(); ++i)
    out[2 + i] = {shape[i].left, shape[i].top, shape[i].right, shape[i].bottom};
  return ExtCreateRegion(nullptr, static_cast<DWORD>(out.size() * sizeof(RECT)), header);
}

// Gives the window the shape of the program's region at its scale (none without one). True
// when the system took it.
bool ApplyRegion(Win32Window& w, BOOL redraw) {
  HRGN shown = DisplayRegion(w);
  if (w.region != nullptr && shown == nullptr) {
    NoteFailure();
    return false;
  }
  if (::SetWindowRgn(w.handle, shown, redraw) == 0) {
    NoteFailure();
    if (shown != nullptr) DeleteObject(shown);
    return false;
  }
  return true;
}

void WakeUp();

// The window is now at `scale`: the form draws itself again at it, and the window takes its new
// pixels, size and shape, at `place` (display pixels; its own place when null).
void Rescale(Win32Window& w, platform::DisplayScale scale, const POINT* place) {
  bool changed = false;
  Guarded([&] { changed = w.form->RaiseScaleChanged(scale); });
  if (changed) {
    FreeShownImage(w);
    w.scale = w.form->Scale();
    w.width = w.form->DisplayWidthPixels();
    w.height = w.form->DisplayHeightPixels();
    if (!CreateShownImage(w)) FreeShownImage(w);  // shows nothing rather than old pixels
    ApplyRegion(w, FALSE);
  }
  RECT now{};
  ::GetWindowRect(w.handle, &now);
  const POINT at = place != nullptr ? *place : POINT{now.left, now.top};
  ::SetWindowPos(w.handle, nullptr, at.x, at.y, w.width, w.height, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(w.handle, nullptr, FALSE);
  // The eyes are drawn again at the new scale by a tick, at once.
  State().gate.Wake();
  WakeUp();
}

// --- Window messages ------------------------------------------------------------------------

void OnPaint(Win32Window& w) {
  CopyChanges(w);  // paint the newest pixels, whoever asked for the paint
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(w.handle, &paint);
  if (dc != nullptr && w.memoryDc != nullptr) {
    const RECT& r = paint.rcPaint;
    BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, w.memoryDc, r.left, r.top,
           SRCCOPY);
  }
  EndPaint(w.handle, &paint);
}

// The runtime's Shift argument: 1 Shift, 2 Ctrl, 4 Alt.
std::int16_t ShiftState(WPARAM keys) {
  std::int16_t shift = 0;
  if (keys & MK_SHIFT) shift |= runtime::vbShiftMask;
  if (keys & MK_CONTROL) shift |= runtime::vbCtrlMask;
  if (GetKeyState(VK_MENU) < 0) shift |= runtime::vbAltMask;
  return shift;
}

// A button press at a client pixel (signed: a captured pointer may lie left of or above it).
void OnButtonDown(Win32Window& w, std::int16_t button, WPARAM wParam, LPARAM lParam) {
  const int x = w.scale.ToLogical(static_cast<short>(LOWORD(lParam)));
  const int y = w.scale.ToLogical(static_cast<short>(HIWORD(lParam)));
  runtime::Form& form = *w.form;
  State().gate.Wake();  // a press may start a drag: the eyes follow from the first move
  WakeUp();
  Guarded([&] { form.RaiseMouseDown(button, ShiftState(wParam), x, y); });
  FlushAll();
}

void OnDoubleClick(Win32Window& w) {
  runtime::Form& form = *w.form;
  Guarded([&] { form.RaiseDblClick(); });
  FlushAll();
}

// The window is going away (DestroyFormWindow, or a close from outside such as Alt+F4, which
// the program has no handler for). With the last window gone the program has nothing left to
// show, so the event loop ends.
void OnDestroyed(Win32Window* w) {
  Backend& state = State();
  SetWindowLongPtrA(w->handle, GWLP_USERDATA, 0);
  std::erase(state.windows, w);
  FreeShownImage(*w);
  if (w->region != nullptr) DeleteObject(w->region);
  delete w;
  if (state.windows.empty() && !state.ended) PostQuitMessage(0);
}

void OnRawInput();
void OnWindowMoved(Win32Window& w);

LRESULT CALLBACK WindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INPUT) OnRawInput();  // to the input sink; the system cleans up after it
  Win32Window* w = Lookup(handle);
  if (w != nullptr) {
    switch (message) {
      case WM_DPICHANGED: {
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        const POINT place{suggested->left, suggested->top};
        Rescale(*w, win32::ScaleAtDpi(LOWORD(wParam)), &place);
        return 0;
      }
      case WM_WINDOWPOSCHANGED:
        OnWindowMoved(*w);
        break;
      case WM_DISPLAYCHANGE:
        State().gate.Wake();
        WakeUp();
        break;
      case WM_PAINT:
        OnPaint(*w);
        return 0;
      case WM_ERASEBKGND:
        return 1;  // the paint covers every pixel itself
      case WM_LBUTTONDOWN:
        OnButtonDown(*w, runtime::vbLeftButton, wParam, lParam);
        return 0;
      case WM_LBUTTONDBLCLK:
        OnDoubleClick(*w);
        return 0;
      // A quick second right or middle press is no double-click to the form: a press again.
      case WM_RBUTTONDOWN:
      case WM_RBUTTONDBLCLK:
        OnButtonDown(*w, runtime::vbRightButton, wParam, lParam);
        return 0;
      case WM_MBUTTONDOWN:
      case WM_MBUTTONDBLCLK:
        OnButtonDown(*w, runtime::vbMiddleButton, wParam, lParam);
        return 0;
      case WM_NCDESTROY:
        OnDestroyed(w);
        break;
      default:
        break;
    }
  }
  return DefWindowProcA(handle, message, wParam, lParam);
}

bool RegisterFormClass() {
  Backend& state = State();
  if (state.windowClass != 0) return true;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_OZZLEBECK));
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = nullptr;  // no erasing: every pixel comes from the form
  windowClass.lpszClassName = kWindowClass;
  state.windowClass = RegisterClassExA(&windowClass);
  if (state.windowClass == 0) NoteFailure();
  return state.windowClass != 0;
}

// --- Timers ---------------------------------------------------------------------------------

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

// --- Rest -----------------------------------------------------------------------------------

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

// Moved or sized by anyone: a tick must look again if the window is not where the last read it.
void OnWindowMoved(Win32Window& w) {
  RECT rect{};
  if (!LogicalWindowRect(w, &rect)) return;
  State().gate.WindowNow(w.handle, rect);
  if (!State().gate.Resting()) WakeUp();
}

// --- Single instance ------------------------------------------------------------------------

// The executable's full path, in either spelling: the buffer grows until the path fits, so a
// path longer than MAX_PATH comes whole. Empty on failure.
template <typename Text, typename Get>
Text ModulePath(Get get) {
  Text path(MAX_PATH, typename Text::value_type{});
  for (;;) {
    const DWORD n = get(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);  // cut short: try again with more room
  }
}

// In UTF-16 for the instance name: the ANSI spelling may turn letters the code page lacks
// into '?', and two folders would then share one name.
std::wstring ExecutablePathWide() { return ModulePath<std::wstring>(GetModuleFileNameW); }

// The name of this executable's mutex in the session's namespace. Names cannot hold
// backslashes, so the case-folded long path is hashed (64-bit FNV-1a) into it.
std::string InstanceMutexName() {
  std::wstring path = ExecutablePathWide();
  const DWORD longLength = GetLongPathNameW(path.c_str(), nullptr, 0);
  if (longLength > 0) {
    std::wstring longPath(longLength, L'\0');
    const DWORD n = GetLongPathNameW(path.c_str(), longPath.data(), longLength);
    if (n > 0 && n < longLength) path.assign(longPath.data(), n);
  }
  if (!path.empty()) CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
  std::uint64_t hash = 14695981039346656037ull;
  for (const wchar_t unit : path) {
    hash ^= static_cast<std::uint16_t>(unit);
    hash *= 1099511628211ull;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = "Local\\TaviksOzzlebeck.";
  for (int shift = 60; shift >= 0; shift -= 4) name += kHex[(hash >> shift) & 0xFu];
  return name;
}

}  // namespace

namespace platform {

HWND CreateFormWindow(runtime::Form& form) {
  win32::DeclareDpiAwareness();
  if (!RegisterFormClass()) return nullptr;
  auto w = std::make_unique<Win32Window>();
  w->form = &form;
  w->scale = form.Scale();
  w->width = form.DisplayWidthPixels();
  w->height = form.DisplayHeightPixels();
  if (!CreateShownImage(*w)) {
    FreeShownImage(*w);
    return nullptr;
  }
  RECT outer{0, 0, w->width, w->height};  // a popup without border: the same, but say so
  AdjustWindowRectEx(&outer, kWindowStyle, FALSE, kWindowExStyle);
  HWND handle =
      CreateWindowExA(kWindowExStyle, kWindowClass, form.Design().caption.c_str(), kWindowStyle, 0,
                      0, outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                      GetModuleHandleA(nullptr), nullptr);
  if (handle == nullptr) {
    NoteFailure();
    FreeShownImage(*w);
    return nullptr;
  }
  w->handle = handle;
  Win32Window& record = *w;
  State().windows.push_back(w.get());
  SetWindowLongPtrA(handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w.release()));
  // The form drew for the primary monitor's scale; the window may have come up on another.
  const platform::DisplayScale scale = win32::ScaleAtDpi(win32::WindowDpi(handle));
  if (scale != record.scale) Rescale(record, scale, nullptr);
  return handle;
}

void DestroyFormWindow(HWND window) {
  // A window closed from outside is already gone, and so is its record.
  if (Lookup(window) != nullptr) DestroyWindow(window);
}

void ShowFormWindow(HWND window) { ShowWindow(window, SW_SHOWNOACTIVATE); }

void InvalidateFormWindow(HWND window) {
  if (Win32Window* w = Lookup(window)) w->dirty = true;
}

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

DisplayScale GetDisplayScale() {
  win32::DeclareDpiAwareness();
  return win32::ScaleAtDpi(win32::SystemDpi());
}

int ScreenWidthPixels() { return CurrentScale().ToLogical(GetSystemMetrics(SM_CXSCREEN)); }

// The program's pixels are 96-dpi pixels at every scale: the settings keep the same twips for
// the same place on the desktop whatever its scale.
int TwipsPerPixelX() { return kTwipsPerPixel; }
int TwipsPerPixelY() { return kTwipsPerPixel; }

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

std::string ExecutablePath() { return ModulePath<std::string>(GetModuleFileNameA); }

bool IsPreviousInstanceRunning() {
  static const bool running = [] {
    const std::string name = InstanceMutexName();
    HANDLE claim = CreateMutexA(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    // Kept open on purpose: the claim lasts as long as this process.
    State().instanceClaim = claim;
    if (claim == nullptr) return error == ERROR_ACCESS_DENIED;  // exists, but not ours to open
    return error == ERROR_ALREADY_EXISTS;
  }();
  return running;
}

}  // namespace platform

// --- The converting services (win32_api.h) ---------------------------------------------------
// Windows that are not the program's, and places of no window, are converted at CurrentScale.

BOOL OzzGetCursorPos(POINT* point) {
  if (point == nullptr) return FALSE;
  POINT at{};
  const bool onScreen = ::GetCursorPos(&at) != FALSE;
  State().gate.ReadCursor(onScreen, onScreen ? at : POINT{});
  if (!onScreen) return FALSE;  // another desktop has the input, a secure one say
  const platform::DisplayScale scale = CurrentScale();
  *point = {scale.ToLogical(at.x), scale.ToLogical(at.y)};
  return TRUE;
}

BOOL OzzGetWindowRect(HWND window, RECT* rect) {
  if (rect == nullptr) return FALSE;
  RECT shown{};
  if (!::GetWindowRect(window, &shown)) return FALSE;
  const Win32Window* w = Lookup(window);
  *rect = ToLogical(shown, w != nullptr ? w->scale : CurrentScale());
  State().gate.ReadWindow(window, *rect);
  return TRUE;
}

// A place and size in 96-dpi pixels; the window goes to the first display pixel of each.
BOOL OzzSetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  const Win32Window* w = Lookup(window);
  const platform::DisplayScale scale = w != nullptr ? w->scale : CurrentScale();
  return ::SetWindowPos(window, insertAfter, scale.ToDisplay(x), scale.ToDisplay(y),
                        scale.ToDisplay(cx), scale.ToDisplay(cy), flags);
}

// The window keeps the region in 96-dpi pixels, as the program gave it, and shows it at its
// scale; on failure the region stays the caller's, and the window keeps its shape.
int OzzSetWindowRgn(HWND window, HRGN region, BOOL redraw) {
  Win32Window* w = Lookup(window);
  if (w == nullptr) return ::SetWindowRgn(window, region, redraw);
  HRGN previous = w->region;
  w->region = region;
  if (!ApplyRegion(*w, redraw)) {
    w->region = previous;
    return 0;
  }
  if (previous != nullptr) DeleteObject(previous);
  return 1;
}

int OzzGetWindowRgn(HWND window, HRGN region) {
  const Win32Window* w = Lookup(window);
  if (w == nullptr) return ::GetWindowRgn(window, region);
  if (w->region == nullptr || region == nullptr) return ERROR;
  return CombineRgn(region, w->region, nullptr, RGN_COPY);
}

// Each monitor's rectangle in 96-dpi pixels. (A clipping rectangle would be display pixels; the
// program gives none.)
BOOL OzzEnumDisplayMonitors(HDC dc, LPCRECT clip, MONITORENUMPROC callback, LPARAM data) {
  if (callback == nullptr) return FALSE;
  struct Forward {
    MONITORENUMPROC callback;
    LPARAM data;
    platform::DisplayScale scale;
  } forward{callback, data, CurrentScale()};
  return ::EnumDisplayMonitors(
      dc, clip,
      [](HMONITOR monitor, HDC monitorDc, LPRECT area, LPARAM forwarded) -> BOOL {
        const Forward& f = *reinterpret_cast<const Forward*>(forwarded);
        const platform::DisplayScale& s = f.scale;
        RECT logical{s.ToLogical(area->left), s.ToLogical(area->top), s.ToLogical(area->right),
                     s.ToLogical(area->bottom)};
        return f.callback(monitor, monitorDc, &logical, f.data);
      },
      reinterpret_cast<LPARAM>(&forward));
}

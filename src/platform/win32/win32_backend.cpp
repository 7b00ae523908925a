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
// No exception may unwind through Windows' frames: every callback runs the runtime's code
// inside Guarded, which ends any exception there (the form's Raise* entries already drop the
// program's own failures).
//
// Start reading at RunEventLoop, then CreateFormWindow and WindowProc.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/form.h"
#include "platform/win32/resource_ids.h"
#include "platform/win32_api.h"

namespace {

constexpr char kWindowClass[] = "OzzlebeckForm";
constexpr DWORD kWindowStyle = WS_POPUP;
constexpr DWORD kWindowExStyle = WS_EX_TOOLWINDOW;  // no taskbar button
constexpr int kDefaultTwipsPerPixel = 15;           // 96 dots per inch

// What the backend keeps for a form's window.
struct Win32Window {
  HWND handle = nullptr;
  runtime::Form* form = nullptr;
  int width = 0;  // client pixels
  int height = 0;
  bool dirty = false;  // the form has drawn since the last flush
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
    const COLORREF* row = w.form->SurfaceRow(y);
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
  if (!w.dirty) return false;
  w.dirty = false;
  std::array<runtime::PixelRect, runtime::Form::kMaxDirty> dirty;
  const int count = w.form->TakeDirty(dirty);
  if (count == 0) return false;
  GdiFlush();  // GDI may still be reading the DIB for an earlier paint
  for (int i = 0; i < count; ++i) {
    const runtime::PixelRect& r = dirty[static_cast<std::size_t>(i)];
    for (int y = r.top; y < r.bottom; ++y) {
      const COLORREF* row = w.form->SurfaceRow(y);
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

// --- Window messages ------------------------------------------------------------------------

void OnPaint(Win32Window& w) {
  CopyChanges(w);  // paint the newest pixels, whoever asked for the paint
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(w.handle, &paint);
  if (dc != nullptr) {
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
  const int x = static_cast<short>(LOWORD(lParam));
  const int y = static_cast<short>(HIWORD(lParam));
  runtime::Form& form = *w.form;
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
  delete w;
  if (state.windows.empty() && !state.ended) PostQuitMessage(0);
}

LRESULT CALLBACK WindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  Win32Window* w = Lookup(handle);
  if (w != nullptr) {
    switch (message) {
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

void CALLBACK OnTimerTick(HWND, UINT, UINT_PTR id, DWORD) {
  runtime::Timer* timer = FindTimer(id);
  if (timer == nullptr || State().ended) return;  // stopped while its tick was queued
  Guarded([&] { timer->RaiseTimer(); });
  FlushAll();
}

// --- Screen ---------------------------------------------------------------------------------

// Twips per pixel on one axis (LOGPIXELSX or LOGPIXELSY): 1440 / dots per inch.
int TwipsPerPixel(int axis) {
  HDC screen = GetDC(nullptr);
  const int dotsPerInch = screen != nullptr ? GetDeviceCaps(screen, axis) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dotsPerInch > 0 ? 1440 / dotsPerInch : kDefaultTwipsPerPixel;
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
  if (!RegisterFormClass()) return nullptr;
  auto w = std::make_unique<Win32Window>();
  w->form = &form;
  w->width = form.ClientWidthPixels();
  w->height = form.ClientHeightPixels();
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
  State().windows.push_back(w.get());
  SetWindowLongPtrA(handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w.release()));
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

// The program declares no DPI awareness: Windows scales its windows itself.
DisplayScale GetDisplayScale() { return DisplayScale(); }

int ScreenWidthPixels() { return GetSystemMetrics(SM_CXSCREEN); }

// The program declares no DPI awareness, so Windows reports 96 dots per inch to it for the
// whole run (and scales the window): asked once, the answer stands.
int TwipsPerPixelX() {
  static const int twips = TwipsPerPixel(LOGPIXELSX);
  return twips;
}

int TwipsPerPixelY() {
  static const int twips = TwipsPerPixel(LOGPIXELSY);
  return twips;
}

void RunEventLoop() {
  MSG message;
  while (!State().ended) {
    FlushAll();
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

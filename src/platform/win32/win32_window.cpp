// The Win32 backend's windows: the window class, the window procedure with a small named
// function for each message the runtime needs, and a form's window made, shown and destroyed.
// The window record and the state they go through are described in win32_internal.h.
// This file calls the system's own window services, not the converting ones (win32_api.h).
#define OZZ_WIN32_BACKEND

#include <algorithm>
#include <cstdint>
#include <memory>

#include "platform/form.h"
#include "platform/win32/resource_ids.h"
#include "platform/win32/win32_dpi.h"
#include "platform/win32/win32_internal.h"

namespace win32 {
namespace {

constexpr DWORD kWindowStyle = WS_POPUP;
constexpr DWORD kWindowExStyle = WS_EX_TOOLWINDOW;  // no taskbar button

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

}  // namespace
}  // namespace win32

using namespace win32;

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

}  // namespace platform

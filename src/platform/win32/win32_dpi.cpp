#include "platform/win32/win32_dpi.h"

#include <initializer_list>

namespace win32 {
namespace {

using SetContextFunction = BOOL(WINAPI*)(HANDLE);
using SetAwareFunction = BOOL(WINAPI*)();
using WindowDpiFunction = UINT(WINAPI*)(HWND);
using SystemDpiFunction = UINT(WINAPI*)();

// DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 and _PER_MONITOR_AWARE (Windows 10 1703, 1607).
const HANDLE kPerMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
const HANDLE kPerMonitor = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3));

// A function of user32, null where this Windows has none by that name.
template <typename Function>
Function User32(const char* name) {
  HMODULE user32 = GetModuleHandleA("user32.dll");
  if (user32 == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

}  // namespace

void DeclareDpiAwareness() {
  static const bool declared = [] {
    if (const auto setContext = User32<SetContextFunction>("SetProcessDpiAwarenessContext")) {
      // Refused as already set (by the manifest): the system keeps that level.
      for (const HANDLE level : {kPerMonitorV2, kPerMonitor}) {
        if (setContext(level) || GetLastError() == ERROR_ACCESS_DENIED) return true;
      }
    }
    // Windows 7 to 8.1, or a system that knows neither per-monitor level (Wine 8 refuses
    // version 2 as an invalid parameter).
    if (const auto setAware = User32<SetAwareFunction>("SetProcessDPIAware")) setAware();
    return true;
  }();
  (void)declared;
}

UINT SystemDpi() {
  static const auto forSystem = User32<SystemDpiFunction>("GetDpiForSystem");
  if (forSystem != nullptr) {
    const UINT dpi = forSystem();
    if (dpi > 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT WindowDpi(HWND window) {
  static const auto forWindow = User32<WindowDpiFunction>("GetDpiForWindow");
  if (forWindow != nullptr && window != nullptr) {
    const UINT dpi = forWindow(window);
    if (dpi > 0) return dpi;
  }
  return SystemDpi();
}

}  // namespace win32

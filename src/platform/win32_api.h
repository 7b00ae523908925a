// The window-system and kernel services the program calls, by their Win32 names.
//
// On Windows this is <windows.h> itself: the program calls the real user32, gdi32 and kernel32.
// Elsewhere the platform layer provides the same functions with the same contracts: the window
// functions by the backend of the build (X11 or headless; backend.h lists them with their
// contracts), regions, system colours and the profile, long-path and instance services by
// portable code shared between them. Only the subset the program uses is declared, with the
// Win32 types it needs.
#pragma once

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The window services whose pixels depend on the display's scale. The program is DPI aware, per
// monitor, and draws itself at the scale, yet works in 96-dpi pixels as it does everywhere: its
// calls of these go to the Win32 backend (win32_scale.cpp), which converts between the two at
// its edge as the X11 backend does, and keeps the region the program set in 96-dpi pixels. The
// backend's own files (OZZ_WIN32_BACKEND) see the system's functions by their names.
BOOL OzzGetCursorPos(POINT* point);
BOOL OzzGetWindowRect(HWND window, RECT* rect);
BOOL OzzSetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
int OzzSetWindowRgn(HWND window, HRGN region, BOOL redraw);
int OzzGetWindowRgn(HWND window, HRGN region);
BOOL OzzEnumDisplayMonitors(HDC dc, LPCRECT clip, MONITORENUMPROC callback, LPARAM data);
#if !defined(OZZ_WIN32_BACKEND)
#define GetCursorPos OzzGetCursorPos
#define GetWindowRect OzzGetWindowRect
#define SetWindowPos OzzSetWindowPos
#define SetWindowRgn OzzSetWindowRgn
#define GetWindowRgn OzzGetWindowRgn
#define EnumDisplayMonitors OzzEnumDisplayMonitors
#endif

#else

#include <cstdint>

using BOOL = int;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using COLORREF = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using LPSTR = char*;
using LPCSTR = const char*;

// Opaque handles. A backend defines HWND__ as its window record; regions are
// defined by the portable region code.
using HWND = struct HWND__*;
using HRGN = struct HRGN__*;
using HGDIOBJ = void*;
using HMONITOR = struct HMONITOR__*;
using HDC = struct HDC__*;

struct POINT {
  LONG x;
  LONG y;
};

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
using LPRECT = RECT*;
using LPCRECT = const RECT*;

// Called once per monitor with its rectangle in screen pixels; FALSE stops the enumeration.
using MONITORENUMPROC = BOOL (*)(HMONITOR monitor, HDC dc, LPRECT area, LPARAM data);

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(-1);
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(-2);

inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_NOZORDER = 0x0004;
inline constexpr UINT SWP_NOACTIVATE = 0x0010;

inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
inline constexpr int SM_XVIRTUALSCREEN = 76;
inline constexpr int SM_YVIRTUALSCREEN = 77;
inline constexpr int SM_CXVIRTUALSCREEN = 78;
inline constexpr int SM_CYVIRTUALSCREEN = 79;

inline constexpr UINT WM_NCLBUTTONDOWN = 0x00A1;
inline constexpr WPARAM HTCAPTION = 2;

inline constexpr int RGN_AND = 1;
inline constexpr int RGN_OR = 2;
inline constexpr int RGN_XOR = 3;
inline constexpr int RGN_DIFF = 4;
inline constexpr int RGN_COPY = 5;
inline constexpr int RGN_ERROR = 0;
inline constexpr int NULLREGION = 1;
inline constexpr int SIMPLEREGION = 2;
inline constexpr int COMPLEXREGION = 3;

// user32: windows, the pointer and the monitors, provided by the backend of the build. Their
// contracts are in backend.h, which lists them with everything else a backend owes.
BOOL GetCursorPos(POINT* point);
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL ReleaseCapture();
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int SetWindowRgn(HWND window, HRGN region, BOOL redraw);
int GetWindowRgn(HWND window, HRGN region);
int GetSystemMetrics(int index);
BOOL EnumDisplayMonitors(HDC dc, LPCRECT clip, MONITORENUMPROC callback, LPARAM data);

// user32: system colours (portable).
DWORD GetSysColor(int index);

// gdi32: regions as sets of rectangles (portable).
HRGN CreateRectRgn(int left, int top, int right, int bottom);
int CombineRgn(HRGN destination, HRGN source1, HRGN source2, int mode);
BOOL DeleteObject(HGDIOBJ object);
BOOL PtInRegion(HRGN region, int x, int y);

// kernel32: long path names and private profiles (portable, POSIX file system).
DWORD GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD bufferLength);
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                               DWORD bufferLength, LPCSTR fileName);
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);

#endif

// The Win32 backend's scale: the conversions between the window's display pixels and the
// program's 96-dpi pixels, the region shown at the window's scale, a change of the window's DPI,
// and the converting services win32_api.h declares. The state they go through is described in
// win32_internal.h.
// This file defines the converting services win32_api.h declares, and calls the system's own.
#define OZZ_WIN32_BACKEND

#include <span>
#include <vector>

#include "platform/form.h"
#include "platform/win32/win32_dpi.h"
#include "platform/win32/win32_internal.h"

namespace win32 {
namespace {

constexpr int kTwipsPerPixel = 15;  // of the program's 96-dpi pixels

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

}  // namespace

// The window's outer rectangle in 96-dpi pixels.
bool LogicalWindowRect(const Win32Window& w, RECT* rect) {
  RECT shown{};
  if (!::GetWindowRect(w.handle, &shown)) return false;
  *rect = ToLogical(shown, w.scale);
  return true;
}

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

}  // namespace win32

using namespace win32;

namespace platform {

DisplayScale GetDisplayScale() {
  win32::DeclareDpiAwareness();
  return win32::ScaleAtDpi(win32::SystemDpi());
}

int ScreenWidthPixels() { return CurrentScale().ToLogical(GetSystemMetrics(SM_CXSCREEN)); }

// The program's pixels are 96-dpi pixels at every scale: the settings keep the same twips for
// the same place on the desktop whatever its scale.
int TwipsPerPixelX() { return kTwipsPerPixel; }
int TwipsPerPixelY() { return kTwipsPerPixel; }

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

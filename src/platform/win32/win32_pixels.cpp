// The Win32 backend's pixels: the 32-bit DIB section that holds a copy of what each window
// shows, and the areas the forms really changed, copied to it and repainted, and only those. The
// window record and the state they go through are described in win32_internal.h.
// This file calls the system's own window services, not the converting ones (win32_api.h).
#define OZZ_WIN32_BACKEND

#include <array>
#include <cstdint>

#include "platform/form.h"
#include "platform/win32/win32_internal.h"

namespace win32 {
namespace {

// 0x00BBGGRR as the form draws it to 0x00RRGGBB as a 32-bit DIB holds it.
std::uint32_t DibPixel(COLORREF colour) {
  return ((colour & 0xFFu) << 16) | (colour & 0xFF00u) | ((colour >> 16) & 0xFFu);
}

}  // namespace

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

}  // namespace win32

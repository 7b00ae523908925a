// The X11 backend's pixels: the forms' changed display pixels, converted to the server's format
// and sent a band of rows at a time, and only those. The window record and the state they go
// through are described in x11_internal.h.
#include <X11/Xlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/form.h"
#include "platform/x11/x11_internal.h"

namespace x11 {
namespace {

// How one 8-bit channel maps into the visual's pixel value: scaled to the mask's width, then
// shifted into place. Worked out once per visual.
struct Channel {
  int shift = 0;
  unsigned long max = 0;
  explicit Channel(unsigned long mask = 0) {
    if (mask == 0) return;
    while (((mask >> shift) & 1u) == 0) ++shift;
    max = mask >> shift;
  }
  unsigned long Of(unsigned value) const { return ((value * max + 127) / 255) << shift; }
};

unsigned long ServerPixel(COLORREF colour) {
  static const Channel red(State().visual->red_mask), green(State().visual->green_mask),
      blue(State().visual->blue_mask);
  return red.Of(colour & 0xFF) | green.Of((colour >> 8) & 0xFF) | blue.Of((colour >> 16) & 0xFF);
}

// Stores one pixel value in an image. The usual server format, 32 bits a pixel in this
// machine's byte order, is written directly; Xlib converts any other.
void StorePixel(XImage* image, int x, int y, unsigned long pixel) {
  constexpr int kHostByteOrder = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
  if (image->bits_per_pixel == 32 && image->byte_order == kHostByteOrder) {
    const auto value = static_cast<std::uint32_t>(pixel);
    std::memcpy(image->data + static_cast<std::ptrdiff_t>(y) * image->bytes_per_line + x * 4,
                &value, sizeof value);
  } else {
    XPutPixel(image, x, y, pixel);
  }
}

// The window's pixels go to the server a band of rows at a time, converted to its format in
// one band-sized image, so the program keeps no second copy of them.
constexpr int kBandRows = 16;

// Sends what the form changed since the last flush, and nothing when no pixel changed.
// Allocates nothing.
void FlushWindow(HWND w) {
  w->dirty = false;
  std::array<runtime::PixelRect, runtime::Form::kMaxDirty> dirty;
  const int count = w->form->TakeDirty(dirty);
  for (int i = 0; i < count; ++i) PutArea(w, dirty[static_cast<std::size_t>(i)]);
}

}  // namespace

void CreateImage(HWND w) {
  X11& x = State();
  const int width = w->form->DisplayWidthPixels();
  w->image = XCreateImage(x.display, x.visual, static_cast<unsigned>(x.depth), ZPixmap, 0, nullptr,
                          static_cast<unsigned>(width), kBandRows, 32, 0);
  w->imageBytes.assign(static_cast<std::size_t>(w->image->bytes_per_line) * kBandRows, 0);
  w->image->data = w->imageBytes.data();
}

// Sends the form's display pixels in `area` (clipped to the client area) to the window.
void PutArea(HWND w, const runtime::PixelRect& area) {
  if (!w->mapped) return;
  const runtime::PixelRect r{std::max(area.left, 0), std::max(area.top, 0),
                             std::min(area.right, w->form->DisplayWidthPixels()),
                             std::min(area.bottom, w->form->DisplayHeightPixels())};
  if (r.Empty()) return;
  X11& x = State();
  for (int top = r.top; top < r.bottom; top += kBandRows) {
    const int rows = std::min(kBandRows, r.bottom - top);
    for (int y = 0; y < rows; ++y) {
      const COLORREF* row = w->form->DisplayRow(top + y);
      for (int px = r.left; px < r.right; ++px) StorePixel(w->image, px, y, ServerPixel(row[px]));
    }
    XPutImage(x.display, w->xid, x.gc, w->image, r.left, 0, r.left, top,
              static_cast<unsigned>(r.right - r.left), static_cast<unsigned>(rows));
  }
}

void FlushAll() {
  for (HWND w : State().windows)
    if (w->dirty) FlushWindow(w);
}

}  // namespace x11

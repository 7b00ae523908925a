// The picture a form is designed with: a device-independent bitmap read from a BMP file image
// into pixels the form copies into its images as it loads (form.h).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/win32_api.h"

namespace runtime {

// A device-independent bitmap decoded into top-down rows of 0x00BBGGRR pixels.
class Picture {
 public:
  Picture() = default;
  // Decodes an uncompressed 24- or 32-bit BMP file image; an unreadable one gives no picture.
  static Picture FromBmp(std::span<const std::uint8_t> file);

  // Zero when there is no picture.
  std::uintptr_t Handle() const { return handle_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  COLORREF Pixel(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }

  // Frees the pixels once a form has copied them into its own image; the handle and the size
  // stay, Pixel may no longer be called.
  void ReleasePixels() { std::vector<COLORREF>().swap(pixels_); }

 private:
  std::uintptr_t handle_ = 0;
  int width_ = 0;
  int height_ = 0;
  std::vector<COLORREF> pixels_;
};

}  // namespace runtime

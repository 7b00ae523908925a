// Builds small 24-bit BMP file images for tests.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32_api.h"

// `pixels` are 0x00BBGGRR, top row first; the file stores rows bottom-up, padded to 4 bytes.
inline std::vector<std::uint8_t> MakeBmp(int width, int height,
                                         const std::vector<COLORREF>& pixels) {
  const int stride = (width * 3 + 3) & ~3;
  const std::uint32_t size = 54 + static_cast<std::uint32_t>(stride * height);
  std::vector<std::uint8_t> file(size, 0);
  auto put = [&](std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
      file[at + static_cast<std::size_t>(i)] = (value >> (8 * i)) & 0xFF;
  };
  file[0] = 'B';
  file[1] = 'M';
  put(2, size, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, static_cast<std::uint32_t>(width), 4);
  put(22, static_cast<std::uint32_t>(height), 4);
  put(26, 1, 2);
  put(28, 24, 2);
  for (int y = 0; y < height; ++y) {
    const std::size_t row = 54 + static_cast<std::size_t>(stride) * (height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const COLORREF c = pixels[static_cast<std::size_t>(y) * width + x];
      file[row + 3 * x] = (c >> 16) & 0xFF;
      file[row + 3 * x + 1] = (c >> 8) & 0xFF;
      file[row + 3 * x + 2] = c & 0xFF;
    }
  }
  return file;
}

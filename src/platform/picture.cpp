// The BMP reader behind Picture::FromBmp: uncompressed 24- and 32-bit file images, either row
// order, checked against the file's size before a pixel is read.
#include "platform/picture.h"

#include <cstdlib>

namespace runtime {
namespace {

std::uint32_t ReadLE(std::span<const std::uint8_t> bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i)
    value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
  return value;
}

}  // namespace

Picture Picture::FromBmp(std::span<const std::uint8_t> file) {
  Picture picture;
  if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') return picture;
  const std::uint32_t offset = ReadLE(file, 10, 4);
  const std::uint32_t headerSize = ReadLE(file, 14, 4);
  const auto width = static_cast<std::int32_t>(ReadLE(file, 18, 4));
  const auto rawHeight = static_cast<std::int32_t>(ReadLE(file, 22, 4));
  const std::uint32_t bits = ReadLE(file, 28, 2);
  const std::uint32_t compression = ReadLE(file, 30, 4);
  if (headerSize < 40 || (bits != 24 && bits != 32) || compression != 0) return picture;
  if (width <= 0 || width > 4096 || rawHeight == 0 || std::abs(rawHeight) > 4096) return picture;
  const int height = std::abs(rawHeight);
  const std::size_t stride = ((static_cast<std::size_t>(width) * bits / 8) + 3) & ~std::size_t{3};
  if (offset > file.size() || file.size() - offset < stride * static_cast<std::size_t>(height))
    return picture;

  picture.width_ = width;
  picture.height_ = height;
  picture.pixels_.resize(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    const int stored = rawHeight > 0 ? height - 1 - y : y;  // positive height: bottom-up rows
    const std::size_t row = offset + stride * static_cast<std::size_t>(stored);
    for (int x = 0; x < width; ++x) {
      const std::size_t at = row + static_cast<std::size_t>(x) * bits / 8;
      const COLORREF blue = file[at], green = file[at + 1], red = file[at + 2];
      picture.pixels_[static_cast<std::size_t>(y) * width + x] = red | green << 8 | blue << 16;
    }
  }
  picture.handle_ = 1;
  return picture;
}

}  // namespace runtime

// The watcher window's picture and icon, embedded in the program at build time.
#pragma once

#include <cstdint>
#include <span>

namespace resources {

// The picture as a BMP file image: 132 x 160 pixels, 24 bits per pixel.
std::span<const std::uint8_t> PictureBmp();

// The icon as 32 x 32 pixels 0xAARRGGBB, top row first.
std::span<const std::uint32_t> IconArgb();

}  // namespace resources

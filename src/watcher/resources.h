// The watcher window's picture and icon, embedded in the program at build time.
#pragma once

#include <cstdint>
#include <span>

namespace resources {

// The picture as a BMP file image: 132 x 160 pixels, 24 bits per pixel.
std::span<const std::uint8_t> PictureBmp();

// The icon as 32 x 32 pixels 0xAARRGGBB, top row first.
std::span<const std::uint32_t> IconArgb();

// The picture drawn at a display scale, in quarters (5 is 1.25x, 12 is 3x), as a BMP file image
// of 132 x 160 pixels times the scale; empty for a scale the program does not carry.
std::span<const std::uint8_t> ScaledPictureBmp(int quarters);

}  // namespace resources

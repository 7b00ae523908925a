// Regions as sets of rectangles, for the backends that have no native regions.
#pragma once

#include <vector>

#include "platform/win32_api.h"

struct HRGN__ {
  // Non-empty rectangles, right and bottom exclusive; they may overlap.
  std::vector<RECT> rects;
};

namespace platform {

// True when the pixel (x, y) lies in the region.
bool RegionContains(const HRGN__& region, int x, int y);

}  // namespace platform

#include "platform/posix/region.h"

#include <algorithm>

namespace {

bool IsEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

int Complexity(const HRGN__& region) {
  if (region.rects.empty()) return NULLREGION;
  return region.rects.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

// Adds a rectangle, merging it into one directly above with the same columns, so that the
// row-by-row runs of a shape collapse into few rectangles.
void AddRect(std::vector<RECT>& rects, const RECT& r) {
  if (IsEmpty(r)) return;
  for (auto it = rects.rbegin(); it != rects.rend(); ++it) {
    if (it->left == r.left && it->right == r.right && it->bottom == r.top) {
      it->bottom = r.bottom;
      return;
    }
    if (it->bottom < r.top) break;  // rows are added top to bottom: nothing older can match
  }
  rects.push_back(r);
}

}  // namespace

namespace platform {

bool RegionContains(const HRGN__& region, int x, int y) {
  return std::any_of(region.rects.begin(), region.rects.end(), [&](const RECT& r) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
  });
}

}  // namespace platform

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
  auto* region = new HRGN__;
  // As on Windows, the corners are normalised so that left <= right and top <= bottom.
  RECT r{std::min(left, right), std::min(top, bottom), std::max(left, right),
         std::max(top, bottom)};
  if (!IsEmpty(r)) region->rects.push_back(r);
  return region;
}

int CombineRgn(HRGN destination, HRGN source1, HRGN source2, int mode) {
  if (destination == nullptr || source1 == nullptr) return RGN_ERROR;
  if (mode == RGN_COPY) {
    if (destination != source1) destination->rects = source1->rects;
    return Complexity(*destination);
  }
  // Only the union is provided; the program builds its regions from rectangles by union.
  if (mode != RGN_OR || source2 == nullptr) return RGN_ERROR;
  std::vector<RECT> result = source1->rects;
  for (const RECT& r : source2->rects) AddRect(result, r);
  destination->rects = std::move(result);
  return Complexity(*destination);
}

BOOL PtInRegion(HRGN region, int x, int y) {
  return region != nullptr && platform::RegionContains(*region, x, y) ? TRUE : FALSE;
}

BOOL DeleteObject(HGDIOBJ object) {
  if (object == nullptr) return FALSE;
  delete static_cast<HRGN__*>(object);
  return TRUE;
}

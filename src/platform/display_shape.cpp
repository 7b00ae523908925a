// The display shape: a form's window region, given in client pixels, made in display pixels
// for a backend that shows the form at a scale other than 1 (display_scale.h), with its edges
// following the display image rather than the region's enlarged steps.
#include <algorithm>

#include "platform/form.h"

namespace runtime {

std::vector<PixelRect> Form::DisplayShape(std::span<const RECT> rects) const {
  const int width = clientWidth_, height = clientHeight_;
  std::vector<char> inside(static_cast<std::size_t>(width) * height, 0);
  for (const RECT& r : rects) {
    for (int y = std::max<int>(r.top, 0); y < std::min<int>(r.bottom, height); ++y)
      for (int x = std::max<int>(r.left, 0); x < std::min<int>(r.right, width); ++x)
        inside[static_cast<std::size_t>(y) * width + x] = 1;
  }
  // Beyond the client area nothing shows: a pixel there counts as outside the region, with
  // the colour of the first client pixel outside it (none when the region covers them all).
  const auto firstOut = std::find(inside.begin(), inside.end(), 0);
  const bool beyondIsOut = firstOut != inside.end();
  const COLORREF beyondColour =
      beyondIsOut ? surface_[static_cast<std::size_t>(firstOut - inside.begin())] : 0;

  // Each client pixel: inside with all its neighbours, outside with all of them, or at the
  // edge, where the colour of a neighbour outside the region is what the edge cuts away.
  enum : char { kOut, kIn, kEdge };
  std::vector<char> kind(inside.size(), kOut);
  std::vector<COLORREF> cutColour(inside.size(), 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      bool anyIn = false, anyOut = false;
      COLORREF cut = 0;
      for (int ny = y - 1; ny <= y + 1; ++ny) {
        for (int nx = x - 1; nx <= x + 1; ++nx) {
          const bool beyond = nx < 0 || ny < 0 || nx >= width || ny >= height;
          if (beyond && !beyondIsOut) continue;
          const std::size_t at = beyond ? 0 : static_cast<std::size_t>(ny) * width + nx;
          if (!beyond && inside[at]) {
            anyIn = true;
          } else if (!anyOut) {
            anyOut = true;
            cut = beyond ? beyondColour : surface_[at];
          }
        }
      }
      const std::size_t at = static_cast<std::size_t>(y) * width + x;
      kind[at] = anyIn && anyOut ? kEdge : anyIn ? kIn : kOut;
      cutColour[at] = cut;
    }
  }

  const std::vector<COLORREF>& shown = Shown();
  std::vector<PixelRect> runs;
  for (int y = 0; y < displayHeight_; ++y) {
    const std::size_t logicalRow = static_cast<std::size_t>(scale_.ToLogical(y)) * width;
    int start = -1;
    for (int x = 0; x <= displayWidth_; ++x) {
      bool visible = false;
      if (x < displayWidth_) {
        const std::size_t at = logicalRow + static_cast<std::size_t>(scale_.ToLogical(x));
        visible = kind[at] == kIn ||
                  (kind[at] == kEdge &&
                   shown[static_cast<std::size_t>(y) * displayWidth_ + x] != cutColour[at]);
      }
      if (visible && start < 0) start = x;
      if (!visible && start >= 0) {
        runs.push_back({start, y, x, y + 1});
        start = -1;
      }
    }
  }
  return runs;
}

}  // namespace runtime

// The form's surface: its images of the client area (persistent, shown, and at the display
// scale), Point and Circle on them with the disc rasteriser, and the dirty areas through which
// a backend takes what changed. How the images relate is told in form.h.
#include <algorithm>
#include <cmath>

#include "platform/backend.h"
#include "platform/conversions.h"
#include "platform/errors.h"
#include "platform/form.h"

namespace runtime {
namespace {

// A colour with its top bit set names a system colour by index.
COLORREF ResolveColour(COLORREF colour) {
  if (colour & 0x80000000u) return GetSysColor(static_cast<int>(colour & 0x7FFFFFFFu));
  return colour;
}

PixelRect Union(const PixelRect& a, const PixelRect& b) {
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

bool Touch(const PixelRect& a, const PixelRect& b) {
  return a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom;
}

// A disc to rasterise: centre in pixels (pixel centres at whole numbers), the squares of the
// distances from it that bound the disc and its outline ring, and how far it reaches.
struct Disc {
  double cx, cy;
  double outer, inner;
  double reach;
  COLORREF outline, fill;
  bool solid;
};

// Paints `disc` into `image` (and into `also`, of the same size, when given). Returns the
// bounds of the pixels of `image` that changed.
PixelRect PaintDisc(COLORREF* image, COLORREF* also, int width, int height, const Disc& disc) {
  const int left = std::max(0, static_cast<int>(std::floor(disc.cx - disc.reach)));
  const int right = std::min(width - 1, static_cast<int>(std::ceil(disc.cx + disc.reach)));
  const int top = std::max(0, static_cast<int>(std::floor(disc.cy - disc.reach)));
  const int bottom = std::min(height - 1, static_cast<int>(std::ceil(disc.cy + disc.reach)));
  // The eyes are drawn fourteen times a second, mostly over what is already there: the loop
  // keeps to plain arithmetic and only notes the bounds of what really changed.
  PixelRect changed{width, height, 0, 0};
  for (int py = top; py <= bottom; ++py) {
    const double dy = py - disc.cy;
    const double dy2 = dy * dy;
    if (dy2 > disc.outer) continue;
    COLORREF* row = image + static_cast<std::size_t>(py) * width;
    COLORREF* alsoRow = also != nullptr ? also + static_cast<std::size_t>(py) * width : nullptr;
    for (int px = left; px <= right; ++px) {
      const double dx = px - disc.cx;
      const double d2 = dx * dx + dy2;
      if (d2 > disc.outer) continue;
      const bool onOutline = d2 > disc.inner;
      if (!onOutline && !disc.solid) continue;
      const COLORREF value = onOutline ? disc.outline : disc.fill;
      if (alsoRow != nullptr) alsoRow[px] = value;
      if (row[px] == value) continue;
      row[px] = value;
      changed.left = std::min(changed.left, px);
      changed.right = std::max(changed.right, px + 1);
      changed.top = std::min(changed.top, py);
      changed.bottom = py + 1;
    }
  }
  return changed;
}

}  // namespace

// The images start as the form loads: the background colour, then the picture, in client pixels
// and, at a display scale other than 1, in display pixels too.
void Form::CreateImages() {
  const std::size_t count = static_cast<std::size_t>(clientWidth_) * clientHeight_;
  persistent_.assign(count, ResolveColour(design_.backColor));
  const Picture& picture = design_.picture;
  for (int y = 0; y < std::min(clientHeight_, picture.Height()); ++y)
    for (int x = 0; x < std::min(clientWidth_, picture.Width()); ++x)
      persistent_[static_cast<std::size_t>(y) * clientWidth_ + x] = picture.Pixel(x, y);
  surface_ = persistent_;
  scale_ = platform::GetDisplayScale();
  displayWidth_ = scale_.ToDisplay(clientWidth_);
  displayHeight_ = scale_.ToDisplay(clientHeight_);
  if (!scale_.IsOne()) DrawDisplayImage();
  presented_ = Shown();
}

// The display image from the persistent image and the surface, at the display scale: the
// persistent image enlarged, with the picture drawn at the scale over it where there is one;
// then what the surface holds beyond the persistent image (drawing with AutoRedraw off),
// enlarged. As the form loads the last is nothing; after a scale change it is the drawing of the
// last ticks, which the next ones draw again at display pixels.
void Form::DrawDisplayImage() {
  display_.assign(static_cast<std::size_t>(displayWidth_) * displayHeight_, 0);
  const Picture& picture = design_.picture;
  Picture scaled;
  if (design_.scaledPicture != nullptr)
    scaled = Picture::FromBmp(design_.scaledPicture(scale_.Quarters()));
  const bool drawn = scaled.Handle() != 0 && scaled.Width() == scale_.ToDisplay(picture.Width()) &&
                     scaled.Height() == scale_.ToDisplay(picture.Height());
  for (int y = 0; y < displayHeight_; ++y) {
    COLORREF* row = display_.data() + static_cast<std::size_t>(y) * displayWidth_;
    const std::size_t logicalRow = static_cast<std::size_t>(scale_.ToLogical(y)) * clientWidth_;
    for (int x = 0; x < displayWidth_; ++x) {
      const std::size_t at = logicalRow + static_cast<std::size_t>(scale_.ToLogical(x));
      const bool onPicture = drawn && x < scaled.Width() && y < scaled.Height();
      row[x] = surface_[at] != persistent_[at] ? surface_[at]
               : onPicture                     ? scaled.Pixel(x, y)
                                               : persistent_[at];
    }
  }
}

bool Form::RaiseScaleChanged(platform::DisplayScale scale) {
  if (scale == scale_ || persistent_.empty()) return false;
  scale_ = scale;
  displayWidth_ = scale_.ToDisplay(clientWidth_);
  displayHeight_ = scale_.ToDisplay(clientHeight_);
  if (scale_.IsOne()) {
    std::vector<COLORREF>().swap(display_);
  } else {
    DrawDisplayImage();
  }
  // Nothing of the new image has been taken yet: all of it is to be shown.
  presented_.assign(Shown().size(), 0);
  const std::vector<COLORREF>& shown = Shown();
  for (std::size_t i = 0; i < presented_.size(); ++i) presented_[i] = ~shown[i];
  dirtyCount_ = 0;
  MarkDirty({0, 0, displayWidth_, displayHeight_});
  return true;
}

const std::vector<COLORREF>& Form::PointImage() const {
  return autoRedraw_ ? persistent_ : surface_;
}

COLORREF Form::Point(float x, float y) {
  EnsureLoaded();
  const double toPixels = static_cast<double>(UnitTwips()) / Screen::TwipsPerPixelX();
  const std::int32_t px = CLng(x * toPixels);
  const std::int32_t py = CLng(y * toPixels);
  if (px < 0 || py < 0 || px >= clientWidth_ || py >= clientHeight_) return 0xFFFFFFFFu;
  return PointImage()[static_cast<std::size_t>(py) * clientWidth_ + px];
}

void Form::Circle(float x, float y, float radius, COLORREF colour) {
  EnsureLoaded();
  const double toPixels = static_cast<double>(UnitTwips()) / Screen::TwipsPerPixelX();
  const double cx = CheckFloat(x * toPixels);
  const double cy = CheckFloat(y * toPixels);
  const double r = std::fabs(CheckFloat(radius * toPixels));
  const COLORREF outline = ResolveColour(colour);
  const COLORREF fill = ResolveColour(fillColor_);
  const bool solid = design_.fillStyle == vbFSSolid;

  // A pixel belongs to the circle when its centre lies within half a pixel of the radius;
  // the outermost pixel-wide ring is the outline, the rest the interior. Drawing with
  // AutoRedraw on also lands in the persistent image; either way it shows.
  const Disc disc{
      cx,   cy,   (r + 0.5) * (r + 0.5), r > 0.5 ? (r - 0.5) * (r - 0.5) : -1.0, r + 0.5, outline,
      fill, solid};
  COLORREF* persistent = autoRedraw_ ? persistent_.data() : nullptr;
  const PixelRect changed =
      PaintDisc(surface_.data(), persistent, clientWidth_, clientHeight_, disc);
  if (display_.empty()) {
    if (!changed.Empty()) MarkDirty(changed);
    return;
  }
  // The same circle at display pixels: the same centre and the same rings, measured in them.
  const double s = scale_.Factor();
  const double outer = (r + 0.5) * s;
  const double inner = (r - 0.5) * s;
  const Disc shown{scale_.ToDisplayCoordinate(cx),
                   scale_.ToDisplayCoordinate(cy),
                   outer * outer,
                   r > 0.5 ? inner * inner : -1.0,
                   outer,
                   outline,
                   fill,
                   solid};
  const PixelRect shownChanged =
      PaintDisc(display_.data(), nullptr, displayWidth_, displayHeight_, shown);
  if (!shownChanged.Empty()) MarkDirty(shownChanged);
}

void Form::MarkDirty(const PixelRect& rect) {
  const bool wasClean = dirtyCount_ == 0;
  bool merged = false;
  for (int i = 0; i < dirtyCount_ && !merged; ++i) {
    if (Touch(dirty_[static_cast<std::size_t>(i)], rect)) {
      dirty_[static_cast<std::size_t>(i)] = Union(dirty_[static_cast<std::size_t>(i)], rect);
      merged = true;
    }
  }
  if (!merged) {
    if (dirtyCount_ < kMaxDirty) {
      dirty_[static_cast<std::size_t>(dirtyCount_++)] = rect;
    } else {
      dirty_[kMaxDirty - 1] = Union(dirty_[kMaxDirty - 1], rect);
    }
  }
  if (wasClean) platform::InvalidateFormWindow(window_);
}

int Form::TakeDirty(std::array<PixelRect, kMaxDirty>& out) {
  const std::vector<COLORREF>& shown = Shown();
  int count = 0;
  for (int i = 0; i < dirtyCount_; ++i) {
    const PixelRect& r = dirty_[static_cast<std::size_t>(i)];
    PixelRect changed{r.right, r.bottom, r.left, r.top};
    for (int y = r.top; y < r.bottom; ++y) {
      const std::size_t row = static_cast<std::size_t>(y) * displayWidth_;
      for (int x = r.left; x < r.right; ++x) {
        if (presented_[row + x] == shown[row + x]) continue;
        presented_[row + x] = shown[row + x];
        changed.left = std::min(changed.left, x);
        changed.right = std::max(changed.right, x + 1);
        changed.top = std::min(changed.top, y);
        changed.bottom = y + 1;
      }
    }
    if (!changed.Empty()) out[static_cast<std::size_t>(count++)] = changed;
  }
  dirtyCount_ = 0;
  return count;
}

}  // namespace runtime

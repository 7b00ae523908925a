#include "platform/form.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/backend.h"
#include "platform/conversions.h"
#include "platform/errors.h"

namespace runtime {
namespace {

std::uint32_t ReadLE(std::span<const std::uint8_t> bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i)
    value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
  return value;
}

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

Form::Form(FormDesign design)
    : design_(std::move(design)),
      scaleMode_(design_.scaleMode),
      autoRedraw_(design_.autoRedraw),
      fillColor_(design_.fillColor) {}

Form::~Form() {
  if (window_ != nullptr) platform::DestroyFormWindow(window_);
}

void Form::EnsureLoaded() {
  if (window_ != nullptr) return;
  clientWidth_ = CLng(design_.clientWidthTwips / static_cast<float>(Screen::TwipsPerPixelX()));
  clientHeight_ = CLng(design_.clientHeightTwips / static_cast<float>(Screen::TwipsPerPixelY()));
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
  if (!scale_.IsOne()) DrawDisplayPicture();
  presented_ = Shown();

  window_ = platform::CreateFormWindow(*this);
  if (window_ == nullptr) Fail(ErrorCode::InvalidCall);
  design_.picture.ReleasePixels();  // the form's images hold them from now on
  try {
    Load();
  } catch (const Failure&) {
    // A failure that leaves the Load handler is the runtime's to drop.
  }
  for (Timer* timer : timers_) timer->Arm();
}

// The display image starts as the persistent image does, at the display scale: the background
// colour, then the picture drawn at the scale, or the picture enlarged where there is none.
void Form::DrawDisplayPicture() {
  display_.assign(static_cast<std::size_t>(displayWidth_) * displayHeight_,
                  ResolveColour(design_.backColor));
  const Picture& picture = design_.picture;
  Picture scaled;
  if (design_.scaledPicture != nullptr)
    scaled = Picture::FromBmp(design_.scaledPicture(scale_.Quarters()));
  const bool drawn = scaled.Handle() != 0 && scaled.Width() == scale_.ToDisplay(picture.Width()) &&
                     scaled.Height() == scale_.ToDisplay(picture.Height());
  const int width = std::min(displayWidth_, scale_.ToDisplay(picture.Width()));
  const int height = std::min(displayHeight_, scale_.ToDisplay(picture.Height()));
  for (int y = 0; y < height; ++y) {
    COLORREF* row = display_.data() + static_cast<std::size_t>(y) * displayWidth_;
    for (int x = 0; x < width; ++x)
      row[x] = drawn ? scaled.Pixel(x, y) : picture.Pixel(scale_.ToLogical(x), scale_.ToLogical(y));
  }
}

HWND Form::hWnd() {
  EnsureLoaded();
  return window_;
}

float Form::Top() {
  EnsureLoaded();
  RECT rect{};
  GetWindowRect(window_, &rect);
  return CSng(static_cast<double>(rect.top) * Screen::TwipsPerPixelY());
}

float Form::Left() {
  EnsureLoaded();
  RECT rect{};
  GetWindowRect(window_, &rect);
  return CSng(static_cast<double>(rect.left) * Screen::TwipsPerPixelX());
}

void Form::SetTop(float twips) {
  EnsureLoaded();
  const std::int32_t y = CLng(static_cast<double>(twips) / Screen::TwipsPerPixelY());
  RECT rect{};
  GetWindowRect(window_, &rect);
  SetWindowPos(window_, nullptr, rect.left, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::SetLeft(float twips) {
  EnsureLoaded();
  const std::int32_t x = CLng(static_cast<double>(twips) / Screen::TwipsPerPixelX());
  RECT rect{};
  GetWindowRect(window_, &rect);
  SetWindowPos(window_, nullptr, x, rect.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

float Form::Width() {
  EnsureLoaded();
  RECT rect{};
  GetWindowRect(window_, &rect);
  return CSng((static_cast<double>(rect.right) - rect.left) * Screen::TwipsPerPixelX());
}

const Picture& Form::GetPicture() {
  EnsureLoaded();
  return design_.picture;
}

std::int16_t Form::ScaleMode() {
  EnsureLoaded();
  return scaleMode_;
}

void Form::SetScaleMode(std::int16_t mode) {
  EnsureLoaded();
  if (mode < 0 || mode > 7) Fail(ErrorCode::InvalidValue);
  scaleMode_ = mode;
}

float Form::UnitTwips() const {
  switch (scaleMode_) {
    case 2:
      return 20.0f;  // points
    case vbPixels:
      return static_cast<float>(Screen::TwipsPerPixelX());
    case 4:
      return 120.0f;  // characters
    case 5:
      return 1440.0f;  // inches
    case 6:
      return 1440.0f / 25.4f;  // millimetres
    case 7:
      return 1440.0f / 2.54f;  // centimetres
    default:
      return 1.0f;  // twips, and a user scale left at its twips origin
  }
}

float Form::ScaleWidth() {
  EnsureLoaded();
  return CSng(static_cast<double>(clientWidth_) * Screen::TwipsPerPixelX() / UnitTwips());
}

float Form::ScaleHeight() {
  EnsureLoaded();
  return CSng(static_cast<double>(clientHeight_) * Screen::TwipsPerPixelY() / UnitTwips());
}

bool Form::AutoRedraw() {
  EnsureLoaded();
  return autoRedraw_;
}

void Form::SetAutoRedraw(bool on) {
  EnsureLoaded();
  autoRedraw_ = on;
}

COLORREF Form::BackColor() {
  EnsureLoaded();
  return design_.backColor;
}

void Form::SetFillColor(COLORREF colour) {
  EnsureLoaded();
  fillColor_ = colour;
}

const std::string& Form::Caption() {
  EnsureLoaded();
  return design_.caption;
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

void Form::Show() {
  EnsureLoaded();
  platform::ShowFormWindow(window_);
}

void Form::MouseDown(std::int16_t, std::int16_t, float, float) {}

void Form::RaiseMouseDown(std::int16_t button, std::int16_t shift, int x, int y) {
  try {
    const float toUnits = static_cast<float>(Screen::TwipsPerPixelX()) / UnitTwips();
    MouseDown(button, shift, static_cast<float>(x) * toUnits, static_cast<float>(y) * toUnits);
  } catch (const Failure&) {
    // Dropped: a failure that reaches the runtime does not stop the program.
  }
}

void Form::RaiseDblClick() {
  try {
    DblClick();
  } catch (const Failure&) {
  }
}

Timer::Timer(Form& owner, int intervalMs, bool enabled, std::function<void()> handler)
    : interval_(intervalMs), enabled_(enabled), handler_(std::move(handler)) {
  owner.AddTimer(*this);
}

Timer::~Timer() {
  if (armed_) platform::StopTimer(*this);
}

void Timer::Arm() {
  if (armed_ || !enabled_ || interval_ <= 0) return;
  armed_ = true;
  platform::StartTimer(*this);
}

void Timer::RaiseTimer() {
  try {
    handler_();
  } catch (const Failure&) {
  }
}

namespace {

// Splits the executable's path at its last folder separator.
std::size_t LastSeparator(const std::string& path) {
#if defined(_WIN32)
  return path.find_last_of("\\/");
#else
  return path.find_last_of('/');
#endif
}

}  // namespace

bool App::PrevInstance() { return platform::IsPreviousInstanceRunning(); }

std::string App::Path() {
  const std::string path = platform::ExecutablePath();
  const std::size_t cut = LastSeparator(path);
  if (cut == std::string::npos) return {};
  // A folder at the root keeps its separator ("C:\", "/"), as the system spells roots.
  const bool root = cut == 0 || (cut == 2 && path[1] == ':');
  return path.substr(0, root ? cut + 1 : cut);
}

std::string App::EXEName() {
  const std::string path = platform::ExecutablePath();
  const std::size_t cut = LastSeparator(path);
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

float Screen::Width() {
  return CSng(static_cast<double>(platform::ScreenWidthPixels()) * TwipsPerPixelX());
}

int Screen::TwipsPerPixelX() { return platform::TwipsPerPixelX(); }
int Screen::TwipsPerPixelY() { return platform::TwipsPerPixelY(); }

void End() { platform::EndProgram(); }

void RunEventLoop() { platform::RunEventLoop(); }

}  // namespace runtime

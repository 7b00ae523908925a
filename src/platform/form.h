// The form runtime: forms with their design-time properties, drawing, timers and the
// application-wide objects the program uses.
//
// A form draws into pixel images of its own rather than through the window system, so that
// `Point` and `Circle` give the same pixels everywhere and a backend only has to show them.
// There are two images of the client area: the persistent image (background colour, picture,
// and whatever was drawn while AutoRedraw was on) and the surface, which is what the window
// shows. With AutoRedraw on, drawing and `Point` use the persistent image (and drawing is shown
// too); with it off they use the surface. Every change to the surface is recorded as a dirty
// rectangle; the backend takes them once per round of its loop and gets only the areas whose
// pixels really differ from what it took before.
//
// At a display scale other than 1 (backend.h) the surface has a third image, the display image:
// the client area drawn at that scale for the backend to show, from the picture drawn at the
// scale and with each circle rasterised at display pixels, so that it is crisp rather than
// stretched. The program's own coordinates, Point and the surface stay in 96-dpi pixels.
//
// A form is loaded on first use of any of its properties or methods: the runtime creates its
// native window (hidden) and raises `Load` before the access goes on.
//
// This header is the one the program includes. The runtime's files, by job:
//   form.cpp           the form itself: loading, properties, events, and the Timer control
//   form_surface.cpp   the images, Point and Circle (the disc rasteriser), the dirty areas
//   display_shape.cpp  a window region in display pixels (Form::DisplayShape)
//   display_scale.*    the display scale and its conversions
//   picture.*          the picture and its BMP reader
//   application.*      App, Screen, End and the event loop
//   conversions.*      numbers and text; errors.h: failures and the two error modes
// What a backend owes the runtime, and the Win32-named services it provides elsewhere than on
// Windows, are listed in backend.h; the Win32 types and names the program uses in win32_api.h.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/display_scale.h"
#include "platform/picture.h"
#include "platform/win32_api.h"

namespace runtime {

inline constexpr std::int16_t vbTwips = 1;
inline constexpr std::int16_t vbPixels = 3;
inline constexpr std::int16_t vbFSSolid = 0;
inline constexpr std::int16_t vbFSTransparent = 1;

inline constexpr std::int16_t vbLeftButton = 1;
inline constexpr std::int16_t vbRightButton = 2;
inline constexpr std::int16_t vbMiddleButton = 4;
inline constexpr std::int16_t vbShiftMask = 1;
inline constexpr std::int16_t vbCtrlMask = 2;
inline constexpr std::int16_t vbAltMask = 4;

// A rectangle of client pixels, right and bottom exclusive.
struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool Empty() const { return right <= left || bottom <= top; }
  bool operator==(const PixelRect&) const = default;
};

// What a form is at design time, before it is loaded.
struct FormDesign {
  float clientWidthTwips = 0;
  float clientHeightTwips = 0;
  std::int16_t scaleMode = vbTwips;
  std::int16_t fillStyle = vbFSTransparent;
  COLORREF fillColor = 0;
  COLORREF backColor = 0x8000000F;  // the system's button face colour
  bool autoRedraw = false;
  std::string caption;
  Picture picture;
  // The icon as 32 x 32 pixels 0xAARRGGBB, top row first; empty for none. A backend that
  // carries the icon as a native resource may ignore it.
  std::span<const std::uint32_t> icon;
  // The picture drawn at a display scale (in quarters: 8 is 2x) as a BMP file image of the
  // picture's size times the scale; empty when there is none, and the picture is then shown
  // enlarged. Null for none at all.
  std::span<const std::uint8_t> (*scaledPicture)(int quarters) = nullptr;
};

class Timer;

class Form {
 public:
  explicit Form(FormDesign design);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  // Properties. Positions and sizes are twips; Point, Circle and Scale* use scale units.
  HWND hWnd();
  float Top();
  void SetTop(float twips);
  float Left();
  void SetLeft(float twips);
  float Width();
  const Picture& GetPicture();
  std::int16_t ScaleMode();
  void SetScaleMode(std::int16_t mode);
  float ScaleWidth();
  float ScaleHeight();
  bool AutoRedraw();
  void SetAutoRedraw(bool on);
  COLORREF BackColor();
  void SetFillColor(COLORREF colour);
  const std::string& Caption();

  // Methods.
  COLORREF Point(float x, float y);  // -1 outside the client area
  void Circle(float x, float y, float radius, COLORREF colour);
  void Show();

  // Entries for the backend: native input, delivered one at a time, with the position in
  // client pixels. A failure that reaches the runtime from a handler is dropped; the program
  // goes on.
  void RaiseMouseDown(std::int16_t button, std::int16_t shift, int x, int y);
  void RaiseDblClick();
  // The window is now shown at `scale` (it moved to a monitor of another scale, or the user
  // changed the scale): the display image is drawn again at it, from the picture drawn for it,
  // and what was drawn over the picture (the eyes) shows enlarged until it is drawn again. The
  // whole image then counts as changed. Returns false when the scale is the one already shown.
  // The surface, the program's coordinates and the region it set stay as they are; the backend
  // sizes its window to the new display size and makes the region's shape again (DisplayShape).
  bool RaiseScaleChanged(platform::DisplayScale scale);

  // The surface, in client pixels.
  int ClientWidthPixels() const { return clientWidth_; }
  int ClientHeightPixels() const { return clientHeight_; }
  COLORREF SurfacePixel(int x, int y) const {
    return surface_[static_cast<std::size_t>(y) * clientWidth_ + x];
  }
  const COLORREF* SurfaceRow(int y) const {
    return surface_.data() + static_cast<std::size_t>(y) * clientWidth_;
  }
  // What the backend shows, in display pixels: the surface at the display scale (the surface
  // itself at 1x), and the areas changed since the last call of TakeDirty.
  platform::DisplayScale Scale() const { return scale_; }
  int DisplayWidthPixels() const { return displayWidth_; }
  int DisplayHeightPixels() const { return displayHeight_; }
  const COLORREF* DisplayRow(int y) const {
    return Shown().data() + static_cast<std::size_t>(y) * displayWidth_;
  }
  // Copies out the areas of the display image whose pixels differ from what was taken last time
  // (at most kMaxDirty bounding boxes; a drawing that ends as it began yields none), and counts
  // them as shown. Returns how many.
  static constexpr int kMaxDirty = 4;
  int TakeDirty(std::array<PixelRect, kMaxDirty>& out);
  // A window region `rects` (client pixels, as SetWindowRgn takes it) in display pixels, one
  // rectangle per run of a row. Its edges follow the display image: a display pixel within one
  // client pixel of the region's edge is shown when it differs from the colour the surface has
  // just outside the region (the trimmer's key colour), so the outline of a picture drawn at
  // the scale is kept exactly, with neither a fringe of that colour nor a cut into the picture.
  // Away from the edge, the region alone decides.
  std::vector<PixelRect> DisplayShape(std::span<const RECT> rects) const;
  // The design-time content (caption, icon) as the backend needs it, without loading.
  const FormDesign& Design() const { return design_; }
  bool IsLoaded() const { return window_ != nullptr; }

  // Controls register themselves with their form; timers start ticking once it has loaded.
  void AddTimer(Timer& timer) { timers_.push_back(&timer); }

 protected:
  // Events, overridden by a concrete form.
  virtual void Load() {}
  virtual void MouseDown(std::int16_t button, std::int16_t shift, float x, float y);
  virtual void DblClick() {}

 private:
  void EnsureLoaded();
  void CreateImages();                              // the images as the form loads
  float UnitTwips() const;                          // twips per scale unit
  const std::vector<COLORREF>& PointImage() const;  // the image Point reads
  const std::vector<COLORREF>& Shown() const { return display_.empty() ? surface_ : display_; }
  void DrawDisplayImage();
  void MarkDirty(const PixelRect& rect);

  FormDesign design_;
  HWND window_ = nullptr;
  bool loading_ = false;
  int clientWidth_ = 0;
  int clientHeight_ = 0;
  std::int16_t scaleMode_;
  bool autoRedraw_;
  COLORREF fillColor_;
  std::vector<COLORREF> persistent_;
  std::vector<COLORREF> surface_;
  platform::DisplayScale scale_;
  int displayWidth_ = 0;
  int displayHeight_ = 0;
  std::vector<COLORREF> display_;    // empty at 1x, where the surface is shown as it is
  std::vector<COLORREF> presented_;  // the display image as the backend last took it
  std::array<PixelRect, kMaxDirty> dirty_{};
  int dirtyCount_ = 0;
  std::vector<Timer*> timers_;
};

// A timer control on a form. While the form is loaded and the timer enabled with a non-zero
// interval, the event loop raises its Timer event every Interval milliseconds.
class Timer {
 public:
  Timer(Form& owner, int intervalMs, bool enabled, std::function<void()> handler);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  int Interval() const { return interval_; }
  bool Enabled() const { return enabled_; }
  // Starts ticking if enabled; its form calls this once it has loaded.
  void Arm();
  // Entry for the backend: one tick. A failure that reaches the runtime is dropped.
  void RaiseTimer();

  // A backend's own bookkeeping for this timer (its next deadline or native id).
  std::int64_t backendData = 0;

 private:
  int interval_;
  bool enabled_;
  bool armed_ = false;
  std::function<void()> handler_;
};

}  // namespace runtime

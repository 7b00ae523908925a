// The form itself: loading on first use, the design-time properties in twips and scale units,
// the events a backend raises, and the Timer control. The images and drawing are the surface's
// (form_surface.cpp); what each file of the runtime holds is listed in form.h.
#include "platform/form.h"

#include <utility>

#include "platform/backend.h"
#include "platform/conversions.h"
#include "platform/errors.h"

namespace runtime {

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
  CreateImages();

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

}  // namespace runtime

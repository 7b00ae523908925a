// The scale at which a backend shows forms: how many display pixels make one of the program's
// 96-dpi pixels. The program works in 96-dpi pixels and twips whatever the desktop's scale, as
// Windows presents the screen to a program that declares no DPI awareness; a backend whose
// desktop is scaled (an X11 desktop at 192 dpi, say) converts at its edge with these, and the
// form runtime draws what it shows at the scale.
#pragma once

#include <cstdint>

namespace platform {

class DisplayScale {
 public:
  // Scales go in quarters, from 1x to 3x: the largest picture the program carries.
  static constexpr int kOneX = 4;
  static constexpr int kMaxQuarters = 12;

  constexpr DisplayScale() = default;
  // `factor` rounded to the nearest quarter; below 1 (or not a number) 1, above 3 3.
  static DisplayScale FromFactor(double factor);
  static DisplayScale FromQuarters(int quarters);

  int Quarters() const { return quarters_; }
  double Factor() const { return quarters_ / 4.0; }
  bool IsOne() const { return quarters_ == kOneX; }

  // 96-dpi pixel n covers the display pixels from ToDisplay(n) up to ToDisplay(n + 1),
  // exclusive, and display pixel d lies in 96-dpi pixel ToLogical(d). So ToLogical(ToDisplay(n))
  // is n for every n: a place converted to display pixels and back never drifts, and a display
  // place converted once lands on the first display pixel of its 96-dpi pixel and stays there.
  // The same conversion gives sizes: 159 pixels are 239 display pixels at 1.5x.
  int ToDisplay(int logical) const;  // ceil(logical * scale)
  int ToLogical(int display) const;  // floor(display / scale)
  // A coordinate in a 96-dpi image, pixel centres at whole numbers, in display pixels with
  // their centres at whole numbers.
  double ToDisplayCoordinate(double logical) const { return (logical + 0.5) * Factor() - 0.5; }

  bool operator==(const DisplayScale&) const = default;

 private:
  explicit constexpr DisplayScale(int quarters) : quarters_(quarters) {}
  int quarters_ = kOneX;
};

}  // namespace platform

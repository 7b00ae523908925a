// Showing the program at the desktop's scale: reading the scale (X11's Xft.dpi and the
// program's own variable), converting between display pixels and the program's 96-dpi pixels,
// and the form runtime's display image and window shape at a scale.
#include "platform/display_scale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/conversions.h"
#include "platform/form.h"
#include "platform/headless/headless.h"
#include "platform/x11/desktop_scale.h"
#include "test_support.h"
#include "watcher/f_mouse_watch.h"

namespace {

using ::PrintTo;
using platform::DisplayScale;

// ---- Reading the scale --------------------------------------------------------------------

struct DpiCase {
  const char* name;
  std::string resources;
  std::optional<double> dpi;
};

class XftDpiTest : public ::testing::TestWithParam<DpiCase> {};

TEST_P(XftDpiTest, ReadsTheValueOrNothing) {
  EXPECT_EQ(x11::XftDpi(GetParam().resources), GetParam().dpi) << GetParam().resources;
}

INSTANTIATE_TEST_SUITE_P(
    Resources, XftDpiTest,
    ::testing::Values(
        DpiCase{"AsXrdbWritesIt", "Xft.dpi:\t192\n", 192.0},
        DpiCase{"AmongOthers",
                "Xcursor.size:\t48\nXft.antialias:\t1\nXft.dpi:\t144\nXft.rgba:\trgb\n", 144.0},
        DpiCase{"BlanksAndNoFinalLineFeed", "  Xft.dpi :  120.5  ", 120.5},
        DpiCase{"CarriageReturns", "Xft.dpi:\t168\r\nXft.hinting:\t1\r\n", 168.0},
        DpiCase{"LastOneCounts", "Xft.dpi:\t96\nXft.dpi:\t192\n", 192.0},
        DpiCase{"Absent", "Xcursor.size:\t48\nXft.antialias:\t1\n", std::nullopt},
        DpiCase{"Empty", "", std::nullopt},
        DpiCase{"OtherNameWithTheSameStart", "Xft.dpiScale:\t192\n", std::nullopt},
        DpiCase{"OtherResourceWithTheSameEnd", "XTerm.Xft.dpi:\t192\n", std::nullopt},
        DpiCase{"Garbage", "Xft.dpi:\tlarge\n", std::nullopt},
        DpiCase{"NumberThenGarbage", "Xft.dpi:\t192dpi\n", std::nullopt},
        DpiCase{"TwoDecimalPoints", "Xft.dpi:\t19.2.0\n", std::nullopt},
        DpiCase{"Exponent", "Xft.dpi:\t1.92e2\n", std::nullopt},
        DpiCase{"Hexadecimal", "Xft.dpi:\t0xC0\n", std::nullopt},
        DpiCase{"PlusSign", "Xft.dpi:\t+144\n", 144.0},
        DpiCase{"TooManyDigits", "Xft.dpi:\t" + std::string(400, '9') + "\n", std::nullopt},
        DpiCase{"NoValue", "Xft.dpi:\n", std::nullopt},
        DpiCase{"Zero", "Xft.dpi:\t0\n", std::nullopt},
        DpiCase{"Negative", "Xft.dpi:\t-192\n", std::nullopt},
        DpiCase{"Infinite", "Xft.dpi:\tinf\n", std::nullopt},
        DpiCase{"NotANumber", "Xft.dpi:\tnan\n", std::nullopt},
        DpiCase{"GarbageLastHidesAnEarlierValue", "Xft.dpi:\t192\nXft.dpi:\tbig\n", std::nullopt}),
    ParamName);

struct ScaleCase {
  const char* name;
  const char* override;  // OZZLEBECK_SCALE, or null when unset
  const char* resources;
  int quarters;
};

class DesktopScaleTest : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(DesktopScaleTest, ChoosesTheScale) {
  const ScaleCase& c = GetParam();
  EXPECT_EQ(x11::DesktopScale(c.override, c.resources).Quarters(), c.quarters);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, DesktopScaleTest,
    ::testing::Values(ScaleCase{"Dpi192IsTwice", nullptr, "Xft.dpi:\t192\n", 8},
                      ScaleCase{"Dpi144IsOneAndAHalf", nullptr, "Xft.dpi:\t144\n", 6},
                      ScaleCase{"Dpi120", nullptr, "Xft.dpi:\t120\n", 5},
                      ScaleCase{"Dpi168", nullptr, "Xft.dpi:\t168\n", 7},
                      ScaleCase{"Dpi96", nullptr, "Xft.dpi:\t96\n", 4},
                      // 1.15 and 1.104: to the nearest quarter, either side of 1.125.
                      ScaleCase{"Dpi110RoundsUp", nullptr, "Xft.dpi:\t110.4\n", 5},
                      ScaleCase{"Dpi106RoundsDown", nullptr, "Xft.dpi:\t106\n", 4},
                      ScaleCase{"HalfAQuarterRoundsUp", nullptr, "Xft.dpi:\t108\n", 5},
                      ScaleCase{"BelowOneIsOne", nullptr, "Xft.dpi:\t72\n", 4},
                      ScaleCase{"ThreeIsTheLargest", nullptr, "Xft.dpi:\t288\n", 12},
                      ScaleCase{"AboveThreeIsThree", nullptr, "Xft.dpi:\t384\n", 12},
                      ScaleCase{"NoResources", nullptr, nullptr, 4},
                      ScaleCase{"NoXftDpi", nullptr, "Xft.antialias:\t1\n", 4},
                      ScaleCase{"GarbageDpi", nullptr, "Xft.dpi:\tlarge\n", 4},
                      ScaleCase{"OverrideWins", "2", "Xft.dpi:\t144\n", 8},
                      ScaleCase{"OverrideWithoutResources", "1.5", nullptr, 6},
                      ScaleCase{"OverrideRoundedToQuarters", "1.3", "Xft.dpi:\t192\n", 5},
                      ScaleCase{"OverrideOneOverridesADesktopScale", "1", "Xft.dpi:\t192\n", 4},
                      ScaleCase{"OverrideBelowOneIsOne", "0.5", "Xft.dpi:\t192\n", 4},
                      ScaleCase{"OverrideAboveThreeIsThree", "4", nullptr, 12},
                      ScaleCase{"OverrideWithBlanks", " 2.5 ", nullptr, 10},
                      ScaleCase{"GarbageOverrideIsIgnored", "twice", "Xft.dpi:\t144\n", 6},
                      ScaleCase{"OverrideWithUnitIsIgnored", "2x", "Xft.dpi:\t144\n", 6},
                      ScaleCase{"EmptyOverrideIsIgnored", "", "Xft.dpi:\t192\n", 8},
                      ScaleCase{"NotANumberOverrideIsIgnored", "nan", "Xft.dpi:\t192\n", 8}),
    ParamName);

// ---- Conversions --------------------------------------------------------------------------

// Every scale the program can run at, 1.25x to 3x.
std::vector<DisplayScale> Scales() {
  std::vector<DisplayScale> scales;
  for (int q = 5; q <= 12; ++q) scales.push_back(DisplayScale::FromQuarters(q));
  return scales;
}

struct ConversionCase {
  int quarters;
  int logical;
  int display;
};

TEST(DisplayScaleTest, SizesAndPlacesInDisplayPixels) {
  // The window's 132 x 159 pixels, and places, rounded up; display places rounded down.
  const ConversionCase cases[] = {{8, 132, 264}, {8, 159, 318}, {6, 132, 198},  {6, 159, 239},
                                  {5, 159, 199}, {7, 159, 279}, {8, 100, 200},  {8, 50, 100},
                                  {6, 67, 101},  {6, 133, 200}, {8, -50, -100}, {6, -67, -100},
                                  {4, 159, 159}, {12, 159, 477}};
  for (const ConversionCase& c : cases) {
    const DisplayScale scale = DisplayScale::FromQuarters(c.quarters);
    EXPECT_EQ(scale.ToDisplay(c.logical), c.display) << c.quarters << "/4 x " << c.logical;
    EXPECT_EQ(scale.ToLogical(c.display), c.logical) << c.quarters << "/4 of " << c.display;
  }
  // Display pixels inside a 96-dpi pixel belong to it, on both sides of zero.
  EXPECT_EQ(DisplayScale::FromQuarters(8).ToLogical(201), 100);
  EXPECT_EQ(DisplayScale::FromQuarters(8).ToLogical(-101), -51);
  EXPECT_EQ(DisplayScale::FromQuarters(6).ToLogical(100), 66);
  EXPECT_EQ(DisplayScale::FromQuarters(6).ToLogical(-1), -1);
}

// The settings file holds a place as 96-dpi pixels times 15 (twips); the program reads it back
// with CLng(twips / 15). At one scale, a place saved and restored lands on the same display
// pixel whenever it was restored before, and a place never drifts over saves and restores.
TEST(DisplayScaleTest, PlacesSavedAndRestoredAtOneScaleDoNotDrift) {
  auto saveAndRestore = [](const DisplayScale& scale, int display) {
    const float twips = runtime::CSng(static_cast<double>(scale.ToLogical(display)) * 15);
    return scale.ToDisplay(runtime::CLng(static_cast<double>(twips) / 15));
  };
  for (const DisplayScale& scale : Scales()) {
    for (int logical = -2000; logical <= 4000; ++logical) {
      const int display = scale.ToDisplay(logical);
      ASSERT_EQ(scale.ToLogical(display), logical) << scale.Quarters() << "/4";
      ASSERT_EQ(saveAndRestore(scale, display), display) << scale.Quarters() << "/4";
    }
    for (int display = -3000; display <= 8000; ++display) {
      // Any display place lands on the first display pixel of its 96-dpi pixel, and stays.
      const int restored = saveAndRestore(scale, display);
      ASSERT_LE(restored, display) << scale.Quarters() << "/4 at " << display;
      ASSERT_GT(restored + scale.Factor(), display) << scale.Quarters() << "/4 at " << display;
      ASSERT_EQ(saveAndRestore(scale, restored), restored) << scale.Quarters() << "/4";
    }
  }
}

TEST(DisplayScaleTest, FactorsBecomeQuartersFromOneToThree) {
  EXPECT_EQ(DisplayScale::FromFactor(2.0).Quarters(), 8);
  EXPECT_EQ(DisplayScale::FromFactor(1.374).Quarters(), 5);
  EXPECT_EQ(DisplayScale::FromFactor(1.376).Quarters(), 6);
  EXPECT_EQ(DisplayScale::FromFactor(0.999).Quarters(), 4);
  EXPECT_EQ(DisplayScale::FromFactor(-2).Quarters(), 4);
  EXPECT_EQ(DisplayScale::FromFactor(std::nan("")).Quarters(), 4);
  EXPECT_EQ(DisplayScale::FromFactor(3.1).Quarters(), 12);
  EXPECT_EQ(DisplayScale::FromFactor(1e300).Quarters(), 12);
  EXPECT_EQ(DisplayScale::FromQuarters(2).Quarters(), 4);
  EXPECT_EQ(DisplayScale::FromQuarters(13).Quarters(), 12);
  EXPECT_TRUE(DisplayScale().IsOne());
}

// ---- The form's display image and shape ---------------------------------------------------

constexpr COLORREF kKey = 0x00000000;   // the surround, as the trimmer cuts it away
constexpr COLORREF kFace = 0x003070C0;  // the picture's own colour
constexpr COLORREF kWhite = 0x00FFFFFF;
constexpr COLORREF kEye = 0x00FFF8F8;

// A disc of radius `radius` (in 96-dpi pixels) centred on (cx, cy) of a 96-dpi image of
// `width` x `height`, and a band across the image from 0.4 pixels right of its left edge, rows
// 18 to 22, drawn at `scale`: display pixel centres inside them are face. So at 1x the band
// reaches the left edge, at the larger scales it stops one display pixel short of it.
std::vector<COLORREF> DiscPicture(int width, int height, double cx, double cy, double radius,
                                  double scale) {
  std::vector<COLORREF> pixels(static_cast<std::size_t>(width * height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      pixels[static_cast<std::size_t>(y * width + x)] =
          std::hypot((x + 0.5) / scale - cx, (y + 0.5) / scale - cy) < radius ||
                  ((x + 0.5) / scale > 0.4 && std::abs((y + 0.5) / scale - 20.5) < 2.5)
              ? kFace
              : kKey;
  return pixels;
}

// The scaled pictures the form is given, by quarters; kept alive for the test.
std::vector<std::vector<std::uint8_t>>& ScaledBmps() {
  static std::vector<std::vector<std::uint8_t>> bmps(13);
  return bmps;
}
std::span<const std::uint8_t> ScaledBmp(int quarters) {
  return quarters >= 0 && quarters < 13 ? std::span<const std::uint8_t>(ScaledBmps()[quarters])
                                        : std::span<const std::uint8_t>();
}

// A 30 x 24 form showing a disc of radius 9.3 at (8.2, 11.6), cut by the client's left edge,
// and a band to that edge: the picture at 1x and, for each scale, the same drawn at that scale.
runtime::FormDesign DiscDesign() {
  constexpr int kW = 30, kH = 24;
  runtime::FormDesign design;
  design.clientWidthTwips = kW * 15;
  design.clientHeightTwips = kH * 15;
  design.scaleMode = runtime::vbPixels;
  design.fillStyle = runtime::vbFSSolid;
  design.backColor = kWhite;
  design.picture =
      runtime::Picture::FromBmp(MakeBmp(kW, kH, DiscPicture(kW, kH, 8.2, 11.6, 9.3, 1)));
  for (int q = 5; q <= 12; ++q) {
    const DisplayScale scale = DisplayScale::FromQuarters(q);
    const int w = scale.ToDisplay(kW), h = scale.ToDisplay(kH);
    ScaledBmps()[static_cast<std::size_t>(q)] =
        MakeBmp(w, h, DiscPicture(w, h, 8.2, 11.6, 9.3, scale.Factor()));
  }
  design.scaledPicture = &ScaledBmp;
  return design;
}

COLORREF DisplayPixel(const runtime::Form& form, int x, int y) { return form.DisplayRow(y)[x]; }

// Whether display pixel (x, y) lies in one of the rectangles of `shape`.
bool InShape(const std::vector<runtime::PixelRect>& shape, int x, int y) {
  return std::ranges::any_of(shape, [&](const runtime::PixelRect& r) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
  });
}

// Asserts that `shape` is made of one-row rectangles inside the display image of `form`, and
// shows exactly the image's pixels that are not of the key colour.
void ExpectShapeFollowsTheDisplayImage(const runtime::Form& form,
                                       const std::vector<runtime::PixelRect>& shape) {
  const int width = form.DisplayWidthPixels(), height = form.DisplayHeightPixels();
  for (const runtime::PixelRect& r : shape)
    ASSERT_TRUE(r.bottom == r.top + 1 && r.top >= 0 && r.top < height && r.left >= 0 &&
                r.right <= width)
        << ::testing::PrintToString(r);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      ASSERT_EQ(InShape(shape, x, y), DisplayPixel(form, x, y) != kKey)
          << "display pixel " << x << ", " << y;
}

// The region the trimmer builds: every client pixel that differs from the key colour.
std::vector<RECT> KeyCut(runtime::Form& form) {
  form.hWnd();
  std::vector<RECT> rects;
  for (int y = 0; y < form.ClientHeightPixels(); ++y)
    for (int x = 0; x < form.ClientWidthPixels(); ++x)
      if (form.Point(static_cast<float>(x), static_cast<float>(y)) != kKey)
        rects.push_back({x, y, x + 1, y + 1});
  return rects;
}

// At each scale, a form showing DiscDesign().
class DisplayImageTest : public HeadlessTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    headless::SetDisplayScale(Scale());
  }
  DisplayScale Scale() const { return DisplayScale::FromQuarters(GetParam()); }
  runtime::Form form{DiscDesign()};
};

// The display image is the picture drawn at the scale, not the 96-dpi picture enlarged, while
// Point and the client size stay in 96-dpi pixels.
TEST_P(DisplayImageTest, ShowsThePictureDrawnAtTheScale) {
  form.hWnd();
  ASSERT_EQ(form.Scale(), Scale());
  EXPECT_EQ(form.ClientWidthPixels(), 30);
  EXPECT_EQ(form.ScaleWidth(), 30.0f);
  ASSERT_EQ(form.DisplayWidthPixels(), Scale().ToDisplay(30));
  ASSERT_EQ(form.DisplayHeightPixels(), Scale().ToDisplay(24));
  const runtime::Picture scaled = runtime::Picture::FromBmp(ScaledBmp(GetParam()));
  int differFromEnlarged = 0;
  for (int y = 0; y < form.DisplayHeightPixels(); ++y) {
    for (int x = 0; x < form.DisplayWidthPixels(); ++x) {
      ASSERT_EQ(DisplayPixel(form, x, y), scaled.Pixel(x, y)) << "at " << x << ", " << y;
      differFromEnlarged +=
          DisplayPixel(form, x, y) != form.SurfacePixel(Scale().ToLogical(x), Scale().ToLogical(y));
    }
  }
  EXPECT_GT(differFromEnlarged, 0);
  EXPECT_EQ(form.Point(14, 11), kFace);
  EXPECT_EQ(form.Point(0, 0), kKey);
}

// Without a picture for the scale (or with one of the wrong size) the picture is enlarged.
TEST_P(DisplayImageTest, EnlargesThePictureWithoutOneDrawnAtTheScale) {
  for (const bool wrongSize : {false, true}) {
    runtime::FormDesign design = DiscDesign();
    if (wrongSize) {
      const int width = Scale().ToDisplay(30) - 1, height = Scale().ToDisplay(24);
      ScaledBmps()[static_cast<std::size_t>(GetParam())] =
          MakeBmp(width, height, std::vector<COLORREF>(width * height, kFace));
    } else {
      design.scaledPicture = nullptr;
    }
    runtime::Form enlarged(std::move(design));
    enlarged.hWnd();
    for (int y = 0; y < enlarged.DisplayHeightPixels(); ++y)
      for (int x = 0; x < enlarged.DisplayWidthPixels(); ++x)
        ASSERT_EQ(DisplayPixel(enlarged, x, y),
                  enlarged.SurfacePixel(Scale().ToLogical(x), Scale().ToLogical(y)))
            << "at " << x << ", " << y << (wrongSize ? " (wrong size)" : " (none)");
  }
}

// A circle is rasterised at display pixels: the pixels whose centres lie within the radius plus
// half a 96-dpi pixel of the circle's centre, measured at the scale. The changed area is handed
// to the backend in display pixels.
TEST_P(DisplayImageTest, CirclesAreRasterisedAtDisplayPixels) {
  TakeDirty(form);
  form.SetFillColor(kEye);
  form.Circle(14.0f, 11.5f, 5.0f, kEye);

  const double s = Scale().Factor();
  const double cx = (14.0 + 0.5) * s - 0.5, cy = (11.5 + 0.5) * s - 0.5, reach = 5.5 * s;
  runtime::PixelRect expected{1000, 1000, -1, -1};
  for (int y = 0; y < form.DisplayHeightPixels(); ++y) {
    for (int x = 0; x < form.DisplayWidthPixels(); ++x) {
      const bool inDisc = std::hypot(x - cx, y - cy) <= reach;
      ASSERT_EQ(DisplayPixel(form, x, y) == kEye, inDisc) << "at " << x << ", " << y;
      if (inDisc) {
        expected = {std::min(expected.left, x), std::min(expected.top, y),
                    std::max(expected.right, x + 1), std::max(expected.bottom, y + 1)};
      }
    }
  }
  EXPECT_EQ(TakeDirty(form), std::vector{expected});
  // The program's own image is drawn in its pixels as ever.
  EXPECT_EQ(form.Point(14, 6), kEye);
  EXPECT_EQ(form.Point(14, 5), kFace);
}

// The trimmer's region, taken to display pixels, is exactly the picture drawn at the scale
// without its key colour: no key-colour fringe and no face pixel cut away, along the client's
// edge too.
TEST_P(DisplayImageTest, ShapeFollowsThePictureDrawnAtTheScale) {
  const std::vector<RECT> region = KeyCut(form);
  ExpectShapeFollowsTheDisplayImage(form, form.DisplayShape(region));
}

// Away from the region's edge the region alone decides: a rectangle cut out of the middle of
// the face stays cut, and a pixel of the key colour deep inside the region stays shown.
TEST_P(DisplayImageTest, ShapeAwayFromTheEdgeFollowsTheRegion) {
  form.hWnd();
  const std::vector<RECT> region = {{5, 3, 25, 9}, {5, 12, 25, 20}};  // rows 9..11 cut
  const std::vector<runtime::PixelRect> shape = form.DisplayShape(region);
  // Whether the display pixel at 96-dpi pixel (x, y) is shown.
  auto inShape = [&](int x, int y) {
    return InShape(shape, Scale().ToDisplay(x), Scale().ToDisplay(y));
  };
  // Middle of the cut row 10, of the kept rows 6 and 16, all in the face.
  EXPECT_FALSE(inShape(14, 10));
  EXPECT_TRUE(inShape(14, 6));
  EXPECT_TRUE(inShape(14, 16));
  // Left of the region (column 2) is face, but far from the region: cut.
  ASSERT_EQ(form.Point(2, 16), kFace);
  EXPECT_FALSE(inShape(2, 16));
  // (23, 4) is of the key colour, but inside the region, away from its edge: shown.
  ASSERT_EQ(form.Point(23, 4), kKey);
  EXPECT_TRUE(inShape(23, 4));
}

INSTANTIATE_TEST_SUITE_P(Scales, DisplayImageTest, ::testing::Range(5, 13),
                         [](const auto& info) { return "Quarters" + std::to_string(info.param); });

// ---- A scale change while running ---------------------------------------------------------

struct ScaleChange {
  int from, to;  // quarters
};

void PrintTo(const ScaleChange& c, std::ostream* out) { *out << c.from << "to" << c.to; }

class ScaleChangeTest : public HeadlessTest, public ::testing::WithParamInterface<ScaleChange> {
 protected:
  DisplayScale From() const { return DisplayScale::FromQuarters(GetParam().from); }
  DisplayScale To() const { return DisplayScale::FromQuarters(GetParam().to); }
};

// The display image is drawn again at the new scale: the picture drawn for it, with what was
// drawn over the picture since (an eye) enlarged until drawn again; all of it is handed to the
// backend once, and the region's shape follows the new picture's outline.
TEST_P(ScaleChangeTest, DrawsTheDisplayImageAgainAtTheNewScale) {
  headless::SetDisplayScale(From());
  runtime::Form form(DiscDesign());
  const std::vector<RECT> region = KeyCut(form);
  form.SetFillColor(kEye);
  form.Circle(8.0f, 12.0f, 3.0f, kEye);  // inside the disc, away from its edge
  TakeDirty(form);

  ASSERT_TRUE(form.RaiseScaleChanged(To()));
  EXPECT_FALSE(form.RaiseScaleChanged(To()));
  ASSERT_EQ(form.Scale(), To());
  ASSERT_EQ(form.DisplayWidthPixels(), To().ToDisplay(30));
  ASSERT_EQ(form.DisplayHeightPixels(), To().ToDisplay(24));
  EXPECT_EQ(form.ClientWidthPixels(), 30);
  const runtime::Picture scaled = runtime::Picture::FromBmp(ScaledBmp(GetParam().to));
  int eyePixels = 0;
  for (int y = 0; y < form.DisplayHeightPixels(); ++y) {
    for (int x = 0; x < form.DisplayWidthPixels(); ++x) {
      const COLORREF surface = form.SurfacePixel(To().ToLogical(x), To().ToLogical(y));
      const COLORREF expected = surface == kEye || To().IsOne() ? surface : scaled.Pixel(x, y);
      ASSERT_EQ(DisplayPixel(form, x, y), expected) << "at " << x << ", " << y;
      eyePixels += expected == kEye;
    }
  }
  EXPECT_GT(eyePixels, 0);

  // The whole new image is to be shown, once.
  std::vector<char> covered(static_cast<std::size_t>(form.DisplayWidthPixels()) *
                            form.DisplayHeightPixels());
  for (const runtime::PixelRect& r : TakeDirty(form))
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x)
        covered[static_cast<std::size_t>(y * form.DisplayWidthPixels() + x)] = 1;
  EXPECT_EQ(std::count(covered.begin(), covered.end(), 0), 0);
  EXPECT_EQ(TakeDirty(form), std::vector<runtime::PixelRect>());

  ExpectShapeFollowsTheDisplayImage(form, form.DisplayShape(region));
}

// The watcher whose window changes scale while it runs: the woken loop draws the eyes again at
// display pixels, looking at the cursor in every direction, and its place stays the same twips.
TEST_P(ScaleChangeTest, TheWatcherKeepsItsEyesAndItsPlace) {
  headless::SetDisplayScale(From());
  fMouseWatch watch;
  constexpr int kLeft = 600, kTop = 400;
  MoveWindowTo(watch.hWnd(), kLeft, kTop);
  headless::SetCursor(kLeft + EyeLeftX + 500, kTop + EyeLeftY);
  for (int i = 0; i < 10; ++i) headless::FireTimers();  // until it rests
  ASSERT_EQ(headless::FireTimers(), 0);
  const float left = watch.Left(), top = watch.Top();

  headless::ChangeDisplayScale(watch.hWnd(), To());
  EXPECT_EQ(headless::FireTimers(), 1) << "the change wakes the loop";
  ASSERT_EQ(watch.DisplayWidthPixels(), To().ToDisplay(watch.ClientWidthPixels()));
  EXPECT_EQ(watch.Left(), left);
  EXPECT_EQ(watch.Top(), top);
  EXPECT_EQ(watch.Left(), kLeft * 15.0f);

  // Eight directions; in each, the left eye's pixels at display pixels: pupil within its
  // radius plus half a 96-dpi pixel of its centre, moved PupilShift towards the cursor, the
  // eye's colour elsewhere in the eye. Pixels within a third of a pixel of a rim are left out.
  const double s = To().Factor();
  for (int d = 0; d < 8; ++d) {
    const double angle = d * 3.14159265358979 / 4;
    const int cx = kLeft + EyeLeftX + static_cast<int>(std::lround(400 * std::cos(angle)));
    const int cy = kTop + EyeLeftY + static_cast<int>(std::lround(400 * std::sin(angle)));
    headless::SetCursor(cx, cy);
    ASSERT_EQ(headless::FireTimers(), 1);
    const double dist = std::hypot(cx - (kLeft + EyeLeftX), cy - (kTop + EyeLeftY));
    const double px =
        To().ToDisplayCoordinate(EyeLeftX + PupilShift * (cx - kLeft - EyeLeftX) / dist);
    const double py =
        To().ToDisplayCoordinate(EyeLeftY + PupilShift * (cy - kTop - EyeLeftY) / dist);
    const double ex = To().ToDisplayCoordinate(EyeLeftX), ey = To().ToDisplayCoordinate(EyeLeftY);
    const double pupilReach = (PupilRadius + 0.5) * s, eyeReach = (EyeRadius - 0.5) * s;
    int pupil = 0, eye = 0;
    for (int y = static_cast<int>(ey - eyeReach); y <= static_cast<int>(ey + eyeReach) + 1; ++y) {
      for (int x = static_cast<int>(ex - eyeReach); x <= static_cast<int>(ex + eyeReach) + 1; ++x) {
        const double toPupil = std::hypot(x - px, y - py);
        if (std::hypot(x - ex, y - ey) > eyeReach - 0.34 || std::abs(toPupil - pupilReach) < 0.34)
          continue;
        const bool inPupil = toPupil < pupilReach;
        ASSERT_EQ(watch.DisplayRow(y)[x], inPupil ? PupilColour : EyeColour)
            << "direction " << d << " at " << x << ", " << y;
        ++(inPupil ? pupil : eye);
      }
    }
    EXPECT_GT(pupil, 0);
    EXPECT_GT(eye, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Changes, ScaleChangeTest,
                         ::testing::Values(ScaleChange{4, 8}, ScaleChange{8, 6}, ScaleChange{6, 4},
                                           ScaleChange{5, 12}, ScaleChange{12, 5},
                                           ScaleChange{4, 5}),
                         [](const auto& info) {
                           return "From" + std::to_string(info.param.from) + "To" +
                                  std::to_string(info.param.to);
                         });

// At 1x the display image is the surface itself.
TEST_F(HeadlessTest, AtOneTheDisplayImageIsTheSurface) {
  runtime::Form form(DiscDesign());
  form.hWnd();
  ASSERT_EQ(form.DisplayWidthPixels(), 30);
  ASSERT_EQ(form.DisplayHeightPixels(), 24);
  form.SetFillColor(kEye);
  form.Circle(14.0f, 11.5f, 5.0f, kEye);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(DisplayPixel(form, x, y), form.SurfacePixel(x, y));
}

}  // namespace

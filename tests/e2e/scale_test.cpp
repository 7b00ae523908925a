// The X11 program on a scaled desktop: a desktop at 2x or 1.5x announces itself with the X
// resource Xft.dpi (192, 144), and the program's own variable OZZLEBECK_SCALE overrides it. The
// window is then that many times larger, drawn at the scale (the picture drawn for it, cut to
// its outline exactly, eyes rasterised at display pixels), while the program keeps its place in
// the same twips of 96-dpi pixels as at 1x. The Windows build, under Wine, is put on the same
// desktops by the DPI Wine reports (the prefix's LogPixels, 24 for each quarter), and must do the
// same: it scales itself, as Wine stretches no program.

#include <cmath>
#include <numbers>

#include "fixture.h"

namespace e2e {
namespace {

struct Setup : Named {
  std::string x_resources;
  std::optional<std::string> override;  // OZZLEBECK_SCALE
  int quarters;                         // the scale the program must choose
  WindowManager window_manager = WindowManager::kNone;
};

// The conversions the program makes, written out independently: a 96-dpi pixel starts at the
// display pixel ceil(n * s), and a display pixel lies in the 96-dpi pixel floor(d / s).
int ToDisplay(int logical, int quarters) {
  return static_cast<int>(std::ceil(logical * quarters / 4.0));
}
int ToLogical(int display, int quarters) {
  return static_cast<int>(std::floor(display * 4.0 / quarters));
}

class ScaleTest : public DesktopTestWithParam<Setup> {
 protected:
  ScaleTest()
      : DesktopTestWithParam({.window_manager = GetParam().window_manager,
                              .x_resources = GetParam().x_resources,
                              .scale = GetParam().override,
                              .wine_dpi = GetParam().quarters * 24}) {}
  void SetUp() override {
    if (UnderWine() && GetParam().override)
      GTEST_SKIP() << "the scale variable is the X11 program's own";
  }

  int Quarters() const { return GetParam().quarters; }
  double Factor() const { return Quarters() / 4.0; }
  int Display(int logical) const { return ToDisplay(logical, Quarters()); }

  // Where a first start opens: computed in twips of 96-dpi pixels, as the program does, on a
  // screen of the server's width at the scale; then in display pixels.
  Point FirstRunPlaceAtScale() const {
    const int screen_twips = ToLogical(server().width(), Quarters()) * kTwipsPerPixel;
    const int window_twips = kClientWidth * kTwipsPerPixel;
    return {Display((screen_twips / 2 - window_twips / 2) / kTwipsPerPixel), 0};
  }

  // The picture drawn at the scale, as the program carries it.
  Image ScaledPicture() const {
    return e2e::LoadBmp(std::filesystem::path(OZZ_SCALED_PICTURES) /
                        ("picture-" + std::to_string(Quarters() * 25) + ".bmp"));
  }

  // An eye's centre in display pixels of the client area (pixel centres at whole numbers).
  double EyeCentre(int logical) const { return (logical + 0.5) * Factor() - 0.5; }
  // Whether the client display pixel (x, y) lies within the eye's painted disc, with a pixel's
  // margin: there the eyes' drawing decides the colour, not the picture.
  bool OnAnEye(int x, int y) const {
    for (Point eye : {kLeftEye, kRightEye}) {
      if (std::hypot(x - EyeCentre(eye.x), y - EyeCentre(eye.y)) <=
          (kEyeRadius + 0.5) * Factor() + 1)
        return true;
    }
    return false;
  }

  // The pupil's centre relative to its eye, in 96-dpi pixels: the centroid of the pure-black
  // display pixels well inside the eye's disc. Nothing when too few are found.
  std::optional<Offset> Pupil(const Image& client, Point eye) const {
    return Centroid(
        eye, [&](int x, int y) { return client.Contains(x, y) && client.At(x, y) == kBlack; });
  }
  // Where Pupil finds a pupil drawn `lean` 96-dpi pixels from the eye's centre: the same search,
  // over the display pixels whose centres lie within its radius (5) and half a pixel, scaled.
  // The search leaves out the pupil's far edge, more of it at smaller scales.
  Offset ExpectedPupil(Point eye, Offset lean) const {
    const double px = EyeCentre(eye.x) + lean.dx * Factor();
    const double py = EyeCentre(eye.y) + lean.dy * Factor();
    return Centroid(eye, [&](int x,
                             int y) { return std::hypot(x - px, y - py) <= (5 + 0.5) * Factor(); })
        .value_or(Offset{});
  }
  // The centroid of the display pixels well inside the eye's disc for which `black` holds,
  // relative to the eye's centre, in 96-dpi pixels. Nothing when too few are black.
  std::optional<Offset> Centroid(Point eye, const std::function<bool(int, int)>& black) const {
    const double cx = EyeCentre(eye.x), cy = EyeCentre(eye.y);
    const double search = (kEyeRadius + 0.5) * Factor() - 1.5;
    double sum_x = 0, sum_y = 0;
    int count = 0;
    for (int y = static_cast<int>(cy - search); y <= static_cast<int>(cy + search) + 1; ++y) {
      for (int x = static_cast<int>(cx - search); x <= static_cast<int>(cx + search) + 1; ++x) {
        if (std::hypot(x - cx, y - cy) > search || !black(x, y)) continue;
        sum_x += x - cx;
        sum_y += y - cy;
        ++count;
      }
    }
    // A pupil of radius 5 covers about 86 pixels at 1x: at least half of that, scaled.
    if (count < 43 * Factor() * Factor()) return std::nullopt;
    return Offset{sum_x / count / Factor(), sum_y / count / Factor()};
  }
};

// The window opens at the top edge, centred, that many times larger; its shape is exactly the
// picture drawn at the scale without its black surround, about scale² times the 1x face; and
// what it shows away from the eyes is that picture, pixel for pixel, with no black visible.
TEST_P(ScaleTest, OpensLargerDrawnAtTheScaleAndCutToItsOutline) {
  const Program& dog = Start();
  ASSERT_EQ(WaitForPlace(dog, FirstRunPlaceAtScale()), FirstRunPlaceAtScale());
  const Rect client = Client(dog);
  ASSERT_EQ(client.width, Display(kClientWidth));
  ASSERT_EQ(client.height, Display(kClientHeight));

  const Image picture = ScaledPicture();
  ASSERT_EQ(picture.width(), Display(132));
  ASSERT_EQ(picture.height(), Display(160));
  const std::optional<std::vector<Rect>> shape =
      e2e::BoundingShape(server().display(), dog.window());
  ASSERT_TRUE(shape.has_value()) << "no SHAPE extension";
  int visible = 0, wrong_edge = 0;
  std::optional<Point> first_wrong;
  for (int y = 0; y < client.height; ++y) {
    for (int x = 0; x < client.width; ++x) {
      const bool shown = e2e::ShapeContains(*shape, {x, y});
      visible += shown;
      if (shown != (picture.At(x, y) != kBlack)) {
        ++wrong_edge;
        if (!first_wrong) first_wrong = Point{x, y};
      }
    }
  }
  EXPECT_EQ(wrong_edge, 0) << "pixels where the shape and the scaled picture's face disagree, "
                           << "first at " << first_wrong.value_or(Point{});

  // The face at 1x: the picture's non-black pixels in the rows the window shows.
  const Image base = e2e::LoadBmp(PicturePath());
  int base_visible = 0;
  for (int y = 0; y < kClientHeight; ++y)
    for (int x = 0; x < kClientWidth; ++x) base_visible += base.At(x, y) != kBlack;
  const double expected = base_visible * Factor() * Factor();
  EXPECT_NEAR(visible, expected, expected * 0.02) << "1x face: " << base_visible << " pixels";

  // What the screen shows inside the shape.
  auto mismatches = [&] {
    const Image shown = server().Capture(client);
    std::vector<Point> wrong;
    for (int y = 0; y < client.height; ++y) {
      for (int x = 0; x < client.width; ++x) {
        if (!e2e::ShapeContains(*shape, {x, y}) || OnAnEye(x, y)) continue;
        if (shown.At(x, y) != picture.At(x, y) || shown.At(x, y) == kBlack) wrong.push_back({x, y});
      }
    }
    return wrong;
  };
  std::vector<Point> wrong;
  e2e::WaitUntil(
      [&] {
        wrong = mismatches();
        return wrong.empty();
      },
      Milliseconds(3000), Milliseconds(100));
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " shown pixels differ from the scaled picture, "
                             << "first at " << wrong.front();
}

// The pupils lean towards the pointer, two 96-dpi pixels from the eye's centre, wherever it is
// around the window.
TEST_P(ScaleTest, PupilsFollowThePointerInAllDirections) {
  const Program& dog = Start();
  ASSERT_EQ(WaitForPlace(dog, FirstRunPlaceAtScale()), FirstRunPlaceAtScale());
  const Rect client = Client(dog);
  const double mid_x = client.x + (EyeCentre(kLeftEye.x) + EyeCentre(kRightEye.x)) / 2;
  const double mid_y = client.y + EyeCentre(kLeftEye.y);
  for (int step = 0; step < 8; ++step) {
    const double angle = step * std::numbers::pi / 4;
    const Point pointer{static_cast<int>(std::lround(mid_x + 400 * std::cos(angle))),
                        std::max(0, static_cast<int>(std::lround(mid_y + 400 * std::sin(angle))))};
    server().MovePointer(pointer);
    // Each eye looks along its own line to the pointer.
    auto expected = [&](Point eye) {
      const double dx = pointer.x - (client.x + EyeCentre(eye.x));
      const double dy = pointer.y - (client.y + EyeCentre(eye.y));
      const double length = std::hypot(dx, dy);
      return ExpectedPupil(eye, {2 * dx / length, 2 * dy / length});
    };
    auto close = [](const std::optional<Offset>& got, Offset want) {
      return got && std::abs(got->dx - want.dx) <= 0.5 && std::abs(got->dy - want.dy) <= 0.5;
    };
    std::optional<Offset> left, right;
    e2e::WaitUntil(
        [&] {
          const Image shown = server().Capture(client);
          left = Pupil(shown, kLeftEye);
          right = Pupil(shown, kRightEye);
          return close(left, expected(kLeftEye)) && close(right, expected(kRightEye));
        },
        Milliseconds(3000), Milliseconds(30));
    EXPECT_TRUE(close(left, expected(kLeftEye)))
        << "pointer at " << pointer << ": left pupil " << left << ", expected "
        << std::optional<Offset>(expected(kLeftEye));
    EXPECT_TRUE(close(right, expected(kRightEye)))
        << "pointer at " << pointer << ": right pupil " << right << ", expected "
        << std::optional<Offset>(expected(kRightEye));
  }
}

// Dragged to the display place of 96-dpi pixel (100, 50) and double-clicked, the program stores
// Top 750 and Left 1500, the twips of that pixel, as at 1x; the next start at the same scale
// opens at the same display place, and the same file at 1x opens at (100, 50).
TEST_P(ScaleTest, PlaceIsKeptInTwipsOfNinetySixDpiPixels) {
  if (UnderWine() && WithWindowManager()) GTEST_SKIP() << kWineDragUnderWindowManager;
  Program& dog = Start();
  const Point start = FirstRunPlaceAtScale();
  ASSERT_EQ(WaitForPlace(dog, start), start);
  const Point target{Display(100), Display(50)};  // (200, 100) at 2x
  const Point grip{Display(57), Display(40)};     // the forehead
  ASSERT_NO_FATAL_FAILURE(DragAndDoubleClick(dog, grip, target));
  const std::optional<std::string> settings = dog.ReadSettings();
  ASSERT_TRUE(StoredPlaceIs(settings, {100, 50}));
  ASSERT_TRUE(WaitForNoWindow());

  Program& again = Start({.same_copy_as = &dog});
  EXPECT_EQ(WaitForPlace(again, target), target) << "at the same scale";
  EXPECT_EQ(Client(again).width, Display(kClientWidth));
  again.Kill();
  ASSERT_TRUE(WaitForNoWindow());
  // The same file on a desktop at 1x.
  if (UnderWine()) ChangeWineDpi(96);
  const Program& at_one = Start({.settings = *settings, .environment = {{"OZZLEBECK_SCALE", "1"}}});
  EXPECT_EQ(WaitForPlace(at_one, {100, 50}), (Point{100, 50})) << "at 1x";
  EXPECT_EQ(Client(at_one).width, kClientWidth);
  EXPECT_EQ(Client(at_one).height, kClientHeight);
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, ScaleTest,
    ::testing::Values(Setup{"Dpi192", "Xft.dpi:\t192\n", {}, 8},
                      Setup{"Dpi120", "Xft.dpi:\t120\n", {}, 5},
                      Setup{"Dpi144", "Xft.antialias:\t1\nXft.dpi:\t144\nXft.hinting:\t1\n", {}, 6},
                      Setup{"OverrideOverDpi120", "Xft.dpi:\t120\n", "2", 8},
                      Setup{"Dpi192Openbox", "Xft.dpi:\t192\n", {}, 8, WindowManager::kOpenbox}),
    CaseName());

}  // namespace
}  // namespace e2e

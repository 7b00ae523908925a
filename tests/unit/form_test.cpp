// The form runtime's drawing: pixels, circles, the persistent image and scale modes.
#include "platform/form.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/errors.h"
#include "platform/headless/headless.h"
#include "test_support.h"

namespace {

constexpr COLORREF kRed = 0x000000FF;
constexpr COLORREF kBlue = 0x00FF0000;
constexpr COLORREF kGrey = 0x00808080;

// A 40 x 30 pixel form whose picture is a 20 x 10 grey block on a white background.
runtime::FormDesign SmallDesign() {
  runtime::FormDesign design;
  design.clientWidthTwips = 40 * 15;
  design.clientHeightTwips = 30 * 15;
  design.scaleMode = runtime::vbPixels;
  design.fillStyle = runtime::vbFSSolid;
  design.backColor = 0x00FFFFFF;
  design.picture = runtime::Picture::FromBmp(MakeBmp(20, 10, std::vector<COLORREF>(200, kGrey)));
  return design;
}

class FormTest : public HeadlessTest {
 protected:
  runtime::Form form{SmallDesign()};
};

TEST_F(FormTest, PointReadsPictureThenBackgroundAndMinusOneOutside) {
  EXPECT_EQ(form.Point(0, 0), kGrey);
  EXPECT_EQ(form.Point(19, 9), kGrey);
  EXPECT_EQ(form.Point(20, 9), 0x00FFFFFFu);
  EXPECT_EQ(form.Point(39, 29), 0x00FFFFFFu);
  EXPECT_EQ(form.Point(40, 0), 0xFFFFFFFFu);
  EXPECT_EQ(form.Point(-1, 0), 0xFFFFFFFFu);
}

TEST_F(FormTest, FirstAccessLoadsOnce) {
  EXPECT_FALSE(form.IsLoaded());
  form.ScaleMode();
  form.hWnd();
  EXPECT_TRUE(form.IsLoaded());
  EXPECT_EQ(headless::CreatedWindows(), 1);
}

struct CirclePixel {
  int x;
  int y;
  COLORREF expected;
};

TEST_F(FormTest, CircleHasOutlineInItsColourAndSolidFill) {
  form.SetFillColor(kBlue);
  form.Circle(20, 15, 5, kRed);
  const std::array<CirclePixel, 8> pixels = {{
      {20, 15, kBlue},       // centre: fill
      {17, 15, kBlue},       // inside
      {25, 15, kRed},        // rim on the axis
      {15, 15, kRed},        // rim on the other side
      {20, 10, kRed},        // rim above
      {26, 15, 0x00FFFFFF},  // just outside
      {20, 21, 0x00FFFFFF},  // just below
      {24, 19, 0x00FFFFFF},  // outside on the diagonal (distance 5.66)
  }};
  for (const auto& p : pixels)
    EXPECT_EQ(form.Point(static_cast<float>(p.x), static_cast<float>(p.y)), p.expected)
        << p.x << "," << p.y;
}

TEST_F(FormTest, CircleIsSymmetricAboutItsCentre) {
  form.SetFillColor(kBlue);
  form.Circle(20, 15, 7, kBlue);
  for (int dy = -9; dy <= 9; ++dy)
    for (int dx = -9; dx <= 9; ++dx)
      EXPECT_EQ(form.Point(static_cast<float>(20 + dx), static_cast<float>(15 + dy)) == kBlue,
                form.Point(static_cast<float>(20 - dx), static_cast<float>(15 - dy)) == kBlue)
          << dx << "," << dy;
}

TEST_F(FormTest, DrawingWithAutoRedrawOffLeavesThePersistentImageAlone) {
  form.SetFillColor(kRed);
  form.Circle(5, 5, 2, kRed);
  EXPECT_EQ(form.Point(5, 5), kRed);  // the surface shows it
  form.SetAutoRedraw(true);
  EXPECT_EQ(form.Point(5, 5), kGrey);  // the persistent image still holds the picture
  form.Circle(30, 20, 2, kRed);
  EXPECT_EQ(form.Point(30, 20), kRed);
  form.SetAutoRedraw(false);
  EXPECT_EQ(form.Point(30, 20), kRed);  // drawn with AutoRedraw on: shown as well
}

TEST_F(FormTest, ScaleModeChangesUnitsOfPointAndScaleSize) {
  EXPECT_EQ(form.ScaleWidth(), 40);
  EXPECT_EQ(form.ScaleHeight(), 30);
  form.SetScaleMode(runtime::vbTwips);
  EXPECT_EQ(form.ScaleWidth(), 600);
  EXPECT_EQ(form.ScaleHeight(), 450);
  EXPECT_EQ(form.Point(19 * 15, 9 * 15), kGrey);
  EXPECT_EQ(form.Point(20 * 15, 9 * 15), 0x00FFFFFFu);
  EXPECT_THROW(form.SetScaleMode(9), runtime::Failure);
}

TEST_F(FormTest, OnlyPixelsThatChangeAreReportedDirty) {
  form.SetFillColor(kRed);
  form.Circle(10, 10, 3, kRed);
  EXPECT_EQ(TakeDirty(form), (std::vector<runtime::PixelRect>{{7, 7, 14, 14}}));
  form.Circle(10, 10, 3, kRed);  // the same again changes nothing
  EXPECT_EQ(TakeDirty(form).size(), 0u);
  form.Circle(5, 5, 1, kBlue);
  form.Circle(35, 25, 1, kBlue);
  EXPECT_EQ(TakeDirty(form).size(), 2u);  // two separate areas, not their union
}

// A backend copies only the areas TakeDirty gives. Whatever a round draws (more separate areas
// than it hands out, areas that overlap, drawings that undo each other), the copy must then
// show exactly the surface.
TEST_F(FormTest, TheDirtyAreasCoverEveryChangedPixel) {
  form.hWnd();  // loaded: the surface exists
  const int width = form.ClientWidthPixels(), height = form.ClientHeightPixels();
  std::vector<COLORREF> shown(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      shown[static_cast<std::size_t>(y) * width + x] = form.SurfacePixel(x, y);

  struct Dot {
    float x, y, radius;
    COLORREF colour;
  };
  // Seven areas apart from each other (more than kMaxDirty), then overlapping ones, then a
  // round whose first and last drawings are far apart and another that ends as it began.
  // clang-format off
  const std::vector<std::vector<Dot>> rounds = {
      {{3, 3, 1, kRed}, {33, 26, 1, kRed}, {11, 3, 1, kRed}, {19, 3, 1, kRed}, {27, 3, 1, kRed},
       {3, 26, 1, kRed}, {17, 17, 1, kRed}},
      {{10, 10, 3, kBlue}, {13, 12, 3, kRed}, {30, 20, 2, kBlue}, {5, 25, 2, kBlue},
       {36, 4, 2, kBlue}, {20, 27, 1, kBlue}},
      {{2, 14, 1, kBlue}, {37, 14, 1, kBlue}, {20, 2, 1, kBlue}, {20, 27, 1, kRed},
       {8, 20, 1, kRed}, {31, 9, 1, kRed}},
      {{25, 15, 2, kGrey}, {25, 15, 2, kRed}, {3, 3, 1, kBlue}},
  };
  // clang-format on
  for (std::size_t round = 0; round < rounds.size(); ++round) {
    for (const Dot& dot : rounds[round]) {
      form.SetFillColor(dot.colour);
      form.Circle(dot.x, dot.y, dot.radius, dot.colour);
    }
    const std::vector<runtime::PixelRect> areas = TakeDirty(form);
    for (const runtime::PixelRect& r : areas) {
      ASSERT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= width && r.bottom <= height)
          << ::testing::PrintToString(r);
      for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
          shown[static_cast<std::size_t>(y) * width + x] = form.SurfacePixel(x, y);
    }
    int stale = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        if (shown[static_cast<std::size_t>(y) * width + x] != form.SurfacePixel(x, y)) ++stale;
    EXPECT_EQ(stale, 0) << "round " << round << ": " << stale << " changed pixels lie outside the "
                        << areas.size() << " dirty areas";
  }
}

TEST_F(FormTest, PositionIsTwipsOfTheWindowsPixels) {
  form.SetLeft(1500);
  form.SetTop(750);
  EXPECT_EQ(form.Left(), 1500);
  EXPECT_EQ(form.Top(), 750);
  EXPECT_EQ(form.Width(), 600);
  const RECT& rect = headless::State(form.hWnd()).rect;
  EXPECT_EQ(rect.left, 100);
  EXPECT_EQ(rect.top, 50);
  EXPECT_THROW(form.SetLeft(3.3e10f), runtime::Failure);  // beyond 32-bit pixels
  EXPECT_EQ(form.Left(), 1500);
}

TEST(PictureTest, UnreadableBmpGivesNoPicture) {
  EXPECT_EQ(runtime::Picture::FromBmp({}).Handle(), 0u);
  std::vector<std::uint8_t> bmp = MakeBmp(2, 2, std::vector<COLORREF>(4, kRed));
  EXPECT_NE(runtime::Picture::FromBmp(bmp).Handle(), 0u);
  bmp.resize(bmp.size() - 1);  // one byte short of the last row
  EXPECT_EQ(runtime::Picture::FromBmp(bmp).Handle(), 0u);
}

TEST(PictureTest, RowsAreStoredBottomUp) {
  // Top row red, bottom row blue.
  const auto picture = runtime::Picture::FromBmp(MakeBmp(1, 2, {kRed, kBlue}));
  EXPECT_EQ(picture.Pixel(0, 0), kRed);
  EXPECT_EQ(picture.Pixel(0, 1), kBlue);
}

}  // namespace

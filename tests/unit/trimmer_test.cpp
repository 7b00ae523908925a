// Cutting a form to its picture: which pixels end up in the window's region.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/posix/region.h"
#include "test_support.h"
#include "trimmer/c_trimmer.h"
#include "watcher/f_mouse_watch.h"
#include "watcher/resources.h"

namespace {

using ::PrintTo;

constexpr COLORREF kWhite = 0x00FFFFFF;

// What the pictures' letters stand for: 'k' the key colour (the top-left pixel's), 'n' near-black
// (which stays visible), 'w' the background colour (which stops a row), 'A' and 'B' two others.
COLORREF ColourOf(char c) {
  const std::map<char, COLORREF> colours = {
      {'k', 0x00000000}, {'A', 0x00336699}, {'B', 0x00AA5500}, {'n', 0x00010101}, {'w', kWhite}};
  return colours.contains(c) ? colours.at(c) : 0x00777777;
}

// A form whose client area is exactly the picture drawn by `rows`.
runtime::FormDesign DesignOf(const std::vector<std::string>& rows, COLORREF back) {
  const int height = static_cast<int>(rows.size());
  const int width = static_cast<int>(rows[0].size());
  std::vector<COLORREF> pixels;
  for (const auto& row : rows)
    for (char c : row) pixels.push_back(ColourOf(c));
  runtime::FormDesign design;
  design.clientWidthTwips = static_cast<float>(width * 15);
  design.clientHeightTwips = static_cast<float>(height * 15);
  design.scaleMode = runtime::vbTwips;
  design.backColor = back;
  design.picture = runtime::Picture::FromBmp(MakeBmp(width, height, pixels));
  return design;
}

// The region as rows of '#' (inside) and '.' (outside).
std::vector<std::string> Visible(const HRGN__& region, int width, int height) {
  std::vector<std::string> rows;
  for (int y = 0; y < height; ++y) {
    std::string row;
    for (int x = 0; x < width; ++x) row += platform::RegionContains(region, x, y) ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

struct TrimCase {
  const char* name;
  std::vector<std::string> picture;
  std::vector<std::string> visible;
  COLORREF back = kWhite;
};

class TrimFormCases : public HeadlessTest, public ::testing::WithParamInterface<TrimCase> {};

TEST_P(TrimFormCases, RegionHoldsTheRunsOfNonKeyPixels) {
  const TrimCase& c = GetParam();
  runtime::Form form(DesignOf(c.picture, c.back));
  cTrimmer trimmer;
  trimmer.TrimForm(form);
  const HRGN region = headless::State(form.hWnd()).region;
  ASSERT_NE(region, nullptr);
  EXPECT_EQ(
      Visible(*region, static_cast<int>(c.picture[0].size()), static_cast<int>(c.picture.size())),
      c.visible);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TrimFormCases,
    ::testing::Values(
        TrimCase{"KeyColourRowAddsNothing", {"kkkkk", "kkkkk"}, {".....", "....."}},
        TrimCase{"RunEndsAtTheLastColumn", {"kkkkk", "kkAAA"}, {".....", "..###"}},
        TrimCase{"KeyAAKeyB", {"kkkkk", "kAAkB"}, {".....", ".##.#"}},
        TrimCase{"StopColourEndsTheRow", {"kkkkk", "AAwAA"}, {".....", "##..."}},
        TrimCase{"NearBlackIsNotTheKey", {"knnnk", "nkkkn"}, {".###.", "#...#"}},
        TrimCase{"EachRowOnItsOwn", {"kAkBk", "BkAkA", "AAAAA"}, {".#.#.", "#.#.#", "#####"}},
        TrimCase{"BackgroundEqualToKeyKeepsOnlyRunsAtTheLeftEdge",
                 {"kAAkA", "AAkAA", "AAAAA"},
                 {".....", "##...", "#####"},
                 0x00000000}),
    ParamName);

TEST_F(HeadlessTest, TrimFormWithoutPictureChangesNothing) {
  runtime::FormDesign design = DesignOf({"AA"}, kWhite);
  design.picture = runtime::Picture();
  runtime::Form form(design);
  cTrimmer().TrimForm(form);
  EXPECT_EQ(headless::State(form.hWnd()).regionsSet, 0);
  EXPECT_EQ(form.ScaleMode(), runtime::vbTwips);
}

TEST_F(HeadlessTest, TrimFormRestoresScaleModeAndAutoRedraw) {
  runtime::Form form(DesignOf({"kAk"}, kWhite));
  form.SetAutoRedraw(false);
  cTrimmer().TrimForm(form);
  EXPECT_EQ(form.ScaleMode(), runtime::vbTwips);
  EXPECT_FALSE(form.AutoRedraw());
  EXPECT_EQ(headless::State(form.hWnd()).regionsSet, 1);
}

TEST_F(HeadlessTest, TrimFormReadsThePictureEvenWhereTheSurfaceWasDrawnOver) {
  runtime::Form form(DesignOf({"kkkkk", "kkkkk"}, kWhite));
  form.SetFillColor(0x00123456);
  form.SetScaleMode(runtime::vbPixels);
  form.Circle(2, 1, 1, 0x00123456);  // AutoRedraw off: only the surface has it
  cTrimmer().TrimForm(form);
  EXPECT_EQ(Visible(*headless::State(form.hWnd()).region, 5, 2),
            (std::vector<std::string>{".....", "....."}));
}

// The watcher window's own picture: everything but the black surround stays, every row of
// the client area is scanned, and the picture's last row, outside it, is not.
TEST_F(HeadlessTest, WatcherRegionIsTheFaceExactly) {
  fMouseWatch watch;
  const HRGN region = headless::State(watch.hWnd()).region;
  ASSERT_NE(region, nullptr);
  const auto picture = runtime::Picture::FromBmp(resources::PictureBmp());
  ASSERT_EQ(picture.Width(), 132);
  ASSERT_EQ(picture.Height(), 160);
  int visible = 0;
  for (int y = 0; y < 160; ++y) {
    for (int x = 0; x < 132; ++x) {
      const bool face = y < 159 && picture.Pixel(x, y) != 0;
      ASSERT_EQ(platform::RegionContains(*region, x, y), face) << x << "," << y;
      visible += face;
    }
  }
  EXPECT_GT(visible, 132 * 159 / 2);
  EXPECT_EQ(watch.ScaleWidth(), 132);
  EXPECT_EQ(watch.ScaleHeight(), 159);
}

}  // namespace

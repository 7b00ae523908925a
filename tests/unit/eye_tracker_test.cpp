// The eye tracker: one tick reads the window's place and the cursor and paints both eyes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/headless/headless.h"
#include "test_support.h"
#include "watcher/f_mouse_watch.h"

namespace {

struct Centre {
  double x;
  double y;
};

// The centroid of the pupil-coloured pixels within the eye around (cx, cy).
Centre PupilAt(const fMouseWatch& form, int cx, int cy) {
  double sx = 0, sy = 0, n = 0;
  for (int y = cy - 8; y <= cy + 8; ++y)
    for (int x = cx - 8; x <= cx + 8; ++x)
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= 56 && form.SurfacePixel(x, y) == PupilColour)
        sx += x, sy += y, n += 1;
  return n > 0 ? Centre{sx / n, sy / n} : Centre{-1, -1};
}

class EyeTrackerTest : public HeadlessTest {
 protected:
  // Places the window (outer top-left, screen pixels) and the cursor, then fires one tick.
  void Tick(int left, int top, int cursorX, int cursorY) {
    SetWindowPos(watch.hWnd(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    headless::SetCursor(cursorX, cursorY);
    headless::FireTimers();
  }
  fMouseWatch watch;
};

struct PupilCase {
  const char* name;
  int left, top;         // window
  int cursorX, cursorY;  // screen
  Centre leftPupil, rightPupil;
};

class EyeTrackerCases : public EyeTrackerTest, public ::testing::WithParamInterface<PupilCase> {};

TEST_P(EyeTrackerCases, PupilsLeanTowardsTheCursor) {
  const PupilCase& c = GetParam();
  Tick(c.left, c.top, c.cursorX, c.cursorY);
  const Centre left = PupilAt(watch, EyeLeftX, EyeLeftY);
  const Centre right = PupilAt(watch, EyeRightX, EyeRightY);
  EXPECT_NEAR(left.x, c.leftPupil.x, 0.2);
  EXPECT_NEAR(left.y, c.leftPupil.y, 0.2);
  EXPECT_NEAR(right.x, c.rightPupil.x, 0.2);
  EXPECT_NEAR(right.y, c.rightPupil.y, 0.2);
}

INSTANTIATE_TEST_SUITE_P(
    Places, EyeTrackerCases,
    ::testing::Values(PupilCase{"OnLeftEyeCentre", 100, 200, 132, 272, {32, 72}, {80, 72}},
                      PupilCase{"FarRight", 100, 200, 5000, 272, {34, 72}, {84, 72}},
                      PupilCase{"FarLeft", 100, 200, -5000, 272, {30, 72}, {80, 72}},
                      PupilCase{"DirectlyAboveLeftEye",
                                100,
                                200,
                                132,
                                0,
                                {32, 70},
                                {82 - 2 * 50 / std::hypot(50.0, 272.0),
                                 72 - 2 * 272 / std::hypot(50.0, 272.0)}},
                      PupilCase{"FarBelow", 100, 200, 157, 5000, {32, 74}, {82, 74}},
                      PupilCase{"BetweenTheEyes", 100, 200, 157, 272, {34, 72}, {80, 72}},
                      PupilCase{"NegativeWindowPlace", -60, -40, 4000, 32, {34, 72}, {84, 72}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EyeTrackerTest, CursorOnAnEyeCentreGivesZeroDirection) {
  Tick(100, 200, 132, 272);
  EXPECT_EQ(watch.Dist1, 1.0);
  EXPECT_EQ(watch.Dir1X, 0.0);
  EXPECT_EQ(watch.Dir1Y, 0.0);
  EXPECT_EQ(watch.Dist2, 50.0);
  EXPECT_EQ(watch.Dir2X, 1.0);
  EXPECT_EQ(watch.Dir2Y, 0.0);
}

TEST_F(EyeTrackerTest, EyeCentresAreTheWindowsCornerPlusTheEyeOffsets) {
  Tick(-60, 300, 0, 0);
  EXPECT_EQ(watch.Eye1X, -28);
  EXPECT_EQ(watch.Eye1Y, 372);
  EXPECT_EQ(watch.Eye2X, 22);
  EXPECT_EQ(watch.Eye2Y, 372);
}

TEST_F(EyeTrackerTest, TheTimerTicksEvery70Milliseconds) {
  watch.hWnd();
  EXPECT_EQ(watch.tmr.Interval(), 70);
  EXPECT_TRUE(watch.tmr.Enabled());
  EXPECT_EQ(headless::RunningTimers(), 1);
}

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

// Near the 32-bit limits an assignment that overflows is skipped: its target keeps the
// previous tick's value, and the rest of the tick still runs.
TEST_F(EyeTrackerTest, OverflowingEyeCentreKeepsThePreviousTicksValue) {
  Tick(100, 200, 5000, 272);
  ASSERT_EQ(watch.Eye2X, 182);
  Tick(kMax - 40, 200, kMax, 272);
  EXPECT_EQ(watch.Eye1X, kMax - 8);  // fits
  EXPECT_EQ(watch.Eye2X, 182);       // kMax - 40 + 82 overflows: unchanged
  EXPECT_EQ(watch.Eye2Y, 272);
  // The left eye looks right at the cursor 8 pixels to its right; the tick went on to draw.
  EXPECT_NEAR(PupilAt(watch, EyeLeftX, EyeLeftY).x, 34, 0.2);
}

TEST_F(EyeTrackerTest, OverflowingDistanceKeepsThePreviousDirection) {
  Tick(100, 200, 5000, 272);  // far right: both pupils right
  const double dist1 = watch.Dist1, dir1x = watch.Dir1X;
  Tick(100, 200, kMin, 272);  // Eye1X - kMin overflows
  EXPECT_EQ(watch.Dist1, dist1);
  EXPECT_EQ(watch.Dir1X, dir1x);
  EXPECT_NEAR(PupilAt(watch, EyeLeftX, EyeLeftY).x, 34, 0.2);  // still drawn from old values
}

TEST_F(EyeTrackerTest, ExtremeCursorAndWindowNeverCrash) {
  for (int left : {kMin, kMin + 1, -1, 0, kMax - 82, kMax - 81, kMax})
    for (int cursor : {kMin, -1, 0, kMax}) Tick(left, left, cursor, cursor);
  SUCCEED();
}

TEST_F(EyeTrackerTest, ATickThatMovesNoPupilChangesNoPixel) {
  Tick(100, 200, 5000, 272);
  std::array<runtime::PixelRect, runtime::Form::kMaxDirty> dirty;
  watch.TakeDirty(dirty);
  Tick(100, 200, 5001, 272);  // same directions to the pixel
  EXPECT_EQ(watch.TakeDirty(dirty), 0);
  Tick(100, 200, -5000, 272);  // both pupils swing left: two separate eye areas
  EXPECT_EQ(watch.TakeDirty(dirty), 2);
}

}  // namespace

// The eye tracker: one tick reads the window's place and the cursor and paints both eyes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/headless/headless.h"
#include "test_support.h"
#include "watcher/f_mouse_watch.h"

namespace {

using ::PrintTo;

struct Centre {
  double x;
  double y;
  int pixels = 0;  // how many pupil-coloured pixels the eye holds
};

// A pupil of radius 5 covers about 97 pixels; its outline alone, a ring, about 30. Fewer than
// this many pupil-coloured pixels is no filled pupil.
constexpr int kFilledPupilPixels = 80;

// The centroid of the pupil-coloured pixels within the eye around (cx, cy), and their number.
Centre PupilAt(const fMouseWatch& form, int cx, int cy) {
  double sx = 0, sy = 0;
  int n = 0;
  for (int y = cy - 8; y <= cy + 8; ++y)
    for (int x = cx - 8; x <= cx + 8; ++x)
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= 56 && form.SurfacePixel(x, y) == PupilColour)
        sx += x, sy += y, n += 1;
  return n > 0 ? Centre{sx / n, sy / n, n} : Centre{-1, -1, 0};
}

class EyeTrackerTest : public HeadlessTest {
 protected:
  // Places the window (outer top-left, screen pixels) and the cursor, then fires one tick.
  void Tick(int left, int top, int cursorX, int cursorY) {
    MoveWindowTo(watch.hWnd(), left, top);
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
  EXPECT_GE(left.pixels, kFilledPupilPixels) << "the left pupil is not filled";
  EXPECT_GE(right.pixels, kFilledPupilPixels) << "the right pupil is not filled";
}

// From the right eye, a cursor right above the left one lies 50 px left and 272 px up.
const double kUpLeft = std::hypot(50.0, 272.0);

// clang-format off
INSTANTIATE_TEST_SUITE_P(Places, EyeTrackerCases, ::testing::Values(
    PupilCase{"OnLeftEyeCentre", 100, 200, 132, 272, {32, 72}, {80, 72}},
    PupilCase{"FarRight", 100, 200, 5000, 272, {34, 72}, {84, 72}},
    PupilCase{"FarLeft", 100, 200, -5000, 272, {30, 72}, {80, 72}},
    PupilCase{"DirectlyAboveLeftEye", 100, 200, 132, 0, {32, 70},
              {82 - 2 * 50 / kUpLeft, 72 - 2 * 272 / kUpLeft}},
    PupilCase{"FarBelow", 100, 200, 157, 5000, {32, 74}, {82, 74}},
    PupilCase{"BetweenTheEyes", 100, 200, 157, 272, {34, 72}, {80, 72}},
    PupilCase{"NegativeWindowPlace", -60, -40, 4000, 32, {34, 72}, {84, 72}}), ParamName);
// clang-format on

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

// The timer starts when the window loads, and each of its ticks draws the eyes. How often it
// ticks is measured on the screen, by the end-to-end RedrawRateTest.
TEST_F(EyeTrackerTest, TheTimerStartsWithTheWindowAndEveryTickDrawsTheEyes) {
  EXPECT_EQ(headless::RunningTimers(), 0);
  watch.hWnd();
  EXPECT_EQ(headless::RunningTimers(), 1);
  EXPECT_EQ(PupilAt(watch, EyeLeftX, EyeLeftY).pixels, 0);  // the picture has no pupils
  headless::SetCursor(5000, 72);
  headless::FireTimers();
  EXPECT_NEAR(PupilAt(watch, EyeLeftX, EyeLeftY).x, 34, 0.2);
  headless::SetCursor(-5000, 72);
  headless::FireTimers();
  EXPECT_NEAR(PupilAt(watch, EyeLeftX, EyeLeftY).x, 30, 0.2);
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

// Ticks with the window and the cursor at the 32-bit limits: an eye centre whose addition
// overflows keeps the previous tick's value, the others take theirs, and a tick whose
// directions came out as unit vectors draws two filled pupils inside their eyes. (A direction
// whose subtraction fitted but whose distance overflowed is divided by the previous tick's
// distance and may send the pupil out of its eye: that is the resume-next rule, for a window
// two thousand million pixels off the screen.) Under the sanitizers this also shows that no
// overflow slips past the guards. The next ordinary tick is untouched by all of it.
TEST_F(EyeTrackerTest, ExtremeCursorAndWindowLeaveTwoWholeEyes) {
  auto fitOrKeep = [](std::int64_t sum, std::int32_t before) {
    return sum >= kMin && sum <= kMax ? static_cast<std::int32_t>(sum) : before;
  };
  int wholeTicks = 0;
  for (int left : {kMin, kMin + 1, -1, 0, kMax - 82, kMax - 81, kMax}) {
    for (int cursor : {kMin, -1, 0, kMax}) {
      const std::int32_t eye1x = watch.Eye1X, eye1y = watch.Eye1Y, eye2x = watch.Eye2X;
      Tick(left, left, cursor, cursor);
      SCOPED_TRACE(testing::Message() << "window at " << left << ", cursor at " << cursor);
      EXPECT_EQ(watch.Eye1X, fitOrKeep(std::int64_t{left} + EyeLeftX, eye1x));
      EXPECT_EQ(watch.Eye1Y, fitOrKeep(std::int64_t{left} + EyeLeftY, eye1y));
      EXPECT_EQ(watch.Eye2X, fitOrKeep(std::int64_t{left} + EyeRightX, eye2x));
      const bool unit = std::hypot(watch.Dir1X, watch.Dir1Y) <= 1.0 + 1e-9 &&
                        std::hypot(watch.Dir2X, watch.Dir2Y) <= 1.0 + 1e-9;
      if (!unit) continue;
      ++wholeTicks;
      for (const auto& [x, y] : {std::pair{EyeLeftX, EyeLeftY}, std::pair{EyeRightX, EyeRightY}}) {
        const Centre pupil = PupilAt(watch, x, y);
        EXPECT_GE(pupil.pixels, kFilledPupilPixels) << "eye at " << x;
        EXPECT_LE(std::hypot(pupil.x - x, pupil.y - y), PupilShift + 0.2) << "eye at " << x;
      }
    }
  }
  EXPECT_GE(wholeTicks, 20) << "of 28 ticks";
  Tick(100, 200, 5000, 272);
  EXPECT_NEAR(PupilAt(watch, EyeLeftX, EyeLeftY).x, 34, 0.2);
  EXPECT_NEAR(PupilAt(watch, EyeRightX, EyeRightY).x, 84, 0.2);
}

TEST_F(EyeTrackerTest, ATickThatMovesNoPupilChangesNoPixel) {
  Tick(100, 200, 5000, 272);
  TakeDirty(watch);
  Tick(100, 200, 5001, 272);  // same directions to the pixel
  EXPECT_EQ(TakeDirty(watch).size(), 0u);
  Tick(100, 200, -5000, 272);  // both pupils swing left: two separate eye areas
  EXPECT_EQ(TakeDirty(watch).size(), 2u);
}

}  // namespace

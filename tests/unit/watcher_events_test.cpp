// The watcher window's answers to loading, mouse presses and double-clicks.
#include <gtest/gtest.h>

#include <string>

#include "commands/commands.h"
#include "platform/headless/headless.h"
#include "test_support.h"
#include "watcher/f_mouse_watch.h"

namespace {

class WatcherEventsTest : public HeadlessTest {
 protected:
  headless::WindowState& State() { return headless::State(watch.hWnd()); }
  fMouseWatch watch;
};

TEST_F(WatcherEventsTest, LoadShapesThenMakesTopMostWithoutMovingOrActivating) {
  EXPECT_EQ(State().regionsSet, 1);
  EXPECT_TRUE(State().topmost);
  EXPECT_FALSE(State().activated);
  EXPECT_EQ(State().rect.left, 0);
  EXPECT_EQ(State().rect.right, 132);
  EXPECT_EQ(State().rect.bottom, 159);
  EXPECT_FALSE(State().visible);  // loading does not show it
}

struct ButtonCase {
  std::int16_t button;
  int captionPresses;
};

class MouseDownCases : public WatcherEventsTest,
                       public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(MouseDownCases, OnlyTheLeftButtonAloneDrags) {
  watch.RaiseMouseDown(GetParam().button, 0, 40, 40);
  EXPECT_EQ(State().captionPresses, GetParam().captionPresses);
  EXPECT_EQ(headless::ReleaseCaptureCalls(), GetParam().captionPresses);
  EXPECT_FALSE(headless::Ended());
}

INSTANTIATE_TEST_SUITE_P(Buttons, MouseDownCases,
                         ::testing::Values(ButtonCase{runtime::vbLeftButton, 1},
                                           ButtonCase{runtime::vbRightButton, 0},
                                           ButtonCase{runtime::vbMiddleButton, 0}, ButtonCase{3, 0},
                                           ButtonCase{0, 0}));

TEST_F(WatcherEventsTest, ShiftDoesNotMatterToTheDrag) {
  watch.RaiseMouseDown(runtime::vbLeftButton, runtime::vbShiftMask | runtime::vbCtrlMask, 1, 1);
  EXPECT_EQ(State().captionPresses, 1);
}

// While the window system moves the window, ticks keep coming and the eyes follow.
TEST_F(WatcherEventsTest, EyesFollowTheCursorDuringTheDrag) {
  watch.Show();
  int ticks = 0;
  std::vector<double> leftPupilDirections;
  headless::SetCaptionPressAction([&](HWND window) {
    for (int step = 1; step <= 3; ++step) {
      MoveWindowTo(window, 10 * step, 0);
      headless::SetCursor(step % 2 == 0 ? 5000 : -5000, 72);
      headless::FireTimers();
      ++ticks;
      leftPupilDirections.push_back(watch.Dir1X);
    }
  });
  watch.RaiseMouseDown(runtime::vbLeftButton, 0, 40, 40);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(leftPupilDirections, (std::vector<double>{1, -1, 1}));
  EXPECT_EQ(watch.Eye1X, 30 + EyeLeftX);
  EXPECT_EQ(watch.Left(), 450);
}

TEST_F(WatcherEventsTest, DoubleClickWritesTopThenLeftAndEnds) {
  TempDir dir;
  Commands::IniSection = "Tavik's Ozzlebeck";
  Commands::IniFile = dir / "ozzlebeck.ini";
  MoveWindowTo(watch.hWnd(), 100, 50);
  watch.RaiseDblClick();
  EXPECT_TRUE(headless::Ended());
  const std::string text = ReadFile(Commands::IniFile);
  EXPECT_EQ(Commands::ReadProfileString(Commands::IniSection, "Top", Commands::IniFile, ""), "750");
  EXPECT_EQ(Commands::ReadProfileString(Commands::IniSection, "Left", Commands::IniFile, ""),
            "1500");
  EXPECT_NE(text.find("[Tavik's Ozzlebeck]"), std::string::npos);
  EXPECT_LT(text.find("Top=750"), text.find("Left=1500"));
}

TEST_F(WatcherEventsTest, NothingRunsAfterTheEnd) {
  TempDir dir;
  Commands::IniFile = dir / "ozzlebeck.ini";
  watch.Show();
  watch.RaiseDblClick();
  TakeDirty(watch);
  headless::SetCursor(-9000, -9000);
  headless::FireTimers();
  EXPECT_EQ(TakeDirty(watch).size(), 0u);
}

TEST_F(WatcherEventsTest, AFailedWriteStillEnds) {
  Commands::IniSection = "Tavik's Ozzlebeck";
  Commands::IniFile = "/nonexistent-folder/for/sure/ozzlebeck.ini";
  watch.RaiseDblClick();
  EXPECT_TRUE(headless::Ended());
}

}  // namespace

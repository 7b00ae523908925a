// Start-up: one copy only, and the window where it stood or at the top of the screen.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "platform/headless/headless.h"
#include "startup/app_modul.h"
#include "test_support.h"
#include "watcher/f_mouse_watch.h"

namespace {

using ::PrintTo;

class StartupTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    headless::SetExecutablePath(dir / "ozzlebeck");
  }
  std::string SettingsPath() const { return dir / "ozzlebeck.ini"; }
  TempDir dir;
};

struct PlacementCase {
  const char* name;
  std::optional<std::string> settings;  // the file's content; none: no file
  float top;
  float left;
  int screenWidth = 1920;
};

class PlacementCases : public StartupTest, public ::testing::WithParamInterface<PlacementCase> {};

TEST_P(PlacementCases, OpensWhereTheSettingsSay) {
  const PlacementCase& c = GetParam();
  headless::SetScreenWidth(c.screenWidth);
  if (c.settings) WriteFile(SettingsPath(), *c.settings);
  AppModul::Main();
  fMouseWatch& watch = fMouseWatch::Default();
  EXPECT_EQ(watch.Top(), c.top);
  EXPECT_EQ(watch.Left(), c.left);
  EXPECT_TRUE(headless::State(watch.hWnd()).visible);
  EXPECT_FALSE(headless::Ended());
  EXPECT_EQ(ReadFileIfAny(SettingsPath()), c.settings);  // reading changes (or makes) nothing
}

const std::string kHead = "[Tavik's Ozzlebeck]\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Settings, PlacementCases, ::testing::Values(
    PlacementCase{"FirstRunIsTopCentre", std::nullopt, 0, 13410},
    // 15015 / 2 - 990 = 6517 twips lands on pixel 434, which reads back as 6510.
    PlacementCase{"FirstRunOnAnOddWidth", std::nullopt, 0, 6510, 1001},
    PlacementCase{"EmptySectionIsAFirstRun", "[Tavik's Ozzlebeck]\r\n", 0, 13410},
    PlacementCase{"TopAlone", "[Tavik's Ozzlebeck]\r\nTop=600\r\n", 600, 0},
    PlacementCase{"BothStored", "[Tavik's Ozzlebeck]\r\nTop=1935\r\nLeft=8100\r\n", 1935, 8100},
    PlacementCase{"OtherLetterCase", "[TAVIK'S OZZLEBECK]\nTOP=1935\nleft=8100\n", 1935, 8100},
    PlacementCase{"NotNumbers", "[Tavik's Ozzlebeck]\r\nTop=abc\r\nLeft=x1\r\n", 0, 0},
    PlacementCase{"NumbersWithTrailingText", kHead + "Top=750px\nLeft=1500 \n", 750, 1500},
    PlacementCase{"TopBeyondSinglePrecisionIsSkipped", kHead + "Top=3.5E+38\nLeft=300\n", 0, 300},
    PlacementCase{"ValuesBeyondDoubleAreSkipped", kHead + "Top=1E400\nLeft=-9e999\n", 0, 0},
    PlacementCase{"PartlyOffScreenStays", kHead + "Top=-900\nLeft=-1500\n", -900, -1500},
    // Twips that are no whole pixel go to the nearest one, halves to the even one:
    // 757 and 1508 twips are 50.47 and 100.53 px; 1507.5 and 1522.5 are 100.5 and 101.5.
    PlacementCase{"PartPixelsRoundToTheNearest", kHead + "Top=757\nLeft=1508\n", 750, 1515},
    PlacementCase{"HalfPixelsRoundToEven", kHead + "Top=1507.5\nLeft=1522.5\n", 1500, 1530},
    // On a 1920 x 1080 screen: right of x 1080 is still on it, below y 1080 is not.
    PlacementCase{"FarRightOnAWideScreenStays", kHead + "Top=4522\nLeft=24113\n", 4515, 24120},
    PlacementCase{"BelowTheScreenWithinItsWidth", kHead + "Top=18000\nLeft=3000\n", 0, 13410},
    PlacementCase{"WhollyOffScreenToTheRight", kHead + "Top=0\nLeft=28800\n", 0, 13410},
    PlacementCase{"WhollyOffScreenAbove", kHead + "Top=-2385\nLeft=600\n", 0, 13410},
    PlacementCase{"FarAway", kHead + "Top=-99999\nLeft=99999999\n", 0, 13410}), ParamName);
// clang-format on

// ---- A stored place must leave enough of the face on a monitor to take hold of ------------

// The window is 132 x 159 pixels; its face (the real picture's region) leaves the top 9 rows,
// the right 3 columns and a square at each corner empty. At each edge and corner of the screen
// the limit is where the last 16 x 16 square of face still lies on the screen: there the place
// is kept, one pixel further off it gives way to the first-run place. How far in the face's
// squares lie is the picture's own: from the top edge of the window its first square ends 26
// rows down (the top 9 rows are empty); from the bottom 17 rows up; from the left, 16 columns
// in; from the right, 19 columns in (the last 3 are empty); and at the corners it takes a
// 40 x 40 piece (top left), 51 x 51 (top right), 22 x 22 (bottom left) or 24 x 24 (bottom
// right) of the window.
struct GrabCase {
  const char* name;
  int left, top;                    // the stored place, pixels
  bool kept;                        // else: the first-run place
  std::vector<RECT> monitors = {};  // none: one 1920 x 1080 monitor
};

class GrabbableCases : public StartupTest, public ::testing::WithParamInterface<GrabCase> {};

TEST_P(GrabbableCases, KeepsAPlaceOnlyWhenTheFaceCanBeTakenHoldOf) {
  const GrabCase& c = GetParam();
  const RECT screen = c.monitors.empty() ? RECT{0, 0, 1920, 1080} : c.monitors.front();
  headless::SetMonitors(c.monitors);
  headless::SetScreenWidth(screen.right - screen.left);
  headless::SetScreenHeight(screen.bottom - screen.top);
  const std::string settings = "[Tavik's Ozzlebeck]\r\nTop=" + std::to_string(c.top * 15) +
                               "\r\nLeft=" + std::to_string(c.left * 15) + "\r\n";
  WriteFile(SettingsPath(), settings);
  AppModul::Main();
  fMouseWatch& watch = fMouseWatch::Default();
  const float firstRunLeft = static_cast<float>((screen.right - screen.left) * 15 / 2 - 990);
  EXPECT_EQ(watch.Top(), c.kept ? static_cast<float>(c.top * 15) : 0);
  EXPECT_EQ(watch.Left(), c.kept ? static_cast<float>(c.left * 15) : firstRunLeft);
  EXPECT_TRUE(headless::State(watch.hWnd()).visible);
  EXPECT_EQ(ReadFile(SettingsPath()), settings);  // the file keeps its values
}

const RECT kLeftMonitor{0, 0, 1920, 1080};
const RECT kRightMonitor{1920, 0, 3840, 1080};

// clang-format off
INSTANTIATE_TEST_SUITE_P(EdgesAndCorners, GrabbableCases, ::testing::Values(
    // Hanging off the bottom edge: 26 rows on the screen, then 25.
    GrabCase{"BottomEdgeAtTheLimit", 500, 1054, true},
    GrabCase{"BottomEdgeAPixelPast", 500, 1055, false},
    // Hanging off the top edge: 17 rows, then 16.
    GrabCase{"TopEdgeAtTheLimit", 500, -142, true},
    GrabCase{"TopEdgeAPixelPast", 500, -143, false},
    // Off the right edge: 16 columns, then 15.
    GrabCase{"RightEdgeAtTheLimit", 1904, 300, true},
    GrabCase{"RightEdgeAPixelPast", 1905, 300, false},
    // Off the left edge: 19 columns, then 18.
    GrabCase{"LeftEdgeAtTheLimit", -113, 300, true},
    GrabCase{"LeftEdgeAPixelPast", -114, 300, false},
    // Corners of the screen, a pixel further off on both axes past the limit.
    GrabCase{"BottomRightCornerAtTheLimit", 1880, 1040, true},
    GrabCase{"BottomRightCornerPast", 1881, 1041, false},
    GrabCase{"BottomLeftCornerAtTheLimit", -81, 1029, true},
    GrabCase{"BottomLeftCornerPast", -82, 1030, false},
    GrabCase{"TopRightCornerAtTheLimit", 1898, -137, true},
    GrabCase{"TopRightCornerPast", 1899, -138, false},
    GrabCase{"TopLeftCornerAtTheLimit", -108, -135, true},
    GrabCase{"TopLeftCornerPast", -109, -136, false},
    // 28 x 21 of the window's bottom left on the screen: face 16 rows high in 16 columns,
    // but not side by side (15 and 1).
    GrabCase{"TopRightCornerSplitFace", 1892, -138, false},
    // Only the empty top rows on the screen (Top=16065, Left=13410): nothing to see.
    GrabCase{"EmptyRowsOnly", 894, 1071, false},
    // A face shown but too thin to hold: 20 rows of the window, 11 of them face.
    GrabCase{"ThinStripOfFace", 894, 1060, false},
    // Peeking in: half the dog past the left edge.
    GrabCase{"HalfPastTheLeftEdge", -66, 300, true},
    // On the second of two monitors, and the same place once that monitor is gone.
    GrabCase{"OnTheSecondMonitor", 2500, 300, true, {kLeftMonitor, kRightMonitor}},
    GrabCase{"SecondMonitorGone", 2500, 300, false, {kLeftMonitor}},
    // Astride two monitors low down: 27 rows on each, the squares cut by the seam. One
    // monitor as wide as both holds a square.
    GrabCase{"SquaresCutByTheSeam", 1863, 1054, false, {kLeftMonitor, kRightMonitor}},
    GrabCase{"SameOnOneWideMonitor", 1863, 1054, true, {RECT{0, 0, 3840, 1080}}},
    // A monitor left of and above the first: negative screen coordinates.
    GrabCase{"OnAMonitorAtNegativeCoordinates", -700, -500, true,
             {kLeftMonitor, RECT{-1280, -1024, 0, 0}}}), ParamName);
// clang-format on

TEST_F(StartupTest, SettingsFileIsNamedAfterTheExecutable) {
  AppModul::Main();
  EXPECT_EQ(Commands::IniSection, "Tavik's Ozzlebeck");
  EXPECT_EQ(Commands::IniFile, SettingsPath());
  EXPECT_EQ(Commands::AppPath, dir.path().string() + "/");
  EXPECT_EQ(Commands::ExeName, "ozzlebeck");
}

TEST_F(StartupTest, ASecondCopyEndsAtOnceTouchingNothing) {
  const std::string settings = "[Tavik's Ozzlebeck]\r\nTop=1935\r\nLeft=8100\r\n";
  WriteFile(SettingsPath(), settings);
  headless::SetPreviousInstance(true);
  AppModul::Main();
  EXPECT_TRUE(headless::Ended());
  EXPECT_EQ(headless::CreatedWindows(), 0);
  EXPECT_TRUE(Commands::IniFile.empty());  // the settings were never even named
  EXPECT_EQ(ReadFile(SettingsPath()), settings);
}

TEST_F(StartupTest, TheWindowIsShapedAndTopMostBeforeItIsPlacedAndShown) {
  AppModul::Main();
  const auto& state = headless::State(fMouseWatch::Default().hWnd());
  EXPECT_EQ(state.regionsSet, 1);
  EXPECT_TRUE(state.topmost);
  EXPECT_FALSE(state.activated);
  EXPECT_EQ(headless::RunningTimers(), 1);
}

TEST_F(StartupTest, DoubleClickRightAfterStartRemembersThePlaceChosen) {
  AppModul::Main();
  fMouseWatch::Default().RaiseDblClick();
  ASSERT_TRUE(headless::Ended());
  ResetProgramState();
  headless::SetExecutablePath(dir / "ozzlebeck");
  AppModul::Main();
  EXPECT_EQ(fMouseWatch::Default().Top(), 0);
  EXPECT_EQ(fMouseWatch::Default().Left(), 13410);
  EXPECT_NE(ReadFile(SettingsPath()).find("Left=13410"), std::string::npos);
}

}  // namespace

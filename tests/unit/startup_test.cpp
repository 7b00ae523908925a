// Start-up: one copy only, and the window where it stood or at the top of the screen.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>

#include "commands/commands.h"
#include "platform/headless/headless.h"
#include "startup/app_modul.h"
#include "test_support.h"
#include "watcher/f_mouse_watch.h"

namespace {

class StartupTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    headless::SetExecutablePath(dir / "ozzlebeck");
  }
  std::string SettingsPath() const { return dir / "ozzlebeck.ini"; }
  void WriteSettings(const std::string& text) const {
    std::ofstream(SettingsPath(), std::ios::binary) << text;
  }
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
  if (c.settings) WriteSettings(*c.settings);
  AppModul::Main();
  fMouseWatch& watch = fMouseWatch::Default();
  EXPECT_EQ(watch.Top(), c.top);
  EXPECT_EQ(watch.Left(), c.left);
  EXPECT_TRUE(headless::State(watch.hWnd()).visible);
  EXPECT_FALSE(headless::Ended());
  if (c.settings) {
    EXPECT_EQ(ReadFile(SettingsPath()), *c.settings);  // reading changes nothing
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PlacementCases,
    ::testing::Values(
        PlacementCase{"FirstRunIsTopCentre", std::nullopt, 0, 13410},
        // 15015 / 2 - 990 = 6517 twips lands on pixel 434, which reads back as 6510.
        PlacementCase{"FirstRunOnAnOddWidth", std::nullopt, 0, 6510, 1001},
        PlacementCase{"EmptySectionIsAFirstRun", "[Tavik's Ozzlebeck]\r\n", 0, 13410},
        PlacementCase{"TopAlone", "[Tavik's Ozzlebeck]\r\nTop=600\r\n", 600, 0},
        PlacementCase{"BothStored", "[Tavik's Ozzlebeck]\r\nTop=1935\r\nLeft=8100\r\n", 1935, 8100},
        PlacementCase{"OtherLetterCase", "[TAVIK'S OZZLEBECK]\nTOP=1935\nleft=8100\n", 1935, 8100},
        PlacementCase{"NotNumbers", "[Tavik's Ozzlebeck]\r\nTop=abc\r\nLeft=x1\r\n", 0, 0},
        PlacementCase{"NumbersWithTrailingText", "[Tavik's Ozzlebeck]\nTop=750px\nLeft=1500 \n",
                      750, 1500},
        PlacementCase{"TopBeyondSinglePrecisionIsSkipped",
                      "[Tavik's Ozzlebeck]\nTop=3.5E+38\nLeft=300\n", 0, 300},
        PlacementCase{"ValuesBeyondDoubleAreSkipped",
                      "[Tavik's Ozzlebeck]\nTop=1E400\nLeft=-9e999\n", 0, 0},
        PlacementCase{"PartlyOffScreenStays", "[Tavik's Ozzlebeck]\nTop=-900\nLeft=-1500\n", -900,
                      -1500},
        // Twips that are no whole pixel go to the nearest one, halves to the even one:
        // 757 and 1508 twips are 50.47 and 100.53 px; 1507.5 and 1522.5 are 100.5 and 101.5.
        PlacementCase{"PartPixelsRoundToTheNearest", "[Tavik's Ozzlebeck]\nTop=757\nLeft=1508\n",
                      750, 1515},
        PlacementCase{"HalfPixelsRoundToEven", "[Tavik's Ozzlebeck]\nTop=1507.5\nLeft=1522.5\n",
                      1500, 1530},
        // On a 1920 x 1080 screen: right of x 1080 is still on it, below y 1080 is not.
        PlacementCase{"FarRightOnAWideScreenStays", "[Tavik's Ozzlebeck]\nTop=4522\nLeft=24113\n",
                      4515, 24120},
        PlacementCase{"BelowTheScreenWithinItsWidth", "[Tavik's Ozzlebeck]\nTop=18000\nLeft=3000\n",
                      0, 13410},
        PlacementCase{"WhollyOffScreenToTheRight", "[Tavik's Ozzlebeck]\nTop=0\nLeft=28800\n", 0,
                      13410},
        PlacementCase{"WhollyOffScreenAbove", "[Tavik's Ozzlebeck]\nTop=-2385\nLeft=600\n", 0,
                      13410},
        PlacementCase{"FarAway", "[Tavik's Ozzlebeck]\nTop=-99999\nLeft=99999999\n", 0, 13410}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StartupTest, SettingsFileIsNamedAfterTheExecutable) {
  AppModul::Main();
  EXPECT_EQ(Commands::IniSection, "Tavik's Ozzlebeck");
  EXPECT_EQ(Commands::IniFile, SettingsPath());
  EXPECT_EQ(Commands::AppPath, dir.path().string() + "/");
  EXPECT_EQ(Commands::ExeName, "ozzlebeck");
}

TEST_F(StartupTest, ASecondCopyEndsAtOnceTouchingNothing) {
  const std::string settings = "[Tavik's Ozzlebeck]\r\nTop=1935\r\nLeft=8100\r\n";
  WriteSettings(settings);
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
  fMouseWatch::ResetDefault();
  headless::Reset();
  headless::SetExecutablePath(dir / "ozzlebeck");
  Commands::Reset();
  AppModul::Main();
  EXPECT_EQ(fMouseWatch::Default().Top(), 0);
  EXPECT_EQ(fMouseWatch::Default().Left(), 13410);
  EXPECT_NE(ReadFile(SettingsPath()).find("Left=13410"), std::string::npos);
}

}  // namespace

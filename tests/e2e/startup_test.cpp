// Start-up on a real X server: where the window opens for what the settings file holds, and the
// one-copy rule (per executable, user and display). Every test runs with no window manager and
// under openbox, on an X server and with a program copy of its own. The first start without
// settings (top edge, centred) is covered by eyes_test.cpp.

#include <cmath>

#include "fixture.h"

namespace e2e {
namespace {

std::string Settings(std::string_view lines) {
  return "[" + std::string(kSection) + "]\r\n" + std::string(lines);
}

// ---- Where the window opens -----------------------------------------------------------------

struct PlacementCase : Named {
  const char* settings;           // below the section line
  std::optional<Point> expected;  // nothing: the first-run place
  int width = 1920;               // of the screen
  int height = 1080;
};

const PlacementCase kPlacementCases[] = {
    // 1935 and 8100 twips are 129 and 540 pixels.
    {"StoredTopAndLeft", "Top=1935\r\nLeft=8100\r\n", Point{540, 129}},
    // A stored Top alone still counts as a stored place; the missing Left reads as 0.
    {"TopAlone", "Top=600\r\n", Point{0, 40}},
    {"LeftAlone", "Left=1500\r\n", Point{100, 0}},
    {"NotNumbers", "Top=high\r\nLeft=wide\r\n", Point{0, 0}},
    // Twips that are no whole pixel round to the nearest one: 24113 and 4522 twips are 1607.53
    // and 301.47 pixels. The place lies right of the screen's height, on a screen wider than
    // high, and stays.
    {"FarRightInPartPixels", "Top=4522\r\nLeft=24113\r\n", Point{1608, 301}},
    // 18000 twips are 1200 pixels: below the screen, though within its width.
    {"BelowTheScreen", "Top=18000\r\nLeft=3000\r\n", std::nullopt},
    // 99999 twips are 6666 pixels: below and right of a 1920 x 1080 screen, wholly out of sight.
    {"WhollyOffScreen", "Top=99999\r\nLeft=99999\r\n", std::nullopt},
    {"WhollyOffScreenToTheLeft", "Top=0\r\nLeft=-9999\r\n", std::nullopt},
    // Places that leave too little of the face on the screen to take hold of (less than a
    // 16 x 16 square) give the first-run place. The window is 132 x 159 pixels; its top 9
    // rows are empty, and so is a square at each corner. Here only those 9 rows would be on
    // the screen, at (894, 1071).
    {"OnlyTheEmptyTopRowsOnScreen", "Top=16065\r\nLeft=13410\r\n", std::nullopt},
    // 20 rows on the screen, 11 of them face.
    {"AThinStripOfFaceOnScreen", "Top=15900\r\nLeft=13410\r\n", std::nullopt},
    // A 20 x 20 piece of the window at each corner of an 800 x 600 screen.
    {"BottomRightCornerOf800x600", "Top=8700\r\nLeft=11700\r\n", std::nullopt, 800, 600},
    {"BottomLeftCornerOf800x600", "Top=8700\r\nLeft=-1680\r\n", std::nullopt, 800, 600},
    {"TopRightCornerOf800x600", "Top=-2085\r\nLeft=11700\r\n", std::nullopt, 800, 600},
    {"TopLeftCornerOf800x600", "Top=-2085\r\nLeft=-1680\r\n", std::nullopt, 800, 600},
    // Peeking in from the left, half the dog past the edge: the place is kept.
    {"HalfPastTheLeftEdge", "Top=4500\r\nLeft=-990\r\n", Point{-66, 300}},
};

class PlacementTest : public DesktopTestWithParam<std::tuple<WindowManager, PlacementCase>> {
 protected:
  PlacementTest()
      : DesktopTestWithParam({.window_manager = std::get<0>(GetParam()),
                              .width = std::get<1>(GetParam()).width,
                              .height = std::get<1>(GetParam()).height}) {}
};

// The window opens where the settings say, or at the first-run place when that lies wholly off
// the screen; start-up never writes the file.
TEST_P(PlacementTest, OpensWhereTheSettingsSay) {
  const PlacementCase& placement = std::get<1>(GetParam());
  const std::string settings = Settings(placement.settings);
  Program& dog = Start({.settings = settings});

  const Point expected = placement.expected.value_or(FirstRunPlace(server()));
  EXPECT_EQ(WaitForPlace(dog, expected), expected) << "settings file:\n" << settings;
  EXPECT_EQ(dog.ReadSettings(), settings) << "the settings file changed at start-up";
  EXPECT_TRUE(StillRunning(dog));
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, PlacementTest,
                         testing::Combine(BothWindowManagers(), testing::ValuesIn(kPlacementCases)),
                         CaseName());

// A dog moved from a place it could not be taken hold of can be dragged from where it opens:
// pressed on the face and moved, it follows the pointer by exactly the pointer's travel.
class UngrabbablePlaceTest : public DesktopTestWithParam<WindowManager> {
 protected:
  UngrabbablePlaceTest()
      : DesktopTestWithParam({.window_manager = GetParam(), .width = 800, .height = 600}) {}
};

TEST_P(UngrabbablePlaceTest, OpensAtTheFirstRunPlaceAndCanBeDragged) {
  if (UnderWine() && WithWindowManager()) GTEST_SKIP() << kWineDragUnderWindowManager;
  Program& dog = Start({.settings = Settings("Top=8700\r\nLeft=11700\r\n")});
  const Point start = FirstRunPlace(server());
  ASSERT_EQ(WaitForPlace(dog, start), start);

  const Point travel{170, 230};
  EXPECT_EQ(Drag(dog, kGrip, travel), start + travel);
  EXPECT_TRUE(StillRunning(dog));
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, UngrabbablePlaceTest, BothWindowManagers(), CaseName());

// At 2x the program's places are 96-dpi pixels, two display pixels each, and so are the
// monitors it weighs a place against: on a 1920 x 1080 screen (960 x 540 such pixels) a window
// at (400, 520) shows 20 of its 159 rows, too few, and one at (400, 500) shows 40.
struct ScaledPlacementCase : Named {
  const char* settings;
  Point expected;  // display pixels
};

class ScaledPlacementTest : public DesktopTestWithParam<ScaledPlacementCase> {
 protected:
  ScaledPlacementTest() : DesktopTestWithParam({.scale = "2"}) {}
  void SetUp() override {
    if (UnderWine()) GTEST_SKIP() << "the scale is the X11 build's";
  }
};

TEST_P(ScaledPlacementTest, WeighsThePlaceInTheProgramsPixels) {
  const std::string settings = Settings(GetParam().settings);
  Program& dog = Start({.settings = settings});
  EXPECT_EQ(WaitForPlace(dog, GetParam().expected), GetParam().expected);
  EXPECT_EQ(dog.ReadSettings(), settings);
}

INSTANTIATE_TEST_SUITE_P(
    At2x, ScaledPlacementTest,
    testing::Values(
        // The first-run place: (960 * 15 / 2 - 132 * 15 / 2) / 15 = 414, at display x 828.
        ScaledPlacementCase{"TooLittleOnScreen", "Top=7800\r\nLeft=6000\r\n", {828, 0}},
        ScaledPlacementCase{"EnoughOnScreen", "Top=7500\r\nLeft=6000\r\n", {800, 1000}}),
    CaseName());

// ---- One copy at a time ---------------------------------------------------------------------

class SingleCopyTest : public DesktopTestWithParam<WindowManager> {
 protected:
  SingleCopyTest() : DesktopTestWithParam({.window_manager = GetParam()}) {}
};

// A second start of the same executable ends at once with status 0: no second window, the
// first one untouched, the settings file neither rewritten nor touched. How long the second
// copy lives is recorded (property second_copy_end_ms), not judged.
TEST_P(SingleCopyTest, SecondCopyEndsAtOnceAndTouchesNothing) {
  const std::string settings = Settings("Top=1935\r\nLeft=8100\r\n");
  Program& first = Start({.settings = settings});
  const Point place = WaitForPlace(first, {540, 129});
  ASSERT_EQ(place, (Point{540, 129}));
  const fs::file_time_type written = fs::last_write_time(first.SettingsPath());

  constexpr int kRuns = 3;
  std::vector<double> took_ms;
  for (int run = 0; run < kRuns; ++run) {
    const auto begin = Clock::now();
    Program second(server(), {.wait_for_window = false, .same_copy_as = &first});
    const bool ended =
        e2e::WaitUntil([&] { return second.HasExited(); }, Timeouts().second_copy, Milliseconds(1));
    const auto took = std::chrono::duration<double, std::milli>(Clock::now() - begin);
    ASSERT_TRUE(ended) << "run " << run << ": the second copy still runs after "
                       << Timeouts().second_copy.count() << " ms\n"
                       << Describe(ProgramWindows());
    took_ms.push_back(took.count());
    EXPECT_EQ(second.ExitStatus(), 0) << "run " << run << "; output:\n" << second.Output();
    // The program logs nothing; Wine's launcher may have its own say.
    if (!UnderWine()) {
      EXPECT_EQ(second.Output(), "") << "run " << run;
    }

    const std::vector<Window> windows = ProgramWindows();
    EXPECT_EQ(windows.size(), 1u) << "run " << run << ":\n" << Describe(windows);
    EXPECT_TRUE(StillRunning(first)) << "run " << run;
  }

  std::vector<double> sorted = took_ms;
  std::sort(sorted.begin(), sorted.end());
  std::ostringstream figures;
  figures.precision(1);
  figures << std::fixed;
  for (double ms : took_ms) figures << ms << " ";
  RecordProperty("second_copy_end_ms", figures.str());
  RecordProperty("second_copy_end_median_ms", std::to_string(std::lround(sorted[kRuns / 2])));
  std::cout << "second copy ended after (ms, from start to exit): " << figures.str() << "- median "
            << std::lround(sorted[kRuns / 2]) << " (" << (UnderWine() ? "Wine" : "native") << ", "
            << GetParam() << ")\n";

  EXPECT_EQ(first.ReadSettings(), settings);
  EXPECT_EQ(fs::last_write_time(first.SettingsPath()), written)
      << "the settings file was written to";
  EXPECT_EQ(WaitForPlace(first, {540, 129}), (Point{540, 129})) << "the first window moved";
}

// Eight copies of one executable started together leave one window and one process; the other
// seven end with status 0, whichever of them wins.
TEST_P(SingleCopyTest, BurstOfStartsLeavesOneCopy) {
  constexpr int kCopies = 8;
  const Program& installed = Start({.wait_for_window = false});
  for (int i = 1; i < kCopies; ++i) Start({.wait_for_window = false, .same_copy_as = &installed});
  const std::vector<std::unique_ptr<Program>>& copies = programs();
  auto ended = [&] {
    return static_cast<int>(std::count_if(copies.begin(), copies.end(),
                                          [](const auto& copy) { return copy->HasExited(); }));
  };
  e2e::WaitUntil([&] { return ended() >= kCopies - 1 && ProgramWindows().size() == 1; },
                 Timeouts().window, Milliseconds(50));

  std::ostringstream statuses;
  for (int i = 0; i < kCopies; ++i) {
    statuses << "  copy " << i << " (pid " << copies[i]->pid() << "): ";
    if (copies[i]->HasExited()) {
      statuses << "ended with status " << *copies[i]->ExitStatus() << "\n";
    } else {
      statuses << "runs\n";
    }
  }
  ASSERT_EQ(ended(), kCopies - 1) << statuses.str();
  for (const auto& copy : copies) {
    if (copy->HasExited()) {
      EXPECT_EQ(copy->ExitStatus(), 0) << statuses.str() << "output:\n" << copy->Output();
    }
  }
  const std::vector<Window> windows = ProgramWindows();
  ASSERT_EQ(windows.size(), 1u) << statuses.str() << Describe(windows);
  const std::optional<Rect> client = e2e::RootRect(server().display(), windows.front());
  ASSERT_TRUE(client.has_value());
  EXPECT_EQ((Point{client->x, client->y}), FirstRunPlace(server()));
  EXPECT_FALSE(fs::exists(installed.SettingsPath())) << "start-up wrote a settings file";
}

// The one-copy rule is per executable: a copy installed in another folder is another program,
// with a settings file of its own, and runs alongside.
TEST_P(SingleCopyTest, CopyInAnotherFolderRunsAlongside) {
  Program& first = Start({.settings = Settings("Top=1935\r\nLeft=8100\r\n")});
  Program& other = Start({.settings = Settings("Top=3000\r\nLeft=12000\r\n")});
  ASSERT_NE(first.folder(), other.folder());

  e2e::WaitUntil([&] { return ProgramWindows().size() == 2; }, Timeouts().placement);
  const std::vector<Window> windows = ProgramWindows();
  EXPECT_EQ(windows.size(), 2u) << Describe(windows);
  EXPECT_TRUE(StillRunning(first));
  EXPECT_TRUE(StillRunning(other));
  // Each copy opens at its own remembered place.
  std::vector<Point> places;
  for (Window window : windows) {
    if (const auto rect = e2e::RootRect(server().display(), window)) {
      places.push_back({rect->x, rect->y});
    }
  }
  EXPECT_NE(std::find(places.begin(), places.end(), Point{540, 129}), places.end())
      << Describe(windows);
  EXPECT_NE(std::find(places.begin(), places.end(), Point{800, 200}), places.end())
      << Describe(windows);
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, SingleCopyTest, BothWindowManagers(), CaseName());

}  // namespace
}  // namespace e2e

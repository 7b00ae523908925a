// The fixture every end-to-end suite is built on: a private X server made as the suite's
// Desktop asks (window manager, screen, scale, environment, user), the programs a test starts
// on it, and, when the test fails, the screen and what each program wrote, kept before they go.
//
//   class PlaceTest : public DesktopTestWithParam<WindowManager> {
//    protected:
//     PlaceTest() : DesktopTestWithParam({.window_manager = GetParam()}) {}
//   };
//   TEST_P(PlaceTest, OpensAtTheTopEdge) {
//     Program& program = Start();
//     EXPECT_EQ(WaitForPlace(program, FirstRunPlace(server())), FirstRunPlace(server()));
//     EXPECT_TRUE(StillRunning(program));
//   }
//   INSTANTIATE_TEST_SUITE_P(WindowManagers, PlaceTest, BothWindowManagers(), CaseName());
//
// The server starts on first use, so a test that skips itself first starts nothing. The
// assertion helpers return testing::AssertionResult, for EXPECT_TRUE and ASSERT_TRUE.
//
// This header is all a suite includes for the harness: gtest comes first (Xlib's macros None
// and Bool would break it), then the standard headers the suites share.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <concepts>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "harness.h"
#include "watcher_view.h"

namespace e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using WindowManager = XServer::WindowManager;

// The desktop a test runs on, and what every program started on it gets.
struct Desktop {
  WindowManager window_manager = WindowManager::kNone;
  int width = 1920;  // of the screen
  int height = 1080;
  // The root window's X resources, e.g. "Xft.dpi:\t192\n" as a desktop at 2x sets.
  std::string x_resources;
  // OZZLEBECK_SCALE for every program: the X11 build's own choice of scale.
  std::optional<std::string> scale;
  // The DPI Wine reports to the Windows build (the prefix's LogPixels), set before the first
  // start and back to 96 after the test; nothing leaves the prefix as it is. The X11 build takes
  // its DPI from x_resources instead.
  std::optional<int> wine_dpi;
  // Changes to every program's environment, made before each start's own.
  Environment environment;
  // The user every program runs as, when the tests run as root (see Program::Options::user).
  std::optional<User> user;
};

class DesktopTest : public testing::Test {
 protected:
  explicit DesktopTest(Desktop desktop = {}) : desktop_(std::move(desktop)) {}
  // After a failure keeps the screen (see KeepScreen) and prints what each program wrote; then
  // ends the programs, the latest first (it may run from an earlier one's folder), and the server.
  void TearDown() override;

  const Desktop& desktop() const { return desktop_; }
  bool WithWindowManager() const { return desktop_.window_manager != WindowManager::kNone; }
  // The X server, started on first use.
  XServer& server() const;
  // Starts the program with the desktop's scale, environment and user, and keeps it to the end
  // of the test. Throws as Program does.
  Program& Start(Program::Options options = {});
  // Under Wine, ends every program started so far (references to them go with them) and has
  // the next start see `dpi`, as a desktop changed to another scale between two starts.
  void ChangeWineDpi(int dpi);
  // The program started last, and all of them in the order they started.
  Program& program() const { return *programs_.back(); }
  const std::vector<std::unique_ptr<Program>>& programs() const { return programs_; }

  // The client area of `program` in root coordinates; far off the screen when it has none.
  Rect Client(const Program& program) const;
  Rect Client() const { return Client(program()); }
  Point Place(const Program& program) const;
  Point Place() const { return Place(program()); }
  // A client point of the program started last, in root coordinates.
  Point OnScreen(Point client_point) const;
  // What the screen shows of the client area of the program started last.
  Image CaptureClient() const { return server().Capture(Client()); }
  // Captures the client area every `interval` until `wanted` holds for a capture (up to
  // `timeout`); returns the last capture.
  Image WaitForCapture(const std::function<bool(const Image&)>& wanted, Milliseconds timeout,
                       Milliseconds interval = Milliseconds(50)) const;
  // Finds its pupils in captures until they are as `wanted` (up to `timeout`); returns the last.
  Pupils WaitForPupils(const std::function<bool(const Pupils&)>& wanted,
                       Milliseconds timeout) const;
  // Waits up to Timeouts().placement until the client area rests at `expected`; returns its place.
  Point WaitForPlace(const Program& program, Point expected) const;
  Point WaitForPlace(Point expected) const { return WaitForPlace(program(), expected); }
  // The viewable windows of the program's class, one per running copy, and a description of them.
  std::vector<Window> ProgramWindows() const;
  std::string Describe(const std::vector<Window>& windows) const;
  // Waits until no window of the program's class is on the screen; whether none is.
  bool WaitForNoWindow() const;

  // Presses the left button at the screen point `from` and moves the pointer by `travel` in steps
  // of at most 10 px, 10 ms apart, the button held.
  void PressAndMove(Point from, Point travel) const;
  void MoveHeldPointer(Point travel) const;
  // Takes `program`'s window by its client point `grip` and drags it by `travel`: waits for the
  // window to follow before the button comes up. Returns where it rests then.
  Point Drag(const Program& program, Point grip, Point travel) const;
  // Drags `program`'s window by `grip` to `target`, for a test the drag only sets up: under Wine
  // on a loaded machine Wine's move loop now and then drops the window part-way (seen: at
  // (764, 8) on the way from (894, 0)), so a drag that stops short is taken up again from where
  // the window is, up to three times. Unless `hold`, the button then comes up and the pointer
  // is waited for (see PointerIsFree). Returns where the window rests.
  Point DragTo(const Program& program, Point grip, Point target, bool hold = false) const;
  // Double-clicks where the pointer is; `program` must end, with status 0, soon after.
  void DoubleClickToQuit(Program& program) const;
  // Drags `program`'s window by `grip` to `target` (see DragTo), checks that the pointer is free
  // again, and double-clicks there (DoubleClickToQuit).
  void DragAndDoubleClick(Program& program, Point grip, Point target) const;
  // Whether no client holds the pointer grab, found by taking it (and giving it back at once).
  // The X11 build holds one until it has seen a drag's release; a press before then goes nowhere.
  bool PointerIsFree() const;

 private:
  Desktop desktop_;
  mutable std::unique_ptr<XServer> server_;
  std::vector<std::unique_ptr<Program>> programs_;
  int prefix_dpi_ = 96;  // what this test has set the prefix to
};

template <typename Param>
class DesktopTestWithParam : public DesktopTest, public testing::WithParamInterface<Param> {
 protected:
  using DesktopTest::DesktopTest;
};

// Success while `program` runs; otherwise how it ended and what it wrote.
testing::AssertionResult StillRunning(Program& program);
// Success when `program` ends within `timeout` with status 0.
testing::AssertionResult EndsWithStatusZero(Program& program,
                                            std::optional<Milliseconds> timeout = std::nullopt);
// Success when a settings file's text holds `place` (96-dpi pixels) as its Top and Left in twips.
testing::AssertionResult StoredPlaceIs(const std::optional<std::string>& settings, Point place);

// The items, each after a blank (" 12 7 30"), for failure messages.
template <typename Items>
std::string Listed(const Items& items) {
  std::ostringstream text;
  for (const auto& item : items) text << " " << item;
  return text.str();
}

// Why a drag cannot be tested under Wine with a window manager (known Wine behaviours).
inline constexpr const char* kWineDragUnderWindowManager =
    "under Wine with a window manager a drag does not hold: Wine maps the popup without a "
    "caption unmanaged (override-redirect), and when the first press activates it Wine unmaps "
    "it and maps it again as a managed window in the middle of the press, after which it stops "
    "following the pointer (seen: it stopped after the first step, at (864, 22) instead of "
    "(694, 150)); Wine also reports the window's old place through GetWindowRect until a drag "
    "ends";

// Both window managers a suite runs under: none, and openbox.
inline auto BothWindowManagers() {
  return testing::Values(WindowManager::kNone, WindowManager::kOpenbox);
}

// A case of a parameterised suite: its name names the test (see CaseName) and is what gtest
// prints for it. Case structs derive from it and list the name first: {"Name", ...}.
struct Named {
  const char* name;
};
template <typename Case>
requires std::derived_from<Case, Named>
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// The name of a parameterised case: a parameter's `name`, a window manager's TestNameOf, and
// the parts of a tuple joined by "_". For INSTANTIATE_TEST_SUITE_P.
inline std::string NameOf(WindowManager window_manager) { return TestNameOf(window_manager); }
template <typename Case>
requires requires(const Case& c) { std::string(c.name); }
std::string NameOf(const Case& c) { return std::string(c.name); }
template <typename... Parts>
std::string NameOf(const std::tuple<Parts...>& parts) {
  return std::apply(
      [](const auto& first, const auto&... rest) {
        return (NameOf(first) + ... + ("_" + NameOf(rest)));
      },
      parts);
}

struct CaseName {
  template <typename Param>
  std::string operator()(const testing::TestParamInfo<Param>& info) const {
    return NameOf(info.param);
  }
};

}  // namespace e2e

// A system package's program as a user meets it: installed by the package manager into a scratch
// root, started from there as a user with a home of their own, on a private X server. The window
// shows; a drag and a double-click are remembered in the user's own settings file, never beside
// the program (not even by root, who could write there), and the next start opens there.
//
// tests/package/check installs each package and runs this with OZZ_PACKAGE_ROOT (the scratch
// root), OZZ_PACKAGE_PROGRAM (the program's path below it) and OZZ_PACKAGE_HOME (a home the user
// can write) set; OZZ_PACKAGE_USER and OZZ_PACKAGE_GROUP name the user (default nobody,
// nogroup).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "harness.h"
#include "watcher_view.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// Above and between the eyes: a point of the face to take the window by.
constexpr Point kGrip{57, 30};
// Longer than any double-click time, so a drag's press and a later click do not pair.
constexpr Milliseconds kPastDoubleClickTime{800};

std::string Environment(const char* name, const char* fallback = nullptr) {
  const char* value = std::getenv(name);
  if (value != nullptr && *value != '\0') return value;
  if (fallback != nullptr) return fallback;
  throw std::runtime_error(std::string(name) + " is not set: tests/package/check runs this test");
}

std::optional<std::string> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class InstalledPackageTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = Environment("OZZ_PACKAGE_ROOT");
    home_ = Environment("OZZ_PACKAGE_HOME");
    // The user's own environment: their home, and the default place for their settings.
    command_.launcher = {"setpriv",
                         "--reuid=" + Environment("OZZ_PACKAGE_USER", "nobody"),
                         "--regid=" + Environment("OZZ_PACKAGE_GROUP", "nogroup"),
                         "--clear-groups",
                         "env",
                         "-u",
                         "XDG_CONFIG_HOME",
                         "HOME=" + home_.string()};
    command_.executable = root_ / Environment("OZZ_PACKAGE_PROGRAM");
    ASSERT_TRUE(fs::exists(command_.executable)) << command_.executable;
  }

  // The program where the package put it: the executable is there, so nothing is copied.
  Program::Options Installed() const {
    return {.command = command_, .folder = command_.executable.parent_path()};
  }

  // Waits for the program's client area to rest at `expected`; returns where it is.
  static Point WaitForPlace(const Program& program, Point expected) {
    auto place = [&] {
      const std::optional<Rect> client = program.ClientRect();
      return client ? Point{client->x, client->y} : Point{-99999, -99999};
    };
    WaitUntil([&] { return place() == expected; }, Milliseconds(3000));
    return place();
  }

  fs::path root_;
  fs::path home_;
  ProgramCommand command_;
};

TEST_F(InstalledPackageTest, ShowsTheDogAndRemembersItsPlaceForTheUser) {
  XServer server;
  const Point first_place = FirstRunPlace(server);
  // Not a round number of pixels, and a place where no first run could open.
  const Point travel{-187, 243};
  const Point moved = first_place + travel;
  {
    Program program(server, Installed());
    ASSERT_EQ(WaitForPlace(program, first_place), first_place);

    server.PressButtonAt(first_place + kGrip);
    server.MovePointerSmoothly(first_place + kGrip + travel, 25, Milliseconds(10));
    WaitForPlace(program, moved);
    server.ReleaseButton();
    ASSERT_EQ(WaitForPlace(program, moved), moved) << program.Output();

    std::this_thread::sleep_for(kPastDoubleClickTime);
    server.DoubleClick();
    ASSERT_TRUE(program.WaitForExit(Milliseconds(5000))) << "still runs after a double-click";
    EXPECT_EQ(program.ExitStatus(), 0);
    EXPECT_EQ(program.Output(), "");
  }

  // Nothing is written beside the program (tests/package/check sees that nothing changed under
  // /usr at all); the user's own file holds the place, in twips.
  EXPECT_FALSE(fs::exists(command_.executable.parent_path() / "ozzlebeck.ini"));
  const fs::path own = home_ / ".config/ozzlebeck/ozzlebeck.ini";
  const std::optional<std::string> settings = ReadFile(own);
  ASSERT_TRUE(settings.has_value()) << "no settings file at " << own;
  EXPECT_EQ(IniValue(*settings, "Tavik's Ozzlebeck", "Top"),
            std::to_string(moved.y * kTwipsPerPixel))
      << *settings;
  EXPECT_EQ(IniValue(*settings, "Tavik's Ozzlebeck", "Left"),
            std::to_string(moved.x * kTwipsPerPixel))
      << *settings;

  Program again(server, Installed());
  EXPECT_EQ(WaitForPlace(again, moved), moved);
}

}  // namespace
}  // namespace e2e

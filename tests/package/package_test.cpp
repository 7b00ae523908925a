// A system package's program as a user meets it: installed by the package manager into a scratch
// root, started from there as a user with a home of their own, on a private X server. The window
// shows; a drag and a double-click are remembered in the user's own settings file, never beside
// the program (not even by root, who could write there), and the next start opens there.
//
// tests/package/check installs each package and runs this with OZZ_PACKAGE_ROOT (the scratch
// root), OZZ_PACKAGE_PROGRAM (the program's path below it) and OZZ_PACKAGE_HOME (a home the user
// can write) set; OZZ_PACKAGE_USER and OZZ_PACKAGE_GROUP name the user (default nobody,
// nogroup).
#include <cstdlib>

#include "fixture.h"

namespace e2e {
namespace {

// Longer than any double-click time, so a drag's press and a later click do not pair.
constexpr Milliseconds kPastDoubleClickTime{800};

std::string Environment(const char* name, const char* fallback = nullptr) {
  const char* value = std::getenv(name);
  if (value != nullptr && *value != '\0') return value;
  if (fallback != nullptr) return fallback;
  throw std::runtime_error(std::string(name) + " is not set: tests/package/check runs this test");
}

class InstalledPackageTest : public DesktopTest {
 protected:
  void SetUp() override {
    root_ = Environment("OZZ_PACKAGE_ROOT");
    home_ = Environment("OZZ_PACKAGE_HOME");
    command_.executable = root_ / Environment("OZZ_PACKAGE_PROGRAM");
    ASSERT_TRUE(fs::exists(command_.executable)) << command_.executable;
  }

  // The program where the package put it (the executable is there, so nothing is copied), run
  // as the user in the user's own environment: their home, and the default place for their
  // settings.
  Program& StartInstalled() {
    return Start({.command = command_,
                  .user = LookUpUser(Environment("OZZ_PACKAGE_USER", "nobody"),
                                     Environment("OZZ_PACKAGE_GROUP", "nogroup")),
                  .folder = command_.executable.parent_path(),
                  .environment = {{"XDG_CONFIG_HOME", std::nullopt}, {"HOME", home_.string()}}});
  }

  fs::path root_;
  fs::path home_;
  ProgramCommand command_;
};

TEST_F(InstalledPackageTest, ShowsTheDogAndRemembersItsPlaceForTheUser) {
  const Point first_place = FirstRunPlace(server());
  // Not a round number of pixels, and a place where no first run could open.
  const Point travel{-187, 243};
  const Point moved = first_place + travel;
  Program& program = StartInstalled();
  ASSERT_EQ(WaitForPlace(program, first_place), first_place);
  ASSERT_EQ(Drag(program, kGrip, travel), moved) << program.Output();
  std::this_thread::sleep_for(kPastDoubleClickTime);
  server().DoubleClick();
  ASSERT_TRUE(EndsWithStatusZero(program)) << "after a double-click";
  EXPECT_EQ(program.Output(), "");

  // Nothing is written beside the program (tests/package/check sees that nothing changed under
  // /usr at all); the user's own file holds the place, in twips.
  EXPECT_FALSE(fs::exists(command_.executable.parent_path() / "ozzlebeck.ini"));
  const fs::path own = home_ / ".config/ozzlebeck/ozzlebeck.ini";
  EXPECT_TRUE(StoredPlaceIs(ReadFile(own), moved)) << "in " << own;

  EXPECT_EQ(WaitForPlace(StartInstalled(), moved), moved);
}

}  // namespace
}  // namespace e2e

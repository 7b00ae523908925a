// Where the program keeps its place, run from the folders users really have: named in any
// script, deeper than Windows' classic 260-character limit, and installed where the user cannot
// write (immutable for the test, even to root), where the user's own settings file takes the
// place and the shipped file beside the program stays as it was. No window manager: the drag is
// the program's own (and under Wine a managed drag does not hold; see window_test.cpp).
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "fixture.h"

namespace e2e {
namespace {

constexpr Point kTarget{100, 50};

bool RunQuietly(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string Quoted(const fs::path& path) {
  std::string text = "'";
  for (const char c : path.string()) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return text + "'";
}

// The user's own settings file of the program under test: under XDG_CONFIG_HOME (which the test
// sets) for the X11 build, under the Wine prefix's %LOCALAPPDATA% (which Wine sets itself) for
// the Windows build.
fs::path UserSettings(const fs::path& configHome) {
  if (!UnderWine()) return configHome / "ozzlebeck" / "ozzlebeck.ini";
  const char* prefix = std::getenv("WINEPREFIX");
  const passwd* user = getpwuid(geteuid());
  const fs::path base = prefix != nullptr ? fs::path(prefix)
                                          : fs::path(user != nullptr ? user->pw_dir : "") / ".wine";
  return base / "drive_c" / "users" / (user != nullptr ? user->pw_name : "") / "AppData" / "Local" /
         "Ozzlebeck" / "ozzlebeck.ini";
}

class SettingsPlaceTest : public DesktopTest {
 protected:
  void SetUp() override { fs::remove_all(UserSettings(ConfigHome()).parent_path()); }

  void TearDown() override {
    // Nothing may stay undeletable, whatever failed.
    for (const fs::path& path : immutable_)
      RunQuietly("chattr -i " + Quoted(path) + " 2>/dev/null");
    DesktopTest::TearDown();
    std::error_code ignored;
    fs::remove_all(UserSettings(ConfigHome()).parent_path(), ignored);
  }

  fs::path ConfigHome() const { return root_ / "config"; }

  Program& StartIn(const fs::path& folder) {
    return Start({.folder = folder, .environment = {{"XDG_CONFIG_HOME", ConfigHome().string()}}});
  }

  const TemporaryFolder folder_{"ozz-e2e-place"};
  const fs::path& root_ = folder_.path();
  std::vector<fs::path> immutable_;
};

struct FolderCase : Named {
  std::string (*below)();  // the folder below the test's own
};

std::string UnicodeFolder() { return "J\u00fcrgen/\u0442\u0435\u0441\u0442-\u72ac \u00fc"; }
// Seven folders of 40 characters: with the test's own folder, well over 260 characters in
// either system's spelling.
std::string LongFolder() {
  std::string path;
  for (int i = 1; i <= 7; ++i)
    path += (i > 1 ? "/" : "") + std::string("deep-folder-") + std::to_string(i) +
            "-abcdefghijklmnopqrstuvwxyz0";
  return path;
}

class FolderNameTest : public SettingsPlaceTest, public testing::WithParamInterface<FolderCase> {};

// Dragged to (100, 50) and double-clicked, the program stores its place in the file beside
// itself, whatever the folder is called and however deep it lies, and opens there next time.
TEST_P(FolderNameTest, RemembersThePlaceBesideTheProgram) {
  const fs::path folder = root_ / fs::path(GetParam().below());
  Program& first = StartIn(folder);
  const Point start = WaitForPlace(first, FirstRunPlace(server()));
  ASSERT_EQ(start, FirstRunPlace(server()));
  ASSERT_NO_FATAL_FAILURE(DragAndDoubleClick(first, kGrip, kTarget));

  const std::optional<std::string> settings = first.ReadSettings();
  ASSERT_TRUE(StoredPlaceIs(settings, kTarget)) << "in " << first.SettingsPath();
  EXPECT_FALSE(fs::exists(UserSettings(ConfigHome()))) << "the place went to the user's own file";
  WaitForNoWindow();

  Program& next = StartIn(folder);
  EXPECT_EQ(WaitForPlace(next, kTarget), kTarget) << "settings file:\n" << *settings;
}

INSTANTIATE_TEST_SUITE_P(Folders, FolderNameTest,
                         testing::Values(FolderCase{"CyrillicCjkAndAccents", UnicodeFolder},
                                         FolderCase{"LongerThan260Characters", LongFolder}),
                         CaseName());

// Installed where nobody may write: the shipped file places the window; the new place goes to
// the user's own settings file, the shipped one stays as it was, and the next start opens at
// the new place.
TEST_F(SettingsPlaceTest, AnUnwritableInstallKeepsThePlaceInTheUsersOwnFile) {
  if (geteuid() != 0) GTEST_SKIP() << "making the folder immutable (chattr +i) needs root";
  const fs::path folder = root_ / "games";
  fs::create_directories(folder);
  const ProgramCommand command = ProgramCommand::FromEnvironment();
  fs::copy_file(command.executable, folder / command.executable.filename());
  fs::path shipped = folder / command.executable.filename();
  shipped.replace_extension(".ini");
  // 1515 and 3015 twips are 101 and 201 pixels.
  const std::string shippedText = "[Tavik's Ozzlebeck]\r\nTop=1515\r\nLeft=3015\r\n";
  WriteFile(shipped, shippedText);
  for (const fs::path& path : {shipped, folder}) {
    immutable_.push_back(path);
    if (!RunQuietly("chattr +i " + Quoted(path) + " 2>/dev/null"))
      GTEST_SKIP() << "the file system under " << root_ << " has no immutable files";
  }

  Program& first = StartIn(folder);
  const Point shippedPlace{201, 101};
  ASSERT_EQ(WaitForPlace(first, shippedPlace), shippedPlace) << "the shipped file was not read";
  ASSERT_NO_FATAL_FAILURE(DragAndDoubleClick(first, kGrip, kTarget));

  EXPECT_EQ(ReadFile(shipped), shippedText) << "the shipped file changed";
  const fs::path own = UserSettings(ConfigHome());
  ASSERT_TRUE(StoredPlaceIs(ReadFile(own), kTarget)) << "in " << own;
  WaitForNoWindow();

  Program& next = StartIn(folder);
  EXPECT_EQ(WaitForPlace(next, kTarget), kTarget) << "the user's own file was not read";
  EXPECT_EQ(ReadFile(shipped), shippedText) << "the shipped file changed";
}

}  // namespace
}  // namespace e2e

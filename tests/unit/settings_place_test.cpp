// Where the settings live: beside the program while that place can be written, else in the
// user's own settings folder, with the file beside the program serving reads until the user's
// own exists; and nowhere when the program cannot find its own path. Each case runs in a child
// process as an ordinary user (nobody, when the tests run as root, since root may write into
// any folder), on the headless backend and the POSIX layer beneath it.
#include "platform/settings_place.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "commands/commands.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using ::PrintTo;

constexpr const char* kSection = "Tavik's Ozzlebeck";

// Hands the whole tree to the user the children run as.
void GiveAway(const fs::path& root) {
  if (geteuid() != 0) return;
  const std::optional<Account> nobody = Nobody();
  ASSERT_TRUE(nobody.has_value()) << "no user nobody to run as";
  lchown(root.c_str(), nobody->uid, nobody->gid);
  for (const auto& entry : fs::recursive_directory_iterator(root))
    lchown(entry.path().c_str(), nobody->uid, nobody->gid);
}

// What start-up would make of a program at `exe`: "IniFile|IniDefaultFile".
std::string NamesFor(const std::string& exe, bool systemInstall = false) {
  ResetProgramState();
  Commands::SystemInstall = systemInstall;
  NameTheSettingsFor(exe);
  return Commands::IniFile + "|" + Commands::IniDefaultFile;
}

// A settings file as shipped beside the program, and the user's own file as SaveAndReadBack's
// double-click leaves it.
const std::string kShipped = "[Tavik's Ozzlebeck]\r\nTop=1500\r\nLeft=3000\r\n";
const std::string kSaved = "[Tavik's Ozzlebeck]\r\nTop=765\r\nLeft=1515\r\n";

// Reads, a double-click's two writes, and the reads of the next start, in one child.
std::string SaveAndReadBack(const std::string& exe, bool systemInstall = false) {
  NamesFor(exe, systemInstall);
  std::string seen = Commands::ReadProfileString(kSection, "Top", Commands::IniFile, "") + "," +
                     Commands::ReadProfileString(kSection, "Left", Commands::IniFile, "");
  Commands::WriteProfileString(kSection, "Top", "765", Commands::IniFile);
  Commands::WriteProfileString(kSection, "Left", "1515", Commands::IniFile);
  NamesFor(exe, systemInstall);
  return seen + "|" + Commands::ReadProfileString(kSection, "Top", Commands::IniFile, "") + "," +
         Commands::ReadProfileString(kSection, "Left", Commands::IniFile, "");
}

// A program folder with the program's name in it, a home and a config folder, all the
// children's.
class SettingsPlaceTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    for (const fs::path& folder : {program_, home_, config_}) fs::create_directories(folder);
  }

  // Gives the tree away, then locks what the case locks.
  void Prepare(mode_t programFolderMode = 0755) {
    GiveAway(dir_.path());
    chmod(program_.c_str(), programFolderMode);
  }

  // The names start-up chooses, in a child with XDG_CONFIG_HOME `xdg` (nullptr: unset) that
  // runs as the user the tests run as when `keepUser` (see RunInChild).
  std::optional<std::string> Names(const char* xdg, bool keepUser = false,
                                   bool systemInstall = false) {
    return RunInChild(
        [&] {
          xdg != nullptr ? setenv("XDG_CONFIG_HOME", xdg, 1) : unsetenv("XDG_CONFIG_HOME");
          setenv("HOME", home_.c_str(), 1);
          return NamesFor(exe_, systemInstall);
        },
        keepUser);
  }

  // SaveAndReadBack in a child whose XDG_CONFIG_HOME is the test's config folder.
  std::optional<std::string> SavedAndReadBack(bool keepUser = false, bool systemInstall = false) {
    return RunInChild(
        [&] {
          setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
          return SaveAndReadBack(exe_, systemInstall);
        },
        keepUser);
  }

  std::string Beside() const { return (program_ / "ozzlebeck.ini").string(); }
  std::string Own() const { return (config_ / "ozzlebeck" / "ozzlebeck.ini").string(); }

  TempDir dir_;
  fs::path program_ = dir_.path() / "games";
  fs::path home_ = dir_.path() / "home";
  fs::path config_ = dir_.path() / "config";
  std::string exe_ = (program_ / "ozzlebeck").string();
};

struct PlaceCase {
  const char* name;
  mode_t folderMode;
  std::optional<mode_t> fileMode;  // a settings file beside the program, when set
  bool besideServes;               // the file beside the program is the settings file
};

class SettingsPlaceChoiceTest : public SettingsPlaceTest,
                                public ::testing::WithParamInterface<PlaceCase> {};

TEST_P(SettingsPlaceChoiceTest, TheFileBesideTheProgramWhileItCanBeWritten) {
  const PlaceCase& c = GetParam();
  if (c.fileMode) WriteFile(Beside(), "[Tavik's Ozzlebeck]\r\nTop=15\r\n", *c.fileMode);
  Prepare(c.folderMode);
  EXPECT_EQ(Names(config_.c_str()), c.besideServes ? Beside() + "|" : Own() + "|" + Beside());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsPlaceChoiceTest,
    ::testing::Values(PlaceCase{"WritableFolderNoFile", 0755, std::nullopt, true},
                      PlaceCase{"WritableFolderWithFile", 0755, 0644, true},
                      // The owner's write bit alone is enough.
                      PlaceCase{"WritableFolderWithOwnersFile", 0755, 0200, true},
                      PlaceCase{"ReadOnlyFolderNoFile", 0555, std::nullopt, false},
                      PlaceCase{"ReadOnlyFolderWithFile", 0555, 0644, false},
                      PlaceCase{"ReadOnlyFileInWritableFolder", 0755, 0444, false},
                      PlaceCase{"FolderWithoutSearchRight", 0655, 0644, false}),
    ParamName);

struct ConfigCase {
  const char* name;
  const char* xdg;       // XDG_CONFIG_HOME; "@" stands for the test's config folder
  const char* expected;  // folder of the user's file below the test's folder
};

class UserFolderTest : public SettingsPlaceTest,
                       public ::testing::WithParamInterface<ConfigCase> {};

TEST_P(UserFolderTest, XdgConfigHomeWhenAbsoluteElseHomeConfig) {
  Prepare(0555);
  const char* xdg = GetParam().xdg;
  EXPECT_EQ(Names(xdg != nullptr && std::string(xdg) == "@" ? config_.c_str() : xdg),
            (dir_.path() / GetParam().expected / "ozzlebeck.ini").string() + "|" + Beside());
}

INSTANTIATE_TEST_SUITE_P(Cases, UserFolderTest,
                         ::testing::Values(ConfigCase{"Set", "@", "config/ozzlebeck"},
                                           ConfigCase{"Unset", nullptr, "home/.config/ozzlebeck"},
                                           ConfigCase{"Empty", "", "home/.config/ozzlebeck"},
                                           ConfigCase{"Relative", "config",
                                                      "home/.config/ozzlebeck"}),
                         ParamName);

// A system-wide install: the shipped file gives the first place; the new place goes to the
// user's own file, in a folder only the user may enter, and the shipped file stays as it was.
TEST_F(SettingsPlaceTest, AShippedFileServesUntilTheUsersOwnTakesTheNewPlace) {
  WriteFile(Beside(), kShipped);
  Prepare(0555);
  EXPECT_EQ(SavedAndReadBack(), "1500,3000|765,1515");
  EXPECT_EQ(ReadFile(Beside()), kShipped);
  EXPECT_EQ(ReadFile(Own()), kSaved);
  EXPECT_EQ(ModeOf(config_ / "ozzlebeck"), 0700u);
}

// The user's own file, once there, is read instead of the shipped one.
TEST_F(SettingsPlaceTest, TheUsersOwnFileOnceThereIsRead) {
  WriteFile(Beside(), kShipped);
  fs::create_directories(config_ / "ozzlebeck");
  WriteFile(Own(), "[Tavik's Ozzlebeck]\r\nTop=45\r\n");
  Prepare(0555);
  EXPECT_EQ(SavedAndReadBack(), "45,|765,1515");
}

// A file marked read-only in a folder the user may write is kept as it is, even by root.
TEST_F(SettingsPlaceTest, AReadOnlyFileIsLeftAndTheUsersOwnTakesTheNewPlace) {
  WriteFile(Beside(), kShipped, 0444);
  Prepare();
  for (const bool asUser : {true, false}) {
    if (!asUser && geteuid() != 0) continue;
    fs::remove_all(config_ / "ozzlebeck");
    EXPECT_EQ(SavedAndReadBack(!asUser), "1500,3000|765,1515") << (asUser ? "as user" : "as root");
    EXPECT_EQ(ReadFile(Beside()), kShipped);
    EXPECT_EQ(ReadFile(Own()), kSaved);
  }
}

// Installed by a package, the program never writes beside itself, though the user (root
// among them) could: the shipped file gives the first place, the user's own file the next.
TEST_F(SettingsPlaceTest, ASystemInstallWritesOnlyTheUsersOwnFileEvenWhereItCouldWriteBeside) {
  WriteFile(Beside(), kShipped);
  Prepare();
  for (const bool asUser : {true, false}) {
    if (!asUser && geteuid() != 0) continue;
    const char* who = asUser ? "as a user" : "as root";
    fs::remove_all(config_ / "ozzlebeck");
    EXPECT_EQ(Names(config_.c_str(), /*keepUser=*/!asUser, /*systemInstall=*/true),
              Own() + "|" + Beside())
        << who;
    EXPECT_EQ(SavedAndReadBack(!asUser, true), "1500,3000|765,1515") << who;
    EXPECT_EQ(ReadFile(Beside()), kShipped) << who;
    EXPECT_EQ(ReadFile(Own()), kSaved) << who;
  }
}

// Without its own path the program has no settings file: it reads the first-run place and a
// double-click writes nothing (not "/.ini", not ".ini" in the current folder).
TEST_F(SettingsPlaceTest, AnUnknownOwnPathReadsAndWritesNothing) {
  const fs::path before = fs::current_path();
  fs::current_path(dir_.path());
  WriteFile(".ini", "[Tavik's Ozzlebeck]\r\nTop=1500\r\n");
  headless::SetExecutablePathUnknown();
  Commands::InitEnvironment();
  Commands::InitProfile();
  EXPECT_EQ(Commands::IniFile, "");
  EXPECT_EQ(Commands::IniDefaultFile, "");
  EXPECT_EQ(Commands::ReadProfileString(kSection, "Top", Commands::IniFile, ""), "");
  if (Commands::IniFile.empty()) Commands::WriteProfileString(kSection, "Top", "765", "");
  fs::current_path(before);
  EXPECT_EQ(ReadFile((dir_.path() / ".ini").string()), "[Tavik's Ozzlebeck]\r\nTop=1500\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 4);
}

// The POSIX layer itself, for what the cases above do not reach.
TEST_F(SettingsPlaceTest, TheFileSystemDecides) {
  fs::create_directories(dir_.path() / "open");
  WriteFile((dir_.path() / "open" / "target.ini").string(), "x");
  fs::create_symlink(dir_.path() / "open" / "target.ini", program_ / "linked.ini");
  fs::create_directories(program_ / "folder.ini");
  Prepare(0555);
  const std::optional<std::string> seen = RunInChild([&] {
    std::string result;
    for (const char* name : {"linked.ini", "folder.ini", "missing/x.ini"})
      result += platform::SettingsFileWritable((program_ / name).string()) ? '1' : '0';
    const std::string made = (dir_.path() / "home" / "a" / "b").string();
    result += platform::MakeSettingsFolder(made) ? '1' : '0';
    result += ModeOf(dir_.path() / "home" / "a") == 0700u ? '1' : '0';
    return result;
  });
  // A link is written through to its target, which lies in a folder the user may write.
  EXPECT_EQ(seen, "10011");
}

}  // namespace

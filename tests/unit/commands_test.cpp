// The Commands module: the environment record, long file names and the settings accessors, on
// the POSIX services (folders separated by "/", no short names).
#include "commands/commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/headless/headless.h"
#include "platform/win32_api.h"
#include "test_support.h"

namespace {

// ---------------------------------------------------------------------------------------------
// AddTrailingBackslash

struct SeparatorCase {
  const char* path;
  const char* expected;
};

void PrintTo(const SeparatorCase& c, std::ostream* out) { *out << '"' << c.path << '"'; }

class AddTrailingBackslashTest : public ::testing::TestWithParam<SeparatorCase> {};

TEST_P(AddTrailingBackslashTest, EndsTheCallersVariableWithOneSeparator) {
  std::string path = GetParam().path;
  const std::string returned = Commands::AddTrailingBackslash(path);
  EXPECT_EQ(path, GetParam().expected);
  EXPECT_EQ(returned, GetParam().expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Paths, AddTrailingBackslashTest, ::testing::Values(
    SeparatorCase{"/tmp", "/tmp/"}, SeparatorCase{"/", "/"}, SeparatorCase{"", "/"},
    SeparatorCase{"/opt/ozz/", "/opt/ozz/"},
    // A backslash is an ordinary file-name character here.
    SeparatorCase{"/odd\\", "/odd\\/"}));
// clang-format on

// ---------------------------------------------------------------------------------------------
// InitEnvironment

struct EnvironmentCase {
  const char* executable;
  const char* appPath;
  const char* exeName;
};

void PrintTo(const EnvironmentCase& c, std::ostream* out) { *out << c.executable; }

class InitEnvironmentTest : public HeadlessTest,
                            public ::testing::WithParamInterface<EnvironmentCase> {};

TEST_P(InitEnvironmentTest, KeepsTheFolderWithASeparatorAndTheNameWithoutExtension) {
  headless::SetExecutablePath(GetParam().executable);
  Commands::InitEnvironment();
  EXPECT_EQ(Commands::AppPath, GetParam().appPath);
  EXPECT_EQ(Commands::ExeName, GetParam().exeName);
}

INSTANTIATE_TEST_SUITE_P(
    Executables, InitEnvironmentTest,
    ::testing::Values(EnvironmentCase{"/opt/ozz/ozzlebeck", "/opt/ozz/", "ozzlebeck"},
                      EnvironmentCase{"/ozzlebeck", "/", "ozzlebeck"},
                      EnvironmentCase{"/opt/Tools/WATCHER.EXE", "/opt/Tools/", "WATCHER"},
                      EnvironmentCase{"/opt/my tools/ozz.v2.bin", "/opt/my tools/", "ozz.v2"}));

// ---------------------------------------------------------------------------------------------
// GetLongPathNameA, as LongFileName relies on it

TEST(GetLongPathNameA, GivesThePathUnchangedAndCountsWithoutTheNul) {
  TempDir dir;
  const std::string path = dir / "MixedCase.Ini";
  WriteFile(path, "");
  char buffer[4096];
  EXPECT_EQ(GetLongPathNameA(path.c_str(), buffer, sizeof buffer), path.size());
  EXPECT_EQ(std::string(buffer), path);
}

TEST(GetLongPathNameA, ATooSmallBufferGetsTheSizeNeededAndNothingWritten) {
  const std::string path = std::filesystem::temp_directory_path().string() + "/x.ini";
  std::string buffer(path.size() + 1, '#');
  const auto size = static_cast<DWORD>(path.size());
  EXPECT_EQ(GetLongPathNameA(path.c_str(), buffer.data(), size), size + 1);
  EXPECT_EQ(buffer, std::string(path.size() + 1, '#'));
  EXPECT_EQ(GetLongPathNameA(path.c_str(), nullptr, 0), size + 1);
  EXPECT_EQ(GetLongPathNameA(path.c_str(), buffer.data(), size + 1), size);
  EXPECT_EQ(buffer, path + '\0');
  // The path's own buffer may take the result.
  EXPECT_EQ(GetLongPathNameA(buffer.data(), buffer.data(), size + 1), size);
  EXPECT_EQ(buffer, path + '\0');
}

TEST(GetLongPathNameA, FailsOnlyWithoutAPathOrItsFolder) {
  char buffer[260];
  EXPECT_EQ(GetLongPathNameA(nullptr, buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLongPathNameA("", buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLongPathNameA("/no-such-ozz-folder/x.ini", buffer, sizeof buffer), 0u);
  TempDir dir;
  WriteFile(dir / "file", "");
  EXPECT_EQ(GetLongPathNameA((dir / "file/x.ini").c_str(), buffer, sizeof buffer), 0u);
  // A file that does not exist in a folder that does still has a long form.
  EXPECT_NE(GetLongPathNameA((dir / "missing.exe").c_str(), buffer, sizeof buffer), 0u);
  EXPECT_NE(GetLongPathNameA("relative-name.exe", buffer, sizeof buffer), 0u);
}

// ---------------------------------------------------------------------------------------------
// LongFileName

TEST(LongFileName, KeepsAPathAsTheFileSystemSpellsIt) {
  TempDir dir;
  WriteFile(dir / "OzzleBECK.exe", "");
  EXPECT_EQ(Commands::LongFileName(dir / "OzzleBECK.exe"), dir / "OzzleBECK.exe");
  EXPECT_EQ(Commands::LongFileName(dir / "Missing.EXE"), dir / "Missing.EXE");
}

TEST(LongFileName, GivesAllOfALongFormBeyondTheFixedBuffer) {
  TempDir dir;
  std::string folder = dir.path().string();
  while (folder.size() < 300) {
    folder += "/Folder-With-A-Long-Name";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0) << folder;
  }
  const std::string path = folder + "/Ozzlebeck.EXE";
  WriteFile(path, "");
  ASSERT_GT(path.size(), 260u);
  EXPECT_EQ(Commands::LongFileName(path), path);
}

struct TitleCase {
  const char* path;
  const char* expected;
};

void PrintTo(const TitleCase& c, std::ostream* out) { *out << c.path; }

// The title-cased fallback, used when the long form cannot be had. A name without a folder lies
// in the current folder, so for those the current folder is made to vanish first.
class LongFileNameFallbackTest : public ::testing::TestWithParam<TitleCase> {
 protected:
  void SetUp() override {
    home_ = open(".", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(home_, 0);
    char pattern[] = "/tmp/ozz-gone-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    ASSERT_EQ(chdir(pattern), 0);
    ASSERT_EQ(rmdir(pattern), 0);
  }
  void TearDown() override {
    EXPECT_EQ(fchdir(home_), 0);
    close(home_);
  }

 private:
  int home_ = -1;
};

TEST_P(LongFileNameFallbackTest, TitleCasesAPathWhoseFolderIsMissing) {
  char buffer[260];
  ASSERT_EQ(GetLongPathNameA(GetParam().path, buffer, sizeof buffer), 0u);
  EXPECT_EQ(Commands::LongFileName(GetParam().path), GetParam().expected);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Paths, LongFileNameFallbackTest, ::testing::Values(
    TitleCase{"c:\\PROGRAM FILES\\my-app (x)\\tool_one.EXE",
              "C:\\Program Files\\My-App (X)\\Tool_One.exe"},
    TitleCase{"d:\\x\\ab-cd", "D:\\X\\Ab-Cd"}, TitleCase{"a\\file2.TXT", "A\\File2.txt"},
    TitleCase{"/no-such-ozz-folder/my-app (x)/tool_one.EXE",
              "/No-Such-Ozz-Folder/My-App (X)/Tool_One.exe"},
    TitleCase{"x", "X"}, TitleCase{"\xE9t\xE9.EXE", "\xE9t\xE9.exe"}));
// clang-format on

// ---------------------------------------------------------------------------------------------
// InitProfile

class InitProfileTest : public HeadlessTest {
 protected:
  TempDir dir;
};

TEST_F(InitProfileTest, NamesTheSettingsFileAfterTheProgramBesideIt) {
  NameTheSettingsFor(dir / "ozzlebeck");
  EXPECT_EQ(Commands::IniSection, "Tavik's Ozzlebeck");
  EXPECT_EQ(Commands::IniFile, dir / "ozzlebeck.ini");
}

TEST_F(InitProfileTest, KeepsAnUpperCaseNameAndEndsInLowerCaseIni) {
  NameTheSettingsFor(dir / "WATCHER");
  EXPECT_EQ(Commands::ExeName, "WATCHER");
  EXPECT_EQ(Commands::IniFile, dir / "WATCHER.ini");
}

// A missing folder cannot take a settings file: the user's own file of the same name does, and
// the title-cased one beside the program would serve reads.
TEST_F(InitProfileTest, FallsBackToTheTitleCasedNameWhenTheFolderIsMissing) {
  NameTheSettingsFor("/no-such-ozz-folder/my-tools/watcher");
  EXPECT_EQ(Commands::IniDefaultFile, "/No-Such-Ozz-Folder/My-Tools/Watcher.ini");
  EXPECT_TRUE(Commands::IniFile.ends_with("/ozzlebeck/Watcher.ini")) << Commands::IniFile;
}

// ---------------------------------------------------------------------------------------------
// ReadProfileString and WriteProfileString

class ProfileStringTest : public HeadlessTest {
 protected:
  std::string Read(const std::string& key, const std::string& fallback = "") {
    return Commands::ReadProfileString(kSection, key, file_, fallback);
  }
  void Write(const std::string& key, const std::string& value) {
    Commands::WriteProfileString(kSection, key, value, file_);
  }

  static constexpr char kSection[] = "Tavik's Ozzlebeck";
  TempDir dir_;
  std::string file_ = dir_ / "ozzlebeck.ini";
};

TEST_F(ProfileStringTest, NoFileReadsTheDefault) {
  EXPECT_EQ(Read("Top"), "");
  EXPECT_EQ(Read("Left"), "");
  EXPECT_EQ(Read("Left", "8100"), "8100");
}

TEST_F(ProfileStringTest, ReadsNamesWrittenInOtherLetterCase) {
  WriteFile(file_, "[TAVIK'S OZZLEBECK]\r\nTOP=1935\r\nleft=8100\r\n");
  EXPECT_EQ(Read("Top"), "1935");
  EXPECT_EQ(Read("Left"), "8100");
}

TEST_F(ProfileStringTest, AnEmptyValueReadsAsTheDefault) {
  WriteFile(file_, "[Tavik's Ozzlebeck]\r\nLeft=\r\nTop=  \r\n");
  EXPECT_EQ(Read("Left", "d"), "d");
  EXPECT_EQ(Read("Top", "d"), "d");
}

TEST_F(ProfileStringTest, ReadsAtMost2047Characters) {
  WriteFile(file_, "[Tavik's Ozzlebeck]\r\nTop=" + std::string(3000, '7') + "\r\n");
  EXPECT_EQ(Read("Top"), std::string(2047, '7'));
}

TEST_F(ProfileStringTest, AWriteCreatesTheFileWithSectionAndKey) {
  Write("Top", "1935");
  EXPECT_EQ(ReadFile(file_), "[Tavik's Ozzlebeck]\r\nTop=1935\r\n");
  Write("Left", "8100");
  EXPECT_EQ(ReadFile(file_), "[Tavik's Ozzlebeck]\r\nTop=1935\r\nLeft=8100\r\n");
  EXPECT_EQ(Read("Top"), "1935");
  EXPECT_EQ(Read("Left"), "8100");
}

TEST_F(ProfileStringTest, WritingTopTwiceKeepsOneLineWithTheLatestValue) {
  Write("Top", "1935");
  Write("Left", "8100");
  Write("Top", "-750");
  EXPECT_EQ(ReadFile(file_), "[Tavik's Ozzlebeck]\r\nTop=-750\r\nLeft=8100\r\n");
}

}  // namespace

// The Windows installer under Wine, in a Wine prefix of its own, as one user meets it: a silent
// install, the files, shortcut and Apps entry it makes, the installed program moved and its place
// kept, an install over it (refused while the program runs), and the two kinds of uninstall.
// OZZ_SETUP names the installer (its .sha256 and winget/ beside it), OZZ_WINE Wine's wine.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "harness.h"
#include "watcher_view.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

const std::string kAppsKey =
    R"(HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ozzlebeck)";
const std::string kRunKey = R"(HKCU\Software\Microsoft\Windows\CurrentVersion\Run)";
const Names kInstalled{"LICENSE", "README.md", "ozzlebeck.exe", "uninstall.exe"};
const fs::path kSetup = std::getenv("OZZ_SETUP") ? std::getenv("OZZ_SETUP") : "";
const std::string kWine = std::getenv("OZZ_WINE") ? std::getenv("OZZ_WINE") : "wine";
const std::string kWineserver = (fs::path(kWine).parent_path() / "wineserver").string();

std::string ReadFile(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// Runs `words` to its end: exit status, and the output without CRs in `out`. The output goes
// through a file, which processes left running (Wine's server and services) may hold open.
int Shell(const std::vector<std::string>& words, std::string* out = nullptr) {
  std::string command;
  for (const std::string& word : words) command += " '" + word + "'";  // no quotes in them
  const fs::path file = fs::temp_directory_path() / ("ozz-setup-" + std::to_string(getpid()));
  const int status = std::system((command + " >'" + file.string() + "' 2>&1").c_str());
  if (out != nullptr) *out = std::regex_replace(ReadFile(file), std::regex("\r"), "");
  fs::remove(file);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

Names FilesIn(const fs::path& folder) {
  Names names;
  std::error_code missing;  // none in a missing folder
  for (const auto& entry : fs::directory_iterator(folder, missing))
    names.insert(entry.path().filename());
  return names;
}

// A key's values as `reg query` lists them ("    Name    REG_SZ    data" lines); "" if no key.
std::string Registry(const std::string& key) {
  std::string out;
  return Shell({kWine, "reg", "query", key}, &out) == 0 ? out : "";
}

// Runs a Windows program to its end; an uninstaller's copy of itself in ~nsu*.tmp too.
int Wine(std::vector<std::string> words) {
  words.insert(words.begin(), kWine);
  const int status = Shell(words);
  EXPECT_TRUE(WaitUntil(
      [] {
        static const std::regex uninstaller("~nsu.*Un\\.exe");
        for (const auto& process : fs::directory_iterator("/proc"))
          if (std::regex_search(ReadFile(process.path() / "cmdline"), uninstaller)) return false;
        return true;
      },
      Milliseconds(60'000), Milliseconds(100)));
  return status;
}

Point WaitForPlace(const Program& program, Point expected) {
  auto place = [&] {
    const std::optional<Rect> client = program.ClientRect();
    return client ? Point{client->x, client->y} : Point{-99999, -99999};
  };
  WaitUntil([&] { return place() == expected; }, Milliseconds(5000));
  return place();
}

// Under Wine on a loaded machine the move loop now and then drops the window part-way: a drag
// that stops short is taken up again from where the window is, up to three times.
void DragAndDoubleClick(const XServer& server, Program& program, Point from, Point to) {
  Point place = WaitForPlace(program, from);
  for (int attempt = 0; attempt < 3 && place != to; ++attempt) {
    server.PressButtonAt(place + Point{57, 30});  // between the eyes
    server.MovePointerSmoothly(server.PointerPosition() + (to - place), 25, Milliseconds(10));
    WaitForPlace(program, to);
    server.ReleaseButton();
    place = WaitForPlace(program, to);
  }
  ASSERT_EQ(place, to);
  std::this_thread::sleep_for(Milliseconds(800));  // no double-click with the drag's press
  server.DoubleClick();
  ASSERT_TRUE(program.WaitForExit(Milliseconds(10'000))) << "still runs after a double-click";
}

TEST(Installer, InstallsForTheUserKeepsThePlaceAndUninstalls) {
  const fs::path prefix =
      fs::temp_directory_path() / ("ozz-setup-prefix-" + std::to_string(getpid()));
  setenv("WINEPREFIX", prefix.c_str(), 1);
  setenv("WINEDEBUG", "-all", 1);
  setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);  // no Linux menus
  unsetenv("DISPLAY");  // the harness gives the program its own
  // Wine's start takes seconds: one server, kept 30 s past its last process, serves the
  // installers and queries. The program gets a server of its own, on its display.
  const auto warm = [] { Shell({kWineserver, "-p30"}); };
  const auto cold = [] { Shell({kWineserver, "-k"}), Shell({kWineserver, "-w"}); };
  const std::shared_ptr<void> cleanup(nullptr, [&](void*) { cold(), fs::remove_all(prefix); });
  warm();
  ASSERT_EQ(Wine({"wineboot", "-i"}), 0);
  std::string user;
  for (const std::string& name : FilesIn(prefix / "drive_c/users"))
    user = name != "Public" ? name : user;
  const fs::path home = prefix / "drive_c/users" / user;
  const fs::path folder = home / "AppData/Local/Programs/Ozzlebeck";
  const fs::path shortcut =
      home / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Tavik's Ozzlebeck.lnk";
  const std::string dir = R"(C:\users\)" + user + R"(\AppData\Local\Programs\Ozzlebeck)";
  const std::string run_entry = "    Ozzlebeck    REG_SZ    \"" + dir + "\\ozzlebeck.exe\"\n";

  ASSERT_EQ(Wine({kSetup, "/S"}), 0);
  EXPECT_EQ(FilesIn(folder), kInstalled);
  EXPECT_NE(ReadFile(shortcut).find(dir + R"(\ozzlebeck.exe)"), std::string::npos);
  const std::string apps = Registry(kAppsKey);
  for (const std::string& value : std::vector<std::string>{
           "DisplayName    REG_SZ    Tavik's Ozzlebeck", "DisplayVersion    REG_SZ    " OZZ_VERSION,
           "Publisher    REG_SZ    The Ozzlebeck developers",
           "DisplayIcon    REG_SZ    " + dir + R"(\ozzlebeck.exe,0)",
           "UninstallString    REG_SZ    \"" + dir + R"(\uninstall.exe")",
           "QuietUninstallString    REG_SZ    \"" + dir + R"(\uninstall.exe" /S)",
           "InstallLocation    REG_SZ    " + dir, "NoModify    REG_DWORD    0x1",
           "NoRepair    REG_DWORD    0x1"})
    EXPECT_NE(apps.find("\n    " + value + "\n"), std::string::npos) << value << " in\n" << apps;
  std::smatch size;
  ASSERT_TRUE(
      std::regex_search(apps, size, std::regex("EstimatedSize    REG_DWORD    (0x[0-9a-f]+)")));
  std::uintmax_t bytes = 0;
  for (const std::string& name : kInstalled) bytes += fs::file_size(folder / name);
  EXPECT_NEAR(std::stoul(size[1], nullptr, 16), bytes / 1024.0, 1.0);  // in KB
  EXPECT_EQ(Registry(kRunKey).find(run_entry), std::string::npos) << "sign-in start is opt-in";

  XServer server({});
  const Program::Options installed{.command = ProgramCommand{{kWine}, folder / "ozzlebeck.exe"},
                                   .folder = folder};
  const Point place = FirstRunPlace(server) + Point{-187, 243};
  cold();
  {
    Program program(server, installed);
    // The window's icons as Wine hands them on (width, height, pixels): 32 px, and the small one.
    const auto icons = CardinalListProperty(server.display(), program.window(), "_NET_WM_ICON");
    ASSERT_EQ(icons.size(), 2 + 32 * 32 + 2 + 16 * 16u);
    EXPECT_EQ((std::vector<long>{icons[0], icons[1], icons[1026], icons[1027]}),
              (std::vector<long>{32, 32, 16, 16}));
    ASSERT_NO_FATAL_FAILURE(DragAndDoubleClick(server, program, FirstRunPlace(server), place));
  }
  const std::string settings = ReadFile(folder / "ozzlebeck.ini");
  EXPECT_EQ(IniValue(settings, "Tavik's Ozzlebeck", "Left"),
            std::to_string(place.x * kTwipsPerPixel));
  EXPECT_EQ(IniValue(settings, "Tavik's Ozzlebeck", "Top"),
            std::to_string(place.y * kTwipsPerPixel));

  // Installed again with the sign-in start: refused while the program runs, then done.
  {
    Program program(server, installed);
    EXPECT_EQ(Shell({kWine, kSetup, "/S", "/AUTOSTART"}), 2) << "installed over a running program";
    EXPECT_EQ(Registry(kRunKey).find(run_entry), std::string::npos);
  }
  warm();
  ASSERT_EQ(Wine({kSetup, "/S", "/AUTOSTART"}), 0);
  EXPECT_EQ(ReadFile(folder / "ozzlebeck.ini"), settings);
  EXPECT_NE(Registry(kRunKey).find(run_entry), std::string::npos);
  cold();
  {
    Program program(server, installed);
    EXPECT_EQ(WaitForPlace(program, place), place) << "the install over the last lost the place";
  }

  // Removed as Settings > Apps does it silently: the settings file alone stays.
  warm();
  ASSERT_EQ(Wine({dir + R"(\uninstall.exe)", "/S"}), 0);
  EXPECT_EQ(FilesIn(folder), Names{"ozzlebeck.ini"});
  EXPECT_EQ(ReadFile(folder / "ozzlebeck.ini"), settings);
  EXPECT_FALSE(fs::exists(shortcut));
  EXPECT_EQ(Registry(kAppsKey), "");
  EXPECT_EQ(Registry(kRunKey).find(run_entry), std::string::npos);

  // Into a folder with a blank in its name (/D= takes the rest of the line), then removed with
  // the settings, there and in the user's settings folder; the other folder's file stays.
  const fs::path other = prefix / "drive_c/users/Public/Dog House";
  const fs::path fallback = home / "AppData/Local/Ozzlebeck";
  ASSERT_EQ(Wine({kSetup, "/S", R"(/D=C:\users\Public\Dog)", "House"}), 0);
  EXPECT_EQ(FilesIn(other), kInstalled);
  EXPECT_NE(Registry(kAppsKey).find(R"(InstallLocation    REG_SZ    C:\users\Public\Dog House)"),
            std::string::npos);
  fs::create_directories(fallback);
  for (const fs::path& file : {other / "ozzlebeck.ini", fallback / "ozzlebeck.ini"})
    std::ofstream(file, std::ios::binary) << settings;
  ASSERT_EQ(Wine({R"(C:\users\Public\Dog House\uninstall.exe)", "/S", "/PURGE"}), 0);
  EXPECT_FALSE(fs::exists(other));
  EXPECT_FALSE(fs::exists(fallback));
  EXPECT_FALSE(fs::exists(shortcut));
  EXPECT_EQ(Registry(kAppsKey), "");
  EXPECT_EQ(FilesIn(folder), Names{"ozzlebeck.ini"});
}

// setup.exe's version information, and its checksum and winget manifest that name it.
TEST(Installer, CarriesItsVersionAndMatchesItsChecksumAndManifest) {
  const std::string bytes = ReadFile(kSetup);
  const std::size_t fixed = bytes.find("\xBD\x04\xEF\xFE");  // VS_FIXEDFILEINFO
  ASSERT_NE(fixed, std::string::npos);
  int version[3] = {};
  ASSERT_EQ(std::sscanf(OZZ_VERSION, "%d.%d.%d", &version[0], &version[1], &version[2]), 3);
  const std::string expected{char(version[1]), 0, char(version[0]), 0, 0, 0, char(version[2]), 0};
  EXPECT_EQ(bytes.substr(fixed + 8, 8), expected) << "file version";
  EXPECT_EQ(bytes.substr(fixed + 16, 8), expected) << "product version";

  std::string sum;
  ASSERT_EQ(Shell({"sha256sum", kSetup.string()}, &sum), 0);
  sum.resize(64);
  EXPECT_EQ(ReadFile(kSetup.string() + ".sha256"), sum + "  " + kSetup.filename().string() + "\n");
  const std::string manifest =
      ReadFile(kSetup.parent_path() / "winget/Ozzlebeck.Ozzlebeck.installer.yaml");
  for (char& c : sum) c = static_cast<char>(std::toupper(c));
  for (const std::string& line : std::vector<std::string>{
           "InstallerSha256: " + sum, "PackageVersion: \"" OZZ_VERSION "\"\n",
           "InstallerType: nullsoft\n", "Scope: user\n", "ProductCode: Ozzlebeck\n",
           "/" + kSetup.filename().string() + "\n"})
    EXPECT_NE(manifest.find(line), std::string::npos) << line;
}

}  // namespace
}  // namespace e2e

// A save that cannot be written says so: one line on stderr naming the file and the system's
// reason, exit status 1, and no folder made for it left behind. Each case saves in a child
// process (the status and the one-line rule last for a run) whose stderr is read back.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>

#include "commands/commands.h"
#include "platform/posix/process.h"
#include "platform/terminal_text.h"
#include "test_support.h"

namespace {

using ::PrintTo;

namespace fs = std::filesystem;

struct SaveOutcome {
  int status = -1;
  std::string err;
};

// Starts a program at `exe` with XDG_CONFIG_HOME set to `config` and saves a place, as a
// double-click does, in a child process.
SaveOutcome SaveIn(const std::string& exe, const std::string& config) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    dup2(fds[1], STDERR_FILENO);
    platform::posix::SetExitStatus(0);  // a failed save of an earlier test in this process
    close(fds[0]);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    headless::Reset();
    Commands::Reset();
    NameTheSettingsFor(exe);
    Commands::WriteProfileString(Commands::IniSection, "Top", "765", Commands::IniFile);
    Commands::WriteProfileString(Commands::IniSection, "Left", "1515", Commands::IniFile);
    std::fflush(nullptr);
    _exit(platform::posix::ExitStatus());
  }
  close(fds[1]);
  SaveOutcome outcome;
  char buffer[512];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
    outcome.err.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

struct FailedSaveCase {
  const char* name;
  // Makes the XDG_CONFIG_HOME of the case under `root`.
  std::string (*config)(const fs::path& root);
  const char* reason;  // empty: the save works
};

// The file beside the program is marked read-only, which sends the save to the user's own
// folder even for root.
class FailedSaveTest : public HeadlessTest, public testing::WithParamInterface<FailedSaveCase> {};

TEST_P(FailedSaveTest, SaysWhyOnceAndLeavesNoFolder) {
  TempDir dir;
  fs::create_directories(dir.path() / "games");
  const std::string exe = (dir.path() / "games" / "ozzlebeck").string();
  { std::ofstream beside(exe + ".ini"); }
  chmod((exe + ".ini").c_str(), 0444);
  const fs::path root = dir.path() / "config-root";
  fs::create_directories(root);
  const std::string config = GetParam().config(root);

  const SaveOutcome outcome = SaveIn(exe, config);
  const std::string own = config + "/ozzlebeck/ozzlebeck.ini";
  if (*GetParam().reason == '\0') {
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(ReadFile(own), "[Tavik's Ozzlebeck]\r\nTop=765\r\nLeft=1515\r\n");
    return;
  }
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "ozzlebeck: cannot save the place in " +
                             platform::TerminalQuoted(own, '"') + ": " + GetParam().reason + "\n");
  // Nothing made for the save is left: the root holds what the case put there, no more.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::recursive_directory_iterator(root)) ++entries;
  std::error_code longName;
  EXPECT_EQ(entries, fs::is_regular_file(config, longName) ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailedSaveTest,
    testing::Values(FailedSaveCase{"AWritableFolder",
                                   [](const fs::path& root) { return root.string(); }, ""},
                    FailedSaveCase{"ConfigHomeIsAFile",
                                   [](const fs::path& root) {
                                     std::ofstream((root / "file").string()) << "x";
                                     return (root / "file").string();
                                   },
                                   "Not a directory"},
                    // Twenty nested names of 230 bytes: the folders up to the system's limit can be
                    // made, the file cannot.
                    FailedSaveCase{"ConfigHomeLongerThanTheSystemAllows",
                                   [](const fs::path& root) {
                                     std::string path = root.string();
                                     for (int i = 0; i < 20; ++i)
                                       path += "/" + std::string(230, 'a' + i % 26);
                                     return path;
                                   },
                                   "File name too long"}),
    [](const testing::TestParamInfo<FailedSaveCase>& info) { return info.param.name; });

// Display names and file names reach the terminal with their control characters escaped.
TEST(TerminalQuotedTest, EscapesControlCharactersAndTheQuote) {
  EXPECT_EQ(platform::TerminalQuoted(":1\x1b[2J\a\r\n\t\"x\\\x7f\xc3\xa9", '"'),
            "\":1\\x1b[2J\\x07\\x0d\\n\\t\\\"x\\\\\\x7f\xc3\xa9\"");
}

}  // namespace

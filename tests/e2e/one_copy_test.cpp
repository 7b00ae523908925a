// One copy per display on X11, whatever the environment of each start: the rule lives in the X
// server, so runtime and temporary folders that cannot be used or belong to someone else, two
// names of one display, and starts whose environments differ all leave exactly one window. A
// copy killed outright leaves nothing behind that stops the next start. The Windows build keeps
// its own rule (a named mutex), which these cases do not concern: they are skipped under Wine.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fixture.h"

namespace e2e {
namespace {

// A folder of the test's own, with whatever it made inside, removed with the object.
class Scratch : public TemporaryFolder {
 public:
  // Another user the program may run as must reach the folders inside.
  Scratch() : TemporaryFolder("ozz-e2e-env") { chmod(path().c_str(), 0755); }

  // Everything anyone made inside, but for the folders the test made itself.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> found;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(path(), ignored))
      if (!entry.is_directory(ignored)) found.push_back(entry.path().string());
    return found;
  }

  // Makes `name` inside with `mode`; returns its path.
  std::string Folder(const std::string& name, mode_t mode) const {
    const fs::path folder = path() / name;
    fs::create_directories(folder);
    chmod(folder.c_str(), mode);
    return folder.string();
  }
};

struct EnvironmentCase : Named {
  // The environment of each start, in order: the first shows the window, the others must end.
  std::vector<Environment> (*starts)(const XServer& server, const Scratch& scratch);
  // Making a folder that belongs to another user, or running as one, takes root.
  bool needs_root = false;
  // Every start runs as the user nobody.
  bool as_nobody = false;
};

std::string AsText(const Environment& environment) {
  std::ostringstream text;
  for (const auto& [name, value] : environment) {
    if (value) {
      text << name << "=" << *value << " ";
    } else {
      text << "-u " << name << " ";
    }
  }
  return text.str();
}

// The same environment for all three starts.
std::vector<Environment> ThreeTimes(const Environment& run) { return {run, run, run}; }

const EnvironmentCase kEnvironmentCases[] = {
    // A runtime folder the program cannot write into (for root: one no one can write into).
    {"UnwritableRuntimeFolder",
     [](const XServer&, const Scratch& scratch) {
       return ThreeTimes({{"XDG_RUNTIME_DIR", scratch.Folder("run", 0500)}});
     }},
    {"ProcAsRuntimeFolder",
     [](const XServer&, const Scratch&) {
       return ThreeTimes({{"XDG_RUNTIME_DIR", "/proc"}});
     }},
    {"ProcAsTemporaryFolder",
     [](const XServer&, const Scratch&) {
       return ThreeTimes({{"XDG_RUNTIME_DIR", std::nullopt}, {"TMPDIR", "/proc"}});
     }},
    // The temporary folder already holds a folder in this user's name, made by someone else.
    {"ForeignFolderInTheTemporaryFolder",
     [](const XServer&, const Scratch& scratch) {
       const std::string tmp = scratch.Folder("tmp", 0755);
       const std::string foreign =
           scratch.Folder("tmp/ozzlebeck-" + std::to_string(getuid()), 0700);
       const User nobody = LookUpUser();
       if (chown(foreign.c_str(), nobody.uid, nobody.gid) != 0)
         throw std::runtime_error("chown failed");
       return ThreeTimes({{"XDG_RUNTIME_DIR", std::nullopt}, {"TMPDIR", tmp}});
     },
     true},
    // The same seen from the other side: the user nobody finds a folder in its name in the
    // temporary folder, made beforehand by another user (root) to switch its rule off.
    {"FolderInItsNameMadeByAnotherUser",
     [](const XServer&, const Scratch& scratch) {
       const std::string tmp = scratch.Folder("tmp", 0777);
       scratch.Folder("tmp/ozzlebeck-" + std::to_string(LookUpUser().uid), 0700);
       return ThreeTimes({{"XDG_RUNTIME_DIR", std::nullopt}, {"TMPDIR", tmp}});
     },
     true, true},
    // ":N", "unix:N" and "unix:N.0" name one server.
    {"NamesOfOneDisplay",
     [](const XServer& server, const Scratch&) {
       const std::string number = server.name().substr(1);
       return std::vector<Environment>{{{"DISPLAY", ":" + number}},
                                       {{"DISPLAY", "unix:" + number}},
                                       {{"DISPLAY", "unix:" + number + ".0"}}};
     }},
    {"RuntimeFolderSetThenUnset",
     [](const XServer&, const Scratch& scratch) {
       return std::vector<Environment>{{{"XDG_RUNTIME_DIR", scratch.Folder("run", 0700)}},
                                       {{"XDG_RUNTIME_DIR", std::nullopt}},
                                       {{"XDG_RUNTIME_DIR", scratch.Folder("other", 0700)}}};
     }},
    // The first copy runs with folders of its own, the next ones with none of them.
    {"EveryFolderDifferent",
     [](const XServer& server, const Scratch& scratch) {
       return std::vector<Environment>{{{"HOME", scratch.Folder("home", 0700)},
                                        {"TMPDIR", scratch.Folder("tmp", 0700)},
                                        {"XDG_RUNTIME_DIR", scratch.Folder("run", 0700)}},
                                       {{"HOME", std::nullopt},
                                        {"TMPDIR", std::nullopt},
                                        {"XDG_RUNTIME_DIR", std::nullopt},
                                        {"DISPLAY", "unix:" + server.name().substr(1)}}};
     }},
};

class OneCopyTest : public DesktopTest {
 protected:
  using DesktopTest::DesktopTest;
  void SetUp() override {
    if (UnderWine()) GTEST_SKIP() << "the X11 build's rule; the Windows build has its own";
  }

  // Starts another copy of `first`'s executable with `environment`, which must end with status
  // 0 while `first` runs on with the only window.
  void ExpectAnotherStartToEnd(Program& first, const Environment& environment,
                               const std::string& what) {
    Program& another =
        Start({.wait_for_window = false, .same_copy_as = &first, .environment = environment});
    ASSERT_TRUE(EndsWithStatusZero(another, Timeouts().second_copy))
        << what << " with " << AsText(environment) << "; windows: " << ProgramWindows().size();
    EXPECT_EQ(another.Output(), "") << what;
    EXPECT_EQ(ProgramWindows().size(), 1u) << what << " with " << AsText(environment);
    EXPECT_TRUE(StillRunning(first)) << what << ": the first copy ended";
  }
};

class EnvironmentTest : public OneCopyTest, public testing::WithParamInterface<EnvironmentCase> {
 protected:
  EnvironmentTest()
      : OneCopyTest({.user = GetParam().as_nobody ? std::optional(LookUpUser()) : std::nullopt}) {}
};

TEST_P(EnvironmentTest, LeavesExactlyOneWindow) {
  const EnvironmentCase& c = GetParam();
  if (c.needs_root && geteuid() != 0) GTEST_SKIP() << "making another user's folder takes root";
  const Scratch scratch;
  const std::vector<Environment> starts = c.starts(server(), scratch);
  Program& first = Start({.environment = starts.front()});
  for (std::size_t i = 1; i < starts.size(); ++i)
    ExpectAnotherStartToEnd(first, starts[i], "start " + std::to_string(i + 1));
  // The rule keeps nothing in the folders it was given.
  const std::vector<std::string> leftovers = scratch.Leftovers();
  EXPECT_TRUE(leftovers.empty()) << leftovers.size() << " files left, the first "
                                 << (leftovers.empty() ? "" : leftovers.front());
}

INSTANTIATE_TEST_SUITE_P(OneCopy, EnvironmentTest, testing::ValuesIn(kEnvironmentCases),
                         CaseName());

// A copy killed outright (SIGKILL: no chance to tidy up) stops no later start: the next one
// shows its window as soon as any first start does, and holds the rule in turn.
TEST_F(OneCopyTest, AfterTheCopyIsKilledTheNextStartShowsAtOnce) {
  Program& killed = Start();
  ASSERT_NE(killed.window(), None);
  ASSERT_EQ(kill(killed.pid(), SIGKILL), 0);
  ASSERT_TRUE(killed.WaitForExit(Milliseconds(5000)));
  ASSERT_TRUE(WaitUntil([&] { return ProgramWindows().empty(); }, Milliseconds(5000)));

  const auto begin = Clock::now();
  Program& next = Start({.window_timeout = Milliseconds(5000), .same_copy_as = &killed});
  const auto took = std::chrono::duration_cast<Milliseconds>(Clock::now() - begin);
  std::cout << "after a SIGKILL the next window showed in " << took.count() << " ms\n";
  RecordProperty("next_window_ms", std::to_string(took.count()));
  ExpectAnotherStartToEnd(next, {}, "a start after the restart");
}

}  // namespace
}  // namespace e2e

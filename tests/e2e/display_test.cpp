// Starting the X11 build where there is no display to show the window on: with DISPLAY unset or
// empty, or naming a display where no server runs, it says so in one line on stderr and ends
// with status 1; a server that accepts the connection but never answers (a stopped one) ends
// the start the same way within seconds, and, having taken nothing, stops no later start once
// the server runs again. Skipped under Wine, which handles its display its own way.
#include <signal.h>

#include "fixture.h"

namespace e2e {
namespace {

// A display number no server uses: neither its socket nor its lock file exists.
std::string FreeDisplayName() {
  for (int number = 297;; ++number) {
    const std::string n = std::to_string(number);
    if (!fs::exists("/tmp/.X11-unix/X" + n) && !fs::exists("/tmp/.X" + n + "-lock")) {
      return ":" + n;
    }
  }
}

class DisplayTest : public DesktopTest {
 protected:
  void SetUp() override {
    if (UnderWine()) GTEST_SKIP() << "the X11 build's start-up; Wine opens its display itself";
  }

  // Starts the program with `display` as DISPLAY (none: unset), through `launcher` when given,
  // its stdout going to a file of its own; waits for it to end.
  Program& StartWithDisplay(std::optional<std::string> display,
                            const std::vector<std::string>& launcher = {},
                            std::optional<std::string> authority = std::nullopt) {
    ProgramCommand command = ProgramCommand::FromEnvironment();
    command.launcher = launcher;
    Environment environment = {{"DISPLAY", std::move(display)}};
    if (authority) environment.push_back({"XAUTHORITY", std::move(authority)});
    Program& program = Start({.wait_for_window = false,
                              .command = command,
                              .environment = std::move(environment),
                              .standard_output = server().work_folder() / "program.stdout"});
    EXPECT_TRUE(program.WaitForExit(Milliseconds(10'000)))
        << "the program still runs 10 s after it started";
    return program;
  }
};

struct NoDisplayCase : Named {
  // DISPLAY, given the name of a display that runs; none: unset.
  std::optional<std::string> (*display)(const std::string& running);
  std::string (*message)(const std::optional<std::string>& display);
  std::optional<std::string> authority = std::nullopt;  // XAUTHORITY, when set
};

std::string NotSet(const std::optional<std::string>&) {
  return "ozzlebeck: cannot open display: DISPLAY is not set\n";
}

const NoDisplayCase kNoDisplayCases[] = {
    {"DisplayUnset", [](const std::string&) { return std::optional<std::string>(); }, NotSet},
    {"DisplayEmpty", [](const std::string&) { return std::optional<std::string>(""); }, NotSet},
    {"NoServerOnTheDisplay",
     [](const std::string&) { return std::optional<std::string>(FreeDisplayName()); },
     [](const std::optional<std::string>& display) {
       return "ozzlebeck: cannot open display \"" + display.value_or("") + "\"\n";
     }},
    // The terminal gets escapes, not the characters that would ring it or restyle it.
    {"ControlCharactersInTheName",
     [](const std::string&) { return std::optional<std::string>(":9\x1b[31m\a\r"); },
     [](const std::optional<std::string>&) {
       return std::string("ozzlebeck: cannot open display \":9\\x1b[31m\\x07\\x0d\"\n");
     }},
    // Xlib reads the authority file to its end before it speaks to a display that runs.
    {"AuthorityFileThatNeverEnds",
     [](const std::string& running) { return std::optional<std::string>(running); },
     [](const std::optional<std::string>&) {
       return std::string(
           "ozzlebeck: cannot read the X authority file \"/dev/zero\": not a regular file\n");
     },
     "/dev/zero"},
};

class NoDisplayTest : public DisplayTest, public testing::WithParamInterface<NoDisplayCase> {};

TEST_P(NoDisplayTest, SaysSoOnStderrAndEndsWithStatusOne) {
  const std::optional<std::string> display = GetParam().display(server().name());
  Program& program = StartWithDisplay(display, {}, GetParam().authority);
  EXPECT_EQ(program.ExitStatus(), 1);
  EXPECT_EQ(program.Output(), GetParam().message(display)) << "on stderr";
  EXPECT_EQ(program.StandardOutput(), "") << "on stdout";
  EXPECT_TRUE(server().FindWindowsByClass("ozzlebeck").empty()) << "a window was made";
}

INSTANTIATE_TEST_SUITE_P(Display, NoDisplayTest, testing::ValuesIn(kNoDisplayCases), CaseName());

struct StoppedServerCase : Named {
  std::vector<std::string> launcher;  // what starts the program
};

const StoppedServerCase kStoppedServerCases[] = {
    {"StartedPlainly", {}},
    // Whatever starts the program may hand it a blocked and ignored SIGALRM.
    {"AlarmSignalBlockedAndIgnored",
     {"perl", "-e",
      "use POSIX; $SIG{ALRM} = 'IGNORE'; "
      "sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGALRM)) or die; exec @ARGV or die"}},
};

class StoppedServerTest : public DisplayTest,
                          public testing::WithParamInterface<StoppedServerCase> {};

// A stopped X server still accepts connections, and never answers them.
TEST_P(StoppedServerTest, EndsTheStartWithinSeconds) {
  ASSERT_EQ(kill(server().pid(), SIGSTOP), 0);
  const auto begin = Clock::now();
  Program& program = StartWithDisplay(server().name(), GetParam().launcher);
  const auto took = std::chrono::duration_cast<Milliseconds>(Clock::now() - begin);
  kill(server().pid(), SIGCONT);
  std::cout << "a start on a stopped server ended after " << took.count() << " ms\n";
  RecordProperty("stopped_server_end_ms", std::to_string(took.count()));
  ASSERT_TRUE(program.HasExited());

  EXPECT_EQ(program.ExitStatus(), 1);
  EXPECT_EQ(program.Output(), "ozzlebeck: display \"" + server().name() + "\" does not answer\n")
      << "on stderr";
  EXPECT_EQ(program.StandardOutput(), "") << "on stdout";
  // It waited for an answer a while before giving up: a slow server gets its chance.
  EXPECT_GE(took, Milliseconds(2000));

  // The server runs again: the next start shows its window.
  program.Kill();
  EXPECT_NE(Start({.window_timeout = Milliseconds(5000)}).window(), None);
}

INSTANTIATE_TEST_SUITE_P(Display, StoppedServerTest, testing::ValuesIn(kStoppedServerCases),
                         CaseName());

}  // namespace
}  // namespace e2e

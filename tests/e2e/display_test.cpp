// Starting the X11 build where there is no display to show the window on: with DISPLAY unset or
// empty, or naming a display where no server runs, it says so in one line on stderr and ends
// with status 1; a server that accepts the connection but never answers (a stopped one) ends
// the start the same way within seconds, and, having taken nothing, stops no later start once
// the server runs again. Skipped under Wine, which handles its display its own way.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"
#include "reliability_support.h"
#include "watcher_view.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr Milliseconds kEndTimeout{10'000};

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A display number no server uses: neither its socket nor its lock file exists.
std::string FreeDisplayName() {
  for (int number = 297;; ++number) {
    const std::string n = std::to_string(number);
    if (!fs::exists("/tmp/.X11-unix/X" + n) && !fs::exists("/tmp/.X" + n + "-lock")) {
      return ":" + n;
    }
  }
}

class DisplayTest : public testing::Test {
 protected:
  void SetUp() override {
    if (UnderWine()) GTEST_SKIP() << "the X11 build's start-up; Wine opens its display itself";
    server_ = std::make_unique<XServer>();
  }
  void TearDown() override {
    program_.reset();
    server_.reset();
  }

  // Starts the program with `display` as DISPLAY (none: unset), through `launcher` when given,
  // its stderr alone going to the harness's output and its stdout to a file of its own; waits
  // for it to end.
  void StartWithDisplay(std::optional<std::string> display,
                        const std::vector<std::string>& launcher = {}) {
    stdout_path_ = server_->work_folder() / "program.stdout";
    ProgramCommand command = ProgramCommand::FromEnvironment();
    command.launcher = {"sh", "-c", "exec \"$@\" 2>&1 >\"$OZZ_STDOUT\"", "sh"};
    command.launcher.insert(command.launcher.end(), launcher.begin(), launcher.end());
    program_ = std::make_unique<Program>(
        *server_, Program::Options{.wait_for_window = false,
                                   .command = command,
                                   .environment = {{"DISPLAY", std::move(display)},
                                                   {"OZZ_STDOUT", stdout_path_.string()}}});
    ASSERT_TRUE(program_->WaitForExit(kEndTimeout))
        << "the program still runs " << kEndTimeout.count() << " ms after it started";
  }

  std::unique_ptr<XServer> server_;
  std::unique_ptr<Program> program_;
  fs::path stdout_path_;
};

struct NoDisplayCase {
  const char* name;
  std::optional<std::string> (*display)();  // DISPLAY; none: unset
  std::string (*message)(const std::optional<std::string>& display);
};

void PrintTo(const NoDisplayCase& c, std::ostream* out) { *out << c.name; }

std::string NotSet(const std::optional<std::string>&) {
  return "ozzlebeck: cannot open display: DISPLAY is not set\n";
}

const NoDisplayCase kNoDisplayCases[] = {
    {"DisplayUnset", [] { return std::optional<std::string>(); }, NotSet},
    {"DisplayEmpty", [] { return std::optional<std::string>(""); }, NotSet},
    {"NoServerOnTheDisplay", [] { return std::optional<std::string>(FreeDisplayName()); },
     [](const std::optional<std::string>& display) {
       return "ozzlebeck: cannot open display \"" + display.value_or("") + "\"\n";
     }},
};

class NoDisplayTest : public DisplayTest, public testing::WithParamInterface<NoDisplayCase> {};

TEST_P(NoDisplayTest, SaysSoOnStderrAndEndsWithStatusOne) {
  const std::optional<std::string> display = GetParam().display();
  ASSERT_NO_FATAL_FAILURE(StartWithDisplay(display));
  EXPECT_EQ(program_->ExitStatus(), 1);
  EXPECT_EQ(program_->Output(), GetParam().message(display)) << "on stderr";
  EXPECT_EQ(ReadWhole(stdout_path_), "") << "on stdout";
  EXPECT_TRUE(server_->FindWindowsByClass("ozzlebeck").empty()) << "a window was made";
}

INSTANTIATE_TEST_SUITE_P(Display, NoDisplayTest, testing::ValuesIn(kNoDisplayCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct StoppedServerCase {
  const char* name;
  std::vector<std::string> launcher;  // what starts the program
};

void PrintTo(const StoppedServerCase& c, std::ostream* out) { *out << c.name; }

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
  const std::optional<pid_t> xvfb = reliability::XvfbPid(*server_);
  ASSERT_TRUE(xvfb.has_value()) << "cannot find the Xvfb process";
  ASSERT_EQ(kill(*xvfb, SIGSTOP), 0);
  const auto begin = Clock::now();
  StartWithDisplay(server_->name(), GetParam().launcher);
  const auto took = std::chrono::duration_cast<Milliseconds>(Clock::now() - begin);
  kill(*xvfb, SIGCONT);
  std::cout << "a start on a stopped server ended after " << took.count() << " ms\n";
  RecordProperty("stopped_server_end_ms", std::to_string(took.count()));
  if (HasFatalFailure()) return;

  EXPECT_EQ(program_->ExitStatus(), 1);
  EXPECT_EQ(program_->Output(), "ozzlebeck: display \"" + server_->name() + "\" does not answer\n")
      << "on stderr";
  EXPECT_EQ(ReadWhole(stdout_path_), "") << "on stdout";
  // It waited for an answer a while before giving up: a slow server gets its chance.
  EXPECT_GE(took, Milliseconds(2000));

  // The server runs again: the next start shows its window.
  program_.reset();
  Program next(*server_, {.window_timeout = Milliseconds(5000)});
  EXPECT_NE(next.window(), None);
}

INSTANTIATE_TEST_SUITE_P(Display, StoppedServerTest, testing::ValuesIn(kStoppedServerCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e

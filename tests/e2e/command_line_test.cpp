// The command line of the Linux build on a real X server: --help and --version answer on
// standard output and end with 0, anything else is refused on standard error with 2, and none of
// them makes a window, even where the same program without arguments shows one at once. The
// Windows build (under Wine) ignores its arguments and shows the dog. (Xlib comes with harness.h,
// after gtest: its macros None and Bool would break gtest.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "watcher_view.h"

extern char** environ;

namespace e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A finished run: its exit status and what it wrote to each stream.
struct Finished {
  std::optional<int> status;  // nothing when it was still running at the deadline (then killed)
  std::string out;
  std::string err;
};

// How the program's environment and standard output are set up.
struct Setting {
  enum DisplayKind { kServer, kUnset, kNoServer } display = kServer;
  bool full_output = false;  // standard output on /dev/full: every write fails
};

// Runs `executable` with `arguments`, collects both streams apart and waits up to `timeout`.
Finished RunToTheEnd(const fs::path& executable, const std::vector<std::string>& arguments,
                     const std::string& display, Setting setting, Milliseconds timeout) {
  std::vector<std::string> words{executable.string()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "DISPLAY=", 8) != 0) environment.emplace_back(*entry);
  }
  // Display 197 with no server behind it (the harness's servers take free numbers from 0 up).
  if (setting.display == Setting::kServer) environment.push_back("DISPLAY=" + display);
  if (setting.display == Setting::kNoServer) environment.push_back("DISPLAY=:197");
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  std::array<int, 2> out{};
  std::array<int, 2> err{};
  if (pipe2(out.data(), O_CLOEXEC) != 0 || pipe2(err.data(), O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const int full = setting.full_output ? open("/dev/full", O_WRONLY | O_CLOEXEC) : -1;
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    dup2(full >= 0 ? full : out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  if (full >= 0) close(full);
  if (pid < 0) throw std::runtime_error("fork failed");

  Finished run;
  std::array<pollfd, 2> streams{{{out[0], POLLIN, 0}, {err[0], POLLIN, 0}}};
  std::array<std::string*, 2> texts{&run.out, &run.err};
  const auto deadline = Clock::now() + timeout;
  int open_streams = 2;
  while (open_streams > 0 && Clock::now() < deadline) {
    if (poll(streams.data(), streams.size(), 20) <= 0) continue;
    for (std::size_t i = 0; i < streams.size(); ++i) {
      if (streams[i].fd < 0 || streams[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(streams[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        texts[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(streams[i].fd);
        streams[i].fd = -1;
        --open_streams;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(Milliseconds(5));
  }
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(-pid, SIGKILL);
    waitpid(pid, &status, 0);
  } else {
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  for (const pollfd& stream : streams) {
    if (stream.fd >= 0) close(stream.fd);
  }
  return run;
}

// Every window created on a server from the moment it is made, by any client: a program that
// maps a window and ends at once is still caught.
class WindowCreationWatch {
 public:
  explicit WindowCreationWatch(const XServer& server)
      : display_(XOpenDisplay(server.name().c_str())) {
    if (display_ == nullptr) throw std::runtime_error("cannot connect to " + server.name());
    XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
    XSync(display_, False);
  }
  ~WindowCreationWatch() { XCloseDisplay(display_); }
  WindowCreationWatch(const WindowCreationWatch&) = delete;
  WindowCreationWatch& operator=(const WindowCreationWatch&) = delete;

  int Created() {
    XSync(display_, False);
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == CreateNotify) ++created_;
    }
    return created_;
  }

 private:
  Display* display_;
  int created_ = 0;
};

struct EndingCase {
  const char* name;
  std::vector<std::string> arguments;
  Setting setting;
  int status;
  enum Stream { kNone, kOut, kErr } stream;  // the one stream written to
  const char* starts_with;                   // what that stream starts with
};

void PrintTo(const EndingCase& c, std::ostream* out) { *out << c.name; }

const std::string kVersionLine = std::string("ozzlebeck (Tavik's Ozzlebeck) ") + OZZ_VERSION + "\n";
const char* const kUnknown = "ozzlebeck: unknown option '--frobnicate'; see 'ozzlebeck --help'\n";

const EndingCase kEndingCases[] = {
    {"Help", {"--help"}, {}, 0, EndingCase::kOut, "Usage: ozzlebeck [--help | --version]\n"},
    {"Version", {"--version"}, {}, 0, EndingCase::kOut, kVersionLine.c_str()},
    {"UnknownOption", {"--frobnicate"}, {}, 2, EndingCase::kErr, kUnknown},
    {"UnknownAmongKnown", {"--help", "--frobnicate"}, {}, 2, EndingCase::kErr, kUnknown},
    {"Word",
     {"dog"},
     {},
     2,
     EndingCase::kErr,
     "ozzlebeck: unexpected argument 'dog'; see 'ozzlebeck --help'\n"},
    // The command line is answered before any display is needed or opened.
    {"HelpWithoutDisplay",
     {"--help"},
     {.display = Setting::kUnset},
     0,
     EndingCase::kOut,
     "Usage: ozzlebeck [--help | --version]\n"},
    {"VersionWithNoServer",
     {"--version"},
     {.display = Setting::kNoServer},
     0,
     EndingCase::kOut,
     kVersionLine.c_str()},
    {"UnknownWithNoServer",
     {"--frobnicate"},
     {.display = Setting::kNoServer},
     2,
     EndingCase::kErr,
     kUnknown},
    // A version that cannot be written is a failure, and says so.
    {"VersionOnFullOutput",
     {"--version"},
     {.full_output = true},
     1,
     EndingCase::kErr,
     "ozzlebeck: cannot write to standard output\n"},
};

class CommandLineTest : public testing::TestWithParam<EndingCase> {
 protected:
  void SetUp() override {
    if (UnderWine()) GTEST_SKIP() << "the Windows build takes no arguments";
  }
};

// Each argument list ends the program at once with its status, writes one stream only, and
// makes no window on a server where the program without arguments shows one.
TEST_P(CommandLineTest, EndsAtOnceWithoutAWindow) {
  const EndingCase& c = GetParam();
  XServer server;
  WindowCreationWatch watch(server);
  const fs::path executable = ProgramCommand::FromEnvironment().executable;

  const Finished run =
      RunToTheEnd(executable, c.arguments, server.name(), c.setting, Milliseconds(10'000));
  ASSERT_TRUE(run.status.has_value()) << "still running after 10 s";
  EXPECT_EQ(*run.status, c.status) << "stderr: " << run.err;
  const std::string& written = c.stream == EndingCase::kOut ? run.out : run.err;
  const std::string& silent = c.stream == EndingCase::kOut ? run.err : run.out;
  EXPECT_TRUE(written.starts_with(c.starts_with)) << "wrote:\n" << written;
  EXPECT_EQ(silent, "");
  if (c.stream == EndingCase::kErr) {
    EXPECT_EQ(written.find('\n'), written.size() - 1) << "more than one line:\n" << written;
  }
  EXPECT_EQ(watch.Created(), 0) << "the program made a window";

  // The control: the same program, on the same server, without arguments.
  if (c.setting.display != Setting::kServer) return;
  Program toy(server);
  EXPECT_GT(watch.Created(), 0);
  EXPECT_FALSE(toy.HasExited());
  EXPECT_EQ(toy.Output(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandLineTest, testing::ValuesIn(kEndingCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The Windows build is a GUI program that ignores its command line: the dog shows.
TEST(WindowsCommandLineTest, ArgumentsAreIgnored) {
  if (!UnderWine()) GTEST_SKIP() << "the Windows build only";
  XServer server;
  Program toy(server, {.arguments = {"--frobnicate", "--help"}});
  EXPECT_NE(toy.window(), static_cast<Window>(None));
  EXPECT_FALSE(toy.HasExited());
}

}  // namespace
}  // namespace e2e

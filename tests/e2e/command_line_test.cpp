// The command line of the Linux build on a real X server: --help and --version answer on
// standard output and end with 0, anything else is refused on standard error with 2, and none of
// them makes a window, even where the same program without arguments shows one at once. The
// Windows build (under Wine) ignores its arguments and shows the dog.

#include "fixture.h"

namespace e2e {
namespace {

// How the program's environment and standard output are set up.
struct Setting {
  enum DisplayKind { kServer, kUnset, kNoServer } display = kServer;
  bool full_output = false;  // standard output on /dev/full: every write fails
};

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

struct EndingCase : Named {
  std::vector<std::string> arguments;
  Setting setting;
  int status;
  enum Stream { kNone, kOut, kErr } stream;  // the one stream written to
  std::string starts_with;                   // what that stream starts with
};
using enum EndingCase::Stream;

const std::string kVersion = std::string("ozzlebeck (Tavik's Ozzlebeck) ") + OZZ_VERSION + "\n";
const std::string kUsage = "Usage: ozzlebeck [--help | --version]\n";
const std::string kUnknown = "ozzlebeck: unknown option '--frobnicate'; see 'ozzlebeck --help'\n";
const std::string kWord = "ozzlebeck: unexpected argument 'dog'; see 'ozzlebeck --help'\n";
const std::string kCannotWrite = "ozzlebeck: cannot write to standard output\n";

// One case a line, like a table.
// clang-format off
const EndingCase kEndingCases[] = {
    {"Help", {"--help"}, {}, 0, kOut, kUsage},
    {"Version", {"--version"}, {}, 0, kOut, kVersion},
    {"UnknownOption", {"--frobnicate"}, {}, 2, kErr, kUnknown},
    {"UnknownAmongKnown", {"--help", "--frobnicate"}, {}, 2, kErr, kUnknown},
    {"Word", {"dog"}, {}, 2, kErr, kWord},
    // The command line is answered before any display is needed or opened.
    {"HelpWithoutDisplay", {"--help"}, {.display = Setting::kUnset}, 0, kOut, kUsage},
    {"VersionWithNoServer", {"--version"}, {.display = Setting::kNoServer}, 0, kOut, kVersion},
    {"UnknownWithNoServer", {"--frobnicate"}, {.display = Setting::kNoServer}, 2, kErr, kUnknown},
    // A version that cannot be written is a failure, and says so.
    {"VersionOnFullOutput", {"--version"}, {.full_output = true}, 1, kErr, kCannotWrite},
};
// clang-format on

class CommandLineTest : public DesktopTestWithParam<EndingCase> {
 protected:
  void SetUp() override {
    if (UnderWine()) GTEST_SKIP() << "the Windows build takes no arguments";
  }
};

// Each argument list ends the program at once with its status, writes one stream only, and
// makes no window on a server where the program without arguments shows one.
TEST_P(CommandLineTest, EndsAtOnceWithoutAWindow) {
  const EndingCase& c = GetParam();
  WindowCreationWatch watch(server());
  // Display 197 with no server behind it (the harness's servers take free numbers from 0 up).
  const std::optional<std::string> display = c.setting.display == Setting::kServer ? server().name()
                                             : c.setting.display == Setting::kNoServer
                                                 ? std::optional<std::string>(":197")
                                                 : std::nullopt;
  Program& run = Start(
      {.arguments = c.arguments,
       .wait_for_window = false,
       .environment = {{"DISPLAY", display}},
       .standard_output = c.setting.full_output ? "/dev/full" : server().work_folder() / "stdout"});
  ASSERT_TRUE(run.WaitForExit(Milliseconds(10'000))) << "still running after 10 s";
  EXPECT_EQ(run.ExitStatus(), c.status) << "stderr: " << run.Output();
  const std::string out = c.setting.full_output ? "" : run.StandardOutput();
  const std::string err = run.Output();
  const std::string& written = c.stream == kOut ? out : err;
  const std::string& silent = c.stream == kOut ? err : out;
  EXPECT_TRUE(written.starts_with(c.starts_with)) << "wrote:\n" << written;
  EXPECT_EQ(silent, "");
  if (c.stream == kErr) {
    EXPECT_EQ(written.find('\n'), written.size() - 1) << "more than one line:\n" << written;
  }
  EXPECT_EQ(watch.Created(), 0) << "the program made a window";

  // The control: the same program, on the same server, without arguments.
  if (c.setting.display != Setting::kServer) return;
  Program& toy = Start();
  EXPECT_GT(watch.Created(), 0);
  EXPECT_TRUE(StillRunning(toy));
  EXPECT_EQ(toy.Output(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandLineTest, testing::ValuesIn(kEndingCases), CaseName());

// The Windows build is a GUI program that ignores its command line: the dog shows.
using WindowsCommandLineTest = DesktopTest;

TEST_F(WindowsCommandLineTest, ArgumentsAreIgnored) {
  if (!UnderWine()) GTEST_SKIP() << "the Windows build only";
  Program& toy = Start({.arguments = {"--frobnicate", "--help"}});
  EXPECT_NE(toy.window(), static_cast<Window>(None));
  EXPECT_TRUE(StillRunning(toy));
}

}  // namespace
}  // namespace e2e

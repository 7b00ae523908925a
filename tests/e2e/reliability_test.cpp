// Reliability on a real X server: the program ends by itself, at once and without spinning, when
// its X server goes away, and no settings file, however broken, keeps it from showing its window
// on the screen, at the place the file's readable part gives or else at the first-run place.
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string_view>

#include "fixture.h"
#include "reliability_support.h"

namespace e2e {
namespace {

using namespace std::string_literals;

// ---- The X server goes away -----------------------------------------------------------------

// Once the server is gone the program must end within a second...
constexpr Milliseconds kExitLimit{1000};
constexpr Milliseconds kExitWait{1500};
// ...having used next to no processor time on the way: a program that spins on a dead
// connection until it notices burns all of that second.
constexpr Milliseconds kCpuLimit{100};

struct Signal : Named {
  int number;
};

class XServerLossTest : public DesktopTestWithParam<std::tuple<WindowManager, Signal>> {
 protected:
  XServerLossTest() : DesktopTestWithParam({.window_manager = std::get<0>(GetParam())}) {}

  // Outlives the server: the fixture closes its own connection to the dead server at the end.
  const reliability::SurviveServerLoss survive_;
};

TEST_P(XServerLossTest, ProgramEndsWithinASecondWithoutSpinning) {
  if (UnderWine()) GTEST_SKIP() << "under Wine the loss of the X server is Wine's to handle";
  const Signal signal = std::get<1>(GetParam());
  Program& program = Start();
  survive_.Watch(server().display());

  // The eyes are being drawn and the pointer queried when the server goes.
  server().MovePointerSmoothly({0, 0}, 5, Milliseconds(20));
  const std::optional<reliability::ProcessStat> before = reliability::ReadStat(program.pid());
  ASSERT_TRUE(before && before->state != 'Z') << "the program is not running";

  const auto killed_at = Clock::now();
  ASSERT_EQ(kill(server().pid(), signal.number), 0);
  // Its last statistics are read while it is a zombie, before the harness reaps it.
  reliability::ProcessStat last = *before;
  std::optional<Clock::time_point> ended_at;
  e2e::WaitUntil(
      [&] {
        const std::optional<reliability::ProcessStat> now = reliability::ReadStat(program.pid());
        if (now) last = *now;
        if (!now || now->state == 'Z') ended_at = Clock::now();
        return ended_at.has_value();
      },
      kExitWait, Milliseconds(1));
  const Milliseconds cpu = reliability::CpuTime(last.cpu_ticks - before->cpu_ticks);
  ASSERT_TRUE(program.WaitForExit(kExitWait))
      << "the program still runs " << kExitWait.count() << " ms after its X server went away ("
      << signal.name << "); it used " << cpu.count()
      << " ms of processor time since\n---- program output ----\n"
      << program.Output();

  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
      ended_at.value_or(Clock::now()) - killed_at);
  std::cout << "the program ended " << took.count() / 1000.0 << " ms after its X server, using "
            << cpu.count() << " ms of processor time; exit status "
            << program.ExitStatus().value_or(-1) << "\n";
  RecordProperty("exit_microseconds", static_cast<int>(took.count()));
  RecordProperty("cpu_milliseconds", static_cast<int>(cpu.count()));
  EXPECT_LE(took, kExitLimit);
  EXPECT_LE(cpu, kCpuLimit) << "processor time used between the server's end and the program's";
}

INSTANTIATE_TEST_SUITE_P(Reliability, XServerLossTest,
                         testing::Combine(BothWindowManagers(),
                                          testing::Values(Signal{"Killed", SIGKILL},
                                                          Signal{"Terminated", SIGTERM})),
                         CaseName());

// ---- Bad settings files ---------------------------------------------------------------------

const std::string kHeader = "[Tavik's Ozzlebeck]\n";
// Top 100 px, Left 200 px.
const std::string kPlaceLines = "Top=1500\nLeft=3000\n";
constexpr Point kPlace{200, 100};

// What a case's file does to the program's place.
enum class Outcome {
  kPlace,     // opens at `place`
  kFirstRun,  // opens at the top edge, centred
  kOnScreen,  // opens anywhere, as long as it is wholly on the screen
};

struct BadSettings : Named {
  std::string (*content)();
  Outcome outcome;
  Point place{};
  // Done to the settings file's path between the copy and the start, when set.
  void (*prepare)(const fs::path& settings) = nullptr;
  // Set for cases the Windows build under Wine does not hold to, with the reason.
  const char* not_under_wine = nullptr;
  // Run as an unprivileged user, whom file permissions bind (root reads every file).
  bool unprivileged = false;
};

// 100 MB of short junk lines inside the section, the place after them: the reader must go
// through all of it. Built from one block, copied over and over, to cost well under a second.
std::string VeryLargeFile() {
  constexpr std::size_t kSize = 100'000'000;
  std::string block;
  for (int i = 0; block.size() < (1u << 20); ++i) {
    block += "junk line " + std::to_string(i) + " = nothing to see here, [not a header] ;;;\n";
  }
  std::string file;
  file.reserve(kSize + kHeader.size() + kPlaceLines.size());
  file += kHeader;
  while (file.size() + block.size() <= kSize) file += block;
  file.append(kSize - file.size() - 1, 'x').append("\n").append(kPlaceLines);
  return file;
}

// Random bytes from a fixed seed; the first is never the start of a byte-order mark.
std::string RandomBytes(std::size_t size) {
  std::mt19937 random(20240607);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(byte(random));
  bytes[0] = 'B';
  return bytes;
}

std::string Utf16Le(std::string_view text) {
  std::string result = "\xFF\xFE";
  for (char c : text) result += {c, '\0'};
  return result;
}

void MakeFolder(const fs::path& settings) { fs::create_directory(settings); }
void WriteUnreadable(const fs::path& settings) {
  std::ofstream(settings) << kHeader << kPlaceLines;
  fs::permissions(settings, fs::perms::none);
}

const BadSettings kBadSettings[] = {
    {"EmptyFile", [] { return ""s; }, Outcome::kFirstRun},
    {"VeryLargeFile", VeryLargeFile, Outcome::kPlace, kPlace},
    {"BinaryJunk", [] { return RandomBytes(1 << 20); }, Outcome::kFirstRun},
    {"BinaryJunkBeforeTheSection",
     [] { return RandomBytes(1 << 20) + "\n" + kHeader + kPlaceLines; }, Outcome::kPlace, kPlace},
    // Names and values end at a NUL byte, as C strings do.
    {"NulBytesEndNamesAndValues",
     [] { return "[Tavik's Ozzlebeck\0 junk]\nTop\0 junk=1500\nLeft=3000\0 12345\n"s; },
     Outcome::kPlace, kPlace},
    {"NulByteInTheSectionName", [] { return "[Tavik's\0 Ozzlebeck]\n"s + kPlaceLines; },
     Outcome::kFirstRun},
    {"OneMegabyteLine",
     [] { return kHeader + "Junk=" + std::string(1 << 20, 'j') + "\n" + kPlaceLines; },
     Outcome::kPlace, kPlace},
    // Top 1935 twips: 129 px; no Left, which reads as 0.
    {"NoFinalNewline", [] { return "[Tavik's Ozzlebeck]\nTop=1935"s; }, Outcome::kPlace, {0, 129}},
    {"RepeatedKey",
     [] { return kHeader + "Top=300\nLeft=600\nTop=9000\nLeft=7500\n"; },
     Outcome::kPlace,
     {40, 20}},
    // Only the first section of the name counts: its Top, and no Left.
    {"RepeatedSection",
     [] { return kHeader + "Top=300\n" + kHeader + "Top=9000\nLeft=7500\n"; },
     Outcome::kPlace,
     {0, 20}},
    {"FolderInsteadOfTheFile", nullptr, Outcome::kFirstRun, {}, MakeFolder},
    {"UnreadableFile", nullptr, Outcome::kFirstRun, {}, WriteUnreadable, nullptr, true},
    {"Utf16File", [] { return Utf16Le("[Tavik's Ozzlebeck]\r\nTop=1500\r\nLeft=3000\r\n"); },
     Outcome::kPlace, kPlace},
    {"Utf8ByteOrderMark", [] { return "\xEF\xBB\xBF" + kHeader + kPlaceLines; }, Outcome::kPlace,
     kPlace},
    {"CrLfLineEnds", [] { return "[Tavik's Ozzlebeck]\r\nTop=1500\r\nLeft=3000\r\n"s; },
     Outcome::kPlace, kPlace},
    {"CrLineEnds", [] { return "[Tavik's Ozzlebeck]\rTop=1500\rLeft=3000\r"s; }, Outcome::kPlace,
     kPlace},
    {"QuotedValues", [] { return kHeader + "Top=\"1500\"\nLeft='3000'\n"; }, Outcome::kPlace,
     kPlace},
    // Unmatched quotes stay, and a value starting with one is no number: 0.
    {"UnmatchedQuotes",
     [] { return kHeader + "Top=\"1500'\nLeft='3000\n"; },
     Outcome::kPlace,
     {0, 0}},
    // A place wholly off the screen (a monitor that is gone) gives the first-run place.
    {"PlaceOffTheScreen", [] { return kHeader + "Top=1500\nLeft=150000\n"; }, Outcome::kFirstRun},
    // Numbers no window position can hold: beyond a double, and beyond a pixel coordinate.
    {"NumbersOutOfRange", [] { return kHeader + "Top=1E400\nLeft=99999999999999\n"; },
     Outcome::kOnScreen},
};

class BadSettingsTest : public DesktopTestWithParam<BadSettings> {
 protected:
  // Starts the program with the case's settings file beside it. A case that must do more than
  // write a file gets a copy first, from a run that starts nothing, then the program is started
  // on that same copy.
  Program& StartWith(const BadSettings& settings) {
    if (settings.prepare == nullptr) return Start({.settings = content_});
    ProgramCommand copy_only = ProgramCommand::FromEnvironment();
    copy_only.launcher = {"true"};
    Program& copy = Start({.wait_for_window = false, .command = copy_only});
    if (!copy.WaitForExit(Milliseconds(5000))) throw std::runtime_error("no copy was made");
    settings.prepare(copy.SettingsPath());
    return Start({.same_copy_as = &copy,
                  .user = settings.unprivileged ? std::optional(LookUpUser()) : std::nullopt});
  }

  std::string content_;
};

TEST_P(BadSettingsTest, ProgramStillShowsItsWindowOnScreen) {
  const BadSettings& settings = GetParam();
  if (settings.not_under_wine != nullptr && UnderWine()) GTEST_SKIP() << settings.not_under_wine;
  if (settings.unprivileged && UnderWine() && geteuid() == 0) {
    GTEST_SKIP() << "the Wine prefix is root's: Wine runs in it as root only, and root reads a "
                    "file whatever its permissions";
  }
  if (settings.content != nullptr) content_ = settings.content();

  Program* started = nullptr;
  try {
    started = &StartWith(settings);
  } catch (const std::exception& error) {
    FAIL() << "the program did not show its window: " << error.what();
  }
  Program& program = *started;
  const Window window = program.window();
  ASSERT_NE(window, static_cast<Window>(None));
  if (settings.unprivileged) {
    std::ifstream status("/proc/" + std::to_string(program.pid()) + "/status");
    std::string line;
    while (std::getline(status, line) && !line.starts_with("Uid:")) continue;
    EXPECT_NE(line.substr(0, 6), "Uid:\t0") << "the program runs as root: " << line;
  }
  const std::optional<Point> expected =
      settings.outcome == Outcome::kPlace      ? std::optional(settings.place)
      : settings.outcome == Outcome::kFirstRun ? std::optional(FirstRunPlace(server()))
                                               : std::nullopt;
  if (expected) WaitForPlace(program, *expected);

  const Rect shown = Client(program);
  EXPECT_TRUE(e2e::IsWindowViewable(server().display(), window));
  EXPECT_EQ(shown.width, kClientWidth);
  EXPECT_EQ(shown.height, kClientHeight);
  EXPECT_TRUE(shown.x >= 0 && shown.y >= 0 && shown.x + shown.width <= server().width() &&
              shown.y + shown.height <= server().height())
      << "client area " << shown << " is not inside the " << server().width() << " x "
      << server().height() << " screen";
  if (expected) {
    EXPECT_EQ((Point{shown.x, shown.y}), *expected)
        << "client area " << shown << "; expected "
        << (settings.outcome == Outcome::kPlace ? "the place the file gives"
                                                : "the first-run place");
  }
  std::cout << "client area " << shown << "\n";
  EXPECT_TRUE(StillRunning(program));

  // Starting reads the file and leaves it as it was.
  if (settings.content != nullptr) {
    EXPECT_TRUE(ReadFile(program.SettingsPath()) == content_) << "the settings file changed";
  } else if (settings.prepare == MakeFolder) {
    EXPECT_TRUE(fs::is_directory(program.SettingsPath()));
  }
}

INSTANTIATE_TEST_SUITE_P(Reliability, BadSettingsTest, testing::ValuesIn(kBadSettings), CaseName());

}  // namespace
}  // namespace e2e

// The program on a Wayland desktop, through XWayland: run by tests/wayland/run inside a headless
// KWin or GNOME Shell, which moves the pointer through the compositor's own input, as a mouse
// would. The pointer is mostly far from any X window, where only the compositor knows it.
//
// Environment: DISPLAY (XWayland), OZZ_PROGRAM (the program; ozzlebeck-pointer.js is copied
// from beside it), OZZ_POINTER (a command taking "move X Y", "down", "up", "click" and
// "wait MS" in the compositor's logical coordinates), OZZ_LOGICAL_WIDTH (the desktop's logical
// width), OZZ_COMPOSITOR ("kwin" or "gnome"), OZZ_GNOME_HINT_ONLY (set when the extension is
// off: only the hint is checked).
#include <gtest/gtest.h>
// After gtest, whose names Xlib's macros would clash with.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>

#include "harness.h"
#include "watcher_view.h"

namespace {

namespace fs = std::filesystem;
using e2e::Point;
using std::chrono::milliseconds;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool Kwin() { return Env("OZZ_COMPOSITOR") == "kwin"; }

std::string Output(const std::string& command);

// Whether KWin runs the program's script: loaded under its user and display, in letters and
// digits.
bool KWinScriptLoaded() {
  std::string name = "ozzlebeck-pointer-" + std::to_string(getuid()) + "-";
  for (const char c : Env("DISPLAY")) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return Output(
             "dbus-send --session --print-reply --dest=org.kde.KWin /Scripting "
             "org.kde.kwin.Scripting.isScriptLoaded string:" +
             name)
             .find("boolean true") != std::string::npos;
}

std::string Output(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    pclose(pipe);
  }
  return output;
}

// The pointer, moved through the compositor; `to` in X11 root coordinates.
class Pointer {
 public:
  explicit Pointer(Display* display)
      : scale_(static_cast<double>(DisplayWidth(display, 0)) /
               std::stod(Env("OZZ_LOGICAL_WIDTH"))) {}
  void Do(const std::string& steps) const {
    ASSERT_EQ(std::system((Env("OZZ_POINTER") + " " + steps).c_str()), 0) << steps;
  }
  std::string At(Point to) const {
    return "move " + std::to_string(to.x / scale_) + " " + std::to_string(to.y / scale_);
  }
  void Move(Point to) const { Do(At(to)); }

 private:
  double scale_;
};

// A copy of the program in a folder of its own, its stderr kept.
class Toy {
 public:
  // `settings`, when given, is written as the settings file beside the copy.
  explicit Toy(const fs::path& folder, const std::string& settings = "") : folder_(folder) {
    const fs::path program = Env("OZZ_PROGRAM");
    fs::create_directories(folder);
    if (!settings.empty()) std::ofstream(folder / "ozzlebeck.ini") << settings;
    fs::copy_file(program, folder / "ozzlebeck", fs::copy_options::overwrite_existing);
    fs::copy_file(program.parent_path() / "ozzlebeck-pointer.js", folder / "ozzlebeck-pointer.js",
                  fs::copy_options::overwrite_existing);
  }
  void Start() {
    pid_ = fork();
    if (pid_ == 0) {
      std::freopen((folder_ / "stderr").c_str(), "w", stderr);
      execl((folder_ / "ozzlebeck").c_str(), "ozzlebeck", nullptr);
      _exit(127);
    }
  }
  int Wait() {
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }
  void Kill(int signal) {
    if (pid_ > 0) kill(pid_, signal);
    Wait();
  }
  ~Toy() { Kill(SIGKILL); }
  pid_t pid() const { return pid_; }
  std::string Stderr() const { return e2e::ReadFile(folder_ / "stderr").value_or(""); }
  std::string Settings() const { return e2e::ReadFile(folder_ / "ozzlebeck.ini").value_or(""); }

 private:
  fs::path folder_;
  pid_t pid_ = -1;
};

class WaylandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    display_ = XOpenDisplay(nullptr);
    ASSERT_NE(display_, nullptr);
    folder_ = fs::temp_directory_path() /
              ("ozz-wayland-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    pointer_.emplace(display_);
  }
  void TearDown() override {
    XCloseDisplay(display_);
    fs::remove_all(folder_);
  }

  // The program's viewable window and its client area in root coordinates.
  bool FindWindow() {
    window_ = 0;
    for (Window w : e2e::FindWindowsByClass(display_, "ozzlebeck")) window_ = w;
    if (window_ == 0) return false;
    if (const std::optional<e2e::Rect> client = e2e::RootRect(display_, window_))
      place_ = {client->x, client->y};
    return e2e::IsWindowViewable(display_, window_);
  }
  void StartAndFind(Toy& toy) {
    toy.Start();
    ASSERT_TRUE(e2e::WaitUntil([&] { return FindWindow(); }, milliseconds(10000))) << toy.Stderr();
  }
  e2e::Pupils Pupils() {
    FindWindow();
    e2e::Image image(e2e::kClientWidth, e2e::kClientHeight);
    XImage* x = XGetImage(display_, window_, 0, 0, e2e::kClientWidth, e2e::kClientHeight, AllPlanes,
                          ZPixmap);
    if (x == nullptr) return {};
    for (int py = 0; py < image.height(); ++py)
      for (int px = 0; px < image.width(); ++px) {
        const unsigned long p = XGetPixel(x, px, py);
        image.Set(px, py,
                  {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                   static_cast<std::uint8_t>(p)});
      }
    XDestroyImage(x);
    return e2e::FindPupils(image);
  }
  // Whether both pupils lean towards `target` (root coordinates), within 30 degrees.
  bool LookAt(Point target) {
    const e2e::Pupils pupils = Pupils();
    for (const auto& [offset, eye] :
         {std::pair{pupils.left, e2e::kLeftEye}, std::pair{pupils.right, e2e::kRightEye}}) {
      if (!offset || std::hypot(offset->dx, offset->dy) < 1) return false;
      const Point centre = place_ + eye;
      const double want = std::atan2(target.y - centre.y, target.x - centre.x);
      const double got = std::atan2(offset->dy, offset->dx);
      const double apart = std::abs(std::remainder(want - got, 2 * std::numbers::pi));
      if (apart > std::numbers::pi / 6) return false;
    }
    return true;
  }

  Display* display_ = nullptr;
  fs::path folder_;
  std::optional<Pointer> pointer_;
  Window window_ = 0;
  Point place_;
};

TEST_F(WaylandTest, PupilsFollowThePointerOverTheDesktopAndRestWithoutWakeUps) {
  if (!Env("OZZ_GNOME_HINT_ONLY").empty()) GTEST_SKIP() << "the extension is off";
  // Placed mid-screen (574, 300), with room all around.
  Toy toy(folder_, "[Tavik's Ozzlebeck]\r\nTop=4500\r\nLeft=8610\r\n");
  StartAndFind(toy);
  const Point centre = place_ + Point{66, 80};
  for (int i = 0; i < 8; ++i) {
    const double angle = i * std::numbers::pi / 4;
    const Point target{centre.x + static_cast<int>(250 * std::cos(angle)),
                       centre.y + static_cast<int>(250 * std::sin(angle))};
    pointer_->Move(target);
    EXPECT_TRUE(e2e::WaitUntil([&] { return LookAt(target); }, milliseconds(1000)))
        << "direction " << i << " at " << target << ": " << Pupils();
  }
  // At rest the compositor sends nothing and the program sleeps.
  std::this_thread::sleep_for(milliseconds(1000));
  const auto before = e2e::ContextSwitches(toy.pid());
  const auto ticks = e2e::ProcessorTicks(toy.pid());
  std::this_thread::sleep_for(milliseconds(10000));
  EXPECT_EQ(e2e::ContextSwitches(toy.pid()), before) << "wake-ups in 10 s at rest";
  ASSERT_TRUE(ticks.has_value());
  EXPECT_LE(e2e::ProcessorTicks(toy.pid()).value_or(0) - *ticks, 10)
      << "hundredths of a second of processor time in 10 s at rest (it never slept?)";
  // A move after the rest turns the pupils within 120 ms.
  const Point target = centre + Point{-250, 0};
  pointer_->Move(target);
  const auto moved = std::chrono::steady_clock::now();
  ASSERT_TRUE(e2e::WaitUntil([&] { return LookAt(target); }, milliseconds(1000), milliseconds(5)));
  EXPECT_LE(std::chrono::steady_clock::now() - moved, milliseconds(120));
}

TEST_F(WaylandTest, DragAndDoubleClickSaveThePlaceTheNextStartOpensAt) {
  if (!Env("OZZ_GNOME_HINT_ONLY").empty()) GTEST_SKIP() << "the extension is off";
  Point saved;
  {
    Toy toy(folder_);
    StartAndFind(toy);
    const Point grip = place_ + Point{57, 30}, to = grip + Point{-200, 150};
    pointer_->Do(pointer_->At(grip) + " wait 100 down wait 100 " +
                 pointer_->At(grip + Point{-20, 15}) + " wait 50 " + pointer_->At(to) +
                 " wait 100 up wait 300");
    const Point start = place_;
    ASSERT_TRUE(e2e::WaitUntil(
        [&] {
          return FindWindow() && place_ == start + Point{-200, 150};
        },
        milliseconds(2000)))
        << "from " << start << " to " << place_;
    saved = place_;
    pointer_->Do(pointer_->At(place_ + Point{57, 30}) + " wait 600 click wait 80 click");
    EXPECT_EQ(toy.Wait(), 0);
    const std::string top = "Top=" + std::to_string(saved.y * e2e::kTwipsPerPixel) + "\r\n";
    const std::string left = "Left=" + std::to_string(saved.x * e2e::kTwipsPerPixel) + "\r\n";
    EXPECT_NE(toy.Settings().find(top), std::string::npos) << toy.Settings();
    EXPECT_NE(toy.Settings().find(left), std::string::npos) << toy.Settings();
    if (Kwin()) {
      EXPECT_FALSE(KWinScriptLoaded()) << "left loaded after a double-click";
    }
  }
  Toy again(folder_);
  StartAndFind(again);
  EXPECT_EQ(place_, saved);
}

TEST_F(WaylandTest, KWinKeepsNoScriptLoadedAfterTheProgramEndsEvenAfterSigkill) {
  if (!Kwin()) GTEST_SKIP() << "KWin only";
  Toy toy(folder_);
  StartAndFind(toy);
  ASSERT_TRUE(e2e::WaitUntil(KWinScriptLoaded, milliseconds(2000)));
  toy.Kill(SIGKILL);
  EXPECT_TRUE(KWinScriptLoaded()) << "a killed program cannot unload its script";
  StartAndFind(toy);
  ASSERT_TRUE(e2e::WaitUntil(KWinScriptLoaded, milliseconds(2000)));
  toy.Kill(SIGTERM);
  EXPECT_FALSE(KWinScriptLoaded()) << "the restart took over the script a killed run left";
}

TEST_F(WaylandTest, GnomeWithoutTheExtensionSaysHowToEnableItOnceAndRuns) {
  if (Env("OZZ_GNOME_HINT_ONLY").empty()) GTEST_SKIP() << "the extension is on";
  Toy toy(folder_);
  StartAndFind(toy);
  std::this_thread::sleep_for(milliseconds(500));
  const std::string err = toy.Stderr();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find("gnome-extensions enable ozzlebeck-pointer"), std::string::npos) << err;
  // Over its own window the eyes still follow, as XWayland tells: within the second after
  // which a resting program asks, since an absolute device makes no raw motion.
  const Point target = place_ + Point{10, 150};
  pointer_->Move(target);
  EXPECT_TRUE(e2e::WaitUntil([&] { return LookAt(target); }, milliseconds(2500))) << Pupils();
}

}  // namespace

// The fixture of the end-to-end suites (see fixture.h).
#include "fixture.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <sstream>

namespace e2e {

void DesktopTest::TearDown() {
  if (HasFailure() && server_) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    try {
      KeepScreen(*server_, std::string(test->test_suite_name()) + "." + test->name());
    } catch (const std::exception& error) {  // e.g. a test that ended the server itself
      std::cout << "no screen kept: " << error.what() << "\n";
    }
    for (const auto& program : programs_) {
      std::cout << "output of the program (pid " << program->pid() << "):\n" << program->Output();
    }
  }
  while (!programs_.empty()) programs_.pop_back();
  if (prefix_dpi_ != 96) {
    try {
      SetWineLogPixels(96);
      prefix_dpi_ = 96;
    } catch (const std::exception& error) {
      ADD_FAILURE() << "the Wine prefix stays at " << prefix_dpi_ << " dpi: " << error.what();
    }
  }
  server_.reset();
}

XServer& DesktopTest::server() const {
  if (!server_) {
    server_ = std::make_unique<XServer>(XServer::Options{.window_manager = desktop_.window_manager,
                                                         .width = desktop_.width,
                                                         .height = desktop_.height,
                                                         .x_resources = desktop_.x_resources});
  }
  return *server_;
}

Program& DesktopTest::Start(Program::Options options) {
  if (UnderWine() && desktop_.wine_dpi && *desktop_.wine_dpi != prefix_dpi_) {
    SetWineLogPixels(*desktop_.wine_dpi);
    prefix_dpi_ = *desktop_.wine_dpi;
  }
  Environment environment = desktop_.environment;
  if (desktop_.scale) environment.emplace_back("OZZLEBECK_SCALE", *desktop_.scale);
  environment.insert(environment.end(), options.environment.begin(), options.environment.end());
  options.environment = std::move(environment);
  if (!options.user) options.user = desktop_.user;
  programs_.push_back(std::make_unique<Program>(server(), std::move(options)));
  return *programs_.back();
}

void DesktopTest::ChangeWineDpi(int dpi) {
  while (!programs_.empty()) programs_.pop_back();
  desktop_.wine_dpi = dpi;
}

Rect DesktopTest::Client(const Program& program) const {
  return program.ClientRect().value_or(Rect{-99999, -99999, 0, 0});
}

Point DesktopTest::Place(const Program& program) const {
  const Rect client = Client(program);
  return {client.x, client.y};
}

Point DesktopTest::OnScreen(Point client_point) const { return Place() + client_point; }

Image DesktopTest::WaitForCapture(const std::function<bool(const Image&)>& wanted,
                                  Milliseconds timeout, Milliseconds interval) const {
  Image shown;
  WaitUntil(
      [&] {
        shown = CaptureClient();
        return wanted(shown);
      },
      timeout, interval);
  return shown;
}

Pupils DesktopTest::WaitForPupils(const std::function<bool(const Pupils&)>& wanted,
                                  Milliseconds timeout) const {
  return FindPupils(WaitForCapture([&](const Image& shown) { return wanted(FindPupils(shown)); },
                                   timeout, Milliseconds(30)));
}

Point DesktopTest::WaitForPlace(const Program& program, Point expected) const {
  WaitUntil([&] { return Place(program) == expected; }, Timeouts().placement);
  return Place(program);
}

std::vector<Window> DesktopTest::ProgramWindows() const {
  return server().FindViewableWindowsByClass("ozzlebeck");
}

std::string DesktopTest::Describe(const std::vector<Window>& windows) const {
  std::ostringstream text;
  for (Window window : windows) {
    const auto rect = RootRect(server().display(), window);
    const auto wm_class = WmClass(server().display(), window);
    text << "  window 0x" << std::hex << window << std::dec;
    if (wm_class) text << " (" << wm_class->first << ", " << wm_class->second << ")";
    if (rect) text << " at " << *rect;
    text << "\n";
  }
  return text.str();
}

bool DesktopTest::WaitForNoWindow() const {
  return WaitUntil([&] { return ProgramWindows().empty(); }, Timeouts().placement);
}

void DesktopTest::PressAndMove(Point from, Point travel) const {
  server().PressButtonAt(from);
  MoveHeldPointer(travel);
}

void DesktopTest::MoveHeldPointer(Point travel) const {
  const int steps = std::max(1, std::max(std::abs(travel.x), std::abs(travel.y)) / 10);
  server().MovePointerSmoothly(server().PointerPosition() + travel, steps, Milliseconds(10));
}

Point DesktopTest::Drag(const Program& program, Point grip, Point travel) const {
  const Point start = Place(program);
  PressAndMove(start + grip, travel);
  // A window manager follows the pointer on its own time; the button stays down meanwhile.
  WaitForPlace(program, start + travel);
  server().ReleaseButton();
  return WaitForPlace(program, start + travel);
}

Point DesktopTest::DragTo(const Program& program, Point grip, Point target, bool hold) const {
  Point place = Place(program);
  for (int attempt = 0; attempt < 3 && place != target; ++attempt) {
    if (attempt > 0) server().ReleaseButton();
    PressAndMove(place + grip, target - place);
    place = WaitForPlace(program, target);
  }
  if (hold) return place;
  server().ReleaseButton();
  WaitUntil([&] { return PointerIsFree(); }, Timeouts().placement);
  return WaitForPlace(program, target);
}

void DesktopTest::DoubleClickToQuit(Program& program) const {
  server().DoubleClick();
  ASSERT_TRUE(EndsWithStatusZero(program))
      << "after a double-click at " << server().PointerPosition();
}

void DesktopTest::DragAndDoubleClick(Program& program, Point grip, Point target) const {
  ASSERT_EQ(DragTo(program, grip, target), target) << "three drags did not bring it there";
  ASSERT_TRUE(PointerIsFree()) << "the pointer stays grabbed after the drag";
  DoubleClickToQuit(program);
}

bool DesktopTest::PointerIsFree() const {
  Display* display = server().display();
  const int result = XGrabPointer(display, server().root(), False, 0, GrabModeAsync, GrabModeAsync,
                                  None, None, CurrentTime);
  if (result == GrabSuccess) XUngrabPointer(display, CurrentTime);
  XSync(display, False);
  return result == GrabSuccess;
}

testing::AssertionResult StillRunning(Program& program) {
  if (!program.HasExited()) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "the program ended with status "
                                     << program.ExitStatus().value_or(-1) << "; its output:\n"
                                     << program.Output();
}

testing::AssertionResult EndsWithStatusZero(Program& program, std::optional<Milliseconds> timeout) {
  const Milliseconds limit = timeout.value_or(Timeouts().exit);
  if (!program.WaitForExit(limit)) {
    return testing::AssertionFailure() << "the program still runs " << limit.count() << " ms later";
  }
  // It has ended: unless with 0, StillRunning tells how it ended and what it wrote.
  return program.ExitStatus() == 0 ? testing::AssertionSuccess() : StillRunning(program);
}

testing::AssertionResult StoredPlaceIs(const std::optional<std::string>& settings, Point place) {
  if (!settings) return testing::AssertionFailure() << "there is no settings file";
  const std::optional<std::string> top = IniValue(*settings, kSection, "Top");
  const std::optional<std::string> left = IniValue(*settings, kSection, "Left");
  const std::string want_top = std::to_string(place.y * kTwipsPerPixel);
  const std::string want_left = std::to_string(place.x * kTwipsPerPixel);
  if (top == want_top && left == want_left) return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << "the place " << place << " is Top=" << want_top << ", Left=" << want_left
         << " in twips; the settings file holds Top=" << top.value_or("(none)")
         << ", Left=" << left.value_or("(none)") << ":\n"
         << *settings;
}

}  // namespace e2e

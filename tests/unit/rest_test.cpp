// Resting: once the eye tracker's inputs (the cursor and its window's rectangle) have stayed the
// same for a few ticks, the loop leaves ticks out until one of them changes or something else
// may have changed what the window shows.
#include <gtest/gtest.h>

#include <functional>

#include "platform/headless/headless.h"
#include "platform/rest_gate.h"
#include "test_support.h"
#include "watcher/f_mouse_watch.h"

namespace {

using ::PrintTo;

constexpr int kStill = platform::RestGate::kStillTicks;
constexpr int kLeft = 413, kTop = 227;
constexpr int kCursorX = 1187, kCursorY = 301;

class RestTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    MoveWindowTo(watch.hWnd(), kLeft, kTop);
    headless::SetCursor(kCursorX, kCursorY);
  }

  // Fires the timers `periods` times; the ticks that ran.
  int Fire(int periods) {
    int ticks = 0;
    for (int i = 0; i < periods; ++i) ticks += headless::FireTimers();
    return ticks;
  }

  // Fires until a period passes without a tick; the ticks that ran (a large number if it never
  // rests).
  int FireUntilRest() {
    for (int ticks = 0; ticks < 100; ++ticks)
      if (headless::FireTimers() == 0) return ticks;
    return 100;
  }

  fMouseWatch watch;
};

TEST_F(RestTest, RestsAfterTicksThatReadTheSameInputs) {
  // The first tick has nothing to compare with; then kStill ticks read the same as the one
  // before: one tick more than kStill, and no more.
  EXPECT_EQ(Fire(kStill + 1), kStill + 1);
  EXPECT_EQ(Fire(5), 0);
}

TEST_F(RestTest, ATickThatReadsSomethingNewStartsTheCountAgain) {
  Fire(kStill);  // one short of resting
  headless::SetCursor(kCursorX, kCursorY + 1);
  EXPECT_EQ(FireUntilRest(), kStill + 1);
}

struct Change {
  const char* name;
  std::function<void(fMouseWatch&)> make;
  bool wakes;
  // Ticks until the loop rests again: 1 when the woken tick reads what the last one read.
  int ticksUntilRest;
  bool turnsPupils = false;  // the tracker looks from the new place (it uses no window size)
};

class RestChangeTest : public RestTest, public testing::WithParamInterface<Change> {};

TEST_P(RestChangeTest, WhatWakesTheLoop) {
  const Change& change = GetParam();
  ASSERT_EQ(FireUntilRest(), kStill + 1);
  const double dir1x = watch.Dir1X, dir1y = watch.Dir1Y;
  change.make(watch);
  if (!change.wakes) {
    EXPECT_EQ(Fire(3), 0) << change.name << " should not wake the loop";
    return;
  }
  EXPECT_EQ(Fire(1), 1) << change.name << " should wake the loop at once";
  EXPECT_EQ(FireUntilRest(), change.ticksUntilRest - 1);
  if (change.turnsPupils) {
    EXPECT_TRUE(watch.Dir1X != dir1x || watch.Dir1Y != dir1y)
        << "the woken tick should look from the new inputs";
  }
}

void MoveCursor(int dx, int dy) { headless::SetCursor(kCursorX + dx, kCursorY + dy); }

constexpr int kAll = kStill + 1;  // ticks from a change to rest when nothing else changes

// clang-format off
const Change kChanges[] = {
    {"CursorOnePixelRight", [](fMouseWatch&) { MoveCursor(1, 0); }, true, kAll, true},
    {"CursorOnePixelUp", [](fMouseWatch&) { MoveCursor(0, -1); }, true, kAll, true},
    {"CursorSetWhereItIs", [](fMouseWatch&) { MoveCursor(0, 0); }, false, 0},
    // Seen going away: the loop cannot know it came back without asking, so it asks.
    {"CursorAwayAndBack", [](fMouseWatch&) { MoveCursor(-40, 0); MoveCursor(0, 0); }, true, 1},
    {"WindowOnePixelLeft", [](fMouseWatch& w) { MoveWindowTo(w.hWnd(), kLeft - 1, kTop); }, true,
     kAll, true},
    {"WindowOnePixelDown", [](fMouseWatch& w) { MoveWindowTo(w.hWnd(), kLeft, kTop + 1); }, true,
     kAll, true},
    {"WindowResized", [](fMouseWatch& w) {
       SetWindowPos(w.hWnd(), nullptr, 0, 0, 133, 159, SWP_NOMOVE | SWP_NOZORDER); }, true, kAll},
    {"WindowMovedWhereItIs", [](fMouseWatch& w) { MoveWindowTo(w.hWnd(), kLeft, kTop); }, false, 0},
    {"WindowMadeTopMost", [](fMouseWatch& w) {
       SetWindowPos(w.hWnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }, false, 0},
    {"AnotherWindowMoved", [](fMouseWatch&) {
       runtime::FormDesign design;
       design.clientWidthTwips = 300;
       design.clientHeightTwips = 300;
       runtime::Form other(design);
       MoveWindowTo(other.hWnd(), 50, 60); }, false, 0},
    {"ExposeOrScreenChange", [](fMouseWatch&) { headless::Wake(); }, true, 1},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Changes, RestChangeTest, testing::ValuesIn(kChanges), ParamName);

}  // namespace

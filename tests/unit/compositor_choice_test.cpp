// Asking a Wayland compositor where the pointer is: which compositor the environment points
// at, the KWin script's name, paths and text, the messages, and their X11 root coordinates.
#include "platform/x11/compositor_choice.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using x11::Compositor;
using x11::CompositorPosition;
using x11::RootPoint;

struct SessionCase {
  const char* name;
  x11::SessionEnvironment environment;
  std::vector<Compositor> expected;
};

void PrintTo(const SessionCase& c, std::ostream* out) { *out << c.name; }

class CompositorsToAskTest : public ::testing::TestWithParam<SessionCase> {};

TEST_P(CompositorsToAskTest, FollowsTheSessionAndTheDesktop) {
  EXPECT_EQ(x11::CompositorsToAsk(GetParam().environment), GetParam().expected);
}

constexpr auto kKWin = Compositor::kKWin;
constexpr auto kShell = Compositor::kGnomeShell;

INSTANTIATE_TEST_SUITE_P(
    Environments, CompositorsToAskTest,
    ::testing::Values(
        SessionCase{"X11Session", {nullptr, "x11", "KDE"}, {}},
        SessionCase{"NothingSet", {nullptr, nullptr, nullptr}, {}},
        SessionCase{"EmptyWaylandDisplay", {"", "tty", "GNOME"}, {}},
        SessionCase{"WaylandDisplayAlone", {"wayland-0", nullptr, nullptr}, {kKWin, kShell}},
        SessionCase{"SessionTypeAlone", {nullptr, "wayland", "KDE"}, {kKWin, kShell}},
        SessionCase{"SessionTypeOtherCase", {nullptr, "Wayland", "KDE"}, {}},
        SessionCase{"Plasma", {"wayland-0", "wayland", "KDE"}, {kKWin, kShell}},
        SessionCase{"Gnome", {"wayland-0", "wayland", "GNOME"}, {kShell, kKWin}},
        SessionCase{"UbuntuGnome", {"wayland-0", "wayland", "ubuntu:GNOME"}, {kShell, kKWin}},
        SessionCase{"GnomeInAName", {"wayland-0", "wayland", "GNOME-Flashback"}, {kKWin, kShell}},
        SessionCase{"Sway", {"wayland-1", "wayland", "sway"}, {}},
        SessionCase{"WestonLast", {"wayland-1", "wayland", "X-Generic:Weston"}, {}},
        SessionCase{"Hyprland", {"wayland-1", "wayland", "Hyprland"}, {}},
        SessionCase{"UnknownDesktop", {"wayland-0", "wayland", "LXQt"}, {kKWin, kShell}}));

TEST(KWinScriptTest, NameIsOfTheUserAndDisplayInPlainCharacters) {
  EXPECT_EQ(x11::KWinScriptName(1000, ":0"), "ozzlebeck-pointer-1000-_0");
  EXPECT_EQ(x11::KWinScriptName(0, ":12.1"), "ozzlebeck-pointer-0-_12_1");
  EXPECT_EQ(x11::KWinScriptName(1000, "host:0"), "ozzlebeck-pointer-1000-host_0");
  EXPECT_NE(x11::KWinScriptName(1000, ":1"), x11::KWinScriptName(1001, ":1"));
  EXPECT_EQ(x11::KWinScriptName(7, "'\"/"), "ozzlebeck-pointer-7-___");
}

TEST(KWinScriptTest, PathsPutTheSessionsVersionFirst) {
  using Paths = std::vector<std::string>;
  EXPECT_EQ(x11::KWinScriptPaths(3, "5"), (Paths{"/3", "/Scripting/Script3"}));
  EXPECT_EQ(x11::KWinScriptPaths(3, "6"), (Paths{"/Scripting/Script3", "/3"}));
  EXPECT_EQ(x11::KWinScriptPaths(0, nullptr), (Paths{"/Scripting/Script0", "/0"}));
  EXPECT_EQ(x11::KWinScriptPaths(12, "55"), (Paths{"/Scripting/Script12", "/12"}));
}

TEST(KWinScriptTest, TextNamesOnlyAUniqueBusName) {
  EXPECT_EQ(x11::KWinScriptFor("a=\"@TARGET@\"; b=\"@TARGET@\";", ":1.42"),
            "a=\":1.42\"; b=\":1.42\";");
  EXPECT_EQ(x11::KWinScriptFor("@TARGET@", ":7"), ":7");
  EXPECT_EQ(x11::KWinScriptFor("no mark here", ":1.42"), std::nullopt);
  for (const char* name : {"", ":", "1.42", ":1.42\"", "org.kde.KWin", ":1.4 2"})
    EXPECT_EQ(x11::KWinScriptFor("x=\"@TARGET@\"", name), std::nullopt) << name;
}

struct MessageCase {
  const char* text;
  std::optional<CompositorPosition> expected;
};

class PointerMessageTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(PointerMessageTest, ReadsSixNumbersOrNothing) {
  const auto read = x11::ParsePointerMessage(GetParam().text);
  ASSERT_EQ(read.has_value(), GetParam().expected.has_value()) << GetParam().text;
  if (!read) return;
  const CompositorPosition& e = *GetParam().expected;
  EXPECT_EQ(
      (std::vector<double>{read->x, read->y, read->left, read->top, read->width, read->height}),
      (std::vector<double>{e.x, e.y, e.left, e.top, e.width, e.height}));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PointerMessageTest,
    ::testing::Values(
        MessageCase{"100 200 0 0 1280 800", CompositorPosition{100, 200, 0, 0, 1280, 800}},
        MessageCase{"-5.25 0.5 -1280 -10 2560 1 ", std::nullopt},
        MessageCase{"-5.25 0.5 -1280 -10 2560 1",
                    CompositorPosition{-5.25, 0.5, -1280, -10, 2560, 1}},
        MessageCase{"1 2 0 0 1280 0.99", std::nullopt}, MessageCase{"1 2 0 0 0 800", std::nullopt},
        MessageCase{"1 2 0 0 1280", std::nullopt}, MessageCase{"1 2 0 0 1280 800 5", std::nullopt},
        MessageCase{"1  2 0 0 1280 800", std::nullopt},
        MessageCase{"+1 2 0 0 1280 800", std::nullopt},
        MessageCase{"1e2 2 0 0 1280 800", std::nullopt},
        MessageCase{"NaN 2 0 0 1280 800", std::nullopt},
        MessageCase{"Infinity 2 0 0 1280 800", std::nullopt},
        MessageCase{"1 2 0 0 1048577 800", std::nullopt},
        MessageCase{"1 2 0 0 1048576 800", CompositorPosition{1, 2, 0, 0, 1048576, 800}},
        MessageCase{"1 2 0 0 1280 12345678", std::nullopt},
        MessageCase{"0.125000000001 2 0 0 1280 800",
                    CompositorPosition{0.125000000001, 2, 0, 0, 1280, 800}},
        MessageCase{"1. 2 0 0 1280 800", std::nullopt},
        MessageCase{".5 2 0 0 1280 800", std::nullopt},
        MessageCase{"- 2 0 0 1280 800", std::nullopt}, MessageCase{"", std::nullopt}));

struct RootCase {
  const char* name;
  CompositorPosition pointer;
  int rootWidth, rootHeight;
  std::optional<RootPoint> expected;
};

void PrintTo(const RootCase& c, std::ostream* out) { *out << c.name; }

class ToRootTest : public ::testing::TestWithParam<RootCase> {};

TEST_P(ToRootTest, ScalesByTheRatioOfTheSizes) {
  EXPECT_EQ(x11::ToRoot(GetParam().pointer, GetParam().rootWidth, GetParam().rootHeight),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Scales, ToRootTest,
    ::testing::Values(
        RootCase{"Scale1", {100, 700, 0, 0, 1280, 800}, 1280, 800, RootPoint{100, 700}},
        RootCase{"Scale1FarCorner", {1279, 799, 0, 0, 1280, 800}, 1280, 800, RootPoint{1279, 799}},
        RootCase{"Scale2", {100, 700, 0, 0, 1280, 800}, 2560, 1600, RootPoint{200, 1400}},
        RootCase{"Scale2Fraction", {100.5, 0.25, 0, 0, 1280, 800}, 2560, 1600, RootPoint{201, 1}},
        RootCase{"Scale2FarEdgeStaysOn",
                 {1279.75, 799.9, 0, 0, 1280, 800},
                 2560,
                 1600,
                 RootPoint{2559, 1599}},
        RootCase{"Scale1Point5", {101, 11, 0, 0, 1280, 800}, 1920, 1200, RootPoint{152, 17}},
        RootCase{"DesktopLeftOfZero", {-1280, 0, -1280, 0, 2560, 800}, 2560, 800, RootPoint{0, 0}},
        RootCase{"PastTheEdges", {-3, 900, 0, 0, 1280, 800}, 1280, 800, RootPoint{0, 799}},
        RootCase{"NoRoot", {1, 1, 0, 0, 1280, 800}, 0, 800, std::nullopt},
        RootCase{"NoDesktop", {1, 1, 0, 0, 0.5, 800}, 1280, 800, std::nullopt}));

}  // namespace

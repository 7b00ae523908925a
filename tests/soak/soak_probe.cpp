// The X side of scripts/soak: finds the program's window, moves the pointer around it with XTest
// motion events, asks the X-Resource extension what the program's connection holds, and checks
// that the painted pupils still turn towards the pointer. One small command per job, each on its
// own connection to the display named by $DISPLAY; the script keeps the schedule.
//
//   soak_probe window CLASS               "ID X Y WIDTH HEIGHT" of the first viewable window
//                                         whose WM_CLASS contains CLASS (root coordinates)
//   soak_probe circle ID SECONDS PERIOD   moves the pointer round the window every PERIOD ms,
//                                         resting 1.5 s after every 3 s so the program falls
//                                         asleep and wakes again
//   soak_probe resources ID               "name=count ... total=N pixmap_bytes=N" for the
//                                         client that created window ID
//   soak_probe pointer                    "X,Y": where the pointer is
//   soak_probe follow ID                  pointer far left, then far right: prints the pupils'
//                                         centroids and fails unless both moved right by 1 px
//
// Exit status: 0 done, 1 check failed or nothing found, 2 usage, 3 no display or extension.
//
// Windows, their places, the pointer, screen captures and the pupils in them are handled with the
// end-to-end harness's own code (tests/e2e/harness.h, watcher_view.h), compiled in by scripts/soak.
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "harness.h"
#include "watcher_view.h"

namespace {

using e2e::kLeftEye;
using e2e::Rect;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr double kRequiredShift = 1.0;

// Losing the server ends any command quietly: the script sees the status.
int OnConnectionLost(Display*) { std::_Exit(3); }
// A window may vanish between two requests; the harness's queries then find nothing.
int IgnoreError(Display*, XErrorEvent*) { return 0; }

Display* Open() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "soak_probe: cannot open display %s\n",
                 std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "(unset)");
    std::exit(3);
  }
  XSetIOErrorHandler(OnConnectionLost);
  XSetErrorHandler(IgnoreError);
  return display;
}

// The first viewable window whose WM_CLASS contains `part`; None if there is none.
Window FindWindow(Display* display, const char* part) {
  for (Window window : e2e::FindWindowsByClass(display, part)) {
    if (e2e::IsWindowViewable(display, window)) return window;
  }
  return None;
}

Window ParseWindow(const char* text) { return static_cast<Window>(std::strtoul(text, nullptr, 0)); }

int CommandWindow(const char* part) {
  Display* display = Open();
  const Window window = FindWindow(display, part);
  const std::optional<Rect> rect = window != None ? e2e::RootRect(display, window) : std::nullopt;
  if (!rect) return 1;
  std::printf("0x%lx %d %d %d %d\n", window, rect->x, rect->y, rect->width, rect->height);
  return 0;
}

// Round and round the window's centre, the radius swinging between close over the eyes and
// well outside the window, so the pupils are pulled every way.
int CommandCircle(Window window, double seconds, int period_ms) {
  Display* display = Open();
  const std::optional<Rect> rect = e2e::RootRect(display, window);
  if (!rect) return 1;
  const double cx = rect->x + rect->width / 2.0;
  const double cy = rect->y + rect->height / 2.0;
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(seconds));
  double angle = 0;
  long step = 0;
  constexpr auto kMoving = std::chrono::seconds(3);
  constexpr auto kResting = milliseconds(1500);
  auto rest = Clock::now() + kMoving;
  while (Clock::now() < end) {
    if (Clock::now() >= rest) {
      std::this_thread::sleep_for(kResting);
      rest = Clock::now() + kMoving;
    }
    const double radius = 130 + 110 * std::sin(step * 0.013);  // 20 to 240 px
    e2e::MovePointer(display, {static_cast<int>(std::lround(cx + radius * std::cos(angle))),
                               static_cast<int>(std::lround(cy + radius * std::sin(angle)))});
    angle += 0.09;
    ++step;
    std::this_thread::sleep_for(milliseconds(period_ms));
  }
  return 0;
}

int CommandPointer() {
  const e2e::Point at = e2e::PointerPosition(Open());
  std::printf("%d,%d\n", at.x, at.y);
  return 0;
}

int CommandResources(Window window) {
  Display* display = Open();
  int event_base = 0, error_base = 0;
  if (!XResQueryExtension(display, &event_base, &error_base)) {
    std::fprintf(stderr, "soak_probe: the server has no X-Resource extension\n");
    return 3;
  }
  int count = 0;
  XResClient* clients = nullptr;
  if (XResQueryClients(display, &count, &clients) == 0) return 1;
  std::optional<XID> base;
  for (int i = 0; i < count; ++i) {
    if ((window & ~clients[i].resource_mask) == clients[i].resource_base)
      base = clients[i].resource_base;
  }
  XFree(clients);
  if (!base) {
    std::fprintf(stderr, "soak_probe: no client owns window 0x%lx\n", window);
    return 1;
  }
  int types = 0;
  XResType* resources = nullptr;
  if (XResQueryClientResources(display, *base, &types, &resources) == 0) return 1;
  std::map<std::string, unsigned> by_name;
  unsigned total = 0;
  for (int i = 0; i < types; ++i) {
    char* name = XGetAtomName(display, resources[i].resource_type);
    std::string key = name ? name : "?";
    if (name) XFree(name);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    by_name[key] += resources[i].count;
    total += resources[i].count;
  }
  XFree(resources);
  unsigned long pixmap_bytes = 0;
  XResQueryClientPixmapBytes(display, *base, &pixmap_bytes);
  for (const auto& [name, n] : by_name) std::printf("%s=%u ", name.c_str(), n);
  std::printf("total=%u pixmap_bytes=%lu\n", total, pixmap_bytes);
  return 0;
}

// Both pupils found in one capture of the client area, or nothing without both.
std::optional<e2e::Pupils> ReadPupils(Display* display, const Rect& client) {
  const e2e::Pupils pupils = e2e::FindPupils(e2e::Capture(display, client));
  if (!pupils.left || !pupils.right) return std::nullopt;
  return pupils;
}

bool Same(const e2e::Pupils& a, const e2e::Pupils& b) {
  return a.left->dx == b.left->dx && a.left->dy == b.left->dy && a.right->dx == b.right->dx &&
         a.right->dy == b.right->dy;
}

// Moves the pointer and waits until three readings in a row, 100 ms apart, agree.
std::optional<e2e::Pupils> LookAt(Display* display, const Rect& client, int x, int y) {
  e2e::MovePointer(display, {x, y});
  std::optional<e2e::Pupils> last;
  int agreeing = 0;
  const auto end = Clock::now() + milliseconds(3000);
  while (Clock::now() < end && agreeing < 3) {
    std::this_thread::sleep_for(milliseconds(100));
    const std::optional<e2e::Pupils> now = ReadPupils(display, client);
    agreeing = now && last && Same(*now, *last) ? agreeing + 1 : 1;
    last = now;
  }
  return last;
}

int CommandFollow(Window window) {
  Display* display = Open();
  const std::optional<Rect> client = e2e::RootRect(display, window);
  if (!client || client->width != e2e::kClientWidth || client->height != e2e::kClientHeight) {
    std::printf("window 0x%lx is gone or not of the client area's size\n", window);
    return 1;
  }
  const int eye_level = client->y + kLeftEye.y;
  const std::optional<e2e::Pupils> left = LookAt(display, *client, 0, eye_level);
  const std::optional<e2e::Pupils> right =
      LookAt(display, *client, DisplayWidth(display, DefaultScreen(display)) - 1, eye_level);
  if (!left || !right) {
    std::printf("no pupils found in the eyes (%s)\n",
                left ? "pointer far right" : "pointer far left");
    return 1;
  }
  const double left_shift = right->left->dx - left->left->dx;
  const double right_shift = right->right->dx - left->right->dx;
  std::printf(
      "left pupil x %+.2f -> %+.2f (shift %+.2f), right pupil x %+.2f -> %+.2f (shift %+.2f)\n",
      left->left->dx, right->left->dx, left_shift, left->right->dx, right->right->dx, right_shift);
  return left_shift >= kRequiredShift && right_shift >= kRequiredShift ? 0 : 1;
}

int Usage() {
  std::fprintf(
      stderr,
      "usage: soak_probe window CLASS | circle ID SECONDS PERIOD_MS | pointer | resources ID "
      "| follow ID\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "window" && argc == 3) return CommandWindow(argv[2]);
  if (command == "circle" && argc == 5)
    return CommandCircle(ParseWindow(argv[2]), std::atof(argv[3]), std::atoi(argv[4]));
  if (command == "pointer") return CommandPointer();
  if (command == "resources" && argc == 3) return CommandResources(ParseWindow(argv[2]));
  if (command == "follow" && argc == 3) return CommandFollow(ParseWindow(argv[2]));
  return Usage();
}

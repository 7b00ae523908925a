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
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/XTest.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The watcher window's client area and its eyes, in client pixels.
constexpr int kEyeY = 72;
constexpr int kLeftEyeX = 32;
constexpr int kRightEyeX = 82;
// Pupils are the pure-black pixels within the eye's radius of 7, taken half a pixel inside it
// so that the painted rim never counts.
constexpr double kPupilSearchRadius = 6.5;
constexpr int kEyeBox = 7;
constexpr int kMinimumPupilPixels = 40;
constexpr double kRequiredShift = 1.0;

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
};

// Losing the server ends any command quietly: the script sees the status.
int OnConnectionLost(Display*) { std::_Exit(3); }

int g_x_errors = 0;
int CountError(Display*, XErrorEvent*) {
  ++g_x_errors;
  return 0;
}

Display* Open() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "soak_probe: cannot open display %s\n",
                 std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "(unset)");
    std::exit(3);
  }
  XSetIOErrorHandler(OnConnectionLost);
  XSetErrorHandler(CountError);  // a window may vanish between two requests
  return display;
}

std::optional<Rect> RootRect(Display* display, Window window) {
  const int errors = g_x_errors;
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display, window, &attributes) == 0) return std::nullopt;
  int x = 0, y = 0;
  Window child = None;
  XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
  XSync(display, False);
  if (g_x_errors != errors) return std::nullopt;
  return Rect{x, y, attributes.width, attributes.height};
}

bool Viewable(Display* display, Window window) {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(display, window, &attributes) != 0 &&
         attributes.map_state == IsViewable;
}

bool ClassContains(Display* display, Window window, const char* part) {
  XClassHint hint{};
  if (XGetClassHint(display, window, &hint) == 0) return false;
  const bool found = (hint.res_name && std::strstr(hint.res_name, part)) ||
                     (hint.res_class && std::strstr(hint.res_class, part));
  if (hint.res_name) XFree(hint.res_name);
  if (hint.res_class) XFree(hint.res_class);
  return found;
}

Window FindWindow(Display* display, Window under, const char* part) {
  if (ClassContains(display, under, part) && Viewable(display, under)) return under;
  Window root = None, parent = None, *children = nullptr;
  unsigned count = 0;
  Window found = None;
  if (XQueryTree(display, under, &root, &parent, &children, &count) != 0) {
    for (unsigned i = 0; i < count && found == None; ++i)
      found = FindWindow(display, children[i], part);
  }
  if (children != nullptr) XFree(children);
  return found;
}

Window ParseWindow(const char* text) { return static_cast<Window>(std::strtoul(text, nullptr, 0)); }

void MovePointer(Display* display, int x, int y) {
  XTestFakeMotionEvent(display, DefaultScreen(display), x, y, CurrentTime);
  XSync(display, False);
}

int CommandWindow(const char* part) {
  Display* display = Open();
  const Window window = FindWindow(display, DefaultRootWindow(display), part);
  const std::optional<Rect> rect = window != None ? RootRect(display, window) : std::nullopt;
  if (!rect) return 1;
  std::printf("0x%lx %d %d %d %d\n", window, rect->x, rect->y, rect->width, rect->height);
  return 0;
}

// Round and round the window's centre, the radius swinging between close over the eyes and
// well outside the window, so the pupils are pulled every way.
int CommandCircle(Window window, double seconds, int period_ms) {
  Display* display = Open();
  const std::optional<Rect> rect = RootRect(display, window);
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
    MovePointer(display, static_cast<int>(std::lround(cx + radius * std::cos(angle))),
                static_cast<int>(std::lround(cy + radius * std::sin(angle))));
    angle += 0.09;
    ++step;
    std::this_thread::sleep_for(milliseconds(period_ms));
  }
  return 0;
}

int CommandPointer() {
  Display* display = Open();
  Window root = None, child = None;
  int x = 0, y = 0, window_x = 0, window_y = 0;
  unsigned mask = 0;
  XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &window_x, &window_y,
                &mask);
  std::printf("%d,%d\n", x, y);
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

struct Pupil {
  double x = 0, y = 0;
  int pixels = 0;
};

Pupil FindPupil(XImage* image, int eye_x) {
  Pupil pupil;
  double sum_x = 0, sum_y = 0;
  for (int y = kEyeY - kEyeBox; y <= kEyeY + kEyeBox; ++y) {
    for (int x = eye_x - kEyeBox; x <= eye_x + kEyeBox; ++x) {
      if (std::hypot(x - eye_x, y - kEyeY) > kPupilSearchRadius) continue;
      if ((XGetPixel(image, x, y) & 0xFFFFFF) != 0) continue;
      sum_x += x - eye_x;
      sum_y += y - kEyeY;
      ++pupil.pixels;
    }
  }
  if (pupil.pixels > 0) pupil.x = sum_x / pupil.pixels, pupil.y = sum_y / pupil.pixels;
  return pupil;
}

struct Pupils {
  Pupil left, right;
  bool Complete() const {
    return left.pixels >= kMinimumPupilPixels && right.pixels >= kMinimumPupilPixels;
  }
  bool operator==(const Pupils& o) const {
    return left.x == o.left.x && left.y == o.left.y && right.x == o.right.x && right.y == o.right.y;
  }
};

std::optional<Pupils> ReadPupils(Display* display, const Rect& client) {
  // The root window's pixels: what is on the screen, whatever the program's window is.
  XImage* image = XGetImage(display, DefaultRootWindow(display), client.x, client.y,
                            static_cast<unsigned>(client.width),
                            static_cast<unsigned>(client.height), AllPlanes, ZPixmap);
  if (image == nullptr) return std::nullopt;
  Pupils pupils{FindPupil(image, kLeftEyeX), FindPupil(image, kRightEyeX)};
  XDestroyImage(image);
  return pupils;
}

// Moves the pointer and waits until three readings in a row, 100 ms apart, agree.
std::optional<Pupils> LookAt(Display* display, const Rect& client, int x, int y) {
  MovePointer(display, x, y);
  std::optional<Pupils> last;
  int agreeing = 0;
  const auto end = Clock::now() + milliseconds(3000);
  while (Clock::now() < end && agreeing < 3) {
    std::this_thread::sleep_for(milliseconds(100));
    const std::optional<Pupils> now = ReadPupils(display, client);
    agreeing = now && now->Complete() && last && *now == *last ? agreeing + 1 : 1;
    last = now;
  }
  if (!last || !last->Complete()) return std::nullopt;
  return last;
}

int CommandFollow(Window window) {
  Display* display = Open();
  const std::optional<Rect> client = RootRect(display, window);
  if (!client || client->width < kRightEyeX + kEyeBox + 1 || client->height < kEyeY + kEyeBox + 1) {
    std::printf("window 0x%lx is gone or too small\n", window);
    return 1;
  }
  const int eye_level = client->y + kEyeY;
  const std::optional<Pupils> left = LookAt(display, *client, 0, eye_level);
  const std::optional<Pupils> right =
      LookAt(display, *client, DisplayWidth(display, DefaultScreen(display)) - 1, eye_level);
  if (!left || !right) {
    std::printf("no pupils found in the eyes (%s)\n",
                left ? "pointer far right" : "pointer far left");
    return 1;
  }
  const double left_shift = right->left.x - left->left.x;
  const double right_shift = right->right.x - left->right.x;
  std::printf(
      "left pupil x %+.2f -> %+.2f (shift %+.2f), right pupil x %+.2f -> %+.2f (shift %+.2f)\n",
      left->left.x, right->left.x, left_shift, left->right.x, right->right.x, right_shift);
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

// Implementation of the end-to-end harness: child processes, the private X server, the program
// under test and the Xlib, XTest and SHAPE queries the tests use.
//
// Child processes are started with fork/exec into a process group of their own, with the kernel
// asked to kill them if the test process dies (PR_SET_PDEATHSIG), so a crashed or timed-out
// test leaves no X server behind. Ending a child means SIGTERM to its group, then SIGKILL.
#include "harness.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/shape.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "reliability_support.h"

extern char** environ;

namespace e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr Milliseconds kTermGrace{3000};
constexpr Milliseconds kXvfbStartTimeout{20'000};
constexpr Milliseconds kWindowManagerStartTimeout{20'000};

// Openbox reads its built-in defaults for everything a configuration leaves out; this one only
// pins what a test relies on: one desktop, no margins, and a click focusing and raising a window.
constexpr const char* kOpenboxConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <desktops><number>1</number></desktops>
  <margins><top>0</top><bottom>0</bottom><left>0</left><right>0</right></margins>
  <mouse>
    <context name="Client">
      <mousebind button="Left" action="Press">
        <action name="Focus"/><action name="Raise"/>
      </mousebind>
    </context>
  </mouse>
</openbox_config>
)";

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

// A log file, or nothing when there is none.
std::string ReadLog(const fs::path& path) { return ReadFile(path).value_or(""); }

struct ChildLaunch {
  std::vector<std::string> argv;
  std::vector<std::pair<std::string, std::string>> environment;  // added or replaced
  std::vector<std::string> unset_environment;                    // removed
  fs::path output;                                               // stdout and stderr, appended
  fs::path standard_output;                                      // stdout instead, when set
  fs::path working_folder;
  int inherited_fd = -1;  // stays open in the child
};

std::vector<std::string> ChildEnvironment(const ChildLaunch& launch) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    std::string_view name = text.substr(0, text.find('='));
    bool replaced = std::any_of(launch.environment.begin(), launch.environment.end(),
                                [&](const auto& var) { return var.first == name; }) ||
                    std::find(launch.unset_environment.begin(), launch.unset_environment.end(),
                              name) != launch.unset_environment.end();
    if (!replaced) result.emplace_back(text);
  }
  for (const auto& [name, value] : launch.environment) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// Starts a child in its own process group; everything it needs is prepared before fork, so the
// child only calls async-signal-safe functions.
pid_t StartChild(const ChildLaunch& launch) {
  std::vector<std::string> argv_strings = launch.argv;
  std::vector<std::string> env_strings = ChildEnvironment(launch);
  std::vector<char*> argv = CStrings(argv_strings);
  std::vector<char*> envp = CStrings(env_strings);
  std::string output = launch.output.string();
  std::string standard_output = launch.standard_output.string();
  std::string folder = launch.working_folder.string();
  const pid_t parent = getpid();

  const pid_t pid = fork();
  if (pid < 0) Fail(ErrnoText("fork"));
  if (pid == 0) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(126);  // the test died before prctl took effect
    int in = open("/dev/null", O_RDONLY);
    int out = output.empty() ? open("/dev/null", O_WRONLY)
                             : open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    int std_out = standard_output.empty()
                      ? out
                      : open(standard_output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0 || std_out < 0) _exit(126);
    dup2(in, STDIN_FILENO);
    dup2(std_out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
    if (launch.inherited_fd >= 0) fcntl(launch.inherited_fd, F_SETFD, 0);
    execvpe(argv[0], argv.data(), envp.data());
    const char message[] = "e2e harness: exec failed\n";
    ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
    (void)ignored;
    _exit(127);
  }
  setpgid(pid, pid);  // also here, so the group exists before we might signal it
  return pid;
}

// Ends a child and everything left in its process group, and reaps it. Returns its wait status.
int StopChild(pid_t pid) {
  if (pid <= 0) return 0;
  kill(-pid, SIGTERM);
  siginfo_t info{};
  const auto deadline = Clock::now() + kTermGrace;
  while (Clock::now() < deadline) {
    info.si_pid = 0;
    if (waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid) break;
    std::this_thread::sleep_for(Milliseconds(10));
  }
  // The leader is a zombie or still alive, so its group id is still ours to signal.
  kill(-pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

bool EndsWithExe(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return tail == ".exe";
}

int g_x_error_count = 0;

int CountXError(Display*, XErrorEvent*) {
  ++g_x_error_count;
  return 0;
}

Atom InternAtom(Display* display, const char* name) { return XInternAtom(display, name, False); }

// Reads a whole property of `type` (AnyPropertyType for any) and hands its format (8, 16 or 32),
// item count and items to `use`, which must copy what it keeps; nothing happens when the window
// has no such property.
template <typename Use>
void ReadProperty(Display* display, Window window, const char* property, Atom type, Use use) {
  XErrorTrap trap(display);
  Atom actual_type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, InternAtom(display, property), 0, 1 << 20, False, type,
                         &actual_type, &format, &count, &remaining, &data) == Success &&
      data != nullptr) {
    use(format, count, static_cast<const unsigned char*>(data));
    XFree(data);
  }
}

// Reads a whole property of 32-bit items (Xlib hands them over as longs).
std::vector<long> LongListProperty(Display* display, Window window, const char* property,
                                   Atom type) {
  std::vector<long> result;
  ReadProperty(display, window, property, type,
               [&](int format, unsigned long count, const unsigned char* data) {
                 if (format == 32) {
                   const long* items = reinterpret_cast<const long*>(data);
                   result.assign(items, items + count);
                 }
               });
  return result;
}

int MaskShift(unsigned long mask) {
  int shift = 0;
  while (mask != 0 && (mask & 1) == 0) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

std::uint8_t Channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  const int shift = MaskShift(mask);
  const unsigned long max = mask >> shift;
  return static_cast<std::uint8_t>(((pixel & mask) >> shift) * 255 / max);
}

// The pixel value of a colour in the screen's default (true-colour) visual.
unsigned long PixelValue(Display* display, Rgb colour) {
  const Visual* visual = DefaultVisual(display, DefaultScreen(display));
  auto channel = [](std::uint8_t value, unsigned long mask) {
    if (mask == 0) return 0ul;
    const int shift = MaskShift(mask);
    const unsigned long max = mask >> shift;
    return ((value * max + 127) / 255) << shift;
  };
  return channel(colour.r, visual->red_mask) | channel(colour.g, visual->green_mask) |
         channel(colour.b, visual->blue_mask);
}

std::string Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// XQueryTree: the window's parent, None when the query fails, and its children into `children`
// unless that is null.
Window QueryTree(Display* display, Window window, std::vector<Window>* children) {
  XErrorTrap trap(display);
  Window root = None, parent = None;
  Window* list = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, window, &root, &parent, &list, &count) == 0) parent = None;
  if (children != nullptr && list != nullptr) children->assign(list, list + count);
  if (list != nullptr) XFree(list);
  return parent;
}

void CollectWindows(Display* display, Window window, std::vector<Window>& out) {
  out.push_back(window);
  for (Window child : Children(display, window)) CollectWindows(display, child, out);
}

}  // namespace

std::ostream& operator<<(std::ostream& out, Point p) {
  return out << "(" << p.x << ", " << p.y << ")";
}

std::ostream& operator<<(std::ostream& out, const Rect& r) {
  return out << "{x " << r.x << ", y " << r.y << ", " << r.width << " x " << r.height << "}";
}

std::ostream& operator<<(std::ostream& out, Rgb c) {
  std::ostringstream text;
  text << '#' << std::hex << std::setfill('0') << std::setw(2) << int{c.r} << std::setw(2)
       << int{c.g} << std::setw(2) << int{c.b};
  return out << text.str();
}

std::optional<std::string> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) Fail("cannot write " + path.string());
}

TemporaryFolder::TemporaryFolder(const std::string& stem) {
  std::string pattern = (fs::temp_directory_path() / (stem + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) Fail(ErrnoText("mkdtemp " + pattern));
  path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
  if (std::getenv("OZZ_E2E_KEEP") != nullptr) return;
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(path_, ignored))
    if (entry.is_directory(ignored)) chmod(entry.path().c_str(), 0700);
  fs::remove_all(path_, ignored);
}

// ---- Image ----------------------------------------------------------------------------------

std::size_t Image::Index(int x, int y) const {
  if (!Contains(x, y)) {
    Fail("pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") outside a " +
         std::to_string(width_) + " x " + std::to_string(height_) + " image");
  }
  return static_cast<std::size_t>(y) * width_ + x;
}

bool Image::SavePpm(const fs::path& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "P6\n" << width_ << " " << height_ << "\n255\n";
  for (const Rgb& c : pixels_) {
    const char bytes[3] = {static_cast<char>(c.r), static_cast<char>(c.g), static_cast<char>(c.b)};
    out.write(bytes, 3);
  }
  return static_cast<bool>(out);
}

Image LoadBmp(const fs::path& path) {
  const std::string data = ReadLog(path);
  auto u16 = [&](std::size_t at) {
    if (at + 2 > data.size()) Fail(path.string() + ": truncated BMP");
    return static_cast<unsigned>(static_cast<std::uint8_t>(data[at])) |
           static_cast<unsigned>(static_cast<std::uint8_t>(data[at + 1])) << 8;
  };
  auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  if (data.size() < 54 || data[0] != 'B' || data[1] != 'M') Fail(path.string() + ": not a BMP");
  const std::size_t pixels_at = u32(10);
  const int width = static_cast<std::int32_t>(u32(18));
  const int signed_height = static_cast<std::int32_t>(u32(22));
  if (u16(28) != 24 || u32(30) != 0 || width <= 0 || signed_height == 0) {
    Fail(path.string() + ": not an uncompressed 24-bit BMP");
  }
  const int height = std::abs(signed_height);
  const std::size_t row_bytes = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
  if (pixels_at + row_bytes * height > data.size()) Fail(path.string() + ": truncated BMP");
  Image image(width, height);
  for (int y = 0; y < height; ++y) {
    const int stored_row = signed_height > 0 ? height - 1 - y : y;
    const std::size_t row = pixels_at + row_bytes * stored_row;
    for (int x = 0; x < width; ++x) {
      const std::size_t at = row + static_cast<std::size_t>(x) * 3;
      image.Set(x, y,
                Rgb{static_cast<std::uint8_t>(data[at + 2]),
                    static_cast<std::uint8_t>(data[at + 1]), static_cast<std::uint8_t>(data[at])});
    }
  }
  return image;
}

bool WaitUntil(const std::function<bool()>& condition, Milliseconds timeout,
               Milliseconds interval) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(interval);
  }
  return condition();
}

// ---- XErrorTrap -----------------------------------------------------------------------------

XErrorTrap::XErrorTrap(Display* display)
    : display_(display), previous_handler_(nullptr), previous_error_count_(0) {
  XSync(display_, False);
  previous_handler_ = XSetErrorHandler(CountXError);
  previous_error_count_ = g_x_error_count;
}

XErrorTrap::~XErrorTrap() {
  XSync(display_, False);
  XSetErrorHandler(previous_handler_);
}

bool XErrorTrap::Failed() {
  XSync(display_, False);
  return g_x_error_count != previous_error_count_;
}

// ---- XServer --------------------------------------------------------------------------------

XServer::XServer(Options options) : options_(options), work_folder_("ozz-e2e-x") {
  try {
    StartXvfb();
    if (options_.window_manager == WindowManager::kOpenbox) StartOpenbox();
  } catch (...) {
    Stop();
    throw;
  }
}

XServer::~XServer() { Stop(); }

void XServer::Stop() {
  if (display_ != nullptr) {
    XCloseDisplay(display_);
    display_ = nullptr;
  }
  StopChild(window_manager_pid_);
  window_manager_pid_ = -1;
  StopChild(xvfb_pid_);
  xvfb_pid_ = -1;
}

void XServer::StartXvfb() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) Fail(ErrnoText("pipe"));
  const std::string screen =
      std::to_string(options_.width) + "x" + std::to_string(options_.height) + "x24";
  ChildLaunch launch;
  launch.argv = {
      "Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",          screen, "-nolisten",
      "tcp",  "-noreset",   "+extension",           "XTEST",   "+extension", "SHAPE"};
  launch.output = work_folder_.path() / "xvfb.log";
  launch.inherited_fd = fds[1];
  try {
    xvfb_pid_ = StartChild(launch);
  } catch (...) {
    close(fds[0]);
    close(fds[1]);
    throw;
  }
  close(fds[1]);

  // Xvfb writes its display number and a newline once it accepts connections.
  std::string number;
  const auto deadline = Clock::now() + kXvfbStartTimeout;
  while (number.find('\n') == std::string::npos && Clock::now() < deadline) {
    pollfd ready{fds[0], POLLIN, 0};
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
    if (poll(&ready, 1, static_cast<int>(std::max<long long>(left.count(), 1))) <= 0) continue;
    char buffer[32];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;  // Xvfb ended without telling
    number.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  if (number.find('\n') == std::string::npos) {
    Fail("Xvfb did not start:\n" + ReadLog(work_folder_.path() / "xvfb.log"));
  }
  number.erase(number.find('\n'));
  name_ = ":" + number;
  display_ = XOpenDisplay(name_.c_str());
  if (display_ == nullptr) Fail("cannot connect to Xvfb at " + name_);
  int event_base = 0, error_base = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(display_, &event_base, &error_base, &major, &minor)) {
    Fail("Xvfb at " + name_ + " has no XTEST extension");
  }
  // The server keeps root properties while a client is connected: this one stays.
  if (!options_.x_resources.empty()) {
    XChangeProperty(display_, root(), XInternAtom(display_, "RESOURCE_MANAGER", False), XA_STRING,
                    8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(options_.x_resources.data()),
                    static_cast<int>(options_.x_resources.size()));
    XSync(display_, False);
  }
}

void XServer::StartOpenbox() {
  const fs::path config_home = work_folder_.path() / "config";
  fs::create_directories(config_home / "openbox");
  const fs::path config = config_home / "openbox" / "rc.xml";
  WriteFile(config, kOpenboxConfig);
  ChildLaunch launch;
  launch.argv = {"openbox", "--sm-disable", "--config-file", config.string()};
  launch.environment = {{"DISPLAY", name_},
                        {"XDG_CONFIG_HOME", config_home.string()},
                        {"XDG_CACHE_HOME", (work_folder_.path() / "cache").string()}};
  launch.output = work_folder_.path() / "openbox.log";
  window_manager_pid_ = StartChild(launch);
  const bool running = WaitUntil(
      [&] {
        if (waitpid(window_manager_pid_, nullptr, WNOHANG) == window_manager_pid_) {
          window_manager_pid_ = -1;
          return true;
        }
        return WindowManagerIsRunning();
      },
      kWindowManagerStartTimeout, Milliseconds(20));
  if (!running || window_manager_pid_ < 0) Fail("openbox did not start:\n" + Log());
  if (!WindowManagerManagesWindows()) Fail("openbox manages no window:\n" + Log());
}

// HACK: openbox names its check window before it is ready, and a window mapped in between may
// stay unmapped for good. So a probe window is mapped, again if need be, until the window
// manager reparents it into a frame.
bool XServer::WindowManagerManagesWindows() const {
  const auto deadline = Clock::now() + kWindowManagerStartTimeout;
  while (Clock::now() < deadline) {
    const Window probe = XCreateSimpleWindow(display_, root(), 0, 0, 10, 10, 0, 0, 0);
    XClassHint hint{const_cast<char*>("ozz-e2e-probe"), const_cast<char*>("ozz-e2e-probe")};
    XSetClassHint(display_, probe, &hint);
    XMapWindow(display_, probe);
    XSync(display_, False);
    const bool framed = WaitUntil(
        [&] {
          const Window parent = Parent(display_, probe);
          return parent != None && parent != root() && IsWindowViewable(display_, probe);
        },
        Milliseconds(1000), Milliseconds(10));
    XDestroyWindow(display_, probe);
    XSync(display_, False);
    if (framed) return true;
  }
  return false;
}

// A window manager that follows the EWMH names a check window on the root, and the check window
// names itself.
bool XServer::WindowManagerIsRunning() const {
  const std::vector<long> check =
      CardinalListProperty(display_, root(), "_NET_SUPPORTING_WM_CHECK");
  if (check.size() != 1) return false;
  const Window check_window = static_cast<Window>(check[0]);
  const std::vector<long> self =
      CardinalListProperty(display_, check_window, "_NET_SUPPORTING_WM_CHECK");
  return self.size() == 1 && static_cast<Window>(self[0]) == check_window;
}

std::ostream& operator<<(std::ostream& out, XServer::WindowManager window_manager) {
  return out << (window_manager == XServer::WindowManager::kOpenbox ? "openbox"
                                                                    : "no window manager");
}

std::string TestNameOf(XServer::WindowManager window_manager) {
  return window_manager == XServer::WindowManager::kOpenbox ? "Openbox" : "NoWindowManager";
}

Window XServer::root() const { return DefaultRootWindow(display_); }

std::string XServer::Log() const {
  std::string log = "---- Xvfb " + name_ + " ----\n" + ReadLog(work_folder_.path() / "xvfb.log");
  if (has_window_manager())
    log += "---- openbox ----\n" + ReadLog(work_folder_.path() / "openbox.log");
  return log;
}

std::vector<Window> XServer::FindWindowsByClass(std::string_view part) const {
  return e2e::FindWindowsByClass(display_, part);
}

std::vector<Window> XServer::FindViewableWindowsByClass(std::string_view part) const {
  std::vector<Window> result = FindWindowsByClass(part);
  std::erase_if(result, [&](Window window) { return !IsWindowViewable(display_, window); });
  return result;
}

namespace {

// The voluntary context switches in a /proc status file; nothing if it is gone.
std::optional<long> SwitchesIn(const std::filesystem::path& status_path) {
  std::ifstream status(status_path);
  if (!status) return std::nullopt;
  constexpr std::string_view kKey = "voluntary_ctxt_switches:";
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(kKey, 0) == 0) return std::atol(line.c_str() + kKey.size());
  }
  return std::nullopt;
}

}  // namespace

std::optional<long> ContextSwitches(pid_t pid) {
  std::error_code error;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::filesystem::directory_iterator it(tasks, error);
  if (error) return std::nullopt;
  long total = 0;
  for (const auto& task : it) total += SwitchesIn(task.path() / "status").value_or(0);
  return total;
}

std::optional<long> ProcessorTicks(pid_t pid) {
  const std::optional<reliability::ProcessStat> stat = reliability::ReadStat(pid);
  return stat ? std::optional(stat->cpu_ticks) : std::nullopt;
}

std::optional<long> ThreadContextSwitches(pid_t pid, pid_t tid) {
  return SwitchesIn("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/status");
}

void XServer::MovePointer(Point to) const { e2e::MovePointer(display_, to); }

void XServer::WarpPointer(Point to) const {
  XWarpPointer(display_, None, root(), 0, 0, 0, 0, to.x, to.y);
  XSync(display_, False);
}

void XServer::MovePointerSmoothly(Point to, int steps, Milliseconds pause) const {
  const Point from = PointerPosition();
  steps = std::max(steps, 1);
  for (int i = 1; i <= steps; ++i) {
    MovePointer({from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps});
    if (i < steps) std::this_thread::sleep_for(pause);
  }
}

Point XServer::PointerPosition() const { return e2e::PointerPosition(display_); }

void XServer::PressButton(unsigned button) const {
  XTestFakeButtonEvent(display_, button, True, CurrentTime);
  XSync(display_, False);
}

void XServer::ReleaseButton(unsigned button) const {
  XTestFakeButtonEvent(display_, button, False, CurrentTime);
  XSync(display_, False);
}

void XServer::Click(unsigned button) const {
  PressButton(button);
  std::this_thread::sleep_for(Milliseconds(20));
  ReleaseButton(button);
}

void XServer::PressButtonAt(Point at, unsigned button) const {
  XTestFakeMotionEvent(display_, DefaultScreen(display_), at.x, at.y, CurrentTime);
  XTestFakeButtonEvent(display_, button, True, CurrentTime);
  XSync(display_, False);
}

void XServer::DoubleClick(unsigned button, Milliseconds gap) const {
  Click(button);
  std::this_thread::sleep_for(gap);
  Click(button);
}

Image XServer::Capture(const Rect& area) const { return e2e::Capture(display_, area); }

Rgb XServer::PixelAt(Point at) const { return Capture({at.x, at.y, 1, 1}).At(0, 0); }

// ---- ProgramCommand -------------------------------------------------------------------------

ProgramCommand ProgramCommand::Parse(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  char quote = 0;
  for (char c : text) {
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        word += c;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
      in_word = true;
    } else if (c == ' ' || c == '\t' || c == '\n') {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(std::move(word));
  if (words.empty()) Fail("empty program command");
  ProgramCommand command;
  command.executable = words.back();
  words.pop_back();
  command.launcher = std::move(words);
  return command;
}

ProgramCommand ProgramCommand::FromEnvironment() {
  const char* text = std::getenv("OZZ_PROGRAM");
  if (text == nullptr || *text == '\0') {
    Fail(
        "OZZ_PROGRAM is not set: it names the program to test, e.g. build/linux/ozzlebeck "
        "or \"wine build/windows/ozzlebeck.exe\"");
  }
  ProgramCommand command = Parse(text);
  if (!fs::is_regular_file(command.executable)) {
    Fail("OZZ_PROGRAM names no file: " + command.executable.string());
  }
  return command;
}

bool ProgramCommand::RunsUnderWine() const {
  return !launcher.empty() && fs::path(launcher.back()).filename().string().starts_with("wine");
}

bool UnderWine() {
  static const bool under_wine = [] {
    const char* text = std::getenv("OZZ_PROGRAM");
    return text != nullptr && *text != '\0' && ProgramCommand::Parse(text).RunsUnderWine();
  }();
  return under_wine;
}

const TimeLimits& Timeouts() {
  using M = Milliseconds;
  static const TimeLimits wine{M(60'000), M(10'000), M(20'000), M(60'000), M(1000)};
  static const TimeLimits native{M(20'000), M(3000), M(5000), M(10'000), M(350)};
  return UnderWine() ? wine : native;
}

User LookUpUser(const std::string& name, const std::string& group) {
  const passwd* user = getpwnam(name.c_str());
  if (user == nullptr) Fail("there is no user " + name + " to run the program as");
  const struct group* found = getgrnam(group.c_str());
  return {name, user->pw_uid, found != nullptr ? found->gr_gid : user->pw_gid};
}

// ---- Program --------------------------------------------------------------------------------

namespace {

// Makes `path` belong to `user`, as a run as that user needs.
void HandTo(const User& user, const fs::path& path) {
  if (chown(path.c_str(), user.uid, user.gid) != 0) Fail(ErrnoText("chown " + path.string()));
}

int g_wine_programs_alive = 0;
int g_program_runs = 0;

// Runs `child` to its end, stopping it after 15 s; false if it could not be started.
bool RunChild(const ChildLaunch& child) {
  pid_t pid = -1;
  try {
    pid = StartChild(child);
  } catch (const std::exception&) {
    return false;
  }
  if (!WaitUntil([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, Milliseconds(15'000),
                 Milliseconds(50))) {
    StopChild(pid);
  }
  return true;
}

// Under Wine the program leaves a wineserver (and its helpers) behind; ending it makes the next
// test independent of this one's display.
void EndWineServer(const ProgramCommand& command, const fs::path& log) {
  const fs::path wine = command.launcher.back();
  ChildLaunch launch;
  launch.argv = command.launcher;
  launch.argv.back() = wine.has_parent_path() ? (wine.parent_path() / "wineserver").string()
                                              : std::string("wineserver");
  launch.argv.push_back("-k");
  launch.output = log;
  if (!RunChild(launch)) return;
  // -k only signals; wait until the server has really gone so the next test starts a new one.
  launch.argv.back() = "-w";
  RunChild(launch);
}

}  // namespace

void SetWineLogPixels(int dpi) {
  const ProgramCommand command = ProgramCommand::FromEnvironment();
  if (!command.RunsUnderWine()) Fail("LogPixels is Wine's: OZZ_PROGRAM runs no Wine");
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix == nullptr || *prefix == '\0') Fail("LogPixels needs WINEPREFIX to name the prefix");
  if (g_wine_programs_alive != 0) Fail("LogPixels cannot change while a program runs under Wine");
  const fs::path log = fs::temp_directory_path() / "ozz-e2e-logpixels.log";
  ChildLaunch launch;
  launch.argv = command.launcher;
  for (const char* word :
       {"reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d"})
    launch.argv.emplace_back(word);
  launch.argv.push_back(std::to_string(dpi));
  launch.argv.emplace_back("/f");
  launch.unset_environment = {"DISPLAY"};  // reg opens no window
  launch.output = log;
  if (!RunChild(launch)) Fail("could not run wine reg");
  EndWineServer(command, log);
  // The saved registry must hold the value now: what the next wineserver will read.
  const std::string saved = ReadLog(fs::path(prefix) / "user.reg");
  char value[32];
  std::snprintf(value, sizeof value, "\"LogPixels\"=dword:%08x", static_cast<unsigned>(dpi));
  const std::size_t section = saved.find("[Control Panel\\\\Desktop]");
  const std::size_t found = saved.find(value, section == std::string::npos ? 0 : section);
  const std::size_t next = saved.find("\n[", section == std::string::npos ? 0 : section);
  if (section == std::string::npos || found == std::string::npos || found > next)
    Fail("the prefix's registry did not take " + std::string(value));
}

Program::Program(const XServer& server, Options options)
    : server_(server), options_(std::move(options)) {
  command_ = options_.command ? *options_.command : ProgramCommand::FromEnvironment();
  try {
    if (options_.same_copy_as != nullptr) {
      folder_ = options_.same_copy_as->folder();
      executable_ = options_.same_copy_as->executable();
    } else {
      if (!options_.folder) own_folder_.emplace("ozz-e2e-program");
      folder_ = options_.folder ? *options_.folder : own_folder_->path();
      fs::create_directories(folder_);
      executable_ = folder_ / command_.executable.filename();
      if (!fs::exists(executable_)) fs::copy_file(command_.executable, executable_);
    }
    if (options_.settings) WriteFile(SettingsPath(), *options_.settings);

    output_path_ = server_.work_folder() / ("program-" + std::to_string(++g_program_runs) + ".log");
    ChildLaunch launch;
    if (options_.user && geteuid() == 0) {
      const User& user = *options_.user;
      if (command_.RunsUnderWine())
        Fail("a run as another user under Wine needs a prefix of its own");
      // A private copy becomes theirs; a folder the caller named stays as it is.
      if (!options_.folder && (own_folder_ || options_.same_copy_as != nullptr)) {
        HandTo(user, folder_);
        HandTo(user, executable_);
      }
      launch.argv = {"setpriv", "--reuid=" + std::to_string(user.uid),
                     "--regid=" + std::to_string(user.gid), "--clear-groups", "--"};
    }
    launch.argv.insert(launch.argv.end(), command_.launcher.begin(), command_.launcher.end());
    launch.argv.push_back(executable_.string());
    launch.argv.insert(launch.argv.end(), options_.arguments.begin(), options_.arguments.end());
    launch.environment = {{"DISPLAY", server_.name()}};
    for (const auto& [name, value] : options_.environment) {
      std::erase_if(launch.environment, [&](const auto& var) { return var.first == name; });
      if (value) {
        launch.environment.emplace_back(name, *value);
      } else {
        launch.unset_environment.push_back(name);
      }
    }
    launch.output = output_path_;
    if (options_.standard_output) launch.standard_output = *options_.standard_output;
    launch.working_folder = folder_;
    pid_ = StartChild(launch);
    if (command_.RunsUnderWine()) ++g_wine_programs_alive;

    const Milliseconds timeout = options_.window_timeout.value_or(Timeouts().window);
    // Wine itself now and then fails to start a program in a fresh wineserver: it ends at once
    // with status 1 and says nothing (the Windows program never ends with 1). That start alone
    // is tried again, once, with a new wineserver.
    auto wineFailedToStart = [&] {
      return command_.RunsUnderWine() && HasExited() && *exit_status_ == 1 && Output().empty();
    };
    Window window = options_.wait_for_window ? WaitForWindow(timeout) : None;
    if (options_.wait_for_window && window == None && wineFailedToStart()) {
      std::cerr << "harness: wine ended at once with status 1; starting the program again\n";
      pid_ = -1;
      exit_status_.reset();
      if (--g_wine_programs_alive == 0) EndWineServer(command_, output_path_);
      pid_ = StartChild(launch);
      ++g_wine_programs_alive;
      window = WaitForWindow(timeout);
    }
    if (options_.wait_for_window && window == None) {
      std::string why = HasExited()
                            ? "it ended with status " + std::to_string(*exit_status_)
                            : "none appeared within " + std::to_string(timeout.count()) + " ms";
      Fail("the program showed no viewable window of class \"" + options_.window_class + "\" (" +
           why + ")\n---- program output ----\n" + Output() + server_.Log());
    }
  } catch (...) {
    Stop();
    throw;
  }
}

Program::~Program() { Stop(); }

void Program::Stop() {
  if (pid_ > 0) {
    Kill();
    if (command_.RunsUnderWine() && --g_wine_programs_alive == 0) {
      EndWineServer(command_, output_path_);
    }
    pid_ = -1;
  }
  own_folder_.reset();
}

Window Program::WaitForWindow(Milliseconds timeout) {
  window_ = None;
  WaitUntil(
      [&] {
        const std::vector<Window> windows =
            server_.FindViewableWindowsByClass(options_.window_class);
        if (!windows.empty()) {
          // With several copies running, prefer the window that names our process.
          window_ = windows.front();
          for (Window window : windows) {
            const std::vector<long> owner =
                CardinalListProperty(server_.display(), window, "_NET_WM_PID");
            if (owner.size() == 1 && owner[0] == pid_) window_ = window;
          }
          return true;
        }
        return HasExited();
      },
      timeout, Milliseconds(50));
  return window_;
}

std::optional<Rect> Program::ClientRect() const {
  if (window_ == None) return std::nullopt;
  Display* display = server_.display();
  Window client = window_;
  // Wine may keep the client area in a child of its top-level window.
  for (;;) {
    std::vector<Window> children = Children(display, client);
    std::erase_if(children, [&](Window child) { return !IsWindowViewable(display, child); });
    if (children.size() != 1) break;
    client = children.front();
  }
  return RootRect(display, client);
}

bool Program::HasExited() {
  if (exit_status_) return true;
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    exit_status_ = DecodeStatus(status);
    return true;
  }
  return false;
}

bool Program::WaitForExit(Milliseconds timeout) {
  return WaitUntil([&] { return HasExited(); }, timeout, Milliseconds(20));
}

std::optional<int> Program::ExitStatus() {
  HasExited();
  return exit_status_;
}

fs::path Program::SettingsPath() const {
  std::string name = executable_.filename().string();
  if (EndsWithExe(name)) {
    name.replace(name.size() - 3, 3, "ini");
  } else {
    name += ".ini";
  }
  return folder_ / name;
}

std::optional<std::string> Program::ReadSettings() const {
  if (!fs::exists(SettingsPath())) return std::nullopt;
  return ReadFile(SettingsPath());
}

std::string Program::Output() const { return output_path_.empty() ? "" : ReadLog(output_path_); }

std::string Program::StandardOutput() const {
  return options_.standard_output ? ReadLog(*options_.standard_output) : "";
}

void Program::Kill() {
  if (pid_ <= 0) return;
  if (HasExited()) {
    kill(-pid_, SIGKILL);  // helpers it may have left in its group
    return;
  }
  exit_status_ = DecodeStatus(StopChild(pid_));
}

// ---- PlainWindow ----------------------------------------------------------------------------

PlainWindow::PlainWindow(const XServer& server, Options options) : server_(server) {
  Display* display = server_.display();
  XSetWindowAttributes attributes{};
  attributes.background_pixel = PixelValue(display, options.colour);
  attributes.border_pixel = 0;
  attributes.override_redirect = options.override_redirect ? True : False;
  attributes.event_mask = options.event_mask;
  window_ = XCreateWindow(
      display, server_.root(), options.area.x, options.area.y,
      static_cast<unsigned>(std::max(options.area.width, 1)),
      static_cast<unsigned>(std::max(options.area.height, 1)), 0, CopyFromParent, InputOutput,
      CopyFromParent, CWBackPixel | CWBorderPixel | CWOverrideRedirect | CWEventMask, &attributes);
  XClassHint hint{const_cast<char*>("ozz-e2e-plain"), const_cast<char*>("ozz-e2e-plain")};
  XSetClassHint(display, window_, &hint);
  // A window manager honours a place the user chose (USPosition) instead of finding its own.
  XSizeHints* size = XAllocSizeHints();
  size->flags = USPosition | USSize;
  size->x = options.area.x;
  size->y = options.area.y;
  size->width = options.area.width;
  size->height = options.area.height;
  XSetWMNormalHints(display, window_, size);
  XFree(size);
  XMapRaised(display, window_);
  XSync(display, False);
  if (!WaitUntil([&] { return IsWindowViewable(display, window_); }, Milliseconds(10'000))) {
    XDestroyWindow(display, window_);
    XSync(display, False);
    Fail("a plain test window did not become viewable on " + server_.name());
  }
}

PlainWindow::~PlainWindow() {
  XErrorTrap trap(server_.display());
  XDestroyWindow(server_.display(), window_);
}

std::optional<Rect> PlainWindow::Area() const { return RootRect(server_.display(), window_); }

void PlainWindow::Raise() const {
  XRaiseWindow(server_.display(), window_);
  XSync(server_.display(), False);
}

void PlainWindow::Lower() const {
  XLowerWindow(server_.display(), window_);
  XSync(server_.display(), False);
}

std::vector<Point> PlainWindow::TakeButtonPresses() const {
  std::vector<Point> presses;
  XEvent event{};
  while (XCheckTypedWindowEvent(server_.display(), window_, ButtonPress, &event)) {
    presses.push_back({event.xbutton.x_root, event.xbutton.y_root});
  }
  return presses;
}

// ---- Free functions -------------------------------------------------------------------------

void MovePointer(Display* display, Point to) {
  XTestFakeMotionEvent(display, DefaultScreen(display), to.x, to.y, CurrentTime);
  XSync(display, False);
}

Point PointerPosition(Display* display) {
  Window root = None, child = None;
  int root_x = 0, root_y = 0, x = 0, y = 0;
  unsigned mask = 0;
  XQueryPointer(display, DefaultRootWindow(display), &root, &child, &root_x, &root_y, &x, &y,
                &mask);
  return {root_x, root_y};
}

std::vector<Window> FindWindowsByClass(Display* display, std::string_view part) {
  std::vector<Window> all;
  CollectWindows(display, DefaultRootWindow(display), all);
  std::vector<Window> result;
  for (Window window : all) {
    const auto wm_class = WmClass(display, window);
    if (wm_class && (wm_class->first.find(part) != std::string::npos ||
                     wm_class->second.find(part) != std::string::npos)) {
      result.push_back(window);
    }
  }
  return result;
}

// Off-screen parts of `area` read as black.
Image Capture(Display* display, const Rect& area) {
  Image image(std::max(area.width, 0), std::max(area.height, 0));
  const int screen = DefaultScreen(display);
  const int left = std::max(area.x, 0);
  const int top = std::max(area.y, 0);
  const int right = std::min(area.x + area.width, DisplayWidth(display, screen));
  const int bottom = std::min(area.y + area.height, DisplayHeight(display, screen));
  if (right <= left || bottom <= top) return image;
  XImage* shot =
      XGetImage(display, DefaultRootWindow(display), left, top, static_cast<unsigned>(right - left),
                static_cast<unsigned>(bottom - top), AllPlanes, ZPixmap);
  if (shot == nullptr) Fail(std::string("XGetImage failed on ") + DisplayString(display));
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      const unsigned long pixel = XGetPixel(shot, x - left, y - top);
      image.Set(x - area.x, y - area.y,
                Rgb{Channel(pixel, shot->red_mask), Channel(pixel, shot->green_mask),
                    Channel(pixel, shot->blue_mask)});
    }
  }
  XDestroyImage(shot);
  return image;
}

std::optional<std::pair<std::string, std::string>> WmClass(Display* display, Window window) {
  XErrorTrap trap(display);
  XClassHint hint{};
  if (XGetClassHint(display, window, &hint) == 0) return std::nullopt;
  std::pair<std::string, std::string> result(hint.res_name ? hint.res_name : "",
                                             hint.res_class ? hint.res_class : "");
  if (hint.res_name) XFree(hint.res_name);
  if (hint.res_class) XFree(hint.res_class);
  return result;
}

bool IsWindowViewable(Display* display, Window window) {
  XErrorTrap trap(display);
  XWindowAttributes attributes{};
  return XGetWindowAttributes(display, window, &attributes) != 0 &&
         attributes.map_state == IsViewable;
}

std::optional<Rect> RootRect(Display* display, Window window) {
  XErrorTrap trap(display);
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display, window, &attributes) == 0) return std::nullopt;
  int x = 0, y = 0;
  Window child = None;
  if (!XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child)) {
    return std::nullopt;
  }
  if (trap.Failed()) return std::nullopt;
  return Rect{x, y, attributes.width, attributes.height};
}

std::vector<Window> Children(Display* display, Window window) {
  std::vector<Window> children;
  QueryTree(display, window, &children);
  return children;
}

Window Parent(Display* display, Window window) { return QueryTree(display, window, nullptr); }

std::vector<std::string> AtomListProperty(Display* display, Window window, const char* property) {
  std::vector<std::string> names;
  for (long atom : LongListProperty(display, window, property, XA_ATOM)) {
    XErrorTrap trap(display);
    char* name = XGetAtomName(display, static_cast<Atom>(atom));
    if (name != nullptr) {
      names.emplace_back(name);
      XFree(name);
    }
  }
  return names;
}

std::vector<long> CardinalListProperty(Display* display, Window window, const char* property) {
  return LongListProperty(display, window, property, AnyPropertyType);
}

std::optional<std::vector<Rect>> BoundingShape(Display* display, Window window) {
  int event_base = 0, error_base = 0;
  if (!XShapeQueryExtension(display, &event_base, &error_base)) return std::nullopt;
  XErrorTrap trap(display);
  int count = 0, ordering = 0;
  XRectangle* rectangles = XShapeGetRectangles(display, window, ShapeBounding, &count, &ordering);
  std::vector<Rect> result;
  for (int i = 0; i < count; ++i) {
    result.push_back(
        Rect{rectangles[i].x, rectangles[i].y, rectangles[i].width, rectangles[i].height});
  }
  if (rectangles != nullptr) XFree(rectangles);
  if (trap.Failed()) return std::nullopt;
  return result;
}

bool HasBoundingShape(Display* display, Window window) {
  int event_base = 0, error_base = 0;
  if (!XShapeQueryExtension(display, &event_base, &error_base)) return false;
  XErrorTrap trap(display);
  Bool bounding_shaped = False, clip_shaped = False;
  int x = 0, y = 0, clip_x = 0, clip_y = 0;
  unsigned width = 0, height = 0, clip_width = 0, clip_height = 0;
  const Status ok = XShapeQueryExtents(display, window, &bounding_shaped, &x, &y, &width, &height,
                                       &clip_shaped, &clip_x, &clip_y, &clip_width, &clip_height);
  return ok != 0 && !trap.Failed() && bounding_shaped;
}

bool ShapeContains(const std::vector<Rect>& shape, Point p) {
  return std::any_of(shape.begin(), shape.end(), [&](const Rect& r) { return r.Contains(p); });
}

std::optional<std::string> IniValue(std::string_view text, std::string_view section,
                                    std::string_view key) {
  bool in_section = false;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string line = Trimmed(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.starts_with('[')) {
      const std::size_t close = line.find(']');
      in_section =
          close != std::string::npos &&
          SameTextIgnoringCase(Trimmed(std::string_view(line).substr(1, close - 1)), section);
      continue;
    }
    const std::size_t equals = line.find('=');
    if (in_section && equals != std::string::npos &&
        SameTextIgnoringCase(Trimmed(std::string_view(line).substr(0, equals)), key)) {
      return Trimmed(std::string_view(line).substr(equals + 1));
    }
  }
  return std::nullopt;
}

void KeepScreen(const XServer& server, std::string name) {
  const char* folder = std::getenv("OZZ_E2E_ARTIFACTS");
  if (folder == nullptr || *folder == '\0') return;
  for (char& c : name) {
    if (c == '/' || c == ' ') c = '_';
  }
  std::error_code error;
  fs::create_directories(folder, error);
  const fs::path path = fs::path(folder) / (name + ".screen.ppm");
  if (!error && server.Capture({0, 0, server.width(), server.height()}).SavePpm(path)) {
    std::cout << "screen saved to " << path.string() << "\n";
  }
}

}  // namespace e2e

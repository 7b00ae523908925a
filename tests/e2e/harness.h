// End-to-end test harness: a private X server, the program under test, and the means to look at
// the screen and to drive the pointer the way a user would.
//
// Every test gets its own Xvfb (the server picks a free display number itself), optionally with
// openbox managing its windows, and runs a fresh copy of the program in a temporary folder, so
// the settings file beside it is private to the test. The program's command comes from the
// environment variable OZZ_PROGRAM: its last word is the executable to copy, the words before it
// a launcher (for example `wine`). Nothing here depends on which backend the program was built
// with: windows are found by WM_CLASS, geometry is read in root coordinates and pixels are read
// from the root window, so frames, reparenting and Wine's own windows do not matter.
//
// Start with XServer and Program; the free functions below them work on any Display*.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace e2e {

using Milliseconds = std::chrono::milliseconds;

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

// A rectangle in root-window pixels (or relative to a window, where a function says so).
struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Rect&) const = default;
  bool Contains(Point p) const {
    return p.x >= x && p.y >= y && p.x < x + width && p.y < y + height;
  }
};

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& out, Point p);
std::ostream& operator<<(std::ostream& out, const Rect& r);
std::ostream& operator<<(std::ostream& out, Rgb c);  // as #rrggbb

// A plain RGB picture: a screen capture or a loaded bitmap.
class Image {
 public:
  Image() = default;
  Image(int width, int height) : width_(width), height_(height), pixels_(Size(width, height)) {}

  int width() const { return width_; }
  int height() const { return height_; }
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  Rgb At(int x, int y) const { return pixels_[Index(x, y)]; }
  void Set(int x, int y, Rgb c) { pixels_[Index(x, y)] = c; }
  bool operator==(const Image&) const = default;

  // Writes a binary PPM, which every image viewer and ImageMagick read; for failure artifacts.
  bool SavePpm(const std::filesystem::path& path) const;

 private:
  static std::size_t Size(int w, int h) { return static_cast<std::size_t>(w) * h; }
  std::size_t Index(int x, int y) const;

  int width_ = 0;
  int height_ = 0;
  std::vector<Rgb> pixels_;
};

// Reads an uncompressed 24-bit BMP (bottom-up or top-down rows). Throws std::runtime_error.
Image LoadBmp(const std::filesystem::path& path);

// The whole file, bytes as they are; nothing when it cannot be read.
std::optional<std::string> ReadFile(const std::filesystem::path& path);
// Writes `content` as the whole file. Throws std::runtime_error.
void WriteFile(const std::filesystem::path& path, std::string_view content);

// A folder of its own under the system's temporary folder, removed with all it holds when the
// object goes (kept when OZZ_E2E_KEEP is set); folders made unwritable inside are opened first.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(const std::string& stem);  // throws std::runtime_error
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Calls `condition` every `interval` until it returns true or `timeout` has passed; returns
// whether it became true. The condition always runs at least once, and once more at the end.
bool WaitUntil(const std::function<bool()>& condition, Milliseconds timeout,
               Milliseconds interval = Milliseconds(20));

// Catches the X errors of the requests made during its lifetime instead of letting Xlib end the
// test process (a window may vanish between two requests). Syncs on creation and destruction.
class XErrorTrap {
 public:
  explicit XErrorTrap(Display* display);
  ~XErrorTrap();
  XErrorTrap(const XErrorTrap&) = delete;
  XErrorTrap& operator=(const XErrorTrap&) = delete;

  // Syncs, then tells whether any request since the trap was set failed.
  bool Failed();

 private:
  Display* display_;
  XErrorHandler previous_handler_;
  int previous_error_count_;
};

// A private Xvfb, optionally with openbox, and a connection to it. Everything it started is
// killed in the destructor (each child runs in its own process group and is also killed by the
// kernel if the test process dies).
class XServer {
 public:
  enum class WindowManager { kNone, kOpenbox };
  struct Options {
    WindowManager window_manager = WindowManager::kNone;
    int width = 1920;
    int height = 1080;
    // Written to the root window's RESOURCE_MANAGER once the server runs, as `xrdb -merge`
    // leaves it (lines "name:\tvalue"), e.g. "Xft.dpi:\t192\n" as a desktop at 2x sets.
    std::string x_resources;
  };

  explicit XServer(Options options);  // throws std::runtime_error when anything fails to start
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  Display* display() const { return display_; }
  pid_t pid() const { return xvfb_pid_; }            // the Xvfb process
  const std::string& name() const { return name_; }  // ":N", the value of DISPLAY for clients
  Window root() const;
  int width() const { return options_.width; }
  int height() const { return options_.height; }
  bool has_window_manager() const { return options_.window_manager != WindowManager::kNone; }
  const std::filesystem::path& work_folder() const { return work_folder_.path(); }

  // The server's and the window manager's own output, for failure messages.
  std::string Log() const;

  // FindWindowsByClass on this server.
  std::vector<Window> FindWindowsByClass(std::string_view part) const;
  // Only those of them that are mapped and viewable.
  std::vector<Window> FindViewableWindowsByClass(std::string_view part) const;

  // MovePointer on this server.
  void MovePointer(Point to) const;
  // Warps the pointer as a program does (XWarpPointer): no device moved, so no raw motion.
  void WarpPointer(Point to) const;
  // Moves in `steps` even steps from the current position, `pause` between them.
  void MovePointerSmoothly(Point to, int steps = 10, Milliseconds pause = Milliseconds(10)) const;
  Point PointerPosition() const;

  // Mouse buttons through XTest; 1 is the left button.
  void PressButton(unsigned button = 1) const;
  void ReleaseButton(unsigned button = 1) const;
  void Click(unsigned button = 1) const;
  // Moves the pointer and presses in one go: no other client's request runs in between, so a
  // program polling the pointer never sees it resting at `at` with the button up.
  void PressButtonAt(Point at, unsigned button = 1) const;
  // Two clicks `gap` apart, well inside any double-click time.
  void DoubleClick(unsigned button = 1, Milliseconds gap = Milliseconds(80)) const;

  // Capture on this server.
  Image Capture(const Rect& area) const;
  Rgb PixelAt(Point at) const;

 private:
  void StartXvfb();
  void StartOpenbox();
  void Stop();
  bool WindowManagerIsRunning() const;
  bool WindowManagerManagesWindows() const;

  Options options_;
  TemporaryFolder work_folder_;
  std::string name_;
  pid_t xvfb_pid_ = -1;
  pid_t window_manager_pid_ = -1;
  Display* display_ = nullptr;
};

std::ostream& operator<<(std::ostream& out, XServer::WindowManager window_manager);
// A name fit for a parameterised test: "NoWindowManager" or "Openbox".
std::string TestNameOf(XServer::WindowManager window_manager);

// A window of one plain colour made by a test: a desktop for the program's cut-away surround to
// show, a target for the clicks that fall through it, or a window to cover the program with.
// Destroyed with the object.
class PlainWindow {
 public:
  struct Options {
    Rect area;  // where its own area (inside any frame) should be, in root coordinates
    Rgb colour;
    // Keeps a window manager's hands off it: no frame, no placement, no restacking.
    bool override_redirect = false;
    // Events for TakeButtonPresses, e.g. ButtonPressMask.
    long event_mask = NoEventMask;
  };

  // Maps the window and waits until it is viewable; throws std::runtime_error if it is not.
  PlainWindow(const XServer& server, Options options);
  ~PlainWindow();
  PlainWindow(const PlainWindow&) = delete;
  PlainWindow& operator=(const PlainWindow&) = delete;

  Window window() const { return window_; }
  // Its own area in root coordinates, where a window manager really put it.
  std::optional<Rect> Area() const;
  // XRaiseWindow, XLowerWindow; under a window manager these become requests it carries out.
  void Raise() const;
  void Lower() const;
  // Where the button presses it received since the last call happened, in root coordinates.
  std::vector<Point> TakeButtonPresses() const;

 private:
  const XServer& server_;
  Window window_ = None;
};

// A user to run the program as, one whom file permissions bind.
struct User {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};

// The user `name` with the group `group` (or, without such a group, the user's own), looked up
// in the system's databases. Throws std::runtime_error when there is no such user.
User LookUpUser(const std::string& name = "nobody", const std::string& group = "nogroup");

// Variables added to a program's environment or replaced in it or, with no value, removed.
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

// How to start the program: OZZ_PROGRAM split into a launcher and the executable.
struct ProgramCommand {
  std::vector<std::string> launcher;  // e.g. {"wine"}; empty for a native executable
  std::filesystem::path executable;

  // Parses OZZ_PROGRAM (words separated by blanks; "double quotes" keep blanks in a word).
  // Throws std::runtime_error when the variable is missing or names no file.
  static ProgramCommand FromEnvironment();
  static ProgramCommand Parse(std::string_view text);
  bool RunsUnderWine() const;
};

// Whether OZZ_PROGRAM runs the program under Wine; false when it is unset (a test that names its
// own program, as the package check does).
bool UnderWine();

// Under Wine: sets the DPI that Wine reports to the programs it starts from now on (LogPixels of
// the prefix's HKCU\Control Panel\Desktop; 96 is Wine's own), then ends the wineserver so that
// the registry is saved and the next program's wineserver reads the new value. Call it while no
// program runs under Wine. Throws std::runtime_error when the prefix did not take the value.
void SetWineLogPixels(int dpi);

// How long the tests wait for what the program does; a Windows build under Wine, started cold in
// a fresh wineserver and driven through Wine's own loops, takes several times longer.
struct TimeLimits {
  Milliseconds window;     // from the start to a viewable window
  Milliseconds placement;  // to be put, moved or painted, by the program, Wine or a window manager
  Milliseconds exit;       // to end after a double-click
  Milliseconds second_copy;  // a generous bound on the life of a copy that must end at once
  Milliseconds quiet;        // to show it does nothing: several 70 ms ticks
};
// The limits for the program under test.
const TimeLimits& Timeouts();

// One run of the program on an XServer, from a private copy of its executable.
class Program {
 public:
  struct Options {
    // Written as the settings file beside the copy before it starts, when set.
    std::optional<std::string> settings;
    std::vector<std::string> arguments;
    // Start() waits for a viewable window of this WM_CLASS part, unless wait_for_window is false.
    std::string window_class = "ozzlebeck";
    bool wait_for_window = true;
    // Defaults to Timeouts().window.
    std::optional<Milliseconds> window_timeout;
    // Runs the same copy (same folder, same settings file) as another program, e.g. to start a
    // second copy of one installation.
    const Program* same_copy_as = nullptr;
    // Defaults to OZZ_PROGRAM.
    std::optional<ProgramCommand> command;
    // When the tests run as root, runs the program as this user (through setpriv), with a
    // private copy handed to them, so that file permissions bind it. Not under Wine, whose
    // prefix belongs to the user running the tests.
    std::optional<User> user;
    // Runs the program from this folder (made if missing; the executable is copied into it
    // unless it is there already) instead of a private one. The folder stays the caller's.
    std::optional<std::filesystem::path> folder;
    // Changes to the program's environment (DISPLAY too), after DISPLAY is set to the server.
    Environment environment;
    // Where standard output goes instead of to Output() with standard error, e.g. /dev/full.
    std::optional<std::filesystem::path> standard_output;
  };

  // Copies, starts and (by default) waits for the window; throws std::runtime_error when the
  // program cannot be started or shows no window in time.
  Program(const XServer& server, Options options);
  ~Program();  // kills the program if it still runs, and removes the private copy
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  pid_t pid() const { return pid_; }
  const std::filesystem::path& executable() const { return executable_; }
  const std::filesystem::path& folder() const { return folder_; }

  // The program's window (the first viewable one of its class), found by Start or WaitForWindow.
  Window window() const { return window_; }
  // Waits for a viewable window of the program's class; None if none came in time or the program
  // ended first.
  Window WaitForWindow(Milliseconds timeout);
  // The window's client area in root coordinates (for Wine, a child holding the client area if
  // the top-level window has one).
  std::optional<Rect> ClientRect() const;

  // Non-blocking: has the process ended (it is reaped on the first call that sees it)?
  bool HasExited();
  bool WaitForExit(Milliseconds timeout);
  // The exit code, or 128 + signal number when a signal ended it; nothing while it runs.
  std::optional<int> ExitStatus();

  // The settings file beside the executable: its name with ".exe" replaced by ".ini", or ".ini"
  // appended when it has no such extension.
  std::filesystem::path SettingsPath() const;
  std::optional<std::string> ReadSettings() const;

  // What the program (and its launcher) wrote to stderr, and to stdout unless that went to
  // Options::standard_output.
  std::string Output() const;
  // What it wrote to Options::standard_output; empty when that is not set.
  std::string StandardOutput() const;

  // Ends the program: SIGTERM to its process group, SIGKILL if that is not enough; under Wine
  // also ends the prefix's wineserver so the next test starts clean.
  void Kill();

 private:
  void Stop();

  const XServer& server_;
  Options options_;
  ProgramCommand command_;
  std::filesystem::path folder_;
  std::optional<TemporaryFolder> own_folder_;  // the private copy's
  std::filesystem::path executable_;
  std::filesystem::path output_path_;
  pid_t pid_ = -1;
  std::optional<int> exit_status_;
  Window window_ = None;
};

// How often the threads of process `pid` have gone to sleep so far (voluntary context switches
// from /proc): each one is a wake-up to come. Being preempted by another process on a busy
// machine is no wake-up and is not counted; a thread that never sleeps shows in
// ProcessorTicks instead. Nothing when the process is gone.
std::optional<long> ContextSwitches(pid_t pid);
// The same for one thread of it, `tid` (the main thread's is the process's own pid).
std::optional<long> ThreadContextSwitches(pid_t pid, pid_t tid);
// The processor time process `pid` has used so far, user and system, in clock ticks (1/100 s
// on Linux). Nothing when the process is gone.
std::optional<long> ProcessorTicks(pid_t pid);

// The pointer, moved by a real (XTest) motion event, as a mouse would.
void MovePointer(Display* display, Point to);
Point PointerPosition(Display* display);  // in root coordinates
// Windows (at any depth) whose WM_CLASS name or class contains `part`, in stacking order.
std::vector<Window> FindWindowsByClass(Display* display, std::string_view part);
// Pixels of the root window (what is on the screen) inside `area`, clipped to the screen.
Image Capture(Display* display, const Rect& area);

// WM_CLASS as (res_name, res_class).
std::optional<std::pair<std::string, std::string>> WmClass(Display* display, Window window);
bool IsWindowViewable(Display* display, Window window);
// The window's own area (inside any border) in root coordinates.
std::optional<Rect> RootRect(Display* display, Window window);
std::vector<Window> Children(Display* display, Window window);
// The window's parent; None when it has none or is gone.
Window Parent(Display* display, Window window);

// A property holding atoms (e.g. _NET_WM_STATE), as atom names; empty if missing.
std::vector<std::string> AtomListProperty(Display* display, Window window, const char* property);
// A property holding 32-bit numbers (CARDINAL, WINDOW, ...); empty if missing.
std::vector<long> CardinalListProperty(Display* display, Window window, const char* property);

// The window's bounding shape as rectangles relative to the window's own origin; an unshaped
// window yields one rectangle covering it. Nothing if the SHAPE extension is missing.
std::optional<std::vector<Rect>> BoundingShape(Display* display, Window window);
// Whether the window's bounding region has been set with the SHAPE extension.
bool HasBoundingShape(Display* display, Window window);
bool ShapeContains(const std::vector<Rect>& shape, Point p);

// The value of `key` in `section` of an INI text, read as Windows reads it: names match without
// regard to case, blanks around names and values do not count, the first match wins. Nothing if
// the section or the key is missing.
std::optional<std::string> IniValue(std::string_view text, std::string_view section,
                                    std::string_view key);

// Keeps the whole screen of `server` as <OZZ_E2E_ARTIFACTS>/<name>.screen.ppm when that variable
// names a folder, and says where on stdout.
void KeepScreen(const XServer& server, std::string name);

}  // namespace e2e

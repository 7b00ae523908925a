#include "startup/app_modul.h"

#include <algorithm>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "platform/conversions.h"
#include "platform/errors.h"
#include "platform/form.h"
#include "platform/win32_api.h"
#include "watcher/f_mouse_watch.h"

namespace AppModul {
namespace {

using runtime::CLng;
using runtime::ResumeNext;

// The first-run place: the top edge of the screen, centred horizontally. Screen and window
// widths are rounded to whole twips first and halved with truncating division.
void PlaceAtTopCentre(fMouseWatch& watcher) {
  ResumeNext([&] { watcher.SetTop(0); });
  ResumeNext([&] {
    const std::int32_t screen = CLng(runtime::Screen::Width());
    const std::int32_t width = CLng(watcher.Width());
    watcher.SetLeft(static_cast<float>(runtime::Sub32(screen / 2, width / 2)));
  });
}

// The side of the smallest square of face, in pixels, that a hand can take hold of with the
// mouse: less than that of the dog on the screen and the user cannot reach it.
constexpr int GrabSize = 16;

// The monitors' rectangles, screen pixels; none when the system does not say.
std::vector<RECT> Monitors() {
  std::vector<RECT> monitors;
  EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR, HDC, LPRECT area, LPARAM data) -> BOOL {
        reinterpret_cast<std::vector<RECT>*>(data)->push_back(*area);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

// True when a GrabSize x GrabSize square of the window's visible face (its region, or the
// whole window when it has none) lies on one monitor. Each row of the part on a monitor counts,
// for every column, how many face pixels end there going up; a square fits where GrabSize
// columns side by side all reach GrabSize. When the system cannot tell where the window or the
// monitors are, the window stays where it is.
bool Grabbable(fMouseWatch& watcher) {
  RECT window{};
  if (!GetWindowRect(watcher.hWnd(), &window)) return true;
  const std::vector<RECT> monitors = Monitors();
  if (monitors.empty()) return true;

  // A copy of the window's region, freed however this ends.
  struct Region {
    HRGN handle = CreateRectRgn(0, 0, 0, 0);
    ~Region() {
      if (handle != nullptr) DeleteObject(handle);
    }
  } const face;
  if (face.handle == nullptr) return true;
  const bool shaped = GetWindowRgn(watcher.hWnd(), face.handle) != RGN_ERROR;
  bool found = false;
  for (const RECT& monitor : monitors) {
    if (window.left >= monitor.left && window.top >= monitor.top && window.right <= monitor.right &&
        window.bottom <= monitor.bottom) {
      found = true;  // the whole dog is on this monitor
      break;
    }
    // The part of the window on this monitor, in window pixels.
    const int left = std::max(monitor.left, window.left) - window.left;
    const int top = std::max(monitor.top, window.top) - window.top;
    const int right = std::min(monitor.right, window.right) - window.left;
    const int bottom = std::min(monitor.bottom, window.bottom) - window.top;
    if (right - left < GrabSize || bottom - top < GrabSize) continue;
    std::vector<int> heights(static_cast<std::size_t>(right - left), 0);
    for (int y = top; y < bottom && !found; ++y) {
      int across = 0;
      for (int x = left; x < right && !found; ++x) {
        int& height = heights[static_cast<std::size_t>(x - left)];
        height = !shaped || PtInRegion(face.handle, x, y) ? height + 1 : 0;
        across = height >= GrabSize ? across + 1 : 0;
        found = across >= GrabSize;
      }
    }
    if (found) break;
  }
  return found;
}

}  // namespace

void Main() {
  // A second copy ends at once: nothing read, nothing shown, nothing written.
  bool previous = false;
  ResumeNext([&] { previous = runtime::App::PrevInstance(); });
  if (previous) {
    runtime::End();
    return;
  }

  ResumeNext([&] { Commands::InitEnvironment(); });
  ResumeNext([&] { Commands::InitProfile(); });
  std::string savedTop;
  std::string savedLeft;
  ResumeNext([&] {
    savedTop = Commands::ReadProfileString(Commands::IniSection, "Top", Commands::IniFile, "");
  });
  ResumeNext([&] {
    savedLeft = Commands::ReadProfileString(Commands::IniSection, "Left", Commands::IniFile, "");
  });

  // The default instance; its first property access below loads it (shaped and top-most).
  fMouseWatch* watcher = nullptr;
  ResumeNext([&] { watcher = &fMouseWatch::Default(); });
  if (watcher == nullptr) return;

  if (savedTop.empty() && savedLeft.empty()) {
    PlaceAtTopCentre(*watcher);
  } else {
    ResumeNext([&] { watcher->SetTop(runtime::CSng(runtime::Val(savedTop))); });
    ResumeNext([&] { watcher->SetLeft(runtime::CSng(runtime::Val(savedLeft))); });
    // A place remembered on a monitor that is gone or was larger may leave nothing of the dog
    // on the screens, or too little to take hold of; since only a double-click ends the
    // program, it would be out of reach. Such a place gives the first-run place instead; the
    // file keeps its values until the next double-click.
    ResumeNext([&] {
      if (!Grabbable(*watcher)) PlaceAtTopCentre(*watcher);
    });
  }

  ResumeNext([&] { watcher->Show(); });
}

}  // namespace AppModul

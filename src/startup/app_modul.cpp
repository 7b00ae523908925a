#include "startup/app_modul.h"

#include <string>

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

// True when some part of the window lies on the virtual screen (all monitors together).
bool OnScreen(fMouseWatch& watcher) {
  RECT window{};
  if (!GetWindowRect(watcher.hWnd(), &window)) return true;
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int right = left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int bottom = top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
  return window.left < right && window.right > left && window.top < bottom && window.bottom > top;
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
    // A place remembered on a monitor that is gone would leave the window out of sight and,
    // since only a double-click ends the program, out of reach. The file keeps its values.
    ResumeNext([&] {
      if (!OnScreen(*watcher)) PlaceAtTopCentre(*watcher);
    });
  }

  ResumeNext([&] { watcher->Show(); });
}

}  // namespace AppModul

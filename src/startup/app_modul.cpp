#include "startup/app_modul.h"

#include <string>

#include "commands/commands.h"
#include "platform/conversions.h"
#include "platform/errors.h"
#include "platform/form.h"
#include "watcher/f_mouse_watch.h"

namespace AppModul {

using runtime::ResumeNext;

void Main() {
  // Until start-up proper lands: the watcher window at the top edge of the screen, centred.
  fMouseWatch* watcher = nullptr;
  ResumeNext([&] { watcher = &fMouseWatch::Default(); });
  if (watcher == nullptr) return;
  ResumeNext([&] { watcher->SetTop(0); });
  ResumeNext([&] {
    const std::int32_t screen = runtime::CLng(runtime::Screen::Width());
    const std::int32_t width = runtime::CLng(watcher->Width());
    watcher->SetLeft(static_cast<float>(runtime::Sub32(screen / 2, width / 2)));
  });
  ResumeNext([&] { watcher->Show(); });
}

}  // namespace AppModul

// App, Screen, End and the event loop: the executable's folder and name from its path, the
// screen's width in twips, and the rest passed straight to the backend.
#include "platform/application.h"

#include "platform/backend.h"
#include "platform/conversions.h"

namespace runtime {
namespace {

// Splits the executable's path at its last folder separator.
std::size_t LastSeparator(const std::string& path) {
#if defined(_WIN32)
  return path.find_last_of("\\/");
#else
  return path.find_last_of('/');
#endif
}

}  // namespace

bool App::PrevInstance() { return platform::IsPreviousInstanceRunning(); }

std::string App::Path() {
  const std::string path = platform::ExecutablePath();
  const std::size_t cut = LastSeparator(path);
  if (cut == std::string::npos) return {};
  // A folder at the root keeps its separator ("C:\", "/"), as the system spells roots.
  const bool root = cut == 0 || (cut == 2 && path[1] == ':');
  return path.substr(0, root ? cut + 1 : cut);
}

std::string App::EXEName() {
  const std::string path = platform::ExecutablePath();
  const std::size_t cut = LastSeparator(path);
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

float Screen::Width() {
  return CSng(static_cast<double>(platform::ScreenWidthPixels()) * TwipsPerPixelX());
}

int Screen::TwipsPerPixelX() { return platform::TwipsPerPixelX(); }
int Screen::TwipsPerPixelY() { return platform::TwipsPerPixelY(); }

void End() { platform::EndProgram(); }

void RunEventLoop() { platform::RunEventLoop(); }

}  // namespace runtime

// The application-wide objects of the form runtime: App (this copy of the program), Screen (the
// screen and its twips), End and the event loop. Each asks the backend of the build (backend.h).
#pragma once

#include <string>

namespace runtime {

// Application-wide objects.
struct App {
  static bool PrevInstance();
  static std::string Path();     // the executable's folder, no trailing separator but at a root
  static std::string EXEName();  // the executable's file name without its extension
};

struct Screen {
  static float Width();  // twips
  static int TwipsPerPixelX();
  static int TwipsPerPixelY();
};

// Ends the program at once.
void End();

// Runs the event loop until the program ends.
void RunEventLoop();

}  // namespace runtime

// Ozzlebeck: a dog's face whose eyes follow the mouse cursor.
//
// Start-up (AppModul::Main) shows the watcher window; from then on the event loop drives the
// program through the window's timer and mouse events until a double-click ends it.
#include "platform/form.h"
#include "startup/app_modul.h"

int main() {
  AppModul::Main();
  runtime::RunEventLoop();
  return 0;
}

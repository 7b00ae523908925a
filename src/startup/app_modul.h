// AppModul: the program's start-up.
#pragma once

namespace AppModul {

// Ends a second copy at once; otherwise prepares the environment and settings names, and
// shows the watcher window where it stood last time, or at the top edge of the screen,
// centred, the first time. Returns with the window open; the event loop takes over.
void Main();

}  // namespace AppModul

// Where the pointer is on a Wayland desktop, from the compositor itself.
//
// Under XWayland an X program learns the pointer only while it is over an X window; everywhere
// else the X server keeps answering with the last place it saw. KWin and GNOME Shell know it
// everywhere, and tell it over the session bus:
//   - KWin runs a small script the program loads at start-up (data/ozzlebeck/ozzlebeck-pointer.js,
//     shipped beside the program). It is loaded under a name of this user and display, from a
//     private copy in $XDG_RUNTIME_DIR that names this program's bus connection as the only
//     receiver, and unloaded when the program ends; one left loaded by a run that crashed is
//     unloaded first.
//   - GNOME Shell runs the extension the package installs (data/gnome-shell/), once the user has
//     enabled it. Without it the program says once on stderr how to turn it on, and goes on as
//     on X11. It never changes the shell's settings itself.
// Both send a position only when the pointer moved, at most one per tick, and nothing at rest.
// Messages are taken only from the compositor's own connection (the owner of org.kde.KWin or
// org.gnome.Shell), so no other client can steer the eyes.
//
// libdbus-1 is loaded at run time (dbus_library.h), and only on a Wayland session: on X11 this
// module loads nothing and Start returns false at once.
#pragma once

#include <optional>

#include "platform/x11/compositor_choice.h"

namespace x11 {

// Starts listening to the compositor of this session, if it can tell where the pointer is.
// `display` is the X display's name (DISPLAY). False leaves nothing open: the program then asks
// the X server as on X11.
bool StartCompositorPointer(const char* display);

// True between a successful start and the end, or until the compositor leaves the bus.
bool CompositorPointerActive();

// The descriptors to wait on while active (the bus, and the pipe ending signals write to), -1
// for none. Then ReadCompositorPointer when either is readable.
int CompositorPointerDescriptor();
int CompositorEndSignalDescriptor();

// Reads what came on the bus: true when the position changed. A signal that ends the program
// (SIGTERM, SIGINT, SIGHUP) ends listening and then the program, by the same signal.
bool ReadCompositorPointer();

// The last position the compositor gave, in the X11 root coordinates of a root window of the
// given size; nothing before the first or after the end.
std::optional<RootPoint> CompositorPointerAt(int rootWidth, int rootHeight);

// Unloads the KWin script, deletes its private copy and leaves the bus. Safe to call more than
// once, and from an X I/O error handler.
void EndCompositorPointer();

}  // namespace x11

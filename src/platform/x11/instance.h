// One copy per executable, user and display, decided by the X server itself.
//
// A running copy owns a selection named for the program, the user and the executable's real
// path; a copy that starts while another owns it ends. The server keeps the
// ownership and drops it when the owner's connection closes, however the program ends, so no
// file, folder or environment variable takes part, and two names of one display (":1" and
// "unix:1") reach the same owner.
#pragma once

#include <X11/Xlib.h>

#include <string>

namespace x11 {

// "_OZZLEBECK_U<uid>_<hash>", the hash (64-bit FNV-1a of `realPath`, hexadecimal): the
// selection that stands for that executable run by that user. The host is left out on purpose:
// a host name can change while a copy runs, and a second copy must not slip through then.
std::string InstanceSelectionName(unsigned long uid, const std::string& realPath);

// Makes a window of this connection the owner of `selection` unless some window already owns
// it. The test and the taking happen under a server grab, so of several connections trying at
// once exactly one wins. True when this connection now owns the selection; it keeps it until it
// closes.
bool ClaimSelection(Display* display, const std::string& selection);

// ClaimSelection for this process: its user and the real path of `exePath`.
bool ClaimInstance(Display* display, const std::string& exePath);

}  // namespace x11

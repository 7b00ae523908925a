#!/usr/bin/env python3
"""Moves the X pointer to X Y with an XTest motion event, as a mouse would.

    xtest_move.py X Y

`xdotool mousemove` warps the pointer instead, which moves no input device; programs that
follow the devices (Ozzlebeck while the pointer rests) only notice a warp later. Needs libX11
and libXtst; DISPLAY names the server.
"""

import ctypes
import ctypes.util
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: xtest_move.py X Y")
    x, y = int(sys.argv[1]), int(sys.argv[2])
    names = {name: ctypes.util.find_library(name) for name in ("X11", "Xtst")}
    missing = [name for name, path in names.items() if path is None]
    if missing:
        sys.exit("xtest_move.py: lib%s not found" % " lib".join(missing))
    xlib, xtst = ctypes.CDLL(names["X11"]), ctypes.CDLL(names["Xtst"])
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                          ctypes.c_int, ctypes.c_ulong]
    display = xlib.XOpenDisplay(None)
    if not display:
        sys.exit("xtest_move.py: cannot open the display")
    xtst.XTestFakeMotionEvent(display, -1, x, y, 0)  # -1: the screen the pointer is on
    xlib.XSync(display, 0)
    xlib.XCloseDisplay(display)


if __name__ == "__main__":
    main()

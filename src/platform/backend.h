// The contract between the form runtime and a window-system backend: everything a backend owes,
// on this one page.
//
// Exactly one backend is linked into a build (src/platform/x11, win32 or headless). It owes two
// things: the services the form runtime itself needs (namespace platform: a native window for a
// form, showing the form's pixels, timers, the event loop and the end of the program), and,
// elsewhere than on Windows, the Win32-named window services the program calls (GetCursorPos,
// SetWindowRgn, ...), which on Windows are user32's own. It reports native events back through
// the form's and timer's Raise* entries and nothing else. What a backend needs beyond this stays
// in its own folder (the headless backend's test controls are in headless/headless.h).
//
// Positions are screen pixels of the window's outer top-left corner; drawing is in client
// pixels. All these pixels are 96-dpi pixels, whatever the desktop's scale, except the form's
// display image (Form::Display*, TakeDirty, DisplayShape), which is in display pixels: a backend
// that shows forms at a scale other than 1 converts between the two at its edge
// (display_scale.h).
#pragma once

#include <string>

#include "platform/display_scale.h"
#include "platform/win32_api.h"

namespace runtime {
class Form;
class Timer;
}  // namespace runtime

// --- The form runtime's services ------------------------------------------------------------

namespace platform {

// The scale at which a form's window is first shown: 1 where the window system scales the
// program itself or the desktop is not scaled. The X11 backend reads it once for the run. Where
// a window's scale may change while it runs (on Windows, a move to a monitor of another scale),
// the backend then calls the form's RaiseScaleChanged, before it shows anything at the new
// scale, and afterwards sizes the window to the form's display size, makes the shape of the
// region the program set again at the new scale (Form::DisplayShape) and lets a tick run even
// at rest, so the eyes are drawn again at display pixels.
DisplayScale GetDisplayScale();

// Creates the form's window, hidden, with a client area of the form's display size (display
// pixels), no border and no caption, at the screen origin. The window reports its input to `form`.
HWND CreateFormWindow(runtime::Form& form);

// Destroys a form's window; the form is going away.
void DestroyFormWindow(HWND window);

// Makes the window visible without activating it or waiting for it to appear.
void ShowFormWindow(HWND window);

// The form drew into its surface: the backend shows the changed pixels before it next waits.
void InvalidateFormWindow(HWND window);

// Starts calling timer.RaiseTimer() every timer.Interval() milliseconds; stops it again.
// Starting a running timer restarts its period. A backend may leave out the ticks whose inputs
// (the cursor, the window rectangles) are what the ticks before them read (rest_gate.h).
void StartTimer(runtime::Timer& timer);
void StopTimer(runtime::Timer& timer);

// Width of the primary screen, pixels, and how many twips make a pixel on each axis.
int ScreenWidthPixels();
int TwipsPerPixelX();
int TwipsPerPixelY();

// Dispatches events and timer ticks until the program ends.
void RunEventLoop();

// Ends the program at once: no further event or timer tick is delivered. The real backends do
// not return from it; the headless one records it and ignores all later input.
void EndProgram();

// The full path of the running executable, in the system's own spelling.
std::string ExecutablePath();

// True when another copy of this executable already runs for this user and session. The first
// call decides, and this copy then holds its claim until it ends.
bool IsPreviousInstanceRunning();

}  // namespace platform

// --- The Win32-named window services --------------------------------------------------------
// The program calls these by their Win32 names, and win32_api.h declares them for it with the
// rest of the Win32 subset the program uses. On Windows they are user32's own; elsewhere the
// backend provides them, with Win32's contract for the calls the program makes. The rest of that
// subset is not the backend's: system colours, regions, long paths and profiles are portable
// code (src/platform/posix).
#if !defined(_WIN32)

// The cursor's place, screen pixels; FALSE when the pointer is on another screen.
BOOL GetCursorPos(POINT* point);

// The window's outer rectangle, screen pixels.
BOOL GetWindowRect(HWND window, RECT* rect);

// Moves the window (screen pixels), sizes it, and puts it above all other windows with
// HWND_TOPMOST, as SWP_NOMOVE, SWP_NOSIZE, SWP_NOZORDER and SWP_NOACTIVATE allow.
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);

// The program calls it before a caption press, as Win32 programs do.
BOOL ReleaseCapture();

// Answers WM_NCLBUTTONDOWN with HTCAPTION, sent while the left button is down on the window:
// a caption press, which moves the window with the pointer until the button comes up.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Cuts the window to `region` (window pixels). The window owns the region once the call
// succeeds (non-zero); on failure it stays the caller's.
int SetWindowRgn(HWND window, HRGN region, BOOL redraw);

// Copies the window's region (window pixels) into `region`; RGN_ERROR when it has none.
int GetWindowRgn(HWND window, HRGN region);

// Screen sizes, pixels; the virtual screen spans all monitors.
int GetSystemMetrics(int index);

// Each monitor of the desktop in turn, its rectangle in screen pixels (no device context, no
// clipping are used).
BOOL EnumDisplayMonitors(HDC dc, LPCRECT clip, MONITORENUMPROC callback, LPARAM data);

#endif

// The contract between the form runtime and a window-system backend.
//
// Exactly one backend is linked into a build (src/platform/x11, win32 or headless). Besides the
// Win32-named services of win32_api.h, a backend provides only what the form runtime itself
// needs: a native window for a form, showing the form's pixels, timers, the event loop and the
// end of the program. It reports native events back through the form's and timer's Raise*
// entries and nothing else. Positions are screen pixels of the window's outer top-left corner;
// drawing is in client pixels.
//
// All these pixels are 96-dpi pixels, whatever the desktop's scale, except the form's display
// image (Form::Display*, TakeDirty, DisplayShape), which is in display pixels: a backend that
// shows forms at a scale other than 1 converts between the two at its edge (display_scale.h).
#pragma once

#include <string>

#include "platform/display_scale.h"
#include "platform/win32_api.h"

namespace runtime {
class Form;
class Timer;
}  // namespace runtime

namespace platform {

// The scale at which forms are shown, read once and fixed for the run: 1 where the window
// system scales the program itself (Windows) or the desktop is not scaled.
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

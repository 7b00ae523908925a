// The process's DPI awareness and the windows' DPI on Windows, through functions newer than
// Windows 7, which are looked up at run time so the program still starts where they are missing.
#pragma once

#include "platform/display_scale.h"
#include "platform/win32_api.h"

namespace win32 {

// Asks for per-monitor awareness (version 2, else version 1), else system awareness, once. The
// manifest asks first; a level the system refuses, or one already set, is no failure: the
// program then runs at whatever awareness it got, and the DPI it is told says the scale.
void DeclareDpiAwareness();

// The window's DPI, or the system's where the system cannot say for one window.
UINT WindowDpi(HWND window);

// The DPI of the primary monitor as the process sees it (96 where it is not DPI aware).
UINT SystemDpi();

// The scale at `dpi`: dpi / 96 rounded to a quarter, from 1x to 3x.
inline platform::DisplayScale ScaleAtDpi(UINT dpi) {
  return platform::DisplayScale::FromFactor(dpi / 96.0);
}

}  // namespace win32

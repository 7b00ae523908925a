#include "trimmer/c_trimmer.h"

#include "platform/conversions.h"
#include "platform/errors.h"

using runtime::Add32;
using runtime::CLng;

void cTrimmer::GrabForm(runtime::Form& frm) {
  ReleaseCapture();
  SendMessageA(frm.hWnd(), WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void cTrimmer::TrimForm(runtime::Form& frm) {
  if (frm.GetPicture().Handle() == 0) return;

  const std::int16_t savedScaleMode = frm.ScaleMode();
  const bool savedAutoRedraw = frm.AutoRedraw();
  // With AutoRedraw on, Point reads the persistent image, which holds the picture whether or
  // not the window has been shown yet.
  frm.SetAutoRedraw(true);
  frm.SetScaleMode(runtime::vbPixels);

  const COLORREF transparent = frm.Point(0, 0);
  COLORREF back = frm.BackColor();
  if (back & 0x80000000u) back = GetSysColor(static_cast<int>(back & 0x7FFFFFFFu));

  WorkRegion = CreateRectRgn(0, 0, 0, 0);
  try {
    std::int32_t start = -1;
    const std::int32_t lastY = CLng(frm.ScaleHeight() - 1);
    for (std::int32_t y = 0; y <= lastY; y = Add32(y, 1)) {
      const std::int32_t lastX = CLng(frm.ScaleWidth() - 1);
      std::int32_t x = 0;
      for (; x <= lastX; x = Add32(x, 1)) {
        const COLORREF c = frm.Point(static_cast<float>(x), static_cast<float>(y));
        if (c == back) break;  // the background colour ends the row
        if (c != transparent) {
          if (start == -1) start = x;  // a run of visible pixels opens
        } else if (start > -1) {
          AddRun(start, y, x, Add32(y, 1));  // the open run ends just before this pixel
        }
      }
      if (start > -1) AddRun(start, y, x, Add32(y, 1));
    }
  } catch (...) {
    // The region never reached the window: it is still ours to free.
    DeleteObject(WorkRegion);
    WorkRegion = nullptr;
    throw;
  }

  // On success the window owns the region; only a refused one is still ours to free.
  if (SetWindowRgn(frm.hWnd(), WorkRegion, TRUE) == 0) DeleteObject(WorkRegion);
  WorkRegion = nullptr;

  frm.SetScaleMode(savedScaleMode);
  frm.SetAutoRedraw(savedAutoRedraw);
}

void cTrimmer::AddRun(std::int32_t& start, std::int32_t y, std::int32_t x, std::int32_t yNext) {
  RunRegion = CreateRectRgn(start, y, x, yNext);
  CombineRgn(WorkRegion, WorkRegion, RunRegion, RGN_OR);
  DeleteObject(RunRegion);
  start = -1;
}

// cTrimmer cuts a borderless form to the outline of its picture and lets the user drag the
// form by any visible point as if by a caption.
#pragma once

#include <cstdint>

#include "platform/form.h"
#include "platform/win32_api.h"

class cTrimmer {
 public:
  // Hands the current left-button press to the window system as a caption press, which moves
  // the window with the mouse until the button is released. Passes failures on.
  void GrabForm(runtime::Form& frm);

  // Makes only the pixels of the form's picture that differ from its top-left pixel visible
  // and clickable; a pixel of the background colour ends its row. Nothing happens for a form
  // without a picture. Passes failures on.
  void TrimForm(runtime::Form& frm);

 private:
  // Adds columns start..x-1 of rows y..yNext-1 to WorkRegion and closes the run (start = -1).
  void AddRun(std::int32_t& start, std::int32_t y, std::int32_t x, std::int32_t yNext);

  HRGN WorkRegion = nullptr;
  HRGN RunRegion = nullptr;
};

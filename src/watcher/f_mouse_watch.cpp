#include "watcher/f_mouse_watch.h"

#include <cmath>

#include "commands/commands.h"
#include "platform/conversions.h"
#include "platform/errors.h"
#include "watcher/resources.h"

namespace {

using runtime::Add32;
using runtime::CheckFloat;
using runtime::CSng;
using runtime::ResumeNext;
using runtime::Sub32;

// The window as designed: 1980 x 2385 twips of client area (132 x 159 pixels), no border,
// drawing in pixels with solid fill, a white background that the picture never uses.
runtime::FormDesign WatcherDesign() {
  runtime::FormDesign design;
  design.clientWidthTwips = 1980;
  design.clientHeightTwips = 2385;
  design.scaleMode = runtime::vbPixels;
  design.fillStyle = runtime::vbFSSolid;
  design.fillColor = 0x00FFFFC0;
  design.backColor = 0x00FFFFFF;
  design.autoRedraw = false;
  design.caption = "Form1";
  design.picture = runtime::Picture::FromBmp(resources::PictureBmp());
  design.icon = resources::IconArgb();
  design.scaledPicture = &resources::ScaledPictureBmp;
  return design;
}

// Distance between two screen points, each difference a guarded 32-bit subtraction.
double Distance(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  const double dx = Sub32(x1, x2);
  const double dy = Sub32(y1, y2);
  return CheckFloat(std::sqrt(std::pow(dx, 2.0) + std::pow(dy, 2.0)));
}

std::unique_ptr<fMouseWatch>& DefaultInstance() {
  static std::unique_ptr<fMouseWatch> instance;
  return instance;
}

}  // namespace

fMouseWatch::fMouseWatch()
    : runtime::Form(WatcherDesign()),
      tmr(*this, TrackerIntervalMs, true, [this] { tmr_Timer(); }) {}

fMouseWatch& fMouseWatch::Default() {
  auto& instance = DefaultInstance();
  if (!instance) instance = std::make_unique<fMouseWatch>();
  return *instance;
}

void fMouseWatch::ResetDefault() { DefaultInstance().reset(); }

// The eye tracker, in resume-next mode: each statement that fails is abandoned alone, so a
// value whose computation overflowed keeps what the previous tick left in it.
void fMouseWatch::tmr_Timer() {
  ResumeNext([&] { GetWindowRect(hWnd(), &WindowRect); });
  ResumeNext([&] { Eye1X = Add32(WindowRect.left, EyeLeftX); });
  ResumeNext([&] { Eye1Y = Add32(WindowRect.top, EyeLeftY); });
  ResumeNext([&] { Eye2X = Add32(WindowRect.left, EyeRightX); });
  ResumeNext([&] { Eye2Y = Add32(WindowRect.top, EyeRightY); });
  ResumeNext([&] { GetCursorPos(&CursorPos); });

  ResumeNext([&] { Dist1 = Distance(Eye1X, Eye1Y, CursorPos.x, CursorPos.y); });
  ResumeNext([&] { Dist2 = Distance(Eye2X, Eye2Y, CursorPos.x, CursorPos.y); });
  // A cursor exactly on an eye centre gives a zero direction, never a division by zero.
  ResumeNext([&] {
    if (Dist1 == 0.0) Dist1 = 1.0;
  });
  ResumeNext([&] {
    if (Dist2 == 0.0) Dist2 = 1.0;
  });

  // Unit vectors from the cursor to each eye centre.
  ResumeNext([&] { Dir1Y = CheckFloat(Sub32(Eye1Y, CursorPos.y) / Dist1); });
  ResumeNext([&] { Dir1X = CheckFloat(Sub32(Eye1X, CursorPos.x) / Dist1); });
  ResumeNext([&] { Dir2Y = CheckFloat(Sub32(Eye2Y, CursorPos.y) / Dist2); });
  ResumeNext([&] { Dir2X = CheckFloat(Sub32(Eye2X, CursorPos.x) / Dist2); });

  // Solid eye discs paint over the previous tick's pupils, then the pupils go on top, each
  // moved PupilShift pixels against its direction vector, i.e. towards the cursor.
  ResumeNext([&] { SetFillColor(EyeColour); });
  ResumeNext([&] { Circle(EyeLeftX, EyeLeftY, EyeRadius, EyeColour); });
  ResumeNext([&] { Circle(EyeRightX, EyeRightY, EyeRadius, EyeColour); });
  ResumeNext([&] { SetFillColor(PupilColour); });
  ResumeNext([&] {
    Circle(CSng(EyeLeftX - PupilShift * Dir1X), CSng(EyeLeftY - PupilShift * Dir1Y), PupilRadius,
           PupilColour);
  });
  ResumeNext([&] {
    Circle(CSng(EyeRightX - PupilShift * Dir2X), CSng(EyeRightY - PupilShift * Dir2Y), PupilRadius,
           PupilColour);
  });
}

// Loading: cut the window to the face, then keep it above all other windows without moving,
// resizing or activating it. Resume-next mode: a failed shaping leaves the window rectangular
// but still top-most.
void fMouseWatch::Load() {
  ResumeNext([&] {
    if (!Trimmer) Trimmer = std::make_unique<cTrimmer>();
  });
  ResumeNext([&] { Trimmer->TrimForm(*this); });
  ResumeNext([&] {
    SetWindowPos(hWnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  });
}

// The left button alone drags the window by its body; other buttons do nothing. Failures
// pass on to the runtime.
void fMouseWatch::MouseDown(std::int16_t Button, std::int16_t /*Shift*/, float /*X*/, float /*Y*/) {
  if (Button == runtime::vbLeftButton) {
    if (!Trimmer) Trimmer = std::make_unique<cTrimmer>();
    Trimmer->GrabForm(*this);
  }
}

// A double-click remembers where the window stands and ends the program at once.
void fMouseWatch::DblClick() {
  ResumeNext([&] {
    Commands::WriteProfileString(Commands::IniSection, "Top", runtime::SingleText(Top()),
                                 Commands::IniFile);
  });
  ResumeNext([&] {
    Commands::WriteProfileString(Commands::IniSection, "Left", runtime::SingleText(Left()),
                                 Commands::IniFile);
  });
  ResumeNext([&] { runtime::End(); });
}

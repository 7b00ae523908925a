// fMouseWatch: the program's only window. A borderless window showing the dog's picture, cut
// to the outline of the face when it loads, whose timer `tmr` repaints two eyes every 70 ms
// with their pupils shifted towards the mouse cursor (the eye tracker, tmr_Timer).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/form.h"
#include "platform/win32_api.h"
#include "trimmer/c_trimmer.h"

// Eye geometry in client pixels, and the eyes' colours (0x00BBGGRR).
inline constexpr std::int32_t EyeLeftX = 32;
inline constexpr std::int32_t EyeLeftY = 72;
inline constexpr std::int32_t EyeRightX = 82;
inline constexpr std::int32_t EyeRightY = 72;
inline constexpr float EyeRadius = 7;
inline constexpr float PupilRadius = 5;
inline constexpr double PupilShift = 2;  // pixels the pupil centre moves from the eye centre
inline constexpr COLORREF EyeColour = 0x00FFF8F8;
inline constexpr COLORREF PupilColour = 0;

// The timer's period: about fourteen redraws a second.
inline constexpr int TrackerIntervalMs = 70;

class fMouseWatch : public runtime::Form {
 public:
  fMouseWatch();

  // The default instance, created on first use; start-up takes it. Tests reset it.
  static fMouseWatch& Default();
  static void ResetDefault();

  runtime::Timer tmr;

  // Instance variables, in declaration order: the trimmer, then the eye tracker's values,
  // kept between ticks and fully recomputed on each.
  std::unique_ptr<cTrimmer> Trimmer;
  POINT CursorPos{};
  RECT WindowRect{};
  std::int32_t Eye1X = 0;
  std::int32_t Eye1Y = 0;
  std::int32_t Eye2X = 0;
  std::int32_t Eye2Y = 0;
  double Dist1 = 0;
  double Dist2 = 0;
  double Dir1Y = 0;
  double Dir1X = 0;
  double Dir2Y = 0;
  double Dir2X = 0;

 protected:
  void Load() override;
  void MouseDown(std::int16_t Button, std::int16_t Shift, float X, float Y) override;
  void DblClick() override;

 private:
  void tmr_Timer();
};

// The watcher window as the tests see it: its size, where its eyes are and what colours they
// have, where it opens on a first start, the picture it shows, and how a test finds its pupils
// in a capture. All places are in client pixels (relative to the window's client area) unless a
// function says otherwise.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <vector>

#include "harness.h"

namespace e2e {

// The client area.
inline constexpr int kClientWidth = 132;
inline constexpr int kClientHeight = 159;
// The program keeps its place in twips, 15 to a pixel.
inline constexpr int kTwipsPerPixel = 15;
// The settings file's section.
inline constexpr const char* kSection = "Tavik's Ozzlebeck";
// The point of the face the tests take the window by: above and between the eyes, so the left
// pupil looks up and right at it, the right one up and left.
inline constexpr Point kGrip{57, 30};

// The painted eyes: their centres, their radius, the bluish white of the eye and the black of
// the pupil (and of the picture's surround).
inline constexpr Point kLeftEye{32, 72};
inline constexpr Point kRightEye{82, 72};
inline constexpr int kEyeRadius = 7;
inline constexpr Rgb kEyeColour{0xF8, 0xF8, 0xFF};
inline constexpr Rgb kBlack{0, 0, 0};

// Pupils are found as the pure-black pixels inside the eye: half a pixel inside the painted rim,
// so that no picture pixel can count, whichever way circles are rasterised.
inline constexpr double kPupilSearchRadius = kEyeRadius - 0.5;
// A pupil of radius 5 has about 80 pixels; fewer means the eye is being redrawn.
inline constexpr int kMinimumPupilPixels = 40;
// Within this distance of the black pixels' centroid a pupil (radius 5) is black all through;
// a ring, or a pupil half painted over, is not.
inline constexpr double kPupilCoreRadius = 3.5;

// The picture the program shows: OZZ_PICTURE when set, else the one in the source tree.
std::filesystem::path PicturePath();

// Where the client area opens on a first start without settings on `server`, in root
// coordinates: at the top edge, centred, computed in twips as the program does.
Point FirstRunPlace(const XServer& server);

Point operator+(Point a, Point b);
Point operator-(Point a, Point b);

// A pupil's place relative to its eye's centre, in client pixels.
struct Offset {
  double dx = 0;
  double dy = 0;
};

// "(dx, dy)" with two decimals, or "(no pupil found)".
std::ostream& operator<<(std::ostream& out, const std::optional<Offset>& offset);

// The centroid of the pupil in `client` (a capture of the client area) around the eye centre
// `eye`: the pure-black pixels within kPupilSearchRadius of it. Nothing when there are fewer
// than kMinimumPupilPixels of them, as while the eye is half drawn, or when they are no filled
// disc (a pixel within kPupilCoreRadius of the centroid is not black).
std::optional<Offset> PupilOffset(const Image& client, Point eye);

// Both pupils of one capture.
struct Pupils {
  std::optional<Offset> left;
  std::optional<Offset> right;
};

std::ostream& operator<<(std::ostream& out, const Pupils& pupils);

// The pupils in `client`, a capture of the client area; neither when the capture is not of the
// whole client area (the window is gone or off the screen).
Pupils FindPupils(const Image& client);

// The points of `points` (client pixels) at which `shown`, a capture of the client area, is not
// the same as `picture`.
std::vector<Point> Mismatches(const Image& shown, const Image& picture,
                              const std::vector<Point>& points);

// Whether the client point `p` is within two pixels of either eye: there the eyes' drawing,
// not the picture, decides the colour.
bool NearAnEye(Point p);

}  // namespace e2e

// The watcher window as the tests see it (see watcher_view.h).
#include "watcher_view.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace e2e {

std::filesystem::path PicturePath() {
  if (const char* path = std::getenv("OZZ_PICTURE")) return path;
  return OZZ_PICTURE_BMP;
}

Point FirstRunPlace(const XServer& server) {
  const int screen_twips = server.width() * kTwipsPerPixel;
  const int window_twips = kClientWidth * kTwipsPerPixel;
  return {(screen_twips / 2 - window_twips / 2) / kTwipsPerPixel, 0};
}

Point operator+(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
Point operator-(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }

std::ostream& operator<<(std::ostream& out, const std::optional<Offset>& offset) {
  if (!offset) return out << "(no pupil found)";
  std::ostringstream text;
  text.precision(2);
  text << std::fixed << "(" << offset->dx << ", " << offset->dy << ")";
  return out << text.str();
}

std::optional<Offset> PupilOffset(const Image& client, Point eye) {
  double sum_x = 0, sum_y = 0;
  int count = 0;
  for (int y = eye.y - kEyeRadius; y <= eye.y + kEyeRadius; ++y) {
    for (int x = eye.x - kEyeRadius; x <= eye.x + kEyeRadius; ++x) {
      if (std::hypot(x - eye.x, y - eye.y) > kPupilSearchRadius) continue;
      if (client.At(x, y) != kBlack) continue;
      sum_x += x - eye.x;
      sum_y += y - eye.y;
      ++count;
    }
  }
  if (count < kMinimumPupilPixels) return std::nullopt;
  const Offset offset{sum_x / count, sum_y / count};
  // A pupil is filled: around its centre every pixel is black, where a ring would be hollow.
  const double cx = eye.x + offset.dx, cy = eye.y + offset.dy;
  for (int y = eye.y - kEyeRadius; y <= eye.y + kEyeRadius; ++y) {
    for (int x = eye.x - kEyeRadius; x <= eye.x + kEyeRadius; ++x) {
      if (std::hypot(x - cx, y - cy) <= kPupilCoreRadius && client.At(x, y) != kBlack) {
        return std::nullopt;
      }
    }
  }
  return offset;
}

std::ostream& operator<<(std::ostream& out, const Pupils& pupils) {
  return out << "left pupil " << pupils.left << ", right pupil " << pupils.right;
}

Pupils FindPupils(const Image& client) {
  if (client.width() != kClientWidth || client.height() != kClientHeight) return {};
  return {PupilOffset(client, kLeftEye), PupilOffset(client, kRightEye)};
}

std::vector<Point> Mismatches(const Image& shown, const Image& picture,
                              const std::vector<Point>& points) {
  std::vector<Point> wrong;
  for (Point p : points) {
    if (shown.At(p.x, p.y) != picture.At(p.x, p.y)) wrong.push_back(p);
  }
  return wrong;
}

bool NearAnEye(Point p) {
  return std::hypot(p.x - kLeftEye.x, p.y - kLeftEye.y) <= kEyeRadius + 2 ||
         std::hypot(p.x - kRightEye.x, p.y - kRightEye.y) <= kEyeRadius + 2;
}

}  // namespace e2e

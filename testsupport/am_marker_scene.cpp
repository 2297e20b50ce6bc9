#include "testsupport/am_marker_scene.h"

#include <algorithm>
#include <cmath>

#include "camera/camera_model.h"

namespace {

Matrix Vec(float* p, int32_t n) { return Matrix{1, n, p}; }

void Project(const AMMarkerScene& s, float x, float y, float* row, float* col) {
  SceneCamera c = s.cam;
  float w[3] = {x, y, 0.0f}, px[2] = {-1, -1};
  Matrix W{3, 1, w}, P{2, 1, px}, K{3, 3, c.K}, D = Vec(c.D, 8), R = Vec(c.r, 3), T = Vec(c.T, 3);
  CameraModel_ProjectPoints(c.model, &W, &R, &T, &K, &D, &P, nullptr, nullptr, nullptr, nullptr, nullptr, c.slot);
  *col = px[0];
  *row = px[1];
}

// Grey level of ground point (x, y) of the unturned pair.
uint8_t Level(const AMMarkerScene& s, float x, float y) {
  const float A = static_cast<float>(s.a), hb = s.b / 2.0f;
  for (int m = 0; m < 2; ++m) {
    const float cx = (m == 0 ? -1.0f : 1.0f) * (hb + A / 2.0f);
    const float dx = std::fabs(x - cx), dy = std::fabs(y);
    if (dx <= A * s.inner / 2.0f && dy <= A * s.inner / 2.0f) return s.light;
    if (dx <= A / 2.0f && dy <= A / 2.0f) return s.dark;
  }
  return s.floor;
}

}  // namespace

AMMarkerScene AMMarkerScene_Make(const SceneCamera& intrinsics, float distance, float height) {
  AMMarkerScene s;
  s.cam = intrinsics;
  const float pos[3] = {0.0f, distance, -height}, at[3] = {0, 0, 0}, up[3] = {0, 0, -1};
  SceneCamera_LookAt(&s.cam, pos, at, up);
  return s;
}

void AMMarkerScene_Centre(const AMMarkerScene& s, float angle, int32_t marker, float* row, float* col) {
  const float x = (marker == 0 ? -1.0f : 1.0f) * (s.b / 2.0f + s.a / 2.0f);
  Project(s, x * std::cos(angle), x * std::sin(angle), row, col);
}

std::vector<uint8_t> AMMarkerScene_Render(const AMMarkerScene& s, float angle, bool visible) {
  std::vector<uint8_t> img(static_cast<size_t>(s.width) * s.height, s.floor);
  if (!visible) return img;
  // Pixel box of the pair: its outer corners projected, with a margin.
  const float reach = s.b / 2.0f + s.a, half = s.a / 2.0f;
  float r0 = 1e9f, r1 = -1e9f, c0 = 1e9f, c1 = -1e9f;
  for (float x : {-reach, reach})
    for (float y : {-half, half}) {
      float row, col;
      Project(s, x * std::cos(angle) - y * std::sin(angle), x * std::sin(angle) + y * std::cos(angle), &row, &col);
      r0 = std::min(r0, row);
      r1 = std::max(r1, row);
      c0 = std::min(c0, col);
      c1 = std::max(c1, col);
    }
  const int32_t R0 = std::max(static_cast<int32_t>(r0) - 8, 0), R1 = std::min(static_cast<int32_t>(r1) + 8, s.height);
  const int32_t C0 = std::max(static_cast<int32_t>(c0) - 8, 0), C1 = std::min(static_cast<int32_t>(c1) + 8, s.width);
  if (R1 <= R0 || C1 <= C0) return img;
  const int32_t ss = std::max(s.supersample, 1);
  const int32_t n = (R1 - R0) * (C1 - C0) * ss * ss;
  std::vector<float> pix(2 * static_cast<size_t>(n)), ground(3 * static_cast<size_t>(n));
  size_t i = 0;
  for (int32_t r = R0; r < R1; ++r)
    for (int32_t c = C0; c < C1; ++c)
      for (int32_t sy = 0; sy < ss; ++sy)
        for (int32_t sx = 0; sx < ss; ++sx) {
          pix[i++] = c + (sx + 0.5f) / ss - 0.5f;
          pix[i++] = r + (sy + 0.5f) / ss - 0.5f;
        }
  SceneCamera cam = s.cam;
  Matrix P{2, n, pix.data()}, G{3, n, ground.data()}, K{3, 3, cam.K}, D = Vec(cam.D, 8), R = Vec(cam.r, 3),
      T = Vec(cam.T, 3);
  CameraModel_ImageToRay(cam.model, &P, &G, &K, &D, &R, &T, cam.slot, 0.0f);
  const float ca = std::cos(angle), sa = std::sin(angle);
  i = 0;
  for (int32_t r = R0; r < R1; ++r)
    for (int32_t c = C0; c < C1; ++c) {
      float sum = 0.0f;
      for (int32_t k = 0; k < ss * ss; ++k, ++i) {
        const float x = ground[3 * i], y = ground[3 * i + 1];
        // Back into the unturned pair's frame.
        sum += Level(s, x * ca + y * sa, -x * sa + y * ca);
      }
      img[static_cast<size_t>(r) * s.width + c] = static_cast<uint8_t>(std::lround(sum / (ss * ss)));
    }
  return img;
}

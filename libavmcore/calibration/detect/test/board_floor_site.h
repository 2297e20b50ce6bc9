#pragma once
// Floors of axis-aligned chessboards for the layout finders' tests: boards
// laid at a layout's world points on the patch site (same cameras, LUT
// object and profile handling), and the pose check of the calibration road.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include "testsupport/floor_render.h"
#include "camera/rotation.h"
#include "patch_site_fixture.h"

namespace patch_site {

// sx x sy squares of side `side` from the floor corner (x0, y0), the square
// at (x0, y0) dark; squares at the given dark cells only when `cells` is
// set (row-major over sy rows of sx, 1 dark).
struct FloorBoard {
  float x0, y0, side;
  int sx, sy;
  std::vector<int> cells;
};

// A 2 x 2 checker of `side` squares whose one inner corner is (x, y); dark
// squares to the upper left and lower right (smaller x and y, larger x and
// y) or, turned, to the other two.
inline FloorBoard CornerMark(const float* p, float side, bool turned = false) {
  FloorBoard b{p[0] - side, p[1] - side, side, 2, 2, {}};
  if (turned) b.cells = {0, 1, 1, 0};
  return b;
}

// The board whose inner corners run from world point `first` (smallest x
// and y) over cx x cy corners of spacing `side`.
inline FloorBoard BoardAround(float minX, float minY, int cx, int cy, float side) {
  return FloorBoard{minX - side, minY - side, side, cx + 1, cy + 1, {}};
}

// Dark rectangles on the floor (x0, y0, x1, y1), for targets that are not
// whole boards.
struct DarkRect {
  float x0, y0, x1, y1;
};

// The dark cells of a checker cut by the lines xs and ys (cell (0, 0) dark
// unless `flip`), without the cells listed in `light` as (i, j) pairs and
// with the cells listed in `dark` added.
inline std::vector<DarkRect> Checker(const std::vector<float>& xs, const std::vector<float>& ys, bool flip = false,
                                     const std::vector<std::pair<int, int>>& light = {},
                                     const std::vector<std::pair<int, int>>& dark = {}) {
  std::vector<DarkRect> r;
  for (size_t j = 0; j + 1 < ys.size(); ++j)
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
      const std::pair<int, int> ij(static_cast<int>(i), static_cast<int>(j));
      bool on = ((i + j) % 2 == 0) != flip;
      for (const auto& l : light) on = on && l != ij;
      for (const auto& d : dark) on = on || d == ij;
      if (on) r.push_back({xs[i], ys[j], xs[i + 1], ys[j + 1]});
    }
  return r;
}

// The floor's grey level at world (x, y) from level(x, y) (0..255; negative:
// the light mat).
inline std::vector<float> RenderFloor(const SceneCamera& cam, std::function<float(float, float)> level) {
  return Floor_Render(cam, kW, kH, FloorRenderWindow{-8000.0f, -9000.0f, 16000.0f, 18000.0f}, std::move(level));
}

inline std::vector<float> RenderRects(const SceneCamera& cam, const std::vector<DarkRect>& rects) {
  return RenderFloor(cam, [rects](float x, float y) {
    for (const DarkRect& d : rects)
      if (x >= d.x0 && x < d.x1 && y >= d.y0 && y < d.y1) return 30.0f;
    return -1.0f;
  });
}

inline float BoardShade(const std::vector<FloorBoard>& boards, float x, float y) {
  for (const FloorBoard& b : boards) {
    const float u = (x - b.x0) / b.side, v = (y - b.y0) / b.side;
    if (u < 0 || v < 0 || u >= b.sx || v >= b.sy) continue;
    const int i = static_cast<int>(u), j = static_cast<int>(v);
    const bool dark = b.cells.empty() ? (i + j) % 2 == 0 : b.cells[static_cast<size_t>(j * b.sx + i)] != 0;
    return dark ? 30.0f : -1.0f;
  }
  return -1.0f;
}

inline std::vector<float> RenderBoards(const SceneCamera& cam, const std::vector<FloorBoard>& boards) {
  return Floor_Render(cam, kW, kH, FloorRenderWindow{-8000.0f, -9000.0f, 16000.0f, 18000.0f}, [boards](float x, float y) { return BoardShade(boards, x, y); });
}

// Angle (degrees) between the rotations of two rotation vectors.
inline double RotationGapDeg(const float* a, const float* b) {
  float ra[9], rb[9], va[3] = {a[0], a[1], a[2]}, vb[3] = {b[0], b[1], b[2]};
  Matrix ma{1, 3, va}, mb{1, 3, vb}, Ra{3, 3, ra}, Rb{3, 3, rb};
  RodriguesToMatrix(&ma, &Ra);
  RodriguesToMatrix(&mb, &Rb);
  double trace = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) trace += static_cast<double>(ra[3 * k + i]) * rb[3 * k + i];
  return std::acos(std::fmax(-1.0, std::fmin(1.0, (trace - 1.0) / 2.0))) * 180.0 / M_PI;
}

class BoardFloorTest : public PatchSiteTest {
 protected:
  void ShowBoards(int camera, const SceneCamera& cam, const std::vector<FloorBoard>& boards) {
    pixels[camera - 1] = RenderBoards(cam, boards);
    images[camera - 1].data = pixels[camera - 1].data();
  }
  void ShowFloor(int camera, const SceneCamera& cam, std::function<float(float, float)> level) {
    pixels[camera - 1] = RenderFloor(cam, std::move(level));
    images[camera - 1].data = pixels[camera - 1].data();
  }
  void ShowRects(int camera, const SceneCamera& cam, const std::vector<DarkRect>& rects) {
    pixels[camera - 1] = RenderRects(cam, rects);
    images[camera - 1].data = pixels[camera - 1].data();
  }
  // The camera's solved pose in the LUT object against the truth.
  void ExpectPose(int camera, const SceneCamera& cam, const char* what) {
    const int c = camera - 1;
    const double angle = RotationGapDeg(lut->params.R[c], cam.r);
    const double shift = std::hypot(lut->params.T[c][0] - cam.T[0], lut->params.T[c][1] - cam.T[1],
                                    lut->params.T[c][2] - cam.T[2]);
    std::printf("[errors] %s camera %d solved: %.3f deg, %.1f mm off the true pose\n", what, camera, angle, shift);
    EXPECT_LT(angle, 0.3);
    EXPECT_LT(shift, 25.0);
  }
};

}  // namespace patch_site

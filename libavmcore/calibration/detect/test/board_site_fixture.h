#pragma once
// Sites of small floor chessboards for the layout finders' tests: boards
// laid so that their inner corners fall on a layout's world points, seen by
// fisheye cameras at known poses (patch_site_fixture.h), and the checks of
// the calibration road: points against their projections, the solved pose
// against the true one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "testsupport/floor_render.h"
#include "calibration/detect/find_all_corners.h"
#include "calibration/detect/pose_solve_services.h"
#include "patch_site_fixture.h"

namespace board_site {

using namespace patch_site;

// A board whose inner corners run nx along x and ny along y from (x0, y0)
// in steps of s mm; the outer squares reach `edge` mm beyond them (0: a
// whole step).
struct FloorBoard {
  float x0, y0;
  int nx, ny;
  float s;
  float edge = 0.0f;
};

// Shade at (x, y): dark squares of the boards, -1 (light) elsewhere.
inline float BoardShade(const std::vector<FloorBoard>& boards, float x, float y) {
  for (const FloorBoard& b : boards) {
    const float e = b.edge > 0.0f ? b.edge : b.s;
    if (x <= b.x0 - e || y <= b.y0 - e || x >= b.x0 + (b.nx - 1) * b.s + e || y >= b.y0 + (b.ny - 1) * b.s + e)
      continue;
    const int i = static_cast<int>(std::floor((x - b.x0) / b.s)) + 1;
    const int j = static_cast<int>(std::floor((y - b.y0) / b.s)) + 1;
    return ((i + j) % 2 == 0) ? 30.0f : -1.0f;
  }
  return -1.0f;
}

inline std::vector<float> RenderBoards(const SceneCamera& cam, const std::vector<FloorBoard>& boards) {
  return Floor_Render(cam, kW, kH, FloorRenderWindow{-8000.0f, -9000.0f, 16000.0f, 18000.0f}, [boards](float x, float y) { return BoardShade(boards, x, y); });
}

// Angle in degrees between two rotations given as rotation vectors.
inline double RotationGapDeg(const float* a, const float* b) {
  auto mat = [](const float* r, double m[9]) {
    const double th = std::sqrt(double(r[0]) * r[0] + double(r[1]) * r[1] + double(r[2]) * r[2]);
    double k[3] = {0, 0, 0};
    if (th > 0) k[0] = r[0] / th, k[1] = r[1] / th, k[2] = r[2] / th;
    const double c = std::cos(th), s = std::sin(th), v = 1 - c;
    m[0] = c + k[0] * k[0] * v, m[1] = k[0] * k[1] * v - k[2] * s, m[2] = k[0] * k[2] * v + k[1] * s;
    m[3] = k[1] * k[0] * v + k[2] * s, m[4] = c + k[1] * k[1] * v, m[5] = k[1] * k[2] * v - k[0] * s;
    m[6] = k[2] * k[0] * v - k[1] * s, m[7] = k[2] * k[1] * v + k[0] * s, m[8] = c + k[2] * k[2] * v;
  };
  double A[9], B[9];
  mat(a, A);
  mat(b, B);
  double trace = 0;  // trace of A^T B
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) trace += A[3 * j + i] * B[3 * j + i];
  const double cosine = std::max(-1.0, std::min(1.0, (trace - 1) / 2));
  return std::acos(cosine) * 180.0 / M_PI;
}

class BoardSiteTest : public PatchSiteTest {
 protected:
  void ShowBoards(int camera, const SceneCamera& cam, const std::vector<FloorBoard>& boards) {
    pixels[camera - 1] = RenderBoards(cam, boards);
    images[camera - 1].data = pixels[camera - 1].data();
  }
  // Points first..end - 1 against their projections.
  void ExpectTruthFrom(int camera, const SceneCamera& cam, int first, int end, float tolerance) {
    for (int k = first; k < end; ++k) {
      float row, col;
      Project(cam, W(camera, k), &row, &col);
      EXPECT_NEAR(points[camera - 1][2 * k], row, tolerance) << "point " << k;
      EXPECT_NEAR(points[camera - 1][2 * k + 1], col, tolerance) << "point " << k;
    }
  }
  // The dispatcher's result for the camera, its points against the truth
  // and the pose the solver takes from them against the true pose.
  void ExpectCalibrationRoad(int camera, const SceneCamera& cam, uint32_t expected, int solveFlag = 1) {
    const int c = camera - 1;
    ASSERT_EQ(expected, FindAllChessboardCorners(lut, static_cast<uint32_t>(camera)));
    ExpectTruth(camera, cam, static_cast<int>(expected));
    ASSERT_EQ(1, CalibrateCameraByIndex(lut, camera, solveFlag, 0, 0));
    const double angle = RotationGapDeg(lut->params.R[c], cam.r);
    const double shift = std::hypot(lut->params.T[c][0] - cam.T[0], lut->params.T[c][1] - cam.T[1],
                                    lut->params.T[c][2] - cam.T[2]);
    std::printf("[errors] layout %d camera %d: %.3f deg, %.1f mm off the true pose\n", gv().CalibLayoutCode,
                camera, angle, shift);
    EXPECT_LT(angle, 0.3);
    EXPECT_LT(shift, 25.0);
  }
};

}  // namespace board_site

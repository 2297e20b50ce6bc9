// Layout 25 on a rendered site of painted lines: bright lines on a dark
// floor through every world point of the camera, crossing there, and a
// soft bright glow between the four first points. The finder builds its
// set in four stages (the glow's six junctions, then three rounds of four
// crossings in top views), each solved before the next.
#include <gtest/gtest.h>

#include <algorithm>

#include "board_floor_site.h"
#include "calibration/detect/find_all_corners.h"
#include "calibration/detect/layout_finders.h"
#include "calibration/detect/pose_solve_services.h"

namespace {

using namespace patch_site;

constexpr float kLineWidth = 40.0f;  // mm

struct Layout25Camera {
  int camera;
  SceneCamera cam;
  float glow[2];  // centre of the glow on the floor
};

std::vector<Layout25Camera> Layout25Cameras() {
  return {{1, Camera(0, -2300, 1000, 0, -3300), {0, -3200}},
          {2, Camera(0, 2300, 1000, 0, 3300), {0, 3200}},
          {3, Camera(-950, 0, 1000, -2000, 0), {-1800, 0}},
          {4, Camera(950, 0, 1000, 2000, 0), {1800, 0}}};
}

class Layout25Site : public BoardFloorTest {
 protected:
  void SetUp() override {
    BoardFloorTest::SetUp();
    Layout(25, "cvj_cfg.txt", std::vector<std::vector<float>>(4, {0, 0, 1280, 720}));
  }
  // Lines along every distinct x and y of the camera's 16 world points,
  // without the lines at the x (front and rear) or y (sides) of `hide`.
  void Show(const Layout25Camera& c, float hide = 1e9f) {
    std::vector<float> xs, ys;
    for (int k = 0; k < 16; ++k) xs.push_back(W(c.camera, k)[0]), ys.push_back(W(c.camera, k)[1]);
    for (auto* v : {&xs, &ys}) {
      std::sort(v->begin(), v->end());
      v->erase(std::unique(v->begin(), v->end()), v->end());
    }
    const float x0 = xs.front() - 300, x1 = xs.back() + 300, y0 = ys.front() - 300, y1 = ys.back() + 300;
    const bool across = c.camera <= 2;
    const float gx = c.glow[0], gy = c.glow[1];
    ShowFloor(c.camera, c.cam, [=](float x, float y) {
      bool line = false;
      for (float lx : xs)
        line = line || (std::fabs(x - lx) <= kLineWidth / 2 && y >= y0 && y <= y1 && !(across && std::fabs(lx) == hide));
      for (float ly : ys)
        line = line || (std::fabs(y - ly) <= kLineWidth / 2 && x >= x0 && x <= x1 && !(!across && std::fabs(ly) == hide));
      const float d2 = (x - gx) * (x - gx) + (y - gy) * (y - gy);
      return std::min(255.0f, (line ? 200.0f : 40.0f) + 90.0f * std::exp(-d2 / (2.0f * 350.0f * 350.0f)));
    });
  }
  // Picture pixels a floor millimetre at world point k (the larger of the
  // two floor axes).
  double PxPerMm(const SceneCamera& cam, int camera, int k) const {
    const float* p = W(camera, k);
    const float px[3] = {p[0] + 50, p[1], 0}, py[3] = {p[0], p[1] + 50, 0};
    float r0, c0, r1, c1, r2, c2;
    Project(cam, p, &r0, &c0);
    Project(cam, px, &r1, &c1);
    Project(cam, py, &r2, &c2);
    return std::max(std::hypot(r1 - r0, c1 - c0), std::hypot(r2 - r0, c2 - c0)) / 50.0;
  }
};

// Every point is a junction of a thinned line picture. The first four are
// found in the camera picture: a crossing's junction lies where the two
// line bodies overlap, within half a line width along each floor axis, and
// thinning adds up to a pixel. The other twelve are found in top views of
// 24 mm a pixel: a view pixel more on top of that. The pose inherits those
// errors: a junction (20 + 24) sqrt(2) = 62 mm off, seen from 3.5 m, is a
// degree off, and the builds' roundings move the junctions by a view pixel,
// so the pose is held to the 25 mm bound and to 1.5 degrees (measured 0.2
// to 1.35); the figures are printed.
TEST_F(Layout25Site, FourStagesGiveSixteenJunctionsAndSolve) {
  for (const Layout25Camera& c : Layout25Cameras()) {
    SCOPED_TRACE(c.camera);
    Show(c);
    lut->cornerCounts[c.camera - 1] = 0;
    ASSERT_EQ(16u, FindAllChessboardCorners(lut, static_cast<uint32_t>(c.camera)));
    double worstSpot = 0.0, worstView = 0.0;
    for (int k = 0; k < 16; ++k) {
      float row, col;
      Project(c.cam, W(c.camera, k), &row, &col);
      const float* p = &points[c.camera - 1][2 * k];
      const double err = std::hypot(p[0] - row, p[1] - col);
      const double mm = k < 4 ? kLineWidth / 2 * std::sqrt(2.0) : (kLineWidth / 2 + 24.0) * std::sqrt(2.0);
      const double bound = mm * PxPerMm(c.cam, c.camera, k) + 1.0;
      EXPECT_LT(err, bound) << "point " << k;
      (k < 4 ? worstSpot : worstView) = std::max(k < 4 ? worstSpot : worstView, err);
    }
    std::printf("[errors] layout 25 camera %d: glow junctions worst %.2f px, top-view junctions worst %.2f px\n",
                c.camera, worstSpot, worstView);
    ASSERT_EQ(1, CalibrateCameraByIndex(lut, c.camera, 1, 0, 0));
    const double angle = RotationGapDeg(lut->params.R[c.camera - 1], c.cam.r);
    const float* T = lut->params.T[c.camera - 1];
    const double shift = std::hypot(T[0] - c.cam.T[0], T[1] - c.cam.T[1], T[2] - c.cam.T[2]);
    std::printf("[errors] layout 25 camera %d solved: %.3f deg, %.1f mm off the true pose\n", c.camera, angle, shift);
    EXPECT_LT(angle, 1.5);
    EXPECT_LT(shift, 25.0);
  }
}

// The stages' fallbacks on the front camera: without the crossings of the
// third stage the finder keeps 8 points, without those of the fourth 12,
// without those of the second nothing.
TEST_F(Layout25Site, MissingCrossingsStopAtTheirStage) {
  const Layout25Camera front = Layout25Cameras()[0];
  const struct {
    float hide;
    uint32_t count;
  } cases[] = {{1800, 8u}, {2400, 12u}, {1200, 0u}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.hide);
    Show(front, k.hide);
    EXPECT_EQ(k.count, FindAllChessboardCorners(lut, 1));
    EXPECT_EQ(static_cast<int>(k.count), lut->cornerCounts[0]);
  }
}

}  // namespace

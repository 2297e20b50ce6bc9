// Layout 54's side pairs seen from a car's side cameras, about 1 m up: two
// patches lying across the vehicle's side (world points 0-1 and 2-3, middles
// 4 and 5) rendered at the world points, the cameras at known poses.
//
// Seen from a car, a pair near the end of the picture looks flatter than
// 45 degrees, and for camera 3 its column order is then the reverse of its
// row order (camera 4's pairs lean the other way, where both orders agree).
// The side lists need the far end first on camera 3 and last on camera 4;
// the far end is the higher one in every placement tried (960, 0.8 to 3 m
// up), so the side cameras sort a pair's ends by rows.
//
// The six points (two lines of three) take the solve with the lens centre
// free (flag 1): exact points give the true pose back, but a fit freeing
// the scale and the centre from twelve values turns whole-pixel noise into
// degrees (the truth rounded to whole pixels: 7.5 to 35 degrees centre free,
// 0.55 to 1.8 degrees centre held).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "board_site_fixture.h"
#include "calibration/detect/layout_finders.h"
#include "calibration/solve/calibrate_camera.h"
#include "patch_site_fixture.h"

namespace {

using namespace patch_site;

class Layout54CarSite : public PatchSiteTest {
 protected:
  void SetUp() override {
    PatchSiteTest::SetUp();
    gv().groupNumber = 2;  // side cameras take the pairs
    // Every box the whole picture.
    std::string boxes;
    for (int i = 0; i < 6; ++i) boxes += "0,0,1280,720\n";
    Compute(54, "hulvex_cfg.txt", boxes);
  }
  // Finder result after rendering the camera's two patches; the worst
  // distance of the six points from their projections.
  uint32_t Find(int camera, const SceneCamera& cam, double* worst) {
    Show(camera, cam, EndPairPatches(camera, 2));
    std::fill(points[camera - 1].begin(), points[camera - 1].end(), -1.0f);
    const uint32_t n = FindAllChessboardCorners(lut, static_cast<uint32_t>(camera));
    *worst = 0.0;
    for (int k = 0; k < 6; ++k) {
      float row, col;
      Project(cam, W(camera, k), &row, &col);
      *worst = std::max<double>(*worst, std::hypot(points[camera - 1][2 * k] - row, points[camera - 1][2 * k + 1] - col));
    }
    return n;
  }
  // Pose of camera c (angle, mm) from the six points in `pts` with the
  // centre held (fitRefine 0) or free (1); false when the solve fails.
  bool Solve(int camera, const SceneCamera& cam, const float* pts, int32_t fitRefine, double* deg, double* mm) {
    float k[9], d[8], r[3], t[3];
    Matrix K{3, 3, k}, D{1, 8, d}, R{1, 3, r}, T{1, 3, t};
    std::vector<float> copy(pts, pts + 12);
    if (CalibrateCamera(&lut->cfg, kW, kH, &images[camera - 1], camera, 6, copy.data(), world[camera - 1].data(), &K,
                        &D, &R, &T, fitRefine, 0) != 0)
      return false;
    *deg = board_site::RotationGapDeg(r, cam.r);
    *mm = std::hypot(t[0] - cam.T[0], t[1] - cam.T[1], t[2] - cam.T[2]);
    return true;
  }
};

// Exact points: the finder's own solve (centre free) and the centre-held
// solve give the true pose back, so the spread below is the conditioning of
// six points, not a wrong solve.
TEST_F(Layout54CarSite, ExactPointsSolveTheTruePose) {
  const SceneCamera cams[2] = {Camera(-1000, -1200, 1000, -2200, -1000), Camera(1000, -1200, 1000, 2200, -1000)};
  for (int camera : {3, 4}) {
    SCOPED_TRACE(camera);
    const SceneCamera& cam = cams[camera - 3];
    float exact[12];
    for (int k = 0; k < 6; ++k) Project(cam, W(camera, k), &exact[2 * k], &exact[2 * k + 1]);
    for (int32_t fitRefine : {0, 1}) {
      double deg = 0.0, mm = 0.0;
      ASSERT_TRUE(Solve(camera, cam, exact, fitRefine, &deg, &mm)) << fitRefine;
      EXPECT_LT(deg, 0.02) << fitRefine;
      EXPECT_LT(mm, 1.0) << fitRefine;
    }
  }
}

// Cameras 1 m up: between the pairs (both steeper than 45 degrees in the
// picture) and under the mirror, 1.2 m ahead of the middle and 0.9 m up
// (both of camera 4's pairs flatter, leaning the way where rows and columns
// agree). The six points come back within a pixel in world-point order and
// the finder's solve succeeds; the pose is held to what the truth rounded
// to whole pixels gives with the centre held (0.55 and 1.83 degrees, 52
// and 134 mm): measured 0.32 deg 45 mm and 1.32 deg 82 mm with the centre
// held, 5 to 28 degrees from the finder's own solve (centre free; that
// figure moves between builds).
TEST_F(Layout54CarSite, SidePairsInWorldPointOrder) {
  struct Case {
    const char* what;
    int camera;
    SceneCamera cam;
    double maxDeg, maxMm;
  };
  const Case cases[] = {
      {"between the pairs, 1.0 m", 3, Camera(-1000, 1250, 1000, -2200, 1250), 0.6, 60.0},
      {"between the pairs, 1.0 m", 4, Camera(1000, 1250, 1000, 2200, 1250), 0.6, 60.0},
      {"under the mirror, 0.9 m", 4, Camera(1000, -1200, 900, 2200, -1000), 2.0, 140.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + ", camera " + std::to_string(c.camera));
    double worst = 0.0;
    ASSERT_EQ(6u, Find(c.camera, c.cam, &worst));
    ExpectTruth(c.camera, c.cam, 6);
    EXPECT_LE(gv().lastCalibResult[c.camera - 1], 4.51f);
    const int k = c.camera - 1;
    const double ownDeg = board_site::RotationGapDeg(lut->params.R[k], c.cam.r);
    const double ownMm = std::hypot(lut->params.T[k][0] - c.cam.T[0], lut->params.T[k][1] - c.cam.T[1],
                                    lut->params.T[k][2] - c.cam.T[2]);
    double deg = 0.0, mm = 0.0;
    ASSERT_TRUE(Solve(c.camera, c.cam, points[k].data(), 0, &deg, &mm));
    std::printf("[road] layout 54 %s camera %d: points within %.2f px; finder's solve %.3f deg %.1f mm, "
                "centre held %.3f deg %.1f mm\n",
                c.what, c.camera, worst, ownDeg, ownMm, deg, mm);
    EXPECT_LT(deg, c.maxDeg);
    EXPECT_LT(mm, c.maxMm);
  }
}

// Camera 3 under the mirror, 0.9 m up: both pairs look flatter than 45
// degrees and lean the way where the column order reverses the row order.
// Sorted by columns the ends came back swapped: a mirror image the solver
// took (residual 0.2 px, pose 179.5 degrees off) with the finder reporting
// success; 1.0 m up, with only the far pair flat, a 417 px residual.
TEST_F(Layout54CarSite, CameraThreeUnderTheMirrorInWorldPointOrder) {
  const SceneCamera cam = Camera(-1000, -1200, 900, -2200, -1000);
  double worst = 0.0;
  ASSERT_EQ(6u, Find(3, cam, &worst));
  ExpectTruth(3, cam, 6);
  double deg = 0.0, mm = 0.0;
  ASSERT_TRUE(Solve(3, cam, points[2].data(), 0, &deg, &mm));
  EXPECT_LT(deg, 2.0);
  EXPECT_LT(mm, 140.0);
}

}  // namespace

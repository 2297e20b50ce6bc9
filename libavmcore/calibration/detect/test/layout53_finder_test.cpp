// Layout 53 through its compound finder on rendered sites: the side
// cameras' 4 x 5 patch, the standing strip ahead and the strip behind give
// ten points within a pixel of their projections and the camera's true
// pose; without the strip behind the route's seven points stay; without any
// side mark nothing is solved or written. Camera 1 goes the strip route.
#include <gtest/gtest.h>

#include <limits>

#include "board_site_fixture.h"
#include "calibration/detect/layout53_finder.h"

namespace {

using namespace board_site;

class Layout53Site : public BoardSiteTest {
 protected:
  void SetUp() override {
    BoardSiteTest::SetUp();
    gv().groupNumber = 1;  // the side cameras' route
    Layout(53, "mbto_cfg.txt", std::vector<std::vector<float>>(5, {0, 0, 1280, 720}));
  }
  // The side marks of camera 3 or 4 (world points 0..3: the patch's outer
  // corners, 4..6 the strip ahead, 7..9 the strip behind), 500 mm squares.
  std::vector<FloorBoard> SideMarks(int camera, bool patch, bool ahead, bool behind) const {
    std::vector<FloorBoard> b;
    const float xs = camera == 3 ? -1.0f : 1.0f;
    if (patch) b.push_back({xs * 3720.0f < 0 ? -3720.0f : 2220.0f, -2400, 4, 3, 500});
    if (ahead) b.push_back({xs * 2220.0f, -5400, 1, 3, 500});
    if (behind) b.push_back({camera == 3 ? -3220.0f : 2220.0f, 900, 3, 1, 500});
    return b;
  }
  static SceneCamera SideCamera(int camera) {
    const float s = camera == 3 ? -1.0f : 1.0f;
    return Camera(s * 1000, -3000, 1000, s * 2800, -2500);
  }
};

TEST_F(Layout53Site, SideCamerasGiveTenPointsAndTheTruePose) {
  for (int camera = 3; camera <= 4; ++camera) {
    SCOPED_TRACE(camera);
    const SceneCamera cam = SideCamera(camera);
    ShowBoards(camera, cam, SideMarks(camera, true, true, true));
    ExpectCalibrationRoad(camera, cam, 10, 0);
  }
}

// The strip behind is missing: the route's 7 points; every side mark
// missing: 0, and neither the three-point stage's points nor the pose of
// an earlier solve are touched.
TEST_F(Layout53Site, MissingMarksKeepTheRouteResultOrNothing) {
  const SceneCamera cam = SideCamera(3);
  ShowBoards(3, cam, SideMarks(3, true, true, false));
  ASSERT_EQ(7u, CalibFind_Layout53(lut, 3, &images[2], 0, 0, points[2].data()));
  ExpectTruth(3, cam, 7);

  ShowBoards(3, cam, SideMarks(3, false, false, true));
  std::fill(points[2].begin(), points[2].end(), -1.0f);
  const float r[3] = {lut->params.R[2][0], lut->params.R[2][1], lut->params.R[2][2]};
  const float t[3] = {lut->params.T[2][0], lut->params.T[2][1], lut->params.T[2][2]};
  EXPECT_EQ(0u, CalibFind_Layout53(lut, 3, &images[2], 0, 0, points[2].data()));
  for (int i = 14; i < 20; ++i) EXPECT_EQ(-1.0f, points[2][i]) << i;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r[i], lut->params.R[2][i]);
    EXPECT_EQ(t[i], lut->params.T[2][i]);
  }
}

// Camera 1 runs the patch-pair and strip routes: the standing strips give
// 6 points; camera 2 has no marks in this layout.
TEST_F(Layout53Site, FrontCameraTakesTheStripRoute) {
  const SceneCamera cam = Layout53FrontSite();
  ASSERT_EQ(6u, CalibFind_Layout53(lut, 1, &images[0], 0, 0, points[0].data()));
  ExpectTruth(1, cam, 6);
  EXPECT_EQ(0u, CalibFind_Layout53(lut, 2, &images[0], 0, 0, points[1].data()));
}

// Profile boxes outside the picture, partly outside or not numbers: cut to
// the picture or no search; a bare floor gives 0.
TEST_F(Layout53Site, ProfileBoxesOutsideThePicture) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> boxes[] = {
      {-5000, -5000, -10, -10}, {1000, 600, 5000, 5000}, {-100, -100, 1400, 900}, {nan, 0, 100, 100}, {0, 0, 3.0e38f, 3.0e38f},
  };
  std::fill(pixels[2].begin(), pixels[2].end(), 0.84f);
  for (const std::vector<float>& b : boxes) {
    Layout(53, "mbto_cfg.txt", {{0, 0, 1280, 720}, b, b, {0, 0, 1280, 720}, {0, 0, 1280, 720}});
    EXPECT_EQ(0u, CalibFind_Layout53Side(lut, 3, &images[2], 0, 0, points[2].data()));
  }
}

}  // namespace

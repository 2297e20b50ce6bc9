// Layout 53's side cameras through the template route: a grid of 4 x 3
// corners beside the vehicle and a lying strip of three corners ahead of it,
// laid at the layout's world points; the finder gives the grid's outer
// corners and the strip in world-point order and the solve lands on the
// true pose. A hidden strip, or a camera the route does not serve, gives 0.
#include <gtest/gtest.h>

#include "board_floor_site.h"
#include "calibration/detect/template_segment_finders.h"

namespace {

using namespace patch_site;

class Layout53Side : public BoardFloorTest {
 protected:
  void Site() {
    gv().groupNumber = 1;
    Layout(53, "mbto_cfg.txt", std::vector<std::vector<float>>(5, {0, 0, 1280, 720}));
  }
  // Camera 3 or 4 at the front wing, looking out and ahead (the strip
  // must show its corners more than 30 px apart across the picture).
  SceneCamera SideCamera(int camera) const {
    const float side = camera == 3 ? -1.0f : 1.0f;
    const float xC = W(camera, 2)[0] - side * 2220.0f, yC = W(camera, 2)[1] + (camera == 3 ? 1400.0f : 2400.0f);
    return Camera(xC + side * 900.0f, yC - 3000.0f, 1200.0f, xC + side * 2600.0f, yC - 3800.0f);
  }
  // The grid (world points 0..3 are its outer corners) and the strip (4..6).
  std::vector<FloorBoard> Boards(int camera, bool strip = true) const {
    float minX = 1e9f, minY = 1e9f;
    for (int k = 0; k < 4; ++k) minX = std::min(minX, W(camera, k)[0]), minY = std::min(minY, W(camera, k)[1]);
    std::vector<FloorBoard> b = {BoardAround(minX, minY, 4, 3, 500.0f)};
    if (strip) b.push_back(BoardAround(W(camera, 4)[0], std::min(W(camera, 4)[1], W(camera, 6)[1]), 1, 3, 500.0f));
    return b;
  }
};

TEST_F(Layout53Side, GridCornersAndStripSolveThePose) {
  Site();
  for (int camera : {3, 4}) {
    SCOPED_TRACE(camera);
    const SceneCamera cam = SideCamera(camera);
    ShowBoards(camera, cam, Boards(camera));
    for (int k = 0; k < 4; ++k) lut->cornerCounts[k] = -1;
    ASSERT_EQ(7u, CalibFind_Layout53SideTemplates(lut, camera, &images[camera - 1], 0, 0, points[camera - 1].data()));
    EXPECT_EQ(7, lut->cornerCounts[camera - 1]);
    for (int k = 0; k < 4; ++k) {
      if (k != camera - 1) { EXPECT_EQ(-1, lut->cornerCounts[k]); }
    }
    ExpectTruth(camera, cam, 7);
    ExpectPose(camera, cam, "layout 53 side templates");

    // Without the strip nothing qualifies.
    ShowBoards(camera, cam, Boards(camera, false));
    EXPECT_EQ(0u, CalibFind_Layout53SideTemplates(lut, camera, &images[camera - 1], 0, 0, points[camera - 1].data()));
  }
}

// The front and rear cameras are not served: nothing of any camera is
// written (camera 2 would otherwise be solved with camera 4's box and
// count).
TEST_F(Layout53Side, OtherCamerasTouchNothing) {
  Site();
  for (int k = 0; k < 4; ++k) lut->cornerCounts[k] = -1;
  for (uint32_t camera : {0u, 1u, 2u, 5u}) {
    std::fill(points[1].begin(), points[1].end(), -1.0f);
    EXPECT_EQ(0u, CalibFind_Layout53SideTemplates(lut, camera, &images[1], 0, 0, points[1].data())) << camera;
    for (float v : points[1]) ASSERT_EQ(-1.0f, v);
  }
  EXPECT_EQ(0u, CalibFind_Layout53SideTemplates(nullptr, 3, &images[2], 0, 0, points[2].data()));
  for (int k = 0; k < 4; ++k) EXPECT_EQ(-1, lut->cornerCounts[k]);
}

// A search box reaching past the picture on every side is cut to it.
TEST_F(Layout53Side, BoxesPastThePictureAreCut) {
  gv().groupNumber = 1;
  Layout(53, "mbto_cfg.txt", std::vector<std::vector<float>>(5, {-400.5f, -300.25f, 1900.0f, 1000.0f}));
  const SceneCamera cam = SideCamera(4);
  ShowBoards(4, cam, Boards(4));
  ASSERT_EQ(7u, CalibFind_Layout53SideTemplates(lut, 4, &images[3], 0, 0, points[3].data()));
  ExpectTruth(4, cam, 7);
}

}  // namespace

// The layout-30 finders on rendered sites: two boards in every camera's
// view give the points within a pixel of their projections in world-point
// order, and the solver takes the camera's true pose back from them; the
// configuration word picks camera 2's route; a camera whose boards are not
// seen falls back to the start points and looks on the floor.
#include <gtest/gtest.h>

#include "board_site_fixture.h"
#include "calibration/detect/layout30_finders.h"

namespace {

using namespace board_site;

// Boards from the world points: cameras 1 and 2 see 4 x 5-square boards
// (3 x 4 corners, 450 mm) whose corners span world points 0..3 and 4..7;
// the side cameras 7 x 4-square boards (6 corners along y, 3 along x).
class Layout30Site : public BoardSiteTest {
 protected:
  void SetUp() override {
    BoardSiteTest::SetUp();
    gv().CalibLayoutCode = 30;
    gv().boardCols12 = gv().boardRows12 = gv().boardCols34 = gv().boardRows34 = 0;
    Compute(30, "unused_cfg.txt", "");
  }
  // The board of 3 columns of corners whose first x is x0 and rows from y0.
  static FloorBoard Front(float x0, float y0, int rows) { return {x0, y0, 3, rows, 450.0f}; }
  static FloorBoard Side(float x0, float y0) { return {x0, y0, 3, 6, 450.0f}; }
  // The bare floor.
  void Blank(int camera) {
    std::fill(pixels[camera - 1].begin(), pixels[camera - 1].end(), 215.0f / 255.0f);
    images[camera - 1].data = pixels[camera - 1].data();
  }
};

// Every camera through the dispatcher: camera 2 by word 34 (2: a board in
// each image half), the others by their half boards; then the same camera
// with its boards gone gives 0 after the floor search.
TEST_F(Layout30Site, EveryCameraSolvesItsTruePose) {
  gv().targetDimB = 2;
  struct Case {
    int camera;
    SceneCamera cam;
    std::vector<FloorBoard> boards;
    uint32_t expected;
  };
  const Case cases[] = {
      {1, Camera(0, -2000, 1000, 0, -3400), {Front(-2235, -3850, 4), Front(1335, -3850, 4)}, 8},
      {2, Camera(0, 1600, 1000, 0, 3000), {Front(-2235, 2050, 4), Front(1335, 2050, 4)}, 16},
      {3, Camera(-1000, 0, 1000, -2000, 0), {Side(-2235, -3850), Side(-2235, 1150)}, 10},
      {4, Camera(1000, 0, 1000, 2000, 0), {Side(1335, -3850), Side(1335, 1150)}, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.camera);
    ShowBoards(c.camera, c.cam, c.boards);
    ExpectCalibrationRoad(c.camera, c.cam, c.expected);
    Blank(c.camera);
    EXPECT_EQ(0u, FindAllChessboardCorners(lut, static_cast<uint32_t>(c.camera)));
  }
}

// Camera 2's route by word 34: 0 and 1 grow 3 x 3 boards from template
// corners (12 points from two, 8 when one is a 2 x 3 board, which only word
// 1 takes); any other value, negative ones too, looks for a 3 x 4 board in
// each half (16 points). The sites of the two routes are rendered once.
TEST_F(Layout30Site, CameraTwoRouteByConfigurationWord) {
  const SceneCamera cam = Camera(0, 1600, 1000, 0, 3000);
  const std::vector<float> pairA = RenderBoards(cam, {Front(-2235, 2500, 3), Front(1335, 2500, 3)});
  const std::vector<float> mixedA = RenderBoards(cam, {Front(-2235, 2950, 2), Front(1335, 2500, 3)});
  const std::vector<float> pairB = RenderBoards(cam, {Front(-2235, 2050, 4), Front(1335, 2050, 4)});
  struct Case {
    int32_t word;
    const std::vector<float>* site;
    uint32_t expected;
  };
  const Case cases[] = {{0, &pairA, 12}, {1, &pairA, 12}, {1, &mixedA, 8}, {2, &pairB, 16}, {-1, &pairB, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "word " << c.word << ", " << c.expected << " points");
    gv().targetDimB = c.word;
    pixels[1] = *c.site;
    images[1].data = pixels[1].data();
    ASSERT_EQ(c.expected, CalibFind_Layout30(lut, 2, &images[1], 0, 0, points[1].data()));
    ExpectTruth(2, cam, static_cast<int>(c.expected));
  }
}

// No board pair in the picture (2 x 3 boards, which word 0 does not take):
// the start points of the unit's picture are solved first and the boards are looked for on the floor where that pose
// puts them. The site is seen from the pose the start points give (the
// limit is opened so that the solver takes them), so the floor search must
// land on the boards and give the world points' projections.
TEST_F(Layout30Site, FallbackSearchesTheFloorFromTheStartPoints) {
  const float start[16] = {557, 1118, 596, 1050, 510, 1051, 524, 961, 594, 206, 557, 143, 525, 291, 512, 208};
  for (float& l : gv().presetLimit) l = 1.0e6f;
  gv().targetDimB = 0;
  std::copy(start, start + 16, points[1].begin());
  lut->cornerCounts[1] = 8;
  ASSERT_EQ(1, CalibrateCameraByIndex(lut, 2, 0, 0, 0));
  SceneCamera cam = Camera(0, 0, 1000, 0, 1);
  std::copy(lut->params.R[1], lut->params.R[1] + 3, cam.r);
  std::copy(lut->params.T[1], lut->params.T[1] + 3, cam.T);
  // The pose left from before is far off: only the finder's own solve of
  // the start points puts the windows on the boards.
  lut->params.T[1][0] += 600.0f;
  lut->params.T[1][2] += 400.0f;
  ShowBoards(2, cam, {Front(-2235, 2950, 2), Front(1335, 2950, 2)});
  ExpectCalibrationRoad(2, cam, 8);
}

}  // namespace

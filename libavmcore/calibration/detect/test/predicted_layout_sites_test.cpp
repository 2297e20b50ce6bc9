// Layouts 27 and 7 on rendered floors of boards and corner marks laid at the
// layouts' world points, seen by fisheye cameras at known poses: the corner
// road (FindAllChessboardCorners) gives every point in world-point order and
// the solve lands on the true pose; hidden pieces take the fallbacks the
// finders promise (a shorter count or 0).
#include <gtest/gtest.h>

#include "board_floor_site.h"
#include "calibration/detect/find_all_corners.h"
#include "calibration/detect/layout_finders.h"
#include "calibration/detect/pose_solve_services.h"
#include "calibration/detect/template_segment_finders.h"

namespace {

using namespace patch_site;

// Bound of a corner that pattern 6 takes from a fitted quad of the top view:
// the outline pixel nearest a sharp edge lies 0 to 1 view pixel from it
// along each axis (sqrt 2), and a view pixel is at most 8 mm of floor
// (the finest three scales of that pattern are 4, 6 and 8 mm); in the
// picture that is 8 sqrt(2) mm times the local pixels a millimetre.
double QuadCornerBound(const SceneCamera& cam, const float* a, const float* b) {
  float ra, ca, rb, cb;
  Project(cam, a, &ra, &ca);
  Project(cam, b, &rb, &cb);
  const double pxPerMm = std::hypot(ra - rb, ca - cb) / std::hypot(a[0] - b[0], a[1] - b[1]);
  return 8.0 * std::sqrt(2.0) * pxPerMm;
}

class PredictedLayoutSites : public BoardFloorTest {
 protected:
  // The smallest x and y over world points first..last - 1 of the camera.
  void Min(int camera, int first, int last, float* x, float* y) const {
    *x = *y = 1e9f;
    for (int k = first; k < last; ++k) *x = std::min(*x, W(camera, k)[0]), *y = std::min(*y, W(camera, k)[1]);
  }
  uint32_t Road(int camera) {
    lut->cornerCounts[camera - 1] = 0;
    return FindAllChessboardCorners(lut, static_cast<uint32_t>(camera));
  }
};

// ---- Layout 27 (variant A): front and rear cameras see a 5 x 5 board and
// a corner mark at each side (the two squares meeting at each mark give two
// more points each); side cameras a 4 x 5 and a 3 x 5 board and the marks
// ahead and behind.
struct Layout27Camera {
  int camera;
  SceneCamera cam;
  bool turnedA, turnedB;  // which diagonal of each mark is dark
};

std::vector<Layout27Camera> Layout27Cameras() {
  return {{1, Camera(0, -2300, 700, 0, -3300), true, false},
          {2, Camera(0, 2300, 700, 0, 3300), false, true},
          {3, Camera(-950, 0, 1200, -2000, 0), false, false},
          {4, Camera(950, 0, 1200, 2000, 0), false, false}};
}

class Layout27Site : public PredictedLayoutSites {
 protected:
  void SetUp() override {
    PredictedLayoutSites::SetUp();
    gv().targetDimB = 1;
    Compute(27, "none_cfg.txt", "");
  }
  // The camera's floor; hide: 1 the second mark (front/rear) or board B
  // (sides), 2 the second mark on the sides.
  std::vector<FloorBoard> Floor(const Layout27Camera& c, int hide = 0) const {
    float x, y;
    std::vector<FloorBoard> b;
    if (c.camera <= 2) {
      Min(c.camera, 0, 16, &x, &y);
      b = {BoardAround(x, y, 4, 4, 200), CornerMark(W(c.camera, 16), 200, c.turnedA)};
      if (hide != 1) b.push_back(CornerMark(W(c.camera, 17), 200, c.turnedB));
      return b;
    }
    Min(c.camera, 0, 12, &x, &y);
    b = {BoardAround(x, y, 4, 3, 200), CornerMark(W(c.camera, 20), 200)};
    Min(c.camera, 12, 20, &x, &y);
    if (hide != 1) b.push_back(BoardAround(x, y, 4, 2, 200));
    if (hide != 2) b.push_back(CornerMark(W(c.camera, 21), 200));
    return b;
  }
};

// The front and rear cameras end with the pattern of the two squares at
// each mark; its corners come from quads fitted to the squares' blobs. On
// this site each front and rear camera has one mark whose squares lie on
// the main diagonal, where the anti-diagonal test between the squares reads
// whole-pixel noise: every build must tell them apart and give all 22.
TEST_F(Layout27Site, EveryCameraGivesItsPointsAndSolves) {
  for (const Layout27Camera& c : Layout27Cameras()) {
    SCOPED_TRACE(c.camera);
    ShowBoards(c.camera, c.cam, Floor(c));
    ASSERT_EQ(22u, Road(c.camera));
    EXPECT_EQ(22, lut->cornerCounts[c.camera - 1]);
    // Marks 16 and 17 (sides: 20 and 21) are template corners; points 18
    // to 21 of the front and rear cameras are corners of fitted quads.
    ExpectTruth(c.camera, c.cam, c.camera <= 2 ? 18 : 22);
    if (c.camera <= 2) {
      const double bound = QuadCornerBound(c.cam, W(c.camera, 18), W(c.camera, 19));
      double worst = 0.0;
      for (int k = 18; k < 22; ++k) {
        float row, col;
        Project(c.cam, W(c.camera, k), &row, &col);
        const float* p = &points[c.camera - 1][2 * k];
        worst = std::max(worst, static_cast<double>(std::hypot(p[0] - row, p[1] - col)));
      }
      std::printf("[errors] layout 27 camera %d quad corners: worst %.2f px, bound %.2f px\n", c.camera, worst, bound);
      EXPECT_LT(worst, bound);
    }
    ASSERT_EQ(1, CalibrateCameraByIndex(lut, c.camera, 1, 0, 0));
    ExpectPose(c.camera, c.cam, "layout 27");
  }
}

// The paths of the front and rear finder and the side finder: a missing
// second mark (front) or board B or mark (side) gives 0.
TEST_F(Layout27Site, MissingPiecesTakeTheFallbacks) {
  const std::vector<Layout27Camera> cams = Layout27Cameras();
  struct Case {
    const char* name;
    Layout27Camera c;
    int hide;
    uint32_t expected;
  };
  const Case cases[] = {
      {"front, second mark hidden", cams[0], 1, 0u},
      {"side, board B hidden", cams[2], 1, 0u},
      {"side, second mark hidden", cams[2], 2, 0u},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ShowBoards(k.c.camera, k.c.cam, Floor(k.c, k.hide));
    EXPECT_EQ(k.expected, Road(k.c.camera));
    EXPECT_EQ(static_cast<int>(k.expected), lut->cornerCounts[k.c.camera - 1]);
  }
}

}  // namespace

namespace {

using namespace patch_site;

// ---- Layout 7, side cameras: the configured main board (6 x 7 squares of
// 400 mm) and two boards of 3 x 3 squares of 600 mm ahead and behind, of
// which the finder keeps the near row of the first and all of the second.
class Layout7Site : public PredictedLayoutSites {
 protected:
  void SetUp() override {
    PredictedLayoutSites::SetUp();
    GlobalVariables& g = gv();
    g.boardCols12 = g.boardCols34 = 6;
    g.boardRows12 = g.boardRows34 = 7;
    g.targetDimA = 400;
    g.targetDimB = 300;
    Compute(7, "none_cfg.txt", "");
  }
  // hide: bit 0 the main board, bit 1 the board ahead, bit 2 the one behind.
  std::vector<FloorBoard> SideFloor(int camera, int hide = 0) const {
    float x, y;
    std::vector<FloorBoard> b;
    Min(camera, 0, 30, &x, &y);
    if (!(hide & 1)) b.push_back(BoardAround(x, y, 6, 5, 400));
    Min(camera, 30, 32, &x, &y);
    if (!(hide & 2)) b.push_back(BoardAround(x, y, 2, 2, 600));
    Min(camera, 32, 36, &x, &y);
    if (!(hide & 4)) b.push_back(BoardAround(x, y, 2, 2, 600));
    return b;
  }
};

// The main board's corners come from the template detector on the picture
// resampled to 720 x 576 and are whole pixels there (up to 0.89 px across
// and 0.63 px down in the camera picture). How those roundings fall moves
// the solved pose: over nearby poses of camera 4 it lands 0.1 to 0.95
// degree off, so the site's poses are ones where the rounding is kind.
TEST_F(Layout7Site, SideCamerasGiveBoardAndSatellitesAndSolve) {
  for (int camera : {3, 4}) {
    SCOPED_TRACE(camera);
    const SceneCamera cam =
        camera == 3 ? Camera(-950, 0, 1200, -2200, 0) : Camera(950, -100, 1200, 2200, -100);
    ShowBoards(camera, cam, SideFloor(camera));
    ASSERT_EQ(36u, Road(camera));
    ExpectTruth(camera, cam, 36);
    ASSERT_EQ(1, CalibrateCameraByIndex(lut, camera, 1, 0, 0));
    ExpectPose(camera, cam, "layout 7");
  }
}

// A missing satellite keeps the main board's 30 points; a missing main
// board gives 0.
TEST_F(Layout7Site, SideCameraFallbacks) {
  const SceneCamera cam = Camera(-950, 0, 1200, -2200, 0);
  for (const auto& c : {std::make_pair(1, 0u), std::make_pair(2, 30u), std::make_pair(4, 30u)}) {
    SCOPED_TRACE(c.first);
    ShowBoards(3, cam, SideFloor(3, c.first));
    EXPECT_EQ(c.second, Road(3));
    if (c.second == 30u) ExpectTruth(3, cam, 30);
  }
}

}  // namespace

namespace {

using namespace patch_site;

// ---- Layout 7, front and rear mats (600 mm squares, outer squares cut to
// 300 mm). Front: a board of 2 x 2 corners in the middle, a board of 3 x 2
// corners at each side (its top outer corner is the extra point) and a
// small corner mark beside each side board's lower inner corner, which the
// side boards need as neighbours. Rear: a cross of five corners in the
// middle, the side boards and marks as in front.
std::vector<DarkRect> Join(std::initializer_list<std::vector<DarkRect>> parts) {
  std::vector<DarkRect> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// hide: 1 the right side board (image right: +x in front, -x behind).
std::vector<DarkRect> FrontMat(int hide = 0) {
  const std::vector<float> side = {-4200, -3900, -3300, -2700, -2400}, mark = {-2850, -2700, -2550};
  return Join({Checker({-900, -600, 0, 300}, {-3600, -3300, -2700, -2400}),
               Checker({-2700, -2400, -1800, -1500}, side),
               hide == 1 ? std::vector<DarkRect>{} : Checker({1500, 1800, 2400, 2700}, side),
               Checker({-1350, -1200, -1050}, mark), Checker({1050, 1200, 1350}, mark)});
}

std::vector<DarkRect> RearMat() {
  const std::vector<float> side = {2400, 2700, 3300, 3900, 4200}, mark = {2550, 2700, 2850};
  // The four corner cells of the middle board turned: only the cross's
  // five corners are corners there.
  return Join({Checker({-900, -600, 0, 600, 900}, side, false, {{0, 0}, {3, 3}}, {{3, 0}, {0, 3}}),
               Checker({1500, 1800, 2400, 2700}, side), Checker({-2700, -2400, -1800, -1500}, side),
               Checker({-1350, -1200, -1050}, mark), Checker({1050, 1200, 1350}, mark)});
}

// The template corners are whole pixels of the 720 x 576 picture (see
// above); the site's poses are ones where the rounding is kind to the solve.
TEST_F(Layout7Site, FrontAndRearMatsSolveThroughTheRoad) {
  struct Mat {
    int camera;
    SceneCamera cam;
    std::vector<DarkRect> rects;
    uint32_t count;
  };
  const Mat mats[] = {{1, Camera(-300, -2500, 800, -300, -3300), FrontMat(), 14u},
                      {2, Camera(0, 2500, 800, 0, 3300), RearMat(), 16u}};
  for (const Mat& m : mats) {
    SCOPED_TRACE(m.camera);
    ShowRects(m.camera, m.cam, m.rects);
    ASSERT_EQ(m.count, Road(m.camera));
    EXPECT_EQ(static_cast<int>(m.count), lut->cornerCounts[m.camera - 1]);
    ExpectTruth(m.camera, m.cam, static_cast<int>(m.count));
    ASSERT_EQ(1, CalibrateCameraByIndex(lut, m.camera, 1, 0, 0));
    ExpectPose(m.camera, m.cam, "layout 7");
  }
  // The front finder wants both side boards.
  ShowRects(1, mats[0].cam, FrontMat(1));
  EXPECT_EQ(0u, Road(1));
}

// The try counter: the schedule starts at it and leaves it one past the
// step that worked, 5 after the last step failed; from 4 on nothing is
// searched and the counter only counts up.
TEST_F(Layout7Site, PartFindersFollowTheTryCounter) {
  const SceneCamera front = Camera(-300, -2500, 800, -300, -3300);
  ShowRects(1, front, FrontMat());
  Matrix blank{kW, kH, pixels[1].data()};
  std::fill(pixels[1].begin(), pixels[1].end(), 0.8f);
  struct Case {
    const char* name;
    bool rear, onMat;
    int32_t tries;
    uint32_t result;
    int32_t after;
  };
  const Case cases[] = {
      {"front from step 0", false, true, 0, 14u, 1},  {"front from step 3", false, true, 3, 14u, 4},
      {"front at 4 searches nothing", false, true, 4, 0u, 5}, {"front at 9", false, true, 9, 0u, 10},
      {"front on a blank picture", false, false, 0, 0u, 5},   {"rear on a blank picture", true, false, 2, 0u, 5},
      {"rear at 4", true, false, 4, 0u, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t tries = c.tries;
    Matrix* image = c.onMat ? &images[0] : &blank;
    const uint32_t r = c.rear ? CalibFind_TemplateRearPart(lut, 2, image, points[1].data(), &tries)
                              : CalibFind_TemplateFrontPart(lut, 1, image, points[0].data(), &tries);
    EXPECT_EQ(c.result, r);
    EXPECT_EQ(c.after, tries);
    if (r != 0) ExpectTruth(1, front, 14);
  }
  int32_t tries = 0;
  EXPECT_EQ(0u, CalibFind_TemplateFrontPart(lut, 1, nullptr, points[0].data(), &tries));
  EXPECT_EQ(5, tries);
  EXPECT_EQ(0u, CalibFind_TemplateRearPart(lut, 2, &images[0], points[1].data(), nullptr));
}

}  // namespace

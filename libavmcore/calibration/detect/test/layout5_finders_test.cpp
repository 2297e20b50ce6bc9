// Layout 5 on a rendered site: the strip of squares, the two-square pieces
// and the seven-corner patterns laid at the layout's world points (10 mm
// boards), seen by four fisheye cameras at known poses around a car. The
// finders must return every point in world-point order near its projection,
// and the points must solve each camera back to its true pose.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "calibration/detect/find_all_corners.h"
#include "calibration/detect/layout_finders.h"
#include "camera/rotation.h"
#include "patch_site_fixture.h"
#include "surround/calibration_services.h"
#include "testsupport/floor_render.h"
#include "testsupport/pose_scene.h"
#include "toolkit/sampling.h"

namespace {

using namespace patch_site;

constexpr float kRaise = 10.0f;  // the boards' height (world z -10)

// A dark rectangle of the floor (x0 <= x < x1, y0 <= y < y1).
struct Rect {
  float x0, y0, x1, y1;
};

// The pieces of the site in car coordinates (centre 0, 0): the front and
// rear strips (4 x 2 squares of 250 mm), the side strips (3 x 2), the four
// two-square pieces of the corners (the seven-corner patterns, whose centres
// are the front and rear small pieces) and the four side pieces.
enum Hide { kNothing, kNoFrontStrip };

std::vector<Rect> SitePieces(Hide hide = kNothing) {
  std::vector<Rect> r;
  auto board = [&r](float x0, float y0, int cols, int rows) {
    for (int i = 0; i < cols; ++i)
      for (int j = 0; j < rows; ++j)
        if ((i + j) % 2 == 0) r.push_back({x0 + 250 * i, y0 + 250 * j, x0 + 250 * (i + 1), y0 + 250 * (j + 1)});
  };
  auto pair = [&r](float cx, float cy, float ax, float ay) {
    // Two squares meeting at (cx, cy), one towards (ax, ay), one opposite.
    r.push_back({std::fmin(cx, cx + ax), std::fmin(cy, cy + ay), std::fmax(cx, cx + ax), std::fmax(cy, cy + ay)});
    r.push_back({std::fmin(cx, cx - ax), std::fmin(cy, cy - ay), std::fmax(cx, cx - ax), std::fmax(cy, cy - ay)});
  };
  if (hide != kNoFrontStrip) board(-500, -3200, 4, 2);
  board(-500, 2850, 4, 2);
  board(-2000, 650, 2, 3);
  board(1500, 650, 2, 3);
  pair(-1750, -3100, -250, 250);
  pair(1750, -3100, -250, -250);
  pair(-1750, 2950, -250, -250);
  pair(1750, 2950, -250, -250);
  pair(-1650, -900, -250, 250);
  pair(-1750, -1800, 250, 250);
  pair(1750, -1800, 250, -250);
  pair(1650, -900, -250, -250);
  return r;
}

std::vector<float> RenderPieces(const SceneCamera& cam, const std::vector<Rect>& pieces) {
  FloorRenderWindow w = FloorRenderWindow{-6000.0f, -7000.0f, 12000.0f, 14000.0f};
  w.z = -kRaise;
  return Floor_Render(cam, kW, kH, w, [pieces](float x, float y) {
    for (const Rect& p : pieces)
      if (x >= p.x0 && x < p.x1 && y >= p.y0 && y < p.y1) return 30.0f;
    return -1.0f;
  });
}

SceneCamera SiteCamera(int camera) {
  switch (camera) {
    case 1: return Camera(0, -2350, 800, 0, -3600);
    case 2: return Camera(0, 2350, 900, 0, 3600);
    case 3: return Camera(-950, -1000, 1000, -2200, -1100);
    default: return Camera(950, -1000, 1000, 2200, -1100);
  }
}

// The site's pictures, rendered once for the whole suite.
const std::vector<float>& SitePicture(int camera) {
  static std::array<std::vector<float>, 4> pictures;
  std::vector<float>& p = pictures[camera - 1];
  if (p.empty()) p = RenderPieces(SiteCamera(camera), SitePieces());
  return p;
}

constexpr int kCount[4] = {21, 21, 22, 22};

class Layout5Site : public PatchSiteTest {
 protected:
  void SetUp() override {
    PatchSiteTest::SetUp();
    Layout(5, "gj1_cfg.txt", std::vector<std::vector<float>>(4, {0, 0, 1280, 720}));
  }
  void ShowSite(int camera) {
    pixels[camera - 1] = SitePicture(camera);
    images[camera - 1].data = pixels[camera - 1].data();
  }
  // Largest distance of the first n points from the projections of the
  // world points.
  double WorstError(int camera, const SceneCamera& cam, int n, int first = 0) const {
    double worst = 0.0;
    for (int k = first; k < n; ++k) {
      float row, col;
      Project(cam, W(camera, k), &row, &col);
      worst = std::fmax(worst, std::hypot(points[camera - 1][2 * k] - row, points[camera - 1][2 * k + 1] - col));
    }
    return worst;
  }
};

// Camera centre (-R^T T) of a pose.
void Centre(const float* r, const float* t, double c[3]) {
  float rv[3] = {r[0], r[1], r[2]}, m[9];
  Matrix rm{1, 3, rv}, R{3, 3, m};
  RodriguesToMatrix(&rm, &R);
  for (int i = 0; i < 3; ++i) c[i] = -(m[i] * t[0] + m[3 + i] * t[1] + m[6 + i] * t[2]);
}

// The calibration road of every camera: the corner search through the
// layout's dispatch, then the final solve from its points. Inner corners
// (refined) and the patterns' middle corners lie within a pixel of the
// truth. The corners picked on blob outlines are whole outline pixels of a
// blurred, binarised square. The patterns' outer corners are polygon
// vertices on the outline of a square in a top view that magnifies the
// picture about threefold: the picture's blur rounds each corner there by
// one to two of its pixels, so those corners sit about a picture pixel
// inside the square (1.5 px inward on every outer corner of exact points
// moves these poses by 0.53 to 0.79 degree and 34 to 46 mm), and the
// solve is held to the bound of that inward shift. (The seven or eight
// quad-stage points alone do worse: 0.02 to 0.88 degree.)
TEST_F(Layout5Site, CalibrationRoadSolvesEveryCamera) {
  struct Case {
    int camera;
    std::vector<int> fine, outline;  // point indexes by bound
  };
  const Case cases[] = {
      {1, {0, 1, 2, 3, 4, 7, 14}, {5, 6}},
      {2, {0, 1, 2, 3, 4, 7, 14}, {5, 6}},
      {3, {0, 1, 2, 3, 8, 15}, {4, 5, 6, 7}},
      {4, {0, 1, 2, 3, 8, 15}, {4, 5, 6, 7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.camera);
    ShowSite(c.camera);
    const SceneCamera cam = SiteCamera(c.camera);
    const int n = kCount[c.camera - 1];
    ASSERT_EQ(static_cast<uint32_t>(n), FindAllChessboardCorners(lut, c.camera));
    EXPECT_EQ(n, lut->cornerCounts[c.camera - 1]);
    double fine = 0.0, outline = 0.0, rest = 0.0;
    for (int k = 0; k < n; ++k) {
      const double e = WorstError(c.camera, cam, k + 1, k);
      const bool isFine = std::find(c.fine.begin(), c.fine.end(), k) != c.fine.end();
      const bool isOutline = std::find(c.outline.begin(), c.outline.end(), k) != c.outline.end();
      double& slot = isFine ? fine : (isOutline ? outline : rest);
      slot = std::fmax(slot, e);
    }
    std::printf("[errors] layout 5 camera %d: inner corners %.2f px, outline corners %.2f px, pattern corners %.2f px\n",
                c.camera, fine, outline, rest);
    EXPECT_LT(fine, 1.0);
    EXPECT_LT(outline, 2.0);
    EXPECT_LT(rest, 2.5);

    const int i = c.camera - 1;
    ASSERT_EQ(0, CalibrateCamera(&lut->cfg, kW, kH, &images[i], c.camera, n, points[i].data(), world[i].data(),
                                 &lut->poses.K[i], &lut->poses.D[i], &lut->poses.R[i], &lut->poses.T[i], 0, 0));
    double got[3], truth[3];
    Centre(lut->params.R[i], lut->params.T[i], got);
    Centre(cam.r, cam.T, truth);
    const double angle = PoseScene_RotationErrorDeg(lut->params.R[i], cam.r);
    const double shift = std::hypot(got[0] - truth[0], got[1] - truth[1], got[2] - truth[2]);
    std::printf("[errors] layout 5 camera %d solved: %.3f deg, %.1f mm off the true pose\n", c.camera, angle, shift);
    EXPECT_LT(angle, 0.8);
    EXPECT_LT(shift, 50.0);
  }
}

// Without the strip the camera gets no points, and nothing reaches the
// solver. (The side cameras' empty result is shown with a missing pattern
// below.)
TEST_F(Layout5Site, HiddenStripGivesNothing) {
  pixels[0] = RenderPieces(SiteCamera(1), SitePieces(kNoFrontStrip));
  images[0].data = pixels[0].data();
  gv().lastCalibResult[0] = -1.0f;
  EXPECT_EQ(0u, FindAllChessboardCorners(lut, 1));
  EXPECT_EQ(0, lut->cornerCounts[0]);
  EXPECT_EQ(-1.0f, gv().lastCalibResult[0]);
}

// Camera 1's picture on a taller or wider canvas (light floor beyond): the
// strip's middle corner must lie below 0.38 of the height before any solve,
// and the two pieces on either side of the middle column.
TEST_F(Layout5Site, StripRowAndPieceSidesDecideTheSolve) {
  struct Case {
    int cols, rows;
    uint32_t expected;
  };
  // Middle strip corner at row 486, pieces at columns 272 and 1007.
  const Case cases[] = {{kW, 1270, 21}, {kW, 1290, 0}, {2000, kH, 21}, {2100, kH, 0}};
  const std::vector<float>& site = SitePicture(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.cols << " x " << c.rows);
    std::vector<float> canvas(static_cast<size_t>(c.cols) * c.rows, 215.0f / 255.0f);
    for (int r = 0; r < kH; ++r) std::copy_n(&site[static_cast<size_t>(r) * kW], kW, &canvas[static_cast<size_t>(r) * c.cols]);
    Matrix picture{c.cols, c.rows, canvas.data()};
    gv().lastCalibResult[0] = -1.0f;
    EXPECT_EQ(c.expected, CalibInit_FindChessboardCorners(lut, 1, &picture, points[0].data()));
    if (c.expected == 0) {
      EXPECT_EQ(-1.0f, gv().lastCalibResult[0]);
    } else {
      EXPECT_LT(WorstError(1, SiteCamera(1), 5), 1.0);
    }
  }
}

// A camera mounted upside down: its picture is searched turned back, and
// the points come back in the picture's own orientation. Camera 2 turns by
// bit 1 of word 66, camera 4 by bit 0; cameras 1 and 3 do not turn by
// those bits.
TEST_F(Layout5Site, TurnedPicturesGiveTheirOwnOrientation) {
  struct Case {
    int camera;
    int32_t word66;
    bool turned;  // the picture delivered upside down
    uint32_t expected;
  };
  const Case cases[] = {{2, 2, true, 21}, {4, 1, true, 22}, {1, 3, false, 21}, {3, 7, false, 22}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "camera " << c.camera << " word " << c.word66);
    ShowSite(c.camera);
    std::vector<float> turned(pixels[c.camera - 1].size());
    Matrix t{kW, kH, turned.data()};
    if (c.turned) {
      Image_Rotate(&images[c.camera - 1], &t, 3.14159265358979f);
      pixels[c.camera - 1] = turned;
      images[c.camera - 1].data = pixels[c.camera - 1].data();
    }
    gv().JDSpecial = c.word66;
    const uint32_t n = CalibFind_Layout5Any(lut, c.camera, &images[c.camera - 1], 0, 0, points[c.camera - 1].data());
    ASSERT_EQ(c.expected, n);
    const SceneCamera cam = SiteCamera(c.camera);
    for (int k : {0, 1, 2, 3}) {
      float row, col;
      Project(cam, W(c.camera, k), &row, &col);
      if (c.turned) row = kH - 1 - row, col = kW - 1 - col;
      EXPECT_NEAR(row, points[c.camera - 1][2 * k], 1.0) << k;
      EXPECT_NEAR(col, points[c.camera - 1][2 * k + 1], 1.0) << k;
    }
  }
  gv().JDSpecial = 0;
}

// A seven-corner pattern that is not where its world point says: the front
// and rear cameras keep their seven quad-stage points, the side cameras find
// nothing.
TEST_F(Layout5Site, MissingPatternKeepsSevenOrGivesNothing) {
  struct Case {
    int camera, moved;
    uint32_t expected;
  };
  const Case cases[] = {{1, 14, 7}, {1, 7, 7}, {3, 15, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "camera " << c.camera << " point " << c.moved);
    ShowSite(c.camera);
    float* w = &world[c.camera - 1][3 * c.moved];
    const float keep = w[0];
    w[0] += w[0] < 0 ? -1500.0f : 1500.0f;  // bare floor farther out
    EXPECT_EQ(c.expected, CalibFind_Layout5Any(lut, c.camera, &images[c.camera - 1], 0, 0, points[c.camera - 1].data()));
    w[0] = keep;
    if (c.expected == 7) {
      EXPECT_LT(WorstError(c.camera, SiteCamera(c.camera), 5), 1.0);
    }
  }
}

// Search boxes: reaching past the picture they are cut to it; wholly
// outside they find nothing. A layout-5 profile whose file could not be
// read gets the whole picture less two pixels as every box and counts as
// loaded; a record holding no layout-5 profile is left as it is.
TEST_F(Layout5Site, SearchBoxesFromTheProfile) {
  struct Case {
    std::vector<float> box;
    int camera;
    uint32_t expected;
  };
  const Case cases[] = {
      {{-300, -200, 1600, 1000}, 1, 21}, {{-300, -200, 1600, 1000}, 3, 22},
      {{2000, 0, 2064, 64}, 1, 0},       {{0, -900, 1280, -10}, 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "camera " << c.camera << " box " << c.box[0] << " " << c.box[1]);
    Layout(5, "gj1_cfg.txt", std::vector<std::vector<float>>(4, c.box));
    ASSERT_EQ(5u, CalibProfile().Tag());
    ShowSite(c.camera);
    EXPECT_EQ(c.expected, CalibFind_Layout5Any(lut, c.camera, &images[c.camera - 1], 0, 0, points[c.camera - 1].data()));
  }

  std::vector<float> blank(64 * 48, 0.8f);
  Matrix small{64, 48, blank.data()};
  CalibProfileRecord& profile = CalibProfile();
  profile = CalibProfileRecord{};
  profile.words[0] = 5;
  EXPECT_EQ(0u, CalibInit_FindChessboardCorners(lut, 1, &small, points[0].data()));
  EXPECT_EQ(1, profile.I(2));
  const float whole[4] = {0, 0, 62, 46};
  for (int k = 0; k < 16; ++k) EXPECT_EQ(whole[k % 4], profile.F(3 + k)) << k;

  profile = CalibProfileRecord{};
  profile.words[0] = 9;
  profile.SetF(3, 123.0f);
  EXPECT_EQ(0u, CalibFind_Layout5Side(lut, 3, &small, points[2].data()));
  EXPECT_EQ(9u, profile.Tag());
  EXPECT_EQ(123.0f, profile.F(3));
  EXPECT_EQ(0, profile.I(2));
}

// Bad calls: no object, a camera the finder does not serve, no picture, a
// point buffer smaller than the target.
TEST_F(Layout5Site, RefusesBadCalls) {
  ShowSite(1);
  EXPECT_EQ(0u, CalibInit_FindChessboardCorners(nullptr, 1, &images[0], points[0].data()));
  EXPECT_EQ(0u, CalibInit_FindChessboardCorners(lut, 3, &images[0], points[0].data()));
  EXPECT_EQ(0u, CalibFind_Layout5Side(lut, 1, &images[0], points[0].data()));
  EXPECT_EQ(0u, CalibFind_Layout5Any(lut, 5, &images[0], 0, 0, points[0].data()));
  EXPECT_EQ(0u, CalibInit_FindChessboardCorners(lut, 1, nullptr, points[0].data()));
  EXPECT_EQ(0u, CalibInit_FindChessboardCorners(lut, 1, &images[0], nullptr));
  gv().maxPoints = 20;
  lut->cornerCounts[0] = -1;
  EXPECT_EQ(0u, CalibInit_FindChessboardCorners(lut, 1, &images[0], points[0].data()));
  EXPECT_EQ(-1, lut->cornerCounts[0]);
}

}  // namespace

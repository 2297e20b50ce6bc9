#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "calibration/detect/layout_finders.h"
#include "calibration/detect/line_target_finders.h"
#include "camera/lut_config.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "testsupport/config_state.h"
#include "calibration/detect/find_all_corners.h"
#include "calibration/detect/pose_solve_services.h"
#include "camera/rotation.h"
#include "frame/lens_table.h"
#include "testsupport/lens_table_fixture.h"
#include "testsupport/stripe_site.h"
#include "testsupport/test_lutob.h"

namespace {

// ---- Pair choice on hand-made lines ----

GroundLineRec Vertical(float col) {
  GroundLineRec l{};
  l.row1 = 0.0f;
  l.col1 = col;
  l.row2 = 99.0f;
  l.col2 = col;
  l.key = col;
  l.intercept = col;
  return l;
}

// 100 rows x 60 columns, set (1) in the column ranges given.
std::vector<float> Strips(std::initializer_list<std::pair<int, int>> ranges) {
  std::vector<float> img(100 * 60, 0.0f);
  for (int r = 0; r < 100; ++r)
    for (const auto& g : ranges)
      for (int c = g.first; c <= g.second; ++c) img[r * 60 + c] = 1.0f;
  return img;
}

TEST(SelectLinePair, GapRangeAndMiddleTestChooseThePair) {
  struct Case {
    const char* what;
    float sign;
    std::vector<float> cols;
    std::vector<std::pair<int, int>> set;
    int found;
    float first, second;
  } cases[] = {
      {"nearest pair with a set middle", 1.0f, {10, 20, 30}, {{24, 26}}, 1, 30, 20},
      {"unset middle falls to the next pair", 1.0f, {10, 20, 30}, {{14, 16}}, 1, 20, 10},
      {"descending order for sign -1", -1.0f, {30, 10, 20}, {{14, 16}}, 1, 10, 20},
      {"gap too wide is never paired", 1.0f, {10, 40}, {{0, 59}}, 0, 40, 10},
      {"gap too narrow is never paired", 1.0f, {10, 13}, {{0, 59}}, 0, 13, 10},
      {"no set middle at all", 1.0f, {10, 20}, {}, 0, 20, 10},
  };
  for (const Case& c : cases) {
    std::vector<GroundLineRec> lines;
    for (float col : c.cols) lines.push_back(Vertical(col));
    std::vector<float> img(100 * 60, 0.0f);
    for (int r = 0; r < 100; ++r)
      for (const auto& g : c.set)
        for (int k = g.first; k <= g.second; ++k) img[r * 60 + k] = 1.0f;
    Matrix bin{60, 100, img.data()};
    GroundLineRec a{}, b{};
    EXPECT_EQ(SelectLinePair(c.sign, 14.0f, 6.0f, lines.data(), static_cast<int>(lines.size()), &a, &b, &bin),
              c.found)
        << c.what;
    EXPECT_EQ(a.key, c.first) << c.what;
    EXPECT_EQ(b.key, c.second) << c.what;
  }
}

TEST(SelectLinePair, ExcludedLinesAreNoCandidates) {
  std::vector<GroundLineRec> lines = {Vertical(10), Vertical(20), Vertical(30)};
  lines[2].excluded = 1;
  std::vector<float> img = Strips({{14, 16}, {24, 26}});
  Matrix bin{60, 100, img.data()};
  GroundLineRec a{}, b{};
  ASSERT_EQ(SelectLinePair(1.0f, 14.0f, 6.0f, lines.data(), 3, &a, &b, &bin), 1);
  EXPECT_EQ(a.key, 20.0f);
  EXPECT_EQ(b.key, 10.0f);
}

// Lines whose middle runs out of the view: the rows outside do not count and
// nothing is read beyond a row.
TEST(SelectLinePair, MiddleOutsideTheViewDoesNotCount) {
  std::vector<float> img = Strips({{0, 59}});
  Matrix bin{60, 100, img.data()};
  GroundLineRec a{}, b{};
  // Middle column r - 5: inside the view in rows 5 to 64 only, 60 of 100.
  GroundLineRec l1 = Vertical(-10), l2 = Vertical(0);
  for (GroundLineRec* l : {&l1, &l2}) l->slope = 1.0f;
  l1.key = 40.0f;  // keys decide the order and gap only
  l2.key = 50.0f;
  std::vector<GroundLineRec> lines = {l1, l2};
  EXPECT_EQ(SelectLinePair(1.0f, 14.0f, 6.0f, lines.data(), 2, &a, &b, &bin), 1);
  // Now the middle leaves the view to the right after 30 rows.
  for (GroundLineRec& l : lines) l.intercept += 35.0f;
  EXPECT_EQ(SelectLinePair(1.0f, 14.0f, 6.0f, lines.data(), 2, &a, &b, &bin), 0);
  // Far outside in every row.
  for (GroundLineRec& l : lines) l.intercept = 1e9f;
  EXPECT_EQ(SelectLinePair(1.0f, 14.0f, 6.0f, lines.data(), 2, &a, &b, &bin), 0);
  for (GroundLineRec& l : lines) l.intercept = -1e9f;
  EXPECT_EQ(SelectLinePair(1.0f, 14.0f, 6.0f, lines.data(), 2, &a, &b, &bin), 0);
}

// ---- Rendered stripe site ----

constexpr int kW = 1280, kH = 720;
constexpr int kStripe = 100;      // stripe width (word 33)
constexpr int kInnerSpan = 2600;  // distance of the two inner edges (word 45)

// The stripe site and a LUT object pointing at its parameter block.
class StripeSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.stripe = kStripe;
    site_.innerSpan = kInnerSpan;
    StripeSite_Init(&site_);
    GlobalVariables& g = gv();
    g.targetDimA = kStripe;
    g.place0 = kInnerSpan;
    lut_.Reset();
    lut_->cfg.paramBlock = &site_.block;
    for (int c = 0; c < 4; ++c) lut_->worldPoints[c] = world_[c];
  }
  void TearDown() override {
    lut_->cfg.paramBlock = nullptr;
  }

  void Render(int camera, bool left = true, bool right = true, float centre = 0.0f) {
    site_.left = left;
    site_.right = right;
    site_.centre = centre;
    pixels_ = StripeSite_Render(site_, camera);
    image_ = Matrix{kW, kH, pixels_.data()};
  }

  std::vector<float> Project(int camera, const std::vector<float>& ground) const {
    return StripeSite_Project(site_, camera, ground);
  }

  static bool InImage(const float* p) { return p[0] >= 0 && p[0] <= kH - 1 && p[1] >= 0 && p[1] <= kW - 1; }

  // Image distance of point p to the true edge x = lineX (dense polyline).
  float DistanceToEdge(int camera, float lineX, const float* p) const {
    std::vector<float> ground;
    for (float y = -10000.0f; y <= 10000.0f; y += 5.0f) ground.insert(ground.end(), {lineX, y, 0.0f});
    const std::vector<float> img = Project(camera, ground);
    float best = 1e9f;
    for (size_t i = 0; i + 1 < img.size() / 2; ++i) {
      const float* a = &img[2 * i];
      const float* b = &img[2 * i + 2];
      if (!InImage(a) || !InImage(b)) continue;
      const float dr = b[0] - a[0], dc = b[1] - a[1];
      const float len2 = dr * dr + dc * dc;
      float t = len2 > 0 ? ((p[0] - a[0]) * dr + (p[1] - a[1]) * dc) / len2 : 0.0f;
      t = std::fmax(0.0f, std::fmin(1.0f, t));
      best = std::fmin(best, std::hypot(p[0] - a[0] - t * dr, p[1] - a[1] - t * dc));
    }
    return best;
  }

  ScopedConfigState state_;
  StripeSite site_;
  TestLutob lut_;
  float world_[4][3 * 59] = {};
  std::vector<float> pixels_;
  Matrix image_{};
};

// The side cameras give the inner edge, then the outer one, 27 points each
// at the layout's y values; through the true pose the returned world points
// land on the returned image points.
TEST_F(StripeSiteTest, SideCamerasGive54PointsOnBothEdges) {
  for (int camera : {3, 4}) {
    SCOPED_TRACE(camera);
    Render(camera);
    float points[2 * 59];
    ASSERT_EQ(CalibFind_Layout51(lut_, camera, &image_, 0, 0, points), 54u);
    const float inner = camera == 3 ? -kInnerSpan / 2.0f : kInnerSpan / 2.0f;
    const float outer = camera == 3 ? inner - kStripe : inner + kStripe;
    const float* world = world_[camera - 1];
    std::vector<float> ground(world, world + 3 * 54);
    const std::vector<float> truth = Project(camera, ground);
    int inside = 0;
    float worst = 0.0f;
    for (int k = 0; k < 54; ++k) {
      EXPECT_EQ(world[3 * k], k < 27 ? inner : outer);
      EXPECT_NEAR(world[3 * k + 1], -5000.0f + k % 27 * 10000.0f / 27.0f, 0.01f);
      EXPECT_EQ(world[3 * k + 2], 0.0f);
      if (!InImage(&truth[2 * k])) continue;
      ++inside;
      worst = std::fmax(worst, std::hypot(points[2 * k] - truth[2 * k], points[2 * k + 1] - truth[2 * k + 1]));
    }
    std::printf("[errors] layout 51 camera %d: %d points in the picture, largest error %.3f px\n", camera, inside,
                worst);
    EXPECT_GE(inside, 20);
    EXPECT_LT(worst, 1.0f);
  }
}

// A stripe pair off the centre moves the world x the finder hands back.
TEST_F(StripeSiteTest, SideWorldXFollowsTheConfiguredCentre) {
  GlobalVariables& g = gv();
  g.place6 = 300;  // centre (300 - 0 - (100 - 0)) / 2 = 100 mm to the right
  g.place5 = 100;
  Render(4, true, true, 100.0f);
  float points[2 * 59];
  ASSERT_EQ(CalibFind_Layout51(lut_, 4, &image_, 0, 0, points), 54u);
  EXPECT_EQ(world_[3][0], 100.0f + kInnerSpan / 2.0f);
  EXPECT_EQ(world_[3][3 * 27], 100.0f + kInnerSpan / 2.0f + kStripe);
}

// Front and rear cameras give the inner edge of the left stripe, then of the
// right one.
TEST_F(StripeSiteTest, FrontAndRearCamerasGiveBothInnerEdges) {
  for (int camera : {1, 2}) {
    SCOPED_TRACE(camera);
    Render(camera);
    float points[2 * 59];
    ASSERT_EQ(CalibFind_Layout51(lut_, camera, &image_, 0, 0, points), 54u);
    float worst = 0.0f;
    int inside = 0;
    for (int k = 0; k < 54; ++k) {
      if (!InImage(&points[2 * k])) continue;
      ++inside;
      const float x = k < 27 ? -kInnerSpan / 2.0f : kInnerSpan / 2.0f;
      worst = std::fmax(worst, DistanceToEdge(camera, x, &points[2 * k]));
    }
    std::printf("[errors] layout 51 camera %d: %d points in the picture, largest distance to the edge %.3f px\n",
                camera, inside, worst);
    EXPECT_GE(inside, 40);
    EXPECT_LT(worst, 1.0f);
  }
}

// The top view follows the block's pose: searches through one pose give
// the same points whether its view was kept or built afresh, and a search
// through another pose in between gives other points.
TEST_F(StripeSiteTest, TopViewFollowsAChangedPose) {
  Render(1);
  std::vector<float> first(2 * 59), between(2 * 59), again(2 * 59);
  site_.block.params.T[0][0] += 80.0f;
  site_.block.params.R[0][1] += 0.017f;
  ASSERT_EQ(CalibFind_Layout51(lut_, 1, &image_, 0, 0, first.data()), 54u);
  site_.block.params.T[0][0] -= 80.0f;
  site_.block.params.R[0][1] -= 0.017f;
  ASSERT_EQ(CalibFind_Layout51(lut_, 1, &image_, 0, 0, between.data()), 54u);
  site_.block.params.T[0][0] += 80.0f;
  site_.block.params.R[0][1] += 0.017f;
  ASSERT_EQ(CalibFind_Layout51(lut_, 1, &image_, 0, 0, again.data()), 54u);
  EXPECT_EQ(first, again);
  EXPECT_NE(first, between);
}

// Hidden stripes, or stripes on one side only for the front camera, give no
// points; a missing parameter block or a small point buffer neither.
TEST_F(StripeSiteTest, HiddenOrOneSidedStripesGiveNothing) {
  float points[2 * 59];
  for (int camera = 1; camera <= 4; ++camera) {
    Render(camera, false, false);
    EXPECT_EQ(CalibFind_Layout51(lut_, camera, &image_, 0, 0, points), 0u) << camera;
  }
  Render(1, true, false);
  EXPECT_EQ(CalibFind_Layout51(lut_, 1, &image_, 0, 0, points), 0u);
  Render(3);
  lut_->cfg.paramBlock = nullptr;
  EXPECT_EQ(CalibFind_Layout51(lut_, 3, &image_, 0, 0, points), 0u);
  lut_->cfg.paramBlock = &site_.block;
  gv().maxPoints = 40;
  EXPECT_EQ(CalibFind_Layout51(lut_, 3, &image_, 0, 0, points), 0u);
}

// The corner search of layout 51 dispatches to the stripe finders and
// records the count; hidden stripes give the camera no points.
TEST_F(StripeSiteTest, CornerSearchOfLayout51) {
  gv().CalibLayoutCode = 51;
  std::vector<float> buffers[4];
  for (int c = 0; c < 4; ++c) {
    buffers[c].assign(2 * 59, -1.0f);
    lut_->imagePoints[c] = buffers[c].data();
  }
  for (uint32_t camera : {1u, 3u}) {
    Render(static_cast<int>(camera));
    lut_->cameraImages[camera - 1] = &image_;
    EXPECT_EQ(FindAllChessboardCorners(lut_, camera), 54u) << camera;
    EXPECT_EQ(lut_->cornerCounts[camera - 1], 54) << camera;
    EXPECT_NE(buffers[camera - 1][2 * 53], -1.0f) << camera;
    Render(static_cast<int>(camera), false, false);
    EXPECT_EQ(FindAllChessboardCorners(lut_, camera), 0u) << camera;
    EXPECT_EQ(lut_->cornerCounts[camera - 1], 0) << camera;
    lut_->cameraImages[camera - 1] = nullptr;
  }
  for (int c = 0; c < 4; ++c) lut_->imagePoints[c] = nullptr;
}

// Angle (degrees) between the rotations of two rotation vectors.
double RotationGapDeg(const float* a, const float* b) {
  float ra[9], rb[9], va[3] = {a[0], a[1], a[2]}, vb[3] = {b[0], b[1], b[2]};
  Matrix ma{1, 3, va}, mb{1, 3, vb}, Ra{3, 3, ra}, Rb{3, 3, rb};
  RodriguesToMatrix(&ma, &Ra);
  RodriguesToMatrix(&mb, &Rb);
  double trace = 0.0;  // trace of Ra^T Rb
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) trace += static_cast<double>(ra[3 * k + i]) * rb[3 * k + i];
  return std::acos(std::fmax(-1.0, std::fmin(1.0, (trace - 1.0) / 2.0))) * 180.0 / M_PI;
}

// The whole road of each camera: the finder reads the stripes through the
// parameter block's pose and the line fit solves the camera. For the front
// and rear cameras the block's pose is off by about half a degree and 15 mm
// and the fit brings it back; the side cameras' points carry the block's
// pose in their y values, so the side fit is only checked to keep the truth.
TEST_F(StripeSiteTest, FoundStripesSolveThePose) {
  GlobalVariables& g = gv();
  g.CalibLayoutCode = 51;
  g.presetLimit[0] = g.presetLimit[1] = g.presetLimit[2] = 3.0f;
  site_.block.quadWidth = 2 * kW;
  site_.block.quadHeight = 2 * kH;
  CameraParamSet_SetHeaders(&lut_->params, &lut_->poses);
  lut_->camW = kW;
  lut_->camH = kH;
  std::vector<float> buffers[4];
  for (int camera = 1; camera <= 4; ++camera) {
    SCOPED_TRACE(camera);
    const int c = camera - 1;
    Render(camera);
    float trueR[3], trueT[3];
    std::memcpy(trueR, site_.block.params.R[c], sizeof trueR);
    std::memcpy(trueT, site_.block.params.T[c], sizeof trueT);
    if (camera <= 2) {
      site_.block.params.R[c][0] += 0.006f;
      site_.block.params.R[c][2] -= 0.005f;
      site_.block.params.T[c][2] += 15.0f;
    }
    buffers[c].assign(2 * 59, 0.0f);
    lut_->imagePoints[c] = buffers[c].data();
    lut_->cameraImages[c] = &image_;
    if (camera <= 2)  // the target x of the two inner edges
      for (int k = 0; k < 54; ++k) world_[c][3 * k] = k < 27 ? -kInnerSpan / 2.0f : kInnerSpan / 2.0f;
    ASSERT_EQ(FindAllChessboardCorners(lut_, static_cast<uint32_t>(camera)), 54u);
    ASSERT_EQ(CalibrateCameraByIndex(lut_, camera, 1, 0, 0), 1);
    const double angle = RotationGapDeg(lut_->params.R[c], trueR);
    const double shift = std::hypot(lut_->params.T[c][0] - trueT[0], lut_->params.T[c][1] - trueT[1],
                                    lut_->params.T[c][2] - trueT[2]);
    std::printf("[errors] layout 51 camera %d solved: %.3f deg, %.1f mm off the true pose\n", camera, angle, shift);
    EXPECT_LT(angle, 0.3);
    EXPECT_LT(shift, 25.0);
    lut_->cameraImages[c] = nullptr;
    lut_->imagePoints[c] = nullptr;
    std::memcpy(site_.block.params.R[c], trueR, sizeof trueR);
    std::memcpy(site_.block.params.T[c], trueT, sizeof trueT);
  }
}


// Lens models 1, 2 and 4 have no left/right line fit: their side solve
// returns 0 and keeps the parameter block's pose (the site above). The
// model-3 fit holds the translation and turns the camera so that the image
// points land on the stripe edges at their y values. Those come from the
// block pose, so they hold the fit near it: a turn about the vehicle's
// length axis (along the edges) stays where the block put it, a tilt across
// the edges comes about half-way back, a yaw nearly all the way.
TEST_F(StripeSiteTest, SideLineFitOfTheTableLensTurnsThePoseBack) {
  EquidistantTable table;
  table.heightPerRadian = 0.55f;
  LensTableFixture_Write(state_.dir(), 7, table);
  LensTableFixture_Install(state_.dir(), 7);
  LensTable_Select(0);
  LensTable_Current()->trackCount = 1;
  site_.model = 3;
  site_.scale3 = kW / 2.0f / 1.76f / 0.55f;
  StripeSite_Init(&site_);
  GlobalVariables& g = gv();
  g.CalibLayoutCode = 51;
  g.presetLimit[2] = 3.0f;
  site_.block.quadWidth = 2 * kW;
  site_.block.quadHeight = 2 * kH;
  CameraParamSet_SetHeaders(&lut_->params, &lut_->poses);
  lut_->camW = kW;
  lut_->camH = kH;
  struct Case {
    const char* what;
    float axis[3];     // world axis of the block's extra turn
    float shiftZ;      // added to T.z
    double maxAngle;   // after the fit
    double minAngle = 0.0;
  } cases[] = {{"tilt across the edges", {0, 1, 0}, 0.0f, 0.25},
               {"tilt the other way", {0, -1, 0}, 0.0f, 0.25},
               {"yaw, camera 15 mm out along its axis", {0, 0, 1}, 15.0f, 0.25},
               {"turn along the edges", {1, 0, 0}, 0.0f, 0.45, 0.35}};
  std::vector<float> buffer(2 * 59, 0.0f);
  for (int camera = 3; camera <= 4; ++camera) {
    const int c = camera - 1;
    Render(camera);
    float trueR[3], trueT[3];
    std::memcpy(trueR, site_.block.params.R[c], sizeof trueR);
    std::memcpy(trueT, site_.block.params.T[c], sizeof trueT);
    for (const Case& k : cases) {
      SCOPED_TRACE(std::string(k.what) + ", camera " + std::to_string(camera));
      // x_cam = R Q x_world + T: the world turned 0.4 degree about the axis.
      const float angle = 0.4f * static_cast<float>(M_PI) / 180.0f;
      const float q[3] = {k.axis[0] * angle, k.axis[1] * angle, k.axis[2] * angle};
      float Rm[9], Qm[9], RQ[9];
      RodriguesArr(trueR, Rm, nullptr);
      RodriguesArr(q, Qm, nullptr);
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
          RQ[3 * i + j] = 0.0f;
          for (int l = 0; l < 3; ++l) RQ[3 * i + j] += Rm[3 * i + l] * Qm[3 * l + j];
        }
      RotationMatrixToVector(RQ, site_.block.params.R[c]);
      std::memcpy(site_.block.params.T[c], trueT, sizeof trueT);
      site_.block.params.T[c][2] += k.shiftZ;
      lut_->imagePoints[c] = buffer.data();
      lut_->cameraImages[c] = &image_;
      ASSERT_EQ(FindAllChessboardCorners(lut_, static_cast<uint32_t>(camera)), 54u);
      ASSERT_EQ(CalibrateCameraByIndex(lut_, camera, 1, 0, 0), 1);
      const double solved = RotationGapDeg(lut_->params.R[c], trueR);
      const double shift = std::hypot(lut_->params.T[c][0] - trueT[0], lut_->params.T[c][1] - trueT[1],
                                      lut_->params.T[c][2] - trueT[2]);
      std::printf("[errors] layout 51 camera %d, %s (lens table): %.3f deg from 0.400, %.1f mm off\n", camera,
                  k.what, solved, shift);
      EXPECT_LT(solved, k.maxAngle);
      EXPECT_GT(solved, k.minAngle);
      EXPECT_NEAR(shift, k.shiftZ, 1e-3);  // the side fit holds the translation
      lut_->cameraImages[c] = nullptr;
      lut_->imagePoints[c] = nullptr;
    }
    std::memcpy(site_.block.params.R[c], trueR, sizeof trueR);
    std::memcpy(site_.block.params.T[c], trueT, sizeof trueT);
  }
}

}  // namespace

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "calibration/detect/layout_finders.h"
#include "calibration/detect/line_target_finders.h"
#include "camera/camera_model.h"
#include "camera/lut_config.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "testsupport/config_state.h"
#include "testsupport/scene_renderer.h"

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
constexpr float kCarWidth = 1800, kCarLength = 4600;
constexpr int kStripe = 100;     // stripe width (word 33)
constexpr int kInnerSpan = 2600; // distance of the two inner edges (word 45)

// Four fisheye cameras around the car (x right, y rear), the parameter
// block of their true poses, and a LUT object pointing at it.
class StripeSite : public ::testing::Test {
 protected:
  void SetUp() override {
    const float hw = kCarWidth / 2.0f, hl = kCarLength / 2.0f;
    const float pos[4][3] = {{0, -hl + 300, 800}, {0, hl - 300, 900}, {-hw + 100, 0, 1000}, {hw - 100, 0, 1000}};
    const float look[4][3] = {{0, -hl - 1200, 0}, {0, hl + 1200, 0}, {-hw - 1400, 0, 0}, {hw + 1400, 0, 0}};
    std::memset(&block_, 0, sizeof block_);
    CameraParamSet_SetHeaders(&block_.params, &block_.headers);
    block_.carWidth = kCarWidth;
    block_.carLength = kCarLength;
    for (int c = 0; c < 4; ++c) {
      SceneCamera& s = cams_[c];
      s.model = 2;
      const float K[9] = {1, 0, kW / 2.0f, 0, 1, kH / 2.0f, 0, 0, 1};
      std::memcpy(s.K, K, sizeof K);
      for (float& d : s.D) d = 0.0f;
      s.D[0] = kW / 2.0f / 1.76f;
      SceneCamera_LookAt(&s, pos[c], look[c]);
      block_.model[c] = 2;
      std::memcpy(block_.params.K[c], s.K, sizeof s.K);
      std::memcpy(block_.params.D[c], s.D, sizeof s.D);
      std::memcpy(block_.params.R[c], s.r, sizeof s.r);
      std::memcpy(block_.params.T[c], s.T, sizeof s.T);
    }
    GlobalVariables& g = gv();
    g.targetDimA = kStripe;
    g.place0 = kInnerSpan;
    lut_ = LUTOB_Create();
    lut_->cfg.paramBlock = &block_;
    for (int c = 0; c < 4; ++c) lut_->worldPoints[c] = world_[c];
  }
  void TearDown() override {
    lut_->cfg.paramBlock = nullptr;
    for (int c = 0; c < 4; ++c) lut_->worldPoints[c] = nullptr;
    LUTOB_Destroy(lut_);
  }

  // Bright stripes of the configured width outside the inner edges at
  // +-kInnerSpan / 2 (shifted by centre), on a dark floor; left / right
  // switch them off.
  void Render(int camera, bool left = true, bool right = true, float centre = 0.0f) {
    TargetSpec floor;
    floor.kind = TargetKind::kCustom;
    floor.margin = 0.0f;
    floor.extentS = 8000.0f;
    floor.extentT = 20000.0f;
    floor.origin[0] = -4000.0f;
    floor.origin[1] = -10000.0f;
    const float inner = kInnerSpan / 2.0f;
    floor.shade = [=](float s, float) {
      const float x = s - 4000.0f - centre;
      if (left && x <= -inner && x >= -inner - kStripe) return 220.0f;
      if (right && x >= inner && x <= inner + kStripe) return 220.0f;
      return 60.0f;
    };
    RenderOptions opt;
    opt.width = kW;
    opt.height = kH;
    opt.supersample = 2;
    opt.background = 60;
    opt.blurSigma = 0.6f;
    opt.noiseSigma = 1.0f;
    const std::vector<uint8_t> grey = Scene_RenderGrey(cams_[camera - 1], floor, opt);
    pixels_.assign(grey.begin(), grey.end());
    for (float& p : pixels_) p /= 255.0f;
    image_ = Matrix{kW, kH, pixels_.data()};
  }

  // (row, column) of ground points through the true pose of the camera.
  std::vector<float> Project(int camera, const std::vector<float>& ground) const {
    const int c = camera - 1, n = static_cast<int>(ground.size() / 3);
    std::vector<float> obj(ground), uv(2 * n), out(2 * n);
    Matrix o{3, n, obj.data()}, m{2, n, uv.data()};
    CameraModel_ProjectPoints(2, &o, &block_.headers.R[c], &block_.headers.T[c], &block_.headers.K[c],
                              &block_.headers.D[c], &m, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    for (int i = 0; i < n; ++i) {
      out[2 * i] = uv[2 * i + 1];
      out[2 * i + 1] = uv[2 * i];
    }
    return out;
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
  SceneCamera cams_[4];
  CameraParamBlock block_;
  LUTOB* lut_ = nullptr;
  float world_[4][3 * 59] = {};
  std::vector<float> pixels_;
  Matrix image_{};
};

// The side cameras give the inner edge, then the outer one, 27 points each
// at the layout's y values; through the true pose the returned world points
// land on the returned image points.
TEST_F(StripeSite, SideCamerasGive54PointsOnBothEdges) {
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
TEST_F(StripeSite, SideWorldXFollowsTheConfiguredCentre) {
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
TEST_F(StripeSite, FrontAndRearCamerasGiveBothInnerEdges) {
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

// Hidden stripes, or stripes on one side only for the front camera, give no
// points; a missing parameter block or a small point buffer neither.
TEST_F(StripeSite, HiddenOrOneSidedStripesGiveNothing) {
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
  lut_->cfg.paramBlock = &block_;
  gv().maxPoints = 40;
  EXPECT_EQ(CalibFind_Layout51(lut_, 3, &image_, 0, 0, points), 0u);
}

}  // namespace

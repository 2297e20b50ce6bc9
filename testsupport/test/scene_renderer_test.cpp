#include "testsupport/scene_renderer.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <string>

#include "testsupport/config_state.h"
#include "testsupport/lens_table_fixture.h"

namespace {

constexpr int kW = 640, kH = 480;

float Sample(const std::vector<uint8_t>& img, float x, float y) {
  const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
  const float fx = x - x0, fy = y - y0;
  auto at = [&](int xx, int yy) { return static_cast<float>(img[yy * kW + xx]); };
  return (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x0 + 1, y0)) + fy * ((1 - fx) * at(x0, y0 + 1) + fx * at(x0 + 1, y0 + 1));
}

// Mean |I(c + d) - I(c - d)| over a small window: an X-corner of a
// chessboard is point-symmetric about its true position.
float Asymmetry(const std::vector<uint8_t>& img, float cx, float cy) {
  float sum = 0;
  int n = 0;
  for (int dy = -3; dy <= 3; ++dy)
    for (int dx = -3; dx <= 3; ++dx) {
      if (dx == 0 && dy == 0) continue;
      sum += std::fabs(Sample(img, cx + dx, cy + dy) - Sample(img, cx - dx, cy - dy));
      ++n;
    }
  return sum / n;
}

// Offset from (cx, cy) to the most symmetric point within half a pixel.
void SymmetryCentre(const std::vector<uint8_t>& img, float cx, float cy, float* ox, float* oy) {
  float best = 1e9f;
  for (int iy = -10; iy <= 10; ++iy)
    for (int ix = -10; ix <= 10; ++ix) {
      const float a = Asymmetry(img, cx + ix * 0.05f, cy + iy * 0.05f);
      if (a < best) {
        best = a;
        *ox = ix * 0.05f;
        *oy = iy * 0.05f;
      }
    }
}

SceneCamera GroundCamera(int model) {
  SceneCamera cam;
  cam.model = model;
  const float K12[9] = {1, 0, 319.5f, 0, 1, 239.5f, 0, 0, 1};
  const float K56[9] = {180, 0, 319.5f, model == 5 ? 0.6f : 0.0f, 180, 239.5f, 0, 0, 1};
  const float* K = model >= 5 ? K56 : K12;
  std::copy(K, K + 9, cam.K);
  const float D[6][3] = {{190, 1, 0}, {180, 2, 0}, {36, 0, 0}, {185, 0.5f, 0}, {0.02f, -0.003f, 0}, {0.01f, 0, 0}};
  std::copy(D[model - 1], D[model - 1] + 3, cam.D);
  const float pos[3] = {0, -200, 900}, at[3] = {0, 600, 0};
  SceneCamera_LookAt(&cam, pos, at);
  return cam;
}

TargetSpec GroundBoard() {
  TargetSpec t;
  t.squaresX = 7;
  t.squaresY = 5;
  t.squareSize = 200;
  const float origin[3] = {-700, 100, 0};
  std::copy(origin, origin + 3, t.origin);
  return t;
}

class SceneModels : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    EquidistantTable t;
    ASSERT_TRUE(LensTableFixture_Write(state_.dir(), 5, t));
    LensTableFixture_Install(state_.dir(), 5);
  }
  ScopedConfigState state_;
};

TEST_P(SceneModels, CornersSitWhereTheRenderShowsThem) {
  const SceneCamera cam = GroundCamera(GetParam());
  const TargetSpec board = GroundBoard();
  RenderOptions opt;
  opt.width = kW;
  opt.height = kH;
  const std::vector<uint8_t> img = Scene_RenderGrey(cam, board, opt);
  const std::vector<TargetCorner> corners = Target_Corners(board, cam, kW, kH);
  ASSERT_EQ(corners.size(), 24u);
  int checked = 0;
  for (const TargetCorner& c : corners) {
    if (!c.visible || c.u < 5 || c.v < 5 || c.u > kW - 6 || c.v > kH - 6) continue;
    ++checked;
    float ox, oy;
    SymmetryCentre(img, c.u, c.v, &ox, &oy);
    EXPECT_LE(std::hypot(ox, oy), 0.16f) << c.s << "," << c.t;
  }
  EXPECT_GE(checked, 20);
}

TEST_P(SceneModels, OpenCvCornerRefinementAgrees) {
  // An independent corner finder started a little off converges onto the
  // reported positions.
  const SceneCamera cam = GroundCamera(GetParam());
  const TargetSpec board = GroundBoard();
  RenderOptions opt;
  opt.width = kW;
  opt.height = kH;
  opt.blurSigma = 0.7f;
  std::vector<uint8_t> img = Scene_RenderGrey(cam, board, opt);
  cv::Mat m(kH, kW, CV_8UC1, img.data());
  std::vector<cv::Point2f> truth, pts;
  for (const TargetCorner& c : Target_Corners(board, cam, kW, kH))
    if (c.visible && c.u > 8 && c.v > 8 && c.u < kW - 9 && c.v < kH - 9) {
      truth.emplace_back(c.u, c.v);
      pts.emplace_back(c.u + 0.6f, c.v - 0.4f);
    }
  ASSERT_GE(truth.size(), 20u);
  cv::cornerSubPix(m, pts, cv::Size(4, 4), cv::Size(-1, -1),
                   cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 50, 1e-4));
  // cornerSubPix itself scatters by about 0.05 px on 8-bit corners; what
  // must vanish is a common offset.
  double mx = 0, my = 0, ss = 0;
  for (size_t i = 0; i < truth.size(); ++i) {
    const double ex = pts[i].x - truth[i].x, ey = pts[i].y - truth[i].y;
    EXPECT_LT(std::hypot(ex, ey), 0.25) << i;
    mx += ex;
    my += ey;
    ss += ex * ex + ey * ey;
  }
  const double n = static_cast<double>(truth.size());
  EXPECT_LT(std::hypot(mx / n, my / n), 0.06);
  EXPECT_LT(std::sqrt(ss / n), 0.1);
}

INSTANTIATE_TEST_SUITE_P(AllModels, SceneModels, ::testing::Values(1, 2, 3, 4, 5, 6),
                         [](const ::testing::TestParamInfo<int>& i) { return "model" + std::to_string(i.param); });

TEST(SceneRenderer, SquaresAreDarkInsideAndLightAround) {
  SceneCamera cam = GroundCamera(2);
  TargetSpec t;
  t.kind = TargetKind::kSquares;
  t.squaresX = 3;
  t.squaresY = 2;
  t.squareSize = 120;
  t.pitch = 300;
  const float origin[3] = {-400, 200, 0};
  std::copy(origin, origin + 3, t.origin);
  RenderOptions opt;
  opt.width = kW;
  opt.height = kH;
  const std::vector<uint8_t> img = Scene_RenderGrey(cam, t, opt);
  const std::vector<TargetCorner> corners = Target_Corners(t, cam, kW, kH);
  ASSERT_EQ(corners.size(), 24u);
  for (size_t q = 0; q < corners.size(); q += 4) {
    // Centre of the square and a point between squares.
    float cu = 0, cv = 0;
    for (int k = 0; k < 4; ++k) {
      cu += corners[q + k].u / 4;
      cv += corners[q + k].v / 4;
    }
    EXPECT_NEAR(Sample(img, cu, cv), t.dark, 1.0f);
    // Just outside the square's first corner, diagonally.
    const float ou = 2 * corners[q].u - cu, ov = 2 * corners[q].v - cv;
    EXPECT_NEAR(Sample(img, ou, ov), t.light, 1.0f);
  }
  // Far outside the target: the scene background.
  EXPECT_EQ(img[5 * kW + 5], opt.background);
}

TEST(SceneRenderer, TiltedBoardCorners) {
  // A board standing upright 1.2 m ahead, facing the camera.
  SceneCamera cam = GroundCamera(2);
  const float pos[3] = {0, 0, 800}, at[3] = {0, 1000, 700};
  SceneCamera_LookAt(&cam, pos, at);
  TargetSpec t = GroundBoard();
  const float origin[3] = {-700, 1200, 1300}, s[3] = {1, 0, 0}, down[3] = {0, 0, -1};
  std::copy(origin, origin + 3, t.origin);
  std::copy(s, s + 3, t.axisS);
  std::copy(down, down + 3, t.axisT);
  RenderOptions opt;
  opt.width = kW;
  opt.height = kH;
  const std::vector<uint8_t> img = Scene_RenderGrey(cam, t, opt);
  int checked = 0;
  for (const TargetCorner& c : Target_Corners(t, cam, kW, kH)) {
    ASSERT_TRUE(c.visible);
    EXPECT_FLOAT_EQ(c.world[1], 1200.0f);
    float ox, oy;
    SymmetryCentre(img, c.u, c.v, &ox, &oy);
    EXPECT_LE(std::hypot(ox, oy), 0.16f) << c.s << "," << c.t;
    ++checked;
  }
  EXPECT_EQ(checked, 24);
}

TEST(SceneRenderer, NoiseIsSeededAndBlurSoftens) {
  SceneCamera cam = GroundCamera(2);
  const TargetSpec board = GroundBoard();
  RenderOptions opt;
  opt.width = kW;
  opt.height = kH;
  opt.supersample = 2;
  const std::vector<uint8_t> clean = Scene_RenderGrey(cam, board, opt);
  opt.noiseSigma = 4.0f;
  const std::vector<uint8_t> a = Scene_RenderGrey(cam, board, opt);
  const std::vector<uint8_t> b = Scene_RenderGrey(cam, board, opt);
  opt.seed = 2;
  const std::vector<uint8_t> c = Scene_RenderGrey(cam, board, opt);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  double var = 0;
  for (size_t i = 0; i < a.size(); ++i) var += std::pow(static_cast<double>(a[i]) - clean[i], 2);
  EXPECT_NEAR(std::sqrt(var / a.size()), 4.0, 0.3);
  // Blur lowers the steepest step across the board's edges.
  opt.noiseSigma = 0.0f;
  opt.blurSigma = 1.5f;
  const std::vector<uint8_t> soft = Scene_RenderGrey(cam, board, opt);
  auto maxStep = [](const std::vector<uint8_t>& img) {
    int m = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 1; x < kW; ++x) m = std::max(m, std::abs(img[y * kW + x] - img[y * kW + x - 1]));
    return m;
  };
  EXPECT_LT(maxStep(soft), maxStep(clean) / 2);
}

TEST(SceneRenderer, YuvLayouts) {
  const std::vector<uint8_t> grey = {10, 20, 30, 40, 50, 60, 70, 80};  // 4 x 2
  const std::vector<uint8_t> i420 = Scene_GreyToYuv(grey, 4, 2, YuvLayout::kI420);
  ASSERT_EQ(i420.size(), 8u + 4u);
  EXPECT_TRUE(std::equal(grey.begin(), grey.end(), i420.begin()));
  EXPECT_EQ(i420[8], 128);
  EXPECT_EQ(Scene_GreyToYuv(grey, 4, 2, YuvLayout::kNV12).size(), 12u);
  const std::vector<uint8_t> yuyv = Scene_GreyToYuv(grey, 4, 2, YuvLayout::kYUYV);
  ASSERT_EQ(yuyv.size(), 16u);
  EXPECT_EQ(yuyv[0], 10);
  EXPECT_EQ(yuyv[1], 128);
  EXPECT_EQ(yuyv[2], 20);
  const std::vector<uint8_t> uyvy = Scene_GreyToYuv(grey, 4, 2, YuvLayout::kUYVY);
  EXPECT_EQ(uyvy[0], 128);
  EXPECT_EQ(uyvy[1], 10);
  EXPECT_EQ(uyvy[9], 50);
}

}  // namespace

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/template_corners.h"
#include "detect_scene_helpers.h"
#include "toolkit/border_filters.h"

namespace {

struct Rendered {
  BoardScene scene;
  std::vector<float> truth;
  FloatImage img;
};

Rendered Render(const BoardSceneSpec& spec, float blur, float noise, float lightLeft = 1.0f) {
  Rendered r{BoardScene_Make(spec), {}, {}};
  EXPECT_TRUE(BoardScene_Truth(r.scene, &r.truth));
  RenderOptions opt;
  opt.blurSigma = blur;
  opt.noiseSigma = noise;
  opt.lightLeft = lightLeft;
  BoardScene_Render(r.scene, opt, &r.img);
  return r;
}

class TemplateDetector : public ::testing::Test {
 protected:
  LensModelScenes scenes_;
};

}  // namespace

TEST_F(TemplateDetector, FindsEveryCornerRowByRowWithinWholePixelError) {
  // Corners are whole pixels of the (720 x 576) working image: up to half a
  // working pixel (0.9 input columns at 1280 wide) each way, no refinement.
  struct Case {
    const char* name;
    BoardSceneSpec spec;
    float blur, noise, lightLeft;
  };
  std::vector<Case> cases;
  // Every lens model near; the harder conditions each through two models.
  for (int m = 1; m <= 4; ++m) {
    cases.push_back({"near_9x7_720p", BoardSpec(m, 9, 7, 1280, 720, 0.9f, 0), 0.0f, 0.0f, 1.0f});
    if (m % 2 == 1) {
      cases.push_back({"far_8x6_tilt30", BoardSpec(m, 8, 6, 1280, 720, 0.5f, 30), 1.0f, 2.0f, 1.0f});
      cases.push_back({"7x5_576_tilt60_blur1.5", BoardSpec(m, 7, 5, 720, 576, 0.9f, 60), 1.5f, 2.0f, 1.0f});
    } else {
      cases.push_back({"6x6_576_turned", BoardSpec(m, 6, 6, 720, 576, 0.6f, 45, 20), 0.8f, 2.0f, 1.0f});
      cases.push_back({"9x7_ramp", BoardSpec(m, 9, 7, 1280, 720, 0.9f, 30), 1.0f, 2.0f, 0.3f});
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " model " + std::to_string(c.spec.model));
    const Rendered r = Render(c.spec, c.blur, c.noise, c.lightLeft);
    std::vector<float> points(r.truth.size(), -7.0f);
    const int want = (c.spec.squaresX - 1) * (c.spec.squaresY - 1);
    ASSERT_EQ(want, FindChessboardByTemplates(&r.img.m, c.spec.squaresX, c.spec.squaresY, points.data(), 2, 0, 0, 0));
    const PointErrors e = ErrorsInOrder(points, r.truth);
    EXPECT_LE(e.mean, 0.8);
    EXPECT_LE(e.max, 1.4);
  }
}

TEST_F(TemplateDetector, FindsBoardsTheQuadDetectorMisses) {
  // Far to the side of a fisheye picture the squares are squeezed beyond the
  // quad fits. A board whose outer squares the picture's edge cuts off is
  // found as long as the inner corners keep the gradient window inside.
  const Rendered side = Render(BoardSpec(1, 9, 7, 1280, 720, 0.7f, 40, 0, 0.9f, 0.2f), 1.0f, 2.0f);
  std::vector<float> q(side.truth.size()), t(side.truth.size());
  EXPECT_EQ(0, Chessboard_FindCorners(&side.img.m, 9, 7, q.data(), 2));
  ASSERT_EQ(48, FindChessboardByTemplates(&side.img.m, 9, 7, t.data(), 2, 0, 0, 0));
  EXPECT_LE(ErrorsInOrder(t, side.truth).max, 1.4);

  const Rendered low = Render(BoardSpec(2, 9, 7, 1280, 720, 0.6f, 0, 0, 0.0f, 0.6f), 0.7f, 2.0f);
  float lastRow = 0;
  for (size_t i = 0; i < low.truth.size(); i += 2) lastRow = std::max(lastRow, low.truth[i]);
  FloatImage cut;
  CropRows(low.img, static_cast<int>(lastRow) + 10, &cut);
  ASSERT_EQ(48, FindChessboardByTemplates(&cut.m, 9, 7, t.data(), 0, 0, 0, 0));
  EXPECT_LE(ErrorsInOrder(t, low.truth).max, 1.4);
}

TEST_F(TemplateDetector, NoBoardOrWrongSizeGivesZeroAndLeavesTheOutput) {
  std::vector<float> flat(720 * 576, 0.4f);
  Matrix m{720, 576, flat.data()};
  std::vector<float> out(48 * 2, 5.0f);
  EXPECT_EQ(0, FindChessboardByTemplates(&m, 9, 7, out.data(), 2, 0, 0, 0));
  const Rendered r = Render(BoardSpec(2, 9, 7, 1280, 720, 0.9f, 0), 0.7f, 2.0f);
  // One row of squares fewer is never returned as the board.
  EXPECT_EQ(0, FindChessboardByTemplates(&r.img.m, 9, 6, out.data(), 2, 0, 0, 0));
  for (float v : out) ASSERT_EQ(5.0f, v);
}

TEST_F(TemplateDetector, SelectModesPickTheCentreTheUpperOrTheLowerBoard) {
  // Two 5 x 4 boards: one high on the left, one low and across the vertical
  // centre line.
  const Rendered a = Render(BoardSpec(2, 5, 4, 1280, 720, 0.45f, 0, 0, -0.5f, -0.35f), 0.7f, 0.0f);
  const Rendered b = Render(BoardSpec(2, 5, 4, 1280, 720, 0.45f, 0, 0, 0.05f, 0.35f), 0.7f, 0.0f);
  FloatImage both = a.img;
  for (size_t i = 0; i < both.data.size(); ++i)
    if ((i / 1280) >= 360) both.data[i] = b.img.data[i];
  both.m.data = both.data.data();
  std::vector<float> out(12 * 2);
  auto near = [&](const std::vector<float>& truth) { return ErrorsInOrder(out, truth).max <= 1.4; };
  ASSERT_EQ(12, FindChessboardByTemplates(&both.m, 5, 4, out.data(), 2, 0, 0, 0));
  EXPECT_TRUE(near(b.truth));
  ASSERT_EQ(12, FindChessboardByTemplates(&both.m, 5, 4, out.data(), 2, 0, 1, 0));
  EXPECT_TRUE(near(a.truth));
  ASSERT_EQ(12, FindChessboardByTemplates(&both.m, 5, 4, out.data(), 2, 0, 2, 0));
  EXPECT_TRUE(near(b.truth));
}

TEST(TemplateStages, HistogramModesAndEdgeOrientations) {
  float h[32] = {};
  h[4] = 10;
  h[5] = 4;
  h[20] = 7;
  int32_t bins[2];
  float values[2];
  ASSERT_EQ(1, FindHistogramModes(h, 32, bins, values, 1.0f));
  EXPECT_EQ(4, bins[0]);
  EXPECT_EQ(20, bins[1]);
  EXPECT_FLOAT_EQ(10.0f, values[0]);
  float one[32] = {};
  one[7] = 3;
  EXPECT_EQ(0, FindHistogramModes(one, 32, bins, values, 1.0f));
  EXPECT_EQ(0, FindHistogramModes(h, 0, bins, values, 1.0f));

  // Gradients across edges at 0 and 90 degrees: edge directions pi/2 and 0.
  const int W = 31;
  std::vector<float> th(W * W), mag(W * W, 1.0f);
  for (int y = 0; y < W; ++y)
    for (int x = 0; x < W; ++x) th[y * W + x] = (x < W / 2) ? 0.0f : 1.5707964f;
  Matrix mt{W, W, th.data()}, mm{W, W, mag.data()};
  float dir[2];
  ASSERT_EQ(1, EdgeOrientations(&mt, &mm, 15, 15, 11, dir));
  EXPECT_NEAR(0.0f, dir[0], 0.05f);
  EXPECT_NEAR(1.5707964f, dir[1], 0.05f);
  // A single direction is no corner.
  std::fill(th.begin(), th.end(), 0.3f);
  EXPECT_EQ(0, EdgeOrientations(&mt, &mm, 15, 15, 11, dir));
}

TEST(TemplateStages, UnlinkedCornersBecomeOneByOneBoards) {
  std::vector<TemplateCorner> c(3);
  for (int i = 0; i < 3; ++i) {
    TemplateCorner& t = c[i];
    t.label = t.gridRow = t.gridCol = -1;
    t.y = 10.0f * i;
    t.x = 100.0f * i;
    t.linkCount = t.visitMark = 0;
    for (int k = 0; k < 4; ++k) {
      t.direction[k] = 1.5707964f * k;
      t.linkLength[k] = FLT_MAX;
      t.link[k] = nullptr;
      t.backIndex[k] = -1;
    }
  }
  TemplateCorner* members[3];
  int32_t rows = 0, cols = 0;
  for (int label = 0; label < 3; ++label) {
    ASSERT_EQ(1, GrowBoard(c.data(), 3, members, label, &rows, &cols, 0));
    EXPECT_EQ(1, rows);
    EXPECT_EQ(1, cols);
  }
  EXPECT_EQ(0, GrowBoard(c.data(), 3, members, 3, &rows, &cols, 0));
  for (const TemplateCorner& t : c) EXPECT_GE(t.label, 0);
}

TEST(TemplateStages, LikelihoodEqualsThePlainKernelMeans) {
  // The likelihood from the toolkit's mean over each template's support
  // offsets, against the detector's run-sum path.
  std::vector<float> img(97 * 61);
  for (size_t i = 0; i < img.size(); ++i) img[i] = static_cast<float>((i * 7919u) % 251u) / 250.0f;
  Matrix m{97, 61, img.data()};
  for (int small : {0, 1}) {
    const int r = small ? 3 : 5, size = 2 * r + 1;
    std::vector<float> ours(img.size()), ref(img.size(), 0.0f);
    Matrix out{97, 61, ours.data()};
    ASSERT_EQ(0, CornerLikelihood(&m, &out, small));
    const float pi = 3.14159265358979f;
    const float angles[2][2] = {{0.0f, pi / 2}, {pi / 4, 3 * pi / 4}};
    for (const auto& a : angles) {
      std::vector<float> kd(4 * size * size);
      Matrix k[4];
      for (int q = 0; q < 4; ++q) k[q] = Matrix{size, size, kd.data() + q * size * size};
      BuildCornerTemplates(r, a[0], a[1], &k[0], &k[1], &k[2], &k[3]);
      std::vector<std::vector<float>> resp(4, std::vector<float>(img.size()));
      for (int q = 0; q < 4; ++q) {
        std::vector<int32_t> dx, dy;
        for (int j = 0; j < size; ++j)
          for (int i = 0; i < size; ++i)
            if (k[q].data[j * size + i] > 0.0f) {
              dx.push_back(i - r);
              dy.push_back(j - r);
            }
        Matrix d{97, 61, resp[q].data()};
        ASSERT_EQ(1, Image_OffsetMean(&m, &d, dx.data(), dy.data(), static_cast<int32_t>(dx.size())));
      }
      for (size_t i = 0; i < img.size(); ++i) {
        const float a1 = resp[0][i], a2 = resp[1][i], b1 = resp[2][i], b2 = resp[3][i];
        const float mu = (a1 + a2 + b1 + b2) * 0.25f;
        const float s1 = std::min(std::min(a1, a2) - mu, mu - std::max(b1, b2));
        const float s2 = std::min(mu - std::max(a1, a2), std::min(b1, b2) - mu);
        ref[i] = std::max(ref[i], 4.0f * std::max(s1, s2));
      }
    }
    for (size_t i = 0; i < img.size(); ++i) ASSERT_NEAR(ref[i], ours[i], 2e-5f) << i;
  }
}

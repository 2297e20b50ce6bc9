// Best3 line search on the rendered stripe site: the 80 points of every
// camera lie on the stripe edges, and the result codes of the searches.
#include <gtest/gtest.h>

#include "best3_test_support.h"

namespace {

class Best3Search : public ::testing::Test {
 protected:
  void SetUp() override {
    Best3LoadConfig(state_, site_);
    for (int c = 0; c < 4; ++c) cams_[c] = Best3Site_Camera(site_, c + 1);
    lut_ = Best3Site_MakeLut(site_, cams_);
    ASSERT_EQ(Best3Ctrl_CreateWork(&work_, lut_), 1);
    combined_ = Best3Site_Combined(site_, Best3Quad());
    image_ = Matrix{site_.camW, site_.camH, combined_.data()};
    work_.image = &image_;
  }
  void TearDown() override {
    Best3Ctrl_DestroyWork(&work_);
    LUTOB_Destroy(lut_);
  }

  // Pixel distance of image point i of camera c from the true edge x =
  // edgeX as the camera sees it (the edge projected every 2 mm).
  double EdgeGapPx(int c, int i, float edgeX, double* gapMm = nullptr) {
    const SceneCamera& cam = cams_[c];
    float K[9], D[8], r[3], T[3];
    memcpy(K, cam.K, sizeof K);
    memcpy(D, cam.D, sizeof D);
    memcpy(r, cam.r, sizeof r);
    memcpy(T, cam.T, sizeof T);
    Matrix mK{3, 3, K}, mD{1, 8, D}, mr{1, 3, r}, mT{1, 3, T};
    constexpr int kSamples = 7000;
    std::vector<float> w(3 * kSamples), q(2 * kSamples);
    for (int k = 0; k < kSamples; ++k) {
      w[3 * k] = edgeX;
      w[3 * k + 1] = -7000.0f + 2.0f * k;
      w[3 * k + 2] = 0.0f;
    }
    Matrix mw{3, kSamples, w.data()}, mq{2, kSamples, q.data()};
    CameraModel_ProjectPoints(cam.model, &mw, &mr, &mT, &mK, &mD, &mq, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    double best = 1e9;
    int at = 0;
    for (int k = 0; k < kSamples; ++k) {
      const double d = std::hypot(static_cast<double>(q[2 * k] - work_.cams[c].points[i][0]),
                                  static_cast<double>(q[2 * k + 1] - work_.cams[c].points[i][1]));
      if (d < best) {
        best = d;
        at = k;
      }
    }
    if (gapMm != nullptr) {
      // Image pixels per floor mm across the edge, there.
      float w2[6] = {edgeX, w[3 * at + 1], 0.0f, edgeX + 1.0f, w[3 * at + 1], 0.0f}, q2[4];
      Matrix m2{3, 2, w2}, mq2{2, 2, q2};
      CameraModel_ProjectPoints(cam.model, &m2, &mr, &mT, &mK, &mD, &mq2, nullptr, nullptr, nullptr, nullptr, nullptr,
                                0);
      *gapMm = best / std::hypot(static_cast<double>(q2[2] - q2[0]), static_cast<double>(q2[3] - q2[1]));
    }
    return best;
  }

  ScopedConfigState state_;
  Best3Site site_;
  SceneCamera cams_[4];
  LUTOB* lut_ = nullptr;
  Best3Work work_;
  std::vector<float> combined_;
  Matrix image_{};
};

// The edges are found as whole patch pixels (10 mm beside the car, 20 mm
// ahead and behind) of the region boundary, which can fall on either side
// of an edge: each point lies within one patch pixel (plus 1 mm) of its true
// edge on the floor. Ahead and behind, where a patch pixel is about a camera
// pixel, the region search also lands within 1 camera pixel; beside the car
// a patch pixel spans up to 3 camera pixels.
TEST_F(Best3Search, EightyPointsOfEveryCameraLieOnTheStripeEdges) {
  for (int mode : {1, 0}) {
    SCOPED_TRACE(mode);
    const float t = mode == 1 ? -0.045f : 0.005f;
    ASSERT_EQ(CalibBest3_GetFB_2LPoint(&work_, 1, mode, t), 0);
    ASSERT_EQ(CalibBest3_GetFB_2LPoint(&work_, 2, mode, t), 0);
    ASSERT_EQ(CalibBest3_GetLR_LPoint(&work_, 3, mode, t), 0);
    ASSERT_EQ(CalibBest3_GetLR_LPoint(&work_, 4, mode, t), 0);
    for (int c = 0; c < 4; ++c) {
      double worstPx = 0.0, worstMm = 0.0;
      for (int i = 0; i < kBest3Points; ++i) {
        const int half = i / kBest3EdgePoints;
        // Front/back: the inner edges of the left and the right stripe; side
        // cameras: the inner and the outer edge of their own stripe.
        const float edge = c < 2 ? site_.EdgeX(half == 0 ? -1 : 1, 0) : site_.EdgeX(c == 2 ? -1 : 1, half);
        double mm = 0.0;
        worstPx = std::max(worstPx, EdgeGapPx(c, i, edge, &mm));
        worstMm = std::max(worstMm, mm);
      }
      printf("search mode %d, camera %d: largest gap %.3f px, %.2f mm on the floor\n", mode, c + 1, worstPx, worstMm);
      const double patchPixel = c < 2 ? 20.0 : 10.0;
      EXPECT_LE(worstMm, patchPixel + 1.0) << "camera " << c + 1;
      if (c < 2 && mode == 1) {
        EXPECT_LT(worstPx, 1.0) << "camera " << c + 1;
      }
    }
    printf("line values %.1f %.1f %.1f %.1f\n", work_.lineValues[0], work_.lineValues[1], work_.lineValues[2],
           work_.lineValues[3]);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(work_.lineValues[k], site_.EdgeX(k < 2 ? -1 : 1, k % 2), 11.0f) << k;
  }
}

}  // namespace

namespace {

// A combined image holding one camera's picture in its quadrant (the others
// black).
std::vector<float> OneCameraCombined(const Best3Site& site, int camera) {
  const std::vector<uint8_t> pic = Best3Site_Render(site, camera);
  const int32_t W = site.camW, H = site.camH;
  std::vector<float> out(static_cast<size_t>(W) * H, 0.0f);
  const int32_t ox = (camera - 1) % 2 * (W / 2), oy = (camera - 1) / 2 * (H / 2);
  for (int32_t y = 0; y < H / 2; ++y)
    for (int32_t x = 0; x < W / 2; ++x)
      out[static_cast<size_t>(oy + y) * W + ox + x] = pic[static_cast<size_t>(2 * y) * W + 2 * x] / 255.0f;
  return out;
}

struct CodeCase {
  const char* name;
  std::vector<std::pair<float, float>> strips;  // x of the left edge, width
  int camera;
  int code;
};

class Best3SearchCodes : public ::testing::TestWithParam<CodeCase> {};

TEST_P(Best3SearchCodes, FailingSitesGiveTheirCodeAndKeepThePoints) {
  const CodeCase& cc = GetParam();
  ScopedConfigState state;
  Best3Site site;
  Best3LoadConfig(state, site);
  site.stripes = false;
  site.extraStripes = cc.strips;
  SceneCamera cams[4];
  for (int c = 0; c < 4; ++c) cams[c] = Best3Site_Camera(site, c + 1);
  LUTOB* lut = Best3Site_MakeLut(site, cams);
  Best3Work work;
  ASSERT_EQ(Best3Ctrl_CreateWork(&work, lut), 1);
  std::vector<float> img = OneCameraCombined(site, cc.camera);
  Matrix m{site.camW, site.camH, img.data()};
  work.image = &m;
  for (auto& p : work.cams[cc.camera - 1].points) p[0] = p[1] = 7.0f;
  const float before[4] = {work.lineValues[0], work.lineValues[1], work.lineValues[2], work.lineValues[3]};
  const int32_t r = cc.camera <= 2 ? CalibBest3_GetFB_2LPoint(&work, cc.camera, 1, -0.045f)
                                   : CalibBest3_GetLR_LPoint(&work, cc.camera, 1, -0.045f);
  EXPECT_EQ(r, cc.code);
  if (cc.code != 0) {
    for (auto& p : work.cams[cc.camera - 1].points) EXPECT_EQ(p[0], 7.0f);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(work.lineValues[k], before[k]);
  }
  Best3Ctrl_DestroyWork(&work);
  LUTOB_Destroy(lut);
}

const CodeCase kCodeCases[] = {
    {"BareFloorFront", {}, 1, 100},
    // One stripe ahead: its two edges are fewer than four segments.
    {"OneStripeFront", {{1500, 150}}, 1, 100},
    // Two stripes, both right of the car: the left group is empty.
    {"BothStripesRightFront", {{1100, 150}, {1900, 150}}, 1, 110},
    {"BareFloorRight", {}, 4, 200},
    // A strip 700 mm wide: its edges are too far apart for a stripe.
    {"WideStripRight", {{1500, 700}}, 4, 200},
    // A stripe 70 mm wide is a stripe; the search needs the whole site only
    // for the front and back cameras.
    {"NarrowStripeLeft", {{-1570, 70}}, 3, 0},
};
INSTANTIATE_TEST_SUITE_P(Sites, Best3SearchCodes, ::testing::ValuesIn(kCodeCases),
                         [](const ::testing::TestParamInfo<CodeCase>& info) { return std::string(info.param.name); });

// Patch points outside camera 4's area sample nothing, although the marker
// moved by the mosaic offset would land in camera 3's quadrant.
TEST(Best3SearchMosaic, OutOfAreaPointsDoNotSampleTheNeighbourQuadrant) {
  ScopedConfigState state;
  Best3Site site;
  Best3LoadConfig(state, site);
  SceneCamera cams[4];
  for (int c = 0; c < 4; ++c) cams[c] = Best3Site_Camera(site, c + 1);
  LUTOB* lut = Best3Site_MakeLut(site, cams);
  Best3Work work;
  ASSERT_EQ(Best3Ctrl_CreateWork(&work, lut), 1);
  std::vector<float> img(static_cast<size_t>(site.camW) * site.camH, 0.0f);
  for (int32_t y = 0; y < site.camH; ++y)
    for (int32_t x = 0; x < site.camW / 2; ++x) img[static_cast<size_t>(y) * site.camW + x] = 1.0f;
  Matrix m{site.camW, site.camH, img.data()};
  work.image = &m;
  EXPECT_EQ(CalibBest3_GetLR_LPoint(&work, 4, 1, -0.045f), 200);
  // The warped patch is the third plane of the first scratch buffer.
  const size_t plane = static_cast<size_t>(work.lr.width) * work.lr.height;
  float largest = 0.0f;
  for (size_t i = 0; i < plane; ++i) largest = std::max(largest, work.scratch1[2 * plane + i]);
  EXPECT_EQ(largest, 0.0f);
  Best3Ctrl_DestroyWork(&work);
  LUTOB_Destroy(lut);
}

Best3Line Vertical(float col) {
  Best3Line l{};
  l.row0 = 0;
  l.row1 = 99;
  l.col0 = l.col1 = col;
  l.position = col;
  l.slope = 0.0f;
  l.intercept = col;
  return l;
}

// Separation limits of the pair rule (floor scale 10): 50 and 610 mm apart
// are no stripe, 60 and 600 are.
TEST(Best3PairRule, SeparationLimits) {
  struct Case {
    float gapPatchPx;
    int found;
  };
  for (const Case& c : {Case{5.0f, 0}, Case{6.0f, 1}, Case{60.0f, 1}, Case{61.0f, 0}}) {
    Best3Line lines[2] = {Vertical(20.0f), Vertical(20.0f + c.gapPatchPx)};
    int32_t a = -1, b = -1;
    EXPECT_EQ(Best3_PickPair(lines, 2, 1.0f, 10.0f, nullptr, &a, &b), c.found) << c.gapPatchPx;
    if (c.found) {
      EXPECT_EQ(a, 1);  // side +1: the larger column (nearer the car) first
      EXPECT_EQ(b, 0);
    }
  }
}

// With a support image the middle between the two lines must be set on
// more than half the rows; the next pair in order is tried otherwise.
TEST(Best3PairRule, SupportDecidesBetweenCandidatePairs) {
  std::vector<float> sup(100 * 100, 0.0f);
  Matrix support{100, 100, sup.data()};
  // Painted between columns 40 and 50 only.
  for (int r = 0; r < 100; ++r)
    for (int c = 40; c <= 50; ++c) sup[r * 100 + c] = 1.0f;
  Best3Line lines[3] = {Vertical(20.0f), Vertical(40.0f), Vertical(50.0f)};
  int32_t a = -1, b = -1;
  // Side -1: smallest column first; (20, 40) has an unpainted middle.
  ASSERT_EQ(Best3_PickPair(lines, 3, -1.0f, 10.0f, &support, &a, &b), 1);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  for (int r = 0; r < 51; ++r) sup[r * 100 + 45] = 0.0f;  // half the rows or fewer: no stripe
  EXPECT_EQ(Best3_PickPair(lines, 3, -1.0f, 10.0f, &support, &a, &b), 0);
}

}  // namespace

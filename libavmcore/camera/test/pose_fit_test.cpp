// Full fits and line-target fits of lens models 1 to 4 on targets from the
// scene renderer, and the ground mapping the line fits measure with.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "camera/cam_model1_2.h"
#include "camera/cam_model3.h"
#include "camera/cam_model4.h"
#include "camera/camera_model.h"
#include "frame/lens_table.h"
#include "camera/rotation.h"
#include "testsupport/config_state.h"
#include "testsupport/lens_table_fixture.h"
#include "testsupport/pose_scene.h"
#include "testsupport/scene_renderer.h"

namespace {

constexpr int kW = 1280, kH = 720;

struct FitCase {
  const char* name;
  int32_t model;
  float K[9];
  float D[8];
  float lineTolMm;  // line fits: model 3 measures through its 0.001-step angle table
};

// The lenses sit on each model's search grid for 1280 x 720 (D[0] and D[1];
// the full fits keep D[0] and refine the rest). Model 3 (kind 1) frees the
// principal point and its scale instead of K[0].
const FitCase kFits[] = {
    {"equisolid", 1, {1.0f, 0, 639.5f, 0, 1, 359.5f, 0, 0, 1}, {380, 3.0f}, 0.5f},
    {"equidistant", 2, {1.0f, 0, 639.5f, 0, 1, 359.5f, 0, 0, 1}, {360, 3.0f}, 0.5f},
    {"table", 3, {1.0f, 0, 641.2f, 0, 1, 357.9f, 0, 0, 1}, {72.0f}, 3.0f},
    {"sine", 4, {1.0f, 0, 639.5f, 0, 1, 359.5f, 0, 0, 1}, {370, 0.0f}, 0.5f},
};

void PrintTo(const FitCase& c, std::ostream* os) { *os << c.name; }

// Angle in degrees between two rotation vectors' rotations (from the skew
// part of Ra^T Rb, which stays exact for small angles).
double RotationErrorDeg(const float* a, const float* b) {
  float Ra[9], Rb[9];
  RodriguesArr(a, Ra, nullptr);
  RodriguesArr(b, Rb, nullptr);
  double M[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      M[i * 3 + j] = 0;
      for (int k = 0; k < 3; ++k) M[i * 3 + j] += static_cast<double>(Ra[k * 3 + i]) * Rb[k * 3 + j];
    }
  const double sx = (M[7] - M[5]) / 2, sy = (M[2] - M[6]) / 2, sz = (M[3] - M[1]) / 2;
  const double c = (M[0] + M[4] + M[8] - 1) / 2;
  return std::atan2(std::sqrt(sx * sx + sy * sy + sz * sz), c) * 180.0 / M_PI;
}

double CentreErrorMm(const float* Ta, const float* Tb) {
  return std::sqrt(std::pow(Ta[0] - Tb[0], 2) + std::pow(Ta[1] - Tb[1], 2) + std::pow(Ta[2] - Tb[2], 2));
}

class PoseFitTest : public ::testing::TestWithParam<FitCase> {
 protected:
  void SetUp() override {
    EquidistantTable t;
    t.unitSize = kW / 1.95f / (62.0f + 25.0f);  // model-3 search from s = 62 in steps of 5
    ASSERT_TRUE(LensTableFixture_Write(state_.dir(), 3, t));
    LensTableFixture_Install(state_.dir(), 3);
    const FitCase& c = GetParam();
    cam_.model = c.model;
    std::copy(c.K, c.K + 9, cam_.K);
    std::copy(c.D, c.D + 8, cam_.D);
    // A wide board near the camera reaches far into the fisheye's field,
    // which is what separates focal scale from pose.
    const float pos[3] = {60, -350, 1100}, at[3] = {-40, 900, 0};
    SceneCamera_LookAt(&cam_, pos, at);
    target_.squaresX = 12;
    target_.squaresY = 8;
    target_.squareSize = 200;
    const float origin[3] = {-1200, 250, 0};
    std::copy(origin, origin + 3, target_.origin);
    for (const TargetCorner& c : Target_Corners(target_, cam_, kW, kH)) {
      ASSERT_TRUE(c.visible);
      world_.insert(world_.end(), c.world, c.world + 3);
      image_.insert(image_.end(), {c.u, c.v});
    }
  }

  struct Result {
    float rms, K[9], D[8], r[3], T[3];
  };

  Result Fit(const std::vector<float>& image, int32_t mode, int32_t freeCentre, const float* K0 = nullptr,
             const float* D0 = nullptr, const float* r0 = nullptr, const float* T0 = nullptr) {
    Result res{};
    if (K0) std::copy(K0, K0 + 9, res.K);
    if (D0) std::copy(D0, D0 + 8, res.D);
    if (r0) std::copy(r0, r0 + 3, res.r);
    if (T0) std::copy(T0, T0 + 3, res.T);
    const int n = static_cast<int>(world_.size() / 3);
    Matrix mo{3, n, world_.data()}, mi{2, n, const_cast<float*>(image.data())};
    Matrix mK{3, 3, res.K}, mD{1, 8, res.D}, mr{3, 1, res.r}, mT{1, 3, res.T};
    res.rms = CameraModel_Calibrate(kW, kH, GetParam().model, &mo, &mi, &mK, &mD, &mr, FLT_EPSILON, &mT, mode, 100,
                                    freeCentre, 0);
    return res;
  }

  ScopedConfigState state_;
  SceneCamera cam_;
  TargetSpec target_;
  std::vector<float> world_, image_;
};

TEST_P(PoseFitTest, ExactCornersGiveThePoseBack) {
  const Result f = Fit(image_, 0, 0);
  EXPECT_LT(f.rms, 0.01f);
  EXPECT_LT(RotationErrorDeg(f.r, cam_.r), 0.01);
  EXPECT_LT(CentreErrorMm(f.T, cam_.T), 0.5);
  EXPECT_NEAR(f.D[0], cam_.D[0], 1e-3f * cam_.D[0]);
  if (GetParam().model == 3) {
    EXPECT_NEAR(f.K[2], cam_.K[2], 0.05f);
    EXPECT_NEAR(f.K[5], cam_.K[5], 0.05f);
  } else {
    EXPECT_NEAR(f.K[0], cam_.K[0], 1e-4f);
    EXPECT_NEAR(f.D[1], cam_.D[1], 0.05f);
  }
}

TEST_P(PoseFitTest, NoisyCornersStayNearTheNoise) {
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(0.0f, 0.3f);
  std::vector<float> noisy = image_;
  for (float& p : noisy) p += noise(rng);
  const Result f = Fit(noisy, 0, 0);
  // The 2-D residual of 0.3 px per axis has an RMS length of about 0.42 px.
  EXPECT_GT(f.rms, 0.25f);
  EXPECT_LT(f.rms, 0.5f);
  // Model 3 frees its principal point, which trades against the tilt.
  EXPECT_LT(RotationErrorDeg(f.r, cam_.r), GetParam().model == 3 ? 1.0 : 0.2);
  EXPECT_LT(CentreErrorMm(f.T, cam_.T), 5.0);
}

TEST_P(PoseFitTest, PoseOnlyModesKeepTheIntrinsics) {
  // Mode 3 searches from the caller's K and D and then moves only the pose
  // (model 3 may still move its scale in a fine search around D[0]).
  const float rFar[3] = {0, 0, 0}, TFar[3] = {0, 0, 0};
  const Result f = Fit(image_, 3, 0, cam_.K, cam_.D, rFar, TFar);
  EXPECT_LT(f.rms, 0.05f);
  for (int k = 0; k < 9; ++k)
    if (!(GetParam().model == 3 && (k == 2 || k == 5))) {
      EXPECT_EQ(f.K[k], cam_.K[k]) << k;
    }
  EXPECT_LT(RotationErrorDeg(f.r, cam_.r), 0.02);
}

TEST_P(PoseFitTest, FixedCentreStaysWhereTheCallerPutIt) {
  if (GetParam().model == 3) GTEST_SKIP() << "model 3 frees its centre in these modes";
  // Mode 9: no search, refine from the caller's (perturbed) values.
  float K[9], D[8], r[3], T[3];
  std::copy(cam_.K, cam_.K + 9, K);
  std::copy(cam_.D, cam_.D + 8, D);
  std::copy(cam_.r, cam_.r + 3, r);
  std::copy(cam_.T, cam_.T + 3, T);
  K[0] += 0.01f;
  D[1] += 0.5f;
  r[0] += 0.01f;
  T[1] += 20.0f;
  for (int mode : {9, 2}) {
    const Result f = Fit(image_, mode, 0, K, D, r, T);
    EXPECT_EQ(f.K[2], K[2]) << mode;
    EXPECT_EQ(f.K[5], K[5]) << mode;
    EXPECT_EQ(f.D[0], D[0]) << mode;
    EXPECT_LT(f.rms, 0.05f) << mode;
    EXPECT_LT(CentreErrorMm(f.T, cam_.T), 1.0) << mode;
  }
}

TEST_P(PoseFitTest, FailedFitLeavesTheCalibrationAlone) {
  // Image points that no candidate can explain.
  std::vector<float> wild(image_.size());
  for (size_t i = 0; i < wild.size(); ++i) wild[i] = (i % 2 ? 1.0e5f : -3.0e5f) * (1.0f + i * 0.01f);
  const float K[9] = {1.1f, 0, 600, 0, 1, 300, 0, 0, 1}, D[8] = {300, 1, 2, 3, 4, 5, 6, 7};
  const float r[3] = {2.0f, 0.1f, 0.2f}, T[3] = {10, 20, -1000};
  const Result f = Fit(wild, 0, 0, K, D, r, T);
  if (GetParam().model == 3) {
    // Model 3 refines from the given values instead; it must not write NaN.
    for (float v : f.K) EXPECT_TRUE(std::isfinite(v));
    return;
  }
  EXPECT_EQ(f.rms, FLT_MAX);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(f.K[k], K[k]);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(f.D[k], D[k]);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(f.r[k], r[k]);
    EXPECT_EQ(f.T[k], T[k]);
  }
}

// Ground points on floor lines of known X seen by the camera.
struct LineData {
  std::vector<float> targets, image;
};

LineData FloorLines(const SceneCamera& cam) {
  LineData d;
  std::vector<float> world;
  for (float x : {-600.0f, -200.0f, 250.0f, 700.0f})
    for (float y = 500; y <= 2200; y += 340) {
      world.insert(world.end(), {x, y, 0.0f});
      d.targets.push_back(x);
    }
  const int n = static_cast<int>(d.targets.size());
  d.image.resize(2 * n);
  float K[9], D[8], r[3], T[3];
  std::copy(cam.K, cam.K + 9, K);
  std::copy(cam.D, cam.D + 8, D);
  std::copy(cam.r, cam.r + 3, r);
  std::copy(cam.T, cam.T + 3, T);
  Matrix mw{3, n, world.data()}, mi{2, n, d.image.data()}, mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
  CameraModel_ProjectPoints(cam.model, &mw, &mr, &mT, &mK, &mD, &mi, nullptr, nullptr, nullptr, nullptr, nullptr,
                            cam.slot);
  return d;
}

TEST_P(PoseFitTest, LineFitRecoversTiltAndHeight) {
  LineData d = FloorLines(cam_);
  const int n = static_cast<int>(d.targets.size());
  struct ModeCase {
    int mode;
    float dr[3], dT2;
  };
  // Mode 0 frees r and T[2]; mode 1 only r[2]; mode 2 only r.
  const ModeCase modes[] = {{0, {0.01f, -0.008f, 0.006f}, 25.0f}, {1, {0, 0, 0.01f}, 0.0f}, {2, {0.01f, 0.01f, -0.01f}, 0}};
  for (const ModeCase& mc : modes) {
    float K[9], D[8], r[3], T[3];
    std::copy(cam_.K, cam_.K + 9, K);
    std::copy(cam_.D, cam_.D + 8, D);
    for (int k = 0; k < 3; ++k) {
      r[k] = cam_.r[k] + mc.dr[k];
      T[k] = cam_.T[k];
    }
    T[2] += mc.dT2;
    const float T0[3] = {T[0], T[1], T[2]};
    Matrix mt{1, n, d.targets.data()}, mi{2, n, d.image.data()};
    Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
    const float err = CameraModel_LineCalibFB(GetParam().model, &mt, &mi, &mK, &mD, &mr, &mT, mc.mode, kW, kH, 0);
    EXPECT_LT(err, GetParam().lineTolMm) << mc.mode;
    EXPECT_NEAR(T[0], T0[0], 0.0f);
    EXPECT_NEAR(T[1], T0[1], 0.0f);
    if (mc.mode == 2) {
      EXPECT_EQ(T[2], T0[2]);
    }
    if (mc.mode == 1) {
      EXPECT_EQ(r[0], cam_.r[0] + mc.dr[0]);
      EXPECT_EQ(r[1], cam_.r[1] + mc.dr[1]);
    }
    EXPECT_LT(RotationErrorDeg(r, cam_.r), GetParam().model == 3 ? 0.1 : 0.01) << mc.mode;
    EXPECT_NEAR(T[2], cam_.T[2], GetParam().model == 3 ? 5.0f : 0.5f) << mc.mode;
    for (int k = 0; k < 9; ++k) EXPECT_EQ(K[k], cam_.K[k]);
  }
}

// The ground mapping of the line fits against central differences.
TEST_P(PoseFitTest, GroundMappingDerivativesMatchFiniteDifferences) {
  typedef void (*GroundFn)(const Matrix*, Matrix*, const Matrix*, const Matrix*, const Matrix*, const Matrix*, Matrix*,
                           Matrix*, Matrix*, Matrix*, Matrix*, int32_t);
  const GroundFn fns[] = {CamModel1_ImageToGround, CamModel2_ImageToGround, CamModel3_ImageToGroundJac,
                          CamModel4_ImageToGround};
  const GroundFn ground = fns[GetParam().model - 1];
  float K[9], D[8], r[3], T[3];
  std::copy(cam_.K, cam_.K + 9, K);
  std::copy(cam_.D, cam_.D + 8, D);
  std::copy(cam_.r, cam_.r + 3, r);
  std::copy(cam_.T, cam_.T + 3, T);
  const int n = 6;
  std::vector<float> img(image_.begin(), image_.begin() + 2 * n), g(2 * n), gp(2 * n), gm(2 * n);
  std::vector<float> b[5] = {std::vector<float>(6 * n), std::vector<float>(6 * n), std::vector<float>(6 * n),
                             std::vector<float>(4 * n), std::vector<float>(16 * n)};
  Matrix blocks[5] = {{3, 2 * n, b[0].data()}, {3, 2 * n, b[1].data()}, {3, 2 * n, b[2].data()},
                      {2, 2 * n, b[3].data()}, {8, 2 * n, b[4].data()}};
  Matrix mi{2, n, img.data()}, mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
  Matrix mg{2, n, g.data()}, mgp{2, n, gp.data()}, mgm{2, n, gm.data()};
  ground(&mi, &mg, &mK, &mD, &mr, &mT, &blocks[0], &blocks[1], &blocks[2], &blocks[3], &blocks[4], 0);
  // The mapped ground points are the target corners.
  const double tol = GetParam().model == 3 ? 3.0 : 0.05;
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(g[2 * i], world_[3 * i], tol);
    EXPECT_NEAR(g[2 * i + 1], world_[3 * i + 1], tol);
  }
  struct Param {
    float* p;
    int block, col;
    float h;
  };
  std::vector<Param> params = {{&r[0], 0, 0, 2e-3f}, {&r[1], 0, 1, 2e-3f}, {&r[2], 0, 2, 2e-3f},
                               {&T[0], 1, 0, 5.0f},  {&T[1], 1, 1, 5.0f},  {&T[2], 1, 2, 5.0f},
                               {&K[0], 2, 0, 5e-3f}, {&K[2], 3, 0, 0.5f},  {&K[5], 3, 1, 0.5f},
                               {&D[0], 4, 0, 0.5f}};
  if (GetParam().model != 3) params.push_back({&D[1], 4, 1, 0.5f});
  // Model 3's angle table has 0.001 steps: longer differences.
  const float stretch = GetParam().model == 3 ? 4.0f : 1.0f;
  for (Param pa : params) {
    pa.h *= stretch;
    const float keep = *pa.p;
    *pa.p = keep + pa.h;
    ground(&mi, &mgp, &mK, &mD, &mr, &mT, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    *pa.p = keep - pa.h;
    ground(&mi, &mgm, &mK, &mD, &mr, &mT, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    *pa.p = keep;
    for (int row = 0; row < 2 * n; ++row) {
      const double fd = (static_cast<double>(gp[row]) - gm[row]) / (2.0 * pa.h);
      const float an = blocks[pa.block].data[row * blocks[pa.block].cols + pa.col];
      // Model 3 reads the angle table in 0.001 steps: only the pose terms
      // are smooth enough for a tight comparison.
      const double rel = GetParam().model == 3 ? 0.05 : 0.01;
      EXPECT_NEAR(an, fd, std::fabs(fd) * rel + 0.05 * (1 + std::fabs(fd) * 0.01) + (GetParam().model == 3 ? 2.0 : 0.0))
          << "block " << pa.block << " col " << pa.col << " row " << row;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Models, PoseFitTest, ::testing::ValuesIn(kFits),
                         [](const ::testing::TestParamInfo<FitCase>& i) { return std::string(i.param.name); });

// The row of the picture size, or the nearest row (closest picture aspect,
// then closest width) with its starts and steps scaled by the width ratio.
TEST(FitSetup, TablesByImageSize) {
  struct Case {
    int32_t model, w, h;
    FitSetup want;
  };
  const Case cases[] = {
      {1, 1920, 1080, {500.0f, 7.5f, -3.0f, 3.0f, 18, 4, 1.0f}},
      {1, 720, 480, {170.0f, 5.0f, 0.0f, 3.0f, 14, 1, 1.16f}},
      {2, 1920, 1080, {510.0f, 5.0f, -3.0f, 3.0f, 18, 4, 1.0f}},  // the 1920 row, whatever its height
      {2, 1920, 1280, {510.0f, 5.0f, -3.0f, 3.0f, 18, 4, 1.0f}},
      {4, 1920, 1080, {500.0f, 7.5f, -3.0f, 3.0f, 18, 4, 1.0f}},
      // 16:9 sizes from the 1280 x 720 row (the nearer width of the two).
      {1, 640, 360, {180.0f, 2.5f, -1.5f, 1.5f, 18, 4, 1.0f}},
      {2, 640, 360, {170.0f, 2.5f, -1.5f, 1.5f, 18, 4, 1.0f}},
      {2, 2560, 1440, {680.0f, 20.0f / 3, -4.0f, 4.0f, 18, 4, 1.0f}},  // from 1920 x 1080
      // 4:3 from 720 x 576 (aspect 1.25 against 1.5 of 720 x 480).
      {4, 800, 600, {210.0f * 800 / 720, 5.0f * 800 / 720, 0.0f, 3.0f * 800 / 720, 14, 1, 1.0f}},
      {1, 1440, 960, {340.0f, 10.0f, 0.0f, 6.0f, 14, 1, 1.16f}},  // 3:2 from 720 x 480
  };
  for (const Case& c : cases) {
    FitSetup s;
    if (c.model == 1) CamModel1_Setup(&s, c.w, c.h);
    if (c.model == 2) CamModel2_Setup(&s, c.w, c.h);
    if (c.model == 4) CamModel4_Setup(&s, c.w, c.h);
    const std::string what = "model " + std::to_string(c.model) + " " + std::to_string(c.w) + "x" + std::to_string(c.h);
    EXPECT_FLOAT_EQ(s.start, c.want.start) << what;
    EXPECT_FLOAT_EQ(s.step, c.want.step) << what;
    EXPECT_FLOAT_EQ(s.secondStart, c.want.secondStart) << what;
    EXPECT_FLOAT_EQ(s.secondStep, c.want.secondStep) << what;
    EXPECT_EQ(s.outerCount, c.want.outerCount) << what;
    EXPECT_EQ(s.innerCount, c.want.innerCount) << what;
    EXPECT_FLOAT_EQ(s.aspect, c.want.aspect) << what;
  }
  // No picture: no search, and the fit reports no pose.
  FitSetup s;
  CamModel2_Setup(&s, 0, 720);
  EXPECT_EQ(s.outerCount, 0);
}

// The scale search's edges from exact corners of a 1280 x 720 board: a lens
// on or just inside an edge of the grid fits (one step beyond scores worse);
// one just outside, whose nearest grid value is the edge, is no fit.
TEST(FitSetup, ScaleAtTheSearchEdge) {
  struct Case {
    int32_t model;
    float scale;
    bool fits;
  };
  const Case cases[] = {
      {1, 360.0f, true},  {1, 357.0f, false}, {1, 445.0f, true},  {1, 446.0f, true},  {1, 449.0f, false},
      {2, 340.0f, true},  {2, 336.0f, false}, {2, 425.0f, true},  {2, 429.0f, false},
      {4, 361.0f, true},  {4, 356.0f, false}, {4, 444.0f, true},  {4, 449.0f, false},
  };
  for (const Case& c : cases) {
    SceneCamera cam = PoseScene_Camera(c.model, kW, kH);
    cam.D[0] = c.scale;
    PoseScene s = PoseScene_Make(cam, 1000.0f, 1500.0f, 10.0f);
    std::vector<float> xy(static_cast<size_t>(2 * s.count));
    for (int i = 0; i < s.count; ++i) {
      xy[2 * i] = s.image[2 * i + 1];
      xy[2 * i + 1] = s.image[2 * i];
    }
    float k[9] = {}, d[8] = {}, r[3] = {}, t[3] = {};
    Matrix W{3, s.count, s.world.data()}, I{2, s.count, xy.data()};
    Matrix K{3, 3, k}, D{1, 8, d}, R{1, 3, r}, T{1, 3, t};
    const float rms = CameraModel_Calibrate(kW, kH, c.model, &W, &I, &K, &D, &R, FLT_EPSILON, &T, 0, 100, 0, 0);
    const std::string what = "model " + std::to_string(c.model) + " scale " + std::to_string(c.scale);
    if (c.fits) {
      EXPECT_LT(rms, 1.0f) << what;
      EXPECT_LT(PoseScene_RotationErrorDeg(r, s.cam.r), 0.5) << what;
    } else {
      EXPECT_EQ(rms, FLT_MAX) << what;
    }
  }
}

TEST(FitSetup, ModelThreeFromTheTable) {
  ScopedConfigState state;
  EquidistantTable t;
  t.unitSize = 2.0f;
  t.kind = 0;
  t.sensorA = 16.0f;
  t.sensorB = 10.0f;
  ASSERT_TRUE(LensTableFixture_Write(state.dir(), 4, t));
  LensTableFixture_Install(state.dir(), 4);
  FitSetup s;
  CamModel3_Setup(&s, 1280, 720, 0);
  const float aspect = (1280.0f / 720.0f) / (16.0f / 10.0f);
  EXPECT_FLOAT_EQ(s.aspect, aspect);
  EXPECT_FLOAT_EQ(s.start, 1280.0f / 1.95f / 2.0f / aspect - 25.0f);
  EXPECT_FLOAT_EQ(s.step, 5.0f);
  EXPECT_FLOAT_EQ(s.secondStep, 3.0f);
  EXPECT_EQ(s.outerCount, 10);
  EXPECT_EQ(s.innerCount, 1);
}

}  // namespace

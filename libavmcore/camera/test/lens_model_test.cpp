// Projection, back-projection and derivatives of the six lens models,
// through the camera-model dispatcher.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "camera/camera_model.h"
#include "frame/lens_table.h"
#include "camera/rotation.h"
#include "testsupport/config_state.h"
#include "testsupport/lens_table_fixture.h"
#include "testsupport/scene_renderer.h"

namespace {

constexpr float kLimit = 1.7592919f;

struct ModelCase {
  const char* name;
  int32_t model;
  float K[9];
  float D[8];
  float roundTripMm;  // ground round trip tolerance at 3 m
  bool derivatives;   // fills the derivative blocks
};

// Model 3 reads an equidistant lens table of 5 height units per radian, so
// its D[0] = 72 matches model 2's 360 pixels per radian.
const ModelCase kModels[] = {
    {"equisolid", 1, {1.02f, 0.01f, 641.5f, -0.01f, 1, 358.5f, 0, 0, 1}, {380, 2.0f, -0.3f}, 1e-3f, true},
    {"equidistant", 2, {0.98f, 0, 639.5f, 0.02f, 1, 361.0f, 0, 0, 1}, {360, 3.0f, -0.5f}, 1e-3f, true},
    {"table", 3, {1.0f, 0, 639.5f, 0, 1, 359.5f, 0, 0, 1}, {72}, 2.0f, true},
    {"sine", 4, {1.01f, 0, 640.0f, 0, 1, 360.0f, 0, 0, 1}, {370, 1.5f, 0.2f}, 1e-3f, true},
    {"sphere", 5, {300, 0, 640, 0.8f, 300, 360, 0, 0, 1}, {-0.05f, 0.01f}, 1e-3f, false},
    {"equidistant-rd", 6, {360, 0, 640, 0, 358, 360, 0, 0, 1}, {0.02f, -0.003f}, 1e-3f, false},
};

void PrintTo(const ModelCase& c, std::ostream* os) { *os << c.name; }

class LensModelTest : public ::testing::TestWithParam<ModelCase> {
 protected:
  void SetUp() override {
    EquidistantTable t;
    t.heightDegrees = 100.8f;  // the table ends where the formula models' fields end
    ASSERT_TRUE(LensTableFixture_Write(state_.dir(), 7, t));
    LensTableFixture_Install(state_.dir(), 7);
    ASSERT_NE(LensTable_Current()->heightTable, nullptr);
    const ModelCase& c = GetParam();
    std::copy(c.K, c.K + 9, K);
    std::copy(c.D, c.D + 8, D);
    // 1.2 m above the ground, looking ahead and down.
    SceneCamera cam;
    const float pos[3] = {100, -200, 1200}, at[3] = {300, 2000, 0};
    SceneCamera_LookAt(&cam, pos, at);
    std::copy(cam.r, cam.r + 3, r);
    std::copy(cam.T, cam.T + 3, T);
  }

  void Project(const std::vector<float>& world, std::vector<float>* image, Matrix* blocks = nullptr) {
    const int n = static_cast<int>(world.size() / 3);
    image->assign(2 * n, 0.0f);
    Matrix mw{3, n, const_cast<float*>(world.data())}, mi{2, n, image->data()};
    Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
    CameraModel_ProjectPoints(GetParam().model, &mw, &mr, &mT, &mK, &mD, &mi, blocks ? &blocks[0] : nullptr,
                              blocks ? &blocks[1] : nullptr, blocks ? &blocks[2] : nullptr,
                              blocks ? &blocks[3] : nullptr, blocks ? &blocks[4] : nullptr, 0);
  }

  // World point with the given camera coordinates.
  void CameraToWorld(const float* xc, float* w) {
    float R[9];
    RodriguesArr(r, R, nullptr);
    for (int k = 0; k < 3; ++k) w[k] = R[k] * xc[0] + R[3 + k] * xc[1] + R[6 + k] * xc[2] - T[k];
  }

  bool InsideField(float theta) const {
    if (GetParam().model != 3) return theta <= kLimit;
    return static_cast<int32_t>(theta / 3.1415927f * 180.0f * 400.0f) < LensTable_Current()->heightCount;
  }

  ScopedConfigState state_;
  float K[9], D[8], r[3], T[3];
};

TEST_P(LensModelTest, GroundPointRoundTrip) {
  // Ground points up to 3 m from the camera (100, -200, 1200).
  std::vector<float> world;
  for (float x = -1500; x <= 1500; x += 250)
    for (float y = 0; y <= 3000; y += 250) {
      const float dx = x - 100, dy = y + 200;
      if (dx * dx + dy * dy + 1200 * 1200 <= 3000 * 3000) world.insert(world.end(), {x, y, 0.0f});
    }
  std::vector<float> image;
  Project(world, &image);
  const int n = static_cast<int>(world.size() / 3);
  std::vector<float> back(3 * n);
  Matrix mi{2, n, image.data()}, mo{3, n, back.data()};
  Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
  CameraModel_ImageToRay(GetParam().model, &mi, &mo, &mK, &mD, &mr, &mT, 0, 0.0f);
  float worst = 0.0f;
  for (int i = 0; i < n; ++i) {
    worst = std::max({worst, std::fabs(back[3 * i] - world[3 * i]), std::fabs(back[3 * i + 1] - world[3 * i + 1])});
    // The ray's angle off the axis is computed in single precision: a few
    // units in the last place of theta, magnified on the ground by
    // d(ground)/d(theta) = slant^2 / height. Whether an expression is fused
    // or rounded twice depends on the optimisation level, so the bound is
    // stated from that arithmetic, not from one build's result.
    const float dx = world[3 * i] - 100, dy = world[3 * i + 1] + 200, h = 1200;
    const float slant2 = dx * dx + dy * dy + h * h;
    const float theta = std::atan(std::sqrt(dx * dx + dy * dy) / h);
    const float floatBound = 4.0f * theta * FLT_EPSILON * slant2 / h;
    const float tol = std::max(GetParam().roundTripMm, floatBound);
    EXPECT_EQ(back[3 * i + 2], 0.0f) << i;
    EXPECT_NEAR(back[3 * i], world[3 * i], tol) << i;
    EXPECT_NEAR(back[3 * i + 1], world[3 * i + 1], tol) << i;
  }
  RecordProperty("worst_mm", std::to_string(worst));
  // A second plane: the ray meets Z = -h (h = -300, 300 mm up) where the
  // point above the ground projects.
  std::vector<float> raised = {500, 1500, 300};
  Project(raised, &image);
  Matrix mi1{2, 1, image.data()}, mo1{3, 1, back.data()};
  CameraModel_ImageToRay(GetParam().model, &mi1, &mo1, &mK, &mD, &mr, &mT, 0, -300.0f);
  EXPECT_NEAR(back[0], 500.0f, GetParam().roundTripMm);
  EXPECT_NEAR(back[1], 1500.0f, GetParam().roundTripMm);
}

TEST_P(LensModelTest, OpticalAxisLandsOnPrincipalPoint) {
  const float xc[3] = {0, 0, 2500};
  std::vector<float> world(3), image;
  CameraToWorld(xc, world.data());
  // Through the single-point function as well as the point set.
  Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
  ProjectPointFn fn = nullptr;
  ProjectionContext ctx;
  CameraModel_ProjectPoint(GetParam().model, &mr, &mT, &mK, &mD, &fn, &ctx);
  ASSERT_NE(fn, nullptr);
  float u, v;
  EXPECT_EQ(fn(GetParam().model, &ctx, &u, &v, 0, world[0], world[1], world[2]), 1);
  EXPECT_NEAR(u, K[2], 2e-3f);
  EXPECT_NEAR(v, K[5], 2e-3f);
  Project(world, &image);
  EXPECT_NEAR(image[0], K[2], 2e-3f);
  EXPECT_NEAR(image[1], K[5], 2e-3f);
}

TEST_P(LensModelTest, FieldLimitIsExact) {
  // Camera points (1, 0, z) around the limit angle, float by float.
  Matrix mK{3, 3, K}, mD{1, 8, D};
  ProjectPointFn fn = nullptr;
  ProjectionContext ctx;
  // Identity pose: world = camera coordinates.
  float r0[3] = {0, 0, 0}, t0[3] = {0, 0, 0};
  Matrix mr0{3, 1, r0}, mt0{1, 3, t0};
  CameraModel_ProjectPoint(GetParam().model, &mr0, &mt0, &mK, &mD, &fn, &ctx);
  ASSERT_NE(fn, nullptr);
  float z = static_cast<float>(1.0 / std::tan(kLimit - 3.14159265358979));
  for (int i = 0; i < 80; ++i) z = std::nextafter(z, 0.0f);
  int inside = 0, outside = 0;
  for (int i = 0; i < 160; ++i, z = std::nextafter(z, -1.0f)) {
    const float theta = std::atan(1.0f / z) + 3.1415927f;
    float u, v;
    const int32_t in = fn(GetParam().model, &ctx, &u, &v, 0, 1.0f, 0.0f, z);
    EXPECT_EQ(in == 1, InsideField(theta)) << theta;
    if (in) {
      ++inside;
    } else {
      ++outside;
      EXPECT_EQ(u, -2.0f);
      EXPECT_EQ(v, -2.0f);
    }
  }
  EXPECT_GT(inside, 0);
  EXPECT_GT(outside, 0);
}

TEST_P(LensModelTest, PointBehindIsOutside) {
  const float xc[3] = {10, -5, -1000};
  std::vector<float> world(3), image;
  CameraToWorld(xc, world.data());
  Project(world, &image);
  EXPECT_EQ(image[0], -2.0f);
  EXPECT_EQ(image[1], -2.0f);
  Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
  ProjectPointFn fn = nullptr;
  ProjectionContext ctx;
  CameraModel_ProjectPoint(GetParam().model, &mr, &mT, &mK, &mD, &fn, &ctx);
  float u = 0, v = 0;
  EXPECT_EQ(fn(GetParam().model, &ctx, &u, &v, 0, world[0], world[1], world[2]), 0);
  EXPECT_EQ(u, -2.0f);
  EXPECT_EQ(v, -2.0f);
}

TEST_P(LensModelTest, SinglePointMatchesPointSet) {
  std::vector<float> world = {-800, 900, 0, 400, 2500, 0, 1500, 1200, 250, -2000, 400, 0};
  std::vector<float> image;
  Project(world, &image);
  Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
  ProjectPointFn fn = nullptr;
  ProjectionContext ctx;
  CameraModel_ProjectPoint(GetParam().model, &mr, &mT, &mK, &mD, &fn, &ctx);
  for (size_t i = 0; i < world.size() / 3; ++i) {
    float u, v;
    fn(GetParam().model, &ctx, &u, &v, 0, world[3 * i], world[3 * i + 1], world[3 * i + 2]);
    EXPECT_NEAR(u, image[2 * i], 1e-3f);
    EXPECT_NEAR(v, image[2 * i + 1], 1e-3f);
  }
}

TEST_P(LensModelTest, AngleMapAgreesWithProjection) {
  // The undistorted-view map of a ray equals the projection of a point on
  // that ray (for models 1, 2 and 4 only without the D[2] term).
  D[2] = GetParam().model <= 4 && GetParam().model != 3 ? 0.0f : D[2];
  Matrix mK{3, 3, K}, mD{1, 8, D};
  float r0[3] = {0, 0, 0}, t0[3] = {0, 0, 0};
  Matrix mr0{3, 1, r0}, mt0{1, 3, t0};
  ProjectPointFn fn = nullptr;
  ProjectionContext ctx;
  CameraModel_ProjectPoint(GetParam().model, &mr0, &mt0, &mK, &mD, &fn, &ctx);
  for (float theta : {0.1f, 0.7f, 1.3f}) {
    for (float phi : {0.3f, 2.0f, -2.5f}) {
      float u1, v1, u2, v2;
      CameraModel_UndistPointToImage(GetParam().model, &mK, &mD, &u1, &v1, 0, theta, std::cos(phi), std::sin(phi));
      fn(GetParam().model, &ctx, &u2, &v2, 0, std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
         std::cos(theta));
      EXPECT_NEAR(u1, u2, 2e-2f) << theta << " " << phi;
      EXPECT_NEAR(v1, v2, 2e-2f) << theta << " " << phi;
    }
  }
}

// Derivative blocks against central finite differences of the projection.
TEST_P(LensModelTest, ProjectionDerivativesMatchFiniteDifferences) {
  if (!GetParam().derivatives) GTEST_SKIP() << "model fills no derivative blocks";
  std::vector<float> world = {-800, 900, 0, 400, 2500, 0, 1500, 1200, 250, -300, 700, 100};
  const int n = 4;
  std::vector<float> image;
  std::vector<float> b[5] = {std::vector<float>(2 * n * 3), std::vector<float>(2 * n * 3),
                             std::vector<float>(2 * n * 3), std::vector<float>(2 * n * 2),
                             std::vector<float>(2 * n * 8)};
  Matrix blocks[5] = {{3, 2 * n, b[0].data()}, {3, 2 * n, b[1].data()}, {3, 2 * n, b[2].data()},
                      {2, 2 * n, b[3].data()}, {8, 2 * n, b[4].data()}};
  Project(world, &image, blocks);
  // Each parameter: its storage, its block and column, and a step.
  const bool table = GetParam().model == 3;
  struct Param {
    float* p;
    int block, col;
    float h;
  };
  std::vector<Param> params = {
      {&r[0], 0, 0, 1e-2f}, {&r[1], 0, 1, 1e-2f}, {&r[2], 0, 2, 1e-2f}, {&T[0], 1, 0, 10.0f},
      {&T[1], 1, 1, 10.0f}, {&T[2], 1, 2, 10.0f}, {&K[0], 2, 0, 1e-2f}, {&K[1], 2, 1, 1e-2f},
      {&K[3], 2, 2, 1e-2f}, {&K[2], 3, 0, 1.0f},  {&K[5], 3, 1, 1.0f},  {&D[0], 4, 0, 0.5f}};
  if (!table) {
    params.push_back({&D[1], 4, 1, 0.5f});
    params.push_back({&D[2], 4, 2, 0.5f});
  }
  // The table's 1/400 degree steps (0.016 px here) need longer differences.
  const float stretch = table ? 5.0f : 1.0f;
  for (const Param& pa : params) {
    const float keep = *pa.p;
    const float h = pa.h * stretch;
    std::vector<float> ip, im;
    *pa.p = keep + h;
    Project(world, &ip);
    *pa.p = keep - h;
    Project(world, &im);
    *pa.p = keep;
    for (int row = 0; row < 2 * n; ++row) {
      const double fd = (static_cast<double>(ip[row]) - im[row]) / (2.0 * h);
      const float an = blocks[pa.block].data[row * blocks[pa.block].cols + pa.col];
      // Float rounding of pixels near 1000 limits the differences to ~0.03.
      EXPECT_NEAR(an, fd, std::fabs(fd) * (table ? 0.03 : 0.005) + (table ? 0.2 : 0.03))
          << "block " << pa.block << " col " << pa.col << " row " << row;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Models, LensModelTest, ::testing::ValuesIn(kModels),
                         [](const ::testing::TestParamInfo<ModelCase>& i) {
                           std::string s = i.param.name;
                           for (char& c : s)
                             if (c == '-') c = '_';
                           return s;
                         });

// Closed-form values of the angle map with unit intrinsics.
TEST(LensModelFormulas, AngleMapOfUnitCamera) {
  float K[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, D[8] = {1};
  Matrix mK{3, 3, K}, mD{1, 8, D};
  float u, v;
  CameraModel_UndistPointToImage(2, &mK, &mD, &u, &v, 0, 0.5f, 1.0f, 0.0f);
  EXPECT_FLOAT_EQ(u, 0.5f);
  EXPECT_FLOAT_EQ(v, 0.0f);
  CameraModel_UndistPointToImage(1, &mK, &mD, &u, &v, 0, 0.5f, 1.0f, 0.0f);
  EXPECT_FLOAT_EQ(u, 2.0f * std::sin(0.25f));
  CameraModel_UndistPointToImage(4, &mK, &mD, &u, &v, 0, 0.5f, 1.0f, 0.0f);
  EXPECT_FLOAT_EQ(u, std::sin(0.3f) * 1.6666666f);
  // Model 6 at theta 1 along +x: fx (theta (1 + k1 + k2) + 3 p2) + cx.
  float K6[9] = {300, 0, 640, 0, 310, 360, 0, 0, 1}, D6[8] = {0.1f, 0.01f, 0.002f, 0.003f};
  Matrix mK6{3, 3, K6}, mD6{1, 8, D6};
  CameraModel_UndistPointToImage(6, &mK6, &mD6, &u, &v, 0, 1.0f, 1.0f, 0.0f);
  EXPECT_NEAR(u, 300.0f * (1.0f * (1 + 0.1f + 0.01f) + 0.003f * 3) + 640, 1e-3f);
  EXPECT_NEAR(v, 310.0f * 0.002f + 360, 1e-3f);
  // The angle maps have no field limit; model 4's ignores D[2].
  CameraModel_UndistPointToImage(2, &mK, &mD, &u, &v, 0, 2.5f, 0.0f, 1.0f);
  EXPECT_FLOAT_EQ(v, 2.5f);
  float D4[8] = {1, 0, 5};
  Matrix mD4{1, 8, D4};
  float u4;
  CameraModel_UndistPointToImage(4, &mK, &mD4, &u4, &v, 0, 0.5f, 1.0f, 0.0f);
  EXPECT_FLOAT_EQ(u4, std::sin(0.3f) * 1.6666666f);
}

TEST(LensModelFormulas, SphereWithoutOffsetIsPinhole) {
  float K[9] = {300, 0, 640, 0, 300, 360, 0, 0, 1}, D[8] = {};
  float r[3] = {0, 0, 0}, T[3] = {0, 0, 0};
  Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
  float w[3] = {0.3f, -0.2f, 1.0f}, i[2];
  Matrix mw{3, 1, w}, mi{2, 1, i};
  CameraModel_ProjectPoints(5, &mw, &mr, &mT, &mK, &mD, &mi, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
  EXPECT_NEAR(i[0], 640 + 300 * 0.3f, 1e-3f);
  EXPECT_NEAR(i[1], 360 - 300 * 0.2f, 1e-3f);
}

TEST(LensModelFormulas, SkewEntryK4OnlyEntersBackProjection) {
  float K[9] = {1, 0, 640, 0, 1, 360, 0, 0, 1}, D[8] = {360, 0, 0};
  float r[3] = {0, 0, 0}, T[3] = {0, 0, -1000};
  Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
  float w[3] = {300, 200, 0}, i1[2], i2[2], g1[3], g2[3];
  Matrix mw{3, 1, w}, mi1{2, 1, i1}, mi2{2, 1, i2}, mg1{3, 1, g1}, mg2{3, 1, g2};
  CameraModel_ProjectPoints(2, &mw, &mr, &mT, &mK, &mD, &mi1, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
  CameraModel_ImageToRay(2, &mi1, &mg1, &mK, &mD, &mr, &mT, 0, 0.0f);
  K[4] = 1.1f;
  CameraModel_ProjectPoints(2, &mw, &mr, &mT, &mK, &mD, &mi2, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
  CameraModel_ImageToRay(2, &mi1, &mg2, &mK, &mD, &mr, &mT, 0, 0.0f);
  EXPECT_EQ(i1[0], i2[0]);
  EXPECT_EQ(i1[1], i2[1]);
  EXPECT_NE(g1[1], g2[1]);
}

TEST(LensModelFormulas, UpwardRaysAreFlagged) {
  // A camera looking along +Y at 1 m height: rays above the horizon never
  // reach the ground.
  for (int model : {1, 2, 4, 5, 6}) {
    SceneCamera cam;
    const float pos[3] = {0, 0, 1000}, at[3] = {0, 1000, 1000};
    SceneCamera_LookAt(&cam, pos, at);
    float K[9] = {model >= 5 ? 300.0f : 1.0f, 0, 640, 0, model >= 5 ? 300.0f : 1.0f, 360, 0, 0, 1};
    float D[8] = {model >= 5 ? 0.0f : 300.0f};
    Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, cam.r}, mT{1, 3, cam.T};
    float px[4] = {640, 200, 640, 600}, out[6];
    Matrix mi{2, 2, px}, mo{3, 2, out};
    CameraModel_ImageToRay(model, &mi, &mo, &mK, &mD, &mr, &mT, 0, 0.0f);
    if (model >= 5) {
      EXPECT_EQ(out[2], -1.0f) << model;  // up: d.z >= 0
    }
    EXPECT_EQ(out[5], 0.0f) << model;                   // down and ahead
  }
}

TEST(CameraModelDispatch, UnknownModelsDoNothing) {
  float K[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, D[8] = {300}, r[3] = {0.1f, 0, 0}, T[3] = {0, 0, 5};
  Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
  ProjectPointFn fn = reinterpret_cast<ProjectPointFn>(0x1);
  ProjectionContext ctx;
  CameraModel_ProjectPoint(7, &mr, &mT, &mK, &mD, &fn, &ctx);
  EXPECT_EQ(fn, reinterpret_cast<ProjectPointFn>(0x1));
  EXPECT_FLOAT_EQ(ctx.t[2], 5.0f * std::cos(0.1f));
  float u = 9, v = 9;
  CameraModel_UndistPointToImage(0, &mK, &mD, &u, &v, 0, 0.5f, 1, 0);
  EXPECT_EQ(u, 9.0f);
  float obj[6] = {0, 0, 0, 1, 1, 0}, img[4] = {100, 100, 200, 200};
  Matrix mo{3, 2, obj}, mi{2, 2, img};
  for (int model : {5, 6, 0}) {
    EXPECT_EQ(CameraModel_Calibrate(1280, 720, model, &mo, &mi, &mK, &mD, &mr, 1e-7f, &mT, 0, 100, 0, 0), 0.0f);
    EXPECT_EQ(CameraModel_LineCalibFB(model, &mo, &mi, &mK, &mD, &mr, &mT, 0, 1280, 720, 0), 0.0f);
  }
  for (int model : {1, 2, 4}) {
    EXPECT_EQ(CameraModel_LineCalibLR(model, &mo, &mi, &mK, &mD, &mr, &mT, 0, 1280, 720, 0), 0.0f);
  }
  // No points at all: nothing to fit, nothing changed.
  Matrix none{2, 0, img}, noneObj{3, 0, obj};
  for (int model : {1, 2, 4}) {
    EXPECT_EQ(CameraModel_Calibrate(1280, 720, model, &noneObj, &none, &mK, &mD, &mr, 1e-7f, &mT, 0, 100, 0, 0),
              FLT_MAX);
    EXPECT_TRUE(std::isnan(CameraModel_LineCalibFB(model, &noneObj, &none, &mK, &mD, &mr, &mT, 0, 1280, 720, 0)));
  }
  EXPECT_EQ(D[0], 300.0f);
  EXPECT_EQ(r[0], 0.1f);
  EXPECT_EQ(T[2], 5.0f);
}

}  // namespace

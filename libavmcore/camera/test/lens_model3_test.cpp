// Lens model 3 on lens tables written for the test.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "camera/cam_model3.h"
#include "camera/camera_model.h"
#include "frame/lens_table.h"
#include "testsupport/config_state.h"
#include "testsupport/lens_table_fixture.h"
#include "testsupport/scene_renderer.h"

namespace {

class LensModel3Test : public ::testing::Test {
 protected:
  void SetUp() override {
    EquidistantTable t;  // 5 height units per radian
    ASSERT_TRUE(LensTableFixture_Write(state_.dir(), 9, t));
    LensTableFixture_Install(state_.dir(), 9);
    ASSERT_NE(LensTable_Current()->angleTable, nullptr);
    const float pos[3] = {0, -100, 1000}, at[3] = {200, 1500, 0};
    SceneCamera_LookAt(&cam_, pos, at);
  }
  ScopedConfigState state_;
  SceneCamera cam_;
  float K_[9] = {1.01f, 0.005f, 641, -0.004f, 1, 358, 0, 0, 1};
};

TEST_F(LensModel3Test, EquidistantTableReproducesModelTwo) {
  float D3[8] = {72}, D2[8] = {360};
  Matrix mK{3, 3, K_}, mD3{1, 8, D3}, mD2{1, 8, D2}, mr{3, 1, cam_.r}, mT{1, 3, cam_.T};
  std::vector<float> world;
  for (float x = -1500; x <= 1500; x += 300)
    for (float y = -200; y <= 3000; y += 400) world.insert(world.end(), {x, y, (x + y) * 0.05f});
  const int n = static_cast<int>(world.size() / 3);
  std::vector<float> i3(2 * n), i2(2 * n);
  Matrix mw{3, n, world.data()}, mi3{2, n, i3.data()}, mi2{2, n, i2.data()};
  CameraModel_ProjectPoints(3, &mw, &mr, &mT, &mK, &mD3, &mi3, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
  CameraModel_ProjectPoints(2, &mw, &mr, &mT, &mK, &mD2, &mi2, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
  int inside = 0;
  for (int i = 0; i < n; ++i) {
    // One 1/400 degree table step is 0.016 px here.
    EXPECT_NEAR(i3[2 * i], i2[2 * i], 0.02f) << i;
    EXPECT_NEAR(i3[2 * i + 1], i2[2 * i + 1], 0.02f) << i;
    inside += i2[2 * i] != -2.0f;
  }
  EXPECT_GT(inside, n / 2);
  // The angle maps and the undistortion agree as well.
  for (float theta : {0.2f, 1.0f, 1.6f}) {
    float u3, v3, u2, v2;
    CameraModel_UndistPointToImage(3, &mK, &mD3, &u3, &v3, 0, theta, 0.6f, -0.8f);
    CameraModel_UndistPointToImage(2, &mK, &mD2, &u2, &v2, 0, theta, 0.6f, -0.8f);
    EXPECT_NEAR(u3, u2, 0.02f);
    EXPECT_NEAR(v3, v2, 0.02f);
  }
  std::vector<float> p3(2 * n), p2(2 * n);
  Matrix mp3{2, n, p3.data()}, mp2{2, n, p2.data()};
  CameraModel_UndistortPoints(3, &mi2, &mp3, &mK, &mD3, 0, 0);
  CameraModel_UndistortPoints(2, &mi2, &mp2, &mK, &mD2, 0, 0);
  for (int i = 0; i < n; ++i) {
    if (i2[2 * i] == -2.0f || !std::isfinite(p2[2 * i]) || std::fabs(p2[2 * i]) > 10) continue;
    // Points on the unit pinhole plane; the angle table has 0.0002 rad steps.
    const float tol = 1e-3f * (1 + p2[2 * i] * p2[2 * i] + p2[2 * i + 1] * p2[2 * i + 1]);
    EXPECT_NEAR(p3[2 * i], p2[2 * i], tol) << i;
    EXPECT_NEAR(p3[2 * i + 1], p2[2 * i + 1], tol) << i;
  }
}

TEST_F(LensModel3Test, RadiiBeyondTheAngleTableStayInside) {
  // A pixel far from the centre lies beyond the angle table (radius above
  // pi * 5): no ray, and the look-up must not read past the table.
  float D[8] = {72};
  Matrix mK{3, 3, K_}, mD{1, 8, D}, mr{3, 1, cam_.r}, mT{1, 3, cam_.T};
  float px[6] = {641 + 72 * 20, 358, 641, 358 - 72 * 40, 641 + 72 * 2, 358};
  float ray[9], und[6], g[6];
  Matrix mi{2, 3, px}, mo{3, 3, ray}, mu{2, 3, und}, mg{2, 3, g};
  CameraModel_ImageToRay(3, &mi, &mo, &mK, &mD, &mr, &mT, 0, 0.0f);
  EXPECT_EQ(ray[2], -1.0f);
  EXPECT_EQ(ray[5], -1.0f);
  EXPECT_EQ(ray[8], 0.0f);  // 2 units: about 23 degrees, on the ground ahead
  // The point-set undistortion and the ground mapping clamp to the last entry.
  CameraModel_UndistortPoints(3, &mi, &mu, &mK, &mD, 0, 0);
  EXPECT_TRUE(std::isfinite(und[0]));
  CamModel3_ImageToGroundJac(&mi, &mg, &mK, &mD, &mr, &mT, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
  EXPECT_FALSE(std::isnan(g[4]));
}

TEST_F(LensModel3Test, WithoutTablesNothingProjects) {
  LensTableSlot* slot = LensTable_Current();
  LensTable_FreeSlot(slot);
  float D[8] = {72};
  Matrix mK{3, 3, K_}, mD{1, 8, D}, mr{3, 1, cam_.r}, mT{1, 3, cam_.T};
  ProjectPointFn fn = nullptr;
  ProjectionContext ctx;
  CameraModel_ProjectPoint(3, &mr, &mT, &mK, &mD, &fn, &ctx);
  float u = 0, v = 0;
  EXPECT_EQ(fn(3, &ctx, &u, &v, 0, 0, 1000, 0), 0);
  EXPECT_EQ(u, -2.0f);
  CameraModel_UndistPointToImage(3, &mK, &mD, &u, &v, 0, 0.5f, 1, 0);
  EXPECT_EQ(v, -2.0f);
  float px[2] = {700, 400}, ray[3];
  Matrix mi{2, 1, px}, mo{3, 1, ray};
  CameraModel_ImageToRay(3, &mi, &mo, &mK, &mD, &mr, &mT, 0, 0.0f);
  EXPECT_EQ(ray[2], -1.0f);
}

TEST_F(LensModel3Test, RemapOfTheTable) {
  std::vector<float> x(40 * 30, 7.0f), y(40 * 30, 7.0f);
  Matrix mx{40, 30, x.data()}, my{40, 30, y.data()};
  EXPECT_EQ(LensTable_BuildRemap(0, 30, &mx, &my, 100, 50, 2, 2), 0);
  EXPECT_EQ(x[0], 7.0f);
  EXPECT_EQ(LensTable_BuildRemap(40, 30, &mx, &my, 100, 50, 2, 2), 0);
  // Pixel (20, 15) is the centre; (30, 15) lies at x = 10 / 40 * 10 = 2.5,
  // theta = atan(2.5), height 5 theta.
  EXPECT_NEAR(x[15 * 40 + 20], 100.0f, 1e-3f);
  EXPECT_NEAR(y[15 * 40 + 20], 50.0f, 1e-3f);
  EXPECT_NEAR(x[15 * 40 + 30], 100.0f + 2 * 5 * std::atan(2.5f), 2e-3f);
  EXPECT_NEAR(y[15 * 40 + 30], 50.0f, 1e-3f);
}

TEST_F(LensModel3Test, TrackedFitKeepsTrackedScaleAndCentre) {
  // trackCount 2: the search runs at the tracked centre and scale, and the
  // refinement keeps K[0], the centre and the scale.
  LensTableSlot* slot = LensTable_Current();
  slot->unitSize = 640.0f / 72.0f;  // scaleX = (1280 / 2) / unitSize = 72
  slot->trackCount = 2;
  SceneCamera cam = cam_;
  cam.model = 3;
  const float K[9] = {1, 0, 640, 0, 1, 360, 0, 0, 1};
  std::copy(K, K + 9, cam.K);
  cam.D[0] = 72;
  TargetSpec t;
  t.squaresX = 10;
  t.squaresY = 6;
  t.squareSize = 200;
  const float origin[3] = {-900, 300, 0};
  std::copy(origin, origin + 3, t.origin);
  std::vector<float> world, image;
  for (const TargetCorner& c : Target_Corners(t, cam, 1280, 720)) {
    world.insert(world.end(), c.world, c.world + 3);
    image.insert(image.end(), {c.u, c.v});
  }
  const int n = static_cast<int>(world.size() / 3);
  float Kf[9] = {}, Df[8] = {}, rf[3] = {}, Tf[3] = {};
  Matrix mo{3, n, world.data()}, mi{2, n, image.data()}, mK{3, 3, Kf}, mD{1, 8, Df}, mr{3, 1, rf}, mT{1, 3, Tf};
  testing::internal::CaptureStdout();
  const float rms = CameraModel_Calibrate(1280, 720, 3, &mo, &mi, &mK, &mD, &mr, FLT_EPSILON, &mT, 0, 100, 0, 0);
  testing::internal::GetCapturedStdout();
  EXPECT_LT(rms, 0.02f);
  EXPECT_EQ(Df[0], slot->scaleY);
  EXPECT_EQ(Kf[2], 640.0f);
  EXPECT_EQ(Kf[5], 360.0f);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(Tf[k], cam.T[k], 1.0f);
}

TEST_F(LensModel3Test, LeftRightLineFit) {
  // Left/right fit: the same ground-X measure with two extra zero terms and
  // a fifth of the error reported.
  SceneCamera cam = cam_;
  cam.model = 3;
  std::copy(K_, K_ + 9, cam.K);
  cam.D[0] = 72;
  std::vector<float> world, targets;
  for (float x : {-500.0f, 0.0f, 600.0f})
    for (float y = 600; y <= 2400; y += 450) {
      world.insert(world.end(), {x, y, 0});
      targets.insert(targets.end(), {x, y});
    }
  const int n = static_cast<int>(targets.size() / 2);
  std::vector<float> image(2 * n);
  Matrix mw{3, n, world.data()}, mi{2, n, image.data()}, mK{3, 3, cam.K}, mD{1, 8, cam.D};
  Matrix mr0{3, 1, cam.r}, mT0{1, 3, cam.T};
  CameraModel_ProjectPoints(3, &mw, &mr0, &mT0, &mK, &mD, &mi, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
  float r[3] = {cam.r[0] + 0.01f, cam.r[1] - 0.01f, cam.r[2]}, T[3] = {cam.T[0], cam.T[1], cam.T[2] + 20};
  float r2[3] = {r[0], r[1], r[2]}, T2[3] = {T[0], T[1], T[2]};
  Matrix mt{2, n, targets.data()}, mr{3, 1, r}, mT{1, 3, T}, mr2{3, 1, r2}, mT2{1, 3, T2};
  testing::internal::CaptureStdout();
  const float lr = CameraModel_LineCalibLR(3, &mt, &mi, &mK, &mD, &mr, &mT, 0, 1280, 720, 0);
  const float fb = CameraModel_LineCalibFB(3, &mt, &mi, &mK, &mD, &mr2, &mT2, 0, 1280, 720, 0);
  testing::internal::GetCapturedStdout();
  EXPECT_LT(lr, 0.2f * 3.0f);
  EXPECT_LT(fb, 3.0f);
  EXPECT_NEAR(T[2], cam.T[2], 5.0f);
  EXPECT_NEAR(T2[2], cam.T[2], 5.0f);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(r[k], r2[k], 1e-3f);
}

}  // namespace

#include "surround/car_motion.h"

#include <gtest/gtest.h>

#include <cmath>

#include "testsupport/config_state.h"

namespace {

TEST(CarDriveMatrix, StraightDriveMovesAlongTheView) {
  ScopedConfigState state;
  float m[9];
  // 36 km/h for 100 ms is 1000 mm.
  CalcCarDriveMatrix(100, m, 8000.0f, 4000.0f, 2800.0f, 900.0f, 36.0f, 0.0f);
  const float sx = 2.0f / 4000.0f, sy = -2.0f / 8000.0f;
  EXPECT_FLOAT_EQ(m[0], sx);
  EXPECT_FLOAT_EQ(m[4], sy);
  EXPECT_FLOAT_EQ(m[5], -1000.0f * sy);
  EXPECT_EQ(m[1], 0.0f);
  EXPECT_EQ(m[2], 0.0f);
  EXPECT_EQ(m[8], 1.0f);
  // 0.005 degrees still counts as straight.
  float s[9];
  CalcCarDriveMatrix(100, s, 8000.0f, 4000.0f, 2800.0f, 900.0f, 36.0f, 0.005f);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(s[i], m[i]) << i;
}

TEST(CarDriveMatrix, TurningRotatesAboutThePivot) {
  ScopedConfigState state;
  gv().f20_23[1] = 100;
  const float L = 8000.0f, Wd = 4000.0f, wb = 2800.0f, axle = 900.0f;
  for (float steer : {-0.01f, -20.0f, 15.0f}) {
    float m[9];
    CalcCarDriveMatrix(100, m, L, Wd, wb, axle, 36.0f, steer);
    const float R = -wb / std::tan(steer / 180.0f * 3.1415927f);
    const float py = L * 0.5f - axle - 100.0f;
    float th = 1000.0f / std::sqrt(wb * wb + R * R);
    if (steer > 0.0f) th = -th;
    const float sx = 2.0f / Wd, sy = -2.0f / L;
    EXPECT_NEAR(m[0], sx * std::cos(th), 1e-9f) << steer;
    EXPECT_NEAR(m[1], -sx * std::sin(th), 1e-9f) << steer;
    EXPECT_NEAR(m[2], sx * (py * std::sin(th) - R * std::cos(th) + R), 1e-4f) << steer;
    EXPECT_NEAR(m[3], sy * std::sin(th), 1e-9f) << steer;
    EXPECT_NEAR(m[5], sy * (-R * std::sin(th) - py * std::cos(th) + py), 1e-4f) << steer;
    EXPECT_EQ(m[6], 0.0f);
    EXPECT_EQ(m[8], 1.0f);
    // -0.01 is a turn: the rotation is there.
    EXPECT_NE(m[1], 0.0f) << steer;
  }
}

TEST(CarSceneMatrix, WindowMappingAndFirstAutomaticCall) {
  ScopedConfigState state;
  CarMotion_ResetClocks();
  float m[9];
  // First automatic call: dt 0, a pure window mapping.
  CalcCarSceneMatrix(0, m, 8000.0f, 123.0f, 2800.0f, 900.0f, 50.0f, 0.0f, -2000.0f, -4000.0f, 2000.0f, 4000.0f);
  EXPECT_FLOAT_EQ(m[0], 1.0f / 4000.0f);
  EXPECT_FLOAT_EQ(m[4], 1.0f / 8000.0f);
  EXPECT_FLOAT_EQ(m[2], 0.5f);
  EXPECT_FLOAT_EQ(m[5], 0.5f);
  // An explicit 100 ms straight at 36 km/h shifts by fy * 1000.
  CalcCarSceneMatrix(100, m, 8000.0f, 0.0f, 2800.0f, 900.0f, 36.0f, 0.0f, 0.0f, 0.0f, 1000.0f, 2000.0f);
  EXPECT_FLOAT_EQ(m[2], 0.0f);
  EXPECT_FLOAT_EQ(m[5], 0.0f - 1000.0f / 2000.0f);

  float d[9];
  CalcCarDriveMatrix(0, d, 8000.0f, 4000.0f, 2800.0f, 900.0f, 100.0f, 0.0f);
  EXPECT_EQ(d[5], 0.0f);  // the drive matrix keeps its own clock: first call too
}

TEST(StitchHelpers, FarDistanceAndAtanWeight) {
  const struct {
    int32_t x, y, far;
  } cases[] = {{2299, 5799, 0}, {2300, 0, 1}, {0, 5800, 1}, {-5000, -9000, 0}};
  for (const auto& c : cases) {
    const int32_t p[2] = {c.x, c.y};
    EXPECT_EQ(IsFarDistance(p), c.far) << c.x << "," << c.y;
  }
  EXPECT_NEAR(BlendWeight_Atan(1.0f, 1.0f, 1.0f, 1.0f), 0.5f, 1e-6f);
  EXPECT_NEAR(BlendWeight_Atan(0.0f, 1.0f, 1.0f, 1.0f), 1.0f, 1e-6f);
  EXPECT_NEAR(BlendWeight_Atan(2.0f, 0.0f, 1.0f, 1.0f), 0.0f, 1e-6f);
}

}  // namespace

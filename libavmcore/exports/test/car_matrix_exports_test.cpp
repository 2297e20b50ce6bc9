// The car motion matrices through the exports: the geometry they describe
// (a straight shift, a rotation about the turning centre, the ground window
// mapped to 0..1) and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "frame/log.h"
#include "globalimage_api.h"
#include "surround/car_motion.h"
#include "testsupport/config_state.h"

namespace {

std::vector<std::string> g_lines;

class CarMatrixExports : public ::testing::Test {
 protected:
  void SetUp() override {
    g_lines.clear();
    previous_ = AvmLog_SetSink([](const char* line) { g_lines.emplace_back(line); });
    CarMotion_ResetClocks();
  }
  void TearDown() override {
    AvmLog_SetSink(previous_);
    CarMotion_ResetClocks();
  }
  ScopedConfigState state_;
  AvmLogSink previous_ = nullptr;
};

// (x, y) through a 3 x 3 row-major matrix (its last row is 0, 0, 1).
void Apply(const float m[9], double x, double y, double* ox, double* oy) {
  *ox = m[0] * x + m[1] * y + m[2];
  *oy = m[3] * x + m[4] * y + m[5];
}

TEST_F(CarMatrixExports, StraightDriveShiftsTheGroundByTheDistance) {
  float m[9];
  // 36 km/h for 100 ms is 1000 mm; y of the view maps to 1..-1 over 8000 mm.
  ASSERT_EQ(KRV_GlobalImage_CalcCarDriveMatrix(100, m, 8000.0f, 4000.0f, 2800.0f, 900.0f, 36.0f, 0.0f), 0);
  double x, y;
  Apply(m, 1000.0, -2000.0, &x, &y);
  EXPECT_NEAR(x, 0.5, 1e-6);
  EXPECT_NEAR(y, -2.0 / 8000.0 * (-2000.0 - 1000.0), 1e-6);
  EXPECT_EQ(m[6], 0.0f);
  EXPECT_EQ(m[7], 0.0f);
  EXPECT_EQ(m[8], 1.0f);
}

TEST_F(CarMatrixExports, TurnRotatesAboutTheTurningCentreByArcOverRadius) {
  gv().f20_23[1] = 150;  // field f21 moves the pivot row
  const float L = 8000.0f, Wd = 4000.0f, wb = 2800.0f, axle = 900.0f;
  const struct {
    float steer, speed;
    int32_t dt;
  } cases[] = {{-0.01f, 36.0f, 100}, {-20.0f, 36.0f, 100}, {15.0f, 20.0f, 250}, {30.0f, 5.0f, 1000}};
  for (const auto& c : cases) {
    float m[9];
    ASSERT_EQ(KRV_GlobalImage_CalcCarDriveMatrix(c.dt, m, L, Wd, wb, axle, c.speed, c.steer), 0) << c.steer;
    // Undo the view scaling: what is left is a rigid motion of the ground.
    const double sx = 2.0 / Wd, sy = -2.0 / L;
    const double a = m[0] / sx, b = m[1] / sx, cc = m[3] / sy, d = m[4] / sy;
    EXPECT_NEAR(a * a + cc * cc, 1.0, 1e-6) << c.steer;
    EXPECT_NEAR(a, d, 1e-6) << c.steer;
    EXPECT_NEAR(b, -cc, 1e-6) << c.steer;
    // The turning centre (R, pivot row) stays where it is.
    const double R = -wb / std::tan(c.steer / 180.0 * M_PI);
    const double py = L * 0.5 - axle - 150.0;
    double x, y;
    Apply(m, R, py, &x, &y);
    EXPECT_NEAR(x / sx, R, std::fabs(R) * 1e-5 + 1e-2) << c.steer;
    EXPECT_NEAR(y / sy, py, std::fabs(R) * 1e-5 + 1e-2) << c.steer;
    // The angle is the distance over the distance of the front axle from
    // the centre, turning against the steering's sign.
    const double dist = c.speed * c.dt / 3.6;
    const double theta = std::atan2(cc, a);
    EXPECT_NEAR(std::fabs(theta), dist / std::sqrt(wb * wb + R * R), 1e-6) << c.steer;
    EXPECT_EQ(theta < 0, c.steer > 0) << c.steer;
  }
}

TEST_F(CarMatrixExports, SceneMapsTheWindowOntoTheUnitSquare) {
  float m[9];
  // First automatic call: no time has passed, the pure window mapping.
  ASSERT_EQ(KRV_GlobalImage_CalcCarSceneMatrix(0, m, 8000.0f, 0.0f, 2800.0f, 900.0f, 80.0f, 0.0f, -3000.0f,
                                               -5000.0f, 1000.0f, 3000.0f),
            0);
  const struct {
    double x, y, u, v;
  } corners[] = {{-3000, -5000, 0, 0}, {1000, 3000, 1, 1}, {-1000, -1000, 0.5, 0.5}, {1000, -5000, 1, 0}};
  for (const auto& c : corners) {
    double u, v;
    Apply(m, c.x, c.y, &u, &v);
    EXPECT_NEAR(u, c.u, 1e-6) << c.x << "," << c.y;
    EXPECT_NEAR(v, c.v, 1e-6) << c.x << "," << c.y;
  }
  // 36 km/h for 100 ms shifts the window's content by 1000 mm along y.
  ASSERT_EQ(KRV_GlobalImage_CalcCarSceneMatrix(100, m, 8000.0f, 0.0f, 2800.0f, 900.0f, 36.0f, 0.0f, -3000.0f,
                                               -5000.0f, 1000.0f, 3000.0f),
            0);
  double u, v;
  Apply(m, -3000.0, -4000.0, &u, &v);
  EXPECT_NEAR(u, 0.0, 1e-6);
  EXPECT_NEAR(v, 0.0, 1e-6);
}

TEST_F(CarMatrixExports, BadArgumentsAreRefusedAndKeepTheClock) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* what;
    bool scene;
    bool nullOut;
    float viewLength, viewWidth, wheelBase, speed, steer, xMin, yMin, xMax, yMax;
  };
  const Case cases[] = {
      {"null out", false, true, 8000, 4000, 2800, 36, 0, 0, 0, 1, 1},
      {"zero view width", false, false, 8000, 0, 2800, 36, 0, 0, 0, 1, 1},
      {"zero view length", false, false, 0, 4000, 2800, 36, 0, 0, 0, 1, 1},
      {"speed not a number", false, false, 8000, 4000, 2800, nan, 0, 0, 0, 1, 1},
      {"turn without wheel base", false, false, 8000, 4000, 0, 36, 10, 0, 0, 1, 1},
      {"null scene out", true, true, 8000, 0, 2800, 36, 0, -1000, -1000, 1000, 1000},
      {"empty window x", true, false, 8000, 0, 2800, 36, 0, 500, -1000, 500, 1000},
      {"empty window y", true, false, 8000, 0, 2800, 36, 0, -1000, 7, 1000, 7},
      {"infinite steer", true, false, 8000, 0, 2800, 36, inf, -1000, -1000, 1000, 1000},
      {"scene turn without wheel base", true, false, 8000, 0, 0, 36, -5, -1000, -1000, 1000, 1000},
  };
  for (const Case& c : cases) {
    g_lines.clear();
    float m[9];
    for (float& v : m) v = 7.0f;
    float* out = c.nullOut ? nullptr : m;
    const int r = c.scene ? KRV_GlobalImage_CalcCarSceneMatrix(0, out, c.viewLength, c.viewWidth, c.wheelBase, 900,
                                                               c.speed, c.steer, c.xMin, c.yMin, c.xMax, c.yMax)
                          : KRV_GlobalImage_CalcCarDriveMatrix(0, out, c.viewLength, c.viewWidth, c.wheelBase, 900,
                                                               c.speed, c.steer);
    EXPECT_EQ(r, -1) << c.what;
    for (float v : m) EXPECT_EQ(v, 7.0f) << c.what;
    ASSERT_EQ(g_lines.size(), 1u) << c.what;
    EXPECT_NE(g_lines[0].find(c.scene ? "CalcCarSceneMatrix" : "CalcCarDriveMatrix"), std::string::npos) << c.what;
  }
  // A straight drive needs no wheel base.
  float m[9];
  EXPECT_EQ(KRV_GlobalImage_CalcCarDriveMatrix(100, m, 8000, 4000, 0, 900, 36, 0.005f), 0);
  // The refused automatic calls took no time: the next ones are still first
  // calls, with no movement at any speed.
  ASSERT_EQ(KRV_GlobalImage_CalcCarDriveMatrix(0, m, 8000, 4000, 2800, 900, 200, 0), 0);
  EXPECT_EQ(m[5], 0.0f);
  ASSERT_EQ(KRV_GlobalImage_CalcCarSceneMatrix(0, m, 8000, 0, 2800, 900, 200, 0, -1000, -1000, 1000, 1000), 0);
  EXPECT_EQ(m[5], 0.5f);
}

}  // namespace

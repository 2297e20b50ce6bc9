#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "testsupport/view_test_fixture.h"
#include "camera/trace_lines.h"
#include "camera/view_object.h"
#include "camera/view_point_mapping.h"
#include "frame/global_variables.h"

namespace {

using namespace view_fixture;

// Trace lines through a real view object of the test rig.
class TraceView_ : public RigViewTest {
 protected:
  TraceView_() : RigViewTest("trace_lut_config.krv") {}
  TraceModel model;
  void Configure() override {
    GlobalVariables_InitRuntimeDefaults();
    gv().f6 = 0;
    gv().config.zoneDistance[0] = 500;
    gv().config.zoneDistance[1] = 1400;
    gv().config.zoneDistance[2] = 3000;
  }
  void SetUp() override {
    RigViewTest::SetUp();
    if (HasFatalFailure()) return;
    memset(&model, 0, sizeof model);
    ASSERT_EQ(Undist4Camera_CreateModel(&model, view), 1);
  }
  void TearDown() override {
    Undist4Camera_ReleaseModel(&model);
    RigViewTest::TearDown();
  }
};

TEST_F(TraceView_, ModelTakesTheViewObjectWords) {
  EXPECT_EQ(model.owner, view);
  EXPECT_EQ(model.frameWidth, 2560);
  EXPECT_EQ(model.carBoxLength, 4600);
  EXPECT_EQ(model.limit1, 900);
  EXPECT_EQ(model.limit2, 2700);
}

TEST_F(TraceView_, StaticLinesInsideThePerspectiveView) {
  for (int camera : {1, 2}) {
    UndistView_SetParam(view, camera, 600, 400, 3, 0, 65.0f, 1.0f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
    std::vector<float> a(256), b(256), c(256), d(256);
    std::vector<uint8_t> k(256);
    TraceSegmentList list{256, 0, a.data(), b.data(), c.data(), d.data(), k.data()};
    const int n = CalcUndistStaticTraceLine(&model, camera, 0, &list);
    EXPECT_GT(n, 20) << camera;
    for (int i = 0; i < n; ++i) {
      EXPECT_GE(a[i], 0.0f);
      EXPECT_LE(a[i], 599.0f);
      EXPECT_GE(b[i], 0.0f);
      EXPECT_LE(b[i], 399.0f);
    }
    // The view is a true perspective (divisor 1): the chords of one side
    // line lie on one straight image line.
    const float dx = c[8] - a[0], dy = d[8] - b[0];
    const float len = std::hypot(dx, dy);
    ASSERT_GT(len, 10.0f);
    for (int i = 0; i < 9; ++i) {
      const float dist = std::fabs((a[i] - a[0]) * dy - (b[i] - b[0]) * dx) / len;
      EXPECT_LT(dist, 0.5f) << i;
    }
  }
  // The zoom view of the rear camera (whole picture, no crop).
  {
    UndistView_SetZoominParam(view, 2, 640, 360, 0, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f);
    std::vector<float> a(256), b(256), c(256), d(256);
    std::vector<uint8_t> k(256);
    TraceSegmentList list{256, 0, a.data(), b.data(), c.data(), d.data(), k.data()};
    const int n = CalcUndistStaticTraceLine(&model, 2, 1, &list);
    EXPECT_GT(n, 20);
    for (int i = 0; i < n; ++i) {
      EXPECT_GE(a[i], 0.0f);
      EXPECT_LE(a[i], 639.0f);
      EXPECT_GE(d[i], 0.0f);
      EXPECT_LE(d[i], 359.0f);
    }
    EXPECT_GT(CalcUndistDynamicTracePoint(&model, 2, 1, 15.0f), 20);
  }
  // A view never set up gives nothing.
  std::vector<float> a(256), b(256), c(256), d(256);
  std::vector<uint8_t> k(256);
  TraceSegmentList list{256, 0, a.data(), b.data(), c.data(), d.data(), k.data()};
  EXPECT_EQ(CalcUndistStaticTraceLine(&model, 1, 1, &list), 0);
}

TEST_F(TraceView_, DynamicAndDirectLinesInTheRearView) {
  UndistView_SetParam(view, 2, 600, 400, 3, 0, 65.0f, 1.0f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  for (float a : {0.0f, 0.3f, 0.4f, 12.0f, -12.0f}) {
    const int n = CalcUndistDynamicTracePoint(&model, 2, 0, a);
    EXPECT_GT(n, 50) << a;
    EXPECT_EQ(n, model.undistB.count);
    for (int i = 0; i < n; ++i) {
      EXPECT_GE(std::floor(model.undistB.x[i] + 0.5f), 0.0f);
      EXPECT_LT(std::floor(model.undistB.x[i] + 0.5f), 599.0f);
      EXPECT_GE(std::floor(model.undistB.y[i] + 0.5f), 0.0f);
      EXPECT_LT(std::floor(model.undistB.y[i] + 0.5f), 399.0f);
    }
  }
  // The direct point form: straight points land where the view maps them.
  const float xin[2] = {-900.0f, 900.0f}, yin[2] = {3500.0f, 3500.0f};
  float xo[2], yo[2];
  uint8_t valid[2];
  DirectCalcUndistPoints(&model, 2, 0, 2, xin, yin, xo, yo, valid, 0.4f);
  for (int i = 0; i < 2; ++i) {
    float px, py;
    ASSERT_EQ(UndistView_Physical2DispPoint(view, 2, 0, xin[i], yin[i], 0, &px, &py), 1);
    EXPECT_FLOAT_EQ(xo[i], px);
    EXPECT_FLOAT_EQ(yo[i], py);
    EXPECT_EQ(valid[i], 1);
  }
  float lx[12], ly[12];
  EXPECT_EQ(DirectCalcUndistTraceLP(&model, 2, 0, 12, lx, ly, nullptr, 8.0f, 900.0f, 2500.0f, 5000.0f), 1);
}

}  // namespace

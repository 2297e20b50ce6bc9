#include <gtest/gtest.h>

#include <vector>

#include "camera/test/trace_test_fixture.h"
#include "frame/numeric_constants.h"

namespace {

class TraceDirect : public TraceFixture {};

TEST_F(TraceDirect, StraightUpToTheBoundBentBeyond) {
  const TraceView v = lin_.View();
  const float xin[3] = {-900.0f, 0.0f, 900.0f}, yin[3] = {2500.0f, 3000.0f, 4000.0f};
  for (float a : {0.0f, 0.4f, -0.4f}) {
    float xo[3], yo[3];
    uint8_t valid[3];
    Direct_Points(&model_, 2, &v, {3, xin, yin, xo, yo, valid}, a);
    for (int i = 0; i < 3; ++i) {
      float px, py;
      LinearView::Compute(&lin_, xin[i], yin[i], &px, &py);
      EXPECT_FLOAT_EQ(xo[i], px) << a;
      EXPECT_FLOAT_EQ(yo[i], py) << a;
      EXPECT_EQ(valid[i], 1);
    }
  }
  // 0.41 bends: ground points move onto circles about the turning centre.
  for (float a : {0.41f, -0.41f, 15.0f, -15.0f}) {
    float xo[3], yo[3];
    uint8_t valid[3];
    Direct_Points(&model_, 2, nullptr, {3, xin, yin, xo, yo, valid}, a);
    const float cx = -3000.0f / std::tan(a * kPi / 180.0f), cy = static_cast<float>(model_.rear.axleY);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NE(xo[i], xin[i]) << a;
      EXPECT_FLOAT_EQ(yo[i], yin[i]);
      // On the circle of radius sqrt(index10^2 + dx^2).
      const float dx = cx - xin[i];
      const float r2 = static_cast<float>(model_.rear.turnDist10) * model_.rear.turnDist10 + dx * dx;
      const float got = (xo[i] - cx) * (xo[i] - cx) + (yo[i] - cy) * (yo[i] - cy);
      EXPECT_NEAR(got / r2, 1.0f, 1e-4f);
      // Bent toward the steering side: a > 0 moves points to negative x.
      if (a > 0) EXPECT_LT(xo[i], xin[i]);
      else EXPECT_GT(xo[i], xin[i]);
      EXPECT_EQ(valid[i], 1);
    }
  }
}

TEST_F(TraceDirect, PointPastTheCircleLandsOnItsEnd) {
  // Bit 4 with the front end: r = |dx|. A point far along the car lies past
  // the circle's end: it goes to (cx, cy -+ r) and is invalid.
  const float a = 40.0f;
  const float cx = -3000.0f / std::tan(a * kPi / 180.0f), cy = static_cast<float>(model_.front.axleY);
  const float xin[2] = {0.0f, 0.0f}, yin[2] = {-20000.0f, 20000.0f};
  float xo[2], yo[2];
  uint8_t valid[2] = {9, 9};
  Direct_Points(&model_, 1 | 0x10, nullptr, {2, xin, yin, xo, yo, valid}, a);
  const float r = std::fabs(cx);
  EXPECT_FLOAT_EQ(xo[0], cx);
  EXPECT_FLOAT_EQ(yo[0], cy - r);
  EXPECT_FLOAT_EQ(xo[1], cx);
  EXPECT_FLOAT_EQ(yo[1], cy + r);
  EXPECT_EQ(valid[0], 0);
  EXPECT_EQ(valid[1], 0);
}

TEST_F(TraceDirect, LineFormsSampleExactlyN) {
  const TraceView v = lin_.View();
  std::vector<float> x(20, -7.0f), y(20, -7.0f), t(20, -7.0f);
  // Equal ends fail; n < 1 writes nothing.
  EXPECT_EQ(Direct_TraceLP(&model_, 2, &v, {16, x.data(), y.data(), t.data()}, 0.0f, {900.0f, 3000.0f, 3000.0f}), 0);
  EXPECT_EQ(Direct_TraceLP(&model_, 2, &v, {0, x.data(), y.data(), t.data()}, 0.0f, {900.0f, 2500.0f, 5000.0f}), 0);
  EXPECT_EQ(x[0], -7.0f);

  // Ground form, straight: from the nearer end to the farther one, n points.
  ASSERT_EQ(Direct_TraceLP(&model_, 2, nullptr, {16, x.data(), y.data(), t.data()}, 0.0f, {900.0f, 5000.0f, 2500.0f}),
            1);
  EXPECT_FLOAT_EQ(y[0], 2500.0f);
  EXPECT_NEAR(y[15], 5000.0f, 1e-2);
  for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(x[i], 900.0f);
  for (int i = 1; i < 16; ++i) EXPECT_GT(y[i], y[i - 1]);
  EXPECT_EQ(x[16], -7.0f);

  // View form, straight and turning: monotone along the line, inside the view.
  for (float a : {0.0f, 20.0f}) {
    ASSERT_EQ(Direct_TraceLP(&model_, 2, &v, {16, x.data(), y.data(), t.data()}, a, {900.0f, 2500.0f, 5000.0f}), 1);
    for (int i = 1; i < 16; ++i) EXPECT_LE(y[i], y[i - 1]) << a;  // farther is higher up
    for (int i = 0; i < 16; ++i) {
      EXPECT_GE(x[i], 0.0f);
      EXPECT_LT(x[i], 599.0f);
    }
  }
}

TEST_F(TraceDirect, BirdsEyeMapping) {
  float x = 900.0f, y = 0.0f;
  Physical2DispMergerPoint(&model_, &x);
  Physical2DispMergerPointInt(&model_, &y);
  EXPECT_FLOAT_EQ(x, 900.0f / model_.mmPerPixel + model_.f3 / 2.0f);
  // The car centre row lies halfway between the car image's top and bottom.
  EXPECT_NEAR(y, (model_.f6 + model_.carBottomPx) / 2.0f, 0.5f);

  const float xin[1] = {900.0f}, yin[1] = {0.0f};
  float xo[1], yo[1];
  DirectCalcMergerPoints(&model_, 2, 0, 1, xin, yin, xo, yo, nullptr, 0.0f);
  EXPECT_FLOAT_EQ(xo[0], x);
  EXPECT_FLOAT_EQ(yo[0], y);

  // Bit 0 hands the line out from the far end.
  float a1[8], b1[8], a2[8], b2[8];
  ASSERT_EQ(DirectCalcMergerTraceLP(&model_, 2, 0, 8, a1, b1, nullptr, 0.0f, 900.0f, 2500.0f, 4000.0f), 1);
  ASSERT_EQ(DirectCalcMergerTraceLP(&model_, 2, 1, 8, a2, b2, nullptr, 0.0f, 900.0f, 2500.0f, 4000.0f), 1);
  for (int i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(b1[i], b2[7 - i]);

  // Ground line form through its export-facing operation.
  float gx[5], gy[5];
  EXPECT_EQ(DirectCalcPhyTraceLP(&model_, 1, 5, gx, gy, nullptr, 0.0f, -900.0f, -2300.0f, -4300.0f), 1);
  EXPECT_FLOAT_EQ(gy[0], -2300.0f);
}

}  // namespace

namespace {

TEST(TraceCircle, PointsAlongTheCircle) {
  const float cx = -5000.0f, cy = 1000.0f, r = 6000.0f;
  float x, y, a;
  // A quarter of the circumference from the centre row reaches the top.
  ASSERT_TRUE(Circle_PointAtArcLength(cx, cy, r, 2, cy, r * 3.14159265f / 2.0f, &x, &y, &a));
  EXPECT_NEAR(x, cx, 1.0f);
  EXPECT_NEAR(y, cy + r, 1.0f);
  EXPECT_NEAR(a, 3.14159265f / 2.0f, 1e-5f);
  // Both forms agree and stay on the circle; the side picks the half.
  for (int side : {1, 2}) {
    float x2, y2;
    ASSERT_TRUE(Circle_PointAfterArc(cx, cy, r, side, 3000.0f, 1500.0f, &x2, &y2));
    ASSERT_TRUE(Circle_PointAtArcLength(cx, cy, r, side, 3000.0f, 1500.0f, &x, &y, nullptr));
    EXPECT_FLOAT_EQ(x, x2);
    EXPECT_NEAR(std::hypot(x - cx, y - cy), r, 0.5f);
    EXPECT_GT(y, 3000.0f);
    EXPECT_TRUE(side == 1 ? x < cx : x > cx);
    float xs;
    ASSERT_TRUE(Circle_XAtY(cx, cy, r, side, y, &xs));
    EXPECT_NEAR(xs, x, 0.5f);
  }
  EXPECT_FALSE(Circle_PointAfterArc(cx, cy, r, 1, cy + r + 1.0f, 10.0f, &x, &y));
  EXPECT_FALSE(Circle_XAtY(cx, cy, r, 1, cy - r - 1.0f, &x));
  float yy = 900.0f;
  Trace_PushOut(cy, 50.0f, &yy);
  EXPECT_FLOAT_EQ(yy, 850.0f);
  yy = 1100.0f;
  Trace_PushOut(cy, 50.0f, &yy);
  EXPECT_FLOAT_EQ(yy, 1150.0f);
}

}  // namespace

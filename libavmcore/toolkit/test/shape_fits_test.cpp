#include "toolkit/shape_fits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Points {p0 = row, p1 = col} of an ellipse about (x0 = col, y0 = row) with
// semi-axes a, b turned by phi, rounded to whole pixels.
std::vector<PointI32> SampleEllipse(double x0, double y0, double a, double b, double phi, int n) {
  std::vector<PointI32> pts;
  for (int i = 0; i < n; ++i) {
    const double t = 2 * M_PI * i / n;
    const double x = a * std::cos(t), y = b * std::sin(t);
    const double px = x0 + x * std::cos(phi) - y * std::sin(phi);
    const double py = y0 + x * std::sin(phi) + y * std::cos(phi);
    pts.push_back({static_cast<int32_t>(std::lround(py)), static_cast<int32_t>(std::lround(px))});
  }
  return pts;
}

TEST(ConicFit, AxisAlignedEllipse) {
  std::vector<PointI32> pts = SampleEllipse(120, 80, 40, 25, 0, 90);
  float e[5];
  ASSERT_EQ(Conic_FitEllipse(pts.data(), static_cast<int32_t>(pts.size()), e), 1);
  EXPECT_NEAR(e[0], 120, 0.2);
  EXPECT_NEAR(e[1], 80, 0.2);
  EXPECT_NEAR(e[2], 40, 0.3);  // the axis along x comes first when aligned
  EXPECT_NEAR(e[3], 25, 0.3);
  EXPECT_TRUE(e[4] <= 1.0f || e[4] >= 89.0f) << e[4];
  float coef[5];
  ASSERT_EQ(Conic_FitLeastSquares(pts.data(), static_cast<int32_t>(pts.size()), coef), 1);
  EXPECT_EQ(Conic_IsInside(coef, 120, 80), 1);
  EXPECT_EQ(Conic_IsInside(coef, 158, 80), 1);
  EXPECT_EQ(Conic_IsInside(coef, 163, 80), 0);
  EXPECT_EQ(Conic_IsInside(coef, 400, 300), 0);
}

TEST(ConicFit, TurnedEllipse) {
  const double phi = 30 * M_PI / 180;
  std::vector<PointI32> pts = SampleEllipse(60, 90, 35, 20, phi, 120);
  float e[5];
  ASSERT_EQ(Conic_FitEllipse(pts.data(), static_cast<int32_t>(pts.size()), e), 1);
  EXPECT_NEAR(e[0], 60, 0.2);
  EXPECT_NEAR(e[1], 90, 0.2);
  EXPECT_NEAR(std::max(e[2], e[3]), 35, 0.3);
  EXPECT_NEAR(std::min(e[2], e[3]), 20, 0.3);
  EXPECT_GT(e[4], 1.0f);
  EXPECT_LT(e[4], 89.0f);
}

TEST(ConicFit, CircleHasAnAngleOfZero) {
  std::vector<PointI32> pts = SampleEllipse(50, 50, 30, 30, 0, 64);
  float e[5];
  ASSERT_EQ(Conic_FitEllipse(pts.data(), static_cast<int32_t>(pts.size()), e), 1);
  EXPECT_FALSE(std::isnan(e[4]));
  EXPECT_NEAR(e[2], 30, 0.3);
  EXPECT_NEAR(e[3], 30, 0.3);
}

TEST(ConicFit, CollinearPointsFail) {
  std::vector<PointI32> pts;
  for (int i = 0; i < 10; ++i) pts.push_back({i, 2 * i});
  float e[5] = {-1, -1, -1, -1, -1};
  EXPECT_EQ(Conic_FitEllipse(pts.data(), 10, e), 0);
  EXPECT_EQ(e[0], -1.0f);
}

TEST(RotatedBounds, QuarterTurns) {
  int32_t x, y, w, h;
  Image_RotatedBounds(40, 30, &x, &y, &w, &h, 0.0f);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(w, 30);
  EXPECT_EQ(h, 40);
  Image_RotatedBounds(40, 30, &x, &y, &w, &h, static_cast<float>(M_PI / 2));
  EXPECT_EQ(x, -39);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(w, 40);
  EXPECT_EQ(h, 30);
  Image_RotatedBounds(40, 30, &x, &y, &w, &h, static_cast<float>(M_PI));
  EXPECT_EQ(x, -29);
  EXPECT_EQ(y, -39);
  EXPECT_EQ(w, 30);
  EXPECT_EQ(h, 40);
}

TEST(GradientPeakNear, FindsTheStepAndStaysInsideAtTheEdge) {
  const int w = 50, h = 40;
  std::vector<float> px(w * h);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) px[r * w + c] = c >= 30 ? 1.0f : 0.0f;
  Matrix m{w, h, px.data()};
  PointI32 out;
  Image_GradientPeakNear(&m, 6, {20, 26}, &out);
  EXPECT_TRUE(out.p1 == 29 || out.p1 == 30) << out.p1;
  EXPECT_EQ(out.p0, 14);  // equal rows: the first one wins
  Image_GradientPeakNear(&m, 6, {0, 47}, &out);  // block reaches past two edges
  EXPECT_TRUE(out.p1 == 29 || out.p1 == 30 || out.p1 >= 41) << out.p1;
  Image_GradientPeakNear(&m, 3, {0, 5}, &out);  // flat: default is the point
  EXPECT_EQ(out.p0, 0);
  EXPECT_EQ(out.p1, 5);
}

TEST(FindEllipseTarget, BrightEllipseFillingTheImage) {
  const int w = 200, h = 160;
  std::vector<float> px(w * h, 0.1f);
  const double x0 = 100.5, y0 = 80.5, a = 90, b = 70;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const double dx = (c - x0) / a, dy = (r - y0) / b;
      if (dx * dx + dy * dy <= 1) px[r * w + c] = 0.9f;
    }
  Matrix m{w, h, px.data()};
  float e[5];
  ASSERT_EQ(Image_FindEllipseTarget(&m, e), 1);
  EXPECT_NEAR(e[0], x0, 1.5);
  EXPECT_NEAR(e[1], y0, 1.5);
  EXPECT_NEAR(std::max(e[2], e[3]), a, 3.0);
  EXPECT_NEAR(std::min(e[2], e[3]), b, 3.0);
  // A small disc gives no chord longer than half the image.
  std::vector<float> small(w * h, 0.1f);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      if ((c - 100) * (c - 100) + (r - 80) * (r - 80) <= 400) small[r * w + c] = 0.9f;
  Matrix f{w, h, small.data()};
  EXPECT_EQ(Image_FindEllipseTarget(&f, e), 0);
}

}  // namespace

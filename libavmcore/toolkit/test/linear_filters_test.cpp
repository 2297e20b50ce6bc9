#include "toolkit/linear_filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "toolkit/border_filters.h"
#include "toolkit/smoothing.h"
#include "toolkit/test/pixel_test_util.h"

namespace {

using pixel_test::FloatImage;
using pixel_test::RandomImage;

TEST(LinearFilters, SeparableFiltersMatchTheDirectSum) {
  const int w = 13, h = 8;
  FloatImage src = RandomImage(w + 4, h + 4, 31);
  const float hk5[5] = {0.1f, -0.4f, 0.7f, 0.2f, -0.3f}, vk5[5] = {0.3f, 0.5f, -1.0f, 0.25f, 0.05f};
  FloatImage out5(w, h);
  Image_SepFilter(&src.m, &out5.m, 2, hk5, vk5);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double s = 0;
      for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 5; ++i) s += double(hk5[i]) * vk5[j] * src.at(x + i, y + j);
      EXPECT_NEAR(out5.at(x, y), s, 1e-5) << x << "," << y;
    }
  FloatImage src3 = RandomImage(w + 2, h + 2, 32), out3(w, h);
  const float hk[3] = {-1.0f, 0.0f, 1.0f}, vk[3] = {0.25f, 0.5f, 0.25f};
  std::vector<float> row(w + 2);
  Image_SepFilter3x3(&src3.m, &out3.m, hk, vk, row.data());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double s = 0;
      for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) s += double(hk[i]) * vk[j] * src3.at(x + i, y + j);
      EXPECT_NEAR(out3.at(x, y), s, 1e-6) << x << "," << y;
    }
}

TEST(LinearFilters, CorrelateAbsSameMatchesOpenCv) {
  for (int k : {3, 5}) {
    FloatImage src = RandomImage(17, 11, 40 + k), kern = RandomImage(k, k, 50 + k, -1.0f, 1.0f), out(17, 11);
    Image_CorrelateAbsSame(&src.m, &out.m, &kern.m);
    cv::Mat want;
    cv::filter2D(cv::Mat(11, 17, CV_32F, src.v.data()), want, CV_32F, cv::Mat(k, k, CV_32F, kern.v.data()),
                 cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
    for (int y = 0; y < 11; ++y)
      for (int x = 0; x < 17; ++x) EXPECT_NEAR(out.at(x, y), std::abs(want.at<float>(y, x)), 1e-5) << k;
  }
}

// The Gaussian's 5 x 5 kernels go two rows at a time through vector lanes;
// every output must still be the scalar chain of fused multiply-adds in
// kernel order over the replicated border, to the bit. Widths cover whole
// vector blocks and a scalar tail; odd heights leave a last single row. A
// kernel that is not radial takes the general path, checked the same way.
// Both lane widths are checked on every machine (the 16-lane form only
// where 512-bit registers exist): the compiler must fuse each tap's own
// product, never the running sum's first one. Widths either side of one
// block plus two (8 and 16 lanes: 16, 64 columns) switch between whole
// padded rows and in-place reads with padded row ends.
TEST(LinearFilters, CorrelateAbsReplicateIsTheScalarChainToTheBit) {
#if !defined(__FMA__) && !defined(__ARM_FEATURE_FMA)
  // Without fused multiply-add instructions (the 128-bit x86-64-v2 build)
  // the eight-lane forms round each product while the 512-bit forms fuse:
  // there is no single chain to compare with.
  GTEST_SKIP() << "the build has no fused multiply-add instructions";
#endif
  std::vector<float> gauss(25);
  Matrix gk{5, 5, gauss.data()};
  Image_GaussianKernel2D(&gk, 1.7f);
  FloatImage skewed = RandomImage(5, 5, 61, -1.0f, 1.0f);
  for (int lanes : {8, 16}) {
    LinearFilters_LimitLanes(lanes);
    for (const Matrix* kernel : {&gk, &skewed.m})
      for (int w : {1, 3, 8, 17, 18, 37, 64, 66, 70, 131, 133})
        for (int h : {1, 3, 4, 6, 9}) {
          FloatImage src = RandomImage(w, h, 60 + w + h, -2.0f, 2.0f), out(w, h, -7.0f);
          Image_CorrelateAbsReplicate(&src.m, &out.m, kernel);
          for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
              float s = 0.0f;
              for (int j = 0; j < 5; ++j)
                for (int i = 0; i < 5; ++i) {
                  const int sx = std::min(std::max(x + i - 2, 0), w - 1), sy = std::min(std::max(y + j - 2, 0), h - 1);
                  s = std::fma(src.at(sx, sy), kernel->data[j * 5 + i], s);
                }
              ASSERT_EQ(out.at(x, y), std::fabs(s)) << lanes << " lanes " << w << "x" << h << " at " << x << "," << y;
            }
        }
  }
  LinearFilters_LimitLanes(16);
}

TEST(LinearFilters, SobelOnARamp) {
  FloatImage ramp(6, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) ramp.at(x, y) = 0.1f * x + 0.05f * y;
  FloatImage gx(6, 5, -9.0f), gy(6, 5, -9.0f);
  Image_Sobel(&ramp.m, &gx.m, &gy.m, 0.5f);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool border = x == 0 || y == 0 || x == 5 || y == 4;
      EXPECT_NEAR(gx.at(x, y), border ? -9.0f : 0.5f * 0.8f, 1e-5) << x << "," << y;
      EXPECT_NEAR(gy.at(x, y), border ? -9.0f : 0.5f * 0.4f, 1e-5) << x << "," << y;
    }
  FloatImage thin(2, 5), tx(2, 5, 3.0f);
  Image_Sobel(&thin.m, &tx.m, &tx.m, 1.0f);
  for (float v : tx.v) EXPECT_EQ(v, 3.0f);
}

TEST(LinearFilters, SobelMagnitude) {
  FloatImage flat(7, 5, 0.4f), out(7, 5, 9.0f);
  Image_SobelMagnitude(&flat.m, &out.m);
  for (float v : out.v) EXPECT_EQ(v, 0.0f);  // no gradient: zeros, not NaN
  FloatImage ramp(7, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) ramp.at(x, y) = 0.1f * x;
  Image_SobelMagnitude(&ramp.m, &out.m);
  for (int y = 0; y < 5; ++y) {
    EXPECT_FLOAT_EQ(out.at(3, y), 1.0f);
    EXPECT_FLOAT_EQ(out.at(0, y), 0.5f);  // the replicated border halves the step
  }
}

}  // namespace

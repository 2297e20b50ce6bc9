#include "toolkit/smoothing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

TEST(GaussianKernel, SmallKernelsWithoutSigmaAreBinomialRows) {
  float k[9];
  Image_GaussianKernel(1, k, 0.0f);
  EXPECT_EQ(k[0], 0.25f);
  EXPECT_EQ(k[1], 0.5f);
  EXPECT_EQ(k[2], 0.25f);
  Image_GaussianKernel(3, k, -1.0f);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(k[i], GaussTable[3][i]);
}

TEST(GaussianKernel, DefaultSigmaForNineTaps) {
  float k[9];
  Image_GaussianKernel(4, k, 0.0f);  // sigma' = (4 - 1) * 0.3 + 0.8 = 1.7
  double sum = 0;
  for (int i = 0; i < 9; ++i) sum += k[i];
  EXPECT_NEAR(sum, 1.0, 1e-6);
  double ref[9], rs = 0;
  for (int i = 0; i < 9; ++i) rs += ref[i] = std::exp(-0.5 * (i - 4) * (i - 4) / (1.7 * 1.7));
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(k[i], ref[i] / rs, 1e-6) << i;
}

TEST(GaussianKernel2D, VarianceAndIntegerCentre) {
  float d[15];
  Matrix m{5, 3, d};  // 5 wide, 3 high: centre (1, 2)
  Image_GaussianKernel2D(&m, 2.0f);
  double sum = 0;
  for (float v : d) sum += v;
  EXPECT_NEAR(sum, 1.0, 1e-6);
  EXPECT_NEAR(d[1 * 5 + 3] / d[1 * 5 + 2], std::exp(-1.0 / 4.0), 1e-6);
  EXPECT_NEAR(d[0 * 5 + 0] / d[1 * 5 + 2], std::exp(-5.0 / 4.0), 1e-6);
}

struct ConnCase {
  int connectivity;
  float interiorFactor;
};

class Smooth3x3Const : public ::testing::TestWithParam<ConnCase> {};

TEST_P(Smooth3x3Const, ConstantImage) {
  const ConnCase c = GetParam();
  std::vector<float> s(6 * 5, 0.8f), d(6 * 5, -1.0f);
  Matrix src{6, 5, s.data()}, dst{6, 5, d.data()};
  Image_Smooth3x3(&src, &dst, c.connectivity);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool border = x == 0 || y == 0 || x == 5 || y == 4;
      EXPECT_NEAR(d[y * 6 + x], border ? 0.8f : 0.8f * c.interiorFactor, 1e-6f) << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Connectivity, Smooth3x3Const,
                         ::testing::Values(ConnCase{4, 0.99f}, ConnCase{8, 1.0f}, ConnCase{0, 1.0f}));

TEST(Smooth3x3, ImpulseGivesTheWeights) {
  std::vector<float> s(25, 0.0f), d(25), ch(25 * 8, -1.0f);
  s[12] = 1.0f;
  Matrix src{5, 5, s.data()}, dst{5, 5, d.data()}, inter{5, 5, ch.data()};
  Image_Smooth3x3(&src, &dst, 4);
  EXPECT_FLOAT_EQ(d[12], 0.33f);
  EXPECT_FLOAT_EQ(d[7], 0.165f);
  EXPECT_FLOAT_EQ(d[6], 0.0f);
  Image_Smooth3x3(&src, &dst, 8);
  EXPECT_FLOAT_EQ(d[12], 0.25f);
  EXPECT_FLOAT_EQ(d[11], 0.125f);
  EXPECT_FLOAT_EQ(d[18], 0.0625f);
  Image_Smooth3x3Channel(&src, &inter, 3);
  for (int i = 0; i < 25; ++i) {
    EXPECT_EQ(ch[i * 8 + 3], d[i]) << i;
    EXPECT_EQ(ch[i * 8 + 2], -1.0f);  // other channels untouched
  }
}

TEST(Smooth121, InteriorIsTheSeparableBinomial) {
  const int w = 6, h = 5;
  std::vector<float> s(w * h), d(w * h), t(w * h);
  for (int i = 0; i < w * h; ++i) s[i] = static_cast<float>((i * 37) % 11);
  Matrix src{w, h, s.data()}, dst{w, h, d.data()}, tmp{w, h, t.data()};
  Image_Smooth121(&src, &dst, &tmp);
  const float k[3] = {0.25f, 0.5f, 0.25f};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float expect = s[y * w + x];
      if (x > 0 && y > 0 && x < w - 1 && y < h - 1) {
        expect = 0;
        for (int j = -1; j <= 1; ++j)
          for (int i = -1; i <= 1; ++i) expect += k[j + 1] * k[i + 1] * s[(y + j) * w + x + i];
      }
      EXPECT_NEAR(d[y * w + x], expect, 1e-5f) << x << "," << y;
    }
}

}  // namespace

#include <opencv2/imgproc.hpp>

namespace {

// Both Gaussian blurs against OpenCV's with a replicated border.
TEST(GaussianBlur, MatchesOpenCVWithReplicatedBorder) {
  const int w = 37, h = 23;
  std::vector<float> s(w * h), d(w * h), d2(w * h);
  for (int i = 0; i < w * h; ++i) s[i] = static_cast<float>((i * 7919) % 101) / 100.0f;
  cv::Mat src(h, w, CV_32F, s.data());
  Matrix S{w, h, s.data()}, D{w, h, d.data()}, D2{w, h, d2.data()};
  for (int k : {1, 2, 4}) {
    const float sigma = 0.6f + 0.5f * k;
    cv::Mat ref;
    cv::GaussianBlur(src, ref, cv::Size(2 * k + 1, 2 * k + 1), sigma, sigma, cv::BORDER_REPLICATE);
    Image_GaussianBlurSep(k, &S, &D, sigma);
    Image_GaussianBlur(k, &S, &D2, sigma * sigma);  // the 2-D form takes a variance
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        ASSERT_NEAR(d[y * w + x], ref.at<float>(y, x), 1e-5f) << k << " at " << x << "," << y;
        ASSERT_NEAR(d2[y * w + x], ref.at<float>(y, x), 1e-5f) << k << " at " << x << "," << y;
      }
  }
}

}  // namespace

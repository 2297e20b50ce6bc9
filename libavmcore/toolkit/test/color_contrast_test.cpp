#include "toolkit/color_contrast.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> Image(int32_t w, int32_t h, const std::vector<std::pair<float, std::array<uint8_t, 3>>>& bands) {
  // Vertical bands covering the given fractions of the columns.
  std::vector<uint8_t> img(static_cast<size_t>(w) * h * 3);
  for (int32_t x = 0, band = 0, end = 0; x < w; ++x) {
    while (band < static_cast<int32_t>(bands.size()) && x >= end) end += static_cast<int32_t>(bands[band++].first * w + 0.5f);
    const auto& c = bands[std::max(band - 1, 0)].second;
    for (int32_t y = 0; y < h; ++y) std::copy(c.begin(), c.end(), img.begin() + 3 * (static_cast<size_t>(y) * w + x));
  }
  return img;
}

std::vector<float> RandomBgr(int n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<float> bgr;
  for (int i = 0; i < 3 * n; ++i) bgr.push_back(u(rng));
  // Corners of the cube, greys and the dark linear segment of the sRGB curve.
  const float fixed[][3] = {{0, 0, 0}, {1, 1, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0.01f, 0.02f, 0.03f}, {0.5f, 0.5f, 0.5f},
                            {0.002f, 0.002f, 0.002f}};
  for (const auto& f : fixed) bgr.insert(bgr.end(), f, f + 3);
  return bgr;
}

float SrgbToLinear(float v) { return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); }

TEST(ColorContrast, LabAgreesWithOpenCV) {
  std::vector<float> bgr = RandomBgr(2000, 5);
  const int n = static_cast<int>(bgr.size() / 3);
  // OpenCV's linear path computes the conversion in full.
  std::vector<float> linear(bgr.size());
  std::transform(bgr.begin(), bgr.end(), linear.begin(), SrgbToLinear);
  cv::Mat lin(1, n, CV_32FC3, linear.data()), labLinear;
  cv::cvtColor(lin, labLinear, cv::COLOR_LBGR2Lab);
  // Its sRGB path interpolates a 33-step table: agreement to that table's error.
  cv::Mat src(1, n, CV_32FC3, bgr.data()), labSrgb;
  cv::cvtColor(src, labSrgb, cv::COLOR_BGR2Lab);
  float worstLinear = 0.0f, worstSrgb = 0.0f;
  for (int i = 0; i < n; ++i) {
    float a[3], b[3];
    ColorSegment_LinearBgrToLab(&linear[3 * i], a);
    ColorSegment_BgrToLab(&bgr[3 * i], b);
    const cv::Vec3f ta = labLinear.at<cv::Vec3f>(0, i), tb = labSrgb.at<cv::Vec3f>(0, i);
    for (int c = 0; c < 3; ++c) {
      worstLinear = std::max(worstLinear, std::fabs(a[c] - ta[c]));
      worstSrgb = std::max(worstSrgb, std::fabs(b[c] - tb[c]));
      EXPECT_NEAR(a[c], b[c], 1e-3f);
    }
  }
  // The vectorised loop of a long row takes a coarser cube root: within 1e-3
  // of the Lab range (L 0..100).
  EXPECT_LT(worstLinear / 100.0f, 1e-3f) << worstLinear;
  EXPECT_LT(worstSrgb, 0.5f) << worstSrgb;
  // One colour at a time OpenCV runs its scalar loop: within 1e-3 absolute.
  for (int i = 0; i < n; i += 7) {
    cv::Mat one(1, 1, CV_32FC3, &linear[3 * i]), lab;
    cv::cvtColor(one, lab, cv::COLOR_LBGR2Lab);
    float ours[3];
    ColorSegment_LinearBgrToLab(&linear[3 * i], ours);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(ours[c], lab.at<cv::Vec3f>(0, 0)[c], 1e-3f) << i;
  }
}

TEST(ColorContrast, MapFromOpenCVLabAgreesWithTheBuiltInOne) {
  // A noisy picture of a few coloured regions.
  const int32_t w = 64, h = 48;
  std::vector<uint8_t> img(static_cast<size_t>(w) * h * 3);
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> noise(-12, 12);
  const uint8_t base[4][3] = {{90, 120, 60}, {200, 40, 40}, {40, 200, 230}, {128, 128, 128}};
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t* c = base[(x * 3 / w + (y > h / 2 ? 1 : 0)) % 4];
      for (int k = 0; k < 3; ++k)
        img[3 * (static_cast<size_t>(y) * w + x) + k] = static_cast<uint8_t>(std::clamp(c[k] + noise(rng), 0, 255));
    }
  ColorImage8 image{w, h, img.data()};
  std::vector<float> ours(w * h);
  Matrix map{w, h, ours.data()};
  ColorSegment_Run(&image, &map);

  std::vector<QuantColor> colours;
  std::vector<int32_t> index;
  ASSERT_GT(ColorSegment_Quantize(&image, &colours, &index, 0.95f), 4);
  for (QuantColor& c : colours) {
    cv::Mat one(1, 1, CV_32FC3, c.bgr), lab;
    cv::cvtColor(one, lab, cv::COLOR_BGR2Lab);
    for (int k = 0; k < 3; ++k) c.lab[k] = lab.at<cv::Vec3f>(0, 0)[k];
  }
  std::vector<float> theirs(w * h);
  ColorSegment_ContrastMap(colours, index, theirs.data());
  float worst = 0.0f;
  for (int32_t i = 0; i < w * h; ++i) worst = std::max(worst, std::fabs(ours[i] - theirs[i]));
  EXPECT_LT(worst, 1e-3f) << worst;
}

TEST(ColorContrast, OneColourGivesOneValueEverywhere) {
  const std::vector<uint8_t> img = Image(20, 10, {{1.0f, {40, 90, 200}}});
  ColorImage8 image{20, 10, img.data()};
  std::vector<QuantColor> colours;
  std::vector<int32_t> index;
  EXPECT_EQ(ColorSegment_Quantize(&image, &colours, &index, 0.95f), 1);
  EXPECT_EQ(colours[0].count, 200);
  EXPECT_NEAR(colours[0].bgr[2], 200 / 255.0f, 1e-6f);
  std::vector<float> out(200, -1.0f);
  Matrix map{20, 10, out.data()};
  ColorSegment_Run(&image, &map);
  for (float v : out) EXPECT_EQ(v, out[0]);
  EXPECT_GE(out[0], 0.0f);
  EXPECT_LE(out[0], 1.0f);
}

TEST(ColorContrast, ThreeColoursPeakOnTheOneFarFromTheFrequentOnes) {
  // 50 % dark grey, 30 % mid grey, 20 % saturated red: red lies far in Lab
  // from both greys.
  const int32_t w = 40, h = 8;
  const std::vector<uint8_t> img = Image(w, h, {{0.5f, {60, 60, 60}}, {0.3f, {110, 110, 110}}, {0.2f, {0, 0, 230}}});
  ColorImage8 image{w, h, img.data()};
  std::vector<QuantColor> colours;
  std::vector<int32_t> index;
  ASSERT_EQ(ColorSegment_Quantize(&image, &colours, &index, 0.95f), 3);
  EXPECT_EQ(colours[0].count, w * h / 2);
  EXPECT_EQ(colours[2].count, w * h / 5);
  std::vector<float> out(w * h);
  Matrix map{w, h, out.data()};
  ColorSegment_Run(&image, &map);
  EXPECT_FLOAT_EQ(out[w - 1], 1.0f);      // red column
  EXPECT_FLOAT_EQ(*std::min_element(out.begin(), out.end()), 0.0f);
  EXPECT_LT(out[0], out[w / 2 + 2]);      // the frequent dark grey least
}

TEST(ColorContrast, RareColoursJoinTheNearestKeptOne) {
  // 97 % blue-ish, 3 % in a neighbouring bin: only the first is kept.
  const int32_t w = 100, h = 1;
  std::vector<uint8_t> img = Image(w, h, {{0.97f, {200, 30, 30}}, {0.03f, {180, 30, 30}}});
  ColorImage8 image{w, h, img.data()};
  std::vector<QuantColor> colours;
  std::vector<int32_t> index;
  ASSERT_EQ(ColorSegment_Quantize(&image, &colours, &index, 0.95f), 1);
  EXPECT_EQ(colours[0].count, 100);
  EXPECT_EQ(index[99], 0);
  // A wrong-size output or an empty image leaves everything alone.
  std::vector<float> out(50, 7.0f);
  Matrix map{50, 1, out.data()};
  ColorSegment_Run(&image, &map);
  EXPECT_EQ(out[0], 7.0f);
  ColorImage8 empty{0, 0, nullptr};
  EXPECT_EQ(ColorSegment_Quantize(&empty, &colours, &index, 0.95f), 0);
}

}  // namespace

#include "toolkit/thresholds.h"

#include <gtest/gtest.h>

#include <vector>

#include "toolkit/test/pixel_test_util.h"

namespace {

using pixel_test::FloatImage;

FloatImage TwoLevel(int w, int h, float dark, float bright) {
  FloatImage img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.at(x, y) = x < w / 2 ? dark : bright;
  return img;
}

TEST(Thresholds, IterativeThreshold) {
  FloatImage oneBin(5, 4, 0.4f);
  EXPECT_EQ(Image_IterativeThreshold(&oneBin.m, 0.5f), 0.0f);
  FloatImage two = TwoLevel(8, 4, 0.2f, 0.8f);
  const float t = Image_IterativeThreshold(&two.m, 0.5f);
  EXPECT_EQ(t, static_cast<float>(128 / 255.0));  // (51 + 204) / 2 rounded
  EXPECT_GT(t, 0.2f);
  EXPECT_LT(t, 0.8f);
  // The weight pulls the threshold toward the upper class.
  EXPECT_GT(Image_IterativeThreshold(&two.m, 0.8f), t);
  Image_BinarizeIterative(&two.m, 0.5f);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(two.at(x, y), x < 4 ? 0.0f : 1.0f);
  Matrix empty{3, 0, nullptr};
  EXPECT_EQ(Image_IterativeThreshold(&empty, 0.5f), 0.0f);
}

TEST(Thresholds, PercentileThreshold) {
  FloatImage two = TwoLevel(8, 4, 0.2f, 0.8f);
  EXPECT_EQ(Image_PercentileThreshold(&two.m, 0.0f), static_cast<float>(51 / 255.0));
  EXPECT_EQ(Image_PercentileThreshold(&two.m, 0.5f), static_cast<float>(204 / 255.0));
  EXPECT_EQ(Image_PercentileThreshold(&two.m, 1.0f), 1.0f);
  // Values out of range fall in the bins by the rule (negative in bin 0).
  FloatImage neg(2, 1, -3.0f);
  EXPECT_EQ(Image_PercentileThreshold(&neg.m, 0.0f), 0.0f);
}

TEST(Thresholds, EntropyThresholdSplitsTwoSpreadClasses) {
  // Dark pixels spread over bins 0..49, bright ones over 200..249: any cut
  // between the classes scores about 2 ln 50, no cut ln 100.
  FloatImage img(100, 2);
  for (int i = 0; i < 200; ++i) img.v[i] = ((i % 100) < 50 ? (i % 50) : 200 + (i % 50)) / 255.0f;
  const float t = Image_EntropyThreshold(&img.m);
  EXPECT_GE(t, 49 / 255.0f);
  EXPECT_LT(t, 200 / 255.0f);
  // Two single-bin classes: the +1 inside the logarithm makes each class
  // score below 0, so no cut beats the whole histogram (t = 255).
  FloatImage two = TwoLevel(8, 4, 0.2f, 0.8f);
  EXPECT_EQ(Image_EntropyThreshold(&two.m), 1.0f);
}

TEST(Thresholds, Binarize) {
  FloatImage img(4, 1);
  img.v = {0.1f, 0.5f, 0.50001f, 2.0f};
  img.m.data = img.v.data();
  Image_Binarize(&img.m, 0.5f);
  EXPECT_EQ(img.v, (std::vector<float>{0, 0, 1, 1}));
}

TEST(Thresholds, AdaptiveThreshold) {
  FloatImage flat(9, 7, 0.6f);
  Image_AdaptiveThreshold(&flat.m, 2, 0.0f);
  for (float v : flat.v) EXPECT_EQ(v, 0.0f);  // difference 0 is index 255, not above
  FloatImage flat2(9, 7, 0.6f);
  Image_AdaptiveThreshold(&flat2.m, 2, 0.1f);
  for (float v : flat2.v) EXPECT_EQ(v, 1.0f);
  // A bright square on a dark ground: the square comes out 1.
  FloatImage sq(12, 12, 0.2f);
  for (int y = 4; y < 8; ++y)
    for (int x = 4; x < 8; ++x) sq.at(x, y) = 0.7f;
  Image_AdaptiveThreshold(&sq.m, 3, 0.0f);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) EXPECT_EQ(sq.at(x, y), (x >= 4 && x < 8 && y >= 4 && y < 8) ? 1.0f : 0.0f);
  // The same with the caller's mean plane of exactly width x height floats.
  FloatImage sq2(12, 12, 0.2f);
  for (int y = 4; y < 8; ++y)
    for (int x = 4; x < 8; ++x) sq2.at(x, y) = 0.7f;
  std::vector<float> mean(12 * 12);
  Image_AdaptiveThresholdBuffered(&sq2.m, 3, 0.0f, mean.data());
  EXPECT_EQ(sq2.v, sq.v);
}

// Pixels far outside 0..1 would index past the 768-entry table; the index is
// clamped (the sanitizers catch an overrun).
TEST(Thresholds, AdaptiveThresholdClampsOutOfRangePixels) {
  FloatImage img(6, 5, 0.5f);
  img.at(1, 1) = 40.0f;
  img.at(4, 3) = -40.0f;
  img.at(2, 3) = 1e30f;
  Image_AdaptiveThreshold(&img.m, 1, 0.05f);
  EXPECT_EQ(img.at(1, 1), 1.0f);
  EXPECT_EQ(img.at(2, 3), 1.0f);
  EXPECT_EQ(img.at(4, 3), 0.0f);
  for (float v : img.v) EXPECT_TRUE(v == 0.0f || v == 1.0f);
}

TEST(Thresholds, LocalContrastThreshold) {
  const int w = 10, h = 10, k = 1;
  FloatImage img(w, h, 0.5f);
  img.at(5, 5) = 0.9f;
  const FloatImage before(img);
  std::vector<uint8_t> mask(w * h, 7), work(static_cast<size_t>(Image_LocalContrastWorkSize(w, h, k)));
  ImageU8 dst{w, h, mask.data()};
  // Target 2 pixels: the bright pixel (contrast 172) and then the level
  // falls to the flat ground (127), so only contrasts above 127 are marked.
  Image_LocalContrastThreshold(&img.m, &dst, work.data(), k, 1.0f, 0.0f, 0.025f);
  for (int i = 0; i < w * h; ++i) EXPECT_EQ(mask[i], i == 55 ? 1 : 0) << i;
  EXPECT_EQ(img.v, before.v);
  // A target already met by bin 254 (here 0 pixels) keeps the level at 254.
  Image_LocalContrastThreshold(&img.m, &dst, work.data(), k, 1.0f, 0.0f, 0.0f);
  for (int i = 0; i < w * h; ++i) EXPECT_EQ(mask[i], 0);
}

}  // namespace

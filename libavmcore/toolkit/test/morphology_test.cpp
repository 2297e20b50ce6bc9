#include "toolkit/morphology.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "toolkit/border_filters.h"
#include "toolkit/test/pixel_test_util.h"

namespace {

using pixel_test::FloatImage;
using pixel_test::FromArt;
using pixel_test::ToArt;

std::vector<std::string> Art(const FloatImage& img) { return ToArt(img.v.data(), img.m.cols, img.m.rows); }

// The defining rule, spelled out: box mean, then above 0 (or NaN) is 1.
FloatImage DilateRule(const FloatImage& src, int rx, int ry) {
  FloatImage mean(src.m.cols, src.m.rows), out(src.m.cols, src.m.rows);
  Image_BoxMean(&src.m, &mean.m, rx, ry);
  for (size_t i = 0; i < out.v.size(); ++i) out.v[i] = (mean.v[i] > 0.0f || std::isnan(mean.v[i])) ? 1.0f : 0.0f;
  return out;
}

FloatImage RandomMask(int w, int h, uint32_t seed, int percent) {
  FloatImage img(w, h);
  std::mt19937 rng(seed);
  for (float& v : img.v) v = static_cast<int>(rng() % 100) < percent ? 1.0f : 0.0f;
  return img;
}

TEST(Morphology, DilateAndErodeSmallFixtures) {
  FloatImage dot = FromArt({".......", ".......", ".......", "...#...", ".......", ".......", "......."});
  Image_Dilate(&dot.m, 1, 2);
  EXPECT_EQ(Art(dot), (std::vector<std::string>{".......", "..###..", "..###..", "..###..", "..###..", "..###..",
                                                 "......."}));
  FloatImage block = FromArt({"........", ".#####..", ".#####..", ".#####..", ".#####..", ".#####..", "........"});
  Image_Erode(&block.m, 1, 1);
  EXPECT_EQ(Art(block), (std::vector<std::string>{"........", "........", "..###...", "..###...", "..###...",
                                                   "........", "........"}));
  // The replicated border: a full image stays full, and a mask touching the
  // edge is not eaten from outside.
  FloatImage edge = FromArt({"###..", "###..", "###.."});
  Image_Erode(&edge.m, 1, 1);
  EXPECT_EQ(Art(edge), (std::vector<std::string>{"##...", "##...", "##..."}));
}

TEST(Morphology, CloseGapsNarrowerThanTheBox) {
  FloatImage line = FromArt({"...........", "...........", "..###.###..", "...........", "..........."});
  Image_Dilate(&line.m, 1, 1);
  Image_Erode(&line.m, 1, 1);
  EXPECT_EQ(Art(line),
            (std::vector<std::string>{"...........", "...........", "..#######..", "...........", "..........."}));
}

TEST(Morphology, TwoLevelImagesMatchTheBoxMeanRuleAndOpenCv) {
  // {1, 25}: a box taller than the image.
  const int radii[][2] = {{1, 1}, {2, 2}, {0, 3}, {4, 1}, {0, 0}, {6, 9}, {11, 4}, {1, 25}};
  for (const auto& r : radii) {
    for (int percent : {3, 50, 97}) {
      SCOPED_TRACE(std::to_string(r[0]) + "," + std::to_string(r[1]) + " " + std::to_string(percent) + "%");
      FloatImage src = RandomMask(37, 21, 100 * r[0] + r[1] + percent, percent);
      FloatImage dil(src), ero(src);
      Image_Dilate(&dil.m, r[0], r[1]);
      Image_Erode(&ero.m, r[0], r[1]);
      EXPECT_EQ(dil.v, DilateRule(src, r[0], r[1]).v);
      FloatImage inv(src);
      for (float& v : inv.v) v = 1.0f - v;
      FloatImage ruleEro = DilateRule(inv, r[0], r[1]);
      for (float& v : ruleEro.v) v = 1.0f - v;
      EXPECT_EQ(ero.v, ruleEro.v);
      cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * r[0] + 1, 2 * r[1] + 1));
      cv::Mat s(21, 37, CV_32F, src.v.data()), cvDil, cvEro;
      cv::dilate(s, cvDil, kernel, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
      cv::erode(s, cvEro, kernel, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
      EXPECT_EQ(std::vector<float>(cvDil.begin<float>(), cvDil.end<float>()), dil.v);
      EXPECT_EQ(std::vector<float>(cvEro.begin<float>(), cvEro.end<float>()), ero.v);
    }
  }
}

TEST(Morphology, ByteDilationMatchesTheFloatForm) {
  const int radii[][2] = {{1, 1}, {2, 1}, {1, 2}, {0, 3}, {0, 0}, {6, 9}, {11, 4}, {1, 25}};
  for (const auto& r : radii)
    for (int percent : {3, 50, 97}) {
      SCOPED_TRACE(std::to_string(r[0]) + "," + std::to_string(r[1]) + " " + std::to_string(percent) + "%");
      FloatImage src = RandomMask(37, 21, 100 * r[0] + r[1] + percent + 7, percent);
      std::vector<uint8_t> bytes(src.v.size());
      // Bright bytes other than 1 count as bright too.
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = src.v[i] != 0.0f ? static_cast<uint8_t>(1 + i % 200) : 0;
      ImageU8 img{37, 21, bytes.data()};
      ImageU8_DilateBinary(&img, r[0], r[1]);
      Image_Dilate(&src.m, r[0], r[1]);
      std::vector<float> got(bytes.begin(), bytes.end());
      EXPECT_EQ(got, src.v);
    }
}

// Images that are not two-level go through the box mean itself.
TEST(Morphology, OtherImagesFollowTheBoxMeanRule) {
  FloatImage src = RandomMask(15, 9, 8, 20);
  src.at(3, 3) = 0.25f;
  src.at(10, 6) = -1.0f;  // a negative pixel can cancel a positive one
  src.at(11, 6) = 1.0f;
  FloatImage dil(src);
  Image_Dilate(&dil.m, 1, 1);
  EXPECT_EQ(dil.v, DilateRule(src, 1, 1).v);
  // A NaN stays in the running sums once met: every mean after it is NaN
  // and gives 1.
  FloatImage withNan(5, 5, 0.0f);
  withNan.at(2, 2) = std::nanf("");
  const FloatImage nanRule = DilateRule(withNan, 1, 1);
  Image_Dilate(&withNan.m, 1, 1);
  EXPECT_EQ(withNan.v, nanRule.v);
  EXPECT_EQ(withNan.at(0, 0), 0.0f);
  EXPECT_EQ(withNan.at(4, 4), 1.0f);
}

// The two-level path reads each row once and writes rows as it goes; a row
// with another value met part way hands the rest to the box mean. The
// result must be the box-mean rule's wherever that row lies (first, middle
// or last row, so the hand-over comes before, during and after the written
// rows) and whatever the value (fraction, negative, NaN).
// The value sits in a whole 32-pixel block of its row or in the row's
// tail; some zeros are -0.0, which the hand-over gives back as 0.0.
TEST(Morphology, AnotherValueAnywhereGivesTheBoxMeanRule) {
  const int radii[][2] = {{0, 0}, {1, 1}, {2, 3}, {5, 1}, {1, 6}, {1, 20}};
  const int w = 41, h = 17;
  for (const auto& r : radii)
    for (int row : {0, 1, 8, h - 2, h - 1})
      for (float odd : {0.25f, -1.0f, std::nanf("")}) {
        SCOPED_TRACE(std::to_string(r[0]) + "," + std::to_string(r[1]) + " row " + std::to_string(row) + " value " +
                     std::to_string(odd));
        FloatImage src = RandomMask(w, h, 7 * row + r[1], 40);
        for (size_t i = 0; i < src.v.size(); i += 5)
          if (src.v[i] == 0.0f) src.v[i] = -0.0f;
        src.at(5 * (1 + row % 8), row) = odd;
        FloatImage dil(src), ero(src);
        Image_Dilate(&dil.m, r[0], r[1]);
        Image_Erode(&ero.m, r[0], r[1]);
        EXPECT_EQ(dil.v, DilateRule(src, r[0], r[1]).v);
        FloatImage inv(src);
        for (float& v : inv.v) v = 1.0f - v;
        FloatImage ruleEro = DilateRule(inv, r[0], r[1]);
        for (float& v : ruleEro.v) v = 1.0f - v;
        // NaN compares unequal to itself: compare the bits.
        ASSERT_EQ(ero.v.size(), ruleEro.v.size());
        for (size_t i = 0; i < ero.v.size(); ++i)
          ASSERT_TRUE(ero.v[i] == ruleEro.v[i] || (std::isnan(ero.v[i]) && std::isnan(ruleEro.v[i]))) << i;
      }
}

// -0.0 counts as 0 and never comes out: outputs are +0.0 or 1.0.
TEST(Morphology, NegativeZeroComesOutAsZero) {
  for (int rx : {0, 1, 6}) {
    FloatImage src = RandomMask(19, 9, 5 + rx, 30);
    for (size_t i = 0; i < src.v.size(); i += 3)
      if (src.v[i] == 0.0f) src.v[i] = -0.0f;
    FloatImage dil(src), ero(src);
    Image_Dilate(&dil.m, rx, 1);
    Image_Erode(&ero.m, rx, 1);
    for (float v : dil.v) EXPECT_FALSE(std::signbit(v));
    for (float v : ero.v) EXPECT_FALSE(std::signbit(v));
    EXPECT_EQ(dil.v, DilateRule(src, rx, 1).v);
  }
}

}  // namespace

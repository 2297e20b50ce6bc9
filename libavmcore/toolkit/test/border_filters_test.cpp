#include "toolkit/border_filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <opencv2/imgproc.hpp>
#include <limits>
#include <vector>

#include "toolkit/test/pixel_test_util.h"

namespace {

using pixel_test::FloatImage;
using pixel_test::RandomImage;

cv::Mat AsMat(FloatImage& img) { return cv::Mat(img.m.rows, img.m.cols, CV_32F, img.v.data()); }

TEST(BorderFilters, PadReplicateAndBandMirror) {
  FloatImage src(3, 2);
  src.v = {1, 2, 3, 4, 5, 6};
  src.m.data = src.v.data();
  FloatImage pad(3 + 4, 2 + 2);
  Matrix_PadReplicate(&src.m, &pad.m, 2, 1);
  const std::vector<float> want = {1, 1, 1, 2, 3, 3, 3,  //
                                   1, 1, 1, 2, 3, 3, 3,  //
                                   4, 4, 4, 5, 6, 6, 6,  //
                                   4, 4, 4, 5, 6, 6, 6};
  EXPECT_EQ(pad.v, want);
  FloatImage mir(3 + 4, 2 + 2);
  Matrix_PadBandMirror(&src.m, &mir.m, 2, 1);
  const std::vector<float> wantMirror = {2, 1, 1, 2, 3, 3, 2,  //
                                         1, 1, 1, 2, 3, 3, 3,  //
                                         4, 4, 4, 5, 6, 6, 6,  //
                                         5, 4, 4, 5, 6, 6, 5};
  EXPECT_EQ(mir.v, wantMirror);
}

TEST(BorderFilters, BoxMeanEqualsOpenCvBlurWithReplicatedBorders) {
  const int radii[][2] = {{0, 0}, {1, 1}, {2, 1}, {1, 3}, {5, 5}, {7, 2}};
  const int sizes[][2] = {{31, 17}, {1, 1}, {4, 9}, {64, 3}, {2700, 2}};
  for (const auto& sz : sizes)
    for (const auto& r : radii) {
      SCOPED_TRACE(std::to_string(sz[0]) + "x" + std::to_string(sz[1]) + " r " + std::to_string(r[0]) + "," +
                   std::to_string(r[1]));
      FloatImage src = RandomImage(sz[0], sz[1], 3 + r[0]);
      FloatImage dst(sz[0], sz[1], -7.0f);
      Image_BoxMean(&src.m, &dst.m, r[0], r[1]);
      cv::Mat want;
      cv::blur(AsMat(src), want, cv::Size(2 * r[0] + 1, 2 * r[1] + 1), cv::Point(-1, -1), cv::BORDER_REPLICATE);
      double worst = 0.0;
      for (int y = 0; y < sz[1]; ++y)
        for (int x = 0; x < sz[0]; ++x) worst = std::max(worst, std::abs(double(dst.at(x, y)) - want.at<float>(y, x)));
      EXPECT_LT(worst, 2e-6);
      // The buffered and in-place forms give the same bits.
      std::vector<float> work((sz[0] + 2 * r[0]) * (sz[1] + 2 * r[1]));
      FloatImage buffered(sz[0], sz[1]);
      Image_BoxMeanBuffered(&src.m, &buffered.m, r[0], r[1], work.data());
      EXPECT_EQ(buffered.v, dst.v);
      FloatImage inPlace(src);
      Image_BoxMean(&inPlace.m, &inPlace.m, r[0], r[1]);
      EXPECT_EQ(inPlace.v, dst.v);
      // And so does the padded form on a replicated copy.
      FloatImage padded(sz[0] + 2 * r[0], sz[1] + 2 * r[1]);
      Matrix_PadReplicate(&src.m, &padded.m, r[0], r[1]);
      FloatImage fromPadded(sz[0], sz[1]);
      Image_BoxMeanPadded(&padded.m, &fromPadded.m, r[0], r[1]);
      EXPECT_EQ(fromPadded.v, dst.v);
    }
}

// The running-sum order of the box mean written out plainly (padded copy,
// one column-sum row carried down the image, one running sum along each
// row): the filter sums many rows at once in vector lanes and must give
// these bits. Heights either side of the sixteen rows a lane pass takes,
// widths either side of whole eight-column blocks.
std::vector<float> RunningBoxMean(const FloatImage& src, int rx, int ry) {
  const int w = src.m.cols, h = src.m.rows, pw = w + 2 * rx, ph = h + 2 * ry;
  std::vector<float> pad(static_cast<size_t>(pw) * ph), out(static_cast<size_t>(w) * h), col(pw, 0.0f);
  for (int r = 0; r < ph; ++r)
    for (int c = 0; c < pw; ++c)
      pad[static_cast<size_t>(r) * pw + c] =
          src.v[static_cast<size_t>(std::min(std::max(r - ry, 0), h - 1)) * w + std::min(std::max(c - rx, 0), w - 1)];
  const float area = static_cast<float>((2 * rx + 1) * (2 * ry + 1));
  for (int y = 0; y < h; ++y) {
    for (int c = 0; c < pw; ++c) {
      if (y == 0) {
        for (int r = 0; r <= 2 * ry; ++r) col[c] += pad[static_cast<size_t>(r) * pw + c];
      } else {
        col[c] = (col[c] - pad[static_cast<size_t>(y - 1) * pw + c]) + pad[static_cast<size_t>(y + 2 * ry) * pw + c];
      }
    }
    float s = col[0];
    for (int x = 1; x <= 2 * rx; ++x) s += col[x];
    out[static_cast<size_t>(y) * w] = s / area;
    for (int x = 1; x < w; ++x) {
      s = (s - col[x - 1]) + col[x + 2 * rx];
      out[static_cast<size_t>(y) * w + x] = s / area;
    }
  }
  return out;
}

TEST(BorderFilters, BoxMeanKeepsTheRunningSumOrderToTheBit) {
  const int radii[][2] = {{0, 0}, {1, 1}, {3, 0}, {0, 4}, {21, 21}, {2, 7}};
  const int sizes[][2] = {{7, 15}, {8, 16}, {9, 17}, {23, 33}, {64, 40}, {1, 20}, {130, 47}};
  for (const auto& sz : sizes)
    for (const auto& r : radii) {
      SCOPED_TRACE(std::to_string(sz[0]) + "x" + std::to_string(sz[1]) + " r " + std::to_string(r[0]) + "," +
                   std::to_string(r[1]));
      FloatImage src = RandomImage(sz[0], sz[1], 40 + sz[0] + r[1]), dst(sz[0], sz[1], -7.0f);
      // Mixed magnitudes make the rounding of every update show.
      for (size_t i = 0; i < src.v.size(); i += 3) src.v[i] *= 1000.0f;
      Image_BoxMean(&src.m, &dst.m, r[0], r[1]);
      const std::vector<float> want = RunningBoxMean(src, r[0], r[1]);
      for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(dst.v[i], want[i]) << "element " << i;
      FloatImage padded(sz[0] + 2 * r[0], sz[1] + 2 * r[1]), fromPadded(sz[0], sz[1]);
      Matrix_PadReplicate(&src.m, &padded.m, r[0], r[1]);
      Image_BoxMeanPadded(&padded.m, &fromPadded.m, r[0], r[1]);
      EXPECT_EQ(fromPadded.v, want);
    }
}

TEST(BorderFilters, BoxMeanSmallCases) {
  FloatImage constant(9, 5, 0.375f), out(9, 5);
  Image_BoxMean(&constant.m, &out.m, 3, 2);
  for (float v : out.v) EXPECT_EQ(v, 0.375f);
  FloatImage src = RandomImage(6, 4, 9), same(6, 4);
  Image_BoxMean(&src.m, &same.m, 0, 0);
  EXPECT_EQ(same.v, src.v);
  FloatImage one(1, 1, 0.8f), padded(3, 3);
  Matrix_PadReplicate(&one.m, &padded.m, 1, 1);
  for (float v : padded.v) EXPECT_EQ(v, 0.8f);
  FloatImage oneOut(1, 1);
  Image_BoxMean(&one.m, &oneOut.m, 1, 1);
  EXPECT_FLOAT_EQ(oneOut.v[0], 0.8f);
}

TEST(BorderFilters, MaxAndMinFilters) {
  // Against OpenCV's dilate / erode with a rectangle and replicated borders,
  // on images in 0..1 (where the 0 / 1 start values do not show).
  // Odd and even heights: rows go two at a time with a last single row.
  // Windows up to 7 rows read their rows directly, taller ones go through
  // block extremes; widths past a few vector blocks run the vector bodies.
  const int radii[][2] = {{1, 1}, {2, 0}, {0, 3}, {3, 2}, {1, 2}, {3, 3}, {7, 4}};
  const int sizes[][2] = {{23, 14}, {23, 13}, {6, 1}, {5, 2}, {9, 5}, {70, 9}};
  for (const auto& sz : sizes)
    for (const auto& r : radii) {
      const int w = sz[0], h = sz[1];
      FloatImage src = RandomImage(w, h, 11 + r[0] + w + h);
      FloatImage mx(w, h), mn(w, h);
      Image_MaxFilter(&src.m, &mx.m, r[0], r[1]);
      Image_MinFilter(&src.m, &mn.m, r[0], r[1]);
      cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * r[0] + 1, 2 * r[1] + 1));
      cv::Mat wantMax, wantMin;
      cv::dilate(AsMat(src), wantMax, kernel, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
      cv::erode(AsMat(src), wantMin, kernel, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          ASSERT_EQ(mx.at(x, y), wantMax.at<float>(y, x)) << w << "x" << h << " at " << x << "," << y;
          ASSERT_EQ(mn.at(x, y), wantMin.at<float>(y, x)) << w << "x" << h << " at " << x << "," << y;
        }
      // In place gives the same.
      FloatImage inPlace(src);
      Image_MaxFilter(&inPlace.m, &inPlace.m, r[0], r[1]);
      EXPECT_EQ(inPlace.v, mx.v);
    }
  FloatImage negative(5, 4, -0.5f), out(5, 4, 9.0f);
  Image_MaxFilter(&negative.m, &out.m, 1, 1);
  for (float v : out.v) EXPECT_EQ(v, 0.0f);
  FloatImage bright(5, 4, 1.5f);
  Image_MinFilter(&bright.m, &out.m, 1, 1);
  for (float v : out.v) EXPECT_EQ(v, 1.0f);
}

// A NaN is skipped wherever it sits in the window, and never hides the
// values compared after it: every output is the extreme of the window's
// other values and the start value, as a plain scan of the window gives.
TEST(BorderFilters, MaxAndMinFiltersSkipNaN) {
  const int radii[][2] = {{1, 1}, {2, 2}, {3, 3}, {0, 3}, {3, 0}, {7, 4}};
  const int w = 70, h = 11;
  FloatImage src = RandomImage(w, h, 77);
  // Every 11th element: the NaNs move from row to row (70 = 4 mod 11).
  for (size_t i = 3; i < src.v.size(); i += 11) src.v[i] = std::numeric_limits<float>::quiet_NaN();
  for (const auto& r : radii)
    for (bool max : {true, false}) {
      FloatImage out(w, h, -7.0f);
      if (max)
        Image_MaxFilter(&src.m, &out.m, r[0], r[1]);
      else
        Image_MinFilter(&src.m, &out.m, r[0], r[1]);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          float want = max ? 0.0f : 1.0f;
          for (int j = -r[1]; j <= r[1]; ++j)
            for (int i = -r[0]; i <= r[0]; ++i) {
              const float v = src.at(std::min(std::max(x + i, 0), w - 1), std::min(std::max(y + j, 0), h - 1));
              if (max ? v > want : v < want) want = v;
            }
          ASSERT_EQ(out.at(x, y), want) << (max ? "max" : "min") << " r " << r[0] << "," << r[1] << " at " << x
                                        << "," << y;
        }
    }
}

TEST(BorderFilters, OffsetMean) {
  FloatImage src = RandomImage(12, 9, 21), out(12, 9);
  // A single (0, 0) offset returns the source.
  const int32_t zero = 0;
  ASSERT_EQ(Image_OffsetMean(&src.m, &out.m, &zero, &zero, 1), 1);
  EXPECT_EQ(out.v, src.v);
  // A 3 x 5 box of offsets (any order) is the box mean.
  std::vector<int32_t> dx, dy;
  for (int y = 2; y >= -2; --y)
    for (int x = -1; x <= 1; ++x) {
      dx.push_back(x);
      dy.push_back(y);
    }
  ASSERT_EQ(Image_OffsetMean(&src.m, &out.m, dx.data(), dy.data(), static_cast<int32_t>(dx.size())), 1);
  FloatImage box(12, 9);
  Image_BoxMean(&src.m, &box.m, 1, 2);
  for (size_t i = 0; i < box.v.size(); ++i) EXPECT_NEAR(out.v[i], box.v[i], 2e-6f);
  // A wedge: rows of different runs, shifted off centre.
  const std::vector<int32_t> wx = {0, 0, 1, -1, 0, 1, 2}, wy = {-1, 0, 0, 1, 1, 1, 1};
  ASSERT_EQ(Image_OffsetMean(&src.m, &out.m, wx.data(), wy.data(), 7), 1);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 12; ++x) {
      double s = 0;
      for (int k = 0; k < 7; ++k)
        s += src.at(std::min(11, std::max(0, x + wx[k])), std::min(8, std::max(0, y + wy[k])));
      EXPECT_NEAR(out.at(x, y), s / 7, 2e-6) << x << "," << y;
    }
}

TEST(BorderFilters, OffsetMeanRejectsListsItCannotTake) {
  FloatImage src = RandomImage(6, 5, 4), out(6, 5, -3.0f);
  const std::vector<float> untouched = out.v;
  // 65 rows of offsets: past the 64 row sums.
  std::vector<int32_t> dx(65, 0), dy(65);
  for (int i = 0; i < 65; ++i) dy[i] = i - 32;
  EXPECT_EQ(Image_OffsetMean(&src.m, &out.m, dx.data(), dy.data(), 65), 0);
  // 64 rows are fine.
  EXPECT_EQ(Image_OffsetMean(&src.m, &out.m, dx.data(), dy.data(), 64), 1);
  out.v = untouched;
  out.m.data = out.v.data();
  struct Case {
    const char* name;
    std::vector<int32_t> dx, dy;
  } cases[] = {
      {"gap in a row", {-1, 1}, {0, 0}},
      {"row without offsets", {0, 0}, {-1, 1}},
      {"repeated offset", {0, 0, 1}, {0, 0, 0}},
      {"no offsets", {}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Image_OffsetMean(&src.m, &out.m, c.dx.data(), c.dy.data(), static_cast<int32_t>(c.dx.size())), 0)
        << c.name;
    EXPECT_EQ(out.v, untouched) << c.name;
  }
}

TEST(BorderFilters, ThreeChannelOperations) {
  std::vector<float> px = {0.5f, 0.2f, 0.9f, 0.1f, 0.7f, 0.05f};
  Matrix m{2, 1, px.data()};
  std::vector<float> mins(2);
  Matrix minM{2, 1, mins.data()};
  Image3_MinChannel(&m, &minM);
  EXPECT_EQ(mins, (std::vector<float>{0.2f, 0.05f}));
  std::vector<float> copy(6);
  Matrix c{2, 1, copy.data()};
  Image3_Copy(&m, &c);
  EXPECT_EQ(copy, px);
  Image3_Invert(&c);
  EXPECT_FLOAT_EQ(copy[0], 0.5f);
  EXPECT_FLOAT_EQ(copy[2], 0.1f);
  Image3_Invert(&c);
  for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(copy[i], px[i]);
}

}  // namespace

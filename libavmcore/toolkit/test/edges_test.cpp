#include "toolkit/edges.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "toolkit/code_path.h"
#include "toolkit/linear_filters.h"
#include "toolkit/smoothing.h"
#include "toolkit/thinning.h"

namespace {

TEST(DetectEdges, VerticalStepGivesAOnePixelLine) {
  const int w = 40, h = 30;
  std::vector<float> px(w * h);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) px[r * w + c] = c >= 20 ? 1.0f : 0.0f;
  Matrix src{w, h, px.data()};
  std::vector<uint8_t> e(w * h, 9);
  ImageU8 edges{w, h, e.data()};
  std::vector<float> work(Image_DetectEdgesWorkFloats(w, h));
  Image_DetectEdges(&src, work.data(), &edges, 10.0f, 60.0f);
  int lineCol = -1, total = 0;
  for (int r = 0; r < h; ++r) {
    int inRow = 0;
    for (int c = 0; c < w; ++c) {
      ASSERT_LE(e[r * w + c], 1);
      if (e[r * w + c]) {
        ++inRow;
        if (lineCol < 0) lineCol = c;
        EXPECT_EQ(c, lineCol) << "row " << r;
      }
    }
    EXPECT_LE(inRow, 1) << "row " << r;
    total += inRow;
  }
  EXPECT_TRUE(lineCol == 19 || lineCol == 20) << lineCol;
  EXPECT_GE(total, h - 4);  // the whole height but the border rows
  // The same with the work area allocated inside.
  std::vector<uint8_t> e2(w * h);
  ImageU8 edges2{w, h, e2.data()};
  Image_DetectEdges(&src, nullptr, &edges2, 10.0f, 60.0f);
  EXPECT_EQ(e, e2);
}

// Pixels marked per row of a vertical step's edge map.
std::vector<int> EdgeRows(const std::vector<float>& px, int w, int h, float low, float high) {
  Matrix src{w, h, const_cast<float*>(px.data())};
  std::vector<uint8_t> e(w * h);
  ImageU8 edges{w, h, e.data()};
  Image_DetectEdges(&src, nullptr, &edges, low, high);
  std::vector<int> rows(h, 0);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) rows[r] += e[r * w + c];
  return rows;
}

TEST(DetectEdges, WeakEdgesSurviveOnlyWhenLinkedToStrongOnes) {
  // A step whose contrast fades from 0.5 (strong) to 0.05 (weak) down the
  // image: the weak lower part is linked to the strong upper part.
  const int w = 30, h = 40;
  std::vector<float> ramp(w * h, 0.0f), weak(w * h, 0.0f);
  for (int r = 0; r < h; ++r)
    for (int c = 15; c < w; ++c) {
      ramp[r * w + c] = 0.5f - 0.45f * r / (h - 1);
      weak[r * w + c] = 0.08f;
    }
  // Gradient on the 0..255 scale: about 3 * contrast * 255, so strong (> 200)
  // above contrast 0.26, weak (> 20) down to 0.026.
  std::vector<int> rows = EdgeRows(ramp, w, h, 20.0f, 200.0f);
  for (int r = 1; r < h - 1; ++r) EXPECT_EQ(rows[r], 1) << "row " << r;
  rows = EdgeRows(weak, w, h, 20.0f, 200.0f);
  for (int r = 0; r < h; ++r) EXPECT_EQ(rows[r], 0) << "row " << r;
  rows = EdgeRows(weak, w, h, 20.0f, 60.0f);  // the same step is strong here
  for (int r = 1; r < h - 1; ++r) EXPECT_EQ(rows[r], 1) << "row " << r;
}

// The edge detector step by step on whole images, pixel by pixel as its
// definition reads: smoothing and Sobel over the whole image, squared
// magnitudes, suppression with one branch per direction, marking in row
// order, hysteresis from an explicit stack, thinning. The detector streams
// rows through small rings and skips blocks below the low level; its map
// must be the same byte for byte.
std::vector<uint8_t> ReferenceEdges(const std::vector<float>& px, int w, int h, float low, float high) {
  std::vector<uint8_t> map(static_cast<size_t>(w) * h, 0);
  if (w < 3 || h < 3) return map;
  Matrix src{w, h, const_cast<float*>(px.data())};
  std::vector<float> s(px.size()), gx(px.size(), 0.0f), gy(px.size(), 0.0f), m(px.size(), 0.0f);
  Matrix sm{w, h, s.data()}, gxm{w, h, gx.data()}, gym{w, h, gy.data()};
  Image_Smooth3x3(&src, &sm, 0);
  Image_Sobel(&sm, &gxm, &gym, 255.0f);
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x < w - 1; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      m[i] = std::fma(gx[i], gx[i], gy[i] * gy[i]);
    }
  const float low2 = low * low, high2 = high * high, t = 0.41421357f;
  std::vector<int> stack, weak;
  for (int y = 1; y < h - 1; ++y) {
    bool prevStrong = false;
    for (int x = 1; x < w - 1; ++x) {
      const int i = y * w + x;
      const float v = m[i];
      if (v <= low2) {
        prevStrong = false;
        continue;
      }
      const float ax = std::fabs(gx[i]), ay = std::fabs(gy[i]);
      bool keep;
      if (ay < t * ax) {
        keep = v > m[i - 1] && v >= m[i + 1];
      } else if (ay <= (t + 2.0f) * ax) {
        const int d = gx[i] * gy[i] >= 0.0f ? 1 : -1;
        keep = v > m[i - w - d] && v > m[i + w + d];
      } else {
        keep = v > m[i - w] && v >= m[i + w];
      }
      if (!keep) {
        prevStrong = false;
      } else if (v > high2 && !prevStrong && map[i - w] != 1) {
        map[i] = 1;
        stack.push_back(i);
        prevStrong = true;
      } else {
        map[i] = 2;
        weak.push_back(i);
      }
    }
  }
  while (!stack.empty()) {
    const int i = stack.back();
    stack.pop_back();
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        const int j = i + dy * w + dx;
        if (map[j] == 2) {
          map[j] = 1;
          stack.push_back(j);
        }
      }
  }
  for (int i : weak)
    if (map[i] == 2) map[i] = 0;
  ImageU8 out{w, h, map.data()};
  ImageU8_Thin(&out);
  return map;
}

// Pictures of every kind the detector meets: blocks and discs on a noisy
// background, pure noise, flat, fine checks, sparse dots, and values off
// the 0..1 range (NaN, infinities, negative, huge).
std::vector<float> EdgePicture(int kind, int w, int h, std::mt19937& rng) {
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<float> px(static_cast<size_t>(w) * h, 0.45f);
  switch (kind) {
    case 0:  // blocks and discs, a little noise
      for (int i = 0; i < 8; ++i) {
        const int x0 = static_cast<int>(rng() % w), y0 = static_cast<int>(rng() % h);
        const int bw = 1 + static_cast<int>(rng() % (w / 2 + 1)), bh = 1 + static_cast<int>(rng() % (h / 2 + 1));
        const float v = i % 2 ? 0.9f : 0.1f;
        for (int y = y0; y < std::min(h, y0 + bh); ++y)
          for (int x = x0; x < std::min(w, x0 + bw); ++x) px[y * w + x] = v;
        const float cx = static_cast<float>(rng() % w), cy = static_cast<float>(rng() % h), r = 2.0f + (rng() % 12);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) px[y * w + x] = i % 2 ? 0.05f : 0.95f;
      }
      for (float& v : px) v += 0.06f * u(rng) - 0.03f;
      break;
    case 1:
      for (float& v : px) v = u(rng);
      break;
    case 2:
      break;
    case 3:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) px[y * w + x] = ((x / 2 + y / 3) & 1) ? 0.8f : 0.2f;
      break;
    case 4:
      for (float& v : px) v = u(rng) < 0.08f ? 1.0f : 0.0f;
      break;
    default: {
      for (float& v : px) v = u(rng);
      const float odd[] = {NAN, INFINITY, -INFINITY, -0.0f, -2.0f, 1e30f, 1e-40f};
      for (int k = 0; k < 1 + w * h / 40; ++k) px[rng() % px.size()] = odd[rng() % 7];
      break;
    }
  }
  return px;
}

TEST(DetectEdges, MatchesTheStepByStepDefinitionByteForByte) {
  const float levels[][2] = {{30, 90}, {10, 60}, {4, 20}, {60, 200}, {0, 0}, {90, 30}, {20, 20}, {-5, 40}};
  // Tiny sizes, odd widths, widths around the detector's 16-pixel blocks.
  const int sizes[][2] = {{1, 1}, {2, 2}, {3, 3}, {4, 3}, {3, 5}, {5, 4}, {6, 6}, {7, 8}, {8, 7}, {17, 5},
                          {18, 9}, {19, 4}, {33, 21}, {34, 6}, {35, 13}, {50, 3}, {129, 23}, {160, 120}};
  // Both the 16-lane forms (where the CPU has AVX-512) and the eight-lane ones.
  for (int wide : {1, 0}) {
    CodePath_AllowWideForms(wide);
    std::mt19937 rng(30);
    for (const auto& sz : sizes) {
      const int w = sz[0], h = sz[1];
      for (int kind = 0; kind < 6; ++kind) {
        const std::vector<float> px = EdgePicture(kind, w, h, rng);
        Matrix src{w, h, const_cast<float*>(px.data())};
        std::vector<float> work(Image_DetectEdgesWorkFloats(w, h));
        for (const auto& lv : levels) {
          std::vector<uint8_t> e(static_cast<size_t>(w) * h, 7);
          ImageU8 edges{w, h, e.data()};
          Image_DetectEdges(&src, work.data(), &edges, lv[0], lv[1]);
          const std::vector<uint8_t> want = ReferenceEdges(px, w, h, lv[0], lv[1]);
          const auto diff = std::mismatch(e.begin(), e.end(), want.begin());
          ASSERT_TRUE(diff.first == e.end())
              << (CodePath_WideForms() ? "16" : "8") << " lanes " << w << "x" << h << " picture " << kind
              << " levels " << lv[0] << "/" << lv[1] << ": pixel " << (diff.first - e.begin()) << " is "
              << int(*diff.first) << ", expected " << int(*diff.second);
        }
      }
    }
  }
  CodePath_AllowWideForms(1);
}

TEST(NonMaxSuppress, PeakMarkedPlateauOncePerBlock) {
  const int w = 20, h = 20;
  std::vector<float> px(w * h, 0.0f);
  px[8 * w + 9] = 5.0f;
  px[8 * w + 10] = 4.0f;
  Matrix img{w, h, px.data()};
  std::vector<uint8_t> marks(w * h, 7);
  ImageU8 mk{w, h, marks.data()};
  Image_NonMaxSuppress(&img, &mk, 2, 1, 1.0f);
  int n = 0;
  for (uint8_t m : marks) n += m;
  EXPECT_EQ(n, 1);
  EXPECT_EQ(marks[8 * w + 9], 1);
  Image_NonMaxSuppress(&img, &mk, 2, 1, 5.0f);  // not above t
  n = 0;
  for (uint8_t m : marks) n += m;
  EXPECT_EQ(n, 0);

  std::fill(px.begin(), px.end(), 2.0f);
  Image_NonMaxSuppress(&img, &mk, 2, 1, 1.0f);
  // Blocks of 3 x 3 start at 3, 6, 9, 12, 15 (< 20 - 1 - 2): five per axis,
  // each marking its top-left pixel.
  n = 0;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      if (marks[r * w + c]) {
        ++n;
        EXPECT_EQ(r % 3, 0);
        EXPECT_EQ(c % 3, 0);
      }
  EXPECT_EQ(n, 25);
}

}  // namespace

namespace {

// Blurred straight step: brightness 0.2 + 0.6 * Phi(d / sigma), d the signed
// distance of (row, col) from the line through (r0, c0) with normal angle a.
std::vector<float> BlurredStep(int w, int h, double r0, double c0, double a, double sigma) {
  std::vector<float> px(w * h);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const double d = (c - c0) * std::cos(a) + (r - r0) * std::sin(a);
      px[r * w + c] = static_cast<float>(0.2 + 0.6 * 0.5 * (1 + std::erf(d / (std::sqrt(2.0) * sigma))));
    }
  return px;
}

struct RefineCase {
  double angleDeg;  // normal direction, from the column axis towards rows
  double startOffset;  // start this far from the edge along the normal
};

class RefineEdgePoint : public ::testing::TestWithParam<RefineCase> {};

// The kernels are tuned to camera-sharp edges (blur sigma about 0.5 to 0.8
// pixels); one step then lands within a tenth of a pixel from half a pixel
// away.
TEST_P(RefineEdgePoint, LandsOnABlurredStepWithinATenthOfAPixel) {
  const RefineCase k = GetParam();
  const int w = 48, h = 40;
  const double r0 = 20.37, c0 = 23.81, a = k.angleDeg * M_PI / 180.0;
  std::vector<float> px = BlurredStep(w, h, r0, c0, a, 0.6);
  Matrix img{w, h, px.data()};
  // x is the row and y the column, in the order the patch sampler takes them.
  float x = static_cast<float>(r0 + k.startOffset * std::sin(a));
  float y = static_cast<float>(c0 + k.startOffset * std::cos(a));
  ASSERT_EQ(Image_RefineEdgePoint(&x, &y, &img), 1);
  const double d = (y - c0) * std::cos(a) + (x - r0) * std::sin(a);
  EXPECT_LT(std::fabs(d), 0.1) << "row " << x << " col " << y;
}

INSTANTIATE_TEST_SUITE_P(Steps, RefineEdgePoint,
                         ::testing::Values(RefineCase{0, 0.45}, RefineCase{0, -0.45}, RefineCase{90, 0.3},
                                           RefineCase{30, -0.35}, RefineCase{135, 0.25},
                                           RefineCase{200, 0.4}));

TEST(RefineEdgePointWeak, FlatPatchOrOffImageLeavesThePoint) {
  const int w = 30, h = 30;
  std::vector<float> flat(w * h, 0.5f);
  Matrix img{w, h, flat.data()};
  float x = 15.2f, y = 14.7f;
  EXPECT_EQ(Image_RefineEdgePoint(&x, &y, &img), 0);
  EXPECT_EQ(x, 15.2f);
  EXPECT_EQ(y, 14.7f);
  x = 1.0f;  // the patch would leave the image: sampled as zeros, too weak
  EXPECT_EQ(Image_RefineEdgePoint(&x, &y, &img), 0);
  EXPECT_EQ(x, 1.0f);
}

}  // namespace

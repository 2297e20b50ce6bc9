#include "toolkit/edges.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

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

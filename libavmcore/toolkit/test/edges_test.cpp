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

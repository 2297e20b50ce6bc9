#include "toolkit/blobs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "toolkit/contours.h"

namespace {

// Float image from rows of '#' (dark, 0.0) and '.' (bright, 1.0).
struct Picture {
  int w, h;
  std::vector<float> px;
  Matrix m;
  explicit Picture(const std::vector<std::string>& rows)
      : w(static_cast<int>(rows[0].size())), h(static_cast<int>(rows.size())) {
    for (const std::string& r : rows)
      for (char c : r) px.push_back(c == '#' ? 0.0f : 1.0f);
    m = {w, h, px.data()};
  }
  Picture(int width, int height, float fill) : w(width), h(height), px(width * height, fill) {
    m = {w, h, px.data()};
  }
};

struct ListGuard {
  BlobList* list;
  ~ListGuard() { BlobList_Free(list); }
};

TEST(FindComponents, RegionsOfNinePixelsAreKeptSmallerOnesDropped) {
  Picture p({
      "..........",
      ".###......",
      ".###..##..",
      ".###..##..",
      "......##..",
      "......##..",
      "..........",
  });
  ListGuard g{BlobList_FindComponents(&p.m)};
  ASSERT_EQ(g.list->count, 1);  // the 3 x 3 square; the 2 x 4 box (8) goes
  const Blob& b = g.list->entries[0];
  EXPECT_EQ(b.topRow, 1);
  EXPECT_EQ(b.topCol, 1);
  EXPECT_EQ(b.pixelCount, 8);  // every pixel but the centre touches bright
  EXPECT_EQ(g.list->labels[2 * 10 + 2], -1);  // interior pixel
  EXPECT_EQ(g.list->labels[1 * 10 + 1], 0);
  EXPECT_EQ(g.list->labels[2 * 10 + 6], -1);  // dropped region
  ASSERT_EQ(b.contourCount, 8);
  // Shoelace area of the closed outline equals the fan area from its first
  // point; from another reference point it differs by the missing closing
  // triangle.
  double shoelace = 0;
  for (int i = 0; i < b.contourCount; ++i) {
    const PointI16& a = b.contour[i];
    const PointI16& c = b.contour[(i + 1) % b.contourCount];
    shoelace += static_cast<double>(c.row) * a.col - static_cast<double>(c.col) * a.row;
  }
  shoelace *= 0.5;
  EXPECT_NEAR(std::fabs(shoelace), 4.0, 1e-9);
  EXPECT_FLOAT_EQ(Blob_ContourArea(&b, b.contour[0].row, b.contour[0].col), static_cast<float>(shoelace));
  EXPECT_NE(Blob_ContourArea(&b, 0.0f, 0.0f), static_cast<float>(shoelace));
  EXPECT_FLOAT_EQ(Blob_ContourDiameter(&b), std::sqrt(8.0f));
}

TEST(FindComponents, CornerContactJoinsRegionsAndIteratorEnds) {
  Picture p({
      "...........",
      ".###.......",
      ".###.......",
      ".###.......",
      "....###....",
      "....###....",
      "....###....",
      ".......###.",
      ".......###.",
      ".......###.",
      "...........",
      "...........",
  });
  ListGuard g{BlobList_FindComponents(&p.m)};
  ASSERT_EQ(g.list->count, 1);  // three squares joined corner to corner
  EXPECT_EQ(g.list->entries[0].pixelCount, 24);
  EXPECT_NE(BlobList_Next(g.list), nullptr);
  EXPECT_EQ(BlobList_Next(g.list), nullptr);
  EXPECT_EQ(BlobList_Next(g.list), nullptr);
}

// Regions joined only further down (a U, a staircase reaching back to an
// earlier region) are one region each, and the entries come in the order of
// each region's first dark pixel in row-major order.
TEST(FindComponents, RegionsJoinedBelowAreOneAndComeInRowMajorOrder) {
  Picture p({
      "................",
      ".#..#.......###.",
      ".#..#.####..###.",
      ".#..#.####..###.",
      ".####.####...#..",
      "............#...",
      "..##########....",
      "..##########....",
      "................",
  });
  ListGuard g{BlobList_FindComponents(&p.m)};
  ASSERT_EQ(g.list->count, 3);
  // The U (arms at columns 1 and 4 joined on row 4); the block at the right
  // with the bar below, whose diagonal steps reach back up to it; the block
  // in the middle, whose first pixel comes after the right block's.
  EXPECT_EQ(g.list->entries[0].topRow, 1);
  EXPECT_EQ(g.list->entries[0].topCol, 1);
  EXPECT_EQ(g.list->entries[0].pixelCount, 10);
  EXPECT_EQ(g.list->entries[1].topRow, 1);
  EXPECT_EQ(g.list->entries[1].topCol, 12);
  EXPECT_EQ(g.list->entries[2].topRow, 2);
  EXPECT_EQ(g.list->entries[2].topCol, 6);
  EXPECT_EQ(g.list->labels[1 * 16 + 4], 0);
  EXPECT_EQ(g.list->labels[6 * 16 + 2], 1);
  EXPECT_EQ(g.list->labels[4 * 16 + 9], 2);
}

TEST(FindComponents, RegionAtTheImageEdgeIsClosedOffByTheBorder) {
  Picture p({
      "#####...",
      "#####...",
      "#####...",
      "#####...",
      "........",
  });
  ListGuard g{BlobList_FindComponents(&p.m)};
  ASSERT_EQ(g.list->count, 1);
  const Blob& b = g.list->entries[0];
  EXPECT_EQ(b.topRow, 1);
  EXPECT_EQ(b.topCol, 1);
  for (int i = 0; i < b.contourCount; ++i) {
    EXPECT_GE(b.contour[i].row, 1);
    EXPECT_GE(b.contour[i].col, 1);
  }
}

TEST(FindComponents, EmptyAndAllBrightImages) {
  Picture bright(20, 10, 1.0f);
  ListGuard a{BlobList_FindComponents(&bright.m)};
  EXPECT_EQ(a.list->count, 0);
  EXPECT_EQ(BlobList_Next(a.list), nullptr);
  Matrix none{0, 0, nullptr};
  ListGuard b{BlobList_FindComponents(&none)};
  EXPECT_EQ(b.list->count, 0);
}

TEST(FindComponents, DarkDiscCentroidAndMoments) {
  const float cr = 50.3f, cc = 61.7f, radius = 20.0f;
  Picture p(120, 100, 1.0f);
  for (int r = 0; r < p.h; ++r)
    for (int c = 0; c < p.w; ++c)
      if ((r - cr) * (r - cr) + (c - cc) * (c - cc) <= radius * radius) p.px[r * p.w + c] = 0.0f;
  ListGuard g{BlobList_FindComponents(&p.m)};
  ASSERT_EQ(g.list->count, 1);
  const Blob& b = g.list->entries[0];
  float row, col;
  Blob_Centroid(&b, &row, &col);
  EXPECT_NEAR(row, cr, 0.1f);
  EXPECT_NEAR(col, cc, 0.1f);
  double m[18] = {0};
  Blob_ContourMoments(&b, m);
  // The outline runs through the centres of the outermost pixels, about
  // half a pixel inside the disc edge.
  EXPECT_NEAR(m[0], M_PI * (radius - 0.5) * (radius - 0.5), 0.03 * m[0]);
  EXPECT_NEAR(m[10] / m[12], 1.0, 0.02);  // mu20 / mu02 of a round shape
  EXPECT_NEAR(m[11], 0.0, 0.01 * m[10]);
  // Moving the disc moves the centroid by the same amount: the moments do
  // not depend on where the coordinate origin is.
  Picture q(120, 100, 1.0f);
  for (int r = 0; r + 20 < q.h; ++r)
    for (int c = 0; c + 30 < q.w; ++c) q.px[(r + 20) * q.w + c + 30] = p.px[r * p.w + c];
  ListGuard g2{BlobList_FindComponents(&q.m)};
  ASSERT_EQ(g2.list->count, 1);
  float row2, col2;
  Blob_Centroid(&g2.list->entries[0], &row2, &col2);
  EXPECT_NEAR(row2 - row, 20.0f, 1e-3f);
  EXPECT_NEAR(col2 - col, 30.0f, 1e-3f);
  EXPECT_NEAR(m[17], std::sqrt(1.0 / m[0]), 1e-12);
  EXPECT_NEAR(Blob_ContourDiameter(&b), 2 * radius - 1, 1.0f);
  EXPECT_NEAR(std::fabs(Blob_ContourArea(&b, cr, cc)), m[0], 0.02 * m[0]);
}

TEST(FindComponents, MoreRegionsThanA16BitLabelHolds) {
  // 256 x 160 separate 3 x 3 squares: 40960 regions.
  const int w = 1024, h = 640;
  Picture p(w, h, 1.0f);
  for (int r = 1; r + 3 < h; r += 4)
    for (int c = 1; c + 3 < w; c += 4)
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) p.px[(r + y) * w + c + x] = 0.0f;
  ListGuard g{BlobList_FindComponents(&p.m)};
  ASSERT_EQ(g.list->count, 159 * 255);
  const Blob& last = g.list->entries[g.list->count - 1];
  EXPECT_EQ(g.list->labels[last.topRow * w + last.topCol], g.list->count - 1);
  EXPECT_EQ(last.contourCount, 8);
}

TEST(FindComponents, OneRegionWithThinSpursTracesWithoutOverrun) {
  // A comb: thin one-pixel teeth make the trace pass pixels repeatedly.
  std::vector<std::string> rows(12, std::string(25, '.'));
  for (int c = 2; c < 23; ++c) rows[2][c] = '#';
  for (int c = 2; c < 23; c += 2)
    for (int r = 3; r < 10; ++r) rows[r][c] = '#';
  Picture p(rows);
  ListGuard g{BlobList_FindComponents(&p.m)};
  ASSERT_EQ(g.list->count, 1);
  const Blob& b = g.list->entries[0];
  EXPECT_GT(b.contourCount, 0);
  for (int i = 0; i < b.contourCount; ++i)
    EXPECT_EQ(rows[b.contour[i].row][b.contour[i].col], '#');
}

// The byte form against the float form's box-mean road (bright pixels at
// 0.5, so the picture is not two-level): random masks of several densities
// (many small regions, noisy outlines), with bright bytes other than 1,
// sizes from one pixel up. The byte form traces over an outline mask and
// keeps no labels.
TEST(FindComponents, BytesGiveTheFloatFormsRegionsAndOutlines) {
  const int sizes[][2] = {{1, 1}, {3, 2}, {9, 1}, {17, 13}, {64, 40}, {131, 77}};
  uint32_t state = 7;
  for (const auto& sz : sizes)
    for (int percent : {10, 45, 70, 95}) {
      SCOPED_TRACE(std::to_string(sz[0]) + "x" + std::to_string(sz[1]) + " " + std::to_string(percent) + "%");
      const int w = sz[0], h = sz[1];
      Picture p(w, h, 1.0f);
      std::vector<uint8_t> bytes(static_cast<size_t>(w) * h);
      for (size_t i = 0; i < bytes.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const bool dark = static_cast<int>((state >> 8) % 100) < percent;
        p.px[i] = dark ? 0.0f : 0.5f;
        bytes[i] = dark ? 0 : static_cast<uint8_t>(1 + (state >> 24) % 255);
      }
      ImageU8 img{w, h, bytes.data()};
      ListGuard a{BlobList_FindComponents(&p.m)}, b{BlobList_FindComponentsU8(&img)};
      ASSERT_EQ(a.list->count, b.list->count);
      EXPECT_EQ(b.list->labels, nullptr);
      for (int i = 0; i < a.list->count; ++i) {
        const Blob& x = a.list->entries[i];
        const Blob& y = b.list->entries[i];
        EXPECT_EQ(x.topRow, y.topRow);
        EXPECT_EQ(x.topCol, y.topCol);
        EXPECT_EQ(x.pixelCount, y.pixelCount);
        ASSERT_EQ(x.contourCount, y.contourCount);
        for (int k = 0; k < x.contourCount; ++k) {
          EXPECT_EQ(x.contour[k].row, y.contour[k].row);
          EXPECT_EQ(x.contour[k].col, y.contour[k].col);
        }
      }
    }
}

TEST(TraceBoundaries, ClosedRingAroundABrightSquareShortChainsDropped) {
  Picture p(30, 24, 0.0f);
  for (int r = 5; r < 15; ++r)
    for (int c = 8; c < 18; ++c) p.px[r * p.w + c] = 1.0f;
  p.px[20 * p.w + 25] = 1.0f;  // lone bright pixel: a 4-point ring, dropped
  p.px[20 * p.w + 26] = 1.0f;
  ListGuard g{BlobList_TraceBoundaries(&p.m)};
  ASSERT_EQ(g.list->count, 1);
  const Blob& b = g.list->entries[0];
  EXPECT_EQ(b.pixelCount, 40);
  EXPECT_EQ(b.contourCount, 40);
  EXPECT_EQ(b.topRow, 4);
  EXPECT_EQ(b.topCol, 8);
  for (int i = 0; i < b.contourCount; ++i) {
    const PointI16& a = b.contour[i];
    const PointI16& n = b.contour[(i + 1) % b.contourCount];
    EXPECT_LE(std::abs(a.row - n.row), 1);
    EXPECT_LE(std::abs(a.col - n.col), 1);
  }
  EXPECT_EQ(BlobList_Next(g.list), &g.list->entries[0]);
  EXPECT_EQ(BlobList_Next(g.list), nullptr);
}

TEST(TraceBoundaries, OpenChainIsDiscarded) {
  // A bright bar through the whole image: its boundary runs are open
  // chains (they end at the border), so nothing is kept.
  Picture p(30, 12, 0.0f);
  for (int c = 0; c < 30; ++c)
    for (int r = 5; r < 7; ++r) p.px[r * p.w + c] = 1.0f;
  ListGuard g{BlobList_TraceBoundaries(&p.m)};
  EXPECT_EQ(g.list->count, 0);
}

}  // namespace

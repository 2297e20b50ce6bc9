#include "toolkit/region_tools.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<PointI32> Circle(int r) {
  std::vector<PointI32> pts(static_cast<size_t>(8 * r + 1));
  int32_t n = -1;
  Image_CirclePoints(r, pts.data(), &n);
  pts.resize(static_cast<size_t>(n));
  return pts;
}

TEST(CirclePoints, RadiusOneWalksTheFourAxisNeighbours) {
  // The axis neighbours lie exactly on the circle (cost 0), the diagonals do
  // not (cost 1), so the walk takes the four of them.
  std::vector<PointI32> pts = Circle(1);
  ASSERT_EQ(pts.size(), 4u);
  const int expect[4][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(pts[i].p0, expect[i][0]) << i;
    EXPECT_EQ(pts[i].p1, expect[i][1]) << i;
  }
}

TEST(CirclePoints, RadiusTwoWalksTheWholeRing) {
  EXPECT_EQ(Circle(2).size(), 12u);
}

TEST(CirclePoints, LargerRadiiCloseAConnectedRingOnTheCircle) {
  for (int r : {2, 5, 17, 100, 499}) {
    std::vector<PointI32> pts = Circle(r);
    ASSERT_GT(pts.size(), static_cast<size_t>(4 * r)) << r;
    EXPECT_EQ(pts[0].p0, 0);
    EXPECT_EQ(pts[0].p1, -r);
    std::set<std::pair<int, int>> seen;
    for (size_t i = 0; i < pts.size(); ++i) {
      const PointI32& a = pts[i];
      const PointI32& b = pts[(i + 1) % pts.size()];  // closes on the start
      EXPECT_LE(std::abs(a.p0 - b.p0), 1) << r << " at " << i;
      EXPECT_LE(std::abs(a.p1 - b.p1), 1) << r << " at " << i;
      EXPECT_NEAR(std::hypot(a.p0, a.p1), r, 0.71) << r << " at " << i;
      EXPECT_TRUE(seen.insert({a.p0, a.p1}).second) << "repeated point, r " << r;
    }
  }
}

TEST(CirclePoints, OutOfRangeRadiiGiveNoPoints) {
  PointI32 pts[8];
  int32_t n = -1;
  Image_CirclePoints(500, pts, &n);
  EXPECT_EQ(n, 0);
  Image_CirclePoints(-1, pts, &n);
  EXPECT_EQ(n, 0);
  Image_CirclePoints(0, pts, &n);
  EXPECT_EQ(n, 1);
}

TEST(DiscMask, RadiusOneIsAPlus) {
  float d[9];
  Matrix m{3, 3, d};
  for (float& v : d) v = 7.0f;
  Matrix_DiscMask(1, &m);
  const float expect[9] = {0, 1, 0, 1, 1, 1, 0, 1, 0};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(d[i], expect[i]) << i;
}

TEST(DiscMask, RadiusThreeCountsThePixelsWithinTheThreshold) {
  std::vector<float> d(49);
  Matrix m{7, 7, d.data()};
  Matrix_DiscMask(3, &m);
  int ones = 0;
  for (int dy = -3; dy <= 3; ++dy)
    for (int dx = -3; dx <= 3; ++dx) {
      const bool inside = dx * dx + dy * dy <= 10;  // (3.3)^2 = 10.89 -> 10
      EXPECT_EQ(d[(3 + dy) * 7 + 3 + dx], inside ? 1.0f : 0.0f);
      ones += inside;
    }
  EXPECT_EQ(ones, 37);
}

TEST(PointDistance, PythagoreanTriple) {
  EXPECT_EQ(Point_Distance({0, 0}, {3, 4}), 5.0f);
  EXPECT_EQ(Point_Distance({-2, 7}, {-2, 7}), 0.0f);
  EXPECT_FLOAT_EQ(Point_Distance({-100000, 0}, {100000, 0}), 200000.0f);
}

// Builds a mask and a dst of the same picture from rows of '#' and '.'.
struct Fixture {
  int w, h;
  std::vector<uint8_t> mask;
  std::vector<int32_t> dst;
  ImageU8 M;
  ImageI32 D;
  explicit Fixture(const std::vector<std::string>& rows)
      : w(static_cast<int>(rows[0].size())), h(static_cast<int>(rows.size())) {
    for (const std::string& r : rows)
      for (char c : r) {
        mask.push_back(c == '#');
        dst.push_back(c == '#' ? 9 : 0);
      }
    M = {w, h, mask.data()};
    D = {w, h, dst.data()};
  }
  std::string Row(int y) const {
    std::string s;
    for (int x = 0; x < w; ++x) s += dst[y * w + x] ? '#' : '.';
    return s;
  }
};

TEST(RemoveSmallRegions, ClearsRegionsUpToMaxSizeWithDiagonalLinks) {
  Fixture f({
      "#.....###",
      ".#....###",
      "......###",
      "##.......",
      "#......#.",
  });
  Image_RemoveSmallRegions(3, &f.D, &f.M);
  // The diagonal pair is one region of 2, the L one of 3, the single pixel
  // one of 1: all go. The 9-pixel block stays.
  EXPECT_EQ(f.Row(0), "......###");
  EXPECT_EQ(f.Row(1), "......###");
  EXPECT_EQ(f.Row(2), "......###");
  EXPECT_EQ(f.Row(3), ".........");
  EXPECT_EQ(f.Row(4), ".........");
}

TEST(RemoveSmallRegions, MaxSizeZeroChangesNothing) {
  Fixture f({"#..#", "....", ".##."});
  std::vector<int32_t> before = f.dst;
  Image_RemoveSmallRegions(0, &f.D, &f.M);
  EXPECT_EQ(f.dst, before);
}

TEST(RemoveSmallRegions, SmallRegionsAfterALargeOneAreStillRemoved) {
  // A 20 x 20 block (400 pixels, more than the fill's 255-point limit) comes
  // first in scan order; the small regions after it must still go, and the
  // block's own unfilled remainder must not be mistaken for small regions.
  std::vector<std::string> rows(24, std::string(30, '.'));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) rows[y][x] = '#';
  rows[5][25] = '#';
  rows[22][3] = '#';
  rows[22][4] = '#';
  Fixture f(rows);
  Image_RemoveSmallRegions(10, &f.D, &f.M);
  int left = 0;
  for (int32_t v : f.dst) left += v != 0;
  EXPECT_EQ(left, 400);
  EXPECT_EQ(f.dst[5 * 30 + 25], 0);
  EXPECT_EQ(f.dst[22 * 30 + 3], 0);
}

TEST(RemoveSmallRegionsAt, OnlySeededRegionsAreExamined) {
  Fixture f({"#...#", ".....", "##..#"});
  const uint32_t seeds[3][2] = {{0, 0}, {7, 7}, {2, 4}};  // the middle one is off the image
  Image_RemoveSmallRegionsAt(2, &f.D, &f.M, seeds, 3);
  EXPECT_EQ(f.Row(0), "....#");
  EXPECT_EQ(f.Row(2), "##...");
}

TEST(FloodFill, ClaimsAtMostMaxPointsMinusOne) {
  std::vector<uint8_t> mask(40 * 40, 1);
  FloodFillState s;
  s.width = 40;
  s.height = 40;
  s.mask = mask.data();
  s.maxPoints = 256;
  s.count = 1;
  s.rows[0] = 20;
  s.cols[0] = 20;
  mask[20 * 40 + 20] = 0;
  Image_FloodFill(&s, 20, 20);
  EXPECT_EQ(s.count, 255);
  int claimed = 0;
  for (uint8_t m : mask) claimed += m == 0;
  EXPECT_EQ(claimed, 255);
}

}  // namespace

#include <gtest/gtest.h>

#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/outline_corner.h"

namespace {

// Outline of the square rows/columns lo..hi, walked round once.
std::vector<PointI16> SquareOutline(int lo, int hi) {
  std::vector<PointI16> c;
  for (int x = lo; x < hi; ++x) c.push_back({static_cast<int16_t>(lo), static_cast<int16_t>(x)});
  for (int y = lo; y < hi; ++y) c.push_back({static_cast<int16_t>(y), static_cast<int16_t>(hi)});
  for (int x = hi; x > lo; --x) c.push_back({static_cast<int16_t>(hi), static_cast<int16_t>(x)});
  for (int y = hi; y > lo; --y) c.push_back({static_cast<int16_t>(y), static_cast<int16_t>(lo)});
  return c;
}

}  // namespace

TEST(OutlineCorner, PicksTheCornerOfTheQuadrantNearTheSeed) {
  std::vector<PointI16> c = SquareOutline(20, 60);
  Blob blob{20, 20, static_cast<int32_t>(c.size()), static_cast<int32_t>(c.size()), c.data()};
  // Seed on the outline's left side; quadrant 3 (down-right) reaches the
  // bottom-right corner.
  const float seed[2] = {40.0f, 20.0f};
  float best = 1000.0f, out[2] = {0, 0};
  ASSERT_EQ(1, Blob_FindCornerNear(&blob, seed, 3, 0, &best, out, 200.0f));
  EXPECT_EQ(60.0f, out[0]);
  EXPECT_EQ(60.0f, out[1]);
  EXPECT_LT(best, 1000.0f);
  // Already better than maxDist: nothing to do.
  float good = 1.0f;
  EXPECT_EQ(0, Blob_FindCornerNear(&blob, seed, 3, 0, &good, out, 200.0f));
}

TEST(OutlineCorner, SeedOutsideTheBoxByMoreThanFivePixelsGivesZero) {
  std::vector<PointI16> c = SquareOutline(20, 60);
  Blob blob{20, 20, static_cast<int32_t>(c.size()), static_cast<int32_t>(c.size()), c.data()};
  const float seed[2] = {40.0f, 14.0f};  // 6 pixels left of the box
  float best = 1000.0f, out[2] = {-1, -1};
  EXPECT_EQ(0, Blob_FindCornerNear(&blob, seed, 3, 0, &best, out, 200.0f));
  EXPECT_EQ(1000.0f, best);
  EXPECT_EQ(-1.0f, out[0]);
}

TEST(CornerSymmetry, ConstantPatchScoresZeroAndACornerScoresHigh) {
  std::vector<float> flat(15 * 15, 0.4f), corner(15 * 15);
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 15; ++x) corner[y * 15 + x] = ((x < 7) == (y < 7)) ? 1.0f : 0.0f;
  Matrix f{15, 15, flat.data()}, k{15, 15, corner.data()};
  const float centre[2] = {7.0f, 7.0f};
  EXPECT_EQ(0.0f, CornerSymmetryScore(0, &f, centre, 7.0f));
  EXPECT_EQ(0.0f, CornerSymmetryScore(1, &f, centre, 7.0f));
  EXPECT_EQ(0.0f, Patch_SymmetryScore(&f, centre, 7.0f));
  // Off the junction the point symmetry breaks.
  const float off[2] = {5.0f, 7.0f};
  EXPECT_GT(Patch_SymmetryScore(&k, centre, 5.0f), Patch_SymmetryScore(&k, off, 5.0f));
  EXPECT_GT(CornerSymmetryScore(1, &k, centre, 5.0f), 0.6f);
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "calibration/detect/quad_measures.h"
#include "calibration/detect/quad_search.h"
#include "mark_test_helpers.h"

namespace {

constexpr int kW = 640, kH = 480;

// Two markers (squares holding a square of the ground's shade) above, two
// plain squares of the same size below.
struct MarkerLayout {
  MarkScene scene;
  std::vector<std::vector<float>> markers;  // truth outer corners, grid order, (row, column)
  std::vector<std::vector<float>> plain;
};

MarkerLayout MakeMarkerLayout(const MarkCondition& c) {
  MarkerLayout L;
  L.scene = MarkConditionScene(c, kW, kH);
  const float side = 190.0f * c.scale;
  const float pos[4][2] = {{-330, -200}, {330, -200}, {-330, 230}, {330, 230}};
  for (int i = 0; i < 4; ++i) {
    std::vector<float> st = i < 2 ? MarkScene_AddNestedSquare(&L.scene, pos[i][0], pos[i][1], side, 0.5f, 8.0f, 30)
                                  : MarkScene_AddSquare(&L.scene, pos[i][0], pos[i][1], side, 8.0f, 30);
    std::vector<float> pts;
    EXPECT_TRUE(MarkScene_ProjectAll(L.scene, st, &pts));
    (i < 2 ? L.markers : L.plain).push_back(pts);
  }
  return L;
}

// Index of the truth quad nearest to the found one, and its error.
int NearestQuad(const float* q, const std::vector<std::vector<float>>& truth, double* err) {
  int best = -1;
  *err = 1e9;
  for (size_t i = 0; i < truth.size(); ++i) {
    const double e = QuadError(q, truth[i]);
    if (e < *err) {
      *err = e;
      best = static_cast<int>(i);
    }
  }
  return best;
}

class QuadSearch : public ::testing::Test {
 protected:
  LensModelScenes scenes_;
};

}  // namespace

TEST_F(QuadSearch, FindsNestedMarkersInGridOrderAndNotPlainSquares) {
  const std::vector<MarkCondition> conds = MarkConditions();
  for (size_t ci = 0; ci < conds.size(); ++ci) {
    const MarkCondition& c = conds[ci];
    SCOPED_TRACE(c.name + " model " + std::to_string(c.model));
    const MarkerLayout L = MakeMarkerLayout(c);
    FloatImage img;
    MarkScene_Render(L.scene, MarkConditionOptions(c, static_cast<uint32_t>(ci + 1)), &img);
    std::vector<float> out(8 * kMarkerQuadMax, -7.0f);
    const int32_t n = Chessboard_FindMarkerQuads(&img.m, 0, 0, out.data(), 5, 150, 7, 150);
    ASSERT_EQ(2, n);
    ErrorTally tally;
    std::vector<int> seen;
    for (int i = 0; i < n; ++i) {
      double e = 0.0;
      const int m = NearestQuad(&out[8 * i], L.markers, &e);
      double ePlain = 0.0;
      NearestQuad(&out[8 * i], L.plain, &ePlain);
      EXPECT_LT(e, OutlineCornerBound(c));
      EXPECT_GT(ePlain, 10.0);
      // Systematic offset, held where the picture is sharp: outline pixels
      // lie on average half a pixel inside each edge, 0.71 px inside along a
      // corner's diagonal, and the square is not displaced (measured outward
      // -0.65 to -0.32 px, shift up to 0.42 px). A whole-pixel slip, a
      // half-pixel slip of the coordinates or an outline taken on the
      // bright side of the edge leaves this band. Blur lets the threshold at
      // the local mean of dark square and bright ground grow the dark region
      // instead (measured outward up to +0.76 px, shift up to 0.99 px under
      // tilt), so the other conditions are only reported.
      const QuadBias bias = QuadSystematicError(&out[8 * i], L.markers[m]);
      if (c.blur == 0.0f) {
        EXPECT_GT(bias.outward, -1.0);
        EXPECT_LT(bias.outward, -0.1);
        EXPECT_LT(bias.shift, 0.5);
      }
      std::printf("[errors] marker quad bias %s model %d: outward %.3f shift %.3f px\n", c.name.c_str(), c.model,
                  bias.outward, bias.shift);
      seen.push_back(m);
      for (int k = 0; k < 4; ++k)
        tally.Add(std::hypot(out[8 * i + 2 * k] - L.markers[m][2 * k], out[8 * i + 2 * k + 1] - L.markers[m][2 * k + 1]));
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ((std::vector<int>{0, 1}), seen);
    PrintTally("marker quad corners", c.name, c.model, tally);
  }
}

namespace {

// A grey picture with dark axis-aligned rectangles painted in, and a little
// fixed noise as in a camera picture. At threshold offset 0 half of a flat
// noisy area falls below its mean and joins into large dark regions, so the
// plain quad searches here use an offset of 0.03.
struct Canvas {
  FloatImage img;
  uint32_t state = 12345;
  Canvas(int w, int h, float ground = 0.8f) {
    img.data.assign(static_cast<size_t>(w) * h, ground);
    img.m = Matrix{w, h, img.data.data()};
  }
  float Grain() {
    state = state * 1664525u + 1013904223u;
    return (static_cast<float>(state >> 8) / 16777216.0f - 0.5f) * 0.024f;
  }
  void Fill(int r0, int c0, int r1, int c1, float v) {
    for (int r = r0; r < r1; ++r)
      for (int c = c0; c < c1; ++c) img.data[static_cast<size_t>(r) * img.m.cols + c] = v;
  }
  Canvas& Noisy() {
    for (float& v : img.data) v += Grain();
    return *this;
  }
  // Dark square of side s at (r, c) holding a light one of side s / 2.
  void Marker(int r, int c, int s) {
    Fill(r, c, r + s, c + s, 0.1f);
    Fill(r + s / 4, c + s / 4, r + s / 4 + s / 2, c + s / 4 + s / 2, 0.8f);
  }
};

}  // namespace

TEST(QuadSearchRules, ListsQuadsLargestFirstInGridOrderWithinStrictSizeLimits) {
  Canvas cv(200, 120);
  cv.Fill(20, 20, 40, 40, 0.1f);     // side 20
  cv.Fill(20, 80, 50, 110, 0.1f);    // side 30
  cv.Fill(60, 140, 100, 180, 0.1f);  // side 40
  cv.Noisy();
  std::vector<float> out(8 * kQuadSearchMax, -7.0f);
  const int32_t n = Chessboard_FindQuads(&cv.img.m, 0, 1, 0, out.data(), 1, 0, 5, 100, 5, 100, 0.03f);
  ASSERT_EQ(3, n);
  float prev = 1e9f;
  for (int i = 0; i < n; ++i) {
    float maxSide = 0.0f;
    Quad_Measure(&out[8 * i], nullptr, &maxSide, nullptr, nullptr, nullptr);
    EXPECT_LE(maxSide, prev);
    prev = maxSide;
    // Top-left, top-right, bottom-left, bottom-right.
    const float* q = &out[8 * i];
    EXPECT_LT(q[0], q[4]);
    EXPECT_LT(q[1], q[3]);
    EXPECT_LT(q[2], q[6]);
    EXPECT_LT(q[5], q[7]);
  }
  // The 40-pixel square first: its outline pixels span 39.
  EXPECT_NEAR(60.0f, out[0], 1.0f);
  EXPECT_NEAR(140.0f, out[1], 1.0f);
  // Side limits are strict: a longest side of 39 px (the largest square's
  // outline) is not below 39.
  EXPECT_EQ(2, Chessboard_FindQuads(&cv.img.m, 0, 1, 0, out.data(), 1, 0, 5, 100, 5, 38.9f, 0.03f));
  EXPECT_EQ(0, Chessboard_FindQuads(&cv.img.m, 0, 1, 0, out.data(), 1, 0, 100, 200, 5, 100, 0.03f));
}

TEST(QuadSearchRules, DropsTheOuterThirdAwayFromTheSideOnlyWhenAsked) {
  Canvas cv(300, 100);
  cv.Fill(30, 20, 60, 50, 0.1f);    // left third
  cv.Fill(30, 130, 60, 160, 0.1f);  // middle
  cv.Fill(30, 240, 60, 270, 0.1f);  // right third
  cv.Noisy();
  std::vector<float> out(8 * kQuadSearchMax);
  EXPECT_EQ(3, Chessboard_FindQuads(&cv.img.m, 0, 1, 0, out.data(), 1, 0, 5, 100, 5, 100, 0.03f));
  ASSERT_EQ(2, Chessboard_FindQuads(&cv.img.m, 0, 1, 1, out.data(), 1, 0, 5, 100, 5, 100, 0.03f));
  for (int i = 0; i < 2; ++i) EXPECT_GT(out[8 * i + 1], 100.0f);
  ASSERT_EQ(2, Chessboard_FindQuads(&cv.img.m, 1, 1, 1, out.data(), 1, 0, 5, 100, 5, 100, 0.03f));
  for (int i = 0; i < 2; ++i) EXPECT_LT(out[8 * i + 1], 200.0f);
}

TEST(QuadSearchRules, KeepsAtMost64QuadsAndTheLargest) {
  Canvas cv(400, 400);
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < 8; ++j)
      cv.Fill(10 + 48 * j, 10 + 38 * i, 10 + 48 * j + 20 + 4 * (j % 3), 10 + 38 * i + 20, 0.1f);
  cv.Noisy();
  std::vector<float> out(8 * kQuadSearchMax);
  ASSERT_EQ(64, Chessboard_FindQuads(&cv.img.m, 0, 1, 0, out.data(), 1, 0, 5, 100, 5, 100, 0.03f));
  // 80 rectangles 20, 24 and 28 tall (30, 30 and 20 of them): the 64 kept
  // are every tall and middle one and 14 of the short ones, in that order.
  std::vector<float> sides(64);
  for (int i = 0; i < 64; ++i) Quad_Measure(&out[8 * i], nullptr, &sides[i], nullptr, nullptr, nullptr);
  EXPECT_TRUE(std::is_sorted(sides.rbegin(), sides.rend()));
  EXPECT_NEAR(27.0f, sides[0], 1.5f);
  EXPECT_NEAR(23.0f, sides[49], 1.5f);
  EXPECT_NEAR(19.0f, sides[63], 1.5f);
}

TEST(QuadSearchRules, MarkerVerificationWantsAnInnerSquareOfTheOtherShade) {
  Canvas cv(200, 100);
  cv.Marker(30, 30, 40);
  cv.Fill(30, 120, 70, 160, 0.1f);
  cv.Noisy();
  std::vector<float> out(8 * kMarkerQuadMax, -7.0f);
  ASSERT_EQ(1, Chessboard_FindMarkerQuads(&cv.img.m, 0, 0, out.data(), 5, 150, 7, 150));
  EXPECT_NEAR(30.0f, out[0], 1.0f);
  EXPECT_NEAR(30.0f, out[1], 1.0f);
  EXPECT_NEAR(69.0f, out[7], 1.0f);
  // Both inner modes accept it.
  EXPECT_TRUE(MarkerQuad_Verify(&cv.img.m, out.data(), 3));
  EXPECT_TRUE(MarkerQuad_Verify(&cv.img.m, out.data(), 6));
  const float plain[8] = {30, 120, 30, 159, 69, 120, 69, 159};
  EXPECT_FALSE(MarkerQuad_Verify(&cv.img.m, plain, 6));
  // A box only 6 pixels across fails before any search.
  const float narrow[8] = {30, 30, 30, 36, 69, 30, 69, 36};
  EXPECT_FALSE(MarkerQuad_Verify(&cv.img.m, narrow, 6));
  // Far too long for its width.
  const float sliver[8] = {10, 30, 10, 38, 90, 30, 90, 38};
  EXPECT_FALSE(MarkerQuad_Verify(&cv.img.m, sliver, 6));
}

TEST(QuadSearchRules, MarkerVerificationCutsTheBoxToTheImage) {
  Canvas cv(60, 60);
  cv.Marker(10, 10, 40);
  cv.Noisy();
  // Corners past every edge: only the part inside is read, at its true
  // offset, and the marker at the middle of it is still seen.
  const float wide[8] = {-5, -5, -5, 64, 64, -5, 64, 64};
  EXPECT_TRUE(MarkerQuad_Verify(&cv.img.m, wide, 6));
  const float over[8] = {10, 10, 10, 49, 49, 10, 49, 49};
  EXPECT_TRUE(MarkerQuad_Verify(&cv.img.m, over, 6));
  const float outside[8] = {200, 200, 200, 240, 240, 200, 240, 240};
  EXPECT_FALSE(MarkerQuad_Verify(&cv.img.m, outside, 6));
  const float nan[8] = {NAN, 10, 10, 49, 49, 10, 49, 49};
  EXPECT_FALSE(MarkerQuad_Verify(&cv.img.m, nan, 6));
}

TEST(QuadSearchRules, MarkerSearchDropsQuadsHoldingASizeableQuadAndHugeOnes) {
  // A dark square holding a light ring and a dark square 0.6 of its size:
  // the outer one holds a quad of its own shade and is dropped.
  Canvas cv(200, 120);
  cv.Fill(20, 20, 100, 100, 0.1f);
  cv.Fill(28, 28, 92, 92, 0.8f);
  cv.Fill(36, 36, 84, 84, 0.1f);
  cv.Noisy();
  std::vector<float> quads(8 * kQuadSearchMax);
  ASSERT_GE(Chessboard_FindQuads(&cv.img.m, 0, 0, 0, quads.data(), 1, 0, 5, 150, 7, 150, 0.0f), 2);
  std::vector<float> out(8 * kMarkerQuadMax, -7.0f);
  const int32_t n = Chessboard_FindMarkerQuads(&cv.img.m, 0, 0, out.data(), 5, 150, 7, 150);
  for (int i = 0; i < n; ++i) EXPECT_GT(out[8 * i], 25.0f) << "the outer square was kept";

  // A marker spanning more than two thirds of the picture's height.
  Canvas big(120, 100);
  big.Marker(10, 20, 80);
  big.Noisy();
  EXPECT_EQ(0, Chessboard_FindMarkerQuads(&big.img.m, 0, 0, out.data(), 5, 150, 7, 150));
  Canvas fits(200, 130);
  fits.Marker(10, 20, 80);
  fits.Noisy();
  EXPECT_EQ(1, Chessboard_FindMarkerQuads(&fits.img.m, 0, 0, out.data(), 5, 150, 7, 150));
}

TEST(QuadSearchRules, EmptyPicturesAndBadArgumentsGiveNothing) {
  Canvas cv(100, 80);
  cv.Noisy();
  std::vector<float> out(8 * kQuadSearchMax, -7.0f);
  for (int32_t i = 0; i < kMarkerScheduleSize; ++i)
    EXPECT_EQ(0, Chessboard_FindMarkerQuads(&cv.img.m, 0, i, out.data(), 5, 150, 7, 150));
  for (float v : out) EXPECT_EQ(-7.0f, v);
  cv.Marker(20, 20, 40);
  cv.Noisy();
  EXPECT_EQ(0, Chessboard_FindMarkerQuads(&cv.img.m, 0, -1, out.data(), 5, 150, 7, 150));
  EXPECT_EQ(0, Chessboard_FindMarkerQuads(&cv.img.m, 0, kMarkerScheduleSize, out.data(), 5, 150, 7, 150));
  EXPECT_EQ(0, Chessboard_FindMarkerQuads(nullptr, 0, 0, out.data(), 5, 150, 7, 150));
  Matrix empty{0, 0, nullptr};
  EXPECT_EQ(0, Chessboard_FindQuads(&empty, 0, 1, 0, out.data(), 1, 0, 0, 1000, 0, 1000, 0.0f));
}

TEST(QuadSearchRules, EveryScheduleEntryFindsAClearMarker) {
  Canvas cv(160, 120);
  cv.Marker(30, 40, 48);
  cv.Noisy();
  std::vector<float> out(8 * kMarkerQuadMax);
  for (int32_t i = 0; i < kMarkerScheduleSize; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(1, Chessboard_FindMarkerQuads(&cv.img.m, 0, i, out.data(), 5, 150, 7, 150));
    // Offsets below 0 darken the flat ground, and the bright halo round the
    // marker can come out as a second enclosing outline.
    const int32_t n = Chessboard_FindMarkerQuadsAM(&cv.img.m, 1, i, out.data(), 5, 150, 7, 150);
    ASSERT_GE(n, 1);
    bool marker = false;
    for (int32_t k = 0; k < n; ++k) marker = marker || (std::fabs(out[8 * k] - 30.0f) < 2.0f && std::fabs(out[8 * k + 7] - 87.0f) < 2.0f);
    EXPECT_TRUE(marker);
  }
}

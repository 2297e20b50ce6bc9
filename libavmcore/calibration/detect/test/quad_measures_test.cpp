#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "calibration/detect/quad_measures.h"
#include "calibration/detect/quad_search.h"
#include "mark_test_helpers.h"

TEST(QuadMeasure, SidesSpreadAndStepsOfExampleQuads) {
  // Grid order: outline 0, 1, 3, 2. An upright 10 x 20 rectangle.
  const float rect[8] = {0, 0, 0, 20, 10, 0, 10, 20};
  float lo = 0, hi = 0, spread = 0, rs = 0, cs = 0;
  Quad_Measure(rect, &lo, &hi, &spread, &rs, &cs);
  EXPECT_FLOAT_EQ(10.0f, lo);
  EXPECT_FLOAT_EQ(20.0f, hi);
  EXPECT_FLOAT_EQ(10.0f, rs);
  EXPECT_FLOAT_EQ(20.0f, cs);
  // Apex P1 (|P0 - P3| = |P1 - P2|): directions to P0 (0), P2 (atan2(-10,
  // 20)) and P3 (-pi/2); the largest difference is pi/2.
  EXPECT_NEAR(1.5707963f, spread, 1e-5f);
  // A diamond: apex P0 when its diagonal P0-P3 is the longer one.
  const float diamond[8] = {0, 10, 10, 0, 10, 20, 30, 10};
  Quad_Measure(diamond, &lo, &hi, &spread, &rs, &cs);
  EXPECT_NEAR(std::sqrt(200.0f), lo, 1e-4f);
  EXPECT_NEAR(std::sqrt(500.0f), hi, 1e-4f);
  EXPECT_FLOAT_EQ(20.0f, rs);
  EXPECT_FLOAT_EQ(10.0f, cs);
  // From P0 = (0, 10): P1 at atan2(-10, 10), P2 at atan2(-10, -10), P3 at -pi/2.
  EXPECT_NEAR(std::fabs(std::atan2(-10.0f, 10.0f) - std::atan2(-10.0f, -10.0f)), spread, 1e-5f);
  // All outputs null: nothing to see, nothing touched.
  Quad_Measure(rect, nullptr, nullptr, nullptr, nullptr, nullptr);
  // A point: all sides 0.
  const float dot[8] = {5, 5, 5, 5, 5, 5, 5, 5};
  Quad_Measure(dot, &lo, &hi, &spread, &rs, &cs);
  EXPECT_EQ(0.0f, lo);
  EXPECT_EQ(0.0f, hi);
  EXPECT_EQ(0.0f, spread);
}

TEST(QuadMeasure, EnclosureNeedsStrictInsideAndTheRatio) {
  const float outer[8] = {10, 10, 10, 50, 50, 10, 50, 50};
  const float half[8] = {20, 20, 20, 40, 40, 20, 40, 40};      // 0.5 of the extent
  const float small[8] = {25, 25, 25, 35, 35, 25, 35, 35};     // 0.25
  const float onEdge[8] = {10, 20, 10, 40, 40, 20, 40, 40};    // a corner on the top edge
  const float out[8] = {20, 20, 20, 60, 40, 20, 40, 60};       // sticks out
  EXPECT_TRUE(Quad_EnclosesQuad(half, outer, 0.38f));
  EXPECT_TRUE(Quad_EnclosesQuad(half, outer, 0.5f));
  EXPECT_FALSE(Quad_EnclosesQuad(half, outer, 0.51f));
  EXPECT_FALSE(Quad_EnclosesQuad(small, outer, 0.38f));
  EXPECT_FALSE(Quad_EnclosesQuad(onEdge, outer, 0.1f));
  EXPECT_FALSE(Quad_EnclosesQuad(out, outer, 0.1f));
  EXPECT_FALSE(Quad_EnclosesQuad(outer, half, 0.1f));
}

TEST(QuadMeasure, PermutationsOfTheFourCorners) {
  const float base[8] = {0, 1, 10, 11, 20, 21, 30, 31};
  const int expect[4][4] = {{0, 1, 2, 3}, {1, 3, 0, 2}, {2, 0, 3, 1}, {3, 2, 1, 0}};
  for (int k = 0; k < 4; ++k) {
    float p[8];
    std::copy(base, base + 8, p);
    Quad_PermuteCorners(p, k);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(base[2 * expect[k][i]], p[2 * i]) << k;
      EXPECT_EQ(base[2 * expect[k][i] + 1], p[2 * i + 1]) << k;
    }
  }
  // k = 1 turns a grid-ordered quad a quarter turn; four turns restore it.
  float p[8];
  std::copy(base, base + 8, p);
  for (int i = 0; i < 4; ++i) Quad_PermuteCorners(p, 1);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(base[i], p[i]);
  Quad_PermuteCorners(p, 7);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(base[i], p[i]);
}

namespace {

class MarkerQuadsAM : public ::testing::Test {
 protected:
  LensModelScenes scenes_;
};

}  // namespace

// The angle measurement's search on rendered markers: the outer square of
// each marker comes back (the enclosing outline), plain squares do not.
// Outline corners are whole pixels of the dark region's outline, inside its
// edge: held to the outline bound of the quad search (measured up to 1.14 px
// head-on, 0.95 far, 1.72 under 45 degrees of tilt with blur), and on sharp
// pictures to the same systematic band (measured outward -0.65 to -0.32 px).
TEST_F(MarkerQuadsAM, FindsMarkersAndNotPlainSquaresAcrossConditions) {
  const std::vector<MarkCondition> conds = MarkConditions();
  for (size_t ci = 0; ci < conds.size(); ++ci) {
    const MarkCondition& c = conds[ci];
    SCOPED_TRACE(c.name + " model " + std::to_string(c.model));
    MarkScene scene = MarkConditionScene(c, 640, 480);
    const float side = 190.0f * c.scale;
    std::vector<std::vector<float>> markers;
    for (float s : {-330.0f, 330.0f}) {
      std::vector<float> pts;
      EXPECT_TRUE(MarkScene_ProjectAll(scene, MarkScene_AddNestedSquare(&scene, s, -200, side, 0.5f, 8.0f, 30), &pts));
      markers.push_back(pts);
      MarkScene_AddSquare(&scene, s, 230, side, 8.0f, 30);
    }
    FloatImage img;
    MarkScene_Render(scene, MarkConditionOptions(c, static_cast<uint32_t>(ci + 1)), &img);
    // The angle measurement walks its schedule until markers turn up.
    std::vector<float> out(8 * kMarkerQuadMax, -7.0f);
    int32_t n = 0, index = 0;
    for (; index < kMarkerScheduleSize && n == 0; ++index)
      n = Chessboard_FindMarkerQuadsAM(&img.m, 1, index, out.data(), 5, 150, 7, 150);
    ASSERT_EQ(2, n);
    std::printf("[errors] AM marker quads found at schedule entry %d\n", index - 1);
    ErrorTally tally;
    for (int i = 0; i < n; ++i) {
      const double e0 = QuadError(&out[8 * i], markers[0]), e1 = QuadError(&out[8 * i], markers[1]);
      const std::vector<float>& m = e0 < e1 ? markers[0] : markers[1];
      EXPECT_LT(std::min(e0, e1), OutlineCornerBound(c));
      const QuadBias bias = QuadSystematicError(&out[8 * i], m);
      if (c.blur == 0.0f) {
        EXPECT_GT(bias.outward, -1.0);
        EXPECT_LT(bias.outward, -0.1);
        EXPECT_LT(bias.shift, 0.5);
      }
      std::printf("[errors] AM marker quad bias %s model %d: outward %.3f shift %.3f px\n", c.name.c_str(), c.model,
                  bias.outward, bias.shift);
      for (int k = 0; k < 4; ++k)
        tally.Add(std::hypot(out[8 * i + 2 * k] - m[2 * k], out[8 * i + 2 * k + 1] - m[2 * k + 1]));
    }
    PrintTally("AM marker quad corners", c.name, c.model, tally);
  }
}

TEST(MarkerQuadsAMRules, OneQuadAloneIsNoMarkerAndBadIndexesGiveNothing) {
  std::vector<float> data(120 * 100, 0.8f);
  uint32_t st = 7;
  for (float& v : data) {
    st = st * 1664525u + 1013904223u;
    v += (static_cast<float>(st >> 8) / 16777216.0f - 0.5f) * 0.024f;
  }
  for (int r = 30; r < 70; ++r)
    for (int c = 40; c < 80; ++c) data[r * 120 + c] = 0.1f;
  Matrix m{120, 100, data.data()};
  std::vector<float> out(8 * kMarkerQuadMax, -7.0f);
  EXPECT_EQ(0, Chessboard_FindMarkerQuadsAM(&m, 1, 0, out.data(), 5, 150, 7, 150));
  EXPECT_EQ(0, Chessboard_FindMarkerQuadsAM(&m, 1, 14, out.data(), 5, 150, 7, 150));
  EXPECT_EQ(0, Chessboard_FindMarkerQuadsAM(&m, 1, -1, out.data(), 5, 150, 7, 150));
  for (float v : out) EXPECT_EQ(-7.0f, v);
}

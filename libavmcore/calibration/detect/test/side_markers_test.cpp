#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "calibration/detect/side_markers.h"
#include "mark_test_helpers.h"

namespace {

constexpr int kW = 768, kH = 432;

class SideMarkers : public ::testing::Test {
 protected:
  LensModelScenes scenes_;
};

// Picture order of a square's corners from the grid order (top-left,
// top-right, bottom-left, bottom-right) of the truth: the left marker is
// read from its lower-left corner round by lower-right, the right one from
// its lower-right corner round by upper-right.
std::vector<float> LeftOrder(const std::vector<float>& g) {
  return {g[4], g[5], g[6], g[7], g[2], g[3], g[0], g[1]};
}
std::vector<float> RightOrder(const std::vector<float>& g) {
  return {g[6], g[7], g[2], g[3], g[0], g[1], g[4], g[5]};
}

double OrderedError(const float* got, const std::vector<float>& truth) { return QuadError(got, truth); }

}  // namespace

// A board in the middle with a black square either side of it; the board's
// corners give the references.
TEST_F(SideMarkers, FindsTheSquaresBesideABoardInOrder) {
  const std::vector<MarkCondition> conds = MarkConditions();
  for (size_t ci = 0; ci < conds.size(); ++ci) {
    const MarkCondition& c = conds[ci];
    SCOPED_TRACE(c.name + " model " + std::to_string(c.model));
    MarkScene scene = MarkConditionScene(c, kW, kH);
    const float sq = 80.0f * c.scale;
    const std::vector<float> board = MarkScene_AddChessboard(&scene, -3 * sq, -2 * sq, 6, 4, sq, 30);
    std::vector<float> gl, gr, boardPx;
    ASSERT_TRUE(MarkScene_ProjectAll(scene, MarkScene_AddSquare(&scene, -3 * sq - 1.6f * sq, 0, 1.3f * sq, 0, 30), &gl));
    ASSERT_TRUE(MarkScene_ProjectAll(scene, MarkScene_AddSquare(&scene, 3 * sq + 1.6f * sq, 0, 1.3f * sq, 0, 30), &gr));
    ASSERT_TRUE(MarkScene_ProjectAll(scene, board, &boardPx));
    float minC = 20000, minCRow = 0, maxC = 0, maxCRow = 0, minR = 20000, maxR = 0;
    for (size_t i = 0; i < boardPx.size(); i += 2) {
      if (boardPx[i + 1] < minC) {
        minC = boardPx[i + 1];
        minCRow = boardPx[i];
      }
      if (boardPx[i + 1] > maxC) {
        maxC = boardPx[i + 1];
        maxCRow = boardPx[i];
      }
      minR = std::min(minR, boardPx[i]);
      maxR = std::max(maxR, boardPx[i]);
    }
    FloatImage img;
    MarkScene_Render(scene, MarkConditionOptions(c, static_cast<uint32_t>(ci + 1)), &img);
    std::vector<float> out(16, -7.0f);
    ASSERT_EQ(1, Chessboard_FindSideQuads(&img.m, out.data(), 1, minC, minCRow, maxC, maxCRow, minR, maxR));
    const double el = OrderedError(out.data(), LeftOrder(gl)), er = OrderedError(out.data() + 8, RightOrder(gr));
    std::printf("[errors] side squares %s model %d: left %.3f right %.3f px\n", c.name.c_str(), c.model, el, er);
    // Whole outline pixels, no sub-pixel step: measured up to 1.65 px (1.82
    // under 45 degrees of tilt).
    const double limit = c.tiltDeg >= 45.0f ? 2.4 : 2.0;
    EXPECT_LT(el, limit);
    EXPECT_LT(er, limit);
    // An empty board point set can place no marker (the whole schedule
    // runs: once is enough).
    if (ci == 0) {
      EXPECT_EQ(0, Chessboard_FindSideQuads(&img.m, out.data(), 1, 20000, 0, 0, 0, 20000, 0));
    }
  }
}

TEST_F(SideMarkers, NestedAndLowerMarkerPairs) {
  const std::vector<MarkCondition> conds = MarkConditions();
  for (size_t ci = 0; ci < conds.size(); ++ci) {
    const MarkCondition& c = conds[ci];
    SCOPED_TRACE(c.name + " model " + std::to_string(c.model));
    MarkScene scene = MarkConditionScene(c, kW, kH);
    const float side = 230.0f * c.scale;
    std::vector<float> lo, ro, li, ri;
    ASSERT_TRUE(MarkScene_ProjectAll(scene, MarkScene_AddNestedSquare(&scene, -420, -60, side, 0.5f, 0, 30), &lo));
    ASSERT_TRUE(MarkScene_ProjectAll(scene, MarkScene_AddNestedSquare(&scene, 420, -60, side, 0.5f, 0, 30), &ro));
    const float h = side * 0.25f;
    ASSERT_TRUE(MarkScene_ProjectAll(scene, {-420 - h, -60 - h, -420 + h, -60 - h, -420 - h, -60 + h, -420 + h, -60 + h}, &li));
    ASSERT_TRUE(MarkScene_ProjectAll(scene, {420 - h, -60 - h, 420 + h, -60 - h, 420 - h, -60 + h, 420 + h, -60 + h}, &ri));
    FloatImage img;
    MarkScene_Render(scene, MarkConditionOptions(c, static_cast<uint32_t>(ci + 1)), &img);
    std::vector<float> out(32, -7.0f);
    int32_t found = Chessboard_FindNestedMarkerPair(&img.m, out.data(), 0);
    if (found == 0) found = Chessboard_FindNestedMarkerPair(&img.m, out.data(), 2);
    ASSERT_EQ(1, found);
    const double e[4] = {QuadError(&out[0], LeftOrder(lo)), QuadError(&out[8], RightOrder(ro)),
                         QuadError(&out[16], LeftOrder(li)), QuadError(&out[24], RightOrder(ri))};
    std::printf("[errors] nested pair %s model %d: outer %.3f %.3f inner %.3f %.3f px\n", c.name.c_str(), c.model,
                e[0], e[1], e[2], e[3]);
    // Outer corners: outline pixels of the dark square, as for the other
    // squares. Inner corners: outline pixels of the light square, found as
    // the dark region of the inverted picture, so inside its edge (sqrt(2)
    // px at most at a corner). The 3 x 3 mean before the threshold leaves a
    // right-angled corner pixel 4/9 of the square's level against 6/9 along
    // an edge, and the threshold (the local mean, mostly the dark ring)
    // drops it: a further pixel along the diagonal, 2 sqrt(2) = 2.83 px in
    // all (measured 1.36 to 1.86). Blur adds 0.77 s' sin(45 deg) / sin(a / 2)
    // with s' = sqrt(s^2 + 2/3) (the 3 x 3 mean) and a the corner angle,
    // 2 atan(cos t) under a tilt t: bound 3.82 px far (measured up to 3.36),
    // 4.37 under 45 degrees (measured up to 4.27), plus 0.2 px for noise.
    const bool tilted = c.tiltDeg >= 45.0f;
    const double halfAngle = std::atan(std::cos(c.tiltDeg * M_PI / 180.0));
    const double innerLimit = 2.0 * std::sqrt(2.0) +
                              0.77 * std::sqrt(c.blur * c.blur + 2.0 / 3.0) * std::sin(M_PI / 4.0) /
                                  std::sin(halfAngle) * (c.blur > 0.0f ? 1.0 : 0.0) +
                              0.2;
    EXPECT_LT(e[0], tilted ? 3.2 : 1.8);
    EXPECT_LT(e[1], tilted ? 3.2 : 1.8);
    EXPECT_LT(e[2], innerLimit);
    EXPECT_LT(e[3], innerLimit);
    // The inner squares come out smaller than drawn, never larger (an
    // outline on the ring's side of the edge would), and in place: the
    // corners recede evenly (measured outward -3.0 to -1.2 px, centre shift
    // under 0.5 px).
    for (int k = 0; k < 2; ++k) {
      const QuadBias b = QuadSystematicError(&out[16 + 8 * k], k == 0 ? LeftOrder(li) : RightOrder(ri));
      std::printf("[errors] nested pair inner bias %s model %d: outward %.3f shift %.3f px\n", c.name.c_str(),
                  c.model, b.outward, b.shift);
      EXPECT_LT(b.outward, -0.3);
      EXPECT_LT(b.shift, 0.75);
    }
  }
}

TEST_F(SideMarkers, LowerMarkerPairNearTheLowerThird) {
  for (int model = 1; model <= 4; ++model) {
    SCOPED_TRACE(model);
    BoardSceneSpec v;
    v.model = model;
    v.width = kW;
    v.height = kH;
    MarkScene scene = MarkScene_Make(v);
    std::vector<float> gl, gr;
    ASSERT_TRUE(MarkScene_ProjectAll(scene, MarkScene_AddSquare(&scene, -380, 250, 240, 0, 30), &gl));
    ASSERT_TRUE(MarkScene_ProjectAll(scene, MarkScene_AddSquare(&scene, 380, 250, 240, 0, 30), &gr));
    FloatImage img;
    RenderOptions o;
    o.blurSigma = 0.8f;
    o.noiseSigma = 2.0f;
    MarkScene_Render(scene, o, &img);
    std::vector<float> out(16, -7.0f);
    ASSERT_EQ(1, Chessboard_FindLowerMarkerPair(&img.m, out.data(), 1, 40.0f));
    const double el = QuadError(out.data(), LeftOrder(gl)), er = QuadError(out.data() + 8, RightOrder(gr));
    std::printf("[errors] lower pair model %d: left %.3f right %.3f px\n", model, el, er);
    EXPECT_LT(el, 1.6);
    EXPECT_LT(er, 1.6);
    // Squares smaller than the smallest side asked for are not markers.
    if (model == 1) {
      EXPECT_EQ(0, Chessboard_FindLowerMarkerPair(&img.m, out.data(), 1, 200.0f));
    }
  }
}

TEST(SideMarkerRules, EmptyPicturesFindNothing) {
  std::vector<float> flat(200 * 150, 0.7f);
  const Matrix m{200, 150, flat.data()};
  std::vector<float> out(32, -7.0f);
  EXPECT_EQ(0, Chessboard_FindSideQuads(&m, out.data(), 1, 100, 75, 120, 75, 50, 100));
  EXPECT_EQ(0, Chessboard_FindSideQuadsInverted(&m, out.data(), 100, 75, 120, 75, 50, 100));
  EXPECT_EQ(0, Chessboard_FindNestedMarkerPair(&m, out.data(), 0));
  EXPECT_EQ(0, Chessboard_FindLowerMarkerPair(&m, out.data(), 0, 10));
  for (float v : out) EXPECT_EQ(-7.0f, v);
  EXPECT_EQ(0, Chessboard_FindNestedMarkerPair(nullptr, out.data(), 0));
}

TEST_F(SideMarkers, InvertedSearchFindsLightSquares) {
  BoardSceneSpec v;
  v.model = 2;
  v.width = 1280;
  v.height = 720;
  MarkScene scene = MarkScene_Make(v, 50);
  std::vector<float> gl, gr;
  ASSERT_TRUE(MarkScene_ProjectAll(scene, MarkScene_AddSquare(&scene, -450, 0, 260, 0, 220), &gl));
  ASSERT_TRUE(MarkScene_ProjectAll(scene, MarkScene_AddSquare(&scene, 450, 0, 260, 0, 220), &gr));
  FloatImage img;
  RenderOptions o;
  o.noiseSigma = 2.0f;
  MarkScene_Render(scene, o, &img);
  std::vector<float> out(16, -7.0f);
  // The board between them: columns 560 to 720 of rows 330 to 390.
  ASSERT_EQ(1, Chessboard_FindSideQuadsInverted(&img.m, out.data(), 560, 360, 720, 360, 300, 420));
  EXPECT_LT(QuadError(out.data(), LeftOrder(gl)), 1.6);
  EXPECT_LT(QuadError(out.data() + 8, RightOrder(gr)), 1.6);
}

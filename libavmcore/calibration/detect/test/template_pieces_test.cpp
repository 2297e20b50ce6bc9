#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "calibration/detect/contour_shapes.h"
#include "calibration/detect/spot_junctions.h"
#include "calibration/detect/template_corner_pieces.h"
#include "mark_test_helpers.h"

namespace {

// A grey patch with checker crosses: squares of side s meeting at each
// cross, upper-left and lower-right dark (or the other diagonal when flip).
struct Patch {
  FloatImage img;
  Patch(int w, int h) {
    img.data.assign(static_cast<size_t>(w) * h, 0.8f);
    img.m = Matrix{w, h, img.data.data()};
  }
  void Rect(float r0, float c0, float r1, float c1, float v) {
    for (int y = 0; y < img.m.rows; ++y)
      for (int x = 0; x < img.m.cols; ++x) {
        // Area-weighted coverage of pixel (y, x) (centre at integers).
        const float cy = std::max(0.0f, std::min(y + 0.5f, r1) - std::max(y - 0.5f, r0));
        const float cx = std::max(0.0f, std::min(x + 0.5f, c1) - std::max(x - 0.5f, c0));
        float& p = img.data[static_cast<size_t>(y) * img.m.cols + x];
        p = p * (1.0f - cy * cx) + v * cy * cx;
      }
  }
  void Cross(float r, float c, float s, bool flip) {
    if (!flip) {
      Rect(r - s, c - s, r, c, 0.15f);
      Rect(r, c, r + s, c + s, 0.15f);
    } else {
      Rect(r - s, c, r, c + s, 0.15f);
      Rect(r, c - s, r + s, c, 0.15f);
    }
  }
};

}  // namespace

TEST(TemplatePieces, SingleCornerOnlyWhenItIsAlone) {
  Patch one(80, 80);
  one.Cross(40.3f, 38.6f, 16, false);
  float out[4];
  ASSERT_EQ(1, FindSingleTemplateCorner(&one.img.m, out, 0.07f, 0.07f));
  EXPECT_NEAR(40.3f, out[0], 1.0f);
  EXPECT_NEAR(38.6f, out[1], 1.0f);
  Patch two(120, 80);
  two.Cross(40, 35, 14, false);
  two.Cross(40, 85, 14, false);
  EXPECT_EQ(0, FindSingleTemplateCorner(&two.img.m, out, 0.07f, 0.07f));
  Patch none(80, 80);
  EXPECT_EQ(0, FindSingleTemplateCorner(&none.img.m, out, 0.07f, 0.07f));
}

TEST(TemplatePieces, PairsAtTheExpectedOffsetOfEqualPolarity) {
  // Two crosses 50 rows apart in one column; a third of opposite polarity
  // beside them at the same spacing is never paired.
  Patch p(120, 140);
  p.Cross(30, 40, 12, false);
  p.Cross(80, 40, 12, false);
  p.Cross(55, 90, 12, true);
  float out[4];
  ASSERT_EQ(1, FindTemplateCornerPair(&p.img.m, out, 0, 0.07f, 0.07f, 0.0f, 50.0f, 20.0f));
  EXPECT_NEAR(30.0f, std::min(out[0], out[2]), 1.0f);
  EXPECT_NEAR(80.0f, std::max(out[0], out[2]), 1.0f);
  EXPECT_NEAR(40.0f, out[1], 1.0f);
  EXPECT_NEAR(40.0f, out[3], 1.0f);
  EXPECT_EQ(0, FindTemplateCornerPair(&p.img.m, out, 0, 0.07f, 0.07f, 50.0f, 25.0f, 10.0f));

  // Two candidate pairs, the lower one a better match: mode 0 takes it,
  // mode 1 the higher pair (deviations within 15 of each other), mode 2 the
  // lower again.
  Patch q(100, 210);
  q.Cross(20, 50, 10, false);
  q.Cross(64, 50, 10, false);    // 44 apart
  q.Cross(134, 50, 10, false);
  q.Cross(184, 50, 10, false);   // 50 apart
  ASSERT_EQ(1, FindTemplateCornerPair(&q.img.m, out, 0, 0.07f, 0.07f, 0.0f, 50.0f, 8.0f));
  EXPECT_NEAR(134.0f, std::min(out[0], out[2]), 1.0f);
  ASSERT_EQ(1, FindTemplateCornerPair(&q.img.m, out, 1, 0.07f, 0.07f, 0.0f, 50.0f, 8.0f));
  EXPECT_NEAR(20.0f, std::min(out[0], out[2]), 1.0f);
  ASSERT_EQ(1, FindTemplateCornerPair(&q.img.m, out, 2, 0.07f, 0.07f, 0.0f, 50.0f, 8.0f));
  EXPECT_NEAR(134.0f, std::min(out[0], out[2]), 1.0f);
}

TEST(TemplatePieces, CornerWithItsTwoSquares) {
  // The squares meet on the anti-diagonal: upper-right and lower-left dark.
  Patch p(100, 100);
  p.Cross(50.4f, 49.7f, 22, true);
  float out[14];
  ASSERT_EQ(1, FindCornerWithQuads(&p.img.m, out, 1, 0.07f, 0.07f));
  EXPECT_NEAR(50.4f, out[0], 1.0f);
  EXPECT_NEAR(49.7f, out[1], 1.0f);
  // Points 1..3 one square, 4..6 the other; every one a corner of a square.
  const float corners[6][2] = {{28.4f, 49.7f}, {28.4f, 71.7f}, {50.4f, 71.7f},
                               {50.4f, 27.7f}, {72.4f, 27.7f}, {72.4f, 49.7f}};
  for (int i = 1; i < 7; ++i) {
    float best = 1e9f;
    for (const auto& c : corners) best = std::min(best, std::hypot(out[2 * i] - c[0], out[2 * i + 1] - c[1]));
    EXPECT_LT(best, 2.0f) << "point " << i;  // whole outline pixels
  }
  Patch none(100, 100);
  EXPECT_EQ(0, FindCornerWithQuads(&none.img.m, out, 1, 0.07f, 0.07f));
}

// Points 1..3 come from the left square and 4..6 from the right one, on
// either diagonal; with the squares on the main diagonal the two squares'
// far corners are alike by the anti-diagonal measure, so a pick by it alone
// would fall either way on a pixel's noise.
TEST(TemplatePieces, CornerWithQuadsSidesOnBothDiagonals) {
  struct Case {
    bool flip;  // squares upper-right and lower-left
    float r, c;
  };
  const Case cases[] = {{true, 50.4f, 49.7f}, {false, 50.4f, 49.7f}, {false, 49.6f, 50.3f}, {false, 50.0f, 50.0f},
                        {true, 50.0f, 50.0f}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.flip << " " << k.r << " " << k.c);
    Patch p(100, 100);
    p.Cross(k.r, k.c, 22, k.flip);
    float out[14];
    ASSERT_EQ(1, FindCornerWithQuads(&p.img.m, out, 1, 0.07f, 0.07f));
    for (int i = 1; i <= 3; ++i) EXPECT_LT(out[2 * i + 1], k.c + 2.0f) << "point " << i;
    for (int i = 4; i <= 6; ++i) EXPECT_GT(out[2 * i + 1], k.c - 2.0f) << "point " << i;
    // Each side's middle point is its square's far corner.
    EXPECT_NEAR(k.c - 22.0f, out[5], 2.0f);
    EXPECT_NEAR(k.c + 22.0f, out[11], 2.0f);
  }
}

TEST(TemplatePieces, SectorCheckPolarityContrastAndAngles) {
  Patch p(60, 60);
  p.Cross(30, 30, 20, false);
  TemplateCorner c{};
  c.y = 30;
  c.x = 30;
  const float pi = 3.14159265f;
  const float dirs[4] = {0.0f, pi / 2, pi, 3 * pi / 2};
  for (int i = 0; i < 4; ++i) c.direction[i] = dirs[i];
  EXPECT_EQ(1, CheckCornerSectors(&c, &p.img.m));
  c.x = 10;  // 10 px from the left border
  EXPECT_EQ(0, CheckCornerSectors(&c, &p.img.m));
  c.x = 30;
  c.y = 49;  // beyond rows - 12
  EXPECT_EQ(0, CheckCornerSectors(&c, &p.img.m));
  Patch flat(60, 60);
  c.y = 30;
  EXPECT_EQ(0, CheckCornerSectors(&c, &flat.img.m));

  // Upper-left and lower-right dark: polarity 0; the other diagonal 1.
  EXPECT_EQ(0, CornerPolarity(&p.img.m, 30, 30, 5));
  Patch f(60, 60);
  f.Cross(30, 30, 20, true);
  EXPECT_EQ(0, CornerPolarity(&f.img.m, 30, 30, 5) == CornerPolarity(&p.img.m, 30, 30, 5));
  EXPECT_EQ(0, CornerPolarity(&p.img.m, 3, 30, 5));  // blocks leave the image
  EXPECT_GT(LocalContrast(&p.img.m, 9, 30, 30), 0.5f);
  EXPECT_EQ(0.0f, LocalContrast(&p.img.m, 9, 5, 30));
  EXPECT_NEAR(0.5f, AngleDiff2Pi(0.25f, 6.0334f), 1e-3f);
  EXPECT_NEAR(pi, AngleDiff2Pi(0.0f, pi), 1e-5f);
  EXPECT_NEAR(0.2f, AngleDiffHalfPi(0.0f, pi - 0.2f), 1e-5f);
}

TEST(TemplatePieces, LinkPieces) {
  TemplateCorner a{}, b{}, n{};
  a.label = 3;
  a.gridRow = 2;
  a.gridCol = 5;
  a.link[2] = &b;
  b.label = -1;
  b.linkCount = 1;
  int32_t dirs[4];
  ASSERT_EQ(1, FindLinkDirections(&a, &b, dirs));
  EXPECT_EQ(2, dirs[0]);
  EXPECT_EQ(1, dirs[3]);
  EXPECT_EQ(0, FindLinkDirections(&a, &n, dirs));
  TemplateCorner* out = nullptr;
  EXPECT_EQ(0, TakeUnlabelledNeighbour(&a, 2, &out, 1));  // too few links
  EXPECT_EQ(1, TakeUnlabelledNeighbour(&a, 2, &out, 0));
  EXPECT_EQ(&b, out);
  EXPECT_EQ(0, TakeUnlabelledNeighbour(&a, 2, &out, 0));  // visited twice
  ASSERT_EQ(1, LabelNeighbour(&a, 2, &out));
  EXPECT_EQ(3, b.label);
  EXPECT_EQ(2, b.gridRow);
  EXPECT_EQ(4, b.gridCol);
  EXPECT_EQ(0, LabelNeighbour(&a, 0, &out));
}

TEST(CentreCross, FindsTheCrossNearTheCentreAndTheCornersOfItsSquares) {
  Patch p(100, 90);
  p.Rect(20, 22, 45, 51, 0.15f);  // upper-left square: corner at (45, 51)
  p.Rect(45, 51, 70, 80, 0.15f);  // lower-right square
  float out[2];
  Image_FindCentreCross(&p.img.m, out);
  EXPECT_NEAR(45.0f, out[0], 1.0f);
  EXPECT_NEAR(51.0f, out[1], 1.0f);
  // Mode 1: the upper-left square's corner nearest the image origin and the
  // lower-right square's farthest one.
  float pts[6];
  ASSERT_EQ(1, FindCentreCrossCorners(&p.img.m, pts, 1, 1));
  EXPECT_NEAR(45.0f, pts[0], 1.0f);
  EXPECT_NEAR(20.0f, pts[2], 1.0f);
  EXPECT_NEAR(22.0f, pts[3], 1.0f);
  EXPECT_NEAR(69.0f, pts[4], 1.0f);
  EXPECT_NEAR(79.0f, pts[5], 1.0f);
  // The other diagonal has no squares.
  EXPECT_EQ(0, FindCentreCrossCorners(&p.img.m, pts, 0, 0));
  // Corners of quads next to a point.
  const float point[2] = {50, 50};
  const float quad[8] = {40, 41, 40, 59, 58, 41, 58, 59};
  float best = 1000.0f, at[2] = {0, 0};
  EXPECT_EQ(1, Quad_CornerNearPoint(point, 0, quad, &best, at));
  EXPECT_NEAR(std::hypot(10.0f, 9.0f), best, 1e-4f);
  EXPECT_EQ(0, Quad_CornerNearPoint(point, 0, quad, &best, at));  // not nearer
  best = 1000.0f;
  EXPECT_EQ(1, Quad_CornerNearPoint(point, 3, quad, &best, at));
  EXPECT_EQ(58.0f, at[0]);
  const float below[8] = {52, 41, 52, 59, 70, 41, 70, 59};  // corner 0 below p
  best = 1000.0f;
  EXPECT_EQ(0, Quad_CornerNearPoint(point, 0, below, &best, at));
}

// Six junctions of bright lines round a bright spot: two verticals either
// side of the spot crossed by three horizontals.
TEST(SpotJunctions, SixPointsAroundTheSpot) {
  const int w = 320, h = 240;
  FloatImage f;
  f.data.assign(static_cast<size_t>(w) * h, 0.2f);
  auto line = [&](int r0, int c0, int r1, int c1) {
    for (int y = r0; y <= r1; ++y)
      for (int x = c0; x <= c1; ++x) f.data[static_cast<size_t>(y) * w + x] = 0.9f;
  };
  const int R0 = 120, cl = 110, cr = 210, up = 70, down = 180;
  line(R0 - 1, cl - 30, R0 + 1, cr + 30);
  line(up - 1, cl - 30, up + 1, cr + 30);
  line(down - 1, cl - 30, down + 1, cr + 30);
  line(up - 30, cl - 1, down + 30, cl + 1);
  line(up - 30, cr - 1, down + 30, cr + 1);
  // The spot: a broad soft glow between the verticals, too smooth to pass
  // the line threshold.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float d2 = static_cast<float>((y - R0) * (y - R0) + (x - 160) * (x - 160));
      f.data[static_cast<size_t>(y) * w + x] += 0.5f * std::exp(-d2 / 1800.0f);
    }
  f.m = Matrix{w, h, f.data.data()};
  float out[12];
  ASSERT_EQ(1, Pattern_FindSpotJunctions(&f.m, out, 16, 2, 0, -0.1f));
  const float want[12] = {up, cl, up, cr, down, cl, down, cr, R0, cl, R0, cr};
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(want[i], out[i], 2.0f) << i;
  // Nothing to thin: every try fails.
  std::vector<float> dark(static_cast<size_t>(w) * h, 0.2f);
  const Matrix d{w, h, dark.data()};
  EXPECT_EQ(0, Pattern_FindSpotJunctions(&d, out, 16, 0, 1, -0.1f));
}

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "calibration/detect/checker_circles.h"
#include "calibration/detect/contour_shapes.h"
#include "calibration/detect/pattern_marks.h"
#include "mark_test_helpers.h"
#include "toolkit/blobs.h"

namespace {

class RoundMarks : public ::testing::Test {
 protected:
  LensModelScenes scenes_;
};

}  // namespace

// Two dark and two light discs on a mid-grey ground, each kind on a
// diagonal: the four centres in the order upper-left, upper-right,
// lower-left, lower-right. (At threshold offsets near 0 the ground round a
// light disc falls below the raised local mean and rings it with a dark
// round region of its own; the layout finder tries several offsets.) The contour means keep the centres by symmetry:
// measured up to 0.29 px.
TEST_F(RoundMarks, CheckerCirclesComeBackInOrderWithinHalfAPixel) {
  const std::vector<MarkCondition> conds = MarkConditions();
  for (size_t ci = 0; ci < conds.size(); ++ci) {
    const MarkCondition& c = conds[ci];
    SCOPED_TRACE(c.name + " model " + std::to_string(c.model));
    MarkScene scene = MarkConditionScene(c, 640, 480);
    scene.ground = 128;
    const float r = 45.0f * c.scale, d = 110.0f * c.scale;
    // Upper-left and lower-right dark, upper-right and lower-left light.
    const float st[8] = {-d, -d, d, -d, -d, d, d, d};
    const uint8_t level[4] = {30, 230, 230, 30};
    for (int i = 0; i < 4; ++i) MarkScene_AddDisc(&scene, st[2 * i], st[2 * i + 1], r, level[i]);
    std::vector<float> truth;
    ASSERT_TRUE(MarkScene_ProjectAll(scene, std::vector<float>(st, st + 8), &truth));
    FloatImage img;
    MarkScene_Render(scene, MarkConditionOptions(c, static_cast<uint32_t>(ci + 1)), &img);
    int top = 0, left = 0;
    const float cr = 0.25f * (truth[0] + truth[2] + truth[4] + truth[6]);
    const float cc = 0.25f * (truth[1] + truth[3] + truth[5] + truth[7]);
    FloatImage w = CropWindow(img, cr, cc, 120, &top, &left);
    float out[8];
    ASSERT_EQ(1, Pattern_FindCheckerCircles(&w.m, 0, out, 0.05f));
    double worst = 0.0;
    for (int i = 0; i < 4; ++i)
      worst = std::max(worst, static_cast<double>(std::hypot(out[2 * i] + top - truth[2 * i],
                                                             out[2 * i + 1] + left - truth[2 * i + 1])));
    std::printf("[errors] checker circles %s model %d: max %.3f px\n", c.name.c_str(), c.model, worst);
    EXPECT_LT(worst, 0.5);
  }
}

// Dark discs alone, cut out of the picture: the circle finder's centre
// (the contour mean) within half a pixel, across lens models and
// conditions; discs of twice or half the expected radius are refused.
TEST_F(RoundMarks, CircleCentreWithinHalfAPixel) {
  const std::vector<MarkCondition> conds = MarkConditions();
  for (size_t ci = 0; ci < conds.size(); ++ci) {
    const MarkCondition& c = conds[ci];
    SCOPED_TRACE(c.name + " model " + std::to_string(c.model));
    MarkScene scene = MarkConditionScene(c, 640, 480);
    MarkScene_AddDisc(&scene, 40, 30, 50.0f * c.scale, 30);
    float row = 0, col = 0, edgeRow = 0, edgeCol = 0;
    ASSERT_TRUE(MarkScene_Project(scene, 40, 30, &row, &col));
    ASSERT_TRUE(MarkScene_Project(scene, 40 + 50.0f * c.scale, 30, &edgeRow, &edgeCol));
    const float radius = std::hypot(edgeRow - row, edgeCol - col);
    FloatImage img;
    MarkScene_Render(scene, MarkConditionOptions(c, static_cast<uint32_t>(ci + 1)), &img);
    int top = 0, left = 0;
    FloatImage w = CropWindow(img, row - 3.0f, col + 2.0f, 64, &top, &left);
    float out[2];
    ASSERT_EQ(1, Pattern_FindCircleCentre(&w.m, out, radius));
    const double e = std::hypot(out[0] + top - row, out[1] + left - col);
    std::printf("[errors] circle centre %s model %d: %.3f px\n", c.name.c_str(), c.model, e);
    EXPECT_LT(e, 0.5);
    // Well beyond a factor 2 either way (the projected disc is an ellipse).
    EXPECT_EQ(0, Pattern_FindCircleCentre(&w.m, out, 2.4f * radius));
    EXPECT_EQ(0, Pattern_FindCircleCentre(&w.m, out, 0.4f * radius));
  }
}

namespace {

// Binary picture from text rows: '#' dark (0.1), '.' light (0.9).
FloatImage Text(const std::vector<const char*>& rows) {
  FloatImage f;
  const int h = static_cast<int>(rows.size()), w = static_cast<int>(std::strlen(rows[0]));
  for (const char* r : rows)
    for (int c = 0; c < w; ++c) f.data.push_back(r[c] == '#' ? 0.1f : 0.9f);
  f.m = Matrix{w, h, f.data.data()};
  return f;
}

// A filled digital disc (or square) of the given size in a w x h picture.
FloatImage Shape(int w, int h, float cr, float cc, float r, bool square) {
  FloatImage f;
  f.data.assign(static_cast<size_t>(w) * h, 1.0f);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool in = square ? std::fabs(y - cr) <= r && std::fabs(x - cc) <= r
                             : (y - cr) * (y - cr) + (x - cc) * (x - cc) <= r * r;
      if (in) f.data[y * w + x] = 0.0f;
    }
  f.m = Matrix{w, h, f.data.data()};
  return f;
}

// The first region of a binary picture, with its list.
struct FirstBlob {
  BlobList* list;
  Blob* blob;
  explicit FirstBlob(const FloatImage& f) {
    list = BlobList_FindComponents(&f.m);
    blob = BlobList_Next(list);
  }
  ~FirstBlob() { BlobList_Free(list); }
};

}  // namespace

TEST(ContourShapes, RoundMarksAreSmoothAndManySidedSquaresAreNot) {
  const FloatImage disc = Shape(60, 60, 30, 30, 11, false), square = Shape(60, 60, 30, 30, 11, true);
  FirstBlob d(disc), s(square);
  ASSERT_NE(nullptr, d.blob);
  ASSERT_NE(nullptr, s.blob);
  EXPECT_EQ(1, Contour_IsSmooth(d.blob));
  // A right-angled corner makes a 6-step chord of about 4.24: refused.
  EXPECT_EQ(0, Contour_IsSmooth(s.blob));
  EXPECT_GE(Contour_CountEdges(d.blob), 6);
  EXPECT_EQ(4, Contour_CountEdges(s.blob));
  float centre[2], rmin, rmax;
  Contour_CentreRadii(d.blob, centre, &rmin, &rmax);
  // A raw digital disc's staircase outline is long (about 0.17); the
  // finders smooth before they label, which brings a disc near 0.1. A
  // square is pi / 4 round: 0.21.
  float sc[2];
  Contour_CentreRadii(s.blob, sc, &rmin, &rmax);
  EXPECT_LT(Blob_Roundness(d.blob, centre), 0.19f);
  EXPECT_GT(Blob_Roundness(s.blob, sc), 0.19f);
  Contour_CentreRadii(d.blob, centre, &rmin, &rmax);
  EXPECT_NEAR(30.0f, centre[0], 0.05f);
  EXPECT_NEAR(30.0f, centre[1], 0.05f);
  EXPECT_NEAR(11.0f, 0.5f * (rmin + rmax), 0.6f);
  // The circle finder on it: the radius estimate (rmin + rmax) / 2 against
  // the expected one, refused from a factor 2 on.
  const float est = 0.5f * (rmin + rmax);
  float at[2];
  EXPECT_EQ(1, Pattern_FindCircleCentre(&disc.m, at, est));
  EXPECT_NEAR(30.0f, at[0], 0.05f);
  EXPECT_EQ(1, Pattern_FindCircleCentre(&disc.m, at, 1.9f * est));
  EXPECT_EQ(0, Pattern_FindCircleCentre(&disc.m, at, 2.15f * est));
  EXPECT_EQ(1, Pattern_FindCircleCentre(&disc.m, at, 0.55f * est));
  EXPECT_EQ(0, Pattern_FindCircleCentre(&disc.m, at, 0.45f * est));
  EXPECT_EQ(0, Pattern_FindCircleCentre(&square.m, at, 11.0f));
  // A patch whose first binarisation has no region: 0 at once.
  std::vector<float> flat(40 * 40, 0.6f);
  const Matrix fm{40, 40, flat.data()};
  EXPECT_EQ(0, Pattern_FindCircleCentre(&fm, at, 5.0f));
  // A small blob: under 30 contour points is never smooth; a contour whose
  // farthest pair lies within 2 pixels has no straight piece.
  const FloatImage tiny = Text({".....", ".##..", ".##..", ".....", "....."});
  Blob few{0, 0, 0, 0, nullptr};
  PointI16 pts[4] = {{1, 1}, {1, 2}, {2, 2}, {2, 1}};
  few.contour = pts;
  few.contourCount = 4;
  EXPECT_EQ(0, Contour_IsSmooth(&few));
  EXPECT_EQ(0, Contour_CountEdges(&few));
  Blob empty{0, 0, 0, 0, nullptr};
  Contour_CentreRadii(&empty, centre, &rmin, &rmax);
  EXPECT_EQ(1000.0f, rmin);
  EXPECT_EQ(0.0f, rmax);
  (void)tiny;
}

TEST(CheckerCircleRules, ModesDecideWhatAThirdRoundMarkDoes) {
  // Two dark and two light discs on grey; a third dark disc fails mode 0.
  FloatImage f;
  const int w = 160, h = 120;
  f.data.assign(static_cast<size_t>(w) * h, 0.5f);
  auto disc = [&](float cr, float cc, float v) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if ((y - cr) * (y - cr) + (x - cc) * (x - cc) <= 100.0f) f.data[y * w + x] = v;
  };
  disc(30, 40, 0.1f);
  disc(90, 120, 0.1f);
  disc(30, 120, 0.9f);
  disc(90, 40, 0.9f);
  f.m = Matrix{w, h, f.data.data()};
  float out[8];
  ASSERT_EQ(1, Pattern_FindCheckerCircles(&f.m, 0, out, 0.05f));
  EXPECT_NEAR(30.0f, out[0], 0.5f);
  EXPECT_NEAR(40.0f, out[1], 0.5f);
  EXPECT_NEAR(30.0f, out[2], 0.5f);
  EXPECT_NEAR(120.0f, out[3], 0.5f);
  EXPECT_NEAR(90.0f, out[4], 0.5f);
  EXPECT_NEAR(40.0f, out[5], 0.5f);
  EXPECT_NEAR(90.0f, out[6], 0.5f);
  EXPECT_NEAR(120.0f, out[7], 0.5f);
  disc(60, 80, 0.1f);  // a third dark disc between them
  EXPECT_EQ(0, Pattern_FindCheckerCircles(&f.m, 0, out, 0.05f));
  // A plain grey picture has no round mark.
  std::vector<float> grey(static_cast<size_t>(w) * h, 0.5f);
  const Matrix g{w, h, grey.data()};
  EXPECT_EQ(0, Pattern_FindCheckerCircles(&g, 2, out, 0.05f));
}

TEST(SingleMarkRules, JunctionAndLowerSquareEdge) {
  // Bright lines crossing at (40, 52) on a dark patch.
  FloatImage f;
  const int w = 100, h = 80;
  f.data.assign(static_cast<size_t>(w) * h, 0.2f);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (std::abs(y - 40) <= 1 || std::abs(x - 52) <= 1) f.data[y * w + x] = 0.9f;
  f.m = Matrix{w, h, f.data.data()};
  float out[4];
  ASSERT_EQ(1, Pattern_FindJunction(&f.m, out));
  EXPECT_NEAR(40.0f, out[0], 1.0f);
  EXPECT_NEAR(52.0f, out[1], 1.0f);
  std::vector<float> dark(static_cast<size_t>(w) * h, 0.2f);
  const Matrix d{w, h, dark.data()};
  EXPECT_EQ(0, Pattern_FindJunction(&d, out));

  // A light square of 5/13 of the width below the upper 42 percent: its
  // lower-left and lower-right corners (outline pixels).
  FloatImage s;
  const int sw = 130, sh = 130;
  s.data.assign(static_cast<size_t>(sw) * sh, 0.2f);
  for (int y = 70; y < 120; ++y)
    for (int x = 40; x < 90; ++x) s.data[y * sw + x] = 0.9f;
  s.m = Matrix{sw, sh, s.data.data()};
  ASSERT_EQ(2, Pattern_FindLowerSquareEdge(&s.m, out));
  EXPECT_NEAR(119.0f, out[0], 1.0f);
  EXPECT_NEAR(40.0f, out[1], 1.0f);
  EXPECT_NEAR(119.0f, out[2], 1.0f);
  EXPECT_NEAR(89.0f, out[3], 1.0f);
  // The same square inside the upper band is not seen.
  for (float& v : s.data) v = 0.2f;
  for (int y = 5; y < 50; ++y)
    for (int x = 40; x < 90; ++x) s.data[y * sw + x] = 0.9f;
  EXPECT_EQ(0, Pattern_FindLowerSquareEdge(&s.m, out));
}

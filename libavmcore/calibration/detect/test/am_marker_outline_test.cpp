#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "calibration/detect/am_marker_outline.h"
#include "mark_test_helpers.h"

namespace {

class MarkerOutline : public ::testing::Test {
 protected:
  LensModelScenes scenes_;
};

// Binary picture from rows of text: '#' is 0 (dark), '.' is 1.
FloatImage FromText(const std::vector<const char*>& rows) {
  FloatImage f;
  const int h = static_cast<int>(rows.size()), w = static_cast<int>(std::strlen(rows[0]));
  for (const char* r : rows)
    for (int c = 0; c < w; ++c) f.data.push_back(r[c] == '#' ? 0.1f : 0.9f);
  f.m = Matrix{w, h, f.data.data()};
  return f;
}

}  // namespace

// Discs darker and lighter than their ground, cut out around a rough
// position: the centroid of the closed outline holds the projected centre.
// Measured up to 0.32 px across lens models 1 to 4, distance, tilt, blur and
// noise (the outline runs half a pixel outside the disc all round, so its
// centroid keeps the centre).
TEST_F(MarkerOutline, FindsDiscCentresWithinHalfAPixel) {
  const std::vector<MarkCondition> conds = MarkConditions();
  for (size_t ci = 0; ci < conds.size(); ++ci) {
    const MarkCondition& c = conds[ci];
    for (int dark = 1; dark >= 0; --dark) {
      SCOPED_TRACE(c.name + " model " + std::to_string(c.model) + (dark ? " dark" : " light"));
      MarkScene scene = MarkConditionScene(c, 640, 480);
      if (!dark) scene.ground = 40;
      const float s = 60.0f, t = -40.0f;
      MarkScene_AddDisc(&scene, s, t, 70.0f * c.scale, dark ? 30 : 210);
      float row = 0, col = 0;
      ASSERT_TRUE(MarkScene_Project(scene, s, t, &row, &col));
      FloatImage img;
      MarkScene_Render(scene, MarkConditionOptions(c, static_cast<uint32_t>(ci + 1)), &img);
      int top = 0, left = 0;
      // The window is cut 2 px off the mark, as a prediction would be.
      FloatImage w = CropWindow(img, row + 2.0f, col - 2.0f, 64, &top, &left);
      float out[2] = {-7, -7};
      ASSERT_TRUE(AM_FindMarkerBlobs(&w.m, out, dark));
      const double e = std::hypot(out[0] + top - row, out[1] + left - col);
      EXPECT_LT(e, 0.5);
      std::printf("[errors] AM disc centre %s model %d %s: %.3f px\n", c.name.c_str(), c.model,
                  dark ? "dark" : "light", e);
    }
  }
}

TEST(MarkerOutlineRules, OpenOutlinesShortOutlinesAndTheNearestOne) {
  // A region cut by the window edge leaves an open walk: nothing.
  FloatImage cut = FromText({
      "....................",
      "....................",
      "....................",
      "....................",
      "....................",
      "....................",
      "....................",
      "..........##########",
      "..........##########",
      "..........##########",
      "..........##########",
      "..........##########",
      "..........##########",
      "..........##########",
      "....................",
      "....................",
      "....................",
      "....................",
      "....................",
      "....................",
  });
  float out[2] = {-7, -7};
  EXPECT_FALSE(AM_FindMarkerBlobs(&cut.m, out, 1));
  EXPECT_EQ(-7.0f, out[0]);

  // The walk runs round the dark region's own edge pixels. A 4 x 4 block
  // gives a closed walk of 12 pixels: ignored. A 4 x 5 block gives 14.
  FloatImage tiny = FromText({"..........", "..........", "..........", "...####...", "...####...",
                              "...####...", "...####...", "..........", "..........", ".........."});
  EXPECT_FALSE(AM_FindMarkerBlobs(&tiny.m, out, 1));
  EXPECT_EQ(-7.0f, out[0]);
  FloatImage wider = FromText({"..........", "..........", "..........", "...#####..", "...#####..",
                               "...#####..", "...#####..", "..........", "..........", ".........."});
  EXPECT_TRUE(AM_FindMarkerBlobs(&wider.m, out, 1));
  EXPECT_NEAR(4.5f, out[0], 0.01f);
  EXPECT_NEAR(5.0f, out[1], 0.01f);

  // Two closed outlines, neither within 5 px of the centre (10, 10): the
  // nearer one is written and the result is false.
  FloatImage two = FromText({
      "....................",
      ".#####..............",
      ".#####..............",
      ".#####..............",
      ".#####..............",
      ".#####..............",
      "....................",
      "....................",
      "....................",
      "....................",
      "....................",
      "....................",
      "....................",
      "...........#####....",
      "...........#####....",
      "...........#####....",
      "...........#####....",
      "...........#####....",
      "....................",
      "....................",
  });
  EXPECT_FALSE(AM_FindMarkerBlobs(&two.m, out, 1));
  EXPECT_NEAR(15.0f, out[0], 0.01f);
  EXPECT_NEAR(13.0f, out[1], 0.01f);

  // A light mark on a dark ground is found after inverting.
  FloatImage light = FromText({"..........", "..........", "..........", "...#####..", "...#####..",
                               "...#####..", "...#####..", "..........", "..........", ".........."});
  for (float& v : light.data) v = 1.0f - v;
  out[0] = out[1] = -7.0f;
  EXPECT_TRUE(AM_FindMarkerBlobs(&light.m, out, 0));
  EXPECT_NEAR(4.5f, out[0], 0.01f);
  EXPECT_NEAR(5.0f, out[1], 0.01f);
}

TEST(MarkerOutlineRules, FlatWindowsAndBadArgumentsFindNothing) {
  std::vector<float> flat(40 * 40, 0.5f);
  Matrix m{40, 40, flat.data()};
  float out[2] = {-7, -7};
  EXPECT_FALSE(AM_FindMarkerBlobs(&m, out, 1));
  EXPECT_EQ(-7.0f, out[0]);
  EXPECT_FALSE(AM_FindMarkerBlobs(nullptr, out, 1));
  Matrix empty{0, 0, nullptr};
  EXPECT_FALSE(AM_FindMarkerBlobs(&empty, out, 1));
}

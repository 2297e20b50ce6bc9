// The template-segment finders on rendered patch sites: the strips' corners
// within a pixel of their projections, in world-point order, solved; a
// hidden strip or camera 2 of layout 53 gives 0.
#include <gtest/gtest.h>

#include "calibration/detect/layout_finders.h"
#include "calibration/detect/template_segment_finders.h"
#include "patch_site_fixture.h"

namespace {

using namespace patch_site;

TEST_F(PatchSiteTest, LayoutFiftyThreeTemplatesFindTheFrontStrips) {
  const SceneCamera cam = Layout53FrontSite();
  ASSERT_EQ(6u, CalibFind_Layout53Templates(lut, 1, &images[0], 0, 0, points[0].data()));
  EXPECT_EQ(6, lut->cornerCounts[0]);
  ExpectTruth(1, cam, 6);

  Show(1, cam, {{{W(1, 3)[0], W(1, 3)[1]}, {W(1, 5)[0], W(1, 5)[1]}}});
  EXPECT_EQ(0u, CalibFind_Layout53Templates(lut, 1, &images[0], 0, 0, points[0].data()));
}

TEST_F(PatchSiteTest, LayoutFiftyThreeTemplatesCameraTwoTouchesNothing) {
  Layout53FrontSite();
  for (int k = 0; k < 4; ++k) lut->cornerCounts[k] = -1;
  std::fill(points[1].begin(), points[1].end(), -1.0f);
  EXPECT_EQ(0u, CalibFind_Layout53Templates(lut, 2, &images[0], 0, 0, points[1].data()));
  EXPECT_EQ(0u, CalibFind_Layout53Templates(nullptr, 1, &images[0], 0, 0, points[0].data()));
  for (int k = 0; k < 4; ++k) EXPECT_EQ(-1, lut->cornerCounts[k]);
  for (float v : points[1]) ASSERT_EQ(-1.0f, v);
}

}  // namespace

namespace {

using namespace patch_site;

// A profile line of four triples, camera `camera`'s holding v.
std::string Triples(const float* v, int camera = 1) {
  std::string s;
  for (int c = 1; c <= 4; ++c)
    for (int k = 0; k < 3; ++k) s += std::to_string(c == camera ? v[k] : 0.0f) + (k < 2 ? "," : c < 4 ? ";" : "\n");
  return s;
}

// Layout 11, camera 1: a raised strip of three corners across the front;
// the pose refinement starts from the profile's pose. The reference point
// sits on the strip's left corner; moved a tolerance away, nothing
// qualifies.
TEST_F(PatchSiteTest, LayoutElevenFrontStrip) {
  const SceneCamera cam = Camera(0, -2300, 900, 0, -3600);
  const float r0[3] = {cam.r[0] + 0.01f, cam.r[1] - 0.01f, cam.r[2]};
  auto profile = [&](float refX, float refY) {
    return Triples(r0) + Triples(cam.T) + "0,300,1280,720;0,0,1,1;0,0,1,1;0,0,1,1\n" + std::to_string(refX) + "," +
           std::to_string(refY) + ";0,0,0,0;0,0,0,0;0,0,0,0\n0,0;0,0\n";
  };
  Compute(11, "kelvor_cfg.txt", profile(0, 0));
  float row, col;
  Project(cam, W(1, 0), &row, &col);
  Compute(11, "kelvor_cfg.txt", profile(col + 3, row - 3));
  Show(1, cam, {{{W(1, 0)[0], W(1, 0)[1]}, {W(1, 2)[0], W(1, 2)[1]}}}, 110.0f);
  // The strip lies across: its corners run from world point 0 to 2 along
  // x, so the patch's long side goes that way.
  ASSERT_EQ(3u, CalibFind_Layout11Front(lut, 1, &images[0], points[0].data()));
  EXPECT_EQ(3, lut->cornerCounts[0]);
  ExpectTruth(1, cam, 3);

  const float tolerance = 1280.0f * 15.0f / 720.0f;
  Compute(11, "kelvor_cfg.txt", profile(col + tolerance + 1.0f, row));
  EXPECT_EQ(0u, CalibFind_Layout11Front(lut, 1, &images[0], points[0].data()));
  EXPECT_EQ(0u, CalibFind_Layout11Front(lut, 2, &images[0], points[0].data()));
}

// Layout 11, camera 2: a raised strip on the image's centre column and two
// patches out at the sides whose middle corners are the reference corners.
// The five points lie on one line; the candidate fit holds T.z at the
// profile pose and solves. A reference point farther than the tolerance
// from every corner writes nothing.
TEST_F(PatchSiteTest, LayoutElevenRearStripAndReferenceCorners) {
  const SceneCamera cam = Camera(-60, 2300, 950, -60, 3500);
  const float r0[3] = {cam.r[0] + 0.01f, cam.r[1], cam.r[2] - 0.01f};
  auto profile = [&](float ax, float ay, float bx, float by) {
    return Triples(r0, 2) + Triples(cam.T, 2) + "0,0,1,1;0,250,1280,720;0,0,1,1;0,0,1,1\n0,0;" + std::to_string(ax) +
           "," + std::to_string(ay) + "," + std::to_string(bx) + "," + std::to_string(by) +
           ";0,0,0,0;0,0,0,0\n0,0;0,0\n";
  };
  Compute(11, "kelvor_cfg.txt", profile(0, 0, 0, 0));
  float rowA, colA, rowB, colB;
  Project(cam, W(2, 3), &rowA, &colA);
  Project(cam, W(2, 4), &rowB, &colB);
  Compute(11, "kelvor_cfg.txt", profile(colA + 5, rowA - 5, colB - 5, rowB + 5));
  const float half = 250.0f, y = W(2, 0)[1];
  Show(2, cam,
       {{{W(2, 0)[0], y}, {W(2, 2)[0], y}},
        {{W(2, 3)[0] - half, y}, {W(2, 3)[0] + half, y}},
        {{W(2, 4)[0] - half, y}, {W(2, 4)[0] + half, y}}},
       25.0f);
  EXPECT_EQ(5u, CalibFind_Layout11Rear(lut, 2, &images[1], points[1].data()));
  EXPECT_EQ(5, lut->cornerCounts[1]);
  ExpectTruth(2, cam, 5);

  const float tolerance = 1280.0f * 40.0f / 720.0f;
  Compute(11, "kelvor_cfg.txt", profile(colA, rowA + tolerance + 30.0f, colB, rowB));
  std::fill(points[1].begin(), points[1].end(), -1.0f);
  EXPECT_EQ(0u, CalibFind_Layout11Rear(lut, 2, &images[1], points[1].data()));
  for (float v : points[1]) ASSERT_EQ(-1.0f, v);
  EXPECT_EQ(0u, CalibFind_Layout11Rear(lut, 1, &images[1], points[1].data()));
}

}  // namespace

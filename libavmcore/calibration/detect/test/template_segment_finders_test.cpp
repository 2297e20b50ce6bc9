// The template-segment finders on rendered patch sites: the strips' corners
// within a pixel of their projections, in world-point order, solved; a
// hidden strip or camera 2 of layout 53 gives 0.
#include <gtest/gtest.h>

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

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "testsupport/board_scenes.h"
#include "testsupport/scene_renderer.h"

TEST(SceneOptions, OccludersPaintAndLightingScalesAcrossThePicture) {
  BoardSceneSpec spec;
  spec.width = 320;
  spec.height = 200;
  const BoardScene scene = BoardScene_Make(spec);
  RenderOptions plain;
  plain.width = 320;
  plain.height = 200;
  const std::vector<uint8_t> a = Scene_RenderGrey(scene.cam, scene.board, plain);
  RenderOptions lit = plain;
  lit.lightLeft = 0.5f;
  lit.occluders.push_back({10.0f, 20.0f, 19.0f, 29.0f, 7});
  const std::vector<uint8_t> b = Scene_RenderGrey(scene.cam, scene.board, lit);
  // The patch (pixel centres 10..19, 20..29) at its level, scaled by the
  // light there.
  EXPECT_EQ(static_cast<uint8_t>(std::lround(7 * (0.5f + 0.5f * 15.0f / 319.0f))), b[25 * 320 + 15]);
  EXPECT_NE(b[25 * 320 + 9], b[25 * 320 + 10]);
  // Half the light on the left, all of it on the right.
  EXPECT_NEAR(a[100 * 320 + 0] * 0.5, b[100 * 320 + 0], 1.0);
  EXPECT_EQ(a[100 * 320 + 319], b[100 * 320 + 319]);
  // Board scenes: the truth lies inside the picture, row by row.
  std::vector<float> truth;
  ASSERT_TRUE(BoardScene_Truth(scene, &truth));
  ASSERT_EQ(2u * 48, truth.size());
  EXPECT_LT(truth[1], truth[3]);   // along a row the column grows
  EXPECT_LT(truth[0], truth[16]);  // the next row lies lower
}

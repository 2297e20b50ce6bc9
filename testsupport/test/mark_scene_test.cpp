#include "testsupport/mark_scenes.h"

#include <gtest/gtest.h>

#include <vector>

#include "testsupport/board_scenes.h"

namespace {

// Every shape tested in order, the last one holding the sample painting it:
// the rendering the marks' spatial culling must reproduce exactly.
bool InsideConvexRef(const std::vector<float>& v, float s, float t) {
  const size_t n = v.size() / 2;
  int sign = 0;
  for (size_t i = 0; i < n; ++i) {
    const size_t j = (i + 1) % n;
    const float cross = (v[2 * j] - v[2 * i]) * (t - v[2 * i + 1]) - (v[2 * j + 1] - v[2 * i + 1]) * (s - v[2 * i]);
    const int sg = cross > 0.0f ? 1 : (cross < 0.0f ? -1 : 0);
    if (sg == 0) continue;
    if (sign == 0)
      sign = sg;
    else if (sg != sign)
      return false;
  }
  return true;
}

std::vector<uint8_t> RenderEveryShape(const MarkScene& scene, RenderOptions o) {
  constexpr float kHalf = 4000.0f;
  TargetSpec ground;
  ground.kind = TargetKind::kCustom;
  ground.extentS = ground.extentT = 2.0f * kHalf;
  ground.margin = 0.0f;
  ground.light = scene.ground;
  for (int k = 0; k < 3; ++k) {
    ground.axisS[k] = scene.axisS[k];
    ground.axisT[k] = scene.axisT[k];
    ground.origin[k] = scene.groundOrigin[k] - kHalf * (scene.axisS[k] + scene.axisT[k]);
  }
  ground.shade = [&scene](float s, float t) {
    s -= kHalf;
    t -= kHalf;
    float level = scene.ground;
    for (const MarkShape& m : scene.shapes) {
      const bool in = m.kind == MarkShape::kDisc
                          ? (s - m.cs) * (s - m.cs) + (t - m.ct) * (t - m.ct) <= m.radius * m.radius
                          : InsideConvexRef(m.st, s, t);
      if (in) level = m.level;
    }
    return level;
  };
  o.width = scene.width;
  o.height = scene.height;
  o.background = scene.ground;
  return Scene_RenderGrey(scene.cam, ground, o);
}

// Overlapping shapes of every kind, one painting over another, and a board;
// then the same with a polygon without area, whose edge test holds along its
// whole line.
TEST(MarkSceneRender, PaintsExactlyAsTestingEveryShapeInOrder) {
  for (const bool withFlatPolygon : {false, true}) {
    BoardSceneSpec v;
    v.width = 320;
    v.height = 240;
    MarkScene scene = MarkScene_Make(v);
    MarkScene_AddChessboard(&scene, -300.0f, -200.0f, 6, 4, 100.0f, 20);
    MarkScene_AddNestedSquare(&scene, 150.0f, 50.0f, 300.0f, 0.5f, 10.0f, 30);
    MarkScene_AddDisc(&scene, 100.0f, 0.0f, 120.0f, 90);
    MarkScene_AddStripe(&scene, -500.0f, 300.0f, 600.0f, 320.0f, 40.0f, 60);
    MarkScene_AddDotField(&scene, -400.0f, -400.0f, 5, 3, 60.0f, 15.0f, 5);
    if (withFlatPolygon) {
      MarkShape flat;
      flat.st = {-50.0f, 250.0f, 50.0f, 250.0f, 150.0f, 250.0f};
      flat.level = 120;
      scene.shapes.push_back(flat);
    }
    RenderOptions o;
    o.supersample = 3;
    FloatImage got;
    MarkScene_Render(scene, o, &got);
    const std::vector<uint8_t> want = RenderEveryShape(scene, o);
    ASSERT_EQ(got.data.size(), want.size());
    size_t differ = 0;
    for (size_t i = 0; i < want.size(); ++i) differ += got.data[i] != want[i] / 255.0f;
    EXPECT_EQ(differ, 0u) << withFlatPolygon;
  }
}

}  // namespace

#include "testsupport/board_scenes.h"

#include <cmath>

BoardScene BoardScene_Make(const BoardSceneSpec& spec) {
  BoardScene s;
  s.width = spec.width;
  s.height = spec.height;
  SceneCamera& cam = s.cam;
  cam.model = spec.model;
  // Focal length (pixels a radian) about a third of the width: a fisheye
  // field of about 200 degrees across.
  const float f = static_cast<float>(spec.width) / 3.55f;
  const float K[9] = {1, 0, (spec.width - 1) / 2.0f, 0, 1, (spec.height - 1) / 2.0f, 0, 0, 1};
  for (int i = 0; i < 9; ++i) cam.K[i] = K[i];
  for (float& d : cam.D) d = 0.0f;
  switch (spec.model) {
    case 1: cam.D[0] = f * 190.0f / 180.0f; cam.D[1] = 1.0f; break;
    case 3: cam.D[0] = f / 5.0f; break;
    case 4: cam.D[0] = f * 185.0f / 180.0f; cam.D[1] = 0.5f; break;
    default: cam.D[0] = f; cam.D[1] = 2.0f; break;
  }
  const float d = 1000.0f;
  const float pi = 3.14159265f;
  const float tilt = spec.tiltDeg * pi / 180.0f;
  const float look[3] = {-spec.offsetX * d, spec.offsetY * d, 0.0f};
  const float pos[3] = {look[0], look[1] - d * std::sin(tilt), d * std::cos(tilt)};
  const float up[3] = {0.0f, 1.0f, 0.0f};
  SceneCamera_LookAt(&cam, pos, look, up);

  TargetSpec& b = s.board;
  b.kind = TargetKind::kChessboard;
  b.squaresX = spec.squaresX;
  b.squaresY = spec.squaresY;
  b.squareSize = spec.span * d / static_cast<float>(spec.squaresX);
  b.margin = b.squareSize * 0.6f;
  // s to the picture's right and t downwards (world -Y), turned by yaw.
  const float yaw = spec.yawDeg * pi / 180.0f;
  const float c = std::cos(yaw), sn = std::sin(yaw);
  const float axisS[3] = {c, sn, 0.0f}, axisT[3] = {sn, -c, 0.0f};
  const float hs = 0.5f * spec.squaresX * b.squareSize, ht = 0.5f * spec.squaresY * b.squareSize;
  for (int k = 0; k < 3; ++k) {
    b.axisS[k] = axisS[k];
    b.axisT[k] = axisT[k];
    b.origin[k] = -hs * axisS[k] - ht * axisT[k];
  }
  return s;
}

bool BoardScene_Truth(const BoardScene& scene, std::vector<float>* points) {
  const std::vector<TargetCorner> corners = Target_Corners(scene.board, scene.cam, scene.width, scene.height);
  points->clear();
  bool all = true;
  for (const TargetCorner& c : corners) {
    points->push_back(c.v);
    points->push_back(c.u);
    all = all && c.visible;
  }
  return all;
}

void BoardScene_Render(const BoardScene& scene, const RenderOptions& opt, FloatImage* out) {
  RenderOptions o = opt;
  o.width = scene.width;
  o.height = scene.height;
  const std::vector<uint8_t> grey = Scene_RenderGrey(scene.cam, scene.board, o);
  out->data.resize(grey.size());
  for (size_t i = 0; i < grey.size(); ++i) out->data[i] = grey[i] / 255.0f;
  out->m = Matrix{scene.width, scene.height, out->data.data()};
}

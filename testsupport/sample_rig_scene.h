#pragma once
// The sample rig's scene: four fisheye cameras (lens model 2) around a
// 1800 x 4600 mm car on a chessboard floor. World: mm, x right, y to the
// rear, z down (minus the height above the ground), the car's centre at the
// origin. avmsample writes it as a data directory; tests build on it.
#include <cstdint>

#include "testsupport/scene_renderer.h"

constexpr int32_t kSampleCamW = 640, kSampleCamH = 360;
// The chessboard floor: squares of kSampleSquare mm, corner (0, 0) of the
// pattern at (kSampleBoardX0, kSampleBoardY0).
constexpr float kSampleSquare = 400.0f;
constexpr float kSampleBoardX0 = -6000.0f, kSampleBoardY0 = -8000.0f;
constexpr int32_t kSampleSquaresX = 30, kSampleSquaresY = 40;
constexpr int32_t kSampleCarWidth = 1800, kSampleCarLength = 4600;

// Front, rear, left and right cameras (1..4), 0.9 to 1 m above the ground,
// looking down and out.
inline SceneCamera SampleRigCamera(int camera) {
  SceneCamera cam;
  cam.model = 2;
  cam.K[2] = kSampleCamW / 2.0f;
  cam.K[5] = kSampleCamH / 2.0f;
  cam.D[0] = 150.0f;
  const float pos[4][3] = {{0, -2300, -900}, {0, 2300, -900}, {-1000, 0, -1000}, {1000, 0, -1000}};
  const float at[4][3] = {{0, -4300, 0}, {0, 4300, 0}, {-3000, 0, 0}, {3000, 0, 0}};
  const float up[3] = {0, 0, -1};
  SceneCamera_LookAt(&cam, pos[camera - 1], at[camera - 1], up);
  return cam;
}

inline TargetSpec SampleRigFloor() {
  TargetSpec t;
  t.kind = TargetKind::kChessboard;
  t.squaresX = kSampleSquaresX;
  t.squaresY = kSampleSquaresY;
  t.squareSize = kSampleSquare;
  t.margin = 0.0f;
  t.dark = 40;
  t.light = 210;
  t.origin[0] = kSampleBoardX0;
  t.origin[1] = kSampleBoardY0;
  t.origin[2] = 0.0f;
  return t;
}

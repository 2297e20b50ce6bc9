#pragma once
// Six fisheye cameras (lens model 2) around a car, with known poses: front,
// back, left-front, right-front, left-rear, right-rear, each looking almost
// straight down so that it sees the whole ground around it. The shared
// fixture of the six-camera tests, benchmark and sample. World frame: x
// across the car (right positive), y along it (rear positive), z up; the
// car's centre at the origin.
#include <cstdint>
#include <vector>

#include "testsupport/scene_renderer.h"

struct LUTOB;

struct SixCameraRig {
  int32_t camW, camH;
  int32_t carWidth = 1800, carLength = 4600;
  SceneCamera cams[6];  // front, back, left-front, right-front, left-rear, right-rear

  // Output outW x outH, range 2000 mm each side of the car. The
  // configuration's run-time defaults must be in force.
  SixCameraRig(int32_t cameraWidth, int32_t cameraHeight, int32_t outW, int32_t outH);

  // Camera of slot 0..3 (front, back, left, right) of group 1 (A) or 2 (B).
  const SceneCamera& GroupCamera(int32_t group, int32_t slot) const;
  // Projects ground point (x, y, 0) through camera k (0..5); false outside
  // the model's field.
  bool Project(int32_t camera, float x, float y, float* u, float* v) const;

  // The chessboard floor the pictures show.
  static TargetSpec Floor();
  // Frame 1: quad frame of front, back, left-front, right-front (grey,
  // 2 camW x 2 camH). Frame 2: left-rear and right-rear side by side
  // (2 camW x camH).
  void RenderFrames(std::vector<uint8_t>* frame1, std::vector<uint8_t>* frame2) const;
  // Group 1 (A) or 2 (B) as a LUT object with the true poses and its
  // stitched maps built (group A without camera 2). Free with LUTOB_Destroy.
  LUTOB* MakeGroupLut(int32_t group) const;
  // One camera's picture (camW x camH grey).
  std::vector<uint8_t> Render(int32_t camera) const;
};

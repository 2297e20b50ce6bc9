#pragma once
// A window on the floor and the pose the finders read it through: the
// values that travel together from a finder to the top-view searches.
#include <cstdint>

#include "camera/pose_view.h"

struct LUTOB;

// World millimetres: corner (x0, y0), extent width x height, on the plane z.
struct FloorWindow {
  float x0;
  float y0;
  float width;
  float height;
  float z = 0.0f;
};

// The window of extent width x height whose corner lies (backX, backY) short
// of world point p (x, y, ...).
inline FloorWindow FloorWindow_Before(const float* p, float backX, float backY, float width, float height,
                                      float z = 0.0f) {
  return FloorWindow{p[0] - backX, p[1] - backY, width, height, z};
}

// The current pose of camera index 0..3 as the LUT object holds it.
PoseView FinderPose(const LUTOB* lut, int32_t cameraIndex);

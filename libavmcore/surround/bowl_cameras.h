#pragma once
// The four cameras of a bowl object as the mesh builders use them: each
// camera's single-point projection and its place in the quad frame.
#include <cstdint>

#include "camera/camera_model.h"
#include "camera/lut_config_file.h"

struct BowlCameras {
  ProjectPointFn fn[4] = {nullptr, nullptr, nullptr, nullptr};
  ProjectionContext ctx[4] = {};
  int32_t model[4] = {0, 0, 0, 0};
  int32_t slot[4] = {0, 0, 0, 0};
  float quadW = 0.0f, quadH = 0.0f;
  float ox[4] = {0, 0, 0, 0}, oy[4] = {0, 0, 0, 0};  // quadrant offsets
  float umax = 0.0f, vmax = 0.0f;                    // last usable pixel of a camera picture, less one
};

// Cameras 1..4 from the parameter headers (models and lens-table slots given
// per camera) and the quad-frame size.
void BowlCameras_Setup(BowlCameras* cams, const CameraParamHeaders* headers, const uint32_t model[4],
                       const uint32_t slot[4], uint32_t quadW, uint32_t quadH);
// Camera 1..4's pixel of a ground-frame point; false when the model cannot
// project it (u = v = -2 then).
bool BowlCameras_Project(const BowlCameras* cams, int32_t camera, float x, float y, float z, float* u, float* v);
// True when (u, v) lies strictly inside the camera picture's usable area.
inline bool BowlCameras_Inside(const BowlCameras* cams, float u, float v) {
  return u > 0.0f && u < cams->umax && v > 0.0f && v < cams->vmax;
}
// Texture coordinate in the quad frame (0..1) of camera 1..4's pixel.
inline void BowlCameras_Texture(const BowlCameras* cams, int32_t camera, float u, float v, float* tu, float* tv) {
  *tu = (cams->ox[camera - 1] + u) / (cams->quadW - 1.0f);
  *tv = (cams->oy[camera - 1] + v) / (cams->quadH - 1.0f);
}

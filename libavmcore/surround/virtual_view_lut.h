#pragma once
// CPU generator of the stitching LUT texture of a virtual camera that orbits
// a target point and looks at it. It sees a bowl around the vehicle (a flat
// elliptical floor and a wall rising as a quarter circle); every output
// pixel gets the one or two cameras that cover its bowl point, with a blend
// weight from the seam angles at the car's corners. Only a grid of samples
// is computed exactly; pixels between samples of one camera are
// interpolated.
//
// World frame: origin at the car box centre on the ground, x to the right,
// y to the back, z downward; mm. Cameras 0 front, 1 back, 2 left, 3 right.
//
// Texture: W x 2H texels; texel (r, c) and (r + H, c) describe pixel
// (r, c). Top: ix | iy << 8 | trunc(fy * 127) << 16 | trunc(fx * 127) << 24,
// bit 31 when the first source's weight is 1; bottom (only without bit 31):
// ix2 | iy2 << 8 | trunc(fy2 * 15) << 16 | trunc(fx2 * 15) << 20 |
// trunc(255 w + 0.5) << 24, with (ix + fx, iy + fy) = source x * 255 / quad
// width, y * 255 / quad height. Empty pair: 0xFF000000, 0.
#include <cstdint>
#include <vector>

#include "camera/camera_model.h"
#include "camera/lut_config_file.h"

constexpr uint32_t kVirtualViewEmptyTop = 0xFF000000u;

struct VirtualViewLUTGen {
  int32_t quadWidth = 0, quadHeight = 0, carWidth = 0, carLength = 0;
  int32_t model[4] = {0, 0, 0, 0};
  int32_t lensSlot[4] = {0, 0, 0, 0};
  CameraParamSet params{};
  float view1 = 0, view2 = 0, view3 = 0, view4 = 0;
  float dirX = 0, dirY = 0, focal = 1, aspect = 1;
  float target[3] = {0, 0, 0};
  float endBowlExtension = 0;
  int32_t W = 0, H = 0;
  std::vector<float> x1, y1, x2, y2, weight;  // W x H
  std::vector<uint8_t> mask;                  // camera of the first source, 255 empty
  ProjectPointFn project[4] = {nullptr, nullptr, nullptr, nullptr};
  ProjectionContext ctx[4] = {};
  float M[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};     // camera to world rotation
  float Minv[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // world to camera
  float t0[3] = {0, 0, 0};
  float eye[3] = {0, 0, 0};  // camera centre
  float cornerX[4] = {}, cornerY[4] = {}, seam[4] = {}, blendWidth[4] = {};
};

// Reads the LUT configuration (quad size, car, models, camera parameters).
// 1; 0 when it cannot be read or the output size is empty.
int VirtualViewLUTGen_Init(VirtualViewLUTGen* gen, const char* lutConfigPath, int32_t outWidth, int32_t outHeight,
                           float view1, float view2, float view3, float view4);
// Builds the texture (W x 2H texels) with sample spacing 2, 4 or 8;
// cameraMatrix (12 floats, world to camera, row-major 3 x 4) may be null. A
// null texture builds nothing but the camera. 1; 0 for another spacing.
int VirtualViewLUTGen_Build(VirtualViewLUTGen* gen, int32_t sampleStep, uint32_t* texture, float* cameraMatrix,
                            float focal, float angleA, float angleB, float aspect, float positionX, float positionY,
                            float positionZ, float endBowlExtension);
// Half resolution: spacing 16, texture (W / 2) x 2 (H / 2) texels, texel
// (r / 2, c / 2) for output pixel (r, c) with r and c even. 1; 0 for an
// output smaller than 2 x 2.
int VirtualViewLUTGen_BuildHalf(VirtualViewLUTGen* gen, uint32_t* texture, float* cameraMatrix, float focal,
                                float angleA, float angleB, float aspect, float positionX, float positionY,
                                float positionZ, float endBowlExtension);
void VirtualViewLUTGen_Release(VirtualViewLUTGen* gen);

// World point to virtual image offsets from the centre; camera-frame depth
// into depth when given.
void VirtualViewLUTGen_ProjectToView(const VirtualViewLUTGen* gen, float* x, float* y, float* depth, float wx,
                                     float wy, float wz);
// Encodes one pixel's sources into the texture (W x 2H).
void VirtualViewLUTGen_WriteTexel(const VirtualViewLUTGen* gen, uint32_t* texture, int32_t row, int32_t col,
                                  float x1, float y1, float x2, float y2, float weight);

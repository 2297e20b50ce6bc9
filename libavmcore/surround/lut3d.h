#pragma once
// The 3-D LUT of the bowl view: for every pixel of the 3-D view's picture
// the bowl surface point it shows, its source position in the camera of
// each side (side 1: front/rear cameras, side 0: side cameras) and the
// blend weight between the sides.
#include <cstdint>
#include <vector>

#include "camera/lut_config_file.h"
#include "surround/bowl_cameras.h"
#include "surround/bowl_grid.h"

// Fixed-point source positions (x 1024) below this are holes; a failed
// projection or a pixel no ray reaches holds kLut3DHole.
constexpr int32_t kLut3DHoleLimit = -20470000;
constexpr int32_t kLut3DHole = -20480000;
// Largest output picture: sides and pixel count (nine 4-byte maps a pixel).
constexpr int32_t kLut3DMaxSide = 8192;
constexpr int32_t kLut3DMaxPixels = 4096 * 4096;

struct LUT3DOB {
  int32_t valid = 0;
  int32_t secondWeight = 0;
  int32_t step = 1;
  uint32_t quadW = 0, quadH = 0;
  float carW = 0.0f, carL = 0.0f;
  int32_t outW = 0, outH = 0;
  uint32_t model[4] = {0, 0, 0, 0};
  uint32_t slot[4] = {0, 0, 0, 0};
  CameraParamSet params{};
  CameraParamHeaders headers{};
  BowlCameras cams;
  // pitch, yaw, distance, target x, target y, zoom, aspect, off-centre x, y
  float view[9] = {0, 0, 0, 0, 0, 1, 1, 0, 0};
  BowlShape shape[2] = {};  // side 1 (cameras 1, 2), side 0 (cameras 3, 4)
  float mvp[16] = {};
  float refX[9] = {}, refY[9] = {};               // reference points on the screen
  float seamFirst[4] = {}, seamSecond[4] = {};    // seam angles about the reference points
  std::vector<float> mapY, mapX, mapZ;            // surface point of each pixel
  std::vector<int32_t> U1, V1, U0, V0;            // side 1 and side 0 sources, x 1024
  std::vector<int32_t> weight, weight2;           // side-1 share and second weight, 0..1023
};

// Reads the parameter file and allocates the maps; 1, or 0 (nothing
// allocated, object invalid) when the file cannot be read or the size is
// not positive or too large.
int32_t Init3DLut(LUT3DOB* lut, const char* path, int32_t outW, int32_t outH, const float shape[8]);
void Calc3DLut();
void UnInit3DLut(LUT3DOB* lut);

// The computation with the stored step, flag and view parameters.
void Lut3D_Compute(LUT3DOB* lut);
// Stores step, view parameters and the second-weight flag, runs the
// computation and copies the view matrix into mvp (may be null).
void Lut3D_ComputeEx(LUT3DOB* lut, int32_t step, float* mvp, int32_t flag, float zoom, float aspect, float offX,
                     float offY, float pitch, float yaw, float distance, float tx, float ty);

// Screen position (x, y) of a ground-frame point through the view matrix.
void Lut3D_ProjectPoint(const LUT3DOB* lut, float* outX, float* outY, float x, float y, float z);
void Lut3D_ProjectRefPoints(LUT3DOB* lut);
// Clamps and writes back seam k's fraction pair, then gives its two angles
// about corner P between the directions from Q and R.
void Lut3D_SeamAngles(int32_t k, float* outFirst, float* outSecond, const float P[2], const float Q[2],
                      const float R[2]);
void Lut3D_CastSide(LUT3DOB* lut, int32_t side);
void Lut3D_FillBlendMap(LUT3DOB* lut);

// Angle weights; an interval whose end is below its start runs across 2 pi.
float Lut3D_SectorRamp4(const float a[4], float angle);
float Lut3D_BandWeight(float a, float b, float c, float d, float angle);
void Lut3D_BandWeightEx(float p0, float p1, float p2, float p3, float angle, float out[3]);

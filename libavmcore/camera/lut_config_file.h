#pragma once
#include <cstddef>
#include <cstdint>

#include "frame/matrix_types.h"

// The camera parameter file "lut_config.krv" (and "lut_config_base.krv",
// same format). All numbers little-endian. The file has no count fields:
// reader and writer agree on N (points per camera) and M (maximum points per
// camera) from the global configuration, M >= N.

constexpr uint32_t kLutConfigMagic = 0x05080101u;

// Point capacity per camera of the caller's point buffers (LutConfigPoints
// and the world-point block of ModLUTConfigFile).
constexpr int kLutConfigPointCapacity = 43;

// The four cameras' parameters grouped by kind, camera 1 first in each group.
struct CameraParamSet {
  float K[4][9];  // row-major 3x3; K[2] principal point x, K[5] y
  float D[4][8];  // distortion terms of the lens model
  float R[4][3];  // rotation vector
  float T[4][3];  // translation
};
static_assert(sizeof(CameraParamSet) == 368, "CameraParamSet is stored whole in the file");

// 16 Matrix headers over a CameraParamSet: K 3x3, D 8x1, R and T 3x1.
struct CameraParamHeaders {
  Matrix K[4];
  Matrix D[4];
  Matrix R[4];
  Matrix T[4];
};
void CameraParamSet_SetHeaders(CameraParamSet* set, CameraParamHeaders* headers);

// The 25-word header of a lut_config file as LoadLUTConfig returns it.
struct LutConfigInfo {
  uint32_t quadWidth;      // 0 (default 1440)
  uint32_t quadHeight;     // 1 (default 1152)
  uint32_t carWidth;       // 2
  uint32_t carLength;      // 3
  uint32_t carBoxParam;    // 4
  uint32_t frontOverhang;  // 5 (default 500)
  uint32_t wheelBase;      // 6 (default 3000)
  uint32_t model;          // 7
  uint32_t lensSlot[4];    // 8..11
  uint32_t viewRange;      // 12
  uint32_t extraValue;     // 13
  uint32_t groupNumber;    // 14
  uint32_t splitLength;    // 15
  uint32_t cornerCount[4]; // 16..19
  uint32_t bandSizes[4];   // 20..23 (default 0)
  uint32_t extraParam;     // 24 (default 0)
};
static_assert(sizeof(LutConfigInfo) == 25 * 4, "LutConfigInfo is 25 words");

// Caller's point buffer of LoadLUTConfig: N image points (x, y) then N world
// points (x, y, z) per camera, N <= kLutConfigPointCapacity.
struct LutConfigPoints {
  float image[4][kLutConfigPointCapacity][2];
  float world[4][kLutConfigPointCapacity][3];
};

// Ranges of the header and tail words later formulas use (blind area,
// overhang, camera and band sizes); a file with a word outside is refused.
constexpr int32_t kLutConfigMaxMm = 100000;          // car width, length, box value; |front overhang|
constexpr uint32_t kLutConfigMinQuadSide = 2;        // quad frame width and height
constexpr uint32_t kLutConfigMaxQuadSide = 32768;
constexpr uint32_t kLutConfigMaxBandSize = 16384;    // each band size
// The first word of info outside its range, by name; null when all fit.
const char* LutConfigInfo_BadWord(const LutConfigInfo& info);

// Byte offsets of the file for N points and M maximum points per camera.
struct LutConfigLayout {
  long imagePoints;      // 68
  long worldPoints;      // 68 + 32N
  long paramSet;         // 68 + 80N
  long quadWidth;        // 436 + 80N
  long quadHeight;       // 440 + 80N
  long frontOverhang;    // 444 + 80N
  long wheelBase;        // 448 + 80N
  long seamAngles;       // 452 + 80N
  long moreImagePoints;  // 468 + 80N
  long moreWorldPoints;  // 468 + 48N + 32M
  long frontBlendWidth;  // 468 + 80M
  long rearBlendWidth;   // 472 + 80M
  long bandSizes;        // 476 + 80M
  long extraParam;       // 492 + 80M
  long size;             // 496 + 80M
};
// False when the counts are impossible (N < 0, M < N or beyond any sane file).
bool LutConfigLayout_Make(int n, int m, LutConfigLayout* out);

// Everything the file holds, for the whole-file writer. Point arrays are
// sized by the caller: image[cam] has M (x, y) pairs, world[cam] M triples.
struct LutConfigFileData {
  int32_t carWidth, carLength, carBoxParam;
  uint32_t model;
  uint32_t lensSlot[4];
  int32_t viewRange, extraValue, groupNumber, splitLength;
  int32_t cornerCount[4];
  const float* image[4];  // 2*M floats each; null writes zeros
  const float* world[4];  // 3*M floats each; null writes zeros
  CameraParamSet params;
  int32_t quadWidth, quadHeight, frontOverhang, wheelBase;
  float seamAngles[4];
  int32_t frontBlendWidth, rearBlendWidth;
  int32_t bandSizes[4];
  int32_t extraParam;
};

// Reader and writer with explicit counts; the named operations below take
// N and M from the global configuration.
int LoadLUTConfigCounts(LutConfigInfo* info, CameraParamSet* params, const char* path,
                        LutConfigPoints* points, int n, int m);
// Writes the whole file, then fflush and fsync. True when every byte landed.
bool LutConfigFile_Write(const char* path, const LutConfigFileData& data, int n, int m);
int ModLUTConfigFileCounts(const char* path, int32_t frontOverhang, int32_t wheelBase,
                           int32_t splitLength, int mode, const float* rotations,
                           const float* positions, const float* worldPoints, int resetCentre,
                           int n, int m);

// Pose adjustment: rvecOut = axis-angle of Rodrigues(rvecIn) x
// Rz(angles[2]) Ry(angles[1]) Rx(angles[0]). rvecOut may alias rvecIn.
void RotationVec_ApplyAngles(const float* rvecIn, const float* angles, float* rvecOut);

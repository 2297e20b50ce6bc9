#pragma once
#include <cstdint>

#include "camera/lut_config_file.h"
#include "frame/matrix_types.h"

// Parameter block loaded once from "lut_config_base.krv" under board-layout
// code 51; owned by a LutConfig.
struct CameraParamBlock {
  uint32_t loaded;
  uint32_t quadWidth, quadHeight;
  float carWidth, carLength;
  uint32_t model[4];
  uint32_t lensSlot[4];
  CameraParamSet params;
  CameraParamHeaders headers;
};

// Geometry record of one stitched bird's-eye set-up.
struct LutConfig {
  int32_t carWidth;       // mm, blind area
  int32_t carLength;      // mm
  int32_t carBoxParam;
  int32_t frontOverhang;
  int32_t wheelBase;
  // Car rectangle in output pixels: left, right, output width, top, bottom.
  int32_t carRect[5];
  int32_t outHeight;
  float mmPerPixel;
  int32_t viewRange;
  int32_t extraValue;
  int32_t groupNumber;
  int32_t splitLength;
  // Car rectangle again: left, top, width, height (height even).
  int32_t carBox[4];
  uint32_t model[4];
  int32_t lensSlot[4];
  Matrix groundTable;  // 3 cols x (W * H) rows: ground (x, y, z) of output pixel
  int32_t carLeft, carTop, carRight, carBottom;
  int32_t innerLeft, innerTop, innerRight, innerBottom;
  Matrix X1, Y1, X2, Y2, W1, W2, W3;
  CameraParamBlock* paramBlock;
  int32_t handEntered;
  int32_t extraParam;
};

void LutConfig_Init(LutConfig* cfg, int32_t carWidth, int32_t carLength, int32_t carBoxParam,
                    int32_t frontOverhang, int32_t wheelBase, int32_t model, int32_t allocMaps,
                    int32_t extraParam, int32_t keepSize);
void LutConfig_CalcBlindArea(LutConfig* cfg, int32_t allocMaps, int32_t keepSize);
void LutConfig_Release(LutConfig* cfg, int32_t freeParamBlock);
// Lens-model number of camera 1..4; 0 for any other number.
uint32_t LutConfig_GetCameraModel(const LutConfig* cfg, int32_t camera);

// Reads a lut_config file with N and M of the global configuration. 1 read;
// 0 (outputs untouched) when the file does not open, the magic differs, the
// file ends before the camera parameters, or N does not fit the point
// buffer. Corner counts are clamped to 0..M.
int LoadLUTConfig(LutConfigInfo* info, CameraParamSet* params, const char* path,
                  LutConfigPoints* points);
// Patches a lut_config file in place; -1 (0xFFFFFFFF) keeps a value. 1 after
// a patch, 0 when the file cannot be opened, is not a whole parameter file
// of the configured layout, or a write fails.
int ModLUTConfigFile(const char* path, int32_t frontOverhang, int32_t wheelBase,
                     int32_t splitLength, int32_t mode, const float* rotations,
                     const float* positions, const float* worldPoints, int32_t resetCentre);

int CameraParamBlock_Load(CameraParamBlock* block, const char* path);
void CameraParamBlock_ClearLoaded(CameraParamBlock* block);

// carLength of lut_config_base.krv through first, carWidth through second;
// nothing written on failure.
void LutConfigBase_GetSize(int32_t* first, int32_t* second);

#pragma once
// Operations of calibration that the LUT exports call. Until the code that does this work is linked in, weak stand-ins
// (lut_exports_services.cpp) report the failure codes the callers expect.
#include <cstdint>

#include "frame/matrix_types.h"

struct LUTOB;

// Synchronous line calibration. The caller zeroes the record and sets the
// two thresholds (0.3 and 600.0).
struct Best3Work {
  float minScore;
  float maxDistance;
  int32_t third;
  LUTOB* lut;
  void* state;  // owned by the calibration
};
void Best3Ctrl_CreateWork(Best3Work* work, LUTOB* lut);
// 0 (the object holds the new poses and the merged LUT) or a result code
// (17-20, 33-36, 49). Stand-in: 17 (no line points on camera 1).
int32_t CalibBest3_Run(Best3Work* work, Matrix* image, int32_t option);
void Best3Ctrl_DestroyWork(Best3Work* work);

// The LUT save chain of the GetLUTOBResult exports: 0, or the kLutSave* code
// of the first step that failed.
int32_t GlobalImage_SaveLUTResult(LUTOB* lut, const char* path1, const char* path2, uint32_t mask);

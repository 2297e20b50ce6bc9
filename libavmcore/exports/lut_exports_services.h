#pragma once
// Operations of calibration that the LUT exports call. Until the code that does this work is linked in, weak stand-ins
// (lut_exports_services.cpp) report the failure codes the callers expect.
#include <cstdint>

#include "frame/matrix_types.h"

struct LUTOB;
struct BlockCalib4;

// Copies the block calibration's per-camera corners (59 a camera) into xs
// and ys. Stand-in: copies nothing.
void BlockCalib4_GetCorners(BlockCalib4* block, float* xs, float* ys, int32_t reserved);

// The LUT save chain of the GetLUTOBResult exports: 0, or the kLutSave* code
// of the first step that failed.
int32_t GlobalImage_SaveLUTResult(LUTOB* lut, const char* path1, const char* path2, uint32_t mask);

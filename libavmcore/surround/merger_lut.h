#pragma once
// The stitched bird's-eye look-up table: for every output pixel the source
// point of the dominant camera (X1, Y1) and of a second camera (X2, Y2) in
// the quad frame, the first weight W1, the seam ramp W2 and the corner fade
// W3. Cameras 1..4 are front, rear, left, right.
#include <cstdint>

#include "frame/matrix_types.h"

struct LUTOB;

// Optionally solves the poses (calibrate != 0), applies the fixed front
// camera offset, drops corner counts of cameras 1/2 by dropMask bits 0/1,
// then builds the maps of the layout the configuration names. 0, or
// 33..36 when solving camera 1..4 failed.
int32_t LUT_GenerateMergerLUT(LUTOB* lut, int32_t calibrate, int32_t dropMask);
// The build step alone; 0.
int32_t LUT_RegenerateMergerLUT(LUTOB* lut);

// Four-sided layout. W3 and each out-pointer may be null. 0.
int32_t LUT_BuildMergerMaps(LUTOB* lut, int32_t marginMode, int32_t useSeamWeight, int32_t W, int32_t H,
                            const Matrix* groundTable, Matrix* W1, Matrix* W2, Matrix* X1, Matrix* Y1, Matrix* X2,
                            Matrix* Y2, Matrix* W3, int32_t* carLeft, int32_t* carTop, int32_t* carRight,
                            int32_t* carBottom, int32_t* innerLeft, int32_t* innerTop, int32_t* innerRight,
                            int32_t* innerBottom);
// Sector layout: the camera pair of a pixel follows from the sector around
// the view's split point. 0.
int32_t LUT_BuildSectorMaps(LUTOB* lut, int32_t marginMode, int32_t W, int32_t H, const Matrix* groundTable,
                            Matrix* W1, Matrix* W2, Matrix* X1, Matrix* Y1, Matrix* X2, Matrix* Y2, Matrix* W3,
                            int32_t* carLeft, int32_t* carTop, int32_t* carRight, int32_t* carBottom,
                            int32_t* innerLeft, int32_t* innerTop, int32_t* innerRight, int32_t* innerBottom);

// Single-pass four-sided form on the object's own maps, with the car taken
// from the configuration's car box. 0.
int32_t LUT_BuildMergerMapsDirect(LUTOB* lut);

// Corner weight of the front/rear camera (front 1: front corners).
float LUT_CornerWeightBySeam(float dy, float dx, float ignored, float cap, const LUTOB* lut, int32_t front);
float LUT_CornerWeightByAngleRange(float dy, float dx, float scaleY, float scaleX, const LUTOB* lut,
                                   int32_t front);

// Threads the map builders spread their per-pixel work over (the result does
// not depend on it). 0 restores the default (the machine's cores, at most 8).
void LUT_SetBuildThreads(int32_t threads);

#pragma once
// Entry points of the block calibrations: four blocks (board layout 29) and
// six blocks (layout 52). The LUT builders reach BlockCalib4_RunAuto/RunHand
// and BlockCalib6_RunAuto/RunHand through surround/calibration_services.h;
// the rest is for the library's own callers and tests.
//
// Result codes: 0 success (state set to 1), and 0 at once when the layout
// code is not the object's; 17..20 camera 1..4 failed its corner search or
// adjustment (17 also: side-camera corner order from images, four blocks;
// vehicle measured too small); 33 corner order of hand-entered corners (and
// of any corners, six blocks).
#include <cstdint>

#include "calibration/solve/block_calib.h"
#include "frame/matrix_types.h"

// Hand-entered and read-out corner arrays hold 59 values per camera.
constexpr int32_t kBlockCornerStride = 59;

void BlockCalib4_Setup(BlockCalib4* obj, int32_t mode, int32_t halfWidth, int32_t halfHeight, int32_t alignMethod,
                       int32_t cameraModel, const int32_t cameraValues[4], float tol1, float tol2, float tol3,
                       float tol4, float squareSize);
// imageKind 0: image is a float Matrix quad frame; else an ImageU8.
int32_t BlockCalib4_FindAndSolve(BlockCalib4* obj, int32_t imageKind, const void* image);
// Corner k (0..7) of camera c: column xs[59 c + k], row ys[59 c + k].
int32_t BlockCalib4_SolveHand(BlockCalib4* obj, const float* xs, const float* ys);
// Copies each camera's found corners (all 8 when `all` is non-zero), column
// to xs[59 c + i], row to ys[59 c + i].
void BlockCalib4_GetCorners(BlockCalib4* block, float* xs, float* ys, int32_t all);
// Mode from configuration word 61 (bits 0 and 1).
int32_t BlockCalib4_ModeFromMask(int32_t mask);

void BlockCalib6_Setup(BlockCalib6* obj, int32_t mode, int32_t halfWidth, int32_t halfHeight, int32_t cameraModel,
                       const int32_t cameraValues[6], float tol1, float tol2, float tol3, float tol4,
                       float squareSize);
// frame1: quad frame of cameras 0..3; frame2: the rear side cameras side by
// side. Both ImageU8.
int32_t BlockCalib6_FindAndSolve(BlockCalib6* obj, const ImageU8* frame1, const ImageU8* frame2);
int32_t BlockCalib6_SolveHand(BlockCalib6* obj, const float* xs1, const float* ys1, const float* xs2,
                              const float* ys2);

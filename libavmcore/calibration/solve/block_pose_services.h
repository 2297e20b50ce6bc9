#pragma once
// What the world points of the block layouts (29 four blocks, 52 six blocks)
// use of the block calibrations: once a calibration has succeeded, the eight
// corners of a camera's two blocks in the site frame. Weak stand-ins
// (block_pose_services.cpp) report no successful calibration until the
// block calibrations are linked in.
#include <cstdint>

#include "frame/matrix_types.h"

struct BlockCalib4;
struct BlockCalib6;

// Non-zero once the object's calibration has succeeded. Stand-ins: 0.
int32_t BlockCalib4_State(const BlockCalib4* block);
int32_t BlockCalib6_State(const BlockCalib6* block);
// Rows 0..7 of out: the corners of camera 1..4's two blocks, turned by
// angle (radians) and shifted by (dx, dy). Stand-ins: nothing written.
void CalibPose_FromAngles(const BlockCalib4* block, int32_t camera, Matrix* out, float angle, float dx, float dy);
void CalibPose6_FromAngles(const BlockCalib6* block, int32_t frame, int32_t camera, Matrix* out, float angle,
                           float dx, float dy);

#pragma once
// What the world points of the block layouts (29 four blocks, 52 six blocks)
// use of the block calibrations: once a calibration has succeeded, the eight
// corners of a camera's two blocks in the site frame. Defined with the block
// calibrations.
#include <cstdint>

#include "frame/matrix_types.h"

struct BlockCalib4;
struct BlockCalib6;

// Non-zero once the object's calibration has succeeded (0 for null).
int32_t BlockCalib4_State(const BlockCalib4* block);
int32_t BlockCalib6_State(const BlockCalib6* block);
// Rows 0..7 of out: the corners of camera 1..4's two blocks, turned by
// angle (radians) and shifted by (dx, dy); z = 0. Nothing is written for a
// null object, a camera outside 1..4 or an output under 8 x 3.
void CalibPose_FromAngles(const BlockCalib4* block, int32_t camera, Matrix* out, float angle, float dx, float dy);
void CalibPose6_FromAngles(const BlockCalib6* block, int32_t frame, int32_t camera, Matrix* out, float angle,
                           float dx, float dy);

#pragma once
// Colour statistics of the four-camera colour correction in the six-camera
// view: the second cameras of the two rear overlaps (the rear side cameras)
// are read from the second frame, everything else from the quad frame.
#include <cstdint>

#include "surround/color_correct.h"
#include "surround/mix_area_info.h"

// Cameras of the per-camera forms, in this order.
enum SixCamera : int32_t {
  kSixFront = 0,
  kSixBack = 1,
  kSixLeftFront = 2,
  kSixRightFront = 3,
  kSixLeftRear = 4,
  kSixRightRear = 5,
};

// frame1: the quad frame (code1); frame2: the rear side cameras side by
// side, quad width and half its height (code2); descriptors begin with
// width and height. Nothing when the record's quad size differs from
// frame 1's. Statistics of the eight pairs, pairs 5 (tables 10/11) and 7
// (14/15) from frame 2, then the region update without a score.
void MergerColorStatsSix(ColorCorrectState* state, int32_t code1, const void* frame1, int32_t code2,
                         const void* frame2, const MixAreaInfo* mix);
// The same from six camera frames of one size (cameras in SixCamera order,
// one code): the record is first turned into camera coordinates in place,
// and its quad size must be twice the camera size.
void MergerColorStatsSixEx(ColorCorrectState* state, int32_t code, const void* const cameras[6], MixAreaInfo* mix);

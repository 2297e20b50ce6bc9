#pragma once
// The colour-overlap ground seen by six cameras: the quad frame holds front,
// back, left-front and right-front, the second frame (quad width, half its
// height) left-rear and right-rear side by side. Each camera multiplies the
// ground's colour by its own gains, and the mix-area records sample the same
// ground points in both cameras of every overlap, so the colour correction
// and the brightness balance have known ratios to find.
#include <cstdint>
#include <vector>

#include "surround/mix_area_info.h"
#include "surround/mix_area_six_ex.h"

// gains[k] for cameras front, back, left-front, right-front, left-rear,
// right-rear. R, G, B bytes, rows top first: frame1 2 camW x 2 camH, frame2
// 2 camW x camH.
void SixColourScene_RenderRGB(int32_t camW, int32_t camH, const float gains[6][3], std::vector<uint8_t>* frame1,
                              std::vector<uint8_t>* frame2);
// The same as NV12.
void SixColourScene_RenderNV12(int32_t camW, int32_t camH, const float gains[6][3], std::vector<uint8_t>* frame1,
                               std::vector<uint8_t>* frame2);
// Mix-area record as the six-camera merge leaves it: the rear overlaps'
// side-camera tables (10/11, 14/15) in second-frame coordinates. Release
// with MixAreaInfo_Release.
MixAreaInfo SixColourScene_MixArea(int32_t camW, int32_t camH, int32_t rows);
// Six-camera extension record with n columns: pairs 1 and 3 in the
// left-front and right-front quadrants, 2 and 4 in the second frame. Free
// with MixAreaSixEx_Free.
MixAreaSixEx SixColourScene_SixEx(int32_t camW, int32_t camH, int32_t n);

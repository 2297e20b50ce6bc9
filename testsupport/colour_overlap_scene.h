#pragma once
// A quad frame whose four cameras see the same textured ground, each
// through its own per-channel gain, and a mix-area record whose overlap
// pairs sample the same ground points in the two cameras of each overlap:
// colour correction then has a known gain ratio to find.
#include <cstdint>
#include <vector>

#include "surround/mix_area_info.h"

// Quad frame (2 camW x 2 camH) as R, G, B bytes, rows top first; camera k
// (0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right) multiplies the
// ground's colour by gains[k][0..2]. shift moves the texture (a moving car).
std::vector<uint8_t> ColourScene_RenderRGB(int32_t camW, int32_t camH, const float gains[4][3], int32_t shift = 0);
// The same as NV12 (BT.601 studio range).
std::vector<uint8_t> ColourScene_RenderNV12(int32_t camW, int32_t camH, const float gains[4][3], int32_t shift = 0);
// A valid mix-area record over the quad frame: rows rows per overlap band.
// The caller releases it with MixAreaInfo_Release.
MixAreaInfo ColourScene_MixArea(int32_t camW, int32_t camH, int32_t rows);

#pragma once
// Picture conversions of the birdseye commands.
#include <cstdint>
#include <vector>

#include "host_image.h"

// A cw x ch block of a colour picture at (ox, oy) as a semi-planar 4:2:0
// camera image (BT.601 studio range).
std::vector<uint8_t> QuadrantToNV12(const HostImage& quad, int32_t ox, int32_t oy, int32_t cw, int32_t ch);
// Semi-planar 4:2:0 planes (pitch w) back to a colour picture.
HostImage NV12ToRgb(const std::vector<uint8_t>& luma, const std::vector<uint8_t>& chroma, int32_t w, int32_t h);

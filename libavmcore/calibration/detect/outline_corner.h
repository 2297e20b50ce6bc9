#pragma once
// Picks one board corner on a blob outline near a predicted position.
#include <cstdint>

#include "toolkit/blobs.h"

// seed and out are (row, column). quadrant 0..3 (0 up-left, 1 up-right,
// 2 down-left, 3 down-right as seen from the seed). The farthest outline
// point of the quadrant is taken when it is closer than *best and maxDist,
// the outline passes within 5 pixels of the seed and the outline turns
// sharply away on both sides of it; then *best and out are updated and the
// result is 1. Returns 0 at once when *best is already below maxDist.
int32_t Blob_FindCornerNear(const Blob* blob, const float seed[2], int32_t quadrant, int32_t swapAxes, float* best,
                            float out[2], float maxDist);

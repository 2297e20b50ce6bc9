#pragma once
// 1-D smoothing of float runs and integer grid fills.
#include <cstdint>

#include "frame/matrix_types.h"

// Symmetric kernel of radius r (1, 2 or 3) over the run padded with copies of
// its end values; work holds n + 2r floats. Other radii leave data unchanged.
void Smooth1D(float* data, int32_t n, int32_t r, float* work);
// Running mean over 2r + 1 values with the same padding; returns the last
// running sum.
float BoxSmooth1D(float* data, int32_t n, int32_t r, float* work);
// 1/4, 1/2, 1/4 on the inner values (n > 2); work holds n floats.
void Smooth3Interior(float* data, int32_t n, float* work);

// Fills an integer grid from its samples at every step-th column and row (and
// the last column and row): along the sampled rows, then along every column.
void Image_ScaleCols(ImageI32* grid, int32_t step);
// The same on two grids of equal size at once; a gap with a hole (a value
// below kScaleHole) at either end is left as it is. The last two arguments
// (largest U and V) are not used.
constexpr int32_t kScaleHole = -20470000;
void Image_ScaleRows(ImageI32* gridU, ImageI32* gridV, int32_t step, int32_t maxU, int32_t maxV);

#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Box dilation and erosion of two-level float images in place, through the
// (2rx+1) x (2ry+1) box mean on a replicated border: a pixel becomes 1.0
// where the mean is above 0 (or not a number), else 0.0. Erosion is the
// dilation of the inverted image, inverted back.
void Image_Dilate(Matrix* img, int32_t rx, int32_t ry);
void Image_Erode(Matrix* img, int32_t rx, int32_t ry);

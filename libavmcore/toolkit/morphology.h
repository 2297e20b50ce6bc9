#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Box dilation and erosion of two-level float images in place, through the
// (2rx+1) x (2ry+1) box mean on a replicated border: a pixel becomes 1.0
// where the mean is above 0 (or not a number), else 0.0. Erosion is the
// dilation of the inverted image, inverted back.
void Image_Dilate(Matrix* img, int32_t rx, int32_t ry);
void Image_Erode(Matrix* img, int32_t rx, int32_t ry);

// Image_Dilate of a byte image in place: 1 where some pixel of the clamped
// (2rx+1) x (2ry+1) box is not 0, else 0 (the float form's result on the
// image as 0.0 and 1.0).
void ImageU8_DilateBinary(ImageU8* img, int32_t rx, int32_t ry);

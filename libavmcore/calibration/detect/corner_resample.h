#pragma once
// Bringing grey float images to the bounded working sizes of the corner
// finders. A working x times the x scale (and y times the y scale) gives the
// input position. Results come from Matrix_New: hold them in a MatrixPtr or
// free them with Matrix_Delete.
#include <cstdint>

#include "frame/matrix_types.h"
#include "toolkit/matrix_alloc.h"

// 720 x 576 when (cols >= 1280 and mode != 0) or (rows == 480 and mode == 2),
// else a copy with scales 1.
Matrix* ResampleForCorners(const Matrix* image, int32_t mode, float* scaleX, float* scaleY);
// The resampling of ResampleForCorners into dst's size, whatever dst held
// (the caller decides that the image is resampled).
void ResampleForCornersInto(const Matrix* image, Matrix* dst);
// 1280 x 720 when the image is wider or taller, else a copy.
Matrix* ResampleTo1280x720(const Matrix* image, float* scaleX, float* scaleY);
// W x H when the image is wider or taller, else a copy.
Matrix* ResampleToSize(const Matrix* image, int32_t W, int32_t H, float* scaleX, float* scaleY);
// Into dst (its size is the target); a small enough source is copied packed
// to the start of dst's block, dst's header unchanged.
void ResampleToSizeInto(const Matrix* image, Matrix* dst, float* scaleX, float* scaleY);
// (int)(cols f) x (int)(rows f), always resampled; no scales.
Matrix* ResampleByFactor(const Matrix* image, float factor);

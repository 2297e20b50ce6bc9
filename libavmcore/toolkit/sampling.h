#pragma once
#include <cstdint>

#include "frame/matrix_types.h"
#include "toolkit/matrix_alloc.h"

// Geometric resampling of float images (Matrix, cols = width, row-major) and
// small point utilities. Coordinates are (row, col) floats in pixel units;
// the integer part is taken by truncation toward zero.

// Bilinear value at (row, col); weights beyond the last row or column are
// dropped. Callers keep 0 <= row <= rows - 1 and 0 <= col <= cols - 1.
float Image_SampleBilinear(const Matrix* img, float row, float col);

// New Matrix of xmap's size (Matrix_New; the caller frees it with
// Matrix_Delete): the bilinear sample of src at (ymap, xmap), 0 where x < 0.
Matrix* Image_RemapBilinearAlloc(const Matrix* src, const Matrix* xmap, const Matrix* ymap);

// dst = sample of src at (dy + ymap, dx + xmap) over xmap's size; 0 where
// the x is negative.
void Image_RemapBilinear(const Matrix* src, const Matrix* xmap, const Matrix* ymap, Matrix* dst,
                         int32_t dx, int32_t dy);

// Rotation about the centres by angle (radians); pixels without a source
// stay 0.
void Image_Rotate(const Matrix* src, Matrix* dst, float angle);

// mode 1 nearest neighbour, mode 2 bilinear; other modes do nothing.
void Image_Resize(const Matrix* src, Matrix* dst, int32_t mode);

// dst(r, c) = src(r, cols - 1 - c).
void Matrix_MirrorHorizontal(const Matrix* src, Matrix* dst);

// normType 1 sum, 2 Euclidean, 4 largest value: dst = a * src / norm;
// 3: min-max into [a, b]. A zero norm (or max == min) leaves dst unchanged.
void Vec_Normalize(const float* src, float* dst, int32_t n, int32_t normType, float a, float b);

// Point record of Points_SuppressNear.
struct PointRecord {
  int32_t x, y;
  int32_t valid;
  float value;
};
// Sorts the records by value (descending) and marks every record closer
// than distance to a stronger valid one invalid.
void Points_SuppressNear(PointRecord* records, int32_t n, float distance);

// Four-pass speckle filter over rows and columns 10 .. size - 11; nothing
// happens unless dst has more than 20 columns and rows. src may be dst.
void Image_RaiseToCornerMin(const Matrix* src, Matrix* dst);

// The speckle filter on an 8-bit image, in place, through a float copy.
void ImageU8_RaiseToCornerMin(ImageU8* img);

#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Small linear filters of float images. Sources of the separable filters
// are pre-padded (normally by Matrix_PadReplicate); dst gives the output
// size; kernels are applied without flipping.

// For each dst row: buffer = vertical taps vk over three source rows for
// all w+2 columns, then dst = horizontal taps hk over buffer. buffer is the
// caller's (w+2 floats).
void Image_SepFilter3x3(const Matrix* src, Matrix* dst, const float hk[3], const float vk[3],
                        float* buffer);
// The same with 2k+1 taps; source (w+2k) x (h+2k).
void Image_SepFilter(const Matrix* src, Matrix* dst, int32_t k, const float* hk, const float* vk);
// Image_SepFilter of src on a replicated border of k (dst has src's size),
// with the same results, without a padded copy.
void Image_SepFilterReplicate(const Matrix* src, Matrix* dst, int32_t k, const float* hk, const float* vk);
// dst(x, y) = |sum over the kernel of src(x+i, y+j) * kernel(i, j)|; src at
// least (dst width + kw - 1) x (dst height + kh - 1).
void Image_CorrelateAbs(const Matrix* src, Matrix* dst, const Matrix* kernel);
// Same-size form for square odd kernels: pads src by kw / 2 first.
void Image_CorrelateAbsSame(const Matrix* src, Matrix* dst, const Matrix* kernel);
// Image_CorrelateAbs of src on a replicated border of (kw / 2, kh / 2)
// columns and rows (dst has src's size), without a padded copy.
void Image_CorrelateAbsReplicate(const Matrix* src, Matrix* dst, const Matrix* kernel);
// Test support: the widest vectors the radial 5 x 5 correlation may use
// (16 by default; 8 runs the portable eight-lane form on every machine).
void LinearFilters_LimitLanes(int32_t lanes);
// Sobel gradients of the interior pixels, times scale; borders untouched.
void Image_Sobel(const Matrix* src, Matrix* gx, Matrix* gy, float scale);
// Columns 1 .. w-2 of one interior row of Image_Sobel from the rows above,
// at and below it.
void Image_SobelRow(const float* up, const float* mid, const float* dn, float* gx, float* gy, int32_t w,
                    float scale);
// The interior rows y0 .. y1-1 of Image_Sobel.
void Image_SobelRows(const Matrix* src, Matrix* gx, Matrix* gy, float scale, int32_t y0, int32_t y1);
// Gradient magnitude normalised to a largest value of 1 (all 0 when the
// image has no gradient).
void Image_SobelMagnitude(const Matrix* src, Matrix* dst);

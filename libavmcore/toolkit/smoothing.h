#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Binomial rows for small kernels: row k holds the 2k + 1 weights of
// binomial(2k) / 4^k, the rest 0.
extern const float GaussTable[4][7];

// 1-D Gaussian of 2k + 1 taps normalised to sum 1. sigma <= 0 picks the
// binomial row for k <= 3, else sigma = (k - 1) * 0.3 + 0.8.
void Image_GaussianKernel(int32_t k, float* kernel, float sigma);

// kernel (rows kh, cols kw) = exp(-(dr^2 + dc^2) / (2 s)) about the integer
// centre ((kh - 1) / 2, (kw - 1) / 2), normalised to sum 1; s is a variance.
void Image_GaussianKernel2D(Matrix* kernel, float s);

// Separable Gaussian of 2k + 1 taps with a replicated border.
void Image_GaussianBlurSep(int32_t k, const Matrix* src, Matrix* dst, float sigma);

// Full 2-D correlation with a (2k + 1) x (2k + 1) Image_GaussianKernel2D of
// variance s over a replicated border; dst = |sum|.
void Image_GaussianBlur(int32_t k, const Matrix* src, Matrix* dst, float s);

// 3 x 3 weighted mean of the interior; border pixels copied. connectivity 4:
// centre 0.33, edges 0.165, corners 0; otherwise 0.25 / 0.125 / 0.0625.
void Image_Smooth3x3(const Matrix* src, Matrix* dst, int32_t connectivity);
// One interior row of Image_Smooth3x3 from the rows above, at and below it
// (w floats each; out must not overlap them).
void Image_Smooth3x3Row(const float* up, const float* row, const float* dn, float* out, int32_t w,
                        int32_t connectivity);
// Rows y0 .. y1-1 of Image_Smooth3x3.
void Image_Smooth3x3Rows(const Matrix* src, Matrix* dst, int32_t connectivity, int32_t y0, int32_t y1);

// The 8-connectivity Image_Smooth3x3 written into element channel of each
// pixel's group of 8 floats in dst (index (y * dst.cols + x) * 8 + channel).
void Image_Smooth3x3Channel(const Matrix* src, Matrix* dst, int32_t channel);

// Separable {0.25, 0.5, 0.25} smoothing of the interior through tmp (same
// size as src); the first and last rows and columns of dst are copied from
// src.
void Image_Smooth121(const Matrix* src, Matrix* dst, Matrix* tmp);

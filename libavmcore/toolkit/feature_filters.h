#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Projections of the pixels > 0 of a width x height image for each theta,
// each pixel split into 2 x 2 sub-samples spread linearly over two output
// bins. out rows are outStride apart. Row indices are taken relative to cx,
// column indices subtracted from cy, and offset is subtracted from every
// position. work may be null; when given it must hold 3 * width * height +
// 2 * (width + height) floats and is used instead of heap memory.
void Image_RadonAccumulate(float* out, const float* img, const float* thetas, int32_t width,
                           int32_t height, int32_t thetaCount, int32_t outStride, float* work,
                           float cx, float cy, float offset);

// Radon transform of img into out (one row per angle, thetaCount rows of
// projections centred in the row); angles startDeg + i * stepDeg.
void Image_Radon(const Matrix* img, Matrix* out, int32_t thetaCount, float stepDeg, float startDeg);

// Gabor kernel of (kh / 2 * 2 + 1) x (kw / 2 * 2 + 1), not normalised.
void Image_GaborKernel(Matrix* kernel, int32_t kw, int32_t kh, float sigma, float theta,
                       float lambda, float gamma, float psi);

float Identity(float value);

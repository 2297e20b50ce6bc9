#include "frame/patch_sampling.h"

#include <cstring>

namespace {

void Zero(Matrix* patch) {
  memset(patch->data, 0, sizeof(float) * static_cast<size_t>(patch->cols) * static_cast<size_t>(patch->rows));
}

}  // namespace

void Image_SamplePatchBilinear(const Matrix* source, Matrix* patch, float centreY, float centreX) {
  const int32_t w = patch->cols, h = patch->rows;
  if (w <= 0 || h <= 0) return;
  const float left = centreX - 0.5f * static_cast<float>(w - 1);
  const float top = centreY - 0.5f * static_cast<float>(h - 1);
  // Corners are truncated toward zero, so a corner just left of 0 still
  // counts as 0. Range-check as float first: a far-away centre must not
  // overflow the conversion.
  if (!(left > -1.0f && top > -1.0f && left < static_cast<float>(source->cols) &&
        top < static_cast<float>(source->rows))) {
    Zero(patch);
    return;
  }
  const int32_t x0 = static_cast<int32_t>(left);
  const int32_t y0 = static_cast<int32_t>(top);
  if (x0 + w >= source->cols || y0 + h >= source->rows) {
    Zero(patch);
    return;
  }
  const float fx = left - static_cast<float>(x0);
  const float fy = top - static_cast<float>(y0);
  const int32_t stride = source->cols;
  for (int32_t j = 0; j < h; ++j) {
    const float* r0 = source->data + static_cast<size_t>(y0 + j) * stride + x0;
    const float* r1 = r0 + stride;
    float* out = patch->data + static_cast<size_t>(j) * w;
    for (int32_t i = 0; i < w; ++i) {
      out[i] = (1.0f - fx) * ((1.0f - fy) * r0[i] + fy * r1[i]) + fx * (1.0f - fy) * r0[i + 1] +
               fx * fy * r1[i + 1];
    }
  }
}

void Image_SamplePatchBilinearScaled(const Matrix* source, Matrix* patch, float centreY, float centreX,
                                     float step) {
  const int32_t w = patch->cols, h = patch->rows;
  if (w <= 0 || h <= 0) return;
  const float left = centreX - 0.5f * static_cast<float>(w - 1) * step;
  const float top = centreY - 0.5f * static_cast<float>(h - 1) * step;
  if (!(left >= 0.0f && left + static_cast<float>(w) * step < static_cast<float>(source->cols) && top >= 0.0f &&
        top + static_cast<float>(h) * step < static_cast<float>(source->rows))) {
    Zero(patch);
    return;
  }
  // With a step below 1 the bound above still lets the last sample's right
  // (or lower) neighbour fall outside the source.
  const int32_t lastX = static_cast<int32_t>(left + static_cast<float>(w - 1) * step);
  const int32_t lastY = static_cast<int32_t>(top + static_cast<float>(h - 1) * step);
  if (lastX + 1 >= source->cols || lastY + 1 >= source->rows) {
    Zero(patch);
    return;
  }
  const int32_t stride = source->cols;
  for (int32_t j = 0; j < h; ++j) {
    const float y = top + static_cast<float>(j) * step;
    const int32_t yi = static_cast<int32_t>(y);
    const float fy = y - static_cast<float>(yi);
    for (int32_t i = 0; i < w; ++i) {
      const float x = left + static_cast<float>(i) * step;
      const int32_t xi = static_cast<int32_t>(x);
      const float fx = x - static_cast<float>(xi);
      const float* r0 = source->data + static_cast<size_t>(yi) * stride + xi;
      const float* r1 = r0 + stride;
      patch->data[static_cast<size_t>(j) * w + i] =
          (1.0f - fx) * ((1.0f - fy) * r0[0] + fy * r1[0]) + fx * (1.0f - fy) * r0[1] + fx * fy * r1[1];
    }
  }
}

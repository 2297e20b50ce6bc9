#include "calibration/detect/corner_resample.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "toolkit/sampling.h"

namespace {

Matrix* NewImage(int32_t cols, int32_t rows) {
  Matrix* m = static_cast<Matrix*>(malloc(sizeof(Matrix)));
  m->cols = cols > 0 ? cols : 0;
  m->rows = rows > 0 ? rows : 0;
  const size_t n = static_cast<size_t>(m->cols) * static_cast<size_t>(m->rows);
  m->data = static_cast<float*>(calloc(n > 0 ? n : 1, sizeof(float)));
  return m;
}

Matrix* Copy(const Matrix* image, float* scaleX, float* scaleY) {
  Matrix* m = NewImage(image->cols, image->rows);
  memcpy(m->data, image->data, sizeof(float) * static_cast<size_t>(m->cols) * static_cast<size_t>(m->rows));
  if (scaleX != nullptr) *scaleX = 1.0f;
  if (scaleY != nullptr) *scaleY = 1.0f;
  return m;
}

// Samples rows and columns 2 .. size - 3 of dst (zeroed by the caller) at
// (r sy, c sx) of the source; the two outermost lines stay 0.
void Sample(const Matrix* src, Matrix* dst, float sx, float sy) {
  const int32_t W = dst->cols, H = dst->rows;
  if (W <= 4 || H <= 4 || src->cols < 1 || src->rows < 1) return;
  const float maxRow = static_cast<float>(src->rows - 1), maxCol = static_cast<float>(src->cols - 1);
  // Image_SampleBilinear with the column terms worked out once per column.
  std::vector<int32_t> ci(static_cast<size_t>(W));
  std::vector<float> fxs(static_cast<size_t>(W));
  for (int32_t c = 2; c <= W - 3; ++c) {
    float x = static_cast<float>(c) * sx;
    if (x > maxCol) x = maxCol;  // a stretched or rounded last line stays inside
    ci[c] = static_cast<int32_t>(x);
    fxs[c] = ci[c] == src->cols - 1 ? 0.0f : x - static_cast<float>(ci[c]);
  }
  const int32_t stride = src->cols;
  for (int32_t r = 2; r <= H - 3; ++r) {
    float y = static_cast<float>(r) * sy;
    if (y > maxRow) y = maxRow;
    const int32_t ri = static_cast<int32_t>(y);
    const float fy = ri == src->rows - 1 ? 0.0f : y - static_cast<float>(ri);
    const float* row = src->data + static_cast<size_t>(ri) * stride;
    float* out = dst->data + static_cast<size_t>(r) * W;
    for (int32_t c = 2; c <= W - 3; ++c) {
      const float fx = fxs[c];
      const float* p = row + ci[c];
      float v = (1.0f - fy) * (1.0f - fx) * p[0];
      if (fy != 0.0f) v = std::fma(fy * (1.0f - fx), p[stride], v);
      if (fx != 0.0f) v = std::fma((1.0f - fy) * fx, p[1], v);
      if (fy != 0.0f && fx != 0.0f) v = std::fma(fy * fx, p[stride + 1], v);
      out[c] = v;
    }
  }
}

Matrix* Resample(const Matrix* image, int32_t W, int32_t H, float* scaleX, float* scaleY) {
  const float sx = static_cast<float>(image->cols) / static_cast<float>(W);
  const float sy = static_cast<float>(image->rows) / static_cast<float>(H);
  Matrix* m = NewImage(W, H);
  Sample(image, m, sx, sy);
  if (scaleX != nullptr) *scaleX = sx;
  if (scaleY != nullptr) *scaleY = sy;
  return m;
}

}  // namespace

Matrix* ResampleForCorners(const Matrix* image, int32_t mode, float* scaleX, float* scaleY) {
  if ((image->cols >= 1280 && mode != 0) || (image->rows == 480 && mode == 2))
    return Resample(image, 720, 576, scaleX, scaleY);
  return Copy(image, scaleX, scaleY);
}

Matrix* ResampleTo1280x720(const Matrix* image, float* scaleX, float* scaleY) {
  if (image->cols > 1280 || image->rows > 720) return Resample(image, 1280, 720, scaleX, scaleY);
  return Copy(image, scaleX, scaleY);
}

Matrix* ResampleToSize(const Matrix* image, int32_t W, int32_t H, float* scaleX, float* scaleY) {
  if (W >= 1 && H >= 1 && (image->cols > W || image->rows > H)) return Resample(image, W, H, scaleX, scaleY);
  return Copy(image, scaleX, scaleY);
}

void ResampleToSizeInto(const Matrix* image, Matrix* dst, float* scaleX, float* scaleY) {
  const int32_t W = dst->cols, H = dst->rows;
  if (image->cols > W || image->rows > H) {
    const float sx = static_cast<float>(image->cols) / static_cast<float>(W);
    const float sy = static_cast<float>(image->rows) / static_cast<float>(H);
    memset(dst->data, 0, sizeof(float) * static_cast<size_t>(W) * static_cast<size_t>(H));
    Sample(image, dst, sx, sy);
    if (scaleX != nullptr) *scaleX = sx;
    if (scaleY != nullptr) *scaleY = sy;
    return;
  }
  memcpy(dst->data, image->data, sizeof(float) * static_cast<size_t>(image->cols) * static_cast<size_t>(image->rows));
  if (scaleX != nullptr) *scaleX = 1.0f;
  if (scaleY != nullptr) *scaleY = 1.0f;
}

Matrix* ResampleByFactor(const Matrix* image, float factor) {
  const int32_t W = static_cast<int32_t>(static_cast<float>(image->cols) * factor);
  const int32_t H = static_cast<int32_t>(static_cast<float>(image->rows) * factor);
  Matrix* m = NewImage(W, H);
  if (W < 5 || H < 5) return m;
  const float maxRow = static_cast<float>(image->rows - 1), maxCol = static_cast<float>(image->cols - 1);
  for (int32_t r = 2; r <= H - 3; ++r) {
    float y = static_cast<float>(r) / factor;
    if (y > maxRow) y = maxRow;
    for (int32_t c = 2; c <= W - 3; ++c) {
      float x = static_cast<float>(c) / factor;
      if (x > maxCol) x = maxCol;
      m->data[static_cast<size_t>(r) * W + c] = Image_SampleBilinear(image, y, x);
    }
  }
  return m;
}

void CornerImage_Free(Matrix* image) {
  if (image == nullptr) return;
  free(image->data);
  free(image);
}

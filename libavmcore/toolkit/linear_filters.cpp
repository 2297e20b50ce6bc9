#include "toolkit/linear_filters.h"

#include <cstddef>
#include <cmath>
#include <vector>

#include "toolkit/border_filters.h"

namespace {

inline float At(const Matrix* m, int32_t x, int32_t y) {
  return m->data[static_cast<ptrdiff_t>(y) * m->cols + x];
}

}  // namespace

void Image_SepFilter3x3(const Matrix* src, Matrix* dst, const float hk[3], const float vk[3],
                        float* buffer) {
  const int32_t w = dst->cols, h = dst->rows;
  if (w < 1 || h < 1) return;
  const int32_t sw = src->cols;
  for (int32_t y = 0; y < h; ++y) {
    const float* r0 = src->data + static_cast<ptrdiff_t>(y) * sw;
    const float* r1 = r0 + sw;
    const float* r2 = r1 + sw;
    for (int32_t x = 0; x < w + 2; ++x) buffer[x] = std::fma(vk[2], r2[x], std::fma(vk[1], r1[x], vk[0] * r0[x]));
    float* o = dst->data + static_cast<ptrdiff_t>(y) * w;
    for (int32_t x = 0; x < w; ++x)
      o[x] = std::fma(hk[2], buffer[x + 2], std::fma(hk[1], buffer[x + 1], hk[0] * buffer[x]));
  }
}

void Image_SepFilter(const Matrix* src, Matrix* dst, int32_t k, const float* hk, const float* vk) {
  const int32_t w = dst->cols, h = dst->rows;
  if (w < 1 || h < 1 || k < 0) return;
  const int32_t sw = src->cols;
  const int32_t taps = 2 * k + 1;
  std::vector<float> buffer(static_cast<size_t>(sw));
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < sw; ++x) {
      float s = vk[0] * At(src, x, y);
      for (int32_t j = 1; j < taps; ++j) s = std::fma(vk[j], At(src, x, y + j), s);
      buffer[x] = s;
    }
    float* o = dst->data + static_cast<ptrdiff_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) {
      float s = hk[0] * buffer[x];
      for (int32_t i = 1; i < taps; ++i) s = std::fma(hk[i], buffer[x + i], s);
      o[x] = s;
    }
  }
}

void Image_CorrelateAbs(const Matrix* src, Matrix* dst, const Matrix* kernel) {
  const int32_t w = dst->cols, h = dst->rows;
  if (w < 1 || h < 1) return;
  const int32_t kw = kernel->cols, kh = kernel->rows;
  for (int32_t y = 0; y < h; ++y) {
    float* o = dst->data + static_cast<ptrdiff_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) {
      float s = 0.0f;
      for (int32_t j = 0; j < kh; ++j)
        for (int32_t i = 0; i < kw; ++i) s = std::fma(At(src, x + i, y + j), At(kernel, i, j), s);
      o[x] = std::fabs(s);
    }
  }
}

void Image_CorrelateAbsSame(const Matrix* src, Matrix* dst, const Matrix* kernel) {
  if (src->cols < 1 || src->rows < 1) return;
  const int32_t p = kernel->cols / 2;
  std::vector<float> block(static_cast<size_t>(src->cols + 2 * p) * (src->rows + 2 * p));
  Matrix padded{src->cols + 2 * p, src->rows + 2 * p, block.data()};
  Matrix_PadReplicate(src, &padded, p, p);
  Image_CorrelateAbs(&padded, dst, kernel);
}

void Image_Sobel(const Matrix* src, Matrix* gx, Matrix* gy, float scale) {
  const int32_t w = src->cols, h = src->rows;
  if (w < 3 || h < 3) return;
  for (int32_t y = 1; y <= h - 2; ++y) {
    for (int32_t x = 1; x <= w - 2; ++x) {
      const float nw = At(src, x - 1, y - 1), n = At(src, x, y - 1), ne = At(src, x + 1, y - 1);
      const float wv = At(src, x - 1, y), e = At(src, x + 1, y);
      const float sw = At(src, x - 1, y + 1), s = At(src, x, y + 1), se = At(src, x + 1, y + 1);
      const ptrdiff_t i = static_cast<ptrdiff_t>(y) * w + x;
      gx->data[i] = scale * ((ne + 2.0f * e + se) - (nw + 2.0f * wv + sw));
      gy->data[i] = scale * ((sw + 2.0f * s + se) - (nw + 2.0f * n + ne));
    }
  }
}

void Image_SobelMagnitude(const Matrix* src, Matrix* dst) {
  const int32_t w = src->cols, h = src->rows;
  if (w < 1 || h < 1) return;
  const size_t n = static_cast<size_t>(w) * h;
  std::vector<float> padBlock(static_cast<size_t>(w + 2) * (h + 2)), gxBlock(n), gyBlock(n), row(w + 2);
  Matrix padded{w + 2, h + 2, padBlock.data()};
  Matrix_PadReplicate(src, &padded, 1, 1);
  Matrix gx{w, h, gxBlock.data()}, gy{w, h, gyBlock.data()};
  const float diff[3] = {-1.0f, 0.0f, 1.0f};
  const float smooth[3] = {0.25f, 0.5f, 0.25f};
  Image_SepFilter3x3(&padded, &gx, diff, smooth, row.data());
  Image_SepFilter3x3(&padded, &gy, smooth, diff, row.data());
  float largest = 0.0f;
  for (size_t i = 0; i < n; ++i) {
    const float m = std::sqrt(std::fma(gxBlock[i], gxBlock[i], gyBlock[i] * gyBlock[i]));
    dst->data[i] = m;
    if (m > largest) largest = m;
  }
  // A flat image has no gradient: leave its zeros rather than divide by 0.
  if (largest > 0.0f) {
    const float inv = 1.0f / largest;
    for (size_t i = 0; i < n; ++i) dst->data[i] *= inv;
  }
}

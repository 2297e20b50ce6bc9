#include "toolkit/smoothing.h"

#include <cmath>
#include <cstring>
#include <cstddef>
#include <vector>

#include "toolkit/border_filters.h"
#include "toolkit/linear_filters.h"
#include "toolkit/matrix.h"

const float GaussTable[4][7] = {
    {1.0f, 0, 0, 0, 0, 0, 0},
    {0.25f, 0.5f, 0.25f, 0, 0, 0, 0},
    {0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f, 0, 0},
    {0.015625f, 0.09375f, 0.234375f, 0.3125f, 0.234375f, 0.09375f, 0.015625f},
};

void Image_GaussianKernel(int32_t k, float* kernel, float sigma) {
  const int32_t n = 2 * k + 1;
  if (n < 8 && sigma <= 0.0f) {
    for (int32_t i = 0; i < n; ++i) kernel[i] = GaussTable[k][i];
  } else {
    const float s = sigma > 0.0f ? sigma : (static_cast<float>(n - 1) * 0.5f - 1.0f) * 0.3f + 0.8f;
    const float scale = -0.5f / (s * s);
    for (int32_t i = 0; i < n; ++i) {
      const float x = static_cast<float>(i) - static_cast<float>(n - 1) * 0.5f;
      kernel[i] = std::exp(scale * x * x);
    }
  }
  float sum = 0.0f;
  for (int32_t i = 0; i < n; ++i) sum += kernel[i];
  const float inv = 1.0f / sum;
  for (int32_t i = 0; i < n; ++i) kernel[i] *= inv;
}

void Image_GaussianKernel2D(Matrix* kernel, float s) {
  const int32_t kw = kernel->cols, kh = kernel->rows;
  const int32_t cr = (kh - 1) / 2, cc = (kw - 1) / 2;
  float sum = 0.0f;
  for (int32_t r = 0; r < kh; ++r) {
    for (int32_t c = 0; c < kw; ++c) {
      const float dr = static_cast<float>(r - cr), dc = static_cast<float>(c - cc);
      const float v = std::exp(-(dr * dr + dc * dc) / (2.0f * s));
      kernel->data[r * kw + c] = v;
      sum += v;
    }
  }
  for (int32_t i = 0; i < kw * kh; ++i) kernel->data[i] /= sum;
}

void Image_GaussianBlurSep(int32_t k, const Matrix* src, Matrix* dst, float sigma) {
  const int32_t w = src->cols, h = src->rows;
  if (w < 1 || h < 1 || k < 0) return;
  float small[15];
  std::vector<float> large;
  float* kernel = small;
  if (2 * k + 1 > 15) {
    large.resize(static_cast<size_t>(2 * k + 1));
    kernel = large.data();
  }
  Image_GaussianKernel(k, kernel, sigma);
  Image_SepFilterReplicate(src, dst, k, kernel, kernel);
}

void Image_GaussianBlur(int32_t k, const Matrix* src, Matrix* dst, float s) {
  const int32_t w = src->cols, h = src->rows;
  if (w < 1 || h < 1 || k < 0) return;
  const int32_t side = 2 * k + 1;
  float small[11 * 11];
  std::vector<float> large;
  float* kernel = small;
  if (side > 11) {
    large.resize(static_cast<size_t>(side) * side);
    kernel = large.data();
  }
  Matrix K;
  Matrix_Init(&K, side, side, kernel);
  Image_GaussianKernel2D(&K, s);
  Image_CorrelateAbsReplicate(src, dst, &K);
}

void Image_Smooth3x3Row(const float* up, const float* row, const float* dn, float* out, int32_t w,
                        int32_t connectivity) {
  if (w < 1) return;
  float wc, we, wk;
  if (connectivity == 4) {
    wc = 0.33f;
    we = 0.165f;
    wk = 0.0f;
  } else {
    wc = 0.25f;
    we = 0.125f;
    wk = 0.0625f;
  }
  out[0] = row[0];
  out[w - 1] = row[w - 1];
  for (int32_t x = 1; x < w - 1; ++x) {
    const float edges = up[x] + dn[x] + row[x - 1] + row[x + 1];
    const float corners = up[x - 1] + up[x + 1] + dn[x - 1] + dn[x + 1];
    out[x] = wc * row[x] + we * edges + wk * corners;
  }
}

void Image_Smooth3x3Rows(const Matrix* src, Matrix* dst, int32_t connectivity, int32_t y0, int32_t y1) {
  const int32_t w = src->cols, h = src->rows;
  if (w < 1 || h < 1) return;
  if (y0 < 0) y0 = 0;
  if (y1 > h) y1 = h;
  for (int32_t y = y0; y < y1; ++y) {
    const float* row = src->data + static_cast<ptrdiff_t>(y) * w;
    float* out = dst->data + static_cast<ptrdiff_t>(y) * w;
    if (y == 0 || y == h - 1)
      memcpy(out, row, sizeof(float) * w);
    else
      Image_Smooth3x3Row(row - w, row, row + w, out, w, connectivity);
  }
}

void Image_Smooth3x3(const Matrix* src, Matrix* dst, int32_t connectivity) {
  Image_Smooth3x3Rows(src, dst, connectivity, 0, src->rows);
}

void Image_Smooth3x3Channel(const Matrix* src, Matrix* dst, int32_t channel) {
  const int32_t w = src->cols, h = src->rows;
  if (w < 1 || h < 1) return;
  const float* s = src->data;
  auto out = [&](int32_t x, int32_t y) -> float& {
    return dst->data[(static_cast<size_t>(y) * dst->cols + x) * 8 + channel];
  };
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      if (y == 0 || y == h - 1 || x == 0 || x == w - 1) {
        out(x, y) = s[y * w + x];
        continue;
      }
      const float* up = s + (y - 1) * w;
      const float* row = s + y * w;
      const float* dn = s + (y + 1) * w;
      const float edges = up[x] + dn[x] + row[x - 1] + row[x + 1];
      const float corners = up[x - 1] + up[x + 1] + dn[x - 1] + dn[x + 1];
      out(x, y) = 0.25f * row[x] + 0.125f * edges + 0.0625f * corners;
    }
  }
}

void Image_Smooth121(const Matrix* src, Matrix* dst, Matrix* tmp) {
  const int32_t w = src->cols, h = src->rows;
  if (w < 1 || h < 1) return;
  const float* s = src->data;
  float* t = tmp->data;
  float* d = dst->data;
  // Horizontal pass on every row, so the vertical pass of the first and last
  // interior rows reads smoothed neighbours, centred on the output row.
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 1; x < w - 1; ++x)
      t[y * w + x] = 0.25f * s[y * w + x - 1] + 0.5f * s[y * w + x] + 0.25f * s[y * w + x + 1];
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      if (y == 0 || y == h - 1 || x == 0 || x == w - 1) {
        d[y * w + x] = s[y * w + x];
        continue;
      }
      d[y * w + x] = 0.25f * t[(y - 1) * w + x] + 0.5f * t[y * w + x] + 0.25f * t[(y + 1) * w + x];
    }
  }
}

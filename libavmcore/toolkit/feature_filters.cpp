#include "toolkit/feature_filters.h"

#include <cmath>
#include <vector>

#include "toolkit/matrix.h"

void Image_RadonAccumulate(float* out, const float* img, const float* thetas, int32_t width,
                           int32_t height, int32_t thetaCount, int32_t outStride, float* work,
                           float cx, float cy, float offset) {
  if (width < 1 || height < 1 || thetaCount < 1 || outStride < 1) return;
  // Listed pixels {row, col, value / 4} and the two coordinate tables. They
  // grow with the image, so they live on the heap (or the caller's work),
  // never on the stack.
  const size_t n = static_cast<size_t>(width) * height;
  std::vector<float> own;
  if (!work) {
    own.resize(3 * n + 2 * static_cast<size_t>(width + height));
    work = own.data();
  }
  float* list = work;
  float* R = work + 3 * n;
  float* Q = R + 2 * static_cast<size_t>(height);
  size_t count = 0;
  for (int32_t r = 0; r < height; ++r)
    for (int32_t j = 0; j < width; ++j) {
      const float v = img[static_cast<size_t>(r) * width + j];
      if (v > 0.0f) {
        list[3 * count] = static_cast<float>(r);
        list[3 * count + 1] = static_cast<float>(j);
        list[3 * count + 2] = v * 0.25f;
        ++count;
      }
    }
  for (int32_t k = 0; k < thetaCount; ++k) {
    const float c = std::cos(thetas[k]), s = std::sin(thetas[k]);
    for (int32_t r = 0; r < height; ++r) {
      R[2 * r] = (static_cast<float>(r) - cx - 0.25f) * c;
      R[2 * r + 1] = (static_cast<float>(r) - cx + 0.25f) * c;
    }
    for (int32_t j = 0; j < width; ++j) {
      Q[2 * j] = (cy - static_cast<float>(j) - 0.25f) * s;
      Q[2 * j + 1] = (cy - static_cast<float>(j) + 0.25f) * s;
    }
    float* row = out + static_cast<size_t>(k) * outStride;
    for (size_t i = 0; i < count; ++i) {
      const int32_t r = static_cast<int32_t>(list[3 * i]);
      const int32_t j = static_cast<int32_t>(list[3 * i + 1]);
      const float weight = list[3 * i + 2] * 0.008f;
      for (int32_t a = 0; a < 2; ++a)
        for (int32_t b = 0; b < 2; ++b) {
          const float p = R[2 * r + a] + Q[2 * j + b] - offset;
          const float fl = std::floor(p);
          const float frac = p - fl;
          const int32_t bin = static_cast<int32_t>(fl);
          // Sub-samples projected outside the row are dropped.
          if (bin >= 0 && bin < outStride) row[bin] += (1.0f - frac) * weight;
          if (bin + 1 >= 0 && bin + 1 < outStride) row[bin + 1] += frac * weight;
        }
    }
  }
}

void Image_Radon(const Matrix* img, Matrix* out, int32_t thetaCount, float stepDeg, float startDeg) {
  if (thetaCount < 1) return;
  std::vector<float> thetas(static_cast<size_t>(thetaCount));
  const float start = startDeg * 3.1415927f / 180.0f, step = stepDeg * 3.1415927f / 180.0f;
  for (int32_t i = 0; i < thetaCount; ++i) thetas[i] = start + static_cast<float>(i) * step;
  Matrix_Fill(out, 0.0f);
  const int32_t rows = thetaCount < out->rows ? thetaCount : out->rows;
  Image_RadonAccumulate(out->data, img->data, thetas.data(), img->cols, img->rows, rows, out->cols,
                        nullptr, (static_cast<float>(img->cols) - 1.0f) * 0.5f,
                        (static_cast<float>(img->rows) - 1.0f) * 0.5f,
                        -static_cast<float>(out->cols) * 0.5f);
}

void Image_GaborKernel(Matrix* kernel, int32_t kw, int32_t kh, float sigma, float theta,
                       float lambda, float gamma, float psi) {
  const int32_t xmax = kw / 2, ymax = kh / 2;
  const float sigmaY = sigma / gamma;
  const float ex = -0.5f / (sigma * sigma), ey = -0.5f / (sigmaY * sigmaY);
  const float c = std::cos(theta), s = std::sin(theta);
  for (int32_t y = -ymax; y <= ymax; ++y)
    for (int32_t x = -xmax; x <= xmax; ++x) {
      const float xr = x * c + y * s;
      const float yr = -x * s + y * c;
      const float v = std::exp(ex * xr * xr + ey * yr * yr) * std::cos(6.2831855f / lambda * xr + psi);
      kernel->data[(ymax - y) * kernel->cols + (xmax - x)] = v;
    }
}

float Identity(float value) { return value; }

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "frame/sorts.h"
#include "toolkit/hough.h"

void Image_HoughLinesStandard(const Matrix* img, int32_t threshold, float* lines,
                              int32_t* linesMax, float rhoStep, float thetaStep) {
  const int32_t width = img->cols, height = img->rows;
  if (width < 1 || height < 1 || !(rhoStep > 0.0f) || !(thetaStep > 0.0f) || *linesMax < 1) {
    *linesMax = 0;
    return;
  }
  const int32_t numAngle = static_cast<int32_t>(static_cast<double>(3.1415927f / thetaStep) + 0.5);
  const int32_t numRho = static_cast<int32_t>(
      static_cast<double>(static_cast<float>(2 * (width + height) + 1) / rhoStep) + 0.5);
  const int32_t stride = numRho + 2;
  const float irho = 1.0f / rhoStep;
  std::vector<float> tabSin(static_cast<size_t>(numAngle)), tabCos(static_cast<size_t>(numAngle));
  float ang = 0.0f;
  for (int32_t n = 0; n < numAngle; ++n) {
    tabSin[n] = std::sin(ang) * irho;
    tabCos[n] = std::cos(ang) * irho;
    ang += thetaStep;
  }
  std::vector<int32_t> accum(static_cast<size_t>(numAngle + 2) * stride, 0);
  const int32_t offset = (numRho - 1) / 2;
  for (int32_t row = 0; row < height; ++row) {
    const float* src = img->data + static_cast<size_t>(row) * width;
    for (int32_t col = 0; col < width; ++col) {
      if (!(src[col] > 0.0f)) continue;
      for (int32_t n = 0; n < numAngle; ++n) {
        const float v = std::fma(static_cast<float>(col), tabCos[n], static_cast<float>(row) * tabSin[n]);
        const int32_t r = static_cast<int32_t>(v) + offset;
        accum[static_cast<size_t>(n + 1) * stride + r + 1] += 1;
      }
    }
  }
  std::vector<uint32_t> candidates;
  for (int32_t r = 0; r < numRho; ++r)
    for (int32_t n = 0; n < numAngle; ++n) {
      const int32_t base = (n + 1) * stride + r + 1;
      const int32_t v = accum[base];
      if (v > threshold && v > accum[base - 1] && v >= accum[base + 1] && v > accum[base - stride] &&
          v >= accum[base + stride])
        candidates.push_back(static_cast<uint32_t>(base));
    }
  QuickSortU32(candidates.data(), static_cast<int32_t>(candidates.size()), accum.data());
  const int32_t count = std::min<int32_t>(*linesMax, static_cast<int32_t>(candidates.size()));
  for (int32_t i = 0; i < count; ++i) {
    // Exact integer division: a float reciprocal can land on the wrong angle
    // row for large indices.
    const int32_t idx = static_cast<int32_t>(candidates[i]);
    const int32_t n = idx / stride - 1;
    const int32_t r = idx - (n + 1) * stride - 1;
    lines[2 * i] = (static_cast<float>(r) - static_cast<float>(numRho - 1) * 0.5f) * rhoStep;
    lines[2 * i + 1] = static_cast<float>(n) * thetaStep;
  }
  *linesMax = count;
}

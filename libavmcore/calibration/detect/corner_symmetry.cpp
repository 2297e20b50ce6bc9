#include <algorithm>
#include <cmath>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "frame/patch_sampling.h"
#include "toolkit/border_filters.h"
#include "toolkit/matrix.h"
#include "toolkit/smoothing.h"

namespace {

void Spreads(const Matrix* patch, const float centre[2], float r, float* mirror, float* spread) {
  *mirror = *spread = 0.0f;
  const int32_t cx = static_cast<int32_t>(centre[0]), cy = static_cast<int32_t>(centre[1]);
  const int32_t R = static_cast<int32_t>(std::ceil(r + 0.5f));
  const float limit = r + 0.5f;
  auto at = [&](int32_t y, int32_t x) { return patch->data[static_cast<size_t>(y) * patch->cols + x]; };
  auto inside = [&](int32_t y, int32_t x) { return y >= 0 && y < patch->rows && x >= 0 && x < patch->cols; };
  // Sums in double: a constant patch then has a mean equal to its value and
  // spreads of exactly 0.
  double sum = 0.0;
  int32_t n = 0;
  for (int32_t dy = -R; dy <= R; ++dy)
    for (int32_t dx = -R; dx <= R; ++dx) {
      const float d = std::sqrt(static_cast<float>(dx * dx + dy * dy));
      if (!(d > 0.0f && d <= limit) || !inside(cy + dy, cx + dx) || !inside(cy - dy, cx - dx)) continue;
      sum += at(cy + dy, cx + dx);
      ++n;
    }
  if (n == 0) return;
  const double m = sum / n;
  double d1 = 0.0, d2 = 0.0;
  for (int32_t dy = -R; dy <= R; ++dy)
    for (int32_t dx = -R; dx <= R; ++dx) {
      const float d = std::sqrt(static_cast<float>(dx * dx + dy * dy));
      if (!(d > 0.0f && d <= limit) || !inside(cy + dy, cx + dx) || !inside(cy - dy, cx - dx)) continue;
      const double v = at(cy + dy, cx + dx);
      d1 += std::fabs(v - at(cy - dy, cx - dx));
      d2 += std::fabs(v - m);
    }
  *mirror = static_cast<float>(d1 / n);
  *spread = static_cast<float>(d2 / n);
}

}  // namespace

float CornerSymmetryScore(int32_t plainSpread, const Matrix* patch, const float centre[2], float r) {
  float d1, d2;
  Spreads(patch, centre, r, &d1, &d2);
  if (plainSpread != 0) return std::sqrt(d2);
  return 0.6f * std::sqrt(d2) - d1;
}

float Patch_SymmetryScore(const Matrix* patch, const float centre[2], float r) {
  return CornerSymmetryScore(0, patch, centre, r);
}

void ChessCorners_Refine(const Matrix* image, float* points, int32_t count) {
  if (count < 1 || image->cols < 1 || image->rows < 1) return;
  const size_t n = static_cast<size_t>(image->cols) * image->rows;
  std::vector<float> blurred(n);
  Matrix blur{image->cols, image->rows, blurred.data()};
  Image_GaussianBlurSep(2, image, &blur, 2.0f);
  Matrix_NormalizeMinMax(&blur);

  float patchData[15 * 15];
  Matrix patch{15, 15, patchData};
  const float centre[2] = {7.0f, 7.0f};
  float score[7][7];
  for (int32_t p = 0; p < count; ++p) {
    float* pt = points + 2 * p;
    for (int32_t pass = 0; pass < 2; ++pass) {
      float lo = 0.0f, hi = 0.0f;
      bool any = false;
      for (int32_t i = -3; i <= 3; ++i)
        for (int32_t j = -3; j <= 3; ++j) {
          if (std::sqrt(static_cast<float>(i * i + j * j)) > 3.5f) continue;
          Image_SamplePatchBilinear(&blur, &patch, pt[0] + static_cast<float>(i), pt[1] + static_cast<float>(j));
          const float s = Patch_SymmetryScore(&patch, centre, 7.0f);
          score[i + 3][j + 3] = s;
          if (!any || s < lo) lo = s;
          if (!any || s > hi) hi = s;
          any = true;
        }
      const float range = hi - lo;
      float sw = 0.0f, si = 0.0f, sj = 0.0f;
      for (int32_t i = -3; i <= 3; ++i)
        for (int32_t j = -3; j <= 3; ++j) {
          if (std::sqrt(static_cast<float>(i * i + j * j)) > 3.5f) continue;
          float w = range > 0.0f ? (score[i + 3][j + 3] - lo) / range : 0.0f;
          w *= w;
          si += w * static_cast<float>(i);
          sj += w * static_cast<float>(j);
          if (i != 0 || j != 0) sw += w;
        }
      if (!(sw > 0.0f)) break;
      const float di = si / sw, dj = sj / sw;
      pt[0] += di;
      pt[1] += dj;
      if (std::sqrt(di * di + dj * dj) < 0.8f) break;
    }
  }
}

void Binary_BridgeGaps(Matrix* image) {
  const int32_t w = image->cols, h = image->rows;
  if (w <= 18 || h <= 18) return;
  const size_t n = static_cast<size_t>(w) * h;
  std::vector<float> copy(image->data, image->data + n), meanData(n);
  Matrix src{w, h, copy.data()}, mean{w, h, meanData.data()};
  Image_BoxMean(&src, &mean, 1, 1);
  static const int32_t kRay[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
  for (int32_t y = 9; y < h - 9; ++y)
    for (int32_t x = 9; x < w - 9; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      if (!(copy[i] < 0.5f)) continue;
      const float m = meanData[i];
      if (!(m > 0.33333322f && m < 0.6666668f)) continue;
      float nearS[8], farS[8];
      for (int32_t d = 0; d < 8; ++d) {
        float s = 0.0f;
        for (int32_t t = 1; t <= 7; ++t) {
          s += copy[static_cast<size_t>(y + kRay[d][0] * t) * w + (x + kRay[d][1] * t)];
          if (t == 4) nearS[d] = s;
        }
        farS[d] = s;
      }
      bool leave = true;
      for (int32_t d = 0; d <= 4 && leave; ++d) {
        const bool opposite = nearS[(d + 3) % 8] >= 0.1f && nearS[(d + 4) % 8] >= 0.1f && nearS[(d + 5) % 8] >= 0.1f;
        if (!(nearS[d] >= 0.1f || opposite)) leave = false;
      }
      if (leave) continue;
      for (int32_t d = 0; d <= 4; ++d) {
        if (!(farS[d] > 5.9f)) continue;
        const int32_t across = (farS[(d + 3) % 8] > 5.9f) + (farS[(d + 4) % 8] > 5.9f) + (farS[(d + 5) % 8] > 5.9f);
        if (across >= 2) {
          image->data[i] = 1.0f;
          break;
        }
      }
    }
}

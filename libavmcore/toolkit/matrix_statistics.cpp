// Norms, distances, extreme values and means of Matrix elements.
#include <cfloat>
#include <cmath>
#include <cstddef>

#include "toolkit/matrix.h"

namespace {

inline size_t ElementCount(const Matrix* m) {
  if (m->rows < 1 || m->cols < 1) return 0;
  return static_cast<size_t>(m->rows) * static_cast<size_t>(m->cols);
}

}  // namespace

float Matrix_PNorm(const Matrix* m, float p) {
  const size_t n = ElementCount(m);
  float sum = 0.0f;
  for (size_t i = 0; i < n; ++i) sum += std::pow(std::fabs(m->data[i]), p);
  return std::pow(sum, 1.0f / p);
}

float Matrix_PDistance(const Matrix* a, const Matrix* b, float p) {
  const size_t n = ElementCount(a);
  float sum = 0.0f;
  for (size_t i = 0; i < n; ++i) sum += std::pow(std::fabs(a->data[i] - b->data[i]), p);
  return static_cast<float>(std::pow(static_cast<double>(sum), 1.0 / static_cast<double>(p)));
}

float Matrix_MaxLoc(const Matrix* m, int32_t* outCol, int32_t* outRow) {
  float best = -FLT_MAX;
  if (m->cols < 1) return best;
  for (int32_t r = 0; r < m->rows; ++r) {
    const float* row = m->data + static_cast<ptrdiff_t>(r) * m->cols;
    for (int32_t c = 0; c < m->cols; ++c) {
      if (row[c] > best) {
        best = row[c];
        if (outCol != nullptr) *outCol = c;
        if (outRow != nullptr) *outRow = r;
      }
    }
  }
  return best;
}

float Matrix_MinLoc(const Matrix* m, int32_t* outCol, int32_t* outRow) {
  float best = FLT_MAX;
  if (m->cols < 1) return best;
  for (int32_t r = 0; r < m->rows; ++r) {
    const float* row = m->data + static_cast<ptrdiff_t>(r) * m->cols;
    for (int32_t c = 0; c < m->cols; ++c) {
      if (row[c] < best) {
        best = row[c];
        if (outCol != nullptr) *outCol = c;
        if (outRow != nullptr) *outRow = r;
      }
    }
  }
  return best;
}

float Matrix_Mean(const Matrix* m) {
  const size_t n = ElementCount(m);
  float sum = 0.0f;
  for (size_t i = 0; i < n; ++i) sum += m->data[i];
  return sum / static_cast<float>(m->rows * m->cols);
}

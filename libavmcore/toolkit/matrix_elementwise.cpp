// Element-wise and scalar arithmetic; exact per element, so the vector width
// the compiler picks does not change any result.
#include <cfloat>
#include <cstddef>

#include "toolkit/matrix.h"

namespace {

inline size_t ElementCount(const Matrix* m) {
  if (m->rows < 1 || m->cols < 1) return 0;
  return static_cast<size_t>(m->rows) * static_cast<size_t>(m->cols);
}

}  // namespace

void Matrix_Add(const Matrix* a, Matrix* b) {
  const size_t n = ElementCount(b);
  const float* s = a->data;
  float* d = b->data;
  for (size_t i = 0; i < n; ++i) d[i] = d[i] + s[i];
}

void Matrix_Sub(const Matrix* a, Matrix* b) {
  const size_t n = ElementCount(b);
  const float* s = a->data;
  float* d = b->data;
  for (size_t i = 0; i < n; ++i) d[i] = d[i] - s[i];
}

void Matrix_MulElem(const Matrix* a, Matrix* b) {
  const size_t n = ElementCount(b);
  const float* s = a->data;
  float* d = b->data;
  for (size_t i = 0; i < n; ++i) d[i] = d[i] * s[i];
}

void Matrix_DivElem(const Matrix* a, Matrix* b) {
  const size_t n = ElementCount(b);
  const float* s = a->data;
  float* d = b->data;
  for (size_t i = 0; i < n; ++i) d[i] = d[i] / s[i];
}

void Matrix_Scale(Matrix* m, float s) {
  const size_t n = ElementCount(m);
  float* d = m->data;
  for (size_t i = 0; i < n; ++i) d[i] = d[i] * s;
}

void Matrix_AddScalar(Matrix* m, float s) {
  const size_t n = ElementCount(m);
  float* d = m->data;
  for (size_t i = 0; i < n; ++i) d[i] = d[i] + s;
}

void Matrix_SubFromScalar(Matrix* m, float s) {
  const size_t n = ElementCount(m);
  float* d = m->data;
  for (size_t i = 0; i < n; ++i) d[i] = s - d[i];
}

void Matrix_NormalizeMinMax(Matrix* m) {
  const size_t n = ElementCount(m);
  if (n == 0) return;
  float* d = m->data;
  float hi = FLT_MIN;  // not -FLT_MAX: an all-zero matrix must stay zero
  float lo = FLT_MAX;
  for (size_t i = 0; i < n; ++i) {
    if (d[i] > hi) hi = d[i];
    if (d[i] < lo) lo = d[i];
  }
  for (size_t i = 0; i < n; ++i) d[i] = d[i] - lo;
  // No spread: everything is now zero; scaling by 1/0 would turn it into NaN.
  if (hi == lo) return;
  const float scale = 1.0f / (hi - lo);
  for (size_t i = 0; i < n; ++i) d[i] = d[i] * scale;
}

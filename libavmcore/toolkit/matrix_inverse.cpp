// Gauss-Jordan inversion with full pivoting and the determinant.
#include "toolkit/matrix_inverse.h"

#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace {

// Shared body of Matrix_Invert and Mat5_Invert. With a constant n (the 5 x 5
// form) the compiler unrolls the loops; the arithmetic is the same.
inline int32_t InvertInPlace(float* a, int32_t n, int32_t* rowPivot, int32_t* colPivot) {
  auto at = [a, n](int32_t r, int32_t c) -> float& { return a[static_cast<ptrdiff_t>(r) * n + c]; };
  for (int32_t k = 0; k < n; ++k) {
    float best = 0.0f;
    int32_t pr = k, pc = k;
    for (int32_t i = k; i < n; ++i) {
      for (int32_t j = k; j < n; ++j) {
        const float v = std::fabs(at(i, j));
        if (v > best) {
          best = v;
          pr = i;
          pc = j;
        }
      }
    }
    if (best == 0.0f) return 0;
    rowPivot[k] = pr;
    colPivot[k] = pc;
    if (pr != k)
      for (int32_t j = 0; j < n; ++j) std::swap(at(k, j), at(pr, j));
    if (pc != k)
      for (int32_t i = 0; i < n; ++i) std::swap(at(i, k), at(i, pc));

    const float pivotInv = 1.0f / at(k, k);
    at(k, k) = pivotInv;
    for (int32_t j = 0; j < n; ++j)
      if (j != k) at(k, j) = at(k, j) * pivotInv;
    for (int32_t i = 0; i < n; ++i) {
      if (i == k) continue;
      const float aik = at(i, k);
      for (int32_t j = 0; j < n; ++j)
        if (j != k) at(i, j) = std::fma(-at(k, j), aik, at(i, j));
    }
    for (int32_t i = 0; i < n; ++i)
      if (i != k) at(i, k) = -(pivotInv * at(i, k));
  }
  // The swaps of the forward pass permute the inverse the other way round.
  for (int32_t k = n - 1; k >= 0; --k) {
    const int32_t pc = colPivot[k];
    if (pc != k)
      for (int32_t j = 0; j < n; ++j) std::swap(at(k, j), at(pc, j));
    const int32_t pr = rowPivot[k];
    if (pr != k)
      for (int32_t i = 0; i < n; ++i) std::swap(at(i, k), at(i, pr));
  }
  return 1;
}

}  // namespace

int32_t Matrix_Invert(Matrix* m) {
  const int32_t n = m->cols;
  if (n <= 8) {
    int32_t pivots[16];
    return InvertInPlace(m->data, n, pivots, pivots + 8);
  }
  std::vector<int32_t> pivots(2 * static_cast<size_t>(n));
  return InvertInPlace(m->data, n, pivots.data(), pivots.data() + n);
}

int32_t Mat5_Invert(float* m) {
  int32_t pivots[10];
  return InvertInPlace(m, 5, pivots, pivots + 5);
}

float Matrix_Determinant(const Matrix* m) {
  const int32_t n = m->rows;
  if (n < 1) return 1.0f;  // empty product
  std::vector<float> block(m->data, m->data + static_cast<size_t>(n) * n);
  auto at = [&block, n](int32_t r, int32_t c) -> float& { return block[static_cast<size_t>(r) * n + c]; };
  float sign = 1.0f;
  float product = 1.0f;
  for (int32_t k = 0; k < n - 1; ++k) {
    float best = 0.0f;
    int32_t pr = k, pc = k;
    for (int32_t i = k; i < n; ++i) {
      for (int32_t j = k; j < n; ++j) {
        const float v = std::fabs(at(i, j));
        if (v > best) {
          best = v;
          pr = i;
          pc = j;
        }
      }
    }
    if (best == 0.0f) return 0.0f;
    if (pr != k)
      for (int32_t j = k; j < n; ++j) std::swap(at(k, j), at(pr, j));
    if (pc != k)
      for (int32_t i = k; i < n; ++i) std::swap(at(i, k), at(i, pc));
    if ((pr != k) != (pc != k)) sign = -sign;
    product = product * at(k, k);
    for (int32_t i = k + 1; i < n; ++i) {
      const float f = at(i, k) / at(k, k);
      for (int32_t j = k + 1; j < n; ++j) at(i, j) = std::fma(-f, at(k, j), at(i, j));
    }
  }
  return sign * product * at(n - 1, n - 1);
}

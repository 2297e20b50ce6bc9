// Linear solve with partial pivoting and the normal-equation least squares.
#include "toolkit/linear_solvers.h"

#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "toolkit/matrix.h"
#include "toolkit/svd.h"

namespace {

// The pivot threshold is the double-precision machine epsilon held as a float.
constexpr float kPivotMin = 2.220446e-16f;

}  // namespace

int32_t Matrix_SolveLinear(Matrix* a, Matrix* b, Matrix* x) {
  const int32_t n = a->cols;
  const int32_t bs = b->cols;
  const int32_t xs = x->cols;
  auto A = [a, n](int32_t r, int32_t c) -> float& { return a->data[static_cast<ptrdiff_t>(r) * n + c]; };
  auto B = [b, bs](int32_t i) -> float& { return b->data[static_cast<ptrdiff_t>(i) * bs]; };
  auto X = [x, xs](int32_t i) -> float& { return x->data[static_cast<ptrdiff_t>(i) * xs]; };
  if (n < 1) return 0;

  for (int32_t k = 0; k < n - 1; ++k) {
    int32_t p = k;
    float best = std::fabs(A(k, k));
    for (int32_t i = k + 1; i < n; ++i) {
      const float v = std::fabs(A(i, k));
      if (v > best) {
        best = v;
        p = i;
      }
    }
    if (best < kPivotMin) return 0;
    if (p != k) {
      for (int32_t j = k; j < n; ++j) std::swap(A(k, j), A(p, j));
      std::swap(B(k), B(p));
    }
    for (int32_t i = k + 1; i < n; ++i) {
      const float f = A(i, k) / A(k, k);
      for (int32_t j = k; j < n; ++j) A(i, j) = std::fma(-A(k, j), f, A(i, j));
      B(i) = std::fma(-f, B(k), B(i));
    }
  }
  if (std::fabs(A(n - 1, n - 1)) < kPivotMin) return 0;

  for (int32_t i = n - 1; i >= 0; --i) {
    float s = B(i);
    for (int32_t j = i + 1; j < n; ++j) s = std::fma(-A(i, j), X(j), s);
    X(i) = s / A(i, i);
  }
  return 1;
}

int32_t Matrix_LeastSquares(const Matrix* a, const Matrix* b, const Matrix* w, Matrix* x) {
  const int32_t m = a->rows;
  const int32_t n = a->cols;
  const size_t nm = static_cast<size_t>(n) * m;
  std::vector<float> block(static_cast<size_t>(n) * n + n + 2 * nm);
  Matrix ata, atb, at, atw;
  Matrix_Init(&ata, n, n, block.data());
  Matrix_Init(&atb, 1, n, ata.data + static_cast<size_t>(n) * n);
  Matrix_Init(&at, m, n, atb.data + n);
  Matrix_Init(&atw, m, n, at.data + nm);
  Matrix_Transpose(a, &at);
  // With weights both sides of the normal equations carry W:
  // (At W A) x = At W b. Leaving W out of the right-hand side would solve a
  // different problem whenever the weights are not all equal.
  const Matrix* lhs = &at;
  if (w != nullptr) {
    Matrix_Product(&at, w, &atw);
    lhs = &atw;
  }
  Matrix_Product(lhs, a, &ata);
  Matrix_Product(lhs, b, &atb);
  Matrix_PseudoInverse(&ata);
  Matrix_Product(&ata, &atb, x);
  return 1;
}

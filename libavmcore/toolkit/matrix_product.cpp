// Matrix products, transposes and the 3-vector cross and dot products.
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "toolkit/matrix.h"

namespace {

void ZeroOwnShape(Matrix* d) {
  if (d->rows < 1 || d->cols < 1) return;
  std::memset(d->data, 0, static_cast<size_t>(d->rows) * static_cast<size_t>(d->cols) * sizeof(float));
}

// d(i, j) = fma(a(i, k), b(k, j), d(i, j)) for k = 0..a.cols-1 in order. The
// j loop is innermost so that it runs over contiguous rows; every element
// still sees its k terms in increasing order.
void AccumulateProduct(const Matrix* a, const Matrix* b, Matrix* d) {
  const int32_t n = a->rows;
  const int32_t inner = a->cols;
  const int32_t m = b->cols;
  for (int32_t i = 0; i < n; ++i) {
    const float* arow = a->data + static_cast<ptrdiff_t>(i) * inner;
    float* __restrict drow = d->data + static_cast<ptrdiff_t>(i) * m;
    for (int32_t k = 0; k < inner; ++k) {
      const float aik = arow[k];
      const float* __restrict brow = b->data + static_cast<ptrdiff_t>(k) * m;
      for (int32_t j = 0; j < m; ++j) drow[j] = std::fma(aik, brow[j], drow[j]);
    }
  }
}

}  // namespace

void Matrix_Product(const Matrix* a, const Matrix* b, Matrix* d) {
  ZeroOwnShape(d);
  AccumulateProduct(a, b, d);
}

void Matrix_Multiply(const Matrix* a, const Matrix* b, const Matrix* c, Matrix* d) {
  if (c == nullptr) {
    ZeroOwnShape(d);
  } else if (c != d) {
    Matrix_Copy(c, d);
  }
  AccumulateProduct(a, b, d);
}

void Matrix_Transpose(const Matrix* a, Matrix* b) {
  const int32_t rows = a->rows;
  const int32_t cols = a->cols;
  const int32_t stride = b->cols;
  for (int32_t r = 0; r < rows; ++r) {
    const float* arow = a->data + static_cast<ptrdiff_t>(r) * cols;
    for (int32_t c = 0; c < cols; ++c) b->data[static_cast<ptrdiff_t>(c) * stride + r] = arow[c];
  }
}

void Matrix_TransposeSquareInPlace(Matrix* m) {
  const int32_t n = m->rows;
  const int32_t stride = m->cols;
  if (n < 1) return;
  std::vector<float> copy(static_cast<size_t>(n) * n);
  for (int32_t r = 0; r < n; ++r)
    for (int32_t c = 0; c < n; ++c) copy[static_cast<size_t>(r) * n + c] = m->data[static_cast<ptrdiff_t>(r) * stride + c];
  for (int32_t r = 0; r < n; ++r)
    for (int32_t c = 0; c < n; ++c) m->data[static_cast<ptrdiff_t>(r) * stride + c] = copy[static_cast<size_t>(c) * n + r];
}

void Matrix_MulTransposed(const Matrix* a, Matrix* d, int32_t transposeFirst) {
  if (a->rows < 1 || a->cols < 1) {
    ZeroOwnShape(d);
    return;
  }
  std::vector<float> block(static_cast<size_t>(a->rows) * a->cols);
  Matrix at;
  Matrix_Init(&at, a->rows, a->cols, block.data());
  Matrix_Transpose(a, &at);
  if (transposeFirst != 0) {
    Matrix_Product(&at, a, d);
  } else {
    Matrix_Product(a, &at, d);
  }
}

void Matrix_Symmetrize(Matrix* m, int32_t lowerFromUpper) {
  const int32_t n = m->cols;
  float* x = m->data;
  for (int32_t i = 0; i < n; ++i) {
    if (lowerFromUpper != 0) {
      for (int32_t j = 0; j < i; ++j) x[static_cast<ptrdiff_t>(i) * n + j] = x[static_cast<ptrdiff_t>(j) * n + i];
    } else {
      for (int32_t j = i + 1; j < n; ++j) x[static_cast<ptrdiff_t>(i) * n + j] = x[static_cast<ptrdiff_t>(j) * n + i];
    }
  }
}

void Vec3_Cross(const Matrix* a, const Matrix* b, Matrix* c) {
  const float* x = a->data;
  const float* y = b->data;
  float* z = c->data;
  z[2] = std::fma(x[0], y[1], -(x[1] * y[0]));
  z[0] = std::fma(x[1], y[2], -(x[2] * y[1]));
  z[1] = std::fma(x[2], y[0], -(x[0] * y[2]));
}

float Vec3_Dot(const Matrix* a, const Matrix* b) {
  const float* x = a->data;
  const float* y = b->data;
  return std::fma(x[2], y[2], std::fma(x[0], y[0], x[1] * y[1]));
}

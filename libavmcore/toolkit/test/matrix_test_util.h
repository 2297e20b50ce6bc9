#pragma once
// Helpers shared by the matrix tests: owned matrices and a double-precision
// reference to check the single-precision algebra against.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "toolkit/matrix.h"

namespace matrix_test {

// A Matrix with its own storage.
struct OwnedMatrix {
  std::vector<float> store;
  Matrix m{};
  OwnedMatrix(int32_t rows, int32_t cols, std::vector<float> values = {}) {
    store = values.empty() ? std::vector<float>(static_cast<size_t>(rows) * cols, 0.0f) : std::move(values);
    Matrix_Init(&m, cols, rows, store.data());
  }
  OwnedMatrix(const OwnedMatrix& o) : store(o.store) { Matrix_Init(&m, o.m.cols, o.m.rows, store.data()); }
  OwnedMatrix& operator=(const OwnedMatrix&) = delete;
  float& at(int32_t r, int32_t c) { return store[static_cast<size_t>(r) * m.cols + c]; }
  float at(int32_t r, int32_t c) const { return store[static_cast<size_t>(r) * m.cols + c]; }
};

// Row-major double matrix for reference results.
struct Ref {
  int rows, cols;
  std::vector<double> v;
  Ref(int r, int c) : rows(r), cols(c), v(static_cast<size_t>(r) * c, 0.0) {}
  explicit Ref(const OwnedMatrix& m) : rows(m.m.rows), cols(m.m.cols), v(m.store.begin(), m.store.end()) {}
  double& operator()(int r, int c) { return v[static_cast<size_t>(r) * cols + c]; }
  double operator()(int r, int c) const { return v[static_cast<size_t>(r) * cols + c]; }
};

inline Ref Mul(const Ref& a, const Ref& b) {
  Ref d(a.rows, b.cols);
  for (int i = 0; i < a.rows; ++i)
    for (int j = 0; j < b.cols; ++j) {
      double s = 0;
      for (int k = 0; k < a.cols; ++k) s += a(i, k) * b(k, j);
      d(i, j) = s;
    }
  return d;
}

inline Ref Transposed(const Ref& a) {
  Ref t(a.cols, a.rows);
  for (int i = 0; i < a.rows; ++i)
    for (int j = 0; j < a.cols; ++j) t(j, i) = a(i, j);
  return t;
}

// Inverse by Gauss-Jordan with partial pivoting in double precision.
inline Ref Inverse(Ref a) {
  const int n = a.rows;
  Ref inv(n, n);
  for (int i = 0; i < n; ++i) inv(i, i) = 1;
  for (int k = 0; k < n; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i)
      if (std::abs(a(i, k)) > std::abs(a(p, k))) p = i;
    for (int j = 0; j < n; ++j) {
      std::swap(a(k, j), a(p, j));
      std::swap(inv(k, j), inv(p, j));
    }
    const double d = a(k, k);
    for (int j = 0; j < n; ++j) {
      a(k, j) /= d;
      inv(k, j) /= d;
    }
    for (int i = 0; i < n; ++i) {
      if (i == k) continue;
      const double f = a(i, k);
      for (int j = 0; j < n; ++j) {
        a(i, j) -= f * a(k, j);
        inv(i, j) -= f * inv(k, j);
      }
    }
  }
  return inv;
}

inline double Determinant(Ref a) {
  const int n = a.rows;
  double det = 1;
  for (int k = 0; k < n; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i)
      if (std::abs(a(i, k)) > std::abs(a(p, k))) p = i;
    if (a(p, k) == 0) return 0;
    if (p != k) {
      det = -det;
      for (int j = 0; j < n; ++j) std::swap(a(k, j), a(p, j));
    }
    det *= a(k, k);
    for (int i = k + 1; i < n; ++i) {
      const double f = a(i, k) / a(k, k);
      for (int j = k; j < n; ++j) a(i, j) -= f * a(k, j);
    }
  }
  return det;
}

inline OwnedMatrix RandomMatrix(int32_t rows, int32_t cols, uint32_t seed, float lo = -1.0f, float hi = 1.0f) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(lo, hi);
  OwnedMatrix m(rows, cols);
  for (auto& x : m.store) x = dist(gen);
  return m;
}

// Largest absolute difference between a float matrix and a reference.
inline double MaxAbsDiff(const OwnedMatrix& m, const Ref& r) {
  double worst = 0;
  for (int i = 0; i < r.rows; ++i)
    for (int j = 0; j < r.cols; ++j) worst = std::max(worst, std::abs(m.at(i, j) - r(i, j)));
  return worst;
}

}  // namespace matrix_test

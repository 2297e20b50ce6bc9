#pragma once

#include <cmath>

// Row-major 3x3 products. Two forms on purpose: the plain one sums the three
// products left to right; the Fma one accumulates them with fused
// multiply-adds (one rounding each). The results differ in the last bits, and
// each caller's stored output depends on the form it uses, so never swap one
// for the other.

// out = a * b, plain sums.
inline void Mat3_Mul(const float* a, const float* b, float* out) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j] + a[3 * i + 2] * b[6 + j];
}

// out = m * v, plain sums.
inline void Mat3_MulVec(const float* m, const float* v, float* out) {
  for (int i = 0; i < 3; ++i) out[i] = m[3 * i] * v[0] + m[3 * i + 1] * v[1] + m[3 * i + 2] * v[2];
}

// out = a * b, fused multiply-adds.
inline void Mat3_MulFma(const float* a, const float* b, float* out) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      out[3 * r + c] = std::fma(a[3 * r + 2], b[6 + c], std::fma(a[3 * r + 1], b[3 + c], a[3 * r] * b[c]));
}

// out = m * v, fused multiply-adds.
inline void Mat3_MulVecFma(const float* m, const float* v, float* out) {
  for (int i = 0; i < 3; ++i)
    out[i] = std::fma(m[3 * i + 2], v[2], std::fma(m[3 * i + 1], v[1], m[3 * i] * v[0]));
}

// out = transpose(m) * v, fused multiply-adds.
inline void Mat3_MulTransposedVecFma(const float* m, const float* v, float* out) {
  for (int i = 0; i < 3; ++i) out[i] = std::fma(m[6 + i], v[2], std::fma(m[3 + i], v[1], m[i] * v[0]));
}

// Singular value decomposition of row-major float arrays: Householder
// reduction to bidiagonal form, implicit-shift QR sweeps with plane
// rotations, sign correction and ordering (the classic LINPACK scheme, with
// U limited to its first min(m, n) columns), and the pseudo-inverse on top.
#include "toolkit/svd.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "toolkit/matrix.h"
#include "toolkit/matrix_inverse.h"

namespace {

// Exact-zero tests of the reduction treat anything up to the smallest normal
// float as zero.
inline bool IsZero(float x) { return std::fabs(x) <= FLT_MIN; }

// |a| with the sign of b.
inline float WithSignOf(float a, float b) { return b >= 0.0f ? std::fabs(a) : -std::fabs(a); }

// A strided view of a row-major array with 1-based (row, column) indexing,
// so that the sweeps read like the textbook formulation.
struct Grid {
  float* p;
  int32_t stride;
  float& operator()(int32_t r, int32_t c) const { return p[static_cast<ptrdiff_t>(r - 1) * stride + (c - 1)]; }
};

// Column segment helpers: rows lo..hi (1-based) of column c.
float ColDot(const Grid& g, int32_t lo, int32_t hi, int32_t c1, int32_t c2) {
  float sum = 0.0f;
  for (int32_t i = lo; i <= hi; ++i) sum = std::fma(g(i, c1), g(i, c2), sum);
  return sum;
}

float ColNorm(const Grid& g, int32_t lo, int32_t hi, int32_t c) { return std::sqrt(ColDot(g, lo, hi, c, c)); }

void ColScale(const Grid& g, int32_t lo, int32_t hi, int32_t c, float s) {
  for (int32_t i = lo; i <= hi; ++i) g(i, c) = g(i, c) * s;
}

// column c2 += t * column c1 over rows lo..hi
void ColAxpy(const Grid& g, int32_t lo, int32_t hi, float t, int32_t c1, int32_t c2) {
  for (int32_t i = lo; i <= hi; ++i) g(i, c2) = std::fma(t, g(i, c1), g(i, c2));
}

// (x, y) = (c x + s y, c y - s x) on rows 1..rows of columns c1 and c2.
void ColRotate(const Grid& g, int32_t rows, int32_t c1, int32_t c2, float c, float s) {
  for (int32_t i = 1; i <= rows; ++i) {
    const float x = g(i, c1);
    const float y = g(i, c2);
    g(i, c1) = std::fma(s, y, c * x);
    g(i, c2) = std::fma(-s, x, c * y);
  }
}

void ColSwap(const Grid& g, int32_t rows, int32_t c1, int32_t c2) {
  for (int32_t i = 1; i <= rows; ++i) std::swap(g(i, c1), g(i, c2));
}

// Plane rotation for the pair (a, b); a becomes r, b becomes z.
void Givens(float& a, float& b, float& c, float& s) {
  float ab[2] = {a, b};
  float cs[2];
  Svd_Givens(ab, cs);
  a = ab[0];
  b = ab[1];
  c = cs[0];
  s = cs[1];
}

}  // namespace

void Svd_Givens(float* ab, float* cs) {
  const float a = ab[0];
  const float b = ab[1];
  if (std::fabs(a) + std::fabs(b) < FLT_EPSILON) {
    cs[0] = 1.0f;
    cs[1] = 0.0f;
    ab[0] = 0.0f;
    ab[1] = 0.0f;
    return;
  }
  const bool aDominates = std::fabs(a) > std::fabs(b);
  float r = std::sqrt(std::fma(b, b, a * a));
  r = WithSignOf(r, aDominates ? a : b);
  const float c = a / r;
  const float s = b / r;
  float z;
  if (aDominates) {
    z = s;
  } else if (std::fabs(c) > FLT_MIN) {
    z = 1.0f / c;
  } else {
    z = 1.0f;
  }
  cs[0] = c;
  cs[1] = s;
  ab[0] = r;
  ab[1] = z;
}

void Svd_PackResult(float* a, const float* e, const float* s, float* v, int32_t m, int32_t n) {
  const int32_t k = std::min(m, n);
  std::fill(a, a + static_cast<size_t>(m) * n, 0.0f);
  for (int32_t i = 0; i < k; ++i) a[static_cast<size_t>(i) * n + i] = s[i];
  for (int32_t i = 0; i + 1 < k; ++i) a[static_cast<size_t>(i) * n + i + 1] = e[i];
  if (k >= 1 && m < n) a[static_cast<size_t>(k - 1) * n + k] = e[k - 1];
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = i + 1; j < n; ++j) std::swap(v[static_cast<size_t>(i) * n + j], v[static_cast<size_t>(j) * n + i]);
}

int32_t Svd_Decompose(float* a, int32_t nr, int32_t nc, float* u, float* v, int32_t ldWork, float tol) {
  if (nr < 1 || nc < 1) return 0;  // nothing to decompose
  std::vector<float> block(3 * static_cast<size_t>(ldWork), 0.0f);
  float* sv = block.data();
  float* ev = sv + ldWork;
  float* wv = ev + ldWork;
  auto S = [sv](int32_t i) -> float& { return sv[i - 1]; };
  auto E = [ev](int32_t i) -> float& { return ev[i - 1]; };
  auto W = [wv](int32_t i) -> float& { return wv[i - 1]; };
  const Grid X{a, nc};
  const Grid U{u, nr};
  const Grid V{v, nc};

  const int32_t ncu = std::min(nr, nc);  // left vectors computed
  const int32_t nct = std::min(nr - 1, nc);
  const int32_t nrt = std::max(0, std::min(nc - 2, nr));
  const int32_t lu = std::max(nct, nrt);

  // Householder reduction to bidiagonal form: diagonal into S, superdiagonal
  // into E, the column transformations kept in U and the row ones in V.
  for (int32_t l = 1; l <= lu; ++l) {
    const int32_t lp1 = l + 1;
    if (l <= nct) {
      S(l) = ColNorm(X, l, nr, l);
      if (!IsZero(S(l))) {
        if (!IsZero(X(l, l))) S(l) = WithSignOf(S(l), X(l, l));
        ColScale(X, l, nr, l, 1.0f / S(l));
        X(l, l) = 1.0f + X(l, l);
      }
      S(l) = -S(l);
    }
    for (int32_t j = lp1; j <= nc; ++j) {
      if (l <= nct && !IsZero(S(l))) {
        const float t = -ColDot(X, l, nr, l, j) / X(l, l);
        ColAxpy(X, l, nr, t, l, j);
      }
      E(j) = X(l, j);
    }
    if (l <= nct)
      for (int32_t i = l; i <= nr; ++i) U(i, l) = X(i, l);
    if (l <= nrt) {
      float sumsq = 0.0f;
      for (int32_t i = lp1; i <= nc; ++i) sumsq = std::fma(E(i), E(i), sumsq);
      E(l) = std::sqrt(sumsq);
      if (!IsZero(E(l))) {
        if (!IsZero(E(lp1))) E(l) = WithSignOf(E(l), E(lp1));
        const float inv = 1.0f / E(l);
        for (int32_t i = lp1; i <= nc; ++i) E(i) = E(i) * inv;
        E(lp1) = 1.0f + E(lp1);
      }
      E(l) = -E(l);
      if (lp1 <= nr && !IsZero(E(l))) {
        for (int32_t i = lp1; i <= nr; ++i) W(i) = 0.0f;
        for (int32_t j = lp1; j <= nc; ++j)
          for (int32_t i = lp1; i <= nr; ++i) W(i) = std::fma(E(j), X(i, j), W(i));
        for (int32_t j = lp1; j <= nc; ++j) {
          const float t = -E(j) / E(lp1);
          for (int32_t i = lp1; i <= nr; ++i) X(i, j) = std::fma(t, W(i), X(i, j));
        }
      }
      for (int32_t i = lp1; i <= nc; ++i) V(i, l) = E(i);
    }
  }

  // The bidiagonal matrix of order m.
  int32_t m = std::min(nc, nr + 1);
  const int32_t nctp1 = nct + 1;
  const int32_t nrtp1 = nrt + 1;
  if (nct < nc) S(nctp1) = X(nctp1, nctp1);
  if (nr < m) S(m) = 0.0f;
  if (nrtp1 < m) E(nrtp1) = X(nrtp1, m);
  E(m) = 0.0f;

  // Left vectors: back-multiply the column transformations.
  for (int32_t j = nctp1; j <= ncu; ++j) {
    for (int32_t i = 1; i <= nr; ++i) U(i, j) = 0.0f;
    U(j, j) = 1.0f;
  }
  for (int32_t l = nct; l >= 1; --l) {
    if (!IsZero(S(l))) {
      for (int32_t j = l + 1; j <= ncu; ++j) {
        const float t = -ColDot(U, l, nr, l, j) / U(l, l);
        ColAxpy(U, l, nr, t, l, j);
      }
      ColScale(U, l, nr, l, -1.0f);
      U(l, l) = 1.0f + U(l, l);
      for (int32_t i = 1; i < l; ++i) U(i, l) = 0.0f;
    } else {
      for (int32_t i = 1; i <= nr; ++i) U(i, l) = 0.0f;
      U(l, l) = 1.0f;
    }
  }

  // Right vectors: back-multiply the row transformations.
  for (int32_t l = nc; l >= 1; --l) {
    const int32_t lp1 = l + 1;
    if (l <= nrt && !IsZero(E(l))) {
      for (int32_t j = lp1; j <= nc; ++j) {
        const float t = -ColDot(V, lp1, nc, l, j) / V(lp1, l);
        ColAxpy(V, lp1, nc, t, l, j);
      }
    }
    for (int32_t i = 1; i <= nc; ++i) V(i, l) = 0.0f;
    V(l, l) = 1.0f;
  }

  // A non-finite element never passes a negligibility test, so the sweeps
  // would only burn the whole budget: give up at once.
  for (int32_t i = 1; i <= m; ++i) {
    if (!std::isfinite(S(i)) || !std::isfinite(E(i))) {
      Svd_PackResult(a, ev, sv, v, nr, nc);
      return -1;
    }
  }

  // QR iteration on the bidiagonal matrix.
  const int32_t mm = m;
  const int32_t maxSweeps = 60;
  int32_t sweeps = 0;
  while (m > 0) {
    // With tol far below single precision, values that are equal (a rotation
    // matrix, say) leave a superdiagonal stalled at rounding level and the
    // sweep budget runs out with a negative or unordered value. Before giving
    // up, allow a second budget in which rounding-level elements count as
    // negligible, so such inputs still converge to a proper decomposition.
    if (sweeps >= 2 * maxSweeps) {
      Svd_PackResult(a, ev, sv, v, nr, nc);
      return -1;
    }
    const float negligible = sweeps >= maxSweeps ? std::max(tol, FLT_EPSILON) : tol;
    // Find the split: kase 1 deflates a negligible S(m), 2 splits at a
    // negligible S(l), 3 runs a QR sweep on l..m, 4 is convergence of S(m).
    int32_t l = m - 1;
    for (; l >= 1; --l) {
      if (std::fabs(E(l)) <= negligible * (std::fabs(S(l)) + std::fabs(S(l + 1)))) {
        E(l) = 0.0f;
        break;
      }
    }
    int32_t kase;
    if (l == m - 1) {
      kase = 4;
    } else {
      int32_t ls = m;
      for (; ls > l; --ls) {
        float t = 0.0f;
        if (ls != m) t += std::fabs(E(ls));
        if (ls != l + 1) t += std::fabs(E(ls - 1));
        if (std::fabs(S(ls)) <= negligible * t) {
          S(ls) = 0.0f;
          break;
        }
      }
      if (ls == l) {
        kase = 3;
      } else if (ls == m) {
        kase = 1;
      } else {
        kase = 2;
        l = ls;
      }
    }
    ++l;

    switch (kase) {
      case 1: {  // deflate negligible S(m)
        float f = E(m - 1);
        E(m - 1) = 0.0f;
        for (int32_t k = m - 1; k >= l; --k) {
          float t1 = S(k);
          float cs, sn;
          Givens(t1, f, cs, sn);
          S(k) = t1;
          if (k != l) {
            f = -sn * E(k - 1);
            E(k - 1) = cs * E(k - 1);
          }
          ColRotate(V, nc, k, m, cs, sn);
        }
        break;
      }
      case 2: {  // split at negligible S(l - 1)
        float f = E(l - 1);
        E(l - 1) = 0.0f;
        for (int32_t k = l; k <= m; ++k) {
          float t1 = S(k);
          float cs, sn;
          Givens(t1, f, cs, sn);
          S(k) = t1;
          f = -sn * E(k);
          E(k) = cs * E(k);
          if (k <= nr) ColRotate(U, nr, k, l - 1, cs, sn);
        }
        break;
      }
      case 3: {  // one implicit-shift QR sweep
        const float scale = std::max({std::fabs(S(m)), std::fabs(S(m - 1)), std::fabs(E(m - 1)), std::fabs(S(l)),
                                      std::fabs(E(l))});
        const float sm = S(m) / scale;
        const float smm1 = S(m - 1) / scale;
        const float emm1 = E(m - 1) / scale;
        const float sl = S(l) / scale;
        const float el = E(l) / scale;
        const float b = std::fma(emm1, emm1, (smm1 + sm) * (smm1 - sm)) / 2.0f;
        const float c = (sm * emm1) * (sm * emm1);
        float shift = 0.0f;
        if (b != 0.0f || c != 0.0f) {
          shift = std::sqrt(std::fma(b, b, c));
          if (b < 0.0f) shift = -shift;
          shift = c / (b + shift);
        }
        float f = std::fma(sl + sm, sl - sm, shift);
        float g = sl * el;
        for (int32_t k = l; k <= m - 1; ++k) {
          float cs, sn;
          Givens(f, g, cs, sn);
          if (k != l) E(k - 1) = f;
          f = std::fma(sn, E(k), cs * S(k));
          E(k) = std::fma(-sn, S(k), cs * E(k));
          g = sn * S(k + 1);
          S(k + 1) = cs * S(k + 1);
          const bool identity = std::fabs(cs - 1.0f) <= FLT_MIN && std::fabs(sn) <= FLT_MIN;
          if (!identity) ColRotate(V, nc, k, k + 1, cs, sn);
          Givens(f, g, cs, sn);
          S(k) = f;
          f = std::fma(sn, S(k + 1), cs * E(k));
          S(k + 1) = std::fma(cs, S(k + 1), -sn * E(k));
          g = sn * E(k + 1);
          E(k + 1) = cs * E(k + 1);
          const bool identity2 = std::fabs(cs - 1.0f) <= FLT_MIN && std::fabs(sn) <= FLT_MIN;
          if (!identity2 && k < nr) ColRotate(U, nr, k, k + 1, cs, sn);
        }
        E(m - 1) = f;
        ++sweeps;
        break;
      }
      default: {  // convergence of S(l): make it positive, then order it
        if (S(l) < 0.0f) {
          S(l) = -S(l);
          ColScale(V, 1, nc, l, -1.0f);
        }
        while (l != mm && S(l) < S(l + 1)) {
          std::swap(S(l), S(l + 1));
          if (l < nc) ColSwap(V, nc, l, l + 1);
          if (l < nr) ColSwap(U, nr, l, l + 1);
          ++l;
        }
        sweeps = 0;
        --m;
        break;
      }
    }
  }
  Svd_PackResult(a, ev, sv, v, nr, nc);
  return 0;
}

void Matrix_SVD(Matrix* a, Matrix* u, Matrix* v) {
  const int32_t rows = a->rows;
  const int32_t cols = a->cols;
  Svd_Decompose(a->data, rows, cols, u->data, v->data, std::max(rows, cols) + 1, 1e-16f);
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c)
      if (r != c) a->data[static_cast<size_t>(r) * cols + c] = 0.0f;
}

void Matrix_PseudoInverse(Matrix* m) {
  const int32_t n = m->rows;
  const int32_t cols = m->cols;
  // Only square input has a result that fits in place; anything else is
  // left as it is rather than decomposed into blocks too small for it.
  if (n < 1 || cols != n) return;
  const size_t nn = static_cast<size_t>(n) * n;
  std::vector<float> block(3 * nn);
  Matrix t, u, vt;
  Matrix_Init(&t, n, n, block.data());
  Matrix_Init(&u, n, n, block.data() + nn);
  Matrix_Init(&vt, n, n, block.data() + 2 * nn);
  Svd_Decompose(m->data, n, n, u.data, vt.data, n + 1, 1e-16f);
  for (int32_t r = 0; r < n; ++r)
    for (int32_t c = 0; c < n; ++c)
      if (r != c) m->data[static_cast<size_t>(r) * n + c] = 0.0f;
  Matrix_TransposeSquareInPlace(&u);   // transpose(U)
  Matrix_TransposeSquareInPlace(&vt);  // V
  // W is diagonal with non-negative, non-increasing values, so the full-pivot
  // elimination takes them in order and stops at the first exact zero: the
  // zeros stay zero and the rest become reciprocals, i.e. pinv(W).
  Matrix_Invert(m);
  Matrix_Product(&vt, m, &t);
  Matrix_Product(&t, &u, m);
}

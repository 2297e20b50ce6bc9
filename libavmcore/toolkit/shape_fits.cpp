#include "toolkit/shape_fits.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "toolkit/border_filters.h"
#include "toolkit/linear_filters.h"
#include "toolkit/linear_solvers.h"
#include "toolkit/matrix.h"
#include "toolkit/thresholds.h"

int32_t Conic_FitLeastSquares(const PointI32* points, int32_t n, float* coef) {
  float ata[25] = {0}, atb[5] = {0}, x[5] = {0};
  for (int32_t i = 0; i < n; ++i) {
    const float p0 = static_cast<float>(points[i].p0), p1 = static_cast<float>(points[i].p1);
    const float basis[5] = {p0 * p1, p0 * p0, p1, p0, 1.0f};
    const float rhs = -(p1 * p1);
    for (int32_t r = 0; r < 5; ++r) {
      for (int32_t c = 0; c < 5; ++c) ata[r * 5 + c] += basis[r] * basis[c];
      atb[r] += rhs * basis[r];
    }
  }
  Matrix A, B, X;
  Matrix_Init(&A, 5, 5, ata);
  Matrix_Init(&B, 1, 5, atb);
  Matrix_Init(&X, 1, 5, x);
  if (!Matrix_SolveLinear(&A, &B, &X)) return 0;
  for (int32_t i = 0; i < 5; ++i) coef[i] = x[i];
  return 1;
}

int32_t Conic_FitEllipse(const PointI32* points, int32_t n, float* ellipse) {
  float k[5];
  if (!Conic_FitLeastSquares(points, n, k)) return 0;
  const float b = k[0], c = k[1], d = k[2], e = k[3], f = k[4];
  const float disc = b * b - 4.0f * c;
  const float x0 = (2.0f * c * d - b * e) / disc;
  const float y0 = (2.0f * e - b * d) / disc;
  const float q = 2.0f * (-(b * b) * f + 4.0f * c * f - e * e + b * d * e - c * d * d);
  const float s = std::sqrt((1.0f - c) * (1.0f - c) + b * b);
  const float axis1 = std::sqrt(std::fabs(q / ((c - s + 1.0f) * disc)));
  const float axis2 = std::sqrt(std::fabs(q / ((c + s + 1.0f) * disc)));
  // t is tan^2 of the tilt. For an ellipse aligned with the axes rounding can
  // make it slightly negative, and for a circle it is 0 / 0; either would
  // give a NaN angle.
  const float t = (axis1 * axis1 - c * axis2 * axis2) / (c * axis1 * axis1 - axis2 * axis2);
  const float angle = std::isnan(t) ? 0.0f : std::atan(std::sqrt(std::fabs(t))) * 180.0f / 3.1415927f;
  ellipse[0] = x0;
  ellipse[1] = y0;
  ellipse[2] = angle > 45.0f ? axis2 : axis1;
  ellipse[3] = angle > 45.0f ? axis1 : axis2;
  ellipse[4] = angle;
  return 1;
}

int32_t Conic_IsInside(const float* coef, float x, float y) {
  const float v = x * x + coef[0] * x * y + coef[1] * y * y + coef[2] * x + coef[3] * y + coef[4];
  return v <= 0.0f ? 1 : 0;
}

void Image_RotatedBounds(int32_t width, int32_t height, int32_t* outX, int32_t* outY,
                         int32_t* outW, int32_t* outH, float angle) {
  const int32_t c = static_cast<int32_t>(std::cos(angle) + 0.5 + 2.0) - 2;
  const int32_t s = static_cast<int32_t>(std::sin(angle) + 0.5 + 2.0) - 2;
  int32_t minX = 0, minY = 0, maxX = 0, maxY = 0;
  bool first = true;
  for (int32_t a : {0, height - 1}) {
    for (int32_t b : {0, width - 1}) {
      const int32_t X = c * a - s * b, Y = s * a + c * b;
      if (first) {
        minX = maxX = X;
        minY = maxY = Y;
        first = false;
      }
      minX = std::min(minX, X);
      maxX = std::max(maxX, X);
      minY = std::min(minY, Y);
      maxY = std::max(maxY, Y);
    }
  }
  *outX = minX;
  *outY = minY;
  *outW = std::max(0, maxX) - minX + 1;
  *outH = std::max(0, maxY) - minY + 1;
}

void Image_GradientPeakNear(const Matrix* img, int32_t r, PointI32 point, PointI32* out) {
  const int32_t side = 2 * r + 3, inner = 2 * r + 1;
  *out = point;
  if (r < 0 || img->cols < 1 || img->rows < 1) return;
  // The block may reach past the image edge: repeat the edge pixels there
  // instead of reading outside the image.
  std::vector<float> block(static_cast<size_t>(side) * side);
  for (int32_t i = 0; i < side; ++i) {
    const int32_t sr = std::clamp(point.p0 - r - 1 + i, 0, img->rows - 1);
    for (int32_t j = 0; j < side; ++j) {
      const int32_t sc = std::clamp(point.p1 - r - 1 + j, 0, img->cols - 1);
      block[static_cast<size_t>(i) * side + j] = img->data[static_cast<size_t>(sr) * img->cols + sc];
    }
  }
  std::vector<float> gx(static_cast<size_t>(inner) * inner), gy(gx.size()), rowBuf(side);
  Matrix B, GX, GY;
  Matrix_Init(&B, side, side, block.data());
  Matrix_Init(&GX, inner, inner, gx.data());
  Matrix_Init(&GY, inner, inner, gy.data());
  static const float kDiff[3] = {-1.0f, 0.0f, 1.0f};
  static const float kSmooth[3] = {1.0f, 2.0f, 1.0f};
  Image_SepFilter3x3(&B, &GX, kDiff, kSmooth, rowBuf.data());
  Image_SepFilter3x3(&B, &GY, kSmooth, kDiff, rowBuf.data());
  float best = 0.0f;
  int32_t bi = r, bj = r;
  for (int32_t i = 0; i < inner; ++i) {
    for (int32_t j = 0; j < inner; ++j) {
      const size_t k = static_cast<size_t>(i) * inner + j;
      const float m = gx[k] * gx[k] + gy[k] * gy[k];
      if (m > best) {
        best = m;
        bi = i;
        bj = j;
      }
    }
  }
  out->p0 = point.p0 - r + bi;
  out->p1 = point.p1 - r + bj;
}

namespace {

// First and last 1.0 pixel of a row or column of T; true when their span
// exceeds limit.
bool Chord(const Matrix* T, bool isRow, int32_t index, int32_t limit, PointI32* a, PointI32* b) {
  const int32_t len = isRow ? T->cols : T->rows;
  int32_t first = -1, last = -1;
  for (int32_t k = 0; k < len; ++k) {
    const float v = isRow ? T->data[static_cast<size_t>(index) * T->cols + k]
                          : T->data[static_cast<size_t>(k) * T->cols + index];
    if (v == 1.0f) {
      if (first < 0) first = k;
      last = k;
    }
  }
  if (first < 0 || last - first <= limit) return false;
  if (isRow) {
    *a = {index, first};
    *b = {index, last};
  } else {
    *a = {first, index};
    *b = {last, index};
  }
  return true;
}

}  // namespace

int32_t Image_FindEllipseTarget(const Matrix* img, float* result) {
  const int32_t w = img->cols, h = img->rows;
  if (w < 1 || h < 1) return 0;
  std::vector<float> tbuf(static_cast<size_t>(w) * h);
  Matrix T;
  Matrix_Init(&T, w, h, tbuf.data());
  Image_BoxMean(img, &T, 5, 5);
  Image_BinarizeIterative(&T, 0.2f);

  PointI32 pts[8];
  bool ok = false;
  for (int32_t y = 25; y <= h / 2 && !ok; ++y) ok = Chord(&T, true, y, w / 2, &pts[0], &pts[1]);
  if (!ok) return 0;
  ok = false;
  for (int32_t y = h - 26; y >= h / 2 && !ok; --y) ok = Chord(&T, true, y, w / 2, &pts[2], &pts[3]);
  if (!ok) return 0;
  ok = false;
  for (int32_t x = 25; x <= w / 2 && !ok; ++x) ok = Chord(&T, false, x, h / 2, &pts[4], &pts[5]);
  if (!ok) return 0;
  ok = false;
  for (int32_t x = w - 26; x >= w / 2 && !ok; --x) ok = Chord(&T, false, x, h / 2, &pts[6], &pts[7]);
  if (!ok) return 0;

  Image_BoxMean(img, &T, 3, 3);
  for (PointI32& p : pts) {
    PointI32 moved;
    Image_GradientPeakNear(&T, 11, p, &moved);
    p = moved;
  }
  float ellipse[5];
  const int32_t fit = Conic_FitEllipse(pts, 8, ellipse);
  if (!fit || !(ellipse[4] <= 10.0f || ellipse[4] >= 80.0f)) return 0;
  for (int32_t i = 0; i < 5; ++i) result[i] = ellipse[i];
  return fit;
}

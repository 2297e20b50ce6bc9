#include "toolkit/contours.h"

#include <cmath>

float Blob_ContourArea(const Blob* blob, float a, float b) {
  const int32_t n = blob->contourCount;
  if (n < 3) return 0.0f;
  const PointI16* p = blob->contour;
  float sum = 0.0f;
  for (int32_t i = 1; i < n; ++i) {
    const float ri = p[i].row - a, ci = p[i].col - b;
    const float rp = p[i - 1].row - a, cp = p[i - 1].col - b;
    sum += ri * cp - ci * rp;
  }
  return sum * 0.5f;
}

float Blob_ContourDiameter(const Blob* blob) {
  const int32_t n = blob->contourCount;
  if (n < 1) return 0.0f;
  const PointI16* p = blob->contour;
  int32_t s = 0;
  float best = 0.0f;
  for (int32_t pass = 0; pass < 3; ++pass) {
    best = 0.0f;
    int32_t far = s;
    for (int32_t k = 1; k < n; ++k) {
      const int32_t i = (s + k) % n;
      const float dc = static_cast<float>(p[i].col - p[s].col);
      const float dr = static_cast<float>(p[i].row - p[s].row);
      const float d2 = dc * dc + dr * dr;
      if (d2 > best) {
        best = d2;
        far = i;
      }
    }
    s = far;
  }
  return std::sqrt(best);
}

void Blob_ContourMoments(const Blob* blob, double* m) {
  const int32_t n = blob->contourCount;
  if (n < 2) return;
  const PointI16* p = blob->contour;
  double a00 = 0, a10 = 0, a01 = 0, a20 = 0, a11 = 0, a02 = 0, a30 = 0, a21 = 0, a12 = 0, a03 = 0;
  // The outline is a closed polygon: the pair (last, first) is included.
  // Without it the sums pick up a triangle spanned with the coordinate
  // origin, and the centroid drifts with the outline's distance from it.
  double xp = p[n - 1].col, yp = p[n - 1].row;
  for (int32_t i = 0; i < n; ++i) {
    const double x = p[i].col, y = p[i].row;
    const double xp2 = xp * xp, yp2 = yp * yp, x2 = x * x, y2 = y * y;
    const double dxy = xp * y - x * yp;
    const double xs = xp + x, ys = yp + y;
    a00 += dxy;
    a10 += dxy * xs;
    a01 += dxy * ys;
    a20 += dxy * (xp * xs + x2);
    a11 += dxy * (xp * (ys + yp) + x * (ys + y));
    a02 += dxy * (yp * ys + y2);
    a30 += dxy * xs * (xp2 + x2);
    a03 += dxy * ys * (yp2 + y2);
    a21 += dxy * (xp2 * (3 * yp + y) + 2 * x * xp * ys + x2 * (yp + 3 * y));
    a12 += dxy * (yp2 * (3 * xp + x) + 2 * y * yp * xs + y2 * (xp + 3 * x));
    xp = x;
    yp = y;
  }
  if (std::fabs(a00) <= 1.1920928955078125e-7) return;
  const double sgn = a00 > 0 ? 1.0 : -1.0;
  const double m00 = sgn * a00 / 2, m10 = sgn * a10 / 6, m01 = sgn * a01 / 6;
  const double m20 = sgn * a20 / 12, m11 = sgn * a11 / 24, m02 = sgn * a02 / 12;
  const double m30 = sgn * a30 / 20, m21 = sgn * a21 / 60, m12 = sgn * a12 / 60, m03 = sgn * a03 / 20;
  m[0] = m00;
  m[1] = m10;
  m[2] = m01;
  m[3] = m20;
  m[4] = m11;
  m[5] = m02;
  m[6] = m30;
  m[7] = m21;
  m[8] = m12;
  m[9] = m03;
  const double cx = m10 / m00, cy = m01 / m00;
  const double mu20 = m20 - cx * m10, mu11 = m11 - cx * m01, mu02 = m02 - cy * m01;
  m[10] = mu20;
  m[11] = mu11;
  m[12] = mu02;
  m[13] = m30 - cx * (3 * mu20 + cx * m10);
  m[14] = m21 - cx * (2 * mu11 + cx * m01) - cy * mu20;
  m[15] = m12 - cy * (2 * mu11 + cy * m10) - cx * mu02;
  m[16] = m03 - cy * (3 * mu02 + cy * m01);
  m[17] = std::fabs(m00) > 2.220446049250313e-16 ? std::sqrt(std::fabs(1.0 / m00)) : 0.0;
}

void Blob_Centroid(const Blob* blob, float* rowOut, float* colOut) {
  double m[18] = {0};
  Blob_ContourMoments(blob, m);
  if (m[0] == 0.0) {
    *rowOut = 0.0f;
    *colOut = 0.0f;
    return;
  }
  *rowOut = static_cast<float>(m[2] / m[0]);
  *colOut = static_cast<float>(m[1] / m[0]);
}

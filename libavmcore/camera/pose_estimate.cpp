#include "camera/pose_estimate.h"

#include <cfloat>
#include <cmath>
#include <utility>
#include <vector>

#include "camera/rotation.h"
#include "toolkit/levenberg_marquardt.h"
#include "toolkit/matrix.h"
#include "toolkit/svd.h"

void Points_CentredScatter(const Matrix* points, Matrix* scatter, Matrix* centroid) {
  const int n = points->rows;
  std::vector<float> block(static_cast<size_t>(n) * 3);
  float mean[3] = {0.0f, 0.0f, 0.0f};
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) {
      block[i * 3 + k] = points->data[i * points->cols + k];
      mean[k] += block[i * 3 + k];
    }
  for (int k = 0; k < 3; ++k) mean[k] /= static_cast<float>(n);
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) block[i * 3 + k] -= mean[k];
  Matrix centred{3, n, block.data()};
  Matrix_MulTransposed(&centred, scatter, 1);
  for (int k = 0; k < 3; ++k) centroid->data[k * centroid->cols] = mean[k];
}

int32_t Homography_FromPoints(const Matrix* src, const Matrix* dst, Matrix* Hm) {
  const int n = src->rows;
  const int ss = src->cols, ds = dst->cols;
  float cM[2] = {0, 0}, cm[2] = {0, 0};
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 2; ++k) {
      cM[k] += src->data[i * ss + k];
      cm[k] += dst->data[i * ds + k];
    }
  for (int k = 0; k < 2; ++k) {
    cM[k] /= static_cast<float>(n);
    cm[k] /= static_cast<float>(n);
  }
  float sM[2] = {0, 0}, sm[2] = {0, 0};
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 2; ++k) {
      sM[k] += std::fabs(src->data[i * ss + k] - cM[k]);
      sm[k] += std::fabs(dst->data[i * ds + k] - cm[k]);
    }
  for (int k = 0; k < 2; ++k)
    if (std::fabs(sM[k]) < FLT_EPSILON || std::fabs(sm[k]) < FLT_EPSILON) return 0;
  for (int k = 0; k < 2; ++k) {
    sM[k] = static_cast<float>(n) / sM[k];
    sm[k] = static_cast<float>(n) / sm[k];
  }

  float LtL[81] = {};
  for (int i = 0; i < n; ++i) {
    const float x = (dst->data[i * ds] - cm[0]) * sm[0];
    const float y = (dst->data[i * ds + 1] - cm[1]) * sm[1];
    const float X = (src->data[i * ss] - cM[0]) * sM[0];
    const float Y = (src->data[i * ss + 1] - cM[1]) * sM[1];
    const float Lx[9] = {X, Y, 1, 0, 0, 0, -x * X, -x * Y, -x};
    const float Ly[9] = {0, 0, 0, X, Y, 1, -y * X, -y * Y, -y};
    for (int r = 0; r < 9; ++r)
      for (int c = r; c < 9; ++c) LtL[r * 9 + c] += Lx[r] * Lx[c] + Ly[r] * Ly[c];
  }
  Matrix mL{9, 9, LtL};
  Matrix_Symmetrize(&mL, 1);
  float U[81], Vt[81];
  Matrix mU{9, 9, U}, mV{9, 9, Vt};
  Matrix_SVD(&mL, &mU, &mV);
  // Right singular vector of the smallest singular value (by magnitude).
  int smallest = 8;
  for (int k = 0; k < 9; ++k)
    if (std::fabs(LtL[k * 10]) < std::fabs(LtL[smallest * 10])) smallest = k;
  const float* H0 = Vt + smallest * 9;

  const float invHnorm[9] = {1.0f / sm[0], 0, cm[0], 0, 1.0f / sm[1], cm[1], 0, 0, 1};
  const float Hnorm2[9] = {sM[0], 0, -cM[0] * sM[0], 0, sM[1], -cM[1] * sM[1], 0, 0, 1};
  float tmp[9], H[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      float acc = 0.0f;
      for (int k = 0; k < 3; ++k) acc += invHnorm[i * 3 + k] * H0[k * 3 + j];
      tmp[i * 3 + j] = acc;
    }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      float acc = 0.0f;
      for (int k = 0; k < 3; ++k) acc += tmp[i * 3 + k] * Hnorm2[k * 3 + j];
      H[i * 3 + j] = acc;
    }
  const float inv8 = 1.0f / H[8];
  for (int k = 0; k < 9; ++k) H[k] *= inv8;

  LevMarq lm;
  LevMarq_Create(&lm, 8, 0, 10, -6, FLT_EPSILON);
  for (int k = 0; k < 8; ++k) lm.param.data[k] = H[k];
  for (;;) {
    Matrix* param = nullptr;
    Matrix* JtJ = nullptr;
    Matrix* JtErr = nullptr;
    float* errNorm = nullptr;
    if (!LevMarq_UpdateAlt(&lm, &param, &JtJ, &JtErr, &errNorm)) break;
    if (JtJ == nullptr && errNorm == nullptr) continue;
    const float* h = param->data;
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) {
      const float MX = src->data[i * ss], MY = src->data[i * ss + 1];
      float w = h[6] * MX + h[7] * MY + 1.0f;
      w = std::fabs(w) > FLT_EPSILON ? 1.0f / w : 0.0f;
      const float xi = (h[0] * MX + h[1] * MY + h[2]) * w;
      const float yi = (h[3] * MX + h[4] * MY + h[5]) * w;
      const float ex = xi - dst->data[i * ds], ey = yi - dst->data[i * ds + 1];
      if (JtJ != nullptr) {
        const float Jx[8] = {MX * w, MY * w, w, 0, 0, 0, -MX * w * xi, -MY * w * xi};
        const float Jy[8] = {0, 0, 0, MX * w, MY * w, w, -MX * w * yi, -MY * w * yi};
        for (int r = 0; r < 8; ++r) {
          for (int c = r; c < 8; ++c) JtJ->data[r * 8 + c] += Jx[r] * Jx[c] + Jy[r] * Jy[c];
          JtErr->data[r] += Jx[r] * ex + Jy[r] * ey;
        }
      }
      sum += ex * ex + ey * ey;
    }
    if (errNorm != nullptr) *errNorm = sum;
  }
  for (int k = 0; k < 8; ++k) Hm->data[k] = lm.param.data[k];
  Hm->data[8] = 1.0f;
  LevMarq_Free(&lm);
  return 1;
}

void PlanarPose_Estimate(const Matrix* objectPoints, const Matrix* pinholePoints, float* r, float* T) {
  const int n = objectPoints->rows;
  float scatter[9], centroid[3];
  Matrix mS{3, 3, scatter}, mC{1, 3, centroid};
  Points_CentredScatter(objectPoints, &mS, &mC);
  float U[9], Rt[9];
  Matrix mU{3, 3, U}, mRt{3, 3, Rt};
  Matrix_SVD(&mS, &mU, &mRt);
  // Principal axes by decreasing spread.
  for (int a = 0; a < 2; ++a)
    for (int b = a + 1; b < 3; ++b)
      if (std::fabs(scatter[b * 4]) > std::fabs(scatter[a * 4])) {
        std::swap(scatter[a * 4], scatter[b * 4]);
        for (int k = 0; k < 3; ++k) std::swap(Rt[a * 3 + k], Rt[b * 3 + k]);
      }
  if (Rt[2] * Rt[2] + Rt[5] * Rt[5] >= 1e-10f) {
    const float det = Rt[0] * (Rt[4] * Rt[8] - Rt[5] * Rt[7]) - Rt[1] * (Rt[3] * Rt[8] - Rt[5] * Rt[6]) +
                      Rt[2] * (Rt[3] * Rt[7] - Rt[4] * Rt[6]);
    if (det < 0.0f)
      for (float& e : Rt) e = -e;
  } else {
    for (int k = 0; k < 9; ++k) Rt[k] = (k % 4 == 0) ? 1.0f : 0.0f;
  }
  float Tt[3];
  for (int k = 0; k < 3; ++k)
    Tt[k] = -(Rt[k * 3] * centroid[0] + Rt[k * 3 + 1] * centroid[1] + Rt[k * 3 + 2] * centroid[2]);
  std::vector<float> plane(static_cast<size_t>(n) * 2);
  for (int i = 0; i < n; ++i) {
    const float* p = objectPoints->data + i * objectPoints->cols;
    for (int k = 0; k < 2; ++k) plane[i * 2 + k] = Rt[k * 3] * p[0] + Rt[k * 3 + 1] * p[1] + Rt[k * 3 + 2] * p[2] + Tt[k];
  }
  Matrix mPlane{2, n, plane.data()};
  float H[9];
  Matrix mH{3, 3, H};
  float t[3] = {0.0f, 0.0f, 0.0f};
  float R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  if (Homography_FromPoints(&mPlane, pinholePoints, &mH) != 0) {
    float h1[3] = {H[0], H[3], H[6]}, h2[3] = {H[1], H[4], H[7]}, h3[3] = {H[2], H[5], H[8]};
    const float len1 = std::sqrt(h1[0] * h1[0] + h1[1] * h1[1] + h1[2] * h1[2]);
    const float len2 = std::sqrt(h2[0] * h2[0] + h2[1] * h2[1] + h2[2] * h2[2]);
    const float s1 = len1 < FLT_EPSILON ? 8388608.0f : 1.0f / len1;
    const float s2 = len2 < FLT_EPSILON ? 8388608.0f : 1.0f / len2;
    const float st = (len1 + len2) < FLT_EPSILON ? 16777216.0f : 2.0f / (len1 + len2);
    for (int k = 0; k < 3; ++k) {
      h1[k] *= s1;
      h2[k] *= s2;
      t[k] = h3[k] * st;
    }
    h3[0] = h1[1] * h2[2] - h1[2] * h2[1];
    h3[1] = h1[2] * h2[0] - h1[0] * h2[2];
    h3[2] = h1[0] * h2[1] - h1[1] * h2[0];
    float Hm[9] = {h1[0], h2[0], h3[0], h1[1], h2[1], h3[1], h1[2], h2[2], h3[2]};
    float rv[3], Hr[9];
    Matrix mHm{3, 3, Hm}, mrv{3, 1, rv};
    RotationToAxisAngle(&mHm, &mrv, 1);
    RodriguesArr(rv, Hr, nullptr);
    float t2[3];
    for (int k = 0; k < 3; ++k) t2[k] = Hr[k * 3] * Tt[0] + Hr[k * 3 + 1] * Tt[1] + Hr[k * 3 + 2] * Tt[2] + t[k];
    for (int k = 0; k < 3; ++k) t[k] = t2[k];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        R[i * 3 + j] = Hr[i * 3] * Rt[j] + Hr[i * 3 + 1] * Rt[3 + j] + Hr[i * 3 + 2] * Rt[6 + j];
  }
  RotationMatrixToVector(R, r);
  // Pose convention: Xc = R (X + T), so T = R^T t.
  for (int k = 0; k < 3; ++k) T[k] = R[k] * t[0] + R[3 + k] * t[1] + R[6 + k] * t[2];
}

void RadialDivision_Undistort(float* xo, float* yo, float* dx, float* dy, float X, float Y, float c0,
                              float c1) {
  float x = X, y = Y;
  // Derivatives of (x, y) by (X, Y, c0, c1).
  float gx[4] = {1, 0, 0, 0}, gy[4] = {0, 1, 0, 0};
  for (int it = 0; it < 50; ++it) {
    const float r2 = x * x + y * y;
    const float d = c0 + c1 * r2;
    const float nx = X / d, ny = Y / d;
    const float d2 = d * d;
    float ngx[4], ngy[4];
    for (int k = 0; k < 4; ++k) {
      const float dd = (2.0f * x * gx[k] + 2.0f * y * gy[k]) * c1 + (k == 3 ? r2 : 0.0f) + (k == 2 ? 1.0f : 0.0f);
      const float dX = k == 0 ? 1.0f : 0.0f, dY = k == 1 ? 1.0f : 0.0f;
      ngx[k] = dX / d - X * dd / d2;
      ngy[k] = dY / d - Y * dd / d2;
    }
    for (int k = 0; k < 4; ++k) {
      gx[k] = ngx[k];
      gy[k] = ngy[k];
    }
    const bool same = nx == x && ny == y;
    x = nx;
    y = ny;
    if (same) break;
  }
  *xo = x;
  *yo = y;
  for (int k = 0; k < 4; ++k) {
    dx[k] = gx[k];
    dy[k] = gy[k];
  }
}

float QuarticNewtonRoot(const float* c, float* sens, float a, float b) {
  if (sens != nullptr)
    for (int k = 0; k < 5; ++k) sens[k] = 0.0f;
  float x = (a + b) * 0.5f;
  float next = x;
  for (int it = 0; it < 50; ++it) {
    const float p = c[0] + x * (c[1] + x * (c[2] + x * (c[3] + x * c[4])));
    const float dp = c[1] + x * (2.0f * c[2] + x * (3.0f * c[3] + x * 4.0f * c[4]));
    next = x - p / dp;
    if (sens != nullptr) {
      // Implicit derivative of the root by each coefficient: -x^k / p'(x).
      float xk = 1.0f;
      for (int k = 0; k < 5; ++k) {
        sens[k] = -xk / dp;
        xk *= x;
      }
    }
    if (std::fabs(next - x) < FLT_EPSILON) break;
    x = next;
  }
  return next;
}

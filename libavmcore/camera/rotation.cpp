#include "camera/rotation.h"

#include <cmath>

#include "toolkit/svd.h"

namespace {

// Derivative tables of the Rodrigues formula by the axis components.
const float kDRX[3][9] = {{0, 0, 0, 0, 0, -1, 0, 1, 0},
                          {0, 0, 1, 0, 0, 0, -1, 0, 0},
                          {0, -1, 0, 1, 0, 0, 0, 0, 0}};

}  // namespace

void RodriguesArr(const float* rv, float* R, float* dR) {
  const float r0 = rv[0], r1 = rv[1], r2 = rv[2];
  const float theta = std::sqrt(r0 * r0 + r1 * r1 + r2 * r2);
  const float itheta = theta == 0.0f ? 0.0f : 1.0f / theta;
  const float c = std::cos(theta), s = std::sin(theta), c1 = 1.0f - c;
  const float x = r0 * itheta, y = r1 * itheta, z = r2 * itheta;
  const float rrt[9] = {x * x, x * y, x * z, x * y, y * y, y * z, x * z, y * z, z * z};
  const float rx[9] = {0, -z, y, z, 0, -x, -y, x, 0};
  const float I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int k = 0; k < 9; ++k) R[k] = c * I[k] + c1 * rrt[k] + s * rx[k];
  if (dR == nullptr) return;
  if (theta == 0.0f) {
    for (int k = 0; k < 27; ++k) dR[k] = 0.0f;
    return;
  }
  const float drrt[3][9] = {{x + x, y, z, y, 0, 0, z, 0, 0},
                            {0, x, 0, x, y + y, z, 0, z, 0},
                            {0, 0, x, 0, 0, y, x, y, z + z}};
  const float axis[3] = {x, y, z};
  for (int i = 0; i < 3; ++i) {
    const float ri = axis[i];
    const float a0 = -s * ri;
    const float a1 = (s - 2.0f * c1 * itheta) * ri;
    const float a2 = c1 * itheta;
    const float a3 = (c - s * itheta) * ri;
    const float a4 = s * itheta;
    for (int k = 0; k < 9; ++k)
      dR[i * 9 + k] = a0 * I[k] + a1 * rrt[k] + a2 * drrt[i][k] + a3 * rx[k] + a4 * kDRX[i][k];
  }
}

void RodriguesToMatrix(const Matrix* r, Matrix* R) { RodriguesArr(r->data, R->data, nullptr); }

void Rodrigues(const Matrix* r, Matrix* R, Matrix* dR) {
  RodriguesArr(r->data, R->data, dR != nullptr ? dR->data : nullptr);
}

void RotationMatrixToVector(const float* R, float* out) {
  const float rx = R[7] - R[5], ry = R[2] - R[6], rz = R[3] - R[1];
  const float s = std::sqrt((rx * rx + ry * ry + rz * rz) * 0.25f);
  const float c = (R[0] + R[4] + R[8] - 1.0f) * 0.5f;
  float theta;
  if (c > 1.0f)
    theta = 0.0f;
  else if (c < -1.0f)
    theta = 3.1415927f;
  else
    theta = std::acos(c);
  if (static_cast<double>(s) >= 1e-5) {
    const float f = theta / (2.0f * s);
    out[0] = rx * f;
    out[1] = ry * f;
    out[2] = rz * f;
    return;
  }
  if (c > 0.0f) {
    out[0] = out[1] = out[2] = 0.0f;
    return;
  }
  float ax = std::sqrt(std::fmax((R[0] + 1.0f) * 0.5f, 0.0f));
  float ay = std::sqrt(std::fmax((R[4] + 1.0f) * 0.5f, 0.0f));
  if (R[1] < 0.0f) ay = -ay;
  float az = std::sqrt(std::fmax((R[8] + 1.0f) * 0.5f, 0.0f));
  if (R[2] < 0.0f) az = -az;
  if (std::fabs(ax) < std::fabs(ay) && std::fabs(ax) < std::fabs(az) &&
      ((R[5] > 0.0f) != (ay * az > 0.0f)))
    az = -az;
  const float len = std::sqrt(ax * ax + ay * ay + az * az);
  const float f = theta / len;
  out[0] = ax * f;
  out[1] = ay * f;
  out[2] = az * f;
}

float* RotationToAxisAngle(const Matrix* R, Matrix* out, int32_t orthogonalise) {
  float m[9];
  for (int k = 0; k < 9; ++k) m[k] = R->data[k];
  if (orthogonalise != 0) {
    float u[9], vt[9];
    Matrix a{3, 3, m}, mu{3, 3, u}, mv{3, 3, vt};
    Matrix_SVD(&a, &mu, &mv);
    // U * V^T, the nearest rotation.
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        float acc = 0.0f;
        for (int k = 0; k < 3; ++k) acc = std::fma(u[i * 3 + k], vt[k * 3 + j], acc);
        m[i * 3 + j] = acc;
      }
  }
  RotationMatrixToVector(m, out->data);
  return out->data;
}

void RotationFromAngles(const float* a, Matrix* Rm) {
  float* R = Rm->data;
  const float c0 = std::cos(a[0]), s0 = std::sin(a[0]);
  const float c1 = std::cos(a[1]), s1 = std::sin(a[1]);
  const float c2 = std::cos(a[2]), s2 = std::sin(a[2]);
  R[0] = c0 * c2;
  R[1] = c0 * s2 * s1 - s0 * c1;
  R[2] = c0 * s2 * c1 + s0 * s1;
  R[3] = s0 * c2;
  R[4] = s0 * s2 * s1 + c0 * c1;
  R[5] = s0 * s2 * c1 - c0 * s1;
  R[6] = -s2;
  R[7] = c2 * s1;
  R[8] = c2 * c1;
}

void AnglesFromRotation(const Matrix* Rm, float* a) {
  const float* R = Rm->data;
  if (R[6] > 0.998f) {
    a[0] = std::atan2(-R[1], R[4]);
    a[1] = 0.0f;
    a[2] = -1.5707964f;
  } else if (R[6] < -0.998f) {
    a[0] = std::atan2(R[5], R[2]);
    a[1] = 0.0f;
    a[2] = 1.5707964f;
  } else {
    a[0] = std::atan2(R[3], R[0]);
    a[1] = std::atan2(R[7], R[8]);
    a[2] = std::asin(-R[6]);
  }
}

void RotationToQuaternion(const Matrix* Rm, float* q) {
  const float* R = Rm->data;
  const float t = R[0] + R[4] + R[8];
  float w, x, y, z;
  if (t > 0.0f) {
    const float S = static_cast<float>(2.0 * std::sqrt(static_cast<double>(t) + 1.0));
    w = S / 4.0f;
    x = (R[7] - R[5]) / S;
    y = (R[2] - R[6]) / S;
    z = (R[3] - R[1]) / S;
  } else if (R[0] > R[4] && R[0] > R[8]) {
    const float S = static_cast<float>(2.0 * std::sqrt(1.0 + R[0] - R[4] - R[8]));
    w = (R[7] - R[5]) / S;
    x = S / 4.0f;
    y = (R[1] + R[3]) / S;
    z = (R[2] + R[6]) / S;
  } else if (R[4] > R[8]) {
    const float S = static_cast<float>(2.0 * std::sqrt(1.0 + R[4] - R[0] - R[8]));
    w = (R[2] - R[6]) / S;
    x = (R[1] + R[3]) / S;
    y = S / 4.0f;
    z = (R[5] + R[7]) / S;
  } else {
    const float S = static_cast<float>(2.0 * std::sqrt(1.0 + R[8] - R[0] - R[4]));
    w = (R[3] - R[1]) / S;
    x = (R[2] + R[6]) / S;
    y = (R[5] + R[7]) / S;
    z = S / 4.0f;
  }
  q[0] = w;
  q[1] = x;
  q[2] = y;
  q[3] = z;
}

void QuaternionToRotation(const float* q, Matrix* Rm) {
  float* R = Rm->data;
  const float w = q[0], x = q[1], y = q[2], z = q[3];
  const float n = w * w + x * x + y * y + z * z;
  const float k = 1.0f / n;
  R[0] = (w * w + x * x - y * y - z * z) * k;
  R[1] = 2.0f * (x * y - w * z) * k;
  R[2] = 2.0f * (x * z + w * y) * k;
  R[3] = 2.0f * (x * y + w * z) * k;
  R[4] = (w * w - x * x + y * y - z * z) * k;
  R[5] = 2.0f * (y * z - w * x) * k;
  R[6] = 2.0f * (x * z - w * y) * k;
  R[7] = 2.0f * (y * z + w * x) * k;
  R[8] = (w * w - x * x - y * y + z * z) * k;
}

void QuaternionToAngles(const float* q, float* out) {
  const float w = q[0], x = q[1], y = q[2], z = q[3];
  const float test = x * y + z * w;
  if (test > 0.499f) {
    out[0] = 2.0f * std::atan2(x, w);
    out[1] = 1.5707964f;
    out[2] = 0.0f;
  } else if (test < -0.499f) {
    out[0] = -2.0f * std::atan2(x, w);
    out[1] = -1.5707964f;
    out[2] = 0.0f;
  } else {
    out[0] = std::atan2(2.0f * y * w - 2.0f * x * z, 1.0f - 2.0f * y * y - 2.0f * z * z);
    out[1] = std::asin(2.0f * test);
    out[2] = std::atan2(2.0f * x * w - 2.0f * y * z, 1.0f - 2.0f * x * x - 2.0f * z * z);
  }
}

namespace {

float CofactorError(const float* R) {
  // Cofactor matrix of a proper rotation equals the rotation itself.
  const float cof[9] = {R[4] * R[8] - R[5] * R[7], R[5] * R[6] - R[3] * R[8], R[3] * R[7] - R[4] * R[6],
                        R[2] * R[7] - R[1] * R[8], R[0] * R[8] - R[2] * R[6], R[1] * R[6] - R[0] * R[7],
                        R[1] * R[5] - R[2] * R[4], R[2] * R[3] - R[0] * R[5], R[0] * R[4] - R[1] * R[3]};
  float e = 0.0f;
  for (int k = 0; k < 9; ++k) e += std::fabs(cof[k] - R[k]);
  return e;
}

void CompleteRow2(float* m) {
  m[6] = m[1] * m[5] - m[2] * m[4];
  m[7] = m[2] * m[3] - m[0] * m[5];
  m[8] = m[0] * m[4] - m[1] * m[3];
}

}  // namespace

float Rotation_CofactorError(const Matrix* R) { return CofactorError(R->data); }

void Rotation_CompleteFromRows(Matrix* M) {
  float* m = M->data;
  float a0 = m[0], a1 = m[1], b0 = m[3], b1 = m[4];
  const float la = std::sqrt(a0 * a0 + a1 * a1);
  if (la > 1.0f) {
    a0 /= la;
    a1 /= la;
  }
  const float lb = std::sqrt(b0 * b0 + b1 * b1);
  if (lb > 1.0f) {
    b0 /= lb;
    b1 /= lb;
  }
  const float za = static_cast<float>(std::sqrt(std::fmax(0.0, 1.0 - static_cast<double>(a0) * a0 - static_cast<double>(a1) * a1)));
  const float zb = static_cast<float>(std::sqrt(std::fmax(0.0, 1.0 - static_cast<double>(b0) * b0 - static_cast<double>(b1) * b1)));
  float A[9] = {a0, a1, za, b0, b1, zb, 0, 0, 0};
  float B[9] = {a0, a1, -za, b0, b1, zb, 0, 0, 0};
  CompleteRow2(A);
  CompleteRow2(B);
  const float* best = CofactorError(B) < CofactorError(A) ? B : A;
  for (int k = 0; k < 9; ++k) m[k] = best[k];
}

void Points_RigidTransform(const Matrix* points, const Matrix* r, const Matrix* t, Matrix* out) {
  float R[9];
  RodriguesArr(r->data, R, nullptr);
  const float* tv = t->data;
  for (int i = 0; i < points->rows; ++i) {
    const float* p = points->data + i * points->cols;
    float* o = out->data + i * out->cols;
    const float x = p[0], y = p[1], z = p[2];
    for (int k = 0; k < 3; ++k) o[k] = R[k * 3] * x + R[k * 3 + 1] * y + R[k * 3 + 2] * z + tv[k];
  }
}

#pragma once
// Building blocks shared by the lens models (internal to the camera module).
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "camera/rotation.h"
#include "frame/matrix_types.h"
#include "frame/numeric_constants.h"

namespace lens {

// Callers name these lens::kPi and lens::kHalfPi.
using ::kHalfPi;
using ::kPi;

constexpr float kFieldLimit = 1.7592919f;  // 0.56 pi: beyond this a ray is outside every model's field

// Coordinates within FLT_EPSILON of zero are pushed out to +-FLT_EPSILON so
// the direction split below stays defined on the optical axis.
inline float Guard(float x) {
  if (x >= 0.0f && x < FLT_EPSILON) return FLT_EPSILON;
  if (x < 0.0f && x > -FLT_EPSILON) return -FLT_EPSILON;
  return x;
}

// Splits a length L along the direction of (x, y): (L x / r, L y / r), in the
// ratio form the models use.
inline void SplitDir(float L, float x, float y, float* ox, float* oy) {
  const float x2 = x * x, y2 = y * y;
  *ox = std::copysign(L / std::sqrt(1.0f + y2 / x2), x);
  *oy = std::copysign(L / std::sqrt(1.0f + x2 / y2), y);
}

// Incidence angle of camera coordinates (after the guard), in [0, pi).
inline float IncidenceAngle(float r, float z) {
  float theta = std::atan(r / z);
  if (theta < 0.0f) theta += kPi;
  return theta;
}

inline bool IsRotationVector(const Matrix* R) {
  return (R->cols == 3 && R->rows == 1) || (R->cols == 1 && R->rows == 3);
}

// Rotation matrix of a pose (vector or 3 x 3) and, when dR is given, its
// derivative by the rotation vector (a matrix is first turned into its
// nearest rotation vector).
inline void PoseRotation(const Matrix* Rm, float* R, float* dR) {
  if (IsRotationVector(Rm)) {
    RodriguesArr(Rm->data, R, dR);
  } else if (dR != nullptr) {
    float rv[3];
    Matrix mv{3, 1, rv};
    RotationToAxisAngle(Rm, &mv, 1);
    RodriguesArr(rv, R, dR);
  } else {
    for (int k = 0; k < 9; ++k) R[k] = Rm->data[k];
  }
}

// Rotation from camera back to world coordinates (R^T, the rotation of -r)
// and optionally its derivative by r.
inline void InverseRotation(const Matrix* Rm, float* Rinv, float* dRinv) {
  if (IsRotationVector(Rm)) {
    const float neg[3] = {-Rm->data[0], -Rm->data[1], -Rm->data[2]};
    RodriguesArr(neg, Rinv, dRinv);
    if (dRinv != nullptr)
      for (int k = 0; k < 27; ++k) dRinv[k] = -dRinv[k];
  } else {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) Rinv[i * 3 + j] = Rm->data[j * 3 + i];
    if (dRinv != nullptr)
      for (int k = 0; k < 27; ++k) dRinv[k] = 0.0f;
  }
}

inline void Mat3Vec(const float* M, const float* v, float* o) {
  o[0] = M[0] * v[0] + M[1] * v[1] + M[2] * v[2];
  o[1] = M[3] * v[0] + M[4] * v[1] + M[5] * v[2];
  o[2] = M[6] * v[0] + M[7] * v[1] + M[8] * v[2];
}

// Inverse of a 3 x 3 intrinsic matrix by Gauss-Jordan (Matrix_Invert).
// Returns false when K is singular.
bool InvertK(const Matrix* K, float* Kinv);

inline float* Row(Matrix* m, int row) { return m->data + row * m->cols; }
inline const float* Row(const Matrix* m, int row) { return m->data + row * m->cols; }

}  // namespace lens

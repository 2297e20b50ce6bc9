#include "camera/euler_rotation.h"

#include "camera/rotation.h"
#include "frame/mat3.h"
#include "frame/numeric_constants.h"
#include "toolkit/transform3d.h"

namespace {

// Product of the given rotations (left to right), negated rotation vector.
void NegatedRotVec(const float (*mats)[9], int count, float* out) {
  float acc[9], tmp[9];
  for (int k = 0; k < 9; ++k) acc[k] = mats[0][k];
  for (int m = 1; m < count; ++m) {
    Mat3_Mul(acc, mats[m], tmp);
    for (int k = 0; k < 9; ++k) acc[k] = tmp[k];
  }
  float r[3];
  RotationMatrixToVector(acc, r);
  for (int k = 0; k < 3; ++k) out[k] = -r[k];
}

}  // namespace

void CamPose_EulerToRotVec(const void*, float* out, float a, float b, float c) {
  float m[5][9];
  Mat3_RotateZ(m[0], kHalfPi);
  Mat3_RotateY(m[1], kPi);
  Mat3_RotateX(m[2], -b);
  Mat3_RotateY(m[3], -a);
  Mat3_RotateZ(m[4], -c);
  NegatedRotVec(m, 5, out);
}

void CamPose_EulerToRotVecAlt(const void*, float* out, float a, float b, float c) {
  float m[4][9];
  Mat3_RotateY(m[0], kHalfPi);
  Mat3_RotateY(m[1], -a);
  Mat3_RotateZ(m[2], -c);
  Mat3_RotateX(m[3], -b);
  NegatedRotVec(m, 4, out);
}

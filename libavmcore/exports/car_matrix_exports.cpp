// Exports of the car motion matrices that move the ground picture of a
// display by the distance the vehicle covered since the last call.
#include <cmath>
#include <initializer_list>

#include "exports/export_guard.h"
#include "frame/log.h"
#include "globalimage_api.h"
#include "surround/car_motion.h"

namespace {

bool AllFinite(std::initializer_list<float> values) {
  for (float v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// The matrix is computed aside and copied out only when every element is a
// number, so a caller never draws with a matrix of infinities.
bool CopyFinite(const float m[9], float* out) {
  for (int i = 0; i < 9; ++i) {
    if (!std::isfinite(m[i])) return false;
  }
  for (int i = 0; i < 9; ++i) out[i] = m[i];
  return true;
}

// A turn divides by the wheel base (turning radius and angle).
bool TurnWithoutWheelBase(float steer, float wheelBase) {
  return !(steer > -0.01f && steer < 0.01f) && wheelBase == 0.0f;
}

}  // namespace

AVM_EXPORT int KRV_GlobalImage_CalcCarDriveMatrix(int32_t dtMs, float* out, float viewLength, float viewWidth,
                                                  float wheelBase, float axleOffset, float speed, float steer) try {
  if (out == nullptr || !AllFinite({viewLength, viewWidth, wheelBase, axleOffset, speed, steer}) ||
      viewLength == 0.0f || viewWidth == 0.0f || TurnWithoutWheelBase(steer, wheelBase)) {
    AvmLog("CalcCarDriveMatrix Param Failed \n");
    return kCarMatrixRefused;
  }
  float m[9];
  CalcCarDriveMatrix(dtMs, m, viewLength, viewWidth, wheelBase, axleOffset, speed, steer);
  if (!CopyFinite(m, out)) {
    AvmLog("CalcCarDriveMatrix Result Failed \n");
    return kCarMatrixRefused;
  }
  return 0;
}
AVM_EXPORT_CATCH(kCarMatrixRefused)

AVM_EXPORT int KRV_GlobalImage_CalcCarSceneMatrix(int32_t dtMs, float* out, float viewLength, float ignoredWidth,
                                                  float wheelBase, float axleOffset, float speed, float steer,
                                                  float xMin, float yMin, float xMax, float yMax) try {
  if (out == nullptr || !AllFinite({viewLength, wheelBase, axleOffset, speed, steer, xMin, yMin, xMax, yMax}) ||
      xMax == xMin || yMax == yMin || TurnWithoutWheelBase(steer, wheelBase)) {
    AvmLog("CalcCarSceneMatrix Param Failed \n");
    return kCarMatrixRefused;
  }
  float m[9];
  CalcCarSceneMatrix(dtMs, m, viewLength, ignoredWidth, wheelBase, axleOffset, speed, steer, xMin, yMin, xMax,
                     yMax);
  if (!CopyFinite(m, out)) {
    AvmLog("CalcCarSceneMatrix Result Failed \n");
    return kCarMatrixRefused;
  }
  return 0;
}
AVM_EXPORT_CATCH(kCarMatrixRefused)

// Weak stand-ins of detection and pose solving: the real definitions, when
// linked, take their place.
#include "surround/calibration_services.h"

#include "frame/global_variables.h"
#include "surround/lutob.h"

__attribute__((weak)) uint32_t FindAllChessboardCorners(LUTOB* lut, uint32_t camera) {
  if (lut != nullptr && camera >= 1 && camera <= 4) lut->cornerCounts[camera - 1] = 0;
  return 0;
}

__attribute__((weak)) void ComputeTargetWorldPoints(LutConfig*, int32_t, Matrix*) {}

__attribute__((weak)) int32_t BlockCalib4_RunAuto(int32_t, int32_t, const void*) {
  return gv().CalibLayoutCode == 29 ? 17 : 0;
}

__attribute__((weak)) int32_t BlockCalib4_RunHand(int32_t, int32_t, int32_t, const float*, const float*) {
  return gv().CalibLayoutCode == 29 ? 17 : 0;
}

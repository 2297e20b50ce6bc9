// Weak stand-ins of the block calibration: the real definitions, when
// linked, take their place.
#include "surround/calibration_services.h"

#include "frame/global_variables.h"

__attribute__((weak)) int32_t BlockCalib4_RunAuto(int32_t, int32_t, const void*) {
  return gv().CalibLayoutCode == 29 ? 17 : 0;
}

__attribute__((weak)) int32_t BlockCalib4_RunHand(int32_t, int32_t, int32_t, const float*, const float*) {
  return gv().CalibLayoutCode == 29 ? 17 : 0;
}

__attribute__((weak)) int32_t BlockCalib6_RunAuto(int32_t, const ImageU8*, const ImageU8*) {
  return gv().CalibLayoutCode == 52 ? 17 : 0;
}

__attribute__((weak)) int32_t BlockCalib6_RunHand(int32_t, int32_t, int32_t, const float*, const float*,
                                                  const float*, const float*) {
  return gv().CalibLayoutCode == 52 ? 17 : 0;
}

__attribute__((weak)) int32_t BlockCalib6_GetGroupPoints(int32_t, int32_t, float*) { return 0; }

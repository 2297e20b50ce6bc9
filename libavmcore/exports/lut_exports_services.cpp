// Weak stand-ins for the calibration operations the LUT exports call; the
// real definitions replace them when linked in.
#include "exports/lut_exports_services.h"

#define AVM_WEAK __attribute__((weak))

AVM_WEAK void Best3Ctrl_CreateWork(Best3Work* work, LUTOB* lut) {
  if (work != nullptr) work->lut = lut;
}
AVM_WEAK int32_t CalibBest3_Run(Best3Work*, Matrix*, int32_t) { return 17; }
AVM_WEAK void Best3Ctrl_DestroyWork(Best3Work* work) {
  if (work != nullptr) work->lut = nullptr;
}


// Weak stand-ins for the calibration operations the LUT exports call; the
// real definitions replace them when linked in.
#include "exports/lut_exports_services.h"

#define AVM_WEAK __attribute__((weak))

AVM_WEAK void BlockCalib4_GetCorners(BlockCalib4*, float*, float*, int32_t) {}

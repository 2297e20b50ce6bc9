// Weak stand-ins: no block calibration has succeeded.
#include "calibration/solve/block_pose_services.h"

#define AVM_WEAK __attribute__((weak))

AVM_WEAK int32_t BlockCalib4_State(const BlockCalib4*) { return 0; }
AVM_WEAK int32_t BlockCalib6_State(const BlockCalib6*) { return 0; }
AVM_WEAK void CalibPose_FromAngles(const BlockCalib4*, int32_t, Matrix*, float, float, float) {}
AVM_WEAK void CalibPose6_FromAngles(const BlockCalib6*, int32_t, int32_t, Matrix*, float, float, float) {}

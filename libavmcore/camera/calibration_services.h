#pragma once
// Calibration work the view object needs (defined by the calibration layer).
#include <cstdint>

#include "camera/lut_config_file.h"

// Reads the lut_config file at path into info and params and locks the
// cameras' stored calibration (see calibration/solve/calibration_lock.h).
// 1 after the lock; 0 with info and params untouched when the file cannot be
// read.
int32_t ExecLockCalibration(LutConfigInfo* info, CameraParamSet* params, const char* path);

#pragma once
#include <cstdint>

#include "camera/calibration_services.h"
#include "camera/lut_config_file.h"

// Locking the stored calibration of a lut_config file: each camera is fitted
// once more to its stored point pairs with the principal point started at
// the image centre, and the fit replaces the stored parameters when it is
// good enough.

// ExecLockCalibration (declared with the camera layer's services) locks
// board layouts 1, 2, 24 and 14, and not lens models 5 and 6.

// Fits one camera. imagePoints: count (row, column) pairs; worldPoints:
// count (x, y, z) triples; K (9), D (8), R (3), T (3) in place. 0 on
// success, -1 otherwise (parameters unchanged).
int32_t Lock_CalibrationAll(int32_t width, int32_t height, int32_t slot, int32_t model, int32_t count,
                            const float* imagePoints, const float* worldPoints, float* K, float* D,
                            float* R, float* T);

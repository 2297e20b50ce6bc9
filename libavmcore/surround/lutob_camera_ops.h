#pragma once
// Per-camera steps on a LUT object: a camera's picture with its corner
// search, and one camera's pose solve with the fallback corner counts.
#include <cstdint>

#include "frame/matrix_types.h"

struct LUTOB;

// Copies the picture (camera size) into camera 1..4's image slot and
// returns the corner count found; 0 for another size or camera.
int32_t LUTOB_SetImageAndFindCorners(LUTOB* lut, int32_t camera, const Matrix* image);
// 1 solved (or not enabled); 0 when the camera has no corners or its solve
// failed, also after the retry with the fallback count.
int32_t LUTOB_SolveCamera(LUTOB* lut, int32_t camera, int32_t enabled);

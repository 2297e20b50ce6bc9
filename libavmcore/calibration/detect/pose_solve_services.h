#pragma once
// What the corner finders use of pose solving (defined in calibration/solve):
// the candidate test of a corner set and the ground-grid maps. The full
// ground-grid reprojection, Calib_ReprojectPoints, is declared with the
// bird's-eye code's services.
#include <cstdint>

#include "frame/matrix_types.h"
#include "surround/calibration_services.h"

struct LUTOB;

// Tests camera 1..4's current point set of the LUT object: 1 when it solves
// within the camera's limit (the solved K, D, R, T are then in the object's
// parameter set), else 0 (parameters untouched). 0 at once for another
// camera number, a null object or image, or no corners. A width or height of
// 0 takes the object's camera image size.
int32_t CalibrateCameraByIndex(LUTOB* lut, int32_t camera, int32_t fitRefine, int32_t width, int32_t height);

// Ground-grid maps at height 0, projected at every second grid point (rows
// and columns 0, 2, 4, ...) and interpolated in between: U and V (at least
// cols x rows) receive the image column and row of each grid point
// (x0 + j stepX, y0 + i stepY, 0), or -1 in both outside the image's inner
// area (2 <= u <= width - 2, 2 <= v <= height - 2). The last column and row
// of an even-sized grid stay -1, and an interpolated element with a -1
// neighbour is -1.
void Calib_MatchTargetPoints(int32_t width, int32_t height, int32_t cols, int32_t rows, int32_t x0, int32_t y0,
                             const Matrix* R, const Matrix* T, const Matrix* K, const Matrix* D, Matrix* U, Matrix* V,
                             int32_t model, int32_t slot, float stepX, float stepY);

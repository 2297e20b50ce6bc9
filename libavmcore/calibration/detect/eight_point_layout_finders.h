#pragma once
// Layouts whose target is two small boards, one in each half of the picture
// (layouts 10 and 12, and layout 23's front and rear cameras), and the
// placement of their eight points in the camera's world-point order.
#include <cstdint>

#include "calibration/detect/layout_finders.h"

// Adds colOffset to the columns of src points 4..7, sets the camera's
// corner count to 8, writes the eight points into points as (row x rowScale,
// column x colScale) in the camera's order and solves with flag; the solve's
// result (non-zero: solved).
int32_t CalibFind_PlaceEightPoints(LUTOB* lut, uint32_t camera, float* src, float* points, float colOffset,
                                   int32_t flag, float colScale, float rowScale);
// A 3 x 3-square board in each half of the picture: 8 or 0. Turns the
// camera to its second point set (world points 16..23 over 0..7).
AVM_LAYOUT_FINDER(CalibFind_Layout10Halves);
// The same on a 900-column copy of the picture: 8 or 0.
AVM_LAYOUT_FINDER(CalibFind_Layout12Halves);

#pragma once
// Finders of the layouts whose vehicle profile predicts where a few target
// corners appear in each camera's image (layouts 8, 13, 18, 19 and 28):
// template corners are looked for in a crop around the predictions, the
// nearest corner of each prediction taken, the pose solved from them, and
// the layout's larger patterns found on the floor where that pose puts them.
// Points are (row, column) f32 pairs in the order of the layout's world
// points; the result is the count, 0 when not found.
#include <cstdint>

#include "calibration/detect/layout_finders.h"

// Layout 28 with the predictions of profile set 0 (lines 1 to 4) or 1
// (lines 5 to 8).
uint32_t CalibFind_Layout28Set(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows,
                               float* points, int32_t set);
// Layout 13 with the dispatcher's choice of variant: cameras 1 and 2 variant
// 1; the others variant 0, kept when it gives 8 points, else variant 1.
AVM_LAYOUT_FINDER(CalibFind_Layout13Auto);

#pragma once
// Finders of short corner strips (one-row segments of three corners) with
// the correlation-template detector inside a profile search box. Points are
// (row, column) f32 pairs in the order of the layout's world points; the
// result is the point count, 0 when not found.
#include <cstdint>

#include "frame/matrix_types.h"

struct LUTOB;

// Layout 53, cameras 1, 3 and 4: two three-corner segments (standing on
// camera 1, lying on the side cameras), solved at once; 6 or 0. Camera 2
// has no points in this layout: 0 at once.
uint32_t CalibFind_Layout53Templates(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows,
                                     float* points);

#pragma once
// Finders of the small chessboard patches of board layouts 53 and 54: two
// or four patches of 2 x 4 squares (three inner corners each), on the
// layout-53 side cameras one 4 x 5 patch beside a 2 x 4 one. Each searches
// the camera's profile box under a strict-to-loose binarisation schedule
// and accepts the first point set the pose solver takes within the pass's
// residual limit. Points are (row, column) f32 pairs in the order of the
// layout's world points; the result is the point count, 0 when not found.
#include <cstdint>

#include "frame/matrix_types.h"

struct LUTOB;

// Layout 54: two patches, 6 points.
uint32_t CalibFind_Layout54Pairs(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows,
                                 float* points);
// Layout 54: four patches, 12 points.
uint32_t CalibFind_Layout54Quads(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows,
                                 float* points);
// Layout 53, cameras 1, 3 and 4: two patches, 6 points; the box is
// resampled by scale first. Camera 2 sees no patch pair: 0 at once.
uint32_t CalibFind_Layout53Pairs(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows,
                                 float* points, float scale);
// Layout 53 side cameras: the 4 x 5 patch's outer corners and a pair
// patch's three corners, 7 points in the camera's world-point order.
uint32_t CalibFind_Layout53SideQuads(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows,
                                     float* points, float scale);

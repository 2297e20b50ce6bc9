#pragma once
// Helpers beside the box and block finders of layouts 4, 9, 21, 51 and 52.
#include <cstdint>

#include "frame/matrix_types.h"

struct LUTOB;

// The 8 marker points of src in the order of camera 2, 3 or 4 (rows scaled
// by rowScale, columns by colScale) into dst, and 8 as that camera's corner
// count; camera 1 and other numbers leave everything untouched.
void CalibMarker_OrderPoints(LUTOB* lut, uint32_t camera, const float* src, float* dst, float colScale,
                             float rowScale);

// The camera's 8 points of the four-block calibration and its found count;
// 0 with points untouched when the object is absent.
uint32_t BlockCalib4_CopyCameraPoints(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows,
                                      float* points);

// A board of cols x rows squares (quad method, else templates) and the two
// square markers beside it: n + 8 points with the markers, n without, 0
// without the board; n = (cols - 1)(rows - 1).
uint32_t FindBoardWithSideQuads(Matrix* image, int32_t cols, int32_t rows, float* points);

#pragma once
// Four round marks two by two, two darker and two lighter than their
// ground, each kind on a diagonal. Points are (row, column) f32 pairs.
#include <cstdint>

#include "frame/matrix_types.h"

// Centres in the order upper-left, upper-right, lower-left, lower-right. mode
// 0, 1 or 2 says what to do with more than two round marks of a kind (0:
// fail; 1: with three, drop the one highest up among those of 7 or more
// straight pieces; 2: the same with the lowest, and with four take the first
// two). offset of the local-mean threshold. 1 found, 0 not.
int32_t Pattern_FindCheckerCircles(const Matrix* image, int32_t mode, float* out, float offset);

#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// In-place inversion by Gauss-Jordan elimination with full pivoting, and the
// determinant. Square operands only; nothing checks the shape.

// Inverts m (n = cols) in place and returns 1. Returns 0 when a pivot search
// finds only zeros; m then holds a part-way state and must be discarded.
int32_t Matrix_Invert(Matrix* m);

// The same elimination for a 5 x 5 row-major block of 25 floats.
int32_t Mat5_Invert(float* m);

// Determinant of m (n = rows) by elimination with full pivoting on a private
// copy; m is not changed. 0 when a pivot is exactly zero.
float Matrix_Determinant(const Matrix* m);

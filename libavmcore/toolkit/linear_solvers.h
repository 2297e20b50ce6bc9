#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Dense linear solves in single precision.

// Solves a x = b by Gaussian elimination with partial pivoting (n = a.cols).
// b and x are column vectors addressed with their own cols as stride. a and
// b are overwritten by the elimination. Returns 1, or 0 when a pivot is below
// the double-precision machine epsilon (x is then untouched).
int32_t Matrix_SolveLinear(Matrix* a, Matrix* b, Matrix* x);

// Least squares through the normal equations: x = pinv(At W A) At W b for
// an m x n a, m x 1 b and n x 1 x. w is an m x m weight matrix or null for
// unit weights. Returns 1.
int32_t Matrix_LeastSquares(const Matrix* a, const Matrix* b, const Matrix* w, Matrix* x);

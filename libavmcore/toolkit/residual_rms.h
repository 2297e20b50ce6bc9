#pragma once
#include "frame/matrix_types.h"

// Root mean squared length of the 2-D residuals held as n = rows / 2
// interleaved pairs (x0, y0, x1, y1, ...) in a column vector (stride cols).
// Fewer than two rows give NaN (0 / 0); the fits report that as FLT_MAX.
float Residual_RMS(const Matrix* e);

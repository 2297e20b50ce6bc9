#pragma once
#include <cstdint>

#include "frame/matrix_types.h"
#include "toolkit/point_pairs.h"

// Least-squares conic p1^2 + b p0 p1 + c p0^2 + d p1 + e p0 + f = 0 through
// the points; coef = (b, c, d, e, f). 0 when the normal equations are
// singular.
int32_t Conic_FitLeastSquares(const PointI32* points, int32_t n, float* coef);

// Ellipse of the fitted conic with x = p1, y = p0: ellipse = (x0, y0, first
// semi-axis, second semi-axis, angle in degrees 0 .. 90). 0 when the fit
// fails.
int32_t Conic_FitEllipse(const PointI32* points, int32_t n, float* ellipse);

// 1 when x^2 + b x y + c y^2 + d x + e y + f <= 0.
int32_t Conic_IsInside(const float* coef, float x, float y);

// Integer bounds of the width x height box turned by a multiple of 90
// degrees (angle rounded to the nearest quarter turn).
void Image_RotatedBounds(int32_t width, int32_t height, int32_t* outX, int32_t* outY,
                         int32_t* outW, int32_t* outH, float angle);

// Position {row, col} of the strongest Sobel gradient within r (a square)
// of point; pixels beyond the image edge repeat the edge.
void Image_GradientPeakNear(const Matrix* img, int32_t r, PointI32 point, PointI32* out);

// Finds a large elliptical target from four chords and fits an ellipse to
// the eight refined chord ends; result as Conic_FitEllipse. Returns 1, or 0
// when a chord is missing, the fit fails or the ellipse is tilted between
// 10 and 80 degrees.
int32_t Image_FindEllipseTarget(const Matrix* img, float* result);

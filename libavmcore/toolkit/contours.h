#pragma once
#include <cstdint>

#include "toolkit/blobs.h"

// Half the sum over consecutive contour points (i - 1, i), i = 1 .. n - 1, of
// (r_i - a)(c_(i-1) - b) - (c_i - b)(r_(i-1) - a): the signed area of the fan
// from (a, b) = (row, col) over the open contour (the closing pair is left
// out). 0 for fewer than 3 points.
float Blob_ContourArea(const Blob* blob, float a, float b);

// Largest point distance found by three farthest-point passes.
float Blob_ContourDiameter(const Blob* blob);

// Polygon moments of the closed contour (x = col, y = row), scaled so m00 > 0:
// m[0..9] = m00 m10 m01 m20 m11 m02 m30 m21 m12 m03, m[10..16] = mu20 mu11
// mu02 mu30 mu21 mu12 mu03, m[17] = sqrt(1 / m00). Nothing is written for
// fewer than 2 points or a vanishing area.
void Blob_ContourMoments(const Blob* blob, double* m);

// Centroid (row = m01 / m00, col = m10 / m00); both 0 when there is no area.
void Blob_Centroid(const Blob* blob, float* rowOut, float* colOut);

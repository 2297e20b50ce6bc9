#pragma once
// Shape measures of region contours, a search for the checkerboard cross
// nearest the image centre, and a corner test of quads against a point.
// Points are (row, column) f32 pairs.
#include <cstdint>

#include "frame/matrix_types.h"
#include "toolkit/blobs.h"

// 1 when no chord of 6, 7 or 8 contour steps is shorter than step / 1.2
// (no sharp turn) and the contour has 30 points or more; else 0.
int32_t Contour_IsSmooth(const Blob* blob);
// |4 pi area / P^2 - 1| of the contour about centre (the contour's moment
// centroid when null), P the length of the closed outline; near 0 for a
// digital disc, about 0.2 for a square.
float Blob_Roundness(const Blob* blob, const float* centre);
// Mean of the contour points and their smallest and largest distance from
// it; an empty contour gives rmin 1000, rmax 0 and leaves centre alone.
void Contour_CentreRadii(const Blob* blob, float* centre, float* rmin, float* rmax);
// Straight pieces (0..21) of the closed contour by split and count.
int32_t Contour_CountEdges(const Blob* blob);

// The point of the 41 x 41 positions around the centre where the box means
// of the four diagonal neighbours 8 pixels away differ most across the
// diagonals: the checkerboard cross nearest the centre.
void Image_FindCentreCross(const Matrix* image, float* out);
// The two corners of the squares meeting at the centre cross on the
// diagonal mode selects (0: lower-left and upper-right, else upper-left and
// lower-right); with withCentre the cross comes first. 1 when both found.
int32_t FindCentreCrossCorners(const Matrix* image, float* out, int32_t mode, int32_t withCentre);
// Corner k of the quad (corners 0, 1 upper, 2, 3 lower) when it lies on the
// k side of p and nearer than bestDist: then bestDist and bestPoint are
// updated and the result is 1.
int32_t Quad_CornerNearPoint(const float* p, int32_t k, const float* quad, float* bestDist, float* bestPoint);

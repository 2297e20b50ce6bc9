#pragma once
// Quad-based chessboard detector: finds the inner corners of a board of
// cols x rows squares in a grey float image (values 0..1). Points are
// (row, column) f32 pairs, row by row over the grid of inner corners.
#include <cstdint>

#include "frame/matrix_types.h"

// 1 when the whole grid was found: then (cols - 1) x (rows - 1) points are
// written. 0 otherwise, with points untouched. mode != 0 searches images
// 1280 or more wide at 720 x 576 (mode 2 also 480-row images); the points
// are given in the input's pixels either way. The image is not modified.
int32_t Chessboard_FindCorners(const Matrix* image, int32_t cols, int32_t rows, float* points, int32_t mode);

// Sub-pixel refinement toward the centre of point symmetry of the blurred
// image, at most two centroid steps per point.
void ChessCorners_Refine(const Matrix* image, float* points, int32_t count);
// The same, given the image's percentile bins (bins[i] = trunc(fma(v, 255,
// 0.5)) with that value in 0 .. 255 for every pixel, or null): they bound
// the blurred values, so only the parts of the image that can hold its
// extremes are blurred for its range (same result).
void ChessCorners_RefineBinned(const Matrix* image, const uint8_t* bins, float* points, int32_t count);

// Point-symmetry score of the disc of radius r around the patch centre
// (centre = (column, row)): 0.6 sqrt(spread) - mirror difference.
float Patch_SymmetryScore(const Matrix* patch, const float centre[2], float r);
// The same; plainSpread != 0 gives sqrt(spread) alone.
float CornerSymmetryScore(int32_t plainSpread, const Matrix* patch, const float centre[2], float r);

// Fills single-pixel gaps between bright regions of a byte image in place
// (0 dark, any other value bright; bridged pixels become 1).
void Binary_BridgeGapsU8(ImageU8* image);

// Puts the first point nearest the image origin: reverses a board seen
// upside down and turns a square board seen sideways. n = (cols - 1) x
// (rows - 1) points.
void ChessCorners_NormaliseOrientation(float* points, int32_t cols, int32_t rows);

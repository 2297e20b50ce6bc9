#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Border extension and window filters of float images (Matrix with cols =
// width). A window of radii (rx, ry) covers (2rx+1) x (2ry+1) elements; the
// border is replicated from the nearest source element.

// dst, prepared by the caller as (W+2px) x (H+2py), = src with a replicated
// border of px columns and py rows.
void Matrix_PadReplicate(const Matrix* src, Matrix* dst, int32_t px, int32_t py);
// Top and bottom bands take the edge row with columns mirrored (edge
// repeated); the middle band replicates its edge columns.
void Matrix_PadBandMirror(const Matrix* src, Matrix* dst, int32_t px, int32_t py);

// Window mean by running column and row sums. dst must have src's width and
// may be src itself.
void Image_BoxMean(const Matrix* src, Matrix* dst, int32_t rx, int32_t ry);
// Window mean of an already padded image (width dst.cols + 2rx); output
// size from dst.
void Image_BoxMeanPadded(const Matrix* padded, Matrix* dst, int32_t rx, int32_t ry);
// Image_BoxMean with the caller's work block of at least (W+2rx)*(H+2ry)
// floats (it holds a copy of src when dst is src), allocating nothing.
void Image_BoxMeanBuffered(const Matrix* src, Matrix* dst, int32_t rx, int32_t ry, float* work);

// dst = max(0, window maximum); may run in place.
void Image_MaxFilter(const Matrix* src, Matrix* dst, int32_t rx, int32_t ry);
// dst = min(1, window minimum); may run in place.
void Image_MinFilter(const Matrix* src, Matrix* dst, int32_t rx, int32_t ry);

// Longest dy span Image_OffsetMean takes.
constexpr int kOffsetMeanMaxRows = 64;
// dst = mean of src over the offsets (dx[k], dy[k]) around each element.
// The offsets must form, for every dy from the smallest to the largest, one
// run of consecutive dx each present once, over at most 64 rows. Returns 1,
// or 0 (dst untouched) for a list that breaks this rule or count < 1.
int Image_OffsetMean(const Matrix* src, Matrix* dst, const int32_t* dx, const int32_t* dy,
                     int32_t count);

// Three floats an element.
void Image3_MinChannel(const Matrix* src, Matrix* dst);
void Image3_Invert(Matrix* m);
void Image3_Copy(const Matrix* src, Matrix* dst);

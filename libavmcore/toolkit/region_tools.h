#pragma once
#include <cstdint>

#include "frame/matrix_types.h"
#include "toolkit/point_pairs.h"

// Integer points of a digital circle of radius r in walking order, starting
// at (0, -r) as {p0, p1} = {p, q}. points must hold 8 * r entries (one for
// r = 0). Radii outside 0 .. 499 give count 0.
void Image_CirclePoints(int32_t r, PointI32* points, int32_t* count);

// m ((2r + 1) x (2r + 1)) = 1.0 inside the disc dx^2 + dy^2 <= (r + 0.3)^2
// (truncated), 0.0 elsewhere. m is addressed with its own cols.
void Matrix_DiscMask(int32_t r, Matrix* m);

float Point_Distance(PointI32 a, PointI32 b);

// Working record of the bounded depth-first fill. mask is width x height
// bytes, 1 where a pixel is still unclaimed; claimed pixels are listed in
// claim order, at most maxPoints - 1 of them.
struct FloodFillState {
  int32_t width;
  int32_t height;
  uint8_t* mask;
  int32_t maxPoints;
  int32_t count;
  int32_t rows[256];
  int32_t cols[256];
};

// Claims the unclaimed 8-neighbours of (row, col) depth-first until
// maxPoints - 1 pixels are listed.
void Image_FloodFill(FloodFillState* state, int32_t row, int32_t col);

// Clears in dst every 8-connected region of the mask (bytes equal to 1) with
// 1 .. maxSize pixels. Regions of 255 pixels or more count as large whatever
// maxSize says. The mask is consumed (every region found ends 0).
void Image_RemoveSmallRegions(int32_t maxSize, ImageI32* dst, ImageU8* mask);

// The same for the regions reached from seeds ({row, col} pairs); seeds off
// the image or on consumed pixels are skipped.
void Image_RemoveSmallRegionsAt(int32_t maxSize, ImageI32* dst, ImageU8* mask,
                                const uint32_t (*seeds)[2], int32_t seedCount);

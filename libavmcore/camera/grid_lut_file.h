#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Grid-LUT file: a source map pair (X, Y per output pixel) stored as a sparse
// grid of fixed-point source coordinates.
//   0 gridW = (W - 1) / step + 2     4 gridH = (H - 1) / step + 2
//   8 shift, 12 shift again (negative: step 8, k >= 0: step 16 << k)
//  16 W, 20 H, 24..99 reserved zero, 100 gridH rows of rowBytes bytes.
// A stored row holds one (x, y) u32 pair for every column x % step == 0 or
// x == W - 1, then zero padding. Entry = (trunc(v) << 4) | trunc(frac * 15).

// Step of a shift word; 0 for a shift beyond what any file uses.
int32_t GridLUT_StepOfShift(int32_t shift);

// Writes the maps (W cols x H rows). Returns 1 when the whole file was
// written, flushed and synced; 0 (with a log line) otherwise. H == 0 writes
// nothing and returns 0.
int GridLUT_WriteFile(const Matrix* mapX, const Matrix* mapY, int32_t shift, const char* path);

// Reads a file into two newly allocated W x H maps (caller frees data with
// delete[]). Returns 0 and leaves both headers untouched when the file does
// not open, the shift words differ or are out of range, the sizes are
// impossible or disagree with the grid, or the grid data is short.
int GridLUT_ReadFile(const char* path, Matrix* mapX, Matrix* mapY);

// Cuts the merged view's two candidate maps (over the 2Wc x 2Hc quad frame)
// into the four camera strips and writes each strip whose path is not null.
// sizes: top rows, bottom rows, left columns, right columns.
void GridLUT_BuildAndWrite(int32_t wc, int32_t hc, const Matrix* x1, const Matrix* y1,
                           const Matrix* x2, const Matrix* y2, int32_t shift,
                           const char* pathTop, const char* pathBottom, const char* pathLeft,
                           const char* pathRight, uint32_t* sizes, int32_t sideMode);

// Resamples the grey picture of a BMP through a grid-LUT file and writes the
// result as a BMP. Sources outside the picture give black. 1 done; 0 when
// the grid file or the picture cannot be read or the result not written.
int GridLUT_ApplyToBmp(const char* gridPath, const char* bmpPath, const char* outPath);

#pragma once
// Stitched maps over a regular ground grid around the car (for the byte LUT
// of a caller-given grid and the ROI file).
#include <cstdint>

#include "frame/matrix_types.h"

struct LUTOB;

// The six maps of a ground-grid build (width x height each, caller's
// buffers) and the car body in grid cells: left, top, right, bottom.
struct GroundGridMaps {
  Matrix W1, W2, X1, Y1, X2, Y2;
  int32_t box[4];
};

// Grid spacing g = (carWidth + 2 margin) / width; cell (c, r) lies at
// x = -width g / 2 + g c, y = yOffset - height g / 2 + g r. Runs the
// four-sided builder with the seam angles 55, 75, 35, 55 (restored after).
// 0; -1 when the grid is empty or the maps are missing.
int32_t LUT_BuildGroundGrid(LUTOB* lut, int32_t width, int32_t height, int32_t margin, int32_t yOffset,
                            GroundGridMaps* out);

// One source point per cell of the same grid, chosen by region and, in the
// corners, by angle (seam angles 85, 85, 75, 75 for the run): quad-frame x
// and y into outX, outY (width x height); (0, 0) where no camera sees the
// cell and in the car box. The car box in cells and the spacing go to the
// out-parameters that are given. 0.
int32_t LUT_BuildGroundGridEx(LUTOB* lut, int32_t width, int32_t height, int32_t margin, int32_t yOffset,
                              Matrix* outX, Matrix* outY, int32_t* leftColumn, int32_t* frontRow,
                              int32_t* rightColumn, int32_t* backRow, float* spacing);

// Writes the ROI text file: for each camera in cameraBits a path of ground
// points along the rectangle and their image positions. 0, or -1 when the
// rectangle or step is unusable or the file cannot be written.
int32_t GenerateROIFile(LUTOB* lut, const char* path, int32_t cameraBits, int32_t ignored, int32_t step,
                        int32_t x0, int32_t y0, int32_t x1, int32_t y1);

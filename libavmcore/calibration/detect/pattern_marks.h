#pragma once
// Finders of single marks in a top-view patch of one calibration pattern:
// a round mark, a line junction and the lower edge of a square. Points are
// (row, column) f32 pairs; each returns the number of points written or 0.
#include <cstdint>

#include "frame/matrix_types.h"

// Centre of the dark round mark whose radius is nearest `radius` (pixels)
// and within a factor 2 of it. 1 or 0.
int32_t Pattern_FindCircleCentre(const Matrix* image, float* out, float radius);
// Mean of the junction pixels of the thinned bright lines within 4 pixels
// of the junction nearest the patch centre. 1 or 0.
int32_t Pattern_FindJunction(const Matrix* image, float* out);
// Lower-left and lower-right corners of the light square below the top 42
// percent of the patch whose side is nearest 5/13 of the patch width (and
// within a factor 2 of it). 2 or 0.
int32_t Pattern_FindLowerSquareEdge(const Matrix* image, float* out);

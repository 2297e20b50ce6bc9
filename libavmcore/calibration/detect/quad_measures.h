#pragma once
// Measures of four-corner quads of 8 f32 ((row, column) corners 0 and 1 on
// one side, 2 and 3 on the opposite side; outline 0, 1, 3, 2) and the
// marker-quad search of the angle measurement.
#include <cstdint>

#include "frame/matrix_types.h"

// Shortest and longest side, the angle spread at the apex (P0 when
// |P0 - P3| > |P1 - P2|, else P1: the largest difference between the
// directions to the other three corners, radians, unwrapped) and the largest
// row and column step over the sides. Any output may be null.
void Quad_Measure(const float* quad, float* minSide, float* maxSide, float* angleSpread, float* maxRowStep,
                  float* maxColStep);

// True when every inner corner lies strictly inside the outer quad's
// bounding box and the inner extents are at least ratio of the outer ones,
// across and down.
bool Quad_EnclosesQuad(const float* inner, const float* outer, float ratio);

// The angle measurement's marker search: one entry (0..13) of its schedule,
// tracing boundaries, keeping up to 8 quads that enclose another (a square
// with a square inside) and span less than 0.76 of the image. Returns the
// count (0 for an index outside the schedule).
int32_t Chessboard_FindMarkerQuadsAM(const Matrix* image, int32_t side, int32_t index, float* out, float minEdgeLo,
                                     float minEdgeHi, float maxEdgeLo, float maxEdgeHi);

// Reorders the four (row, column) points in place: new point i = old point
// T[k][i], T = {0 1 2 3}, {1 3 0 2}, {2 0 3 1}, {3 2 1 0}. Other k: unchanged.
void Quad_PermuteCorners(float* points, int32_t k);

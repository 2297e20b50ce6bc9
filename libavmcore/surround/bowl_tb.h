#pragma once
// TB half-bowl surfaces: two single-camera surface shapes (TBA, a trough
// inside an elliptic rim closed by a vertical wall; TBB, a sunken cone
// rising into an arc and a vertical cylinder), cast from a fixed virtual top
// view and textured from one camera, and the lifting of ground track points
// onto them as a camera sees them.
#include <cstdint>

#include "surround/bowl_grid.h"

constexpr int32_t kTBCols = 280, kTBRows = 300;

// Casts shape 1 (TBA, floor extension in y 3400) or 2 (TBB, 5200) into X,
// Y, Z (cols x rows): each node (dx w, dy w, w - H) at the depth w where its
// ray meets the surface. half 1 casts quadrants 0 and 1, 2 quadrants 2 and
// 3, other values all four.
void TB_CastGrid(int32_t shape, int32_t cols, int32_t rows, int32_t half, float* X, float* Y, float* Z, float W,
                 float L, float extY);

// camera (1..3, other 4)'s TB mesh of shape 1 or 2, cast once and reused
// while the same pair is requested. count receives the triangle count;
// vertices (9 floats a triangle) and texture (6) when not null. Another
// shape writes nothing.
void GetTBTrian(D3DGrid* grid, int32_t camera, int32_t shape, uint32_t* count, float* vertices, float* texture);

// Lifts n ground points (x, y) onto shape 1 (TBAT) or 2 (TBBT) along the
// rays of camera 1 (camera 1) or camera 2 (other values).
void TrackPhyTransfer(const D3DGrid* grid, int32_t camera, int32_t shape, int32_t n, const float* x, const float* y,
                      float* outX, float* outY, float* outZ);

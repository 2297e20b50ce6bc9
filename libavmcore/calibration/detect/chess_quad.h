#pragma once
// Quads of the connected-quads chessboard detector: four-corner polygons
// fitted to the outlines of dark squares, linked corner to corner, grouped,
// placed on the board grid and read off as inner corners. Points are
// (row, column) f32 pairs.
#include <cstdint>

#include "toolkit/blobs.h"

struct ChessQuad {
  int32_t group;      // connected group; -1 while in none
  int32_t column;     // board column after ordering; -1 before
  int32_t row;        // board row after ordering; -1 before
  int32_t ordered;    // 1 once placed by the ordering walk
  float minEdge;      // smallest squared side length
  float maxEdge;      // largest squared side length
  int32_t neighbours; // linked neighbours, 0..4
  float corners[4][2];    // (row, column) in outline order; corner k goes with links[k]
  ChessQuad* links[4];    // neighbour sharing corner k, or null
};

// Fits a quad to the blob's outline; 1 with the record filled, 0 for none.
int32_t ChessQuad_Fit(const Blob* blob, ChessQuad* quad);
// The same; with schedule != 0 the straightness limit of a five-vertex fit
// loosens with the tolerance (2.96 up to tolerance 6, then 2.93 .. 2.87).
int32_t ChessQuad_FitStraight(const Blob* blob, ChessQuad* quad, int32_t schedule);

// Links quads whose corners meet (squared distance <= maxDist2, both quads'
// smallest squared side >= minEdge2); linked corners move to their midpoint.
void ChessQuad_LinkNeighbours(ChessQuad* quads, int32_t count, float maxDist2, float minEdge2);
// Collects the next connected group (depth first from the first free quad
// with neighbours) into group and marks it groupIndex; returns its size.
int32_t ChessQuad_CollectGroup(ChessQuad* quads, int32_t count, ChessQuad** group, int32_t groupIndex);
// Places the group's quads on the board grid; returns the number placed (0
// when the found size fits neither orientation) and writes the found size.
int32_t ChessQuad_OrderGroup(ChessQuad** group, int32_t size, int32_t* cols, int32_t* rows);
// Writes the (cols - 1) x (rows - 1) shared corners row by row; returns the
// number of grid cells set (the others hold (-1, -1)).
int32_t ChessQuad_FillGrid(ChessQuad** group, int32_t size, int32_t cols, int32_t rows, float* points);
// Rotates corners and links cyclically until `point` (exact match) is
// corner k; 0 when the quad has no such corner.
int32_t ChessQuad_RotateTo(ChessQuad* quad, const float point[2], int32_t k);

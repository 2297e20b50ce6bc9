#pragma once
// Bowl surface and camera meshes: every node of the bowl grid is cast onto a
// bowl around the vehicle (a flat elliptic floor rising into a curved wall
// and a vertical rim), projected into its cameras and cut into triangles.
#include <cstdint>

#include "surround/bowl_grid.h"

// Cast of the bowl grid onto one bowl surface. Quadrant mode 0 casts all
// four quadrants and leaves nodes over the vehicle box at 0; 1 casts
// quadrants 0 and 1, 2 quadrants 2 and 3. X, Y, Z: cols x rows floats.
void Bowl_CastGrid(int32_t cols, int32_t rows, int32_t projType, float* X, float* Y, float* Z, int32_t mode,
                   float f, float H, float W, float L, const float insets[4], const BowlShape& shape);

// Newton solves of a ray (depth w below the view at height H, horizontal
// direction (dx, dy) per unit of depth) with the bowl of floor semi-axes A
// and B and wall (h, k): on the curved wall and on the vertical rim. (w, x,
// y) hold the start and receive the solution (x, y the rim point on the
// floor ellipse). 1 when converged within 16 steps.
int32_t Bowl_SolveWall(double dx, double dy, double H, double A, double B, double h, double k, double* w,
                       double* x, double* y);
int32_t Bowl_SolveRim(double dx, double dy, double H, double A, double B, double h, double k, double* w,
                      double* x, double* y);

// Casts, projects and triangulates the four camera meshes (once per object).
void D3DGrid_GenerateMeshes(D3DGrid* grid);

// Copies camera (1..3, any other value 4) mesh's triangles of the parts in
// mask (bit 0 seam, bit 1 full coverage): count triangles, 9 vertex and 12
// texture floats each. An object that is not ready gives count 0.
void Generate3DTrian(D3DGrid* grid, int32_t camera, int32_t mask, uint32_t* count, float* vertices,
                     float* texture);

#pragma once
// Where a regular grid of ground points lands in a camera image: two float
// maps of the grid's size, the image column (U) and row (V) of every grid
// point, or -1 in both where the point falls outside the image's inner area
// (2 <= u <= width - 2, 2 <= v <= height - 2). Element (i, j) of a map is
// data[i * map.cols + j]; the caller's maps are at least the grid's size.
//
// Calib_ReprojectPoints (all grid points, any lens model) is declared with
// the bird's-eye code's services, Calib_MatchTargetPoints (half the grid,
// interpolated) with the corner finders' services.
#include <cstdint>

#include "camera/pose_view.h"
#include "frame/matrix_types.h"
#include "calibration/detect/pose_solve_services.h"

// Side and step of the ground patch around a target point.
constexpr int32_t kGroundPatchSize = 96;
constexpr float kGroundPatchStep = 5.0f;

// The ground grid of the maps: cols x rows points, point (i, j) at
// (x0 + j stepX, y0 + i stepY, z).
struct GroundGrid {
  int32_t cols;
  int32_t rows;
  int32_t x0;
  int32_t y0;
  float stepX;
  float stepY;
  float z;
};

// Calib_ReprojectPoints with the caller's work block of at least
// 5 x cols x rows floats (the grid points and their image points), for
// callers that warp every frame.
void Calib_ReprojectPointsBuffered(int32_t width, int32_t height, const GroundGrid& grid, const PoseView& pose,
                                   Matrix* U, Matrix* V, float* work);

// The 96 x 96 grid (x0 + 5j, y0 + 5i, z) through lens model 3.
void Calib_GroundPatchMaps(float z, int32_t width, int32_t height, int32_t x0, int32_t y0, const Matrix* R,
                           const Matrix* T, const Matrix* K, const Matrix* D, Matrix* U, Matrix* V, int32_t slot);

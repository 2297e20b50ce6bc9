#pragma once
// Target world points: for the board layout in force and one camera, the
// site positions of every mark the camera is expected to see, in the order
// its corner finder reports them. The configured chessboard grid first, then
// the layout's own marks over or behind it (world_point_layouts.h).
//
// ComputeTargetWorldPoints(cfg, camera, out) is declared with the bird's-eye
// code's services (surround/calibration_services.h): the LUT builds call it.
// It keeps no state: the same inputs give byte-identical points, which the
// check for moved targets relies on. It runs on the preparing thread, before
// any corner search starts; it reads the configuration without a lock.
#include <cstdint>

#include "frame/matrix_types.h"
#include "surround/calibration_services.h"

// Rows the camera's grid and marks need under the current configuration.
int32_t TargetWorldPoints_RowsNeeded(int32_t camera);
// True when the camera's grid and marks fit a matrix of `rows` rows. A
// configuration that does not fit gets no points (all rows 0) and its
// camera no corner search.
bool TargetWorldPoints_Fit(int32_t camera, int32_t rows);
// Inner corners of the camera's configured chessboard, the grid's rows (0
// for a board with fewer than two squares either way). The finders that
// report a board before further marks report exactly these first.
int32_t TargetWorldPoints_GridPoints(int32_t camera);

#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Source maps are computed on a coarse grid; repair fills the pixels between
// grid points by straight-line interpolation and blanks (0) the runs next to
// a grid point without source (value <= 0 in either map). Grid points are
// never changed. Grid positions along an axis of length N at step k are
// min(i, N - 1) for i = 0, k, 2k, ... below N + k.

void ViewMap_RepairRows(Matrix* mapX, Matrix* mapY, int32_t colStep, int32_t rowStep);
void ViewMap_RepairCols(Matrix* mapX, Matrix* mapY, int32_t rowStep);

void ViewMap_RepairRowsStep2(Matrix* mapX, Matrix* mapY, int32_t rowStep);
void ViewMap_RepairCols8(Matrix* mapX, Matrix* mapY);
void ViewMap_Repair8(Matrix* mapX, Matrix* mapY);
void CutView_RepairMaps(Matrix* mapX, Matrix* mapY);
void ViewMap_ConvertLoaded(Matrix* mapX, Matrix* mapY, int32_t step);

// Averaging of one map at step s (no caller in the library).
void ViewMap_SmoothSingle(Matrix* map, int32_t step);
